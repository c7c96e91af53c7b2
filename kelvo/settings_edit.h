// Builds a settings block's bytes from a base block and the command line's edits.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "kelvo/cli_options.h"
#include "plugin/settings.h"
#include "render/range_choices.h"

using SettingsBlock = std::array<uint8_t, SETTINGS_BLOCK_SIZE>;

// Reads a stored block; refuses a file whose size is not 1084 bytes. The tag is left to the
// filter's LoadConfigBlock, which refuses anything but 101.
[[nodiscard]] int ReadSettingsFile(const std::string& path, SettingsBlock& block,
                                   std::string& error);

// Applies, in this order: the palette file's palette (ReadPaletteFile), the ranges (each its
// block record and its choice in `choices`), the reserved entries, method, source and output
// name; then simplifies `choices` against the block (SimplifyRangeChoices). On 0 (an
// unreadable or refused palette file) `block` and `choices` are unchanged. When given,
// `paletteNote` gets what kelvo says of the palette file (DescribePaletteFile, naming the
// file), or "".
[[nodiscard]] int ApplySettingsEdits(const SettingsEdits& edits, SettingsBlock& block,
                                     RangeChoices& choices, std::string& error,
                                     std::string* paletteNote = nullptr);

// What of `choices` a settings block cannot hold, as a message lists it: "reserved entries
// 240-254, identifier 1's spans 48-79,96-111, identifier 2's method nearest, identifier 3's
// dither bayer4 at strength 0.5"; "" for Plain() choices.
std::string DescribeBeyondBlock(const RangeChoices& choices);

// The 32-bit little-endian tag at the block's start.
int32_t SettingsBlockTag(const SettingsBlock& block);

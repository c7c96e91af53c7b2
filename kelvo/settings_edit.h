// Builds a settings block's bytes from a base block and the command line's edits.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kelvo/cli_options.h"
#include "kelvo/settings_text.h"
#include "plugin/settings.h"
#include "render/range_choices.h"

using SettingsBlock = std::array<uint8_t, SETTINGS_BLOCK_SIZE>;

// Reads a stored block or a settings text, told apart by their bytes (LooksLikeSettingsBlock),
// not by the file's name. A block is refused unless it has 1084 bytes; its tag is left to the
// filter's LoadConfigBlock, which refuses anything but 101. A text is read over `block` (the
// filter's defaults) by LoadSettingsText; what it holds beyond the block goes to `choices`,
// when given, and is left out otherwise. `wasText`, when given, says which it was.
[[nodiscard]] int ReadSettingsFile(const std::string& path, SettingsBlock& block,
                                   std::string& error, SettingsChoices* choices = nullptr,
                                   bool* wasText = nullptr);

// ParseSettingsText of `bytes`, read from `path`, over `parsed`; the palette file the text
// names is then read into `parsed.settings.palette` from the text's own directory (the name
// is kept in `parsed.paletteFile`). On 0, `error` names the file and the line.
[[nodiscard]] int LoadSettingsText(const std::string& path, const std::vector<uint8_t>& bytes,
                                   SettingsText& parsed, std::string& error);

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

// Builds a settings block's bytes from a base block and the command line's edits.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "kelvo/cli_options.h"
#include "plugin/settings.h"

using SettingsBlock = std::array<uint8_t, SETTINGS_BLOCK_SIZE>;

// Reads a stored block; refuses a file whose size is not 1084 bytes. The tag is left to the
// filter's LoadConfigBlock, which refuses anything but 101.
[[nodiscard]] int ReadSettingsFile(const std::string& path, SettingsBlock& block,
                                   std::string& error);

// Applies, in this order: the palette file's palette (ReadPaletteFile), the ranges, method,
// source and output name. On 0 (an unreadable or refused palette file) `block` is unchanged.
// When given, `paletteNote` gets what kelvo says of the palette file (DescribePaletteFile,
// naming the file), or "".
[[nodiscard]] int ApplySettingsEdits(const SettingsEdits& edits, SettingsBlock& block,
                                     std::string& error, std::string* paletteNote = nullptr);

// The 32-bit little-endian tag at the block's start.
int32_t SettingsBlockTag(const SettingsBlock& block);

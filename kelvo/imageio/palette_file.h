// The palette files kelvo reads for --palette and `palette show`, told apart by content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pcx/palette.h"

// What kelvo reads, for messages that refuse a file.
constexpr const char* PALETTE_FORMATS =
    "kelvo reads palettes from PCX files with a 256-colour palette at their end";

// The 256 entries of a palette file's bytes: a PCX file (manufacturer byte 10) whose last 769
// bytes are the marker 12 and a 256-colour palette. Anything else, a settings block or an
// image of another kind, is refused rather than taken as colours: 0, with `error` naming what
// the bytes are not and PALETTE_FORMATS.
[[nodiscard]] int DecodePaletteFile(const std::vector<uint8_t>& bytes,
                                    PaletteEntry (&palette)[PALETTE_ENTRIES], std::string& error);

// DecodePaletteFile of the file at `path`; `error` names the file.
[[nodiscard]] int ReadPaletteFile(const std::string& path, PaletteEntry (&palette)[PALETTE_ENTRIES],
                                  std::string& error);

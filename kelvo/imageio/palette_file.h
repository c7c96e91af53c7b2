// The palette files kelvo reads for --palette and `palette show`, told apart by content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pcx/palette.h"

// What kelvo reads, for messages that refuse a file.
constexpr const char* PALETTE_FORMATS =
    "kelvo reads palettes from PCX files with a 256-colour palette at their end, JASC-PAL and "
    "GIMP GPL text, Photoshop ACT, RIFF PAL, raw 768-byte palettes (8- or 6-bit), Lospec .hex "
    "and indexed PNG files";

// How a file's colour values are taken: guessed (a raw 768-byte palette whose every byte is
// 63 or less is a 6-bit VGA palette; every other file is 8-bit), or as --palette-depth says
// for every format.
enum PaletteDepth { PALETTE_DEPTH_GUESS, PALETTE_DEPTH_6, PALETTE_DEPTH_8 };

// What the file held besides its colours, for what kelvo says about it.
struct PaletteFileInfo {
    const char* format = "";     // "JASC-PAL", "GIMP GPL", ...
    int entries = 0;             // colours the file gave, 1..256; the entries after them are black
    bool sixBit = false;         // values were 6-bit and are scaled by 255/63, rounded
    bool sixBitGuessed = false;  // ... because every byte was 63 or less, not by --palette-depth
    int transparentIndex = -1;   // the transparent index a Photoshop ACT file names; -1: none
};

// The 256 entries of a palette file's bytes, told apart by content, never by name:
// - PNG (its signature): the PLTE of an indexed PNG, its CRC checked;
// - RIFF PAL ("RIFF", "PAL ", a "data" chunk of version, count and R G B flags per entry);
// - JASC-PAL text ("JASC-PAL", any version line, the count, then R G B or R G B A lines);
// - GIMP GPL text ("GIMP Palette", Name:, Columns:, # comments, R G B and a name per line, or
//   four numbers per line after Aseprite's "Channels: RGBA");
// - Lospec .hex text (one RRGGBB per line; a leading '#' is taken too);
// - PCX (manufacturer byte 10, at least a header and a trailer long): the 768 bytes after the
//   marker 12 that starts its last 769 bytes;
// - 772 bytes: Photoshop ACT, 256 R G B, then a big-endian colour count and transparent index;
// - 768 bytes: raw R G B, 8-bit or 6-bit (see PaletteDepth); 6-bit values v become
//   v x 255 / 63 rounded (at most 255).
// Text may end its lines in CRLF, LF or CR and start with a UTF-8 byte order mark. A file of
// fewer than 256 colours fills the first entries and leaves the rest black; more than 256 are
// refused. Everything else (a settings block, an image of another kind, damaged text) is
// refused rather than taken as colours: 0, with `error` saying what is wrong and, for a file
// of no known format, PALETTE_FORMATS; `palette` is then unchanged.
[[nodiscard]] int DecodePaletteFile(const std::vector<uint8_t>& bytes, PaletteDepth depth,
                                    PaletteEntry (&palette)[PALETTE_ENTRIES], PaletteFileInfo& info,
                                    std::string& error);

// What kelvo says of a palette it read, to follow "'FILE' has ", or "" for a plain 256-colour
// palette: how many colours the file had and that the rest are black, a 6-bit scaling, an ACT
// file's transparent index.
std::string DescribePaletteFile(const PaletteFileInfo& info);

// DecodePaletteFile of the file at `path`; `error` names the file.
[[nodiscard]] int ReadPaletteFile(const std::string& path, PaletteDepth depth,
                                  PaletteEntry (&palette)[PALETTE_ENTRIES], PaletteFileInfo& info,
                                  std::string& error);

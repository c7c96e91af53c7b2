// Palette swaps of indexed image files: the index map and new palette of `kelvo swap`, and their
// application to the bytes of a PCX, BMP, PNG or GIF file, everything else kept as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pcx/palette.h"

// What a swap does to every file: index i becomes `map[i]`, and with `newPalette` the colour
// table is replaced by `palette`, which keeps its order and all its entries.
struct IndexSwap {
    uint8_t map[PALETTE_ENTRIES] = {};
    bool mapped[PALETTE_ENTRIES] = {};  // a --map names index i as a source
    bool movesIndices = false;          // some map[i] != i
    bool newPalette = false;
    PaletteEntry palette[PALETTE_ENTRIES] = {};
};

// An IndexSwap that changes nothing: map[i] = i.
IndexSwap IdentitySwap();

// Adds one "FIRST-LAST:FIRST-LAST" mapping (or "N:M", one index): the source range's indices
// go, in order, onto the target's; either range may run downwards ("80-95:175-160"). Indices
// are 0..255. Every mapping reads the file's own indices, so "1-2:3-4" with "3-4:1-2" exchanges
// the two ranges. On 0, `error` says why: ranges of different lengths, an index named as a
// source twice, a number that is not an index.
[[nodiscard]] int AddIndexMapping(const std::string& text, IndexSwap& swap, std::string& error);

// Checks that a file whose indices have `indexBits` bits (1..8) and whose colour table holds
// `entries` colours can take the swap: every index a mapping moves pixels onto must be in the
// table (a new palette gives the table every entry the indices can name). On 0, `error`
// says which index falls outside, to follow the file's name.
[[nodiscard]] int CheckSwapFits(const IndexSwap& swap, int indexBits, int entries,
                                std::string& error);

// The kinds of file a swap takes, told apart by their first bytes.
enum SwapFileKind { SWAP_UNKNOWN, SWAP_PCX, SWAP_BMP, SWAP_PNG, SWAP_GIF };
constexpr size_t SWAP_HEAD_SIZE = 128;  // enough of a file for ProbeSwapFile

// What a file's first bytes (up to SWAP_HEAD_SIZE) say: its kind, and whether it is indexed.
// On 0 the file cannot be swapped and `error` says why, to follow the file's name: an unknown
// format (`kind` SWAP_UNKNOWN), or one of colour rather than indices.
[[nodiscard]] int ProbeSwapFile(const uint8_t* head, size_t size, SwapFileKind& kind,
                                std::string& error);

// Each swaps the file `in` into `out`: its indices through `swap.map`, its colour table replaced
// when `swap.newPalette`, every other byte that can stay as it was kept (headers, padding,
// ancillary chunks and extensions); the image data is encoded again only when indices move
// and the encoding depends on them. On 0, `error` says why (damaged data, a mapping the table
// cannot take), to follow the file's name, and `out` is to be discarded. None allocates more
// than a bounded multiple of the file's size.
//
// PCX: 8 bits, one plane, run-length encoded, with a 256-colour trailer; lines are encoded again
// as kelvo's writer encodes them.
[[nodiscard]] int SwapPcxFile(const std::vector<uint8_t>& in, const IndexSwap& swap,
                              std::vector<uint8_t>& out, std::string& error);
// BMP: 8 bits, uncompressed or RLE8, any header from the 12-byte one to the 124-byte one; the
// indices are changed in place. A shorter table that takes a new palette grows to 256 entries.
[[nodiscard]] int SwapBmpFile(const std::vector<uint8_t>& in, const IndexSwap& swap,
                              std::vector<uint8_t>& out, std::string& error);
// PNG: colour type 3 of 1 to 8 bits, interlaced or not; each row keeps its filter type, the
// data is deflated again into IDAT chunks where the first stood. hIST, whose counts a moved
// or longer palette makes wrong, is left out; animated PNGs are refused when indices move.
[[nodiscard]] int SwapPngFile(const std::vector<uint8_t>& in, const IndexSwap& swap,
                              std::vector<uint8_t>& out, std::string& error);
// GIF: every frame, with its position, interlacing, extensions (delays, disposal, loops,
// comments) and global or local colour tables, through giflib.
[[nodiscard]] int SwapGifFile(const std::vector<uint8_t>& in, const IndexSwap& swap,
                              std::vector<uint8_t>& out, std::string& error);

// The swap of the kind `kind`.
[[nodiscard]] int SwapIndexedFile(SwapFileKind kind, const std::vector<uint8_t>& in,
                                  const IndexSwap& swap, std::vector<uint8_t>& out,
                                  std::string& error);

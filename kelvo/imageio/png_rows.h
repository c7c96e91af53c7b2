// The pure parts of the PNG reader's fast path: the chunks that follow the first IDAT, and the
// inflated rows of a non-interlaced 8- or 16-bit RGB or RGBA image unfiltered and widened, or
// an identifier pass's unfiltered and taken to identifiers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// libpng's cap on the data of any chunk other than IDAT (PNG_USER_CHUNK_MALLOC_MAX); a longer
// one is left to libpng, so that such a file is refused or passed as libpng does.
constexpr uint32_t PNG_CHUNK_DATA_CAP = 8000000;

// What the chunks from the first IDAT's data to IEND gave.
enum PngDataVerdict {
    PNG_DATA_GATHERED,  // the IDAT data, then IEND; every chunk whose CRC matters matched
    PNG_DATA_REFUSED,   // refused, for the reason given: a bad IDAT CRC, a file cut short
    PNG_DATA_UNUSUAL,   // a sequence left to libpng, which decides on it as it always has
};

// `bytes` holds the `size` bytes of a PNG file that follow the 8-byte header of its first
// IDAT chunk, whose data has `firstLength` bytes. Checks every IDAT's CRC, and moves the data of
// the IDAT run to the front of `bytes` (`dataBytes` of it) in place. After the run it skips
// ancillary chunks as libpng does (their CRCs unchecked, as libpng only warns of them) up to an
// IEND chunk of no data with its CRC. The unusual rest (an IDAT after another chunk, critical
// chunks, a damaged IEND, names libpng refuses, chunks longer than PNG_CHUNK_DATA_CAP or IDATs
// longer than `idatCap`) is PNG_DATA_UNUSUAL. On PNG_DATA_REFUSED, `error` holds the reason.
[[nodiscard]] PngDataVerdict GatherPngImageData(uint8_t* bytes, size_t size, uint32_t firstLength,
                                                uint64_t idatCap, size_t& dataBytes,
                                                std::string& error);

// The image rows of a non-interlaced PNG of `channels` (3 RGB, 4 RGBA; for identifier passes
// also 1, grey) samples of `bitDepth` (8 or 16) bits, `width` x `height` pixels.
struct PngRowLayout {
    size_t width = 0;
    size_t height = 0;
    int channels = 3;
    int bitDepth = 8;

    size_t PixelBytes() const { return static_cast<size_t>(channels * bitDepth / 8); }
    size_t RowBytes() const { return width * PixelBytes(); }
};

// The bytes of a PNG's image data inflated, into `bytes`: `height` rows of a filter byte and the
// samples of `width` pixels of `channels` samples of `bitDepth` bits (1 to 16), as stored, not
// interlaced. Computed in 64 bits, which sides of up to 65535 cannot wrap, and refused (false)
// when more than `limit`: SIZE_MAX, what this program can count (a 32-bit build's is 4 GiB less
// one byte, below a 16-bit RGBA frame of 8193 x 65528 pixels, whose pixels fit).
[[nodiscard]] bool CountPngImageBytes(uint64_t width, uint64_t height, int channels, int bitDepth,
                                      uint64_t limit, size_t& bytes);

// Undoes the PNG `filter` (0 None, 1 Sub, 2 Up, 3 Average, 4 Paeth) of one row of `rowBytes`
// bytes in place; `prior` is the row above, already unfiltered, or null for the first row.
// `pixelBytes` is 1, 2, 3, 4, 6 or 8. False for an unknown filter type, the row unchanged.
[[nodiscard]] bool UnfilterPngRow(uint8_t filter, size_t pixelBytes, const uint8_t* prior,
                                  uint8_t* row, size_t rowBytes);

// Writes the `layout.width` pixels of an unfiltered `row` to `out` as 16-bit RGBA in this
// machine's byte order, 8 bytes a pixel: 8-bit colour v becomes v x 256, 8-bit alpha a
// becomes a x 257, missing alpha 65535; 16-bit samples (big-endian in the row) are taken as
// stored. `out` is written byte by byte: it need not be aligned for 16-bit values.
void WidenPngRow(const uint8_t* row, const PngRowLayout& layout, uint8_t* out);

// `image` holds the inflated image data, `layout.height` rows of a filter byte and
// `layout.RowBytes()` bytes; they are unfiltered in place and widened into `pixels`
// (width x height x 8 bytes, rows contiguous). Returns "" or the reason they are refused.
std::string DecodePngRows(uint8_t* image, const PngRowLayout& layout, uint8_t* pixels);

// Whether a colour frame's inflated rows, a filter byte and `layout.RowBytes()` bytes each, can
// lie at the end of its widened pixels (width x height x 8 bytes) and be decoded there by
// DecodePngRowsBehind: each stored row is shorter than a widened one, which is so for every
// layout but 16-bit RGBA.
[[nodiscard]] bool RowsFitBehindPixels(const PngRowLayout& layout);

// As DecodePngRows, with the inflated rows at the end of `pixels` itself, which the widened
// rows overwrite as they are written: a frame is decoded without memory for its inflated rows.
// Needs RowsFitBehindPixels(layout), and `rowPair` of twice a stored row (1 + RowBytes()).
std::string DecodePngRowsBehind(uint8_t* pixels, const PngRowLayout& layout, uint8_t* rowPair);

// What DecodeIdRows made of an identifier pass's rows.
enum IdRowsVerdict {
    ID_ROWS_DECODED,
    ID_ROWS_BAD_FILTER,  // a row's filter type is unknown
    ID_ROWS_UNGREY,      // an RGB or RGBA pixel's red, green and blue differ
};

// `image` holds the inflated image data of an identifier pass: grey (`layout.channels` 1), RGB
// (3) or RGBA (4) of 8 or 16 bits. The rows are unfiltered in place, and each pixel's value (an
// RGB one's red, when its green and blue are equal to it; alpha is not read) written to `ids`,
// width x height of them, as stored (16-bit samples big-endian in the rows). On
// ID_ROWS_UNGREY, `x`, `y` and `rgb` are the first such pixel, in row order.
[[nodiscard]] IdRowsVerdict DecodeIdRows(uint8_t* image, const PngRowLayout& layout, uint16_t* ids,
                                         int& x, int& y, uint16_t (&rgb)[3]);

// Decodes PNG files: colour frames to 16-bit RGBA, identifier passes to IDs. libpng (with
// libdeflate for the image data of common frames) does the decoding on every system
// (png_image_libpng.cpp), so every build accepts and refuses the same files.
#pragma once

#include <cstdint>
#include <string>

#include "kelvo/imageio/frame_image.h"

// What a PNG's header says, read without decoding a pixel.
struct PngHeader {
    int width = 0;
    int height = 0;
    int colorType = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int bitDepth = 0;   // 1, 2, 4, 8 or 16 bits per sample (per index for palettes)
    int channels = 0;   // samples per pixel as stored: 1 to 4, a palette index counting as 1
    uintmax_t fileBytes = UINTMAX_MAX;  // the file's size; UINTMAX_MAX when the system hides it
    bool isPng = false;                 // the file starts with the PNG signature
};

// Reads the signature and every chunk before the image data, opening the file once. The file's
// size is `fileBytes` when the caller has just looked it up, else asked of the system. On 0,
// `error` holds the reason, and `header.isPng` says whether the file had the signature.
[[nodiscard]] int ReadPngHeader(const std::string& path, PngHeader& header, std::string& error,
                                uintmax_t fileBytes = UINTMAX_MAX);

// The refusals the readers below make from a header, before they allocate anything: a side
// beyond 65535, more than `maxPixels` pixels, more than this program's memory can count (at
// `pixelBytes` a pixel), or more image data than the file (`header.fileBytes`) could hold. On
// 0, `error` holds the reason.
[[nodiscard]] int CheckPngFrameSize(const PngHeader& header, int64_t maxPixels, size_t pixelBytes,
                                    std::string& error);

// Any PNG: grey, grey+alpha, RGB, RGBA or palette, 1 to 16 bits. Palettes and low bit depths
// are expanded to 8 bits. 8-bit colour values v become v x 256, the scale on which the filter
// compares and writes palette colours (entry byte x 256), so a colour equal to a palette
// entry maps to that entry; 8-bit alpha becomes v x 257 (255 is opaque, as 65535 is). Missing
// alpha is 65535; 16-bit values are taken as stored. No gamma correction. On 0, `error`
// holds the reason. Both readers refuse, from the header and before anything is allocated, a
// frame of more than `maxPixels` pixels and one whose image data could not fit in the file.
// Values `image` already holds for a frame of this size are written over where they are.
[[nodiscard]] int ReadColorPng(const std::string& path, ColorImage& image, std::string& error,
                               int64_t maxPixels = DEFAULT_MAX_PIXELS);

// How ReadColorPngUsing decodes: libpng reads every header; the image data of 8- or 16-bit
// RGB or RGBA frames, not interlaced and without tRNS, goes through a faster path of its own
// (libdeflate); PNG_DECODE_LIBPNG takes every file through libpng alone.
enum PngDecoding { PNG_DECODE_FASTEST, PNG_DECODE_LIBPNG };

// ReadColorPng, decoding as `decoding` says. Both ways give the same pixels for every file both
// accept: the tests and the fuzzer hold the fast path to libpng's. The fast path is stricter
// in one thing: image data whose zlib checksum is wrong is refused ("damaged: the image data
// does not inflate ..."), where libpng may only warn once the rows are complete.
[[nodiscard]] int ReadColorPngUsing(const std::string& path, ColorImage& image, std::string& error,
                                    int64_t maxPixels, PngDecoding decoding);

// A grey PNG of 8 or 16 bits whose values are the identifiers, taken as stored (not scaled),
// or an RGB or RGBA one whose red, green and blue are equal everywhere (alpha is not read).
[[nodiscard]] int ReadIdPng(const std::string& path, IdImage& image, std::string& error,
                            int64_t maxPixels = DEFAULT_MAX_PIXELS);

// ReadIdPng, decoding as `decoding` says: PNG_DECODE_FASTEST takes the image data of passes
// not interlaced and without tRNS through the fast path of its own (libdeflate). Both ways
// give the same identifiers for every file both accept, and the fast path is stricter in the
// same one thing as ReadColorPngUsing's.
[[nodiscard]] int ReadIdPngUsing(const std::string& path, IdImage& image, std::string& error,
                                 int64_t maxPixels, PngDecoding decoding);

// What an identifier pass may be, for the messages that refuse one.
constexpr const char* ID_PASS_KINDS =
    "an identifier pass must be a grey PNG of 8 or 16 bits, or an RGB one with equal channels";

// The name of a PNG colour type (0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA) for messages.
const char* ColorTypeName(int colorType);

// Why a PNG of `colorType` and `bitDepth` cannot be an identifier pass; "" when it can be one.
std::string RefuseIdPassLayout(int colorType, int bitDepth);

// Why an RGB identifier pass is refused at pixel (x, y).
std::string DescribeUngreyIdPixel(int x, int y, const uint16_t (&rgb)[3]);

// True when the file starts with the PNG signature.
bool LooksLikePng(const unsigned char* head, size_t size);

// The image size that a PNG file's first PNG_HEAD_SIZE bytes give: the signature, then the
// IHDR chunk with its width and height (big-endian 32-bit at 16 and 20, each 1..2^31-1).
// Returns 0 when `head` is not such a start; nothing else of the file is checked.
constexpr size_t PNG_HEAD_SIZE = 24;
[[nodiscard]] int PngSizeFromHead(const unsigned char* head, size_t size, int& width, int& height);

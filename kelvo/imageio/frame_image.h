// A decoded input frame: 16-bit RGBA colour and one identifier per pixel.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// Frames are at most this wide and high: the host's bitmap sizes are 16-bit.
constexpr int FRAME_MAX_SIDE = 65535;

// The most pixels a frame may have unless --max-pixels says otherwise: 128 Mi (16384 x 8192).
// A header is a few bytes that can claim any size; like every image library's limit against
// decompression bombs, this keeps such a claim from taking the machine's memory.
constexpr int64_t DEFAULT_MAX_PIXELS = int64_t{1} << 27;

// What an OpenEXR frame costs kelvo while it renders: its decoded colour and identifiers (8 + 2
// bytes a pixel) beside the host's bitmap they are copied into (8 + 1 + 2). Decoding a part may
// take as much again (ExrReadOptions::maxPixels).
constexpr int64_t FRAME_BYTES_PER_PIXEL = 21;
// What a frame costs a worker at its peak, of either kind, for the memory bound. A PNG frame is
// decoded straight into the host's bitmap (8 + 1 + 2 bytes a pixel) beside its identifiers (2),
// but the fast path holds the rest of the file and all inflated rows at once: up to 8 + 8 more
// for 16-bit RGBA that does not compress. Measured as the peak resident size of `kelvo render
// -j 1` of one 4096 x 4096 PNG frame, with an identifier pass or none, less the 7 MB of a tiny
// frame's: 27.0 bytes a pixel for 16-bit RGBA of noise, 19.0 for a smooth one, 17.0 for 8-bit
// RGB of noise; an OpenEXR frame takes FRAME_BYTES_PER_PIXEL.
constexpr int64_t RENDER_BYTES_PER_PIXEL = 28;
// What decoding the next frame while one renders adds: a second bitmap it is decoded into
// (8 + 1 + 2 bytes a pixel) and its identifiers. Measured as above, three frames against one:
// 13.2 more bytes a pixel without identifiers and 14.2 with them, 8-bit and 16-bit alike (the
// decoding of the next frame and the writing of the one before do not peak together).
constexpr int64_t READ_AHEAD_BYTES_PER_PIXEL = 15;

// 1 when a frame of `width` x `height` pixels is within `maxPixels`; otherwise 0, and `error`
// says so: "30000 x 30000 pixels is more than --max-pixels 134217728".
[[nodiscard]] int CheckPixelBudget(int64_t width, int64_t height, int64_t maxPixels,
                                   std::string& error);

// "512 bytes", "3.5 MiB", "2.6 GiB": a size for messages.
std::string FormatBytes(uint64_t bytes);

// "not enough memory: 7.2 GiB (7776000000 bytes) were asked for".
std::string DescribeNoMemory(uint64_t bytes);

// Sizes `values` to `count` copies of `fill`. On 0 the memory could not be had, and `error`
// says how much was asked for.
template <typename T>
[[nodiscard]] int AllocateValues(std::vector<T>& values, size_t count, T fill, std::string& error) {
    try {
        values.assign(count, fill);
        return 1;
    } catch (const std::bad_alloc&) {
        error = DescribeNoMemory(static_cast<uint64_t>(count) * sizeof(T));
    } catch (const std::length_error&) {
        error = DescribeNoMemory(static_cast<uint64_t>(count) * sizeof(T));
    }
    return 0;
}

// Sizes `values` to `count` for a decoder that writes every one of them: values already held in
// that number are kept as they are (a frame source's memory is reused frame after frame without
// being filled first). On 0, `error` says how much was asked for.
template <typename T>
[[nodiscard]] int SizeValues(std::vector<T>& values, size_t count, std::string& error) {
    return values.size() == count ? 1 : AllocateValues(values, count, T{}, error);
}

struct ColorImage {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> rgba;  // 4 values per pixel, row-major, top row first
};

struct IdImage {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> ids;  // one per pixel; empty means every identifier is 0
};

struct DecodedFrame {
    ColorImage color;
    IdImage ids;
};

// "identifier 300 at pixel (4, 2) is outside 0..255 ..." for an identifier the channel in use
// cannot hold.
std::string DescribeIdOutOfRange(const std::string& value, int x, int y, int maxId);
std::string FormatIdValue(double value);

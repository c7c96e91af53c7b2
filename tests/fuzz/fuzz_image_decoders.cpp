// Fuzzes kelvo's input decoders: any file offered as a colour PNG, an identifier PNG or an
// OpenEXR file gives a consistent image or a reason, never a crash; the header readers of the
// input check agree with the decoders, and the colour PNG reader's fast path with libpng.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "kelvo/imageio/exr_image.h"
#include "kelvo/imageio/frame_image.h"
#include "kelvo/imageio/png_image.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// kelvo's default budget lets a header of a few bytes claim a frame of a gigabyte or two, which
// kelvo then legitimately allocates; the fuzzer's memory limits (scripts/fuzz.sh) stay at what
// this budget takes, so that any larger allocation is found.
constexpr int64_t FUZZ_MAX_PIXELS = int64_t{1} << 20;

size_t Pixels(int width, int height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

void CheckColor(const ColorImage& image) {
    FUZZ_CHECK(image.width >= 1 && image.width <= FRAME_MAX_SIDE);
    FUZZ_CHECK(image.height >= 1 && image.height <= FRAME_MAX_SIDE);
    FUZZ_CHECK(static_cast<int64_t>(Pixels(image.width, image.height)) <= FUZZ_MAX_PIXELS);
    FUZZ_CHECK(image.rgba.size() == 4 * Pixels(image.width, image.height));
}

void CheckIds(const IdImage& ids, int width, int height, int maxId) {
    if (ids.ids.empty()) {
        return;
    }
    FUZZ_CHECK(ids.width == width && ids.height == height);
    FUZZ_CHECK(ids.ids.size() == Pixels(width, height));
    for (uint16_t id : ids.ids) {
        FUZZ_CHECK(id <= maxId);
    }
}

// Calls `visit(at, length)` for each whole chunk after the signature (`at` its first byte,
// `length` its data's), until it answers true or a chunk runs past the end.
template <typename Visit>
void ForEachChunk(std::vector<uint8_t>& png, Visit visit) {
    for (size_t at = 8; png.size() >= 12 && at <= png.size() - 12;) {
        const size_t length = size_t{png[at]} << 24 | size_t{png[at + 1]} << 16 |
                              size_t{png[at + 2]} << 8 | png[at + 3];
        if (length > png.size() - 12 - at || visit(at, length)) {
            return;
        }
        at += 12 + length;
    }
}

// Deflates the data of the first IDAT chunk, taken as the filtered rows themselves, so that
// the fuzzer mutates rows and filter bytes directly rather than a zlib stream.
void DeflateFirstIdat(std::vector<uint8_t>& png) {
    ForEachChunk(png, [&png](size_t at, size_t length) {
        if (std::memcmp(png.data() + at + 4, "IDAT", 4) != 0) {
            return false;
        }
        uLongf packedBytes = compressBound(static_cast<uLong>(length));
        std::vector<uint8_t> packed(packedBytes);
        FUZZ_CHECK(compress(packed.data(), &packedBytes, png.data() + at + 8,
                            static_cast<uLong>(length)) == Z_OK);
        packed.resize(packedBytes);
        for (int i = 0; i < 4; ++i) {
            png[at + static_cast<size_t>(i)] = static_cast<uint8_t>(packedBytes >> (24 - 8 * i));
        }
        png.erase(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                  png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        png.insert(png.begin() + static_cast<std::ptrdiff_t>(at + 8), packed.begin(), packed.end());
        return true;
    });
}

// Gives every whole chunk after the signature its right CRC, so that mutated chunks reach the
// decoding behind the CRC checks (the fast path's chunk walk, inflating and row filters).
void FixChunkCrcs(std::vector<uint8_t>& png) {
    ForEachChunk(png, [&png](size_t at, size_t length) {
        const uLong crc = crc32(0, png.data() + at + 4, static_cast<uInt>(4 + length));
        for (int i = 0; i < 4; ++i) {
            png[at + 8 + length + static_cast<size_t>(i)] =
                static_cast<uint8_t>(crc >> (24 - 8 * i));
        }
        return false;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t choice = data[0];
    std::vector<uint8_t> bytes(data + 1, data + size);
    if (choice % 3 == 0 && (choice & 8) != 0) {
        DeflateFirstIdat(bytes);
    }
    if (choice % 3 == 0 && (choice & 4) != 0) {
        FixChunkCrcs(bytes);
    }
    const std::string path = FuzzScratchDirectory() + "/input";
    FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    FUZZ_CHECK(std::fclose(file) == 0);

    std::string error;
    ColorImage color;
    IdImage ids;
    // The input check reads headers only (ReadPngHeader, ReadExrFrameInfo): it must pass every
    // file that decodes, with the size it decodes to.
    if (choice % 3 == 0) {
        // And libpng alone agrees: on the pixels of every file the fast path takes, and on
        // refusing what it refuses, but for a damaged zlib stream, where libpng may only warn.
        ColorImage libpng;
        std::string libpngError;
        const int libpngTakes =
            ReadColorPngUsing(path, libpng, libpngError, FUZZ_MAX_PIXELS, PNG_DECODE_LIBPNG);
        if (ReadColorPng(path, color, error, FUZZ_MAX_PIXELS)) {
            CheckColor(color);
            PngHeader header;
            FUZZ_CHECK(ReadPngHeader(path, header, error));
            FUZZ_CHECK(header.width == color.width && header.height == color.height);
            FUZZ_CHECK(libpngTakes && libpng.rgba == color.rgba);
        } else {
            FUZZ_CHECK(!error.empty());
            FUZZ_CHECK(!libpngTakes ||
                       error.rfind("damaged: the image data does not inflate", 0) == 0);
        }
    } else if (choice % 3 == 1) {
        // Identifier passes likewise.
        IdImage libpng;
        std::string libpngError;
        const int libpngTakes =
            ReadIdPngUsing(path, libpng, libpngError, FUZZ_MAX_PIXELS, PNG_DECODE_LIBPNG);
        if (ReadIdPng(path, ids, error, FUZZ_MAX_PIXELS)) {
            FUZZ_CHECK(ids.ids.size() == Pixels(ids.width, ids.height));
            FUZZ_CHECK(libpngTakes && libpng.ids == ids.ids);
        } else {
            FUZZ_CHECK(!error.empty());
            FUZZ_CHECK(!libpngTakes ||
                       error.rfind("damaged: the image data does not inflate", 0) == 0);
        }
    } else {
        ExrRequest request;
        request.layer = (choice & 4) != 0 ? "diffuse" : "";
        request.idChannel = (choice & 8) != 0 ? "object" : "";
        request.linear = (choice & 16) != 0;
        request.maxId = (choice & 32) != 0 ? 255 : 65535;
        request.window = (choice & 64) != 0 ? EXR_WINDOW_DATA : EXR_WINDOW_DISPLAY;
        request.view = (choice & 128) != 0 ? "right" : "";
        request.maxPixels = FUZZ_MAX_PIXELS;
        if (ReadExr(path, request, color, ids, error)) {
            CheckColor(color);
            CheckIds(ids, color.width, color.height, request.maxId);
            ExrFrameInfo info;
            FUZZ_CHECK(ReadExrFrameInfo(path, request, info, error));
            FUZZ_CHECK(info.width == color.width && info.height == color.height);
        } else {
            FUZZ_CHECK(!error.empty());
        }
    }
    return 0;
}

// Decodes PNG files with libpng: colour frames to 16-bit RGBA, identifier passes to IDs.
#include "kelvo/imageio/png_image.h"

#include <emmintrin.h>
#include <libdeflate.h>
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kelvo/imageio/png_rows.h"

namespace {

// One open file and libpng's read state; libpng reports errors through `message` and a
// longjmp back into the function that called it. The functions that call libpng create no
// object with a destructor after their setjmp, so the jump skips none.
struct PngReader {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = "";
    // Where libpng has read to, and the last chunk header it read (it reads each in one
    // 8-byte read): after png_read_info, the file is just past the first IDAT's header.
    uint64_t consumed = 8;
    unsigned char lastHeader[8] = {};
    uintmax_t fileBytes = UINTMAX_MAX;  // unknown, when the file system would not say
    // stdio's own buffer would cost a stat of the open file; this one is freed after the close.
    std::unique_ptr<char[]> buffer;

    ~PngReader() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

struct PngLayout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colorType = 0;
    int channels = 0;  // as stored
    bool interlaced = false;
    bool transparency = false;  // a tRNS chunk
    size_t rowBytes = 0;        // after the transformations
};

void OnPngError(png_structp png, png_const_charp text) {
    auto* reader = static_cast<PngReader*>(png_get_error_ptr(png));
    std::snprintf(reader->message, sizeof reader->message, "%s", text);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// libpng's own stdio reader says "Read Error" for a file that ends early and for a failed read
// alike; a file cut short (a truncated IDAT, a missing IEND) is named as such.
void ReadFromFile(png_structp png, png_bytep data, size_t size) {
    auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
    FILE* file = reader->file;
    if (std::fread(data, 1, size, file) == size) {
        reader->consumed += size;
        if ((png_get_io_state(png) & PNG_IO_CHUNK_HDR) != 0) {
            std::memcpy(reader->lastHeader, data, sizeof reader->lastHeader);
            // libpng allocates a whole chunk (but IDAT, which it streams) before it reads it:
            // one claiming more than the rest of the file (up to 2 GiB) is refused first.
            const uint64_t claimed = uint64_t{png_get_uint_32(data)} + 4;  // and its CRC
            if (std::memcmp(data + 4, "IDAT", 4) != 0 && reader->fileBytes >= reader->consumed &&
                claimed > reader->fileBytes - reader->consumed) {
                png_error(png, "damaged: the file is cut short");
            }
        }
        return;
    }
    png_error(png, std::ferror(file) == 0 ? "damaged: the file is cut short"
                                          : std::strerror(errno != 0 ? errno : EIO));
}

enum PngPurpose { PNG_FOR_COLOR, PNG_FOR_IDS };

constexpr size_t READ_BUFFER_SIZE = size_t{64} << 10;

// The size of the open `file`; UINTMAX_MAX when the file system would not say.
uintmax_t FileBytes(FILE* file) {
#ifdef _WIN32
    struct _stat64 status {};
    const bool known = _fstat64(_fileno(file), &status) == 0;
#else
    struct stat status {};
    const bool known = fstat(fileno(file), &status) == 0;
#endif
    return known && status.st_size >= 0 ? static_cast<uintmax_t>(status.st_size) : UINTMAX_MAX;
}

// Opens the file once, and reads its signature: `isPng` says whether it has one. The file's size
// is `knownBytes`, when the caller knows it, else asked of the system.
int Open(const std::string& path, PngReader& reader, std::string& error, bool* isPng = nullptr,
         uintmax_t knownBytes = UINTMAX_MAX) {
    reader.file = std::fopen(path.c_str(), "rb");
    if (reader.file == nullptr) {
        error = std::strerror(errno);
        return 0;
    }
    reader.buffer.reset(new (std::nothrow) char[READ_BUFFER_SIZE]);
    if (reader.buffer) {
        std::setvbuf(reader.file, reader.buffer.get(), _IOFBF, READ_BUFFER_SIZE);
    }
    reader.fileBytes = knownBytes != UINTMAX_MAX ? knownBytes : FileBytes(reader.file);
    unsigned char signature[8] = {};
    if (std::fread(signature, 1, sizeof signature, reader.file) != sizeof signature ||
        !LooksLikePng(signature, sizeof signature)) {
        error = "not a PNG file";
        return 0;
    }
    if (isPng != nullptr) {
        *isPng = true;
    }
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, OnPngError, OnPngWarning);
    if (reader.png != nullptr) {
        reader.info = png_create_info_struct(reader.png);
    }
    if (reader.info == nullptr) {
        error = "out of memory";
        return 0;
    }
    return 1;
}

// Reads the header: the signature's 8 bytes are already read.
int ReadInfo(PngReader& reader, PngLayout& layout) {
    png_structp png = reader.png;
    png_infop info = reader.info;
    if (setjmp(png_jmpbuf(png))) {
        return 0;
    }
    png_set_read_fn(png, &reader, ReadFromFile);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    layout.width = png_get_image_width(png, info);
    layout.height = png_get_image_height(png, info);
    layout.bitDepth = png_get_bit_depth(png, info);
    layout.colorType = png_get_color_type(png, info);
    layout.channels = png_get_channels(png, info);
    layout.interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    layout.transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    return 1;
}

// Sets the transformations for `purpose`; then the rows have `layout.rowBytes` each.
int SetTransformations(PngReader& reader, PngPurpose purpose, PngLayout& layout) {
    png_structp png = reader.png;
    png_infop info = reader.info;
    if (setjmp(png_jmpbuf(png))) {
        return 0;
    }
    if (purpose == PNG_FOR_COLOR) {
        png_set_expand(png);
        png_set_gray_to_rgb(png);
        if (layout.bitDepth == 16) {
            png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
            png_set_swap(png);
        } else {
            // 8-bit RGBA, which WidenRows takes to 16 bits in one pass: libpng's own 16-bit
            // expansion, and the masking it would then need, took longer than the inflating.
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        }
    } else if (layout.bitDepth == 16) {
        png_set_swap(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout.rowBytes = png_get_rowbytes(png, info);
    return 1;
}

int ReadRows(PngReader& reader, png_bytepp rows) {
    if (setjmp(png_jmpbuf(reader.png))) {
        return 0;
    }
    png_read_image(reader.png, rows);
    png_read_end(reader.png, nullptr);
    return 1;
}

// Deflate packs at most 1032 bytes into one (a run of 258 bytes in under two bits); a file
// cannot hold more rows than that, with room to spare for the zlib and chunk framing.
constexpr uint64_t MAX_DEFLATE_RATIO = 1032;

// Checked from the header, before anything is allocated: a frame has at most 65535 pixels on
// a side and `maxPixels` in all; its pixels of `pixelBytes` each must be countable in this
// program's memory, which a 32-bit build's is not for the largest frames (the product would
// wrap and the buffer come out too small), and so must its image data inflated, `imageBytes`,
// which the fast path holds at once (for 16-bit RGBA a little more than the pixels); and that
// data must fit in the file's `fileBytes` (UINTMAX_MAX: not known), so that a header of a few
// bytes claiming a large frame is refused before its rows are allocated.
int CheckSize(uintmax_t fileBytes, const PngLayout& layout, int64_t maxPixels, size_t pixelBytes,
              size_t& imageBytes, std::string& error) {
    const std::string size = std::to_string(layout.width) + " x " + std::to_string(layout.height);
    if (layout.width > FRAME_MAX_SIDE || layout.height > FRAME_MAX_SIDE) {
        error = size + " pixels is larger than the 65535 x 65535 a frame can have";
        return 0;
    }
    if (!CheckPixelBudget(layout.width, layout.height, maxPixels, error)) {
        return 0;
    }
    if (layout.height != 0 && layout.width > SIZE_MAX / pixelBytes / layout.height) {
        error = size + " pixels do not fit in memory";
        return 0;
    }
    // Each row is a filter byte and its samples, as stored (interlaced images hold more).
    if (!CountPngImageBytes(layout.width, layout.height, layout.channels, layout.bitDepth, SIZE_MAX,
                            imageBytes)) {
        error = size + " pixels do not fit in memory";
        return 0;
    }
    if (imageBytes / MAX_DEFLATE_RATIO > fileBytes) {
        error = "damaged: its " + std::to_string(fileBytes) +
                " bytes cannot hold the image data of " + size + " pixels";
        return 0;
    }
    return 1;
}

// Decodes the rows into `pixels`, row 0 first, each `stride` bytes after the one before.
int ReadAllRows(PngReader& reader, const PngLayout& layout, size_t stride, uint8_t* pixels,
                std::string& error) {
    std::vector<png_bytep> rows(layout.height);
    for (png_uint_32 y = 0; y < layout.height; ++y) {
        rows[y] = pixels + static_cast<size_t>(y) * stride;
    }
    if (!ReadRows(reader, rows.data())) {
        error = reader.message;
        return 0;
    }
    return 1;
}

// Each row of `pixels` (`width` pixels of 8 bytes) holds `width` pixels of 8-bit RGBA in its
// first half; they become the row's 16-bit RGBA: colour values v become v x 256, alpha a
// becomes a x 257 (so that 255 is as opaque as 65535). In place, from the last pixel back: a
// pixel's 8 bytes cover only narrow pixels at or after it, which are already widened (or, four
// at a time, held in a register).
void WidenRows(uint8_t* pixels, size_t width, size_t height) {
    // Per 16-bit lane: the byte in the high half for colour, in both halves for alpha.
    const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
    for (size_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + y * width * 8;
        size_t x = width;
        for (; x % 4 != 0; --x) {
            const uint8_t* narrow = row + 4 * (x - 1);
            const uint16_t wide[4] = {
                static_cast<uint16_t>(narrow[0] << 8), static_cast<uint16_t>(narrow[1] << 8),
                static_cast<uint16_t>(narrow[2] << 8), static_cast<uint16_t>(narrow[3] * 257)};
            std::memcpy(row + 8 * (x - 1), wide, sizeof wide);
        }
        for (; x > 0; x -= 4) {
            const __m128i four =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * (x - 4)));
            const __m128i zero = _mm_setzero_si128();
            for (int half = 0; half < 2; ++half) {
                const __m128i shifted =
                    half == 0 ? _mm_unpacklo_epi8(zero, four) : _mm_unpackhi_epi8(zero, four);
                const __m128i doubled =
                    half == 0 ? _mm_unpacklo_epi8(four, four) : _mm_unpackhi_epi8(four, four);
                const __m128i wide = _mm_or_si128(_mm_andnot_si128(alphaLanes, shifted),
                                                  _mm_and_si128(alphaLanes, doubled));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 8 * (x - 4) + 16 * half), wide);
            }
        }
    }
}

// The layouts the fast path decodes: those of rendered frames (8- or 16-bit RGB or RGBA, not
// interlaced, no tRNS), after a png_read_info that stopped at an IDAT header, as it always does.
bool TakesFastPath(const PngReader& reader, const PngLayout& layout) {
    return !layout.interlaced && !layout.transparency &&
           (layout.colorType == PNG_COLOR_TYPE_RGB ||
            layout.colorType == PNG_COLOR_TYPE_RGB_ALPHA) &&
           (layout.bitDepth == 8 || layout.bitDepth == 16) &&
           std::memcmp(reader.lastHeader + 4, "IDAT", 4) == 0;
}

// The identifier passes it decodes: every layout one may have (grey, RGB or RGBA of 8 or 16
// bits), not interlaced, no tRNS.
bool IdsTakeFastPath(const PngReader& reader, const PngLayout& layout) {
    return !layout.interlaced && !layout.transparency &&
           std::memcmp(reader.lastHeader + 4, "IDAT", 4) == 0;
}

enum FastResult { FAST_DECODED, FAST_REFUSED, FAST_LEFT_TO_LIBPNG };

// `count` bytes, not cleared: the file's rest and the inflated rows (6 MB for a 1080p frame)
// are written before they are read. Null when the memory cannot be had; `error` then says how
// much was asked for.
std::unique_ptr<uint8_t[]> AllocateBytes(size_t count, std::string& error) {
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[count == 0 ? 1 : count]);
    if (!bytes) {
        error = DescribeNoMemory(count);
    }
    return bytes;
}

struct FreeDecompressor {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

// Where InflateImageData puts the rest of the file and the inflated rows: at the start and the
// end of `room`, memory the caller's decoding writes over anyway, when both fit there; in
// memory of their own otherwise.
struct InflateRoom {
    uint8_t* bytes = nullptr;
    size_t size = 0;
};

// Inflates what follows png_read_info without libpng: the rest of the file is read at once,
// its IDAT data gathered (GatherPngImageData) and inflated in one call into `image`, the
// filtered rows, in `room` or in `owned`. About twice as fast as libpng's row-by-row inflating
// through zlib. What GatherPngImageData finds unusual, and image data that inflates to more
// than the rows (which libpng takes with a warning), is left to libpng. `imageBytes` is what
// the rows take, as CheckSize counted them.
FastResult InflateImageData(PngReader& reader, size_t imageBytes, InflateRoom room,
                            std::unique_ptr<uint8_t[]>& owned, uint8_t*& image,
                            std::string& error) {
    if (reader.fileBytes == UINTMAX_MAX || reader.fileBytes < reader.consumed) {
        return FAST_LEFT_TO_LIBPNG;
    }
    // A longer rest holds more than image data and the usual chunks: libpng streams through it.
    const uintmax_t restBytes = reader.fileBytes - reader.consumed;
    if (restBytes > 2 * uintmax_t{imageBytes} + 2 * PNG_CHUNK_DATA_CAP || restBytes > SIZE_MAX) {
        return FAST_LEFT_TO_LIBPNG;
    }
    const auto restSize = static_cast<size_t>(restBytes);
    const bool inRoom = imageBytes <= room.size && restSize <= room.size - imageBytes;
    std::unique_ptr<uint8_t[]> restOwned;
    if (!inRoom) {
        restOwned = AllocateBytes(restSize, error);
        if (!restOwned) {
            return FAST_REFUSED;
        }
    }
    uint8_t* rest = inRoom ? room.bytes : restOwned.get();
    const size_t got = std::fread(rest, 1, restSize, reader.file);
    if (got != restSize && std::ferror(reader.file) != 0) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return FAST_REFUSED;
    }
    size_t dataBytes = 0;
    const uint32_t firstLength = png_get_uint_32(reader.lastHeader);
    switch (GatherPngImageData(rest, got, firstLength,
                               std::max<uint64_t>(imageBytes, PNG_CHUNK_DATA_CAP), dataBytes,
                               error)) {
        case PNG_DATA_GATHERED:
            break;
        case PNG_DATA_REFUSED:
            return FAST_REFUSED;
        case PNG_DATA_UNUSUAL:
            return FAST_LEFT_TO_LIBPNG;
    }
    if (inRoom) {
        image = room.bytes + room.size - imageBytes;
    } else {
        owned = AllocateBytes(imageBytes, error);
        if (!owned) {
            return FAST_REFUSED;
        }
        image = owned.get();
    }
    const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(
        libdeflate_alloc_decompressor());
    if (decompressor == nullptr) {
        error = "out of memory";
        return FAST_REFUSED;
    }
    // Without a place for the size it gave, libdeflate succeeds only when it filled the rows.
    switch (libdeflate_zlib_decompress(decompressor.get(), rest, dataBytes, image, imageBytes,
                                       nullptr)) {
        case LIBDEFLATE_SUCCESS:
            break;
        case LIBDEFLATE_SHORT_OUTPUT:
            error = "Not enough image data";  // libpng's words
            return FAST_REFUSED;
        case LIBDEFLATE_INSUFFICIENT_SPACE:
            return FAST_LEFT_TO_LIBPNG;
        default:
            error =
                "damaged: the image data does not inflate (corrupt, cut short, or a wrong "
                "checksum)";
            return FAST_REFUSED;
    }
    return FAST_DECODED;
}

// The layout of the rows as stored, for the fast path's own decoding.
PngRowLayout RowLayoutOf(const PngLayout& layout) {
    PngRowLayout rows;
    rows.width = layout.width;
    rows.height = layout.height;
    rows.channels = layout.channels;
    rows.bitDepth = layout.bitDepth;
    return rows;
}

// The fast path of a colour frame: its rows inflated (InflateImageData), unfiltered and widened
// into `pixels`, width x height x 8 bytes.
// Where the rows fit behind the pixels (RowsFitBehindPixels), they and the rest of the file are
// placed in the pixels' own memory, so a frame takes no more than its pixels.
FastResult DecodeCommonPng(PngReader& reader, const PngLayout& layout, size_t imageBytes,
                           uint8_t* pixels, std::string& error) {
    const PngRowLayout rows = RowLayoutOf(layout);
    const size_t stored = rows.RowBytes() + 1;
    std::unique_ptr<uint8_t[]> rowPair;
    InflateRoom room;
    if (RowsFitBehindPixels(rows)) {
        rowPair = AllocateBytes(2 * stored, error);
        if (!rowPair) {
            return FAST_REFUSED;
        }
        room = {pixels, rows.width * rows.height * 8};
    }
    std::unique_ptr<uint8_t[]> owned;
    uint8_t* image = nullptr;
    const FastResult inflated = InflateImageData(reader, imageBytes, room, owned, image, error);
    if (inflated != FAST_DECODED) {
        return inflated;
    }
    error = owned ? DecodePngRows(image, rows, pixels)
                  : DecodePngRowsBehind(pixels, rows, rowPair.get());
    return error.empty() ? FAST_DECODED : FAST_REFUSED;
}

// The fast path of an identifier pass: its rows inflated, unfiltered and taken to identifiers
// (DecodeIdRows) in `ids`, width x height of them.
FastResult DecodeCommonIdPng(PngReader& reader, const PngLayout& layout, size_t imageBytes,
                             uint16_t* ids, std::string& error) {
    std::unique_ptr<uint8_t[]> owned;
    uint8_t* image = nullptr;
    const FastResult inflated = InflateImageData(reader, imageBytes, {}, owned, image, error);
    if (inflated != FAST_DECODED) {
        return inflated;
    }
    int x = 0;
    int y = 0;
    uint16_t rgb[3] = {};
    switch (DecodeIdRows(image, RowLayoutOf(layout), ids, x, y, rgb)) {
        case ID_ROWS_DECODED:
            return FAST_DECODED;
        case ID_ROWS_BAD_FILTER:
            error = "bad adaptive filter value";  // libpng's words
            return FAST_REFUSED;
        case ID_ROWS_UNGREY:
            error = DescribeUngreyIdPixel(x, y, rgb);
            return FAST_REFUSED;
    }
    return FAST_REFUSED;
}

}  // namespace

bool LooksLikePng(const unsigned char* head, size_t size) {
    return size >= 8 && png_sig_cmp(head, 0, 8) == 0;
}

int ReadPngHeader(const std::string& path, PngHeader& header, std::string& error,
                  uintmax_t fileBytes) {
    PngReader reader;
    PngLayout layout;
    header.isPng = false;
    if (!Open(path, reader, error, &header.isPng, fileBytes)) {
        return 0;
    }
    header.fileBytes = reader.fileBytes;
    if (!ReadInfo(reader, layout)) {
        error = reader.message;
        return 0;
    }
    // libpng refuses sides above its limit of a million, far below INT_MAX.
    header.width = static_cast<int>(layout.width);
    header.height = static_cast<int>(layout.height);
    header.colorType = layout.colorType;
    header.bitDepth = layout.bitDepth;
    header.channels = layout.channels;
    return 1;
}

int CheckPngFrameSize(const PngHeader& header, int64_t maxPixels, size_t pixelBytes,
                      std::string& error) {
    PngLayout layout;
    layout.width = static_cast<png_uint_32>(header.width);
    layout.height = static_cast<png_uint_32>(header.height);
    layout.bitDepth = header.bitDepth;
    layout.colorType = header.colorType;
    layout.channels = header.channels;
    size_t imageBytes = 0;
    return CheckSize(header.fileBytes, layout, maxPixels, pixelBytes, imageBytes, error);
}

int ReadColorPng(const std::string& path, ColorImage& image, std::string& error,
                 int64_t maxPixels) {
    return ReadColorPngUsing(path, image, error, maxPixels, PNG_DECODE_FASTEST);
}

int ReadColorPngUsing(const std::string& path, ColorImage& image, std::string& error,
                      int64_t maxPixels, PngDecoding decoding) {
    PngReader reader;
    PngLayout layout;
    if (!Open(path, reader, error)) {
        return 0;
    }
    if (!ReadInfo(reader, layout)) {
        error = reader.message;
        return 0;
    }
    size_t imageBytes = 0;
    if (!CheckSize(reader.fileBytes, layout, maxPixels, sizeof image.rgba[0] * 4, imageBytes,
                   error)) {
        return 0;
    }
    // The fast path needs none of libpng's transformations.
    const bool fast = decoding == PNG_DECODE_FASTEST && TakesFastPath(reader, layout);
    const size_t stride = static_cast<size_t>(layout.width) * 8;
    if (!fast) {
        if (!SetTransformations(reader, PNG_FOR_COLOR, layout)) {
            error = reader.message;
            return 0;
        }
        if (layout.rowBytes != (layout.bitDepth == 16 ? stride : stride / 2)) {
            error = "unexpected row layout after expansion to RGBA";
            return 0;
        }
    }
    image.width = static_cast<int>(layout.width);
    image.height = static_cast<int>(layout.height);
    // Both decoders write every value.
    if (!SizeValues(image.rgba, static_cast<size_t>(layout.width) * layout.height * 4, error)) {
        return 0;
    }
    auto* pixels = reinterpret_cast<uint8_t*>(image.rgba.data());
    if (fast) {
        switch (DecodeCommonPng(reader, layout, imageBytes, pixels, error)) {
            case FAST_DECODED:
                return 1;
            case FAST_REFUSED:
                return 0;
            case FAST_LEFT_TO_LIBPNG:
                error.clear();
                return ReadColorPngUsing(path, image, error, maxPixels, PNG_DECODE_LIBPNG);
        }
    }
    if (!ReadAllRows(reader, layout, stride, pixels, error)) {
        return 0;
    }
    if (layout.bitDepth < 16) {
        WidenRows(pixels, layout.width, layout.height);
    }
    return 1;
}

int ReadIdPng(const std::string& path, IdImage& image, std::string& error, int64_t maxPixels) {
    return ReadIdPngUsing(path, image, error, maxPixels, PNG_DECODE_FASTEST);
}

int ReadIdPngUsing(const std::string& path, IdImage& image, std::string& error, int64_t maxPixels,
                   PngDecoding decoding) {
    PngReader reader;
    PngLayout layout;
    if (!Open(path, reader, error)) {
        return 0;
    }
    if (!ReadInfo(reader, layout)) {
        error = reader.message;
        return 0;
    }
    const int channels = layout.colorType == PNG_COLOR_TYPE_GRAY        ? 1
                         : layout.colorType == PNG_COLOR_TYPE_RGB       ? 3
                         : layout.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                                                                        : 0;
    error = RefuseIdPassLayout(layout.colorType, layout.bitDepth);
    if (!error.empty()) {
        return 0;
    }
    // The rows as stored, and the identifiers.
    const size_t pixelBytes =
        static_cast<size_t>(channels * layout.bitDepth / 8) + sizeof image.ids[0];
    size_t imageBytes = 0;
    if (!CheckSize(reader.fileBytes, layout, maxPixels, pixelBytes, imageBytes, error)) {
        return 0;
    }
    const size_t count = static_cast<size_t>(layout.width) * layout.height;
    if (decoding == PNG_DECODE_FASTEST && IdsTakeFastPath(reader, layout)) {
        if (!AllocateValues(image.ids, count, uint16_t{0}, error)) {
            return 0;
        }
        switch (DecodeCommonIdPng(reader, layout, imageBytes, image.ids.data(), error)) {
            case FAST_DECODED:
                image.width = static_cast<int>(layout.width);
                image.height = static_cast<int>(layout.height);
                return 1;
            case FAST_REFUSED:
                return 0;
            case FAST_LEFT_TO_LIBPNG:
                error.clear();
                return ReadIdPngUsing(path, image, error, maxPixels, PNG_DECODE_LIBPNG);
        }
    }
    if (!SetTransformations(reader, PNG_FOR_IDS, layout)) {
        error = reader.message;
        return 0;
    }
    std::vector<uint8_t> rows;
    if (!AllocateValues(rows, layout.rowBytes * layout.height, uint8_t{0}, error)) {
        return 0;
    }
    if (!ReadAllRows(reader, layout, layout.rowBytes, rows.data(), error)) {
        return 0;
    }
    image.width = static_cast<int>(layout.width);
    image.height = static_cast<int>(layout.height);
    if (!AllocateValues(image.ids, count, uint16_t{0}, error)) {
        return 0;
    }
    for (size_t i = 0; i < count; ++i) {
        const size_t y = i / layout.width;
        const size_t x = i % layout.width;
        uint16_t sample[3] = {};
        const size_t sampleBytes = layout.bitDepth == 16 ? 2 : 1;
        for (size_t c = 0; c < (channels == 1 ? 1u : 3u); ++c) {
            const size_t at =
                y * layout.rowBytes + (x * static_cast<size_t>(channels) + c) * sampleBytes;
            if (layout.bitDepth == 16) {
                std::memcpy(&sample[c], rows.data() + at, 2);  // swapped to this machine's order
            } else {
                sample[c] = rows[at];
            }
        }
        if (channels > 1 && (sample[0] != sample[1] || sample[1] != sample[2])) {
            error = DescribeUngreyIdPixel(static_cast<int>(x), static_cast<int>(y), sample);
            return 0;
        }
        image.ids[i] = sample[0];
    }
    return 1;
}

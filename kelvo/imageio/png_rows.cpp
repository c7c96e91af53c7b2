// The pure parts of the PNG reader's fast path: the chunks that follow the first IDAT, and the
// inflated rows of a non-interlaced 8- or 16-bit RGB or RGBA image unfiltered and widened, or
// an identifier pass's unfiltered and taken to identifiers.
#include "kelvo/imageio/png_rows.h"

#include <emmintrin.h>
#include <libdeflate.h>
#include <tmmintrin.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

// The pixels are written as this machine's 16-bit values byte by byte; every build of kelvo
// runs on x86, whose SSE2 the kernels below use too.
static_assert(std::endian::native == std::endian::little);

namespace {

uint32_t GetBe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

bool IsChunk(const uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// libpng refuses a chunk type that is not four ASCII letters.
bool IsLetters(const uint8_t* type) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = type[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return false;
        }
    }
    return true;
}

// The CRC of a chunk: over its type and data.
uint32_t ChunkCrc(const uint8_t* type, const uint8_t* data, size_t length) {
    const uint32_t crc = libdeflate_crc32(0, type, 4);
    return libdeflate_crc32(crc, data, length);
}

constexpr const char* CUT_SHORT = "damaged: the file is cut short";

// --- Unfiltering. The SSE2 kernels for 3 and 4 bytes a pixel carry one pixel at a time in a
// register, as the filters chain each pixel to the one before it.

// Of 3 or 4 bytes. Three are moved as two and one: a three-byte copy goes through memory, and
// the four-byte load of it stalls on the stores before it.
template <size_t PIXEL_BYTES>
__m128i LoadPixel(const uint8_t* p) {
    uint32_t value = 0;
    if constexpr (PIXEL_BYTES == 3) {
        uint16_t low = 0;
        std::memcpy(&low, p, 2);
        value = low | uint32_t{p[2]} << 16;
    } else {
        std::memcpy(&value, p, 4);
    }
    return _mm_cvtsi32_si128(static_cast<int>(value));
}

template <size_t PIXEL_BYTES>
void StorePixel(uint8_t* p, __m128i pixel) {
    const auto value = static_cast<uint32_t>(_mm_cvtsi128_si32(pixel));
    if constexpr (PIXEL_BYTES == 3) {
        const auto low = static_cast<uint16_t>(value);
        std::memcpy(p, &low, 2);
        p[2] = static_cast<uint8_t>(value >> 16);
    } else {
        std::memcpy(p, &value, 4);
    }
}

template <size_t PIXEL_BYTES>
void UnfilterSubSse2(uint8_t* row, size_t rowBytes) {
    __m128i left = _mm_setzero_si128();
    for (size_t i = 0; i < rowBytes; i += PIXEL_BYTES) {
        left = _mm_add_epi8(left, LoadPixel<PIXEL_BYTES>(row + i));
        StorePixel<PIXEL_BYTES>(row + i, left);
    }
}

void UnfilterSub(size_t pixelBytes, uint8_t* row, size_t rowBytes) {
    if (pixelBytes == 3) {
        UnfilterSubSse2<3>(row, rowBytes);
        return;
    }
    if (pixelBytes == 4) {
        UnfilterSubSse2<4>(row, rowBytes);
        return;
    }
    for (size_t i = pixelBytes; i < rowBytes; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + row[i - pixelBytes]);
    }
}

void UnfilterUp(const uint8_t* prior, uint8_t* row, size_t rowBytes) {
    size_t i = 0;
    for (; i + 16 <= rowBytes; i += 16) {
        const __m128i above = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(here, above));
    }
    for (; i < rowBytes; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + prior[i]);
    }
}

template <size_t PIXEL_BYTES>
void UnfilterAverageSse2(const uint8_t* prior, uint8_t* row, size_t rowBytes) {
    // The mean rounded down: _mm_avg_epu8 rounds up, one too many where the sum is odd.
    const __m128i one = _mm_set1_epi8(1);
    __m128i left = _mm_setzero_si128();
    for (size_t i = 0; i < rowBytes; i += PIXEL_BYTES) {
        const __m128i above = LoadPixel<PIXEL_BYTES>(prior + i);
        const __m128i odd = _mm_and_si128(_mm_xor_si128(left, above), one);
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(left, above), odd);
        left = _mm_add_epi8(mean, LoadPixel<PIXEL_BYTES>(row + i));
        StorePixel<PIXEL_BYTES>(row + i, left);
    }
}

void UnfilterAverage(size_t pixelBytes, const uint8_t* prior, uint8_t* row, size_t rowBytes) {
    if (pixelBytes == 3) {
        UnfilterAverageSse2<3>(prior, row, rowBytes);
        return;
    }
    if (pixelBytes == 4) {
        UnfilterAverageSse2<4>(prior, row, rowBytes);
        return;
    }
    for (size_t i = 0; i < rowBytes; ++i) {
        const unsigned left = i >= pixelBytes ? row[i - pixelBytes] : 0u;
        row[i] = static_cast<uint8_t>(row[i] + ((left + prior[i]) >> 1));
    }
}

uint8_t PaethPredictor(int left, int above, int aboveLeft) {
    const int pa = above > aboveLeft ? above - aboveLeft : aboveLeft - above;
    const int pb = left > aboveLeft ? left - aboveLeft : aboveLeft - left;
    const int sum = left + above - 2 * aboveLeft;
    const int pc = sum < 0 ? -sum : sum;
    if (pa <= pb && pa <= pc) {
        return static_cast<uint8_t>(left);
    }
    return static_cast<uint8_t>(pb <= pc ? above : aboveLeft);
}

__m128i Abs16(__m128i value) {
    return _mm_max_epi16(value, _mm_sub_epi16(_mm_setzero_si128(), value));
}

// Picks `yes` where `mask` is set, `no` elsewhere.
__m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

template <size_t PIXEL_BYTES>
void UnfilterPaethSse2(const uint8_t* prior, uint8_t* row, size_t rowBytes) {
    // In 16-bit lanes: the distances need 9 bits and a sign.
    const __m128i zero = _mm_setzero_si128();
    __m128i left = zero;
    __m128i aboveLeft = zero;
    for (size_t i = 0; i < rowBytes; i += PIXEL_BYTES) {
        const __m128i above = _mm_unpacklo_epi8(LoadPixel<PIXEL_BYTES>(prior + i), zero);
        const __m128i towardsLeft = _mm_sub_epi16(above, aboveLeft);  // p - left
        const __m128i towardsAbove = _mm_sub_epi16(left, aboveLeft);  // p - above
        const __m128i pa = Abs16(towardsLeft);
        const __m128i pb = Abs16(towardsAbove);
        const __m128i pc = Abs16(_mm_add_epi16(towardsLeft, towardsAbove));
        const __m128i least = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        const __m128i predicted = Select(_mm_cmpeq_epi16(least, pa), left,
                                         Select(_mm_cmpeq_epi16(least, pb), above, aboveLeft));
        const __m128i value =
            _mm_add_epi8(_mm_packus_epi16(predicted, predicted), LoadPixel<PIXEL_BYTES>(row + i));
        StorePixel<PIXEL_BYTES>(row + i, value);
        left = _mm_unpacklo_epi8(value, zero);
        aboveLeft = above;
    }
}

void UnfilterPaeth(size_t pixelBytes, const uint8_t* prior, uint8_t* row, size_t rowBytes) {
    if (pixelBytes == 3) {
        UnfilterPaethSse2<3>(prior, row, rowBytes);
        return;
    }
    if (pixelBytes == 4) {
        UnfilterPaethSse2<4>(prior, row, rowBytes);
        return;
    }
    for (size_t i = 0; i < rowBytes; ++i) {
        const int left = i >= pixelBytes ? row[i - pixelBytes] : 0;
        const int aboveLeft = i >= pixelBytes ? prior[i - pixelBytes] : 0;
        row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(left, prior[i], aboveLeft));
    }
}

}  // namespace

PngDataVerdict GatherPngImageData(uint8_t* bytes, size_t size, uint32_t firstLength,
                                  uint64_t idatCap, size_t& dataBytes, std::string& error) {
    static const uint8_t IDAT[4] = {'I', 'D', 'A', 'T'};
    dataBytes = 0;
    size_t at = 0;  // where the data of the chunk in hand starts
    uint32_t length = firstLength;
    const uint8_t* type = IDAT;
    bool inIdatRun = true;
    for (;;) {
        if (length > 0x7FFFFFFF || !IsLetters(type)) {
            return PNG_DATA_UNUSUAL;
        }
        const bool idat = IsChunk(type, "IDAT");
        const bool ancillary = (type[0] & 0x20) != 0;
        if (idat ? (!inIdatRun || length > idatCap) : length > PNG_CHUNK_DATA_CAP) {
            return PNG_DATA_UNUSUAL;
        }
        if (!idat && !ancillary && !IsChunk(type, "IEND")) {
            return PNG_DATA_UNUSUAL;
        }
        if (size - at < uint64_t{length} + 4) {
            error = CUT_SHORT;
            return PNG_DATA_REFUSED;
        }
        const uint32_t crc = GetBe32(bytes + at + length);
        if (idat) {
            if (ChunkCrc(type, bytes + at, length) != crc) {
                error = "IDAT: CRC error";
                return PNG_DATA_REFUSED;
            }
            std::memmove(bytes + dataBytes, bytes + at, length);
            dataBytes += length;
        } else if (!ancillary) {
            // IEND: libpng has its own words for a damaged one.
            return length == 0 && ChunkCrc(type, bytes + at, 0) == crc ? PNG_DATA_GATHERED
                                                                       : PNG_DATA_UNUSUAL;
        }
        inIdatRun = idat;
        at += size_t{length} + 4;
        if (size - at < 8) {
            error = CUT_SHORT;
            return PNG_DATA_REFUSED;
        }
        length = GetBe32(bytes + at);
        type = bytes + at + 4;
        at += 8;
    }
}

bool CountPngImageBytes(uint64_t width, uint64_t height, int channels, int bitDepth, uint64_t limit,
                        size_t& bytes) {
    const uint64_t rowBits =
        width * static_cast<uint64_t>(channels) * static_cast<uint64_t>(bitDepth);
    const uint64_t imageBytes = height * (1 + (rowBits + 7) / 8);
    if (imageBytes > limit || imageBytes > SIZE_MAX) {
        return false;
    }
    bytes = static_cast<size_t>(imageBytes);
    return true;
}

bool UnfilterPngRow(uint8_t filter, size_t pixelBytes, const uint8_t* prior, uint8_t* row,
                    size_t rowBytes) {
    switch (filter) {
        case 0:
            return true;
        case 1:
            UnfilterSub(pixelBytes, row, rowBytes);
            return true;
        case 2:
            if (prior != nullptr) {
                UnfilterUp(prior, row, rowBytes);
            }
            return true;
        case 3:
            if (prior == nullptr) {
                // Half the pixel to the left alone.
                for (size_t i = pixelBytes; i < rowBytes; ++i) {
                    row[i] = static_cast<uint8_t>(row[i] + (row[i - pixelBytes] >> 1));
                }
                return true;
            }
            UnfilterAverage(pixelBytes, prior, row, rowBytes);
            return true;
        case 4:
            // Above the first row everything is 0, where Paeth predicts the pixel to the left.
            if (prior == nullptr) {
                UnfilterSub(pixelBytes, row, rowBytes);
                return true;
            }
            UnfilterPaeth(pixelBytes, prior, row, rowBytes);
            return true;
        default:
            return false;
    }
}

namespace {

bool DetectSsse3() {
    __builtin_cpu_init();  // may run before the library's own detection has
    return __builtin_cpu_supports("ssse3") != 0;
}
const bool HAS_SSSE3 = DetectSsse3();

// Widens the 8-bit pixels of `row` (3 bytes each, RGB, or 4, RGBA) as WidenPngRow does, four
// a step with two byte shuffles, as long as sixteen bytes can be read within the row; returns
// how many it widened (a multiple of four), the rest being left to the caller.
template <size_t PIXEL_BYTES>
__attribute__((target("ssse3"))) size_t WidenEightBitSsse3(const uint8_t* row, size_t width,
                                                           uint8_t* out) {
    constexpr char Z = -128;  // a shuffle index that gives a zero byte
    const __m128i low = PIXEL_BYTES == 3
                            ? _mm_setr_epi8(Z, 0, Z, 1, Z, 2, Z, Z, Z, 3, Z, 4, Z, 5, Z, Z)
                            : _mm_setr_epi8(Z, 0, Z, 1, Z, 2, 3, 3, Z, 4, Z, 5, Z, 6, 7, 7);
    const __m128i high =
        PIXEL_BYTES == 3 ? _mm_setr_epi8(Z, 6, Z, 7, Z, 8, Z, Z, Z, 9, Z, 10, Z, 11, Z, Z)
                         : _mm_setr_epi8(Z, 8, Z, 9, Z, 10, 11, 11, Z, 12, Z, 13, Z, 14, 15, 15);
    // Opaque alpha where the row has none.
    const __m128i alpha = PIXEL_BYTES == 3
                              ? _mm_setr_epi8(0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, -1, -1)
                              : _mm_setzero_si128();
    size_t x = 0;
    for (; x + 4 <= width && PIXEL_BYTES * x + 16 <= PIXEL_BYTES * width; x += 4) {
        const __m128i four =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + PIXEL_BYTES * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * x),
                         _mm_or_si128(_mm_shuffle_epi8(four, low), alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * x + 16),
                         _mm_or_si128(_mm_shuffle_epi8(four, high), alpha));
    }
    return x;
}

}  // namespace

void WidenPngRow(const uint8_t* row, const PngRowLayout& layout, uint8_t* out) {
    size_t width = layout.width;
    if (layout.bitDepth == 8 && HAS_SSSE3) {
        const size_t done = layout.channels == 3 ? WidenEightBitSsse3<3>(row, width, out)
                                                 : WidenEightBitSsse3<4>(row, width, out);
        row += done * static_cast<size_t>(layout.channels);
        out += done * 8;
        width -= done;
    }
    // Each pixel built as one 64-bit value, little-endian: red in bytes 0-1, alpha in 6-7.
    if (layout.bitDepth == 8 && layout.channels == 3) {
        for (size_t x = 0; x < width; ++x, row += 3, out += 8) {
            const uint64_t pixel = uint64_t{row[0]} << 8 | uint64_t{row[1]} << 24 |
                                   uint64_t{row[2]} << 40 | uint64_t{0xFFFF} << 48;
            std::memcpy(out, &pixel, 8);
        }
    } else if (layout.bitDepth == 8) {
        for (size_t x = 0; x < width; ++x, row += 4, out += 8) {
            const uint64_t pixel = uint64_t{row[0]} << 8 | uint64_t{row[1]} << 24 |
                                   uint64_t{row[2]} << 40 | uint64_t{row[3]} * 257 << 48;
            std::memcpy(out, &pixel, 8);
        }
    } else {
        const size_t channels = static_cast<size_t>(layout.channels);
        for (size_t x = 0; x < width; ++x, row += 2 * channels, out += 8) {
            for (size_t c = 0; c < 3; ++c) {
                out[2 * c] = row[2 * c + 1];
                out[2 * c + 1] = row[2 * c];
            }
            out[6] = channels == 4 ? row[7] : 0xFF;
            out[7] = channels == 4 ? row[6] : 0xFF;
        }
    }
}

std::string DecodePngRows(uint8_t* image, const PngRowLayout& layout, uint8_t* pixels) {
    const size_t rowBytes = layout.RowBytes();
    const uint8_t* prior = nullptr;
    for (size_t y = 0; y < layout.height; ++y) {
        uint8_t* row = image + y * (rowBytes + 1);
        if (!UnfilterPngRow(row[0], layout.PixelBytes(), prior, row + 1, rowBytes)) {
            return "bad adaptive filter value";  // libpng's words
        }
        WidenPngRow(row + 1, layout, pixels + y * layout.width * 8);
        prior = row + 1;
    }
    return "";
}

bool RowsFitBehindPixels(const PngRowLayout& layout) {
    return layout.RowBytes() + 1 <= layout.width * 8;
}

std::string DecodePngRowsBehind(uint8_t* pixels, const PngRowLayout& layout, uint8_t* rowPair) {
    const size_t rowBytes = layout.RowBytes();
    const size_t stored = rowBytes + 1;
    const size_t outBytes = layout.width * 8;
    const uint8_t* image = pixels + outBytes * layout.height - stored * layout.height;
    // Row y is copied out before its pixels are written: they end where row y + 1 begins at the
    // earliest (a stored row is no longer than a widened one), and may cover row y itself.
    uint8_t* current = rowPair;
    uint8_t* prior = rowPair + stored;
    for (size_t y = 0; y < layout.height; ++y) {
        std::memcpy(current, image + y * stored, stored);
        if (!UnfilterPngRow(current[0], layout.PixelBytes(), y == 0 ? nullptr : prior + 1,
                            current + 1, rowBytes)) {
            return "bad adaptive filter value";  // libpng's words
        }
        WidenPngRow(current + 1, layout, pixels + y * outBytes);
        std::swap(current, prior);
    }
    return "";
}

IdRowsVerdict DecodeIdRows(uint8_t* image, const PngRowLayout& layout, uint16_t* ids, int& x,
                           int& y, uint16_t (&rgb)[3]) {
    const size_t rowBytes = layout.RowBytes();
    const auto channels = static_cast<size_t>(layout.channels);
    const bool wide = layout.bitDepth == 16;
    const uint8_t* prior = nullptr;
    for (size_t row = 0; row < layout.height; ++row) {
        uint8_t* samples = image + row * (rowBytes + 1);
        if (!UnfilterPngRow(samples[0], layout.PixelBytes(), prior, samples + 1, rowBytes)) {
            return ID_ROWS_BAD_FILTER;
        }
        ++samples;
        prior = samples;
        uint16_t* out = ids + row * layout.width;
        // Simple loops the compiler vectorises: grey rows are copied, colour rows compared
        // whole before any pixel is looked for.
        if (channels == 1 && !wide) {
            std::copy_n(samples, layout.width, out);
            continue;
        }
        if (channels == 1) {
            for (size_t i = 0; i < layout.width; ++i) {
                out[i] = static_cast<uint16_t>(samples[2 * i] << 8 | samples[2 * i + 1]);
            }
            continue;
        }
        const size_t step = channels * (wide ? 2 : 1);
        const size_t sample = wide ? 2 : 1;
        const auto value = [&](size_t i, size_t c) {
            const uint8_t* at = samples + i * step + c * sample;
            return static_cast<uint16_t>(wide ? at[0] << 8 | at[1] : at[0]);
        };
        unsigned differs = 0;
        for (size_t i = 0; i < layout.width; ++i) {
            const uint16_t red = value(i, 0);
            differs |=
                static_cast<unsigned>(red ^ value(i, 1)) | static_cast<unsigned>(red ^ value(i, 2));
            out[i] = red;
        }
        if (differs == 0) {
            continue;
        }
        for (size_t i = 0; i < layout.width; ++i) {
            rgb[0] = value(i, 0);
            rgb[1] = value(i, 1);
            rgb[2] = value(i, 2);
            if (rgb[0] != rgb[1] || rgb[1] != rgb[2]) {
                x = static_cast<int>(i);
                y = static_cast<int>(row);
                return ID_ROWS_UNGREY;
            }
        }
    }
    return ID_ROWS_DECODED;
}

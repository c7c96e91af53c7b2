// Chooses the palette indices of a frame's pixels, with the settings prepared once per frame.
#include "render/frame_mapper.h"

#include <cstring>

#include "render/palette_mapping.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

FrameMapper::FrameMapper(const PaletteRenderSettings& settings)
    : settings_(settings), uniform_(settings.method == METHOD_UNIFORM) {
    for (int k = 0; k < RANGE_COUNT; ++k) {
        const ColorRange& range = settings.ranges[k];
        const bool dither = range.dither != 0;
        // The level counts of UniformIndex (n) and DitheredIndex (m).
        const int levels =
            dither ? 2 * (range.last - range.first) + 1 : range.last - range.first + 1;
        steps_[k] = {levels / 65536.0, range.first, dither ? 1 : 0};
    }
}

FrameMapper::~FrameMapper() = default;

// UniformIndex and DitheredIndex with the range's constants worked out beforehand:
// trunc(levels x L / 65536) is trunc((levels / 65536) x L), bit for bit, because scaling
// by a power of two commutes with rounding.
int FrameMapper::MapUniform(const BMM_Color_64& pixel, unsigned id, int x, int y) const {
    const UniformStep& step = steps_[RangeIndexOf(id)];
    const int level =
        static_cast<int>(step.levelsOver65536 * Luminance(pixel.r, pixel.g, pixel.b));
    // level / 2 truncated toward zero, as a shift: add 1 to negative levels first.
    const int half = (level + ((level >> 31) & step.shift)) >> step.shift;
    const int odd = level & step.shift & (x + y);
    const int index = step.first + half + odd;
    // Only a dithered reversed range from 255 reaches 256; DitheredIndex keeps it 255.
    return index > 255 ? 255 : index;
}

template <typename Id>
void FrameMapper::MapUniformRow(const BMM_Color_64* pixels, const Id* ids, int count, int y,
                                uint8_t* indices) const {
    int x = 0;
#if defined(__SSE2__)
    // Four pixels of one identifier at a time, two per register: the same IEEE double
    // operations per lane as MapUniform, in the same order.
    const __m128d redWeight = _mm_set1_pd(0.3);
    const __m128d greenWeight = _mm_set1_pd(0.59);
    const __m128d blueWeight = _mm_set1_pd(0.11);
    const __m128i zero = _mm_setzero_si128();
    // x is a multiple of 4, so x + y is odd at the odd lanes when y is even.
    const __m128i oddLanes = (y & 1) == 0 ? _mm_set_epi32(1, 0, 1, 0) : _mm_set_epi32(0, 1, 0, 1);
    const auto luminance = [&](__m128i twoPixels) {
        const __m128i low = _mm_unpacklo_epi16(twoPixels, zero);   // r0 g0 b0 a0
        const __m128i high = _mm_unpackhi_epi16(twoPixels, zero);  // r1 g1 b1 a1
        const __m128i redGreen = _mm_unpacklo_epi32(low, high);    // r0 r1 g0 g1
        const __m128i blue = _mm_unpackhi_epi32(low, high);        // b0 b1 a0 a1
        const __m128d red = _mm_cvtepi32_pd(redGreen);
        const __m128d green = _mm_cvtepi32_pd(_mm_unpackhi_epi64(redGreen, redGreen));
        const __m128d sum = _mm_add_pd(_mm_mul_pd(redWeight, red), _mm_mul_pd(greenWeight, green));
        return _mm_add_pd(sum, _mm_mul_pd(blueWeight, _mm_cvtepi32_pd(blue)));
    };
    for (; x + 4 <= count; x += 4) {
        const Id id = ids[x];
        if (ids[x + 1] != id || ids[x + 2] != id || ids[x + 3] != id) {
            for (int i = x; i < x + 4; ++i) {
                indices[i] = static_cast<uint8_t>(MapUniform(pixels[i], ids[i], i, y));
            }
            continue;
        }
        const UniformStep& step = steps_[RangeIndexOf(id)];
        const __m128d scale = _mm_set1_pd(step.levelsOver65536);
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x + 2));
        const __m128i level = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(scale, luminance(first))),
                                                 _mm_cvttpd_epi32(_mm_mul_pd(scale, luminance(second))));
        const __m128i shift = _mm_set1_epi32(step.shift);
        const __m128i negative = _mm_srai_epi32(level, 31);
        const __m128i half = _mm_sra_epi32(_mm_add_epi32(level, _mm_and_si128(negative, shift)),
                                           _mm_cvtsi32_si128(step.shift));
        const __m128i odd = _mm_and_si128(_mm_and_si128(level, shift), oddLanes);
        const __m128i index =
            _mm_add_epi32(_mm_add_epi32(_mm_set1_epi32(step.first), half), odd);
        // Saturating packs keep 0..255 and turn the one possible 256 into 255.
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(index, zero), zero);
        const auto four = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
        std::memcpy(indices + x, &four, sizeof four);
    }
#endif
    for (; x < count; ++x) {
        indices[x] = static_cast<uint8_t>(MapUniform(pixels[x], ids[x], x, y));
    }
}

// Runs of pixels with one range go to its search together.
template <typename Id>
void FrameMapper::MapNearestRow(const BMM_Color_64* pixels, const Id* ids, int count,
                                uint8_t* indices) {
    int x = 0;
    while (x < count) {
        const unsigned rangeIndex = RangeIndexOf(ids[x]);
        int end = x + 1;
        while (end < count && RangeIndexOf(ids[end]) == rangeIndex) {
            ++end;
        }
        NearestSearch* search = SearchFor(rangeIndex);
        if (search != nullptr) {
            search->FindAll(pixels + x, static_cast<size_t>(end - x), indices + x);
        } else {
            const ColorRange& range = settings_.ranges[rangeIndex];
            for (int i = x; i < end; ++i) {
                indices[i] = static_cast<uint8_t>(
                    NearestIndex(settings_.palette, range, pixels[i].r, pixels[i].g, pixels[i].b));
            }
        }
        x = end;
    }
}

void FrameMapper::MapRow(const BMM_Color_64* pixels, const uint8_t* ids, int count, int y,
                         uint8_t* indices) {
    if (uniform_) {
        MapUniformRow(pixels, ids, count, y, indices);
    } else {
        MapNearestRow(pixels, ids, count, indices);
    }
}

void FrameMapper::MapRow(const BMM_Color_64* pixels, const uint16_t* ids, int count, int y,
                         uint8_t* indices) {
    if (uniform_) {
        MapUniformRow(pixels, ids, count, y, indices);
    } else {
        MapNearestRow(pixels, ids, count, indices);
    }
}

int FrameMapper::MapPixel(const BMM_Color_64& pixel, unsigned id, int x, int y) {
    if (uniform_) {
        return MapUniform(pixel, id, x, y);
    }
    const unsigned rangeIndex = RangeIndexOf(id);
    NearestSearch* search = SearchFor(rangeIndex);
    return search != nullptr ? search->Find(pixel.r, pixel.g, pixel.b)
                             : NearestIndex(settings_.palette, settings_.ranges[rangeIndex],
                                            pixel.r, pixel.g, pixel.b);
}

NearestSearch* FrameMapper::SearchFor(unsigned rangeIndex) {
    if (searchTried_[rangeIndex]) {
        return searches_[rangeIndex];
    }
    searchTried_[rangeIndex] = true;
    const ColorRange& range = settings_.ranges[rangeIndex];
    for (int k = 0; k < RANGE_COUNT; ++k) {
        const ColorRange& other = settings_.ranges[k];
        if (searches_[k] != nullptr && other.first == range.first && other.last == range.last) {
            searches_[rangeIndex] = searches_[k];
            return searches_[rangeIndex];
        }
    }
    try {
        owned_[rangeIndex] = std::make_unique<NearestSearch>(settings_.palette, range);
        if (owned_[rangeIndex]->Ready()) {
            searches_[rangeIndex] = owned_[rangeIndex].get();
        }
    } catch (...) {
        // Without memory for a search the range is scanned, with the same result.
    }
    return searches_[rangeIndex];
}

// Uniform mapping of whole rows, four pixels of one identifier at a time.
#include "render/uniform_rows.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The AVX2 kernel only where the compiler keeps 32-byte values aligned on the stack, which
// the 32-bit Windows build does not promise.
#if defined(__SSE2__) && defined(__x86_64__) && !defined(_WIN32)
#define KELVO_UNIFORM_AVX2 1
#include <immintrin.h>
#endif

UniformStep UniformStepOf(const ColorRange& range) {
    const bool dither = range.dither != 0;
    // The level counts of UniformIndex (n) and DitheredIndex (m).
    const int levels = dither ? 2 * (range.last - range.first) + 1 : range.last - range.first + 1;
    return {levels / 65536.0, range.first, dither ? 1 : 0};
}

namespace {

unsigned RangeIndexOf(unsigned id) {
    return id < RANGE_COUNT ? id : 0;
}

// Whether the four identifiers from ids[0] are one and the same.
bool SameFour(const uint8_t* ids) {
    uint32_t four;
    std::memcpy(&four, ids, sizeof four);
    return ((four ^ (four >> 8)) & 0x00FFFFFFu) == 0;
}
bool SameFour(const uint16_t* ids) {
    uint64_t four;
    std::memcpy(&four, ids, sizeof four);
    return ((four ^ (four >> 16)) & 0x0000FFFFFFFFFFFFull) == 0;
}

template <typename Id>
void MapScalar(const UniformStep* steps, const BMM_Color_64* pixels, const Id* ids, int from,
               int to, int y, uint8_t* indices) {
    for (int x = from; x < to; ++x) {
        indices[x] =
            static_cast<uint8_t>(UniformStepIndex(steps[RangeIndexOf(ids[x])], pixels[x], x, y));
    }
}

#if defined(__SSE2__)
// The red, green and blue of four pixels, one 32-bit lane per pixel.
struct FourColours {
    __m128i red, green, blue;
};

// Inline into each kernel, so that the AVX2 kernel gets its own encoding of it.
[[gnu::always_inline]] inline FourColours SplitFour(const BMM_Color_64* pixels) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 2));
    const __m128i evens = _mm_unpacklo_epi16(first, second);    // r0 r2 g0 g2 b0 b2 a0 a2
    const __m128i odds = _mm_unpackhi_epi16(first, second);     // r1 r3 g1 g3 b1 b3 a1 a3
    const __m128i redGreen = _mm_unpacklo_epi16(evens, odds);   // r0 r1 r2 r3 g0 g1 g2 g3
    const __m128i blueAlpha = _mm_unpackhi_epi16(evens, odds);  // b0 b1 b2 b3 a0 a1 a2 a3
    return {_mm_unpacklo_epi16(redGreen, zero), _mm_unpackhi_epi16(redGreen, zero),
            _mm_unpacklo_epi16(blueAlpha, zero)};
}

// What the lanes of one range need: its step, spread over the lanes.
struct RangeLanes {
    __m128i first;
    __m128i oddBits;  // the dither bit of each lane: (x + y) & shift
    int shift;
};

[[gnu::always_inline]] inline RangeLanes LanesOf(const UniformStep& step, __m128i oddLanes) {
    const __m128i shift = _mm_set1_epi32(step.shift);
    return {_mm_set1_epi32(step.first), _mm_and_si128(oddLanes, shift), step.shift};
}

// The four indices from the four levels, stored at `indices`.
[[gnu::always_inline]] inline void StoreFour(__m128i level, const RangeLanes& lanes,
                                             uint8_t* indices) {
    __m128i index;
    if (lanes.shift == 0) {
        index = _mm_add_epi32(lanes.first, level);
    } else {
        // level / 2 truncated toward zero: add the sign bit before the arithmetic shift.
        const __m128i half = _mm_srai_epi32(_mm_add_epi32(level, _mm_srli_epi32(level, 31)), 1);
        const __m128i odd = _mm_and_si128(level, lanes.oddBits);
        index = _mm_add_epi32(_mm_add_epi32(lanes.first, half), odd);
    }
    // Saturating packs keep 0..255 and turn the one possible 256 into 255.
    const __m128i words = _mm_packs_epi32(index, index);
    const auto four = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
    std::memcpy(indices, &four, sizeof four);
}

// x is a multiple of 4, so x + y is odd at lanes 1 and 3 on even rows, 0 and 2 on odd ones.
__m128i OddLanes(int y) {
    return (y & 1) == 0 ? _mm_set_epi32(1, 0, 1, 0) : _mm_set_epi32(0, 1, 0, 1);
}

// Two lanes of luminance, (0.3 R + 0.59 G) + 0.11 B, scaled by the step: the operations
// of UniformStepIndex in the same order.
inline __m128i TwoLevels(__m128i red, __m128i green, __m128i blue, __m128d scale) {
    const __m128d sum = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(0.3), _mm_cvtepi32_pd(red)),
                                   _mm_mul_pd(_mm_set1_pd(0.59), _mm_cvtepi32_pd(green)));
    const __m128d luminance = _mm_add_pd(sum, _mm_mul_pd(_mm_set1_pd(0.11), _mm_cvtepi32_pd(blue)));
    return _mm_cvttpd_epi32(_mm_mul_pd(scale, luminance));
}

template <typename Id>
void MapSse2(const UniformStep* steps, const BMM_Color_64* pixels, const Id* ids, int count, int y,
             uint8_t* indices) {
    const __m128i oddLanes = OddLanes(y);
    unsigned current = RANGE_COUNT;  // no range yet
    RangeLanes lanes{};
    __m128d scale = _mm_setzero_pd();
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        if (!SameFour(ids + x)) {
            MapScalar(steps, pixels, ids, x, x + 4, y, indices);
            continue;
        }
        const unsigned range = RangeIndexOf(ids[x]);
        if (range != current) {
            current = range;
            lanes = LanesOf(steps[range], oddLanes);
            scale = _mm_set1_pd(steps[range].levelsOver65536);
        }
        const FourColours colours = SplitFour(pixels + x);
        const __m128i low = TwoLevels(colours.red, colours.green, colours.blue, scale);
        const __m128i high = TwoLevels(_mm_unpackhi_epi64(colours.red, colours.red),
                                       _mm_unpackhi_epi64(colours.green, colours.green),
                                       _mm_unpackhi_epi64(colours.blue, colours.blue), scale);
        StoreFour(_mm_unpacklo_epi64(low, high), lanes, indices + x);
    }
    MapScalar(steps, pixels, ids, x, count, y, indices);
}
#endif

#if defined(KELVO_UNIFORM_AVX2)
// The same operations as TwoLevels on four lanes at once.
__attribute__((target("avx2"))) inline __m128i FourLevels(const FourColours& colours,
                                                          __m256d scale) {
    const __m256d sum =
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.3), _mm256_cvtepi32_pd(colours.red)),
                      _mm256_mul_pd(_mm256_set1_pd(0.59), _mm256_cvtepi32_pd(colours.green)));
    const __m256d luminance =
        _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(0.11), _mm256_cvtepi32_pd(colours.blue)));
    return _mm256_cvttpd_epi32(_mm256_mul_pd(scale, luminance));
}

template <typename Id>
__attribute__((target("avx2"))) void MapAvx2(const UniformStep* steps, const BMM_Color_64* pixels,
                                             const Id* ids, int count, int y, uint8_t* indices) {
    const __m128i oddLanes = OddLanes(y);
    unsigned current = RANGE_COUNT;
    RangeLanes lanes{};
    __m256d scale = _mm256_setzero_pd();
    int x = 0;
    for (; x + 4 <= count; x += 4) {
        if (!SameFour(ids + x)) {
            MapScalar(steps, pixels, ids, x, x + 4, y, indices);
            continue;
        }
        const unsigned range = RangeIndexOf(ids[x]);
        if (range != current) {
            current = range;
            lanes = LanesOf(steps[range], oddLanes);
            scale = _mm256_set1_pd(steps[range].levelsOver65536);
        }
        StoreFour(FourLevels(SplitFour(pixels + x), scale), lanes, indices + x);
    }
    MapScalar(steps, pixels, ids, x, count, y, indices);
}

bool DetectAvx2() {
    __builtin_cpu_init();  // may run before the library's own detection has
    return __builtin_cpu_supports("avx2") != 0;
}
const bool HAS_AVX2 = DetectAvx2();
#endif

template <typename Id>
void MapRow(UniformKernel kernel, const UniformStep* steps, const BMM_Color_64* pixels,
            const Id* ids, int count, int y, uint8_t* indices) {
    switch (kernel) {
#if defined(KELVO_UNIFORM_AVX2)
        case UniformKernel::AVX2:
            if (HAS_AVX2) {
                MapAvx2(steps, pixels, ids, count, y, indices);
                return;
            }
            break;
#endif
#if defined(__SSE2__)
        case UniformKernel::SSE2:
            MapSse2(steps, pixels, ids, count, y, indices);
            return;
#endif
        default:
            break;
    }
    MapScalar(steps, pixels, ids, 0, count, y, indices);
}

}  // namespace

bool UniformKernelAvailable(UniformKernel kernel) {
    switch (kernel) {
        case UniformKernel::SCALAR:
            return true;
        case UniformKernel::SSE2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case UniformKernel::AVX2:
#if defined(KELVO_UNIFORM_AVX2)
            return HAS_AVX2;
#else
            return false;
#endif
    }
    return false;
}

UniformKernel FastestUniformKernel() {
    if (UniformKernelAvailable(UniformKernel::AVX2)) {
        return UniformKernel::AVX2;
    }
    return UniformKernelAvailable(UniformKernel::SSE2) ? UniformKernel::SSE2
                                                       : UniformKernel::SCALAR;
}

void MapUniformRow(UniformKernel kernel, const UniformStep* steps, const BMM_Color_64* pixels,
                   const uint8_t* ids, int count, int y, uint8_t* indices) {
    MapRow(kernel, steps, pixels, ids, count, y, indices);
}

void MapUniformRow(UniformKernel kernel, const UniformStep* steps, const BMM_Color_64* pixels,
                   const uint16_t* ids, int count, int y, uint8_t* indices) {
    MapRow(kernel, steps, pixels, ids, count, y, indices);
}

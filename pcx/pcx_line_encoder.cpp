// Run-length encodes one scan line of palette indices the way PCX files store them.
#include "pcx/pcx_line_encoder.h"

#include <cstring>

#include "pcx/pcx_format.h"

// With SSE2 (every x86-64, and the 32-bit build's baseline) the encoder looks at sixteen
// bytes at a time; SSSE3, where the processor has it, spreads escaped bytes in one step.
#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace {

// Every byte as it is written when it stands alone: two bytes (0xC1, value) from 0xC0 up,
// itself below. Low 16 bits: the bytes, little-endian; bits 16 up: how many.
struct SingleCodes {
    uint32_t codes[256];
    constexpr SingleCodes() : codes() {
        for (uint32_t value = 0; value < 256; ++value) {
            codes[value] = value >= PCX_RUN_FLAG ? (2u << 16) | (value << 8) | (PCX_RUN_FLAG | 1u)
                                                 : (1u << 16) | value;
        }
    }
};
constexpr SingleCodes SINGLE_CODES;

// Writes one byte that stands alone. Always stores two bytes; the second is overwritten by
// the next item when only one counts.
inline uint8_t* PutSingle(uint8_t* out, uint8_t value) {
    const uint32_t code = SINGLE_CODES.codes[value];
    const auto bytes = static_cast<uint16_t>(code);
    std::memcpy(out, &bytes, sizeof bytes);
    return out + (code >> 16);
}

#if defined(__SSE2__)
// For eight bytes that each stand alone, with bit i of the mask set when byte i is 0xC0 or
// more: how to pick the output from the sixteen bytes 0xC1, b0, 0xC1, b1, ..., 0xC1, b7
// (drop the 0xC1 before every byte below 0xC0), and how many bytes that gives.
struct SpreadTable {
    uint8_t shuffle[256][16];
    uint8_t length[256];
    constexpr SpreadTable() : shuffle(), length() {
        for (int mask = 0; mask < 256; ++mask) {
            int used = 0;
            for (int i = 0; i < 8; ++i) {
                if ((mask >> i) & 1) {
                    shuffle[mask][used++] = static_cast<uint8_t>(2 * i);
                }
                shuffle[mask][used++] = static_cast<uint8_t>(2 * i + 1);
            }
            for (int i = used; i < 16; ++i) {
                shuffle[mask][i] = 0x80;  // zero; overwritten by what follows
            }
            length[mask] = static_cast<uint8_t>(used);
        }
    }
};
constexpr SpreadTable SPREAD_TABLE;

// Writes sixteen bytes that each stand alone, `flagged` marking those of 0xC0 and up.
// Stores sixteen bytes at a time; what lies past the returned end is overwritten later.
__attribute__((target("ssse3"))) uint8_t* PutSixteenSinglesSsse3(uint8_t* out, __m128i bytes,
                                                                 unsigned flagged) {
    const __m128i marker = _mm_set1_epi8(static_cast<char>(PCX_RUN_FLAG | 1));
    const unsigned low = flagged & 0xFF;
    const unsigned high = flagged >> 8;
    const __m128i lowPairs = _mm_unpacklo_epi8(marker, bytes);
    const __m128i highPairs = _mm_unpackhi_epi8(marker, bytes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(lowPairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                    SPREAD_TABLE.shuffle[low]))));
    out += SPREAD_TABLE.length[low];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(highPairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                     SPREAD_TABLE.shuffle[high]))));
    return out + SPREAD_TABLE.length[high];
}

bool DetectSsse3() {
    __builtin_cpu_init();  // may run before the library's own detection has
    return __builtin_cpu_supports("ssse3") != 0;
}
const bool HAS_SSSE3 = DetectSsse3();
#endif

// The length of the run of row[0] within row[0..limit), limit at most PCX_MAX_RUN.
inline size_t RunLength(const uint8_t* row, size_t limit) {
    const uint8_t value = row[0];
    size_t count = 1;
#if defined(__SSE2__)
    const __m128i repeated = _mm_set1_epi8(static_cast<char>(value));
    while (count + 16 <= limit) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + count));
        const auto equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next, repeated)));
        if (equal != 0xFFFF) {
            return count + static_cast<size_t>(__builtin_ctz(~equal));
        }
        count += 16;
    }
#endif
    while (count < limit && row[count] == value) {
        ++count;
    }
    return count;
}

template <bool USE_SSSE3>
size_t EncodeLine(const uint8_t* row, size_t width, uint8_t* out) {
    uint8_t* const start = out;
    const uint8_t* at = row;
    const uint8_t* const end = row + width;
    while (at < end) {
#if defined(__SSE2__)
        // Sixteen bytes none of which equals its right neighbour are sixteen single items.
        if (end - at > 16) {
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 1));
            const auto equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, next)));
            const int singles = equal == 0 ? 16 : __builtin_ctz(equal);
            const __m128i flagged = _mm_cmpeq_epi8(
                _mm_max_epu8(here, _mm_set1_epi8(static_cast<char>(PCX_RUN_FLAG))), here);
            if (singles == 16) {
                const auto flaggedBits = static_cast<unsigned>(_mm_movemask_epi8(flagged));
                if (flaggedBits == 0) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), here);
                    out += 16;
#if defined(__SSE2__)
                } else if (USE_SSSE3) {
                    out = PutSixteenSinglesSsse3(out, here, flaggedBits);
#endif
                } else {
                    for (int i = 0; i < 16; ++i) {  // unrolled: no loop test per byte
                        out = PutSingle(out, at[i]);
                    }
                }
                at += 16;
                continue;
            }
            for (int i = 0; i < singles; ++i) {
                out = PutSingle(out, at[i]);
            }
            at += singles;
        }
#endif
        const size_t left = static_cast<size_t>(end - at);
        const size_t count = RunLength(at, left < PCX_MAX_RUN ? left : PCX_MAX_RUN);
        if (count == 1) {
            out = PutSingle(out, at[0]);
        } else {
            out[0] = static_cast<uint8_t>(PCX_RUN_FLAG | count);
            out[1] = at[0];
            out += 2;
        }
        at += count;
    }
    return static_cast<size_t>(out - start);
}

}  // namespace

size_t EncodePcxLine(const uint8_t* row, size_t width, uint8_t* out) {
#if defined(__SSE2__)
    if (HAS_SSSE3) {
        return EncodeLine<true>(row, width, out);
    }
#endif
    return EncodeLine<false>(row, width, out);
}

size_t EncodePcxLineWithoutSsse3(const uint8_t* row, size_t width, uint8_t* out) {
    return EncodeLine<false>(row, width, out);
}

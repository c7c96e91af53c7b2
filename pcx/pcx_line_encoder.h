// Run-length encodes one scan line of palette indices the way PCX files store them.
#pragma once

#include <cstddef>
#include <cstdint>

// Encodes `width` indices into `out`, which must hold 2 x width bytes, and returns the
// number of bytes written. Greedy: each item is the longest run (at most 63) of equal bytes
// from where the previous item ended; a run of 2 or more, or a single byte of 0xC0 and up,
// is written as 0xC0 | count and the value, any other single byte as itself.
size_t EncodePcxLine(const uint8_t* row, size_t width, uint8_t* out);

// The same without the SSSE3 instructions used where the processor has them; for tests.
size_t EncodePcxLineWithoutSsse3(const uint8_t* row, size_t width, uint8_t* out);

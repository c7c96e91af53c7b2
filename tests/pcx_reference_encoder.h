// The PCX run-length rule taken literally, to check the fast encoder's bytes against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One position at a time, each run extended byte by byte: at most 63 long, never past the
// end of a scan line; runs of two or more and single bytes from 0xC0 up get a count byte.
inline std::vector<uint8_t> ReferencePcxEncode(const std::vector<uint8_t>& indices, size_t width) {
    std::vector<uint8_t> out;
    const size_t total = indices.size();
    size_t p = 0;
    while (p < total) {
        const uint8_t b = indices[p];
        size_t count = 0;
        do {
            ++count;
            ++p;
        } while (count < 63 && p % width != 0 && p != total && indices[p] == b);
        if (count >= 2 || b >= 0xC0) {
            out.push_back(static_cast<uint8_t>(0xC0 | count));
        }
        out.push_back(b);
    }
    return out;
}

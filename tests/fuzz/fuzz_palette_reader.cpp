// Fuzzes the palette reader with arbitrary files, shorter than a palette included.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pcx/pcx_palette_reader.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = FuzzScratchDirectory() + "/palette.pcx";
    FILE* file = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);

    PaletteEntry palette[PALETTE_ENTRIES];
    std::memset(palette, 0x5A, sizeof palette);
    const int result = ReadPcxPalette(path.c_str(), palette);
    if (size >= PALETTE_BYTES) {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(std::memcmp(palette, data + size - PALETTE_BYTES, PALETTE_BYTES) == 0);
    } else {
        FUZZ_CHECK(result == 0);
        for (const PaletteEntry& entry : palette) {
            FUZZ_CHECK(entry.red == 0x5A && entry.green == 0x5A && entry.blue == 0x5A);
        }
    }
    return 0;
}

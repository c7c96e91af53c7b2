// Reads a 256-colour palette from the last 768 bytes of a file.
#include "pcx/pcx_palette_reader.h"

#include <cstdio>
#include <cstring>

int ReadPcxPalette(const char* path, PaletteEntry* palette) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return 0;
    }
    // Read into a local copy first: a short file must not leave half a palette behind.
    uint8_t bytes[PALETTE_BYTES];
    const bool read = std::fseek(file, -PALETTE_BYTES, SEEK_END) == 0 &&
                      std::fread(bytes, 1, sizeof bytes, file) == sizeof bytes;
    std::fclose(file);
    if (!read) {
        return 0;
    }
    std::memcpy(palette, bytes, sizeof bytes);
    return 1;
}

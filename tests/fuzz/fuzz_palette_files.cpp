// Fuzzes kelvo's palette file decoder: any bytes, under any --palette-depth, give a reason and
// an untouched palette, or 1 to 256 colours with black after them; and the colours read back
// the same from JASC-PAL, GIMP and raw files written from them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kelvo/imageio/palette_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::vector<uint8_t> Text(const std::string& text) {
    return {text.begin(), text.end()};
}

// The first `count` entries as JASC-PAL (CRLF, an alpha column), as a GIMP palette with names,
// and as a raw 768-byte file.
std::vector<std::vector<uint8_t>> Rewritten(const PaletteEntry* palette, int count) {
    std::string jasc = "JASC-PAL\r\n0100\r\n" + std::to_string(count) + "\r\n";
    std::string gimp = "GIMP Palette\nName: fuzz\nColumns: 16\n#\n";
    for (int i = 0; i < count; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%d %d %d", palette[i].red, palette[i].green,
                      palette[i].blue);
        jasc += std::string(line) + " 255\r\n";
        gimp += std::string(line) + "\tcolour " + std::to_string(i) + "\n";
    }
    std::vector<uint8_t> raw(PALETTE_BYTES);
    std::memcpy(raw.data(), palette, PALETTE_BYTES);
    return {Text(jasc), Text(gimp), raw};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const auto depth = static_cast<PaletteDepth>(input.Byte() % 3);
    const std::vector<uint8_t> bytes(input.Rest(), input.Rest() + input.Remaining());

    PaletteEntry palette[PALETTE_ENTRIES];
    std::memset(palette, 0x5A, sizeof palette);
    PaletteFileInfo info;
    std::string error;
    if (!DecodePaletteFile(bytes, depth, palette, info, error)) {
        FUZZ_CHECK(!error.empty());
        for (const PaletteEntry& entry : palette) {
            FUZZ_CHECK(entry.red == 0x5A && entry.green == 0x5A && entry.blue == 0x5A);
        }
        return 0;
    }
    FUZZ_CHECK(info.entries >= 1 && info.entries <= PALETTE_ENTRIES);
    FUZZ_CHECK(info.transparentIndex >= -1 && info.transparentIndex < info.entries);
    for (int i = info.entries; i < PALETTE_ENTRIES; ++i) {
        FUZZ_CHECK(palette[i].red == 0 && palette[i].green == 0 && palette[i].blue == 0);
    }
    (void)DescribePaletteFile(info);

    // Read back at 8 bits, the colours are the same in every format.
    for (const std::vector<uint8_t>& file : Rewritten(palette, info.entries)) {
        PaletteEntry again[PALETTE_ENTRIES];
        PaletteFileInfo againInfo;
        FUZZ_CHECK(DecodePaletteFile(file, PALETTE_DEPTH_8, again, againInfo, error) == 1);
        FUZZ_CHECK(std::memcmp(again, palette, sizeof palette) == 0);
    }
    return 0;
}

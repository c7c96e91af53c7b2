// The palette files kelvo takes, and those it refuses rather than read as colours.
#include "kelvo/imageio/palette_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PaletteFileTest, TakesPcxTrailersOnlyAndSaysWhatItReads) {
    // A PCX file: the header's manufacturer byte, some image data, the marker and 256 colours.
    std::vector<uint8_t> pcx(128 + 5, 0);
    pcx[0] = 10;
    pcx.push_back(12);
    for (int i = 0; i < 768; ++i) {
        pcx.push_back(static_cast<uint8_t>(i * 7));
    }
    std::vector<uint8_t> noMarker = pcx;
    noMarker[noMarker.size() - 769] = 0;
    std::vector<uint8_t> block(1084, 0);
    block[0] = 101;
    const std::string jasc = "JASC-PAL\r\n0100\r\n256\r\n" + std::string(2000, '0');
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* error;  // null: taken
    };
    const Case cases[] = {
        {"PCX with a 256-colour trailer", pcx, nullptr},
        {"PCX without the trailer's marker", noMarker, "without a 256-colour palette"},
        {"a settings block", block, "not a PCX file"},
        {"JASC text", {jasc.begin(), jasc.end()}, "not a PCX file"},
        {"shorter than a header and a trailer", {10, 5, 1, 8}, "not a PCX file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteEntry palette[PALETTE_ENTRIES] = {};
        std::string error;
        ASSERT_EQ(DecodePaletteFile(c.bytes, palette, error), c.error == nullptr ? 1 : 0);
        if (c.error == nullptr) {
            EXPECT_EQ(palette[1].red, 21);  // byte 3 of the palette: 3 x 7
            EXPECT_EQ(palette[255].blue, static_cast<uint8_t>(767 * 7));
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            EXPECT_NE(error.find(PALETTE_FORMATS), std::string::npos) << error;
        }
    }
}

}  // namespace

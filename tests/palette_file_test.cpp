// The palette files kelvo takes, as other programs write them (tests/data/palettes, written
// by make_palettes.py there, partly with Pillow), and those it refuses rather than read as
// colours.
#include "kelvo/imageio/palette_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/pcx_decoder.h"

namespace {

// Entry i of every fixture, as make_palettes.py writes it.
PaletteEntry FixtureColour(int i) {
    return {static_cast<uint8_t>((i * 67 + 13) % 256), static_cast<uint8_t>((i * 151 + 101) % 256),
            static_cast<uint8_t>((i * 29 + 200) % 256)};
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(PaletteFileTest, ReadsEveryFormatAsOtherProgramsWriteIt) {
    struct Case {
        const char* file;
        const char* format;
        int entries;
        PaletteDepth depth;
        int shift;         // the values were written divided by 2^shift (6-bit: 2)
        const char* note;  // part of what kelvo says; "" for nothing
    };
    const Case cases[] = {
        {"pillow.pcx", "PCX", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"pillow.png", "indexed PNG", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"pillow_16.png", "indexed PNG", 16, PALETTE_DEPTH_GUESS, 0,
         "16 colours (indexed PNG), so entries 16-255 are black"},
        {"jasc_crlf.pal", "JASC-PAL", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"jasc_alpha_lf.pal", "JASC-PAL", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"gimp.gpl", "GIMP GPL", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"aseprite.gpl", "GIMP GPL", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"photoshop.act", "Photoshop ACT", 240, PALETTE_DEPTH_GUESS, 0,
         "240 colours (Photoshop ACT), so entries 240-255 are black; entry 3 marked transparent "
         "(--transparent 3"},
        {"riff.pal", "RIFF PAL", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"raw8.pal", "raw", 256, PALETTE_DEPTH_GUESS, 0, ""},
        {"raw6.pal", "raw", 256, PALETTE_DEPTH_GUESS, 2,
         "6-bit values (0-63), scaled by 255/63 and rounded, as every byte is 63 or less"},
        {"raw6.pal", "raw", 256, PALETTE_DEPTH_8, 2, ""},
        {"raw8.pal", "raw", 256, PALETTE_DEPTH_6, 0, "scaled by 255/63 and rounded"},
        {"lospec.hex", "Lospec .hex", 32, PALETTE_DEPTH_GUESS, 0,
         "32 colours (Lospec .hex), so entries 32-255 are black"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " depth " + std::to_string(c.depth));
        const std::vector<uint8_t> bytes =
            ReadWholeFile(std::string(KELVO_TEST_DATA) + "/palettes/" + c.file);
        ASSERT_FALSE(bytes.empty());
        PaletteEntry palette[PALETTE_ENTRIES];
        PaletteFileInfo info;
        std::string error;
        ASSERT_EQ(DecodePaletteFile(bytes, c.depth, palette, info, error), 1) << error;
        EXPECT_STREQ(info.format, c.format);
        EXPECT_EQ(info.entries, c.entries);
        const bool sixBit =
            c.depth == PALETTE_DEPTH_6 || (c.shift == 2 && c.depth != PALETTE_DEPTH_8);
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            const PaletteEntry written = FixtureColour(i);
            const uint8_t values[3] = {written.red, written.green, written.blue};
            const uint8_t got[3] = {palette[i].red, palette[i].green, palette[i].blue};
            for (int channel = 0; channel < 3; ++channel) {
                int want = values[channel] >> c.shift;
                want = sixBit ? std::min(255, (want * 255 + 31) / 63) : want;
                ASSERT_EQ(got[channel], i < c.entries ? want : 0) << "entry " << i;
            }
        }
        const std::string note = DescribePaletteFile(info);
        EXPECT_EQ(note.empty(), *c.note == '\0') << note;
        EXPECT_NE(note.find(c.note), std::string::npos) << note;
    }
}

TEST(PaletteFileTest, RefusesWhatIsNoPaletteAndMoreThan256Colours) {
    std::vector<uint8_t> noMarker =
        ReadWholeFile(std::string(KELVO_TEST_DATA) + "/palettes/pillow.pcx");
    noMarker[noMarker.size() - 769] = 0;
    std::vector<uint8_t> block(1084, 0);
    block[0] = 101;
    std::vector<uint8_t> badCrc =
        ReadWholeFile(std::string(KELVO_TEST_DATA) + "/palettes/pillow_16.png");
    badCrc[45] ^= 1;  // a PLTE byte: the PLTE chunk starts at 33, its data at 41
    std::vector<uint8_t> rgbPng = ReadWholeFile(std::string(KELVO_TEST_DATA) + "/png/rgb8.png");
    std::vector<uint8_t> act(772, 0);
    act[768] = 1;  // 256 + 44 colours
    act[769] = 44;
    std::string gpl257 = "GIMP Palette\n";
    std::string hex257;
    for (int i = 0; i < 257; ++i) {
        gpl257 += "1 2 3\n";
        hex257 += "0a0b0c\n";
    }
    // RIFF, its size, "PAL ", a data chunk of 8 bytes that claims 5 colours.
    const std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 20,  0,   0, 0, 'P', 'A',
                                       'L', ' ', 'd', 'a', 't', 'a', 8, 0, 0,   0,
                                       0,   3,   5,   0,   1,   2,   3, 0};
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* error;
    };
    const Case cases[] = {
        {"PCX without the trailer's marker", noMarker, "without a 256-colour palette"},
        {"a settings block", block, "not a palette file kelvo knows (1084 bytes)"},
        {"empty", {}, "not a palette file kelvo knows (0 bytes)"},
        {"PLTE with a bad CRC", badCrc, "PLTE: CRC error"},
        {"RGB PNG", rgbPng, "a PNG file that is not indexed"},
        {"ACT counting 300 colours", act, "its count (300)"},
        {"JASC count and lines differ", Bytes("JASC-PAL\n0100\n3\n1 2 3\n4 5 6\n"),
         "count line says 3 colours but which has 2"},
        {"JASC of 257", Bytes("JASC-PAL\n0100\n257\n"),
         "it has 257 colours; a palette has at most"},
        {"JASC value above 255", Bytes("JASC-PAL\n0100\n1\n1 2 256\n"), "line 4: expected R G B"},
        {"GPL of 257", Bytes(gpl257), "it has 257 colours"},
        {"GPL line without blue", Bytes("GIMP Palette\n# x\n1 2 name\n"), "line 3: expected R G B"},
        {"GPL of other channels", Bytes("GIMP Palette\nChannels: CMYK\n"), "channels 'CMYK'"},
        {"hex of 257", Bytes(hex257), "it has 257 colours"},
        {"RIFF data shorter than its count", riff, "shorter than its count says"},
        {"text of no format", Bytes("red\ngreen\n"), "not a palette file kelvo knows"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaletteEntry palette[PALETTE_ENTRIES] = {};
        palette[7] = {1, 2, 3};
        PaletteFileInfo info;
        std::string error;
        ASSERT_EQ(DecodePaletteFile(c.bytes, PALETTE_DEPTH_GUESS, palette, info, error), 0);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_EQ(palette[7].blue, 3);  // left as it was
    }
}

}  // namespace

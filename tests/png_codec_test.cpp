// The PNG reader and preview writer (libpng, on every system) on the committed files in
// tests/data/png, which libpng wrote: every build must decode and refuse them alike.
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>

#include "kelvo/imageio/palette_file.h"
#include "kelvo/imageio/png_image.h"
#include "kelvo/imageio/png_preview.h"
#include "tests/image_files.h"
#include "tests/pcx_decoder.h"
#include "tests/temp_dir.h"

namespace {

std::string Fixture(const std::string& name) {
    return std::string(KELVO_TEST_DATA) + "/png/" + name;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

uint32_t GetBe32(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) << 24 | bytes[offset + 1] << 16 |
           bytes[offset + 2] << 8 | bytes[offset + 3];
}

TEST(PngCodecTest, DecodesEveryLayoutTo16BitRgbaAsStored) {
    struct Case {
        const char* file;
        std::vector<uint16_t> rgba;
    };
    const Case cases[] = {
        {"grey1.png", {65280, 65280, 65280, 65535, 0, 0, 0, 65535}},
        // 4-bit 1 is 0x11 at 8 bits.
        {"grey4.png", {4352, 4352, 4352, 65535, 65280, 65280, 65280, 65535}},
        {"grey8.png", {0, 0, 0, 65535, 51200, 51200, 51200, 65535}},
        {"grey16.png", {0x1234, 0x1234, 0x1234, 65535}},
        // tRNS names grey 200 (and 0x1234) transparent.
        {"grey8_trns.png", {51200, 51200, 51200, 0, 1280, 1280, 1280, 65535}},
        {"grey16_trns.png", {0x1234, 0x1234, 0x1234, 0, 5, 5, 5, 65535}},
        {"grey_alpha8.png", {2560, 2560, 2560, 5140}},
        {"grey_alpha16.png", {0x1234, 0x1234, 0x1234, 0x0102}},
        {"rgb8.png", {256, 512, 65280, 65535, 1792, 2048, 2304, 65535}},
        {"rgb8_trns.png", {256, 512, 65280, 0, 1792, 2048, 2304, 65535}},
        {"rgb16.png", {1, 0xFF00, 0x00FF, 65535, 0x1234, 0x5678, 0x9ABC, 65535}},
        // Its gAMA chunk is not applied.
        {"rgb16_gamma.png", {0x1234, 0x5678, 0x9ABC, 65535}},
        {"rgba8.png", {256, 512, 768, 1028}},
        {"rgba16.png", {1, 2, 3, 4, 0x1234, 0x5678, 0x9ABC, 0xDEF0}},
        {"palette1.png", {25600, 38400, 51200, 65535, 2304, 2048, 1792, 65535}},
        {"palette8.png", {25600, 38400, 51200, 65535, 2304, 2048, 1792, 65535}},
        {"palette4_trns.png", {2304, 2048, 1792, 32896, 256, 512, 768, 65535}},
        {"grey16_interlaced.png",
         {1, 1, 1, 65535, 2, 2, 2, 65535, 3, 3, 3, 65535, 4, 4, 4, 65535, 5, 5, 5, 65535,
          6, 6, 6, 65535, 7, 7, 7, 65535, 8, 8, 8, 65535, 9, 9, 9, 65535}},
        // Pixel i is (i + 1, 2i + 2, 255 - i).
        {"rgb8_interlaced.png",
         {256,  512,  65280, 65535, 512,  1024, 65024, 65535, 768,  1536, 64768, 65535,
          1024, 2048, 64512, 65535, 1280, 2560, 64256, 65535, 1536, 3072, 64000, 65535,
          1792, 3584, 63744, 65535, 2048, 4096, 63488, 65535, 2304, 4608, 63232, 65535}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ColorImage image;
        std::string error;
        ASSERT_EQ(ReadColorPng(Fixture(c.file), image, error), 1) << error;
        EXPECT_EQ(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4,
                  c.rgba.size());
        EXPECT_EQ(image.rgba, c.rgba);
    }
}

TEST(PngCodecTest, ReadsIdentifiersAsStored) {
    struct Case {
        const char* file;
        std::vector<uint16_t> ids;
    };
    const Case cases[] = {
        {"ids8.png", {0, 15, 255}},
        {"ids16.png", {300, 65535}},
        // A transparent grey value changes nothing about the identifiers.
        {"grey8_trns.png", {200, 5}},
        {"grey16_trns.png", {0x1234, 5}},
        // RGB with equal channels, as renderers write index passes.
        {"ids_rgb8.png", {5, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        IdImage ids;
        std::string error;
        ASSERT_EQ(ReadIdPng(Fixture(c.file), ids, error), 1) << error;
        EXPECT_EQ(ids.ids, c.ids);
        EXPECT_EQ(static_cast<size_t>(ids.width), c.ids.size());
    }
}

TEST(PngCodecTest, RefusesWhatIsNoIdentifierPass) {
    struct Case {
        const char* file;
        const char* error;
    };
    const Case cases[] = {
        {"rgb8.png", "or an RGB one with equal channels; pixel (0, 0) is (1, 2, 255)"},
        {"grey_alpha16.png", "not grey+alpha of 16 bits"},
        {"palette8.png", "not palette of 8 bits"},
        {"grey4.png", "not grey of 4 bits"},
        {"rgba8.png", "pixel (0, 0) is (1, 2, 3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        IdImage ids;
        std::string error;
        EXPECT_EQ(ReadIdPng(Fixture(c.file), ids, error), 0);
        EXPECT_TRUE(Contains(error, c.error)) << error;
    }
}

TEST(PngCodecTest, RefusesDamagedFilesWithAReason) {
    TempDir dir;
    const std::vector<uint8_t> whole = ReadWholeFile(Fixture("beauty_0008.png"));
    // The signature and IHDR, then a text chunk that claims nearly 2 GiB: refused before libpng
    // allocates for it.
    std::vector<uint8_t> longChunk(whole.begin(), whole.begin() + 33);
    longChunk.insert(longChunk.end(), {0x7F, 0xFF, 0xFF, 0x00, 't', 'E', 'X', 't', 'a', 0});
    struct Case {
        const char* name;
        size_t keep;
        std::vector<uint8_t> bytes;
        const char* error;
    };
    const Case cases[] = {
        {"missing", 0, {}, "No such file or directory"},
        {"text", 0, {'h', 'e', 'l', 'l', 'o', '\n', '.', '.', '.'}, "not a PNG file"},
        {"signature only", 8, {}, "damaged: the file is cut short"},
        {"header cut", 20, {}, "damaged: the file is cut short"},
        {"chunk longer than the file", 0, longChunk, "damaged: the file is cut short"},
        // The identifier reader refuses its colour type before it reaches the pixels.
        {"pixels cut", whole.size() - 40, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(std::string(c.name) + ".png");
        if (c.keep > 0 || !c.bytes.empty()) {
            const std::vector<uint8_t> bytes =
                c.keep > 0 ? std::vector<uint8_t>(
                                 whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.keep))
                           : c.bytes;
            FILE* file = std::fopen(path.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
            ASSERT_EQ(std::fclose(file), 0);
        }
        ColorImage image;
        IdImage ids;
        std::string colorError;
        std::string idError;
        EXPECT_EQ(ReadColorPng(path, image, colorError), 0);
        EXPECT_EQ(ReadIdPng(path, ids, idError), 0);
        EXPECT_FALSE(colorError.empty());
        EXPECT_TRUE(Contains(colorError, c.error)) << colorError;
        EXPECT_TRUE(Contains(idError, c.error)) << idError;
    }
}

TEST(PngCodecTest, ReadsTheHeaderAlone) {
    struct Case {
        const char* file;
        PngHeader expected;
    };
    const Case cases[] = {
        {"palette4_trns.png", {2, 1, 3, 4, 1}},
        {"grey_alpha16.png", {1, 1, 4, 16, 2}},
        {"grey16_interlaced.png", {3, 3, 0, 16, 1}},
        {"rgba8.png", {1, 1, 6, 8, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        PngHeader header;
        std::string error;
        ASSERT_EQ(ReadPngHeader(Fixture(c.file), header, error), 1) << error;
        EXPECT_EQ(header.width, c.expected.width);
        EXPECT_EQ(header.height, c.expected.height);
        EXPECT_EQ(header.colorType, c.expected.colorType);
        EXPECT_EQ(header.bitDepth, c.expected.bitDepth);
        EXPECT_EQ(header.channels, c.expected.channels);
    }
}

// A header can claim any size in a few bytes: a frame beyond the pixel budget, or one whose
// image data the file is too short to hold, is refused from the header, before its rows are
// allocated.
TEST(PngCodecTest, RefusesFromTheHeaderWhatTheFileCannotHold) {
    TempDir dir;
    TestPng claims{30000, 30000, PNG_COLOR_TYPE_RGB, 8, {}};
    claims.rowsKept = 50;  // 4321 bytes
    WriteTestPng(dir.File("claims.png"), claims);
    // Small enough for a 32-bit program to count its bytes.
    claims.width = claims.height = 12000;
    claims.rowsKept = 150;  // enough for zlib to give its first IDAT chunk
    WriteTestPng(dir.File("claims12000.png"), claims);
    struct Case {
        const char* name;
        std::string path;
        int64_t maxPixels;
        const char* error;  // empty: decoded
    };
    const Case cases[] = {
        {"beyond the default budget", dir.File("claims.png"), DEFAULT_MAX_PIXELS,
         "30000 x 30000 pixels is more than --max-pixels 134217728"},
        {"within a raised budget", dir.File("claims12000.png"), 200000000,
         " bytes cannot hold the image data of 12000 x 12000 pixels"},
        {"one pixel beyond", Fixture("ids_rgb8.png"), 1,
         "2 x 1 pixels is more than --max-pixels 1"},
        {"exactly the budget", Fixture("ids_rgb8.png"), 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ColorImage image;
        IdImage ids;
        std::string colorError;
        std::string idError;
        EXPECT_EQ(ReadColorPng(c.path, image, colorError, c.maxPixels), *c.error == '\0');
        EXPECT_EQ(ReadIdPng(c.path, ids, idError, c.maxPixels), *c.error == '\0');
        EXPECT_TRUE(Contains(colorError, c.error)) << colorError;
        EXPECT_TRUE(Contains(idError, c.error)) << idError;
    }
}

// --skip-existing learns a frame's size from these 24 bytes alone, before anything decodes.
TEST(PngCodecTest, TakesTheSizeFromTheHeadAlone) {
    const std::vector<uint8_t> head = ReadWholeFile(Fixture("rgb16.png"));
    std::vector<uint8_t> huge(head.begin(), head.begin() + 24);
    huge[16] = 0x7F;  // width 0x7F000002, the largest a PNG may have is 2^31 - 1
    std::vector<uint8_t> tooWide = huge;
    tooWide[16] = 0x80;
    std::vector<uint8_t> noIhdr = huge;
    noIhdr[12] = 'X';
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int width, height;  // 0: refused
    };
    const Case cases[] = {
        {"a file", head, 2, 1},
        {"the largest width", huge, 0x7F000002, 1},
        {"too wide", tooWide, 0, 0},
        {"no IHDR first", noIhdr, 0, 0},
        {"cut short", std::vector<uint8_t>(head.begin(), head.begin() + 23), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int width = 0;
        int height = 0;
        EXPECT_EQ(PngSizeFromHead(c.bytes.data(), c.bytes.size(), width, height), c.width > 0);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
    }
}

// A 32-bit program cannot count the bytes of the largest frames: their size is refused before
// anything is allocated, rather than wrapping around to a buffer too small for the rows.
TEST(PngCodecTest, RefusesFramesTooLargeForThisProgramsMemory) {
    if (sizeof(size_t) > 4) {
        GTEST_SKIP() << "a 64-bit program can count them";
    }
    const std::string bytes(
        "\x89PNG\r\n\x1A\n"                     // signature
        "\0\0\0\x0DIHDR"                        // IHDR, 13 bytes:
        "\0\0\xFF\xFF\0\0\xFF\xFF\x10\0\0\0\0"  // 65535 x 65535, 16-bit grey
        "\xC3\xFE\x5A\xCF"                      // its CRC
        "\0\0\0\0IDAT",                         // the start of an IDAT
        41);
    TempDir dir;
    const std::string path = dir.File("huge.png");
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
    ColorImage image;
    IdImage ids;
    std::string colorError;
    std::string idError;
    // A budget that allows them; the default refuses them first.
    const int64_t everyFrame = int64_t{FRAME_MAX_SIDE} * FRAME_MAX_SIDE;
    EXPECT_EQ(ReadColorPng(path, image, colorError, everyFrame), 0);
    EXPECT_EQ(ReadIdPng(path, ids, idError, everyFrame), 0);
    EXPECT_EQ(colorError, "65535 x 65535 pixels do not fit in memory");
    EXPECT_EQ(idError, "65535 x 65535 pixels do not fit in memory");
}

// The preview read back through the build's own decoder, and its chunks read plainly: an
// 8-bit palette image (IHDR colour type 3) with all 256 entries, so every viewer shows the
// frame's own colours, that kelvo reads back as the same palette; tRNS only for a transparent
// index, ending with it at alpha 0.
TEST(PngCodecTest, PreviewHoldsIndicesTheWholePaletteAndTheTransparentIndex) {
    TempDir dir;
    PaletteEntry palette[256];
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i ^ 0x55),
                      static_cast<uint8_t>(255 - i)};
    }
    const std::vector<uint8_t> indices = {0, 1, 255, 128, 7, 7};
    for (const int transparent : {-1, 0, 7, 255}) {
        SCOPED_TRACE(transparent);
        std::string error;
        ASSERT_EQ(
            WriteIndexedPng(dir.File("p.png"), indices.data(), 3, 2, palette, transparent, error),
            1)
            << error;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"p.png"});

        const std::vector<uint8_t> bytes = ReadWholeFile(dir.File("p.png"));
        ASSERT_GT(bytes.size(), 33u);
        EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
        EXPECT_EQ(GetBe32(bytes, 16), 3u);
        EXPECT_EQ(GetBe32(bytes, 20), 2u);
        EXPECT_EQ(bytes[24], 8);  // bit depth
        EXPECT_EQ(bytes[25], 3);  // palette colour type
        std::vector<uint8_t> trns;
        bool hasTrns = false;
        for (size_t at = 8; at + 8 <= bytes.size();) {
            const uint32_t length = GetBe32(bytes, at);
            const auto data = bytes.begin() + static_cast<std::ptrdiff_t>(at) + 8;
            if (std::string(data - 4, data) == "tRNS" && at + 8 + length <= bytes.size()) {
                hasTrns = true;
                trns.assign(data, data + length);
            }
            at += size_t{12} + length;
        }
        std::vector<uint8_t> expectedTrns;
        if (transparent >= 0) {
            expectedTrns.assign(static_cast<size_t>(transparent) + 1, 255);
            expectedTrns.back() = 0;
        }
        EXPECT_EQ(hasTrns, transparent >= 0);
        EXPECT_EQ(trns, expectedTrns);
        PaletteEntry back[256];
        PaletteFileInfo info;
        ASSERT_EQ(DecodePaletteFile(bytes, PALETTE_DEPTH_GUESS, back, info, error), 1) << error;
        EXPECT_EQ(info.entries, 256);
        EXPECT_EQ(std::memcmp(back, palette, 768), 0);

        ColorImage image;
        ASSERT_EQ(ReadColorPng(dir.File("p.png"), image, error), 1) << error;
        ASSERT_EQ(image.rgba.size(), indices.size() * 4);
        for (size_t i = 0; i < indices.size(); ++i) {
            SCOPED_TRACE(i);
            const PaletteEntry& colour = palette[indices[i]];
            EXPECT_EQ(image.rgba[4 * i], colour.red * 256);
            EXPECT_EQ(image.rgba[4 * i + 1], colour.green * 256);
            EXPECT_EQ(image.rgba[4 * i + 2], colour.blue * 256);
            EXPECT_EQ(image.rgba[4 * i + 3], indices[i] == transparent ? 0 : 65535);
        }
    }
}

TEST(PngCodecTest, PreviewLeavesNothingBehindWhenItCannotWrite) {
    TempDir dir;
    PaletteEntry palette[256] = {};
    const uint8_t index = 0;
    std::string error;
    EXPECT_EQ(WriteIndexedPng(dir.File("missing/p.png"), &index, 1, 1, palette, -1, error), 0);
    EXPECT_TRUE(Contains(error, "No such file")) << error;
    EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace

#include <gtest/gtest.h>

#include <png.h>

#include <fstream>

#include "kelvo/imageio/png_image.h"
#include "tests/image_files.h"
#include "tests/temp_dir.h"

namespace {

// Pixels as the host expects them: 16-bit r, g, b, a.
using Rgba = std::vector<uint16_t>;

TEST(PngImageTest, DecodesEveryColourTypeTo16BitRgba) {
    struct Case {
        const char* name;
        TestPng png;
        Rgba expected;
    };
    const Case cases[] = {
        {"grey 8",
         {2, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 200}},
         {0, 0, 0, 65535, 51200, 51200, 51200, 65535}},
        {"grey 16", {1, 1, PNG_COLOR_TYPE_GRAY, 16, {0x1234}}, {0x1234, 0x1234, 0x1234, 65535}},
        {"grey 1 bit",
         {2, 1, PNG_COLOR_TYPE_GRAY, 1, {1, 0}},
         {65280, 65280, 65280, 65535, 0, 0, 0, 65535}},
        {"grey+alpha 8", {1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {10, 20}}, {2560, 2560, 2560, 5140}},
        {"rgb 8", {1, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 255}}, {256, 512, 65280, 65535}},
        {"rgb 16", {1, 1, PNG_COLOR_TYPE_RGB, 16, {1, 0xFF00, 0x00FF}}, {1, 0xFF00, 0x00FF, 65535}},
        {"rgba 8", {1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {1, 2, 3, 4}}, {256, 512, 768, 1028}},
        {"rgba 16", {1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, {1, 2, 3, 4}}, {1, 2, 3, 4}},
        {"palette",
         {2, 1, PNG_COLOR_TYPE_PALETTE, 8, {1, 0}, {9, 8, 7, 100, 150, 200}},
         {25600, 38400, 51200, 65535, 2304, 2048, 1792, 65535}},
        {"palette with tRNS",
         {1, 1, PNG_COLOR_TYPE_PALETTE, 4, {0}, {9, 8, 7}, {128}},
         {2304, 2048, 1792, 32896}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("in.png");
        WriteTestPng(path, c.png);
        ColorImage image;
        std::string error;
        ASSERT_EQ(ReadColorPng(path, image, error), 1) << error;
        EXPECT_EQ(image.width, c.png.width);
        EXPECT_EQ(image.height, c.png.height);
        EXPECT_EQ(image.rgba, c.expected);
    }
}

TEST(PngImageTest, DecodesInterlacedRowsInPlace) {
    TestPng png{3, 3, PNG_COLOR_TYPE_GRAY, 16, {1, 2, 3, 4, 5, 6, 7, 8, 9}};
    png.interlaced = true;
    TempDir dir;
    WriteTestPng(dir.File("i.png"), png);
    ColorImage image;
    std::string error;
    ASSERT_EQ(ReadColorPng(dir.File("i.png"), image, error), 1) << error;
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(image.rgba[4 * i], i + 1);
    }
}

TEST(PngImageTest, ReadsIdentifiersAsStored) {
    TempDir dir;
    struct Case {
        const char* name;
        TestPng png;
        std::vector<uint16_t> expected;
    };
    const Case cases[] = {
        {"8 bits", {3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 15, 255}}, {0, 15, 255}},
        {"16 bits", {2, 1, PNG_COLOR_TYPE_GRAY, 16, {300, 65535}}, {300, 65535}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTestPng(dir.File("ids.png"), c.png);
        IdImage ids;
        std::string error;
        ASSERT_EQ(ReadIdPng(dir.File("ids.png"), ids, error), 1) << error;
        EXPECT_EQ(ids.ids, c.expected);
    }
}

TEST(PngImageTest, RefusesBadFilesWithAReason) {
    TempDir dir;
    WriteTestPng(dir.File("rgb.png"), {1, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3}});
    WriteTestPng(dir.File("grey4.png"), {1, 1, PNG_COLOR_TYPE_GRAY, 4, {1}});
    WriteTestPng(dir.File("big.png"),
                 {64, 64, PNG_COLOR_TYPE_RGB, 8, std::vector<uint16_t>(64 * 64 * 3, 77)});
    // Cut inside the image data.
    std::vector<char> whole(4096);
    std::ifstream(dir.File("big.png"), std::ios::binary).read(whole.data(), 4096);
    std::ofstream(dir.File("cut.png"), std::ios::binary).write(whole.data(), 60);
    std::ofstream(dir.File("text.png")) << "not an image at all";

    struct Case {
        const char* name;
        std::string path;
        bool ids;
        const char* error;
    };
    const Case cases[] = {
        {"missing file", dir.File("none.png"), false, "No such file"},
        {"not a PNG", dir.File("text.png"), false, "not a PNG file"},
        {"truncated", dir.File("cut.png"), false, ""},
        {"RGB identifiers", dir.File("rgb.png"), true, "pixel (0, 0) is (1, 2, 3)"},
        {"4-bit identifiers", dir.File("grey4.png"), true, "not grey of 4 bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        ColorImage image;
        IdImage ids;
        EXPECT_EQ(c.ids ? ReadIdPng(c.path, ids, error) : ReadColorPng(c.path, image, error), 0);
        EXPECT_FALSE(error.empty());
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace

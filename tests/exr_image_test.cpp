// The OpenEXR reader: colour from layers and parts, identifier channels, and what it refuses.
#include <gtest/gtest.h>

#include <half.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "kelvo/imageio/exr_image.h"
#include "tests/exr_files.h"
#include "tests/reference_frame.h"
#include "tests/temp_dir.h"

namespace {

constexpr int EXR_UINT = 0;
constexpr int EXR_HALF = 1;
constexpr int EXR_FLOAT = 2;

TEST(ExrColorTest, ConvertsSceneLinearValuesTo16Bits) {
    struct Case {
        float value;
        bool linear;
        uint16_t expected;
    };
    // sRGB: 12.92 v up to 0.0031308, else 1.055 v^(1/2.4) - 0.055; worked out apart from the
    // code, then x 65535 and rounded.
    const Case cases[] = {
        {0.0f, false, 0},
        {1.0f, false, 65535},
        {0.5f, false, 48192},         // 48191.62
        {0.25f, false, 35199},        // 35198.77
        {0.125f, false, 25465},       // 25465.12
        {0.001953125f, false, 1654},  // linear segment: 1653.73
        {2.0f, false, 65535},         // clamped
        {-1.0f, false, 0},
        {std::numeric_limits<float>::infinity(), false, 65535},
        {std::numeric_limits<float>::quiet_NaN(), false, 0},
        {0.5f, true, 32768},   // 32767.5 rounds up
        {0.25f, true, 16384},  // 16383.75
        {-0.5f, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << (c.linear ? " linear" : " sRGB"));
        EXPECT_EQ(ExrColorTo16(c.value, c.linear), c.expected);
    }
}

// The transfer function goes through the C library's pow, which differs between systems: the
// 16-bit levels of every half value, and of floats in fine steps over 0..1, must not. The
// fingerprints are the native build's.
TEST(ExrColorTest, GivesTheSameLevelsOnEverySystem) {
    struct Case {
        bool linear;
        bool halves;
        uint64_t fingerprint;
    };
    const Case cases[] = {
        {false, true, 0x3d398ccb3e2dd1d6ULL},
        {true, true, 0x4981bb2cc0d7e207ULL},
        {false, false, 0xee145b5503f254aaULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.linear ? "linear" : "sRGB") << (c.halves ? ", every half" : ", floats"));
        std::vector<uint8_t> levels;
        const uint32_t count = c.halves ? 0x10000 : 0x100001;
        for (uint32_t i = 0; i < count; ++i) {
            float value = static_cast<float>(i) / 0x100000;
            if (c.halves) {
                half h;
                h.setBits(static_cast<uint16_t>(i));
                value = h;
            }
            const uint16_t level = ExrColorTo16(value, c.linear);
            levels.push_back(static_cast<uint8_t>(level & 0xFF));
            levels.push_back(static_cast<uint8_t>(level >> 8));
        }
        EXPECT_EQ(Fingerprint(levels.data(), levels.size()), c.fingerprint)
            << std::hex << "0x" << Fingerprint(levels.data(), levels.size());
    }
}

// A 2 x 1 part with the given channels, each holding {first, second}.
TestExrPart Part(const std::string& name, std::vector<TestExrChannel> channels) {
    TestExrPart part;
    part.name = name;
    part.width = 2;
    part.height = 1;
    part.channels = std::move(channels);
    return part;
}

class ExrImageTest : public ::testing::Test {
protected:
    int Read(const ExrRequest& request) {
        image = {};
        ids = {};
        error.clear();
        return ReadExr(dir.File("in.exr"), request, image, ids, error);
    }
    TempDir dir;
    ColorImage image;
    IdImage ids;
    std::string error;
};

TEST_F(ExrImageTest, ReadsHalfRgbWithoutAlphaAsOpaque) {
    WriteTestExr(dir.File("in.exr"), {Part("", {{"R", EXR_HALF, {1.0f, 0.0f}},
                                                {"G", EXR_HALF, {0.5f, 0.0f}},
                                                {"B", EXR_HALF, {0.25f, 1.0f}}})});
    ASSERT_EQ(Read({"", "", true, 65535}), 1) << error;
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.rgba, (std::vector<uint16_t>{65535, 32768, 16384, 65535, 0, 0, 65535, 65535}));
    EXPECT_TRUE(ids.ids.empty());
}

TEST_F(ExrImageTest, ReadsALayerAndIdentifiersFromAnotherPart) {
    WriteTestExr(dir.File("in.exr"),
                 {Part("beauty", {{"R", EXR_FLOAT, {0, 0}},
                                  {"G", EXR_FLOAT, {0, 0}},
                                  {"B", EXR_FLOAT, {0, 0}},
                                  {"diffuse.R", EXR_FLOAT, {1.0f, 0.0f}},
                                  {"diffuse.G", EXR_FLOAT, {0.0f, 0.5f}},
                                  {"diffuse.B", EXR_FLOAT, {0.0f, 0.0f}},
                                  {"diffuse.A", EXR_FLOAT, {0.5f, 2.0f}}}),
                  Part("passes", {{"objectIndex", EXR_FLOAT, {2.4f, 300.6f}}})});
    ASSERT_EQ(Read({"diffuse", "objectIndex", true, 65535}), 1) << error;
    EXPECT_EQ(image.rgba, (std::vector<uint16_t>{65535, 0, 0, 32768, 0, 32768, 0, 65535}));
    EXPECT_EQ(ids.ids, (std::vector<uint16_t>{2, 301}));
}

TEST_F(ExrImageTest, ReadsAPartNamedAfterTheLayerAndUnsignedIdentifiers) {
    WriteTestExr(dir.File("in.exr"), {Part("other", {{"X", EXR_FLOAT, {0, 0}}}),
                                      Part("shadow", {{"R", EXR_FLOAT, {0.5f, 0}},
                                                      {"G", EXR_FLOAT, {0, 0}},
                                                      {"B", EXR_FLOAT, {0, 0}},
                                                      {"id", EXR_UINT, {7, 65535}}})});
    ASSERT_EQ(Read({"shadow", "id", false, 65535}), 1) << error;
    EXPECT_EQ(image.rgba[0], 48192);
    EXPECT_EQ(ids.ids, (std::vector<uint16_t>{7, 65535}));
}

TEST_F(ExrImageTest, ReadsGreyYChannelsAndAnOffsetDataWindow) {
    TestExrPart part = Part("", {{"Y", EXR_FLOAT, {1.0f, 0.25f}}});
    part.originX = -5;
    part.originY = 12;
    WriteTestExr(dir.File("in.exr"), {part});
    ASSERT_EQ(Read({"", "", true, 65535}), 1) << error;
    EXPECT_EQ(image.rgba,
              (std::vector<uint16_t>{65535, 65535, 65535, 65535, 16384, 16384, 16384, 65535}));
}

TEST_F(ExrImageTest, RefusesWhatItCannotReadWithAReason) {
    struct Case {
        const char* name;
        std::vector<TestExrPart> parts;
        ExrRequest request;
        const char* error;
    };
    const std::vector<TestExrChannel> rgb = {
        {"R", EXR_FLOAT, {0, 0}}, {"G", EXR_FLOAT, {0, 0}}, {"B", EXR_FLOAT, {0, 0}}};
    std::vector<TestExrChannel> rgbId = rgb;
    rgbId.push_back({"id", EXR_FLOAT, {3.0f, 255.5f}});
    std::vector<TestExrChannel> rgbNegative = rgb;
    rgbNegative.push_back({"id", EXR_FLOAT, {-0.6f, 1.0f}});
    const Case cases[] = {
        {"no colour",
         {Part("", {{"gloss.R", EXR_FLOAT, {0, 0}}, {"Z", EXR_FLOAT, {0, 0}}})},
         {"", "", false, 255},
         "no R, G, B channels; layers with colour: gloss"},
        {"unknown layer", {Part("", rgb)}, {"gloss", "", false, 255}, "no layer 'gloss'"},
        {"unknown id channel",
         {Part("", rgb)},
         {"", "objectId", false, 255},
         "no channel 'objectId'; channels: B, G, R"},
        {"identifier above 255",
         {Part("", rgbId)},
         {"", "id", false, 255},
         "identifier 255.5 at pixel (1, 0) is outside 0..255"},
        {"negative identifier",
         {Part("", rgbNegative)},
         {"", "id", false, 65535},
         "at pixel (0, 0) is outside 0..65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTestExr(dir.File("in.exr"), c.parts);
        EXPECT_EQ(Read(c.request), 0);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST_F(ExrImageTest, ReportsADamagedFileInsteadOfThrowing) {
    WriteTestExr(
        dir.File("whole.exr"),
        {Part("", {{"R", EXR_FLOAT, {1, 1}}, {"G", EXR_FLOAT, {1, 1}}, {"B", EXR_FLOAT, {1, 1}}})});
    std::vector<uint8_t> bytes(
        static_cast<size_t>(std::filesystem::file_size(dir.File("whole.exr"))));
    FILE* file = std::fopen(dir.File("whole.exr").c_str(), "rb");
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    for (size_t cut : {size_t{8}, size_t{40}, bytes.size() - 10}) {
        SCOPED_TRACE(cut);
        file = std::fopen(dir.File("in.exr").c_str(), "wb");
        std::fwrite(bytes.data(), 1, cut, file);
        std::fclose(file);
        EXPECT_EQ(Read({"", "", false, 255}), 0);
        EXPECT_FALSE(error.empty());
    }
}

// Found by fuzzing: 403 bytes claiming a huge data window made the reader allocate
// gigabytes before the file ran out.
TEST_F(ExrImageTest, RefusesADamagedHeaderBeforeAllocatingForIt) {
    const std::string path =
        std::string(KELVO_TEST_DATA) + "/regress/exr_truncated_large_window.exr";
    EXPECT_EQ(ReadExr(path, {}, image, ids, error), 0);
    EXPECT_NE(error.find("Invalid size"), std::string::npos) << error;
}

}  // namespace

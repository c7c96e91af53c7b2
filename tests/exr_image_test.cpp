// The OpenEXR reader: colour from layers, parts and views, identifier channels, windows, and
// what it refuses.
#include <gtest/gtest.h>

#include <half.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "kelvo/imageio/exr_image.h"
#include "tests/exr_files.h"
#include "tests/pcx_decoder.h"
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

// Every half value read from a file gives ExrColorTo16 of its value (alpha as linear), in
// each channel; with a float channel beside them, the same.
TEST_F(ExrImageTest, ReadsEveryHalfValueAsExrColorTo16GivesIt) {
    std::vector<float> values[4];
    for (uint32_t i = 0; i < 0x10000; ++i) {
        const uint32_t bits[4] = {i, i ^ 0x5555, 0xFFFF - i, (i * 7) & 0xFFFF};
        for (int c = 0; c < 4; ++c) {
            half h;
            h.setBits(static_cast<uint16_t>(bits[c]));
            values[c].push_back(h);
        }
    }
    for (const int greenType : {EXR_HALF, EXR_FLOAT}) {
        TestExrPart part = Part("", {{"R", EXR_HALF, values[0]},
                                     {"G", greenType, values[1]},
                                     {"B", EXR_HALF, values[2]},
                                     {"A", EXR_HALF, values[3]}});
        part.width = part.height = 256;
        WriteTestExr(dir.File("in.exr"), {part});
        for (const bool linear : {false, true}) {
            SCOPED_TRACE(testing::Message() << (linear ? "linear" : "sRGB") << ", green "
                                            << (greenType == EXR_HALF ? "half" : "float"));
            ASSERT_EQ(Read({"", "", linear, 65535}), 1) << error;
            size_t wrong = 0;
            for (size_t i = 0; i < 0x10000; ++i) {
                for (int c = 0; c < 4; ++c) {
                    wrong += image.rgba[4 * i + c] != ExrColorTo16(values[c][i], linear || c == 3);
                }
            }
            EXPECT_EQ(wrong, 0u);
        }
    }
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
    TestExrPart deepScanline = Part("", rgb);
    deepScanline.deep = true;
    deepScanline.channels.push_back({"Z", EXR_FLOAT, {1, 2}});
    TestExrPart deepTiled = deepScanline;
    deepTiled.tileSide = 2;
    TestExrPart flatIds = Part("ids", {{"id", EXR_FLOAT, {1, 2}}});
    TestExrPart deepColor = deepScanline;
    deepColor.name = "beauty";
    const Case cases[] = {
        {"deep scanline",
         {deepScanline},
         {"", "", false, 255},
         "a deep scanline image: deep images are not supported"},
        {"deep tiled",
         {deepTiled},
         {"", "", false, 255},
         "a deep tiled image: deep images are not supported"},
        {"colour only in a deep part",
         {flatIds, deepColor},
         {"", "id", false, 255},
         "deep scanline"},
        {"identifiers only in a deep part",
         {Part("", rgb), deepTiled},
         {"", "Z", false, 255},
         "channel 'Z' is in a deep tiled image"},
        {"luminance and chroma",
         {Part("", {{"Y", EXR_HALF, {0, 0}}, {"RY", EXR_HALF, {0, 0}}, {"BY", EXR_HALF, {0, 0}}})},
         {"", "", false, 255},
         "a luminance/chroma image (Y, RY, BY): those are not supported"},
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

// Multi-view files: a multiView attribute names the views of one part's channels (the default
// first, its channels without the view's name), or parts carry a view each.
TEST_F(ExrImageTest, ReadsTheViewAskedForOrTheDefaultOne) {
    const auto rgb = [](const std::string& prefix, float red) {
        return std::vector<TestExrChannel>{{prefix + "R", EXR_FLOAT, {red, 0}},
                                           {prefix + "G", EXR_FLOAT, {0, 0}},
                                           {prefix + "B", EXR_FLOAT, {0, 0}}};
    };
    TestExrPart views = Part("", rgb("", 0.25f));
    for (const std::vector<TestExrChannel>& more :
         {rgb("right.", 0.5f), rgb("diffuse.", 0.75f), rgb("diffuse.right.", 1.0f)}) {
        views.channels.insert(views.channels.end(), more.begin(), more.end());
    }
    views.channels.push_back({"right.id", EXR_FLOAT, {7, 8}});
    views.multiView = {"left", "right"};
    std::vector<TestExrChannel> leftChannels = rgb("", 0.5f);
    leftChannels.push_back({"id", EXR_FLOAT, {1, 2}});
    std::vector<TestExrChannel> rightChannels = rgb("", 0.25f);
    rightChannels.push_back({"id", EXR_FLOAT, {3, 4}});
    TestExrPart left = Part("l", leftChannels);
    left.view = "left";
    TestExrPart right = Part("r", rightChannels);
    right.view = "right";
    struct Case {
        const char* name;
        std::vector<TestExrPart> parts;
        ExrRequest request;
        uint16_t red;
        std::vector<uint16_t> ids;
        const char* view;
    };
    const Case cases[] = {
        {"the default view", {views}, {"", "", true, 65535}, 16384, {}, "left"},
        {"a view's channels",
         {views},
         {"", "id", true, 65535, {}, "right"},
         32768,
         {7, 8},
         "right"},
        {"a layer shared by the views, in the default view",
         {views},
         {"diffuse", "", true, 65535},
         49151,
         {},
         "left"},
        {"a layer of a view",
         {views},
         {"diffuse", "", true, 65535, {}, "right"},
         65535,
         {},
         "right"},
        {"parts of views, the default",
         {right, left},
         {"", "id", true, 65535},
         16384,
         {3, 4},
         "right"},
        {"parts of views, the other",
         {right, left},
         {"", "id", true, 65535, {}, "left"},
         32768,
         {1, 2},
         "left"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTestExr(dir.File("in.exr"), c.parts);
        ASSERT_EQ(Read(c.request), 1) << error;
        EXPECT_EQ(image.rgba[0], c.red);
        EXPECT_EQ(ids.ids, c.ids);
        ExrFrameInfo info;
        ASSERT_EQ(ReadExrFrameInfo(dir.File("in.exr"), c.request, info, error), 1) << error;
        EXPECT_EQ(info.view, c.view);
        EXPECT_EQ(info.views.size(), 2u);
    }
    struct Refusal {
        std::vector<TestExrPart> parts;
        const char* view;
        const char* error;
    };
    const Refusal refusals[] = {
        {{views}, "centre", "no view 'centre'; views: left, right"},
        {{Part("", rgb("", 0))}, "left", "no view 'left'; the file has no views"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.view);
        WriteTestExr(dir.File("in.exr"), r.parts);
        EXPECT_EQ(Read({"", "", true, 65535, {}, r.view}), 0);
        EXPECT_EQ(error, r.error);
    }
}

// What the display-window check against oiiotool (exr_reference_test.cpp) leaves out: the data
// window as the frame, identifiers outside their part's window, and sizes no frame can have.
TEST_F(ExrImageTest, FramesTheWindowAskedForAndRefusesOversizedOnes) {
    TestExrPart color = Part(
        "beauty", {{"R", EXR_FLOAT, {1, 1}}, {"G", EXR_FLOAT, {0, 0}}, {"B", EXR_FLOAT, {0, 0}}});
    color.originX = 5;
    color.displayX = 4;
    color.displayWidth = 4;
    color.displayHeight = 1;
    TestExrPart idPart = Part("ids", {{"id", EXR_UINT, {9, 8}}});
    idPart.originX = 4;
    idPart.displayX = 4;
    idPart.displayWidth = 4;
    idPart.displayHeight = 1;
    WriteTestExr(dir.File("in.exr"), {color, idPart});
    ExrRequest request{"", "id", true, 65535};
    ASSERT_EQ(Read(request), 1) << error;
    EXPECT_EQ(image.rgba, (std::vector<uint16_t>{0, 0, 0, 0, 65535, 0, 0, 65535, 65535, 0, 0, 65535,
                                                 0, 0, 0, 0}));
    EXPECT_EQ(ids.ids, (std::vector<uint16_t>{9, 8, 0, 0}));
    request.outsideId = 3;
    request.window = EXR_WINDOW_DATA;
    ASSERT_EQ(Read(request), 1) << error;
    EXPECT_EQ(image.rgba, (std::vector<uint16_t>{65535, 0, 0, 65535, 65535, 0, 0, 65535}));
    EXPECT_EQ(ids.ids, (std::vector<uint16_t>{8, 3}));

    struct Case {
        int width, height;
        int64_t maxPixels;
        const char* error;  // empty: read
    };
    const Case cases[] = {
        {65536, 1, DEFAULT_MAX_PIXELS,
         "display window of 65536 x 1 pixels; a frame has 1 to 65535"},
        {16385, 16384, DEFAULT_MAX_PIXELS,
         "display window of 16385 x 16384 pixels; a frame made from one has at most "
         "268435456 pixels"},
        {16384, 16384, DEFAULT_MAX_PIXELS,
         "16384 x 16384 pixels is more than --max-pixels 134217728"},
        {4, 1, 3, "4 x 1 pixels is more than --max-pixels 3"},
        {4, 1, 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        color.displayWidth = c.width;
        color.displayHeight = c.height;
        WriteTestExr(dir.File("in.exr"), {color});
        request = {"", "", true, 65535};
        request.maxPixels = c.maxPixels;
        EXPECT_EQ(Read(request), *c.error == '\0' ? 1 : 0);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

// The full reader allocates buffers of a chunk of every channel, from the header alone: a part
// whose decoding would take more than a frame of the pixel budget is refused before it opens.
// Here a thousand channels of 64 x 16 pixels, and the same header damaged to claim a data
// window 65535 pixels wide (2 GB a chunk), though its display window keeps the frame small.
TEST_F(ExrImageTest, RefusesPartsWhoseChunksTakeMoreThanAFrameMay) {
    TestExrPart many;
    many.width = 64;
    many.height = 16;
    for (int c = 0; c < 1000; ++c) {
        many.channels.push_back({c < 3 ? std::string(1, "RGB"[c]) : "aov" + std::to_string(c),
                                 EXR_HALF, std::vector<float>(64 * 16, 0.5f)});
    }
    WriteTestExr(dir.File("many.exr"), {many});
    std::vector<uint8_t> bytes = ReadWholeFile(dir.File("many.exr"));
    const std::string key("dataWindow\0box2i\0", 17);
    const auto found = std::search(bytes.begin(), bytes.end(), key.begin(), key.end());
    ASSERT_NE(found, bytes.end());
    // After the name, type and 32-bit size: min x, min y, max x, max y (32 bits, little-endian).
    const size_t maxX = static_cast<size_t>(found - bytes.begin()) + key.size() + 4 + 8;
    ASSERT_EQ(bytes[maxX], 63);
    bytes[maxX] = 0xFE;
    bytes[maxX + 1] = 0xFF;  // 65534
    FILE* file = std::fopen(dir.File("wide.exr").c_str(), "wb");
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    ASSERT_EQ(std::fclose(file), 0);
    struct Case {
        const char* file;
        int64_t maxPixels;
        const char* error;  // empty: read
    };
    const Case cases[] = {
        {"many.exr", 64 * 16, ""},  // a small budget still allows the reader's buffers
        {"wide.exr", DEFAULT_MAX_PIXELS,
         "decoding part 0 takes about 11.7 GiB (its chunks unpack to 2.0 GiB each), more than "
         "the 2.6 GiB that --max-pixels 134217728 allows"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.maxPixels));
        ExrRequest request;
        request.maxPixels = c.maxPixels;
        EXPECT_EQ(ReadExr(dir.File(c.file), request, image, ids, error), *c.error == '\0' ? 1 : 0);
        EXPECT_EQ(error, c.error);
        error.clear();
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

// Found by fuzzing: 403 bytes claiming a huge data window made the reader allocate gigabytes
// before the file ran out; 340 bytes whose headers the core reader reads without complaint
// made the full reader allocate 1.6 GB for one attribute.
TEST_F(ExrImageTest, RefusesADamagedHeaderBeforeAllocatingForIt) {
    struct Case {
        const char* file;
        const char* error;
    };
    const Case cases[] = {
        {"exr_truncated_large_window.exr", "Invalid size"},
        {"exr_attribute_claims_gigabytes.exr",
         "damaged: its headers claim 1.6 GiB for one value, and the file has 340 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(KELVO_TEST_DATA) + "/regress/" + c.file;
        EXPECT_EQ(ReadExr(path, {}, image, ids, error), 0);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace

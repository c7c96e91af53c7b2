// --levels: spans measured from histograms, colours stretched over them, and their text.
#include "kelvo/batch/levels.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/palette_mapping.h"

namespace {

// A grey whose luminance falls in the middle of thousandth `step`.
uint16_t GreyInStep(int step) {
    return static_cast<uint16_t>(std::lround((step + 0.5) * 65535.0 / LEVEL_STEPS));
}

// One row of greys, each pixel with its identifier.
DecodedFrame Greys(const std::vector<uint16_t>& greys, const std::vector<uint16_t>& ids) {
    DecodedFrame frame;
    frame.color.width = static_cast<int>(greys.size());
    frame.color.height = 1;
    for (uint16_t grey : greys) {
        frame.color.rgba.insert(frame.color.rgba.end(), {grey, grey, grey, 65535});
    }
    frame.ids = {frame.color.width, 1, ids};
    return frame;
}

TEST(LevelsTest, RobustSpanLeavesOutTheDarkestAndBrightestHalfPercent) {
    std::vector<uint16_t> everyStep;
    for (int step = 0; step < LEVEL_STEPS; ++step) {
        everyStep.push_back(GreyInStep(step));
    }
    struct Case {
        const char* name;
        std::vector<uint16_t> greys, ids;
        int id;
        std::optional<LevelSpan> span;
    };
    const Case cases[] = {
        // 1000 pixels: the first 5 and the last 5 are left out.
        {"one pixel in every thousandth", everyStep, std::vector<uint16_t>(1000, 3), 3,
         LevelSpan{5, 995}},
        {"one grey", std::vector<uint16_t>(50, GreyInStep(412)), std::vector<uint16_t>(50, 2), 2,
         LevelSpan{412, 413}},
        {"black and white", {0, 65535}, {1, 1}, 1, LevelSpan{0, 1000}},
        {"identifiers of 16 and more count as 0", {GreyInStep(7)}, {300}, 0, LevelSpan{7, 8}},
        {"no pixels", {GreyInStep(7)}, {1}, 4, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LuminanceHistogram histogram;
        histogram.AddFrame(Greys(c.greys, c.ids));
        EXPECT_EQ(RobustSpan(histogram, c.id), c.span);
        // As the worker processes send it.
        LuminanceHistogram sent;
        ASSERT_EQ(sent.Decode(histogram.Encode()), 1);
        EXPECT_EQ(RobustSpan(sent, c.id), c.span);
    }
    LuminanceHistogram refused;
    for (const char* text : {"16.0:1", "1.1000:1", "1.2", "1.2:3,", "x"}) {
        EXPECT_EQ(refused.Decode(text), 0) << text;
    }
}

TEST(LevelsTest, StretchesEachSpanOverTheWholeLuminanceKeepingHue) {
    LevelSpans spans;
    spans[1] = LevelSpan{200, 600};
    struct Case {
        const char* name;
        uint16_t rgba[4];
        uint16_t id;
        double luminance;  // wanted, of 65535; -1: the colour is kept
    };
    const Case cases[] = {
        {"grey in the middle of the span", {26214, 26214, 26214, 9}, 1, 0.5 * 65535},
        {"below the span", {6554, 6554, 6554, 65535}, 1, 0},
        {"above the span", {45875, 45875, 45875, 65535}, 1, 65535},
        {"dark red: scaled",
         {40000, 6000, 2000, 65535},
         1,
         (LevelLuminance(40000, 6000, 2000) - 13107) / 26214 * 65535},
        {"bright red: past full, moved towards grey",
         {60000, 20000, 10000, 65535},
         1,
         (LevelLuminance(60000, 20000, 10000) - 13107) / 26214 * 65535},
        {"an identifier without a span", {20000, 3000, 1000, 65535}, 2, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedFrame frame;
        frame.color = {1, 1, {c.rgba[0], c.rgba[1], c.rgba[2], c.rgba[3]}};
        frame.ids = {1, 1, {c.id}};
        ApplyLevels(spans, frame);
        const uint16_t* out = frame.color.rgba.data();
        EXPECT_EQ(out[3], c.rgba[3]);
        if (c.luminance < 0) {
            EXPECT_EQ(frame.color.rgba, std::vector<uint16_t>(c.rgba, c.rgba + 4));
            continue;
        }
        EXPECT_NEAR(LevelLuminance(out[0], out[1], out[2]), c.luminance, 1.0);
        // The channels keep their order: red stays the brightest, blue the darkest.
        if (c.rgba[0] != c.rgba[1] && c.luminance < 65535) {
            EXPECT_GT(out[0], out[1]);
            EXPECT_GT(out[1], out[2]);
        }
    }
}

TEST(LevelsTest, ReadsAndPrintsSpansAsTheWorkersAndTheUserGiveThem) {
    struct Case {
        const char* text;
        int id;
        LevelSpan span;  // low == high: refused
        const char* printed;
    };
    const Case cases[] = {
        {"1:0.052-0.448", 1, {52, 448}, "1:0.052-0.448"},
        {"15:0-1", 15, {0, 1000}, "15:0.000-1.000"},
        {"0:.5-.75", 0, {500, 750}, "0:0.500-0.750"},
        {"16:0-1", 0, {0, 0}, nullptr},
        {"1:0.5-0.5", 0, {0, 0}, nullptr},
        {"1:0.0525-0.6", 0, {0, 0}, nullptr},
        {"1:0.2-1.5", 0, {0, 0}, nullptr},
        {"1:-0.1-0.5", 0, {0, 0}, nullptr},
        {"1:0.1", 0, {0, 0}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int id = -1;
        LevelSpan span;
        std::string error;
        ASSERT_EQ(ParseLevelSpan(c.text, id, span, error), c.printed != nullptr ? 1 : 0);
        if (c.printed == nullptr) {
            EXPECT_NE(error.find("bad --levels"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(span, c.span);
        EXPECT_EQ(FormatLevelSpan(id, span), c.printed);
        EXPECT_EQ(DecodeLevelSpan(EncodeLevelSpan(span)), span);
    }
    EXPECT_EQ(DecodeLevelSpan(EncodeLevelSpan(std::nullopt)), std::nullopt);
}

// The spans are measured on the filter's own scale.
TEST(LevelsTest, WeighsColoursAsTheFilterDoes) {
    for (const int value : {0, 1, 257, 12345, 32768, 65535}) {
        SCOPED_TRACE(value);
        const auto rgb = static_cast<uint16_t>(value);
        const auto other = static_cast<uint16_t>(65535 - value);
        const auto third = static_cast<uint16_t>(value / 3);
        EXPECT_EQ(LevelLuminance(rgb, other, third), Luminance(rgb, other, third));
    }
}

}  // namespace

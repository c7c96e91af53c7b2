#include "render/palette_mapping.h"

#include <gtest/gtest.h>

namespace {

int Uniform(int first, int last, uint16_t r, uint16_t g, uint16_t b) {
    return UniformIndex({static_cast<uint8_t>(first), static_cast<uint8_t>(last), 0},
                        Luminance(r, g, b));
}

int Dithered(int first, int last, uint16_t grey, int x, int y) {
    return DitheredIndex({static_cast<uint8_t>(first), static_cast<uint8_t>(last), 1},
                         Luminance(grey, grey, grey), x, y);
}

TEST(PaletteMappingTest, LuminanceIsRoundedInTheStatedOrder) {
    EXPECT_EQ(Luminance(65535, 65535, 65535), 65535.0);
    EXPECT_EQ(Luminance(32768, 32768, 32768), 32767.999999999996);
    EXPECT_LT(Luminance(32768, 32768, 32768), 32768.0);
    EXPECT_EQ(Luminance(0, 0, 0), 0.0);
}

TEST(PaletteMappingTest, UniformFullRangeEdgeValues) {
    struct Case {
        const char* name;
        uint16_t r, g, b;
        int index;
    };
    const Case cases[] = {
        {"black", 0, 0, 0, 0},
        {"white", 65535, 65535, 65535, 255},
        {"grey 32768 stays below half", 32768, 32768, 32768, 127},
        {"red", 65535, 0, 0, 76},
        {"green", 0, 65535, 0, 151},
        {"blue", 0, 0, 65535, 28},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Uniform(0, 255, c.r, c.g, c.b), c.index);
    }
}

TEST(PaletteMappingTest, UniformOddRangeShapes) {
    // A single entry, an empty range (n = 0) and a reversed one running downward.
    EXPECT_EQ(Uniform(40, 40, 65535, 65535, 65535), 40);
    EXPECT_EQ(Uniform(40, 39, 65535, 65535, 65535), 40);
    EXPECT_EQ(Uniform(40, 39, 0, 0, 0), 40);
    EXPECT_EQ(Uniform(255, 0, 0, 0, 0), 255);
    EXPECT_EQ(Uniform(255, 0, 65535, 65535, 65535), 2);
    for (int v = 0; v <= 65535; v += 257) {
        const int index = Uniform(255, 0, static_cast<uint16_t>(v), static_cast<uint16_t>(v),
                                  static_cast<uint16_t>(v));
        ASSERT_GE(index, 2);
        ASSERT_LE(index, 255);
    }
}

TEST(PaletteMappingTest, DitherCheckerboard) {
    struct Case {
        const char* name;
        uint16_t grey;
        int even, odd;
    };
    const Case cases[] = {
        {"h = 1", 16384, 10, 11},
        {"h = 3", 32768, 11, 12},
        {"white, h = 6", 65535, 13, 13},
        {"black, h = 0", 0, 10, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Dithered(10, 13, c.grey, 0, 0), c.even);
        EXPECT_EQ(Dithered(10, 13, c.grey, 1, 1), c.even);
        EXPECT_EQ(Dithered(10, 13, c.grey, 1, 0), c.odd);
        EXPECT_EQ(Dithered(10, 13, c.grey, 0, 1), c.odd);
    }
}

TEST(PaletteMappingTest, DitherReversedRanges) {
    // m = -5: grey 16384 gives h = -1.
    EXPECT_EQ(Dithered(13, 10, 16384, 0, 0), 13);
    EXPECT_EQ(Dithered(13, 10, 16384, 1, 0), 14);
    // Starting at 255 the odd pixels would get 256, which is no palette index.
    EXPECT_EQ(Dithered(255, 0, 200, 0, 0), 255);
    EXPECT_EQ(Dithered(255, 0, 200, 1, 0), 255);
    EXPECT_EQ(Dithered(254, 0, 200, 1, 0), 255);
    EXPECT_EQ(Dithered(7, 7, 40000, 1, 0), 7);
}

TEST(PaletteMappingTest, NearestPicksLowestOfEqualDistances) {
    PaletteEntry palette[PALETTE_ENTRIES] = {};
    palette[5] = {0, 0, 0};
    palette[6] = {0, 0, 0};
    palette[7] = {255, 255, 255};
    EXPECT_EQ(NearestIndex(palette, {5, 7, 0}, 0, 0, 0), 5);
    EXPECT_EQ(NearestIndex(palette, {6, 7, 0}, 0, 0, 0), 6);
    EXPECT_EQ(NearestIndex(palette, {5, 7, 0}, 65535, 65535, 65535), 7);
    // Entries 10 (0) and 11 (2 x 256) are equally far from 256: the lower wins.
    palette[10] = {0, 0, 0};
    palette[11] = {2, 0, 0};
    EXPECT_EQ(NearestIndex(palette, {10, 11, 0}, 256, 0, 0), 10);
    EXPECT_EQ(NearestIndex(palette, {10, 11, 0}, 257, 0, 0), 11);
}

TEST(PaletteMappingTest, NearestReversedOrSingleRangeGivesFirst) {
    PaletteEntry palette[PALETTE_ENTRIES];
    SetDefaultPalette(palette);
    EXPECT_EQ(NearestIndex(palette, {200, 100, 0}, 0, 0, 0), 200);
    EXPECT_EQ(NearestIndex(palette, {9, 9, 0}, 65535, 0, 0), 9);
    EXPECT_EQ(NearestIndex(palette, {0, 255, 0}, 65535, 0, 0), 0xE0);
}

TEST(PaletteMappingTest, HighIdentifiersUseRangeZero) {
    PaletteRenderSettings settings;
    SetDefaultSettings(settings);
    settings.ranges[0] = {1, 2, 0};
    settings.ranges[15] = {3, 4, 0};
    EXPECT_EQ(&RangeForId(settings, 15), &settings.ranges[15]);
    EXPECT_EQ(&RangeForId(settings, 16), &settings.ranges[0]);
    EXPECT_EQ(&RangeForId(settings, 65535), &settings.ranges[0]);
}

}  // namespace

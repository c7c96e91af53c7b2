#include "ui/grid_geometry.h"

#include <gtest/gtest.h>

namespace {

void ExpectRect(const GridRect& actual, const GridRect& expected) {
    EXPECT_EQ(actual.left, expected.left);
    EXPECT_EQ(actual.top, expected.top);
    EXPECT_EQ(actual.right, expected.right);
    EXPECT_EQ(actual.bottom, expected.bottom);
}

TEST(GridGeometryTest, TopHangsFromTheClientBottom) {
    EXPECT_EQ(GridTop(500), 336);
}

TEST(GridGeometryTest, RectanglesFillTheGridColumnByColumn) {
    const int t = 300;
    struct Case {
        const char* name;
        GridRect actual;
        GridRect expected;
    };
    const Case cases[] = {
        {"backdrop", GridBackdropRect(t), {23, t - 4, 174, t + 100}},
        {"swatch 0", GridSwatchRect(0, t), {28, t, 34, t + 6}},
        {"swatch 15 ends the first column", GridSwatchRect(15, t), {28, t + 90, 34, t + 96}},
        {"swatch 16 starts the second", GridSwatchRect(16, t), {37, t, 43, t + 6}},
        {"swatch 53 in column 3, row 5", GridSwatchRect(53, t), {55, t + 30, 61, t + 36}},
        {"swatch 255", GridSwatchRect(255, t), {163, t + 90, 169, t + 96}},
        {"frame 0", GridFrameRect(0, t), {27, t - 1, 35, t + 7}},
        {"frame 53", GridFrameRect(53, t), {54, t + 29, 62, t + 37}},
        {"frame 255 stays on the backdrop", GridFrameRect(255, t), {162, t + 89, 170, t + 97}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRect(c.actual, c.expected);
    }
}

TEST(GridGeometryTest, HitsCoverExactlyTheCells) {
    const int t = 200;
    struct Case {
        int x;
        int y;
        int hit;
        int index;
    };
    const Case cases[] = {
        {25, t, 1, 0},      {168, t + 95, 1, 255}, {168, t, 1, 240},   {25, t + 95, 1, 15},
        {27, t + 10, 1, 1}, {33, t + 5, 1, 0},     {34, t + 6, 1, 17}, {57, t + 33, 1, 53},
        {169, t, 0, 0},     {25, t + 96, 0, 0},    {24, t, 0, 0},      {25, t - 1, 0, 0},
        {0, 0, 0, 0},       {65535, 65535, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.x << ", T + " << c.y - t << ")");
        int index = -1;
        EXPECT_EQ(HitPaletteGrid(c.x, c.y, t, index), c.hit);
        EXPECT_EQ(index, c.hit ? c.index : -1);
    }
}

TEST(GridGeometryTest, EverySwatchIsHitAsItsOwnIndex) {
    const int t = 50;
    for (int k = 0; k < 256; ++k) {
        const GridRect swatch = GridSwatchRect(k, t);
        int index = -1;
        ASSERT_EQ(HitPaletteGrid(swatch.left, swatch.top, t, index), 1) << k;
        EXPECT_EQ(index, k);
        ASSERT_EQ(HitPaletteGrid(swatch.right - 1, swatch.bottom - 1, t, index), 1) << k;
        EXPECT_EQ(index, k);
    }
}

}  // namespace

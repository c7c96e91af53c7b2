// What a run's outputs ask of the frames the check found: one size for the GIF and the sheet,
// a GIF within 65535 pixels a side, and the levels the frames render with.
#include "kelvo/batch/render_outputs.h"

#include <gtest/gtest.h>

namespace {

CheckedFrames Sizes(int minWidth, int maxWidth, int minHeight, int maxHeight) {
    CheckedFrames sizes;
    sizes.minWidth = minWidth;
    sizes.maxWidth = maxWidth;
    sizes.minHeight = minHeight;
    sizes.maxHeight = maxHeight;
    return sizes;
}

TEST(RenderOutputsTest, RefusesFramesTheGifOrSheetCannotHold) {
    const struct {
        const char* name;
        bool gif, sheet;
        int scale;
        CheckedFrames checked, skipped;
        const char* refusal;  // "": settled
    } cases[] = {
        {"one size, a GIF and a sheet", true, true, 1, Sizes(4, 4, 3, 3), CheckedFrames{}, ""},
        {"two sizes, a GIF", true, false, 1, Sizes(4, 6, 3, 3), {}, "one GIF holds frames"},
        {"a skipped frame of another size", true, false, 1, Sizes(4, 4, 3, 3), Sizes(4, 4, 5, 5),
         "(4 to 4 wide, 3 to 5 high)"},
        {"two sizes, no GIF or sheet", false, false, 1, Sizes(4, 6, 3, 3), {}, ""},
        {"a GIF enlarged to 65535 a side", true, false, 3, Sizes(21845, 21845, 1, 1), {}, ""},
        {"a GIF enlarged past it", true, false, 3, Sizes(21846, 21846, 1, 1), {}, "65535 pixels"},
        {"two sizes, a sheet", false, true, 1, Sizes(4, 4, 3, 4), {}, "cells of a sheet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RenderRequest request;
        request.gifFile = c.gif ? "out/a.gif" : "";
        request.sheetFile = c.sheet ? "out/s.png" : "";
        request.gifScale = c.scale;
        request.quiet = true;
        LevelSpans levels;
        SheetLayout sheet;
        std::string error;
        const int settled =
            SettleChecked(request, c.checked, c.skipped, 10, nullptr, levels, sheet, error);
        EXPECT_EQ(settled, c.refusal[0] == '\0' ? 1 : 0) << error;
        EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        EXPECT_EQ(sheet.columns, c.sheet && settled ? 4 : 1);  // 10 frames: 4 a row
    }
}

TEST(RenderOutputsTest, TakesTheKnownLevelsElseThoseGiven) {
    RenderRequest request;
    request.quiet = true;
    request.levels[1] = LevelSpan{100, 200};
    LevelSpans known;
    known[2] = LevelSpan{300, 400};
    for (const bool measured : {false, true}) {
        SCOPED_TRACE(measured ? "measured by the check" : "known before it");
        LevelSpans levels;
        SheetLayout sheet;
        std::string error;
        ASSERT_EQ(SettleChecked(request, Sizes(4, 4, 3, 3), {}, 1, measured ? nullptr : &known,
                                levels, sheet, error),
                  1);
        EXPECT_EQ(levels[1], measured ? request.levels[1] : std::nullopt);
        EXPECT_EQ(levels[2], measured ? std::nullopt : known[2]);
    }
}

}  // namespace

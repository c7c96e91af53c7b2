// The layout of a sheet of frames: its columns, rows and size, and the sheets refused.
#include "kelvo/batch/sequence_sheet.h"

#include <gtest/gtest.h>

namespace {

// Width = columns x (cell + padding) + padding, and the same down, from the rule.
TEST(SequenceSheetTest, LaysOutCellsRowByRowAndRefusesSheetsTooLarge) {
    const struct {
        const char* name;
        size_t frames;
        int columns, padding, cellWidth, cellHeight;
        int wantColumns, wantRows, wantWidth, wantHeight;  // 0 columns: refused
    } cases[] = {
        {"default columns, the square root rounded up", 10, 0, 0, 4, 3, 4, 3, 16, 9},
        {"a square count", 9, 0, 2, 4, 3, 3, 3, 20, 17},
        {"one frame", 1, 0, 1, 5, 5, 1, 1, 7, 7},
        {"more columns than frames", 3, 8, 0, 2, 2, 3, 1, 6, 2},
        {"one column", 3, 1, 0, 2, 2, 1, 3, 2, 6},
        {"as wide as PNG sheets go", 1, 1, 0, 65535, 1, 1, 1, 65535, 1},
        {"wider than PNG sheets go", 16, 16, 0, 65535, 1, 0, 0, 0, 0},
        {"taller than PNG sheets go", 16, 1, 0, 1, 65535, 0, 0, 0, 0},
        {"a row of cells beyond the memory bound", 16, 16, 0, 60000, 60000, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SheetLayout layout;
        std::string error;
        const int laid =
            LayOutSheet(c.frames, c.columns, c.padding, c.cellWidth, c.cellHeight, layout, error);
        ASSERT_EQ(laid, c.wantColumns > 0 ? 1 : 0) << error;
        if (laid == 0) {
            EXPECT_NE(error.find("the sheet would be"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(layout.columns, c.wantColumns);
        EXPECT_EQ(layout.rows, c.wantRows);
        EXPECT_EQ(layout.width, c.wantWidth);
        EXPECT_EQ(layout.height, c.wantHeight);
    }
}

}  // namespace

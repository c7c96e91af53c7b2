// Pixel geometry of the 16 x 16 palette grid drawn on the control dialog: rectangles and hits.
#include "ui/grid_geometry.h"

namespace {

int ColumnLeft(int index) {
    return GRID_SWATCH_LEFT + GRID_COLUMN_PITCH * (index / GRID_SIDE);
}
int RowTop(int index, int top) {
    return top + GRID_ROW_PITCH * (index % GRID_SIDE);
}

}  // namespace

GridRect GridBackdropRect(int top) {
    return {23, top - 4, 174, top + 100};
}

GridRect GridSwatchRect(int index, int top) {
    const int left = ColumnLeft(index);
    const int rowTop = RowTop(index, top);
    return {left, rowTop, left + GRID_SWATCH_SIZE, rowTop + GRID_SWATCH_SIZE};
}

GridRect GridFrameRect(int index, int top) {
    const GridRect swatch = GridSwatchRect(index, top);
    return {swatch.left - 1, swatch.top - 1, swatch.right + 1, swatch.bottom + 1};
}

int HitPaletteGrid(int x, int y, int top, int& index) {
    const int gridWidth = GRID_COLUMN_PITCH * GRID_SIDE;
    const int gridHeight = GRID_ROW_PITCH * GRID_SIDE;
    if (x < GRID_HIT_LEFT || x >= GRID_HIT_LEFT + gridWidth || y < top || y >= top + gridHeight) {
        return 0;
    }
    const int column = (x - GRID_HIT_LEFT) / GRID_COLUMN_PITCH;
    const int row = (y - top) / GRID_ROW_PITCH;
    index = GRID_SIDE * column + row;
    return 1;
}

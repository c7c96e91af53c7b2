// Pixel geometry of the 16 x 16 palette grid drawn on the control dialog: rectangles and hits.
#pragma once

// Left and top inside, right and bottom outside, in client pixels (x right, y down).
struct GridRect {
    int left;
    int top;
    int right;
    int bottom;
};

// The grid hangs from the client area's bottom edge: its first swatch row starts 164 pixels
// above it, whatever size the dialog units give the dialog.
constexpr int GRID_BOTTOM_OFFSET = 164;
constexpr int GRID_COLUMN_PITCH = 9;
constexpr int GRID_ROW_PITCH = 6;
constexpr int GRID_HIT_LEFT = 25;  // cells reach 3 pixels left of their swatches
constexpr int GRID_SWATCH_LEFT = 28;
constexpr int GRID_SWATCH_SIZE = 6;
constexpr int GRID_SIDE = 16;  // entries per column and per row

// T: the top of the first swatch row, for the client rectangle's bottom.
inline int GridTop(int clientBottom) {
    return clientBottom - GRID_BOTTOM_OFFSET;
}

// The white area behind the swatches and their frames.
GridRect GridBackdropRect(int top);
// The 6 x 6 swatch of palette index `index`: column index / 16, row index % 16.
GridRect GridSwatchRect(int index, int top);
// The 8 x 8 outline around a swatch, used for both the range frames and the cursor frame.
GridRect GridFrameRect(int index, int top);

// Maps a click to the palette index of its cell. Returns 0, leaving `index` alone, for a click
// outside the 256 cells (25 <= x <= 168 and top <= y <= top + 95).
int HitPaletteGrid(int x, int y, int top, int& index);

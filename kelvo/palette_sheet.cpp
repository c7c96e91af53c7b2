// A palette drawn as a swatch sheet: 16 x 16 cells in index order, each with its number.
#include "kelvo/palette_sheet.h"

#include <string>

namespace {

// Digits 0-9 of 3 x 5 pixels, a row of 3 bits each, top row first.
constexpr uint8_t DIGITS[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr int DIGIT_SCALE = 2;  // each font pixel is 2 x 2
constexpr int MARGIN = 3;

// Writes `number` at (x, y), digit by digit, in `ink`.
void DrawNumber(std::vector<uint8_t>& sheet, int number, int x, int y, uint8_t ink) {
    const std::string text = std::to_string(number);
    for (size_t d = 0; d < text.size(); ++d) {
        const uint8_t* rows = DIGITS[text[d] - '0'];
        const int left = x + static_cast<int>(d) * 4 * DIGIT_SCALE;
        for (int row = 0; row < 5 * DIGIT_SCALE; ++row) {
            for (int column = 0; column < 3 * DIGIT_SCALE; ++column) {
                if ((rows[row / DIGIT_SCALE] >> (2 - column / DIGIT_SCALE) & 1) != 0) {
                    sheet[static_cast<size_t>((y + row) * SHEET_SIDE + left + column)] = ink;
                }
            }
        }
    }
}

}  // namespace

double EntryLuminance(const PaletteEntry& entry) {
    return (0.3 * entry.red + 0.59 * entry.green) + 0.11 * entry.blue;
}

std::vector<uint8_t> DrawPaletteSheet(const PaletteEntry* palette) {
    int darkest = 0;
    int lightest = 0;
    for (int i = 1; i < PALETTE_ENTRIES; ++i) {
        darkest = EntryLuminance(palette[i]) < EntryLuminance(palette[darkest]) ? i : darkest;
        lightest = EntryLuminance(palette[i]) > EntryLuminance(palette[lightest]) ? i : lightest;
    }
    std::vector<uint8_t> sheet(static_cast<size_t>(SHEET_SIDE) * SHEET_SIDE);
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const int x = i % 16 * SHEET_CELL;
        const int y = i / 16 * SHEET_CELL;
        for (int row = 0; row < SHEET_CELL; ++row) {
            for (int column = 0; column < SHEET_CELL; ++column) {
                sheet[static_cast<size_t>((y + row) * SHEET_SIDE + x + column)] =
                    static_cast<uint8_t>(i);
            }
        }
        const double own = EntryLuminance(palette[i]);
        const int ink =
            own - EntryLuminance(palette[darkest]) > EntryLuminance(palette[lightest]) - own
                ? darkest
                : lightest;
        DrawNumber(sheet, i, x + MARGIN, y + MARGIN, static_cast<uint8_t>(ink));
    }
    return sheet;
}

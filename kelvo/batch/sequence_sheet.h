// `kelvo render --sheet`: every frame of a rendered sequence in one indexed PNG grid, made from
// its frame files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kelvo/batch/render_driver.h"
#include "pcx/palette.h"

// libpng writes no side longer than this (its default user limit), and most viewers and
// readers open nothing larger.
constexpr long long MAX_SHEET_SIDE = 1000000;
// The sheet is written a row of cells at a time: the most memory one such band may take. Less
// where a process has only 2 GB of addresses.
constexpr long long MAX_SHEET_BAND_BYTES = sizeof(void*) > 4 ? 1LL << 30 : 256LL << 20;
// The most columns and padding a sheet may be asked for (--columns, --sheet-padding, and the
// settings text's columns and sheet_padding): beyond them a sheet passes MAX_SHEET_SIDE long
// before.
constexpr long long MAX_SHEET_COLUMNS = 65535;
constexpr long long MAX_SHEET_PADDING = 1024;

// Where the cells of a sheet lie: `columns` cells of the frames' size a row, in as many rows
// as the frames need, with `padding` pixels between the cells and around them.
struct SheetLayout {
    int columns = 1;
    int rows = 1;
    int padding = 0;
    int cellWidth = 0;
    int cellHeight = 0;
    int width = 0;  // the whole sheet
    int height = 0;
};

// The columns a sheet of `frames` frames has when none are asked for: the square root of the
// frames, rounded up, so that the sheet is about as wide as high in cells.
int DefaultSheetColumns(size_t frames);

// Lays out `frames` cells of `cellWidth` x `cellHeight` in `columns` a row (0: the default; never
// more than the frames) with `padding` around them. 0, with `error` saying how large the sheet
// would be, when a side passes MAX_SHEET_SIDE or a row of cells MAX_SHEET_BAND_BYTES.
[[nodiscard]] int LayOutSheet(size_t frames, int columns, int padding, int cellWidth,
                              int cellHeight, SheetLayout& layout, std::string& error);

// Writes `path` (all or nothing) as an 8-bit indexed PNG of `layout` whose cells hold the
// frame files of `plans` in order, row by row from the top left, after every one was written
// and checked: one row of cells is in memory at a time, whoever rendered them. The padding and
// the cells no frame fills are `transparentIndex`, or 0 when it is -1; the palette and tRNS
// are as WriteIndexedPng writes them. Every frame must have the cells' size and `palette` as
// its palette; the interrupt flag stops the writing. On 0, `error` says why and `path` is as
// it was.
[[nodiscard]] int WriteSequenceSheet(const std::string& path, const std::vector<FramePlan>& plans,
                                     const PaletteEntry* palette, const SheetLayout& layout,
                                     int transparentIndex, std::string& error);

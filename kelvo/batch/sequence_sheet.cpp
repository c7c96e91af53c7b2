// `kelvo render --sheet`: every frame of a rendered sequence in one indexed PNG grid, made from
// its frame files.
#include "kelvo/batch/sequence_sheet.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "kelvo/batch/sequence_gif.h"
#include "kelvo/imageio/png_preview.h"
#include "kelvo/os/interrupt.h"
#include "pcx/pcx_frame_reader.h"

int DefaultSheetColumns(size_t frames) {
    auto columns = static_cast<size_t>(std::ceil(std::sqrt(static_cast<double>(frames))));
    // The square root of a large count can round below its true value.
    while (columns * columns < frames) {
        ++columns;
    }
    return columns < 1 ? 1 : static_cast<int>(columns);
}

int LayOutSheet(size_t frames, int columns, int padding, int cellWidth, int cellHeight,
                SheetLayout& layout, std::string& error) {
    if (frames == 0 || cellWidth < 1 || cellHeight < 1 || padding < 0 || columns < 0) {
        error = "no frames";
        return 0;
    }
    size_t across = columns == 0 ? static_cast<size_t>(DefaultSheetColumns(frames))
                                 : static_cast<size_t>(columns);
    across = across < frames ? across : frames;
    const size_t down = (frames + across - 1) / across;
    // Frames are at most 65535 pixels a side and counts of frames far below 2^31, so these
    // products fit 64 bits.
    const long long width = static_cast<long long>(across) * (cellWidth + padding) + padding;
    const long long height = static_cast<long long>(down) * (cellHeight + padding) + padding;
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels (" +
                             std::to_string(across) + " x " + std::to_string(down) + " cells)";
    if (width > MAX_SHEET_SIDE || height > MAX_SHEET_SIDE) {
        error = "the sheet would be " + size + ", and a PNG sheet is at most " +
                std::to_string(MAX_SHEET_SIDE) + " pixels a side; ";
        error += width <= MAX_SHEET_SIDE    ? "give more --columns"
                 : height <= MAX_SHEET_SIDE ? "give fewer --columns"
                                            : "the frames are too many for one sheet";
        return 0;
    }
    if (width * (cellHeight + padding) > MAX_SHEET_BAND_BYTES) {
        error = "the sheet would be " + size + ", and one row of its cells would take more than " +
                std::to_string(MAX_SHEET_BAND_BYTES >> 20) + " MiB; give fewer --columns";
        return 0;
    }
    layout.columns = static_cast<int>(across);
    layout.rows = static_cast<int>(down);
    layout.padding = padding;
    layout.cellWidth = cellWidth;
    layout.cellHeight = cellHeight;
    layout.width = static_cast<int>(width);
    layout.height = static_cast<int>(height);
    return 1;
}

int WriteSequenceSheet(const std::string& path, const std::vector<FramePlan>& plans,
                       const PaletteEntry* palette, const SheetLayout& layout, int transparentIndex,
                       std::string& error) {
    if (plans.empty() ||
        plans.size() > static_cast<size_t>(layout.columns) * static_cast<size_t>(layout.rows)) {
        error = "no frames";
        return 0;
    }
    const auto width = static_cast<size_t>(layout.width);
    const auto cellWidth = static_cast<size_t>(layout.cellWidth);
    const auto padding = static_cast<size_t>(layout.padding);
    const auto background = static_cast<uint8_t>(transparentIndex >= 0 ? transparentIndex : 0);
    // One row of cells, with the padding above it; LayOutSheet bounded its size.
    std::vector<uint8_t> band;
    try {
        band.resize(width * static_cast<size_t>(layout.cellHeight + layout.padding));
    } catch (const std::bad_alloc&) {
        error = "out of memory for a row of " + std::to_string(layout.columns) + " cells";
        return 0;
    }
    PcxFrame frame;
    int bandRow = -1;  // the row of cells in `band`
    // Reads the cells of row `row` into the band.
    const auto fill = [&](int row, std::string& problem) {
        std::memset(band.data(), background, band.size());
        for (size_t column = 0; column < static_cast<size_t>(layout.columns); ++column) {
            const size_t index =
                static_cast<size_t>(row) * static_cast<size_t>(layout.columns) + column;
            if (index >= plans.size()) {
                break;
            }
            if (InterruptRequested()) {
                problem = "interrupted";
                return 0;
            }
            if (!ReadSequenceFrame(plans[index], palette, frame, problem)) {
                return 0;
            }
            if (frame.width != layout.cellWidth || frame.height != layout.cellHeight) {
                problem = "frame file '" + plans[index].file + "' is " +
                          std::to_string(frame.width) + " x " + std::to_string(frame.height) +
                          " pixels, the sheet's cells " + std::to_string(layout.cellWidth) + " x " +
                          std::to_string(layout.cellHeight);
                return 0;
            }
            const size_t left = padding + column * (cellWidth + padding);
            for (size_t y = 0; y < static_cast<size_t>(frame.height); ++y) {
                std::memcpy(&band[(padding + y) * width + left], &frame.indices[y * cellWidth],
                            cellWidth);
            }
        }
        return 1;
    };
    const auto rows = [&](int y, std::string& problem) -> const uint8_t* {
        const int pitch = layout.cellHeight + layout.padding;
        const int row = y / pitch;
        if (row >= layout.rows) {
            // The padding below the last row of cells, as above each row.
            return band.data();
        }
        if (row != bandRow) {
            bandRow = row;
            if (!fill(row, problem)) {
                return nullptr;
            }
        }
        return &band[static_cast<size_t>(y - row * pitch) * width];
    };
    return WriteIndexedPngRows(path, layout.width, layout.height, palette, transparentIndex, rows,
                               error);
}

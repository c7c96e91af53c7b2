// The palette grid on the control dialog's surface: drawing it and picking ranges on it.
#include "ui/palette_grid_win32.h"

#include "ui/dialog_state.h"
#include "ui/gdi_holders.h"
#include "ui/grid_geometry.h"

namespace {

RECT ToRect(const GridRect& rect) {
    RECT result;
    SetRect(&result, rect.left, rect.top, rect.right, rect.bottom);
    return result;
}

void FillGridRect(HDC dc, const GridRect& rect, HBRUSH brush) {
    const RECT area = ToRect(rect);
    FillRect(dc, &area, brush);
}

void FrameGridRect(HDC dc, const GridRect& rect, HBRUSH brush) {
    const RECT area = ToRect(rect);
    FrameRect(dc, &area, brush);
}

int ReadGridTop(HWND dialog) {
    GetClientRect(dialog, &dialogState.clientRect);
    return GridTop(dialogState.clientRect.bottom);
}

}  // namespace

void PaintPaletteGrid(HWND dialog, const PaletteRenderSettings& settings) {
    const WindowDc dc(dialog);
    if (dc.Get() == nullptr) {
        return;
    }
    SetMapMode(dc.Get(), MM_TEXT);
    const int top = ReadGridTop(dialog);
    {
        const SolidBrush white(RGB(255, 255, 255));
        FillGridRect(dc.Get(), GridBackdropRect(top), white.Get());
    }
    for (int k = 0; k < PALETTE_ENTRIES; ++k) {
        const PaletteEntry& colour = dialogState.workingPalette[k];
        const SolidBrush swatch(RGB(colour.red, colour.green, colour.blue));
        FillGridRect(dc.Get(), GridSwatchRect(k, top), swatch.Get());
    }
    {
        const SolidBrush red(RGB(255, 0, 0));
        const ColorRange& range = settings.ranges[dialogState.currentRange];
        for (int k = range.first; k <= range.last; ++k) {
            FrameGridRect(dc.Get(), GridFrameRect(k, top), red.Get());
        }
    }
    const SolidBrush black(RGB(0, 0, 0));
    FrameGridRect(dc.Get(), GridFrameRect(dialogState.cursorIndex, top), black.Get());
}

void ClickPaletteGrid(HWND dialog, LPARAM position, PaletteRenderSettings& settings) {
    const int x = LOWORD(position);
    const int y = HIWORD(position);
    const int top = ReadGridTop(dialog);
    int index = 0;
    if (HitPaletteGrid(x, y, top, index)) {
        if (dialogState.pickMode == 1) {
            const int r = dialogState.currentRange;
            settings.ranges[r].first = static_cast<uint8_t>(dialogState.cursorIndex);
            settings.ranges[r].last = static_cast<uint8_t>(index);
            if (dialogState.fromSpinners[r] != nullptr) {
                dialogState.fromSpinners[r]->SetIntValue(settings.ranges[r].first, 0);
            }
            if (dialogState.toSpinners[r] != nullptr) {
                dialogState.toSpinners[r]->SetIntValue(settings.ranges[r].last, 0);
            }
            dialogState.pickMode = 0;
            SetCursor(LoadCursor(nullptr, IDC_ARROW));
        } else {
            dialogState.cursorIndex = index;
        }
    }
    PaintPaletteGrid(dialog, settings);
}

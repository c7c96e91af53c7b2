// The host's custom controls on Windows: class registration and window placement.
#include <windows.h>

#include <algorithm>

#include "hostapi/custom_control_classes_win32.h"
#include "hostapi/host_api.h"

void InitCustomControls(HINSTANCE instance) {
    RegisterCustEditClass(instance);
    RegisterSpinnerControlClass(instance);
}

void CenterWindow(HWND window, HWND parent) {
    RECT box;
    if (!GetWindowRect(window, &box)) {
        return;
    }
    RECT area;
    if (parent == nullptr || !GetWindowRect(parent, &area)) {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    const LONG width = box.right - box.left;
    const LONG height = box.bottom - box.top;
    LONG left = area.left + (area.right - area.left - width) / 2;
    LONG top = area.top + (area.bottom - area.top - height) / 2;
    // A parent near the edge of the screen must not push the box off it.
    RECT screen;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &screen, 0)) {
        left = std::max(screen.left, std::min(left, screen.right - width));
        top = std::max(screen.top, std::min(top, screen.bottom - height));
    }
    SetWindowPos(window, nullptr, static_cast<int>(left), static_cast<int>(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

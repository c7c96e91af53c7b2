// Platform stand-in: windows as callbacks, for builds off Windows.
#include <windows.h>

struct HWND__ {
    WNDPROC procedure;
    void* context;
};

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || window->procedure == nullptr) {
        return 0;
    }
    return window->procedure(window, message, wParam, lParam);
}

HWND CreateStandInWindow(WNDPROC procedure, void* context) {
    return new HWND__{procedure, context};
}

void* StandInWindowContext(HWND window) { return window != nullptr ? window->context : nullptr; }

void DestroyStandInWindow(HWND window) { delete window; }

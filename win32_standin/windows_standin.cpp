// Platform stand-in: windows as callbacks and strings from compiled-in tables, off Windows.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "win32_standin/standin_resources.h"

struct HWND__ {
    WNDPROC procedure;
    void* context;
    bool ended;
    INT_PTR endResult;
};

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window == nullptr || window->procedure == nullptr) {
        return 0;
    }
    return window->procedure(window, message, wParam, lParam);
}

HWND GetParent(HWND) {
    return nullptr;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) {
        return 0;
    }
    buffer[0] = '\0';
    if (instance == nullptr) {
        return 0;
    }
    for (size_t i = 0; i < instance->stringCount; ++i) {
        if (instance->strings[i].id == id) {
            const size_t room = static_cast<size_t>(bufferSize) - 1;
            const size_t length = std::min(std::strlen(instance->strings[i].text), room);
            std::memcpy(buffer, instance->strings[i].text, length);
            buffer[length] = '\0';
            return static_cast<int>(length);
        }
    }
    return 0;
}

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR, HWND, DLGPROC, LPARAM) {
    return -1;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (dialog == nullptr) {
        return FALSE;
    }
    dialog->ended = true;
    dialog->endResult = result;
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR) {
    return nullptr;
}
HCURSOR SetCursor(HCURSOR) {
    return nullptr;
}

HWND CreateStandInWindow(WNDPROC procedure, void* context) {
    return new HWND__{procedure, context, false, 0};
}

void* StandInWindowContext(HWND window) {
    return window != nullptr ? window->context : nullptr;
}

void DestroyStandInWindow(HWND window) {
    delete window;
}

bool StandInDialogEnded(HWND window, INT_PTR& result) {
    if (window == nullptr || !window->ended) {
        return false;
    }
    result = window->endResult;
    return true;
}

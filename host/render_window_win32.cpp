// The render window on Windows: a message-only window of its own class.
#include <windows.h>

#include "host/render_window.h"

namespace {

constexpr char RENDER_WINDOW_CLASS[] = "KelvoRenderWindow";

bool RegisterRenderWindowClass(WNDPROC procedure) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(GetModuleHandleA(nullptr), RENDER_WINDOW_CLASS, &existing)) {
        return true;
    }
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = RENDER_WINDOW_CLASS;
    return RegisterClassExA(&windowClass) != 0;
}

}  // namespace

RenderWindow::RenderWindow() {
    if (RegisterRenderWindowClass(&RenderWindow::Procedure)) {
        window_ = CreateWindowExA(0, RENDER_WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleA(nullptr), this);
    }
}

RenderWindow::~RenderWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

LRESULT CALLBACK RenderWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<RenderWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message == MSG_RENDER_PROGRESS) {
        self->OnProgress(wParam, lParam);
        return 0;
    }
    if (self != nullptr && message == MSG_RENDER_CHECK_ABORT) {
        self->OnAbortPoll(lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

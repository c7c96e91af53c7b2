// A window whose messages go to a test's callback.
#include "tests/test_window.h"

#include <utility>

#ifdef _WIN32

namespace {
constexpr char TEST_WINDOW_CLASS[] = "KelvoTestWindow";
}  // namespace

TestWindow::TestWindow(Handler handler) : handler_(std::move(handler)) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExA(GetModuleHandleA(nullptr), TEST_WINDOW_CLASS, &windowClass)) {
        windowClass.lpfnWndProc = &TestWindow::Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = TEST_WINDOW_CLASS;
        RegisterClassExA(&windowClass);
    }
    window_ = CreateWindowExA(0, TEST_WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), this);
}

TestWindow::~TestWindow() {
    DestroyWindow(window_);
}

LRESULT CALLBACK TestWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && message >= WM_USER) {
        self->handler_(message, wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

#else

TestWindow::TestWindow(Handler handler) : handler_(std::move(handler)) {
    window_ = CreateStandInWindow(&TestWindow::Procedure, this);
}

TestWindow::~TestWindow() {
    DestroyStandInWindow(window_);
}

LRESULT TestWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    static_cast<TestWindow*>(StandInWindowContext(window))->handler_(message, wParam, lParam);
    return 0;
}

#endif

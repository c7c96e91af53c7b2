// A window whose messages go to a test's callback: a message-only window on Windows, a
// stand-in window elsewhere. SendMessageA reaches the callback synchronously on both.
#pragma once

#include <windows.h>

#include <functional>

class TestWindow {
public:
    using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;

    explicit TestWindow(Handler handler);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Handler handler_;
    HWND window_ = nullptr;
};

// The host window a filter reports to while it renders: one progress message and one abort
// poll per row. On Windows a real message-only window; elsewhere a stand-in window.
#pragma once

#include <functional>
#include <utility>

#include "hostapi/host_api.h"

class RenderWindow {
public:
    // Sees every progress message (the row, and height - 1); returning true asks the filter
    // to stop at the abort poll that follows.
    using ProgressHook = std::function<bool(int row, int lastRow)>;

    RenderWindow();
    ~RenderWindow();
    RenderWindow(const RenderWindow&) = delete;
    RenderWindow& operator=(const RenderWindow&) = delete;

    // Null when the window could not be created.
    HWND Handle() const { return window_; }
    void SetProgressHook(ProgressHook hook) { hook_ = std::move(hook); }

private:
    // The answers of the window procedure; both messages return 0.
    void OnProgress(WPARAM row, LPARAM lastRow);
    void OnAbortPoll(LPARAM flagAddress);
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    ProgressHook hook_;
    bool stopRequested_ = false;
};

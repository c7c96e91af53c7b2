// The render window off Windows: a stand-in window that calls the procedure directly.
#include "host/render_window.h"

RenderWindow::RenderWindow() {
    window_ = CreateStandInWindow(&RenderWindow::Procedure, this);
}

RenderWindow::~RenderWindow() {
    DestroyStandInWindow(window_);
}

LRESULT RenderWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<RenderWindow*>(StandInWindowContext(window));
    if (message == MSG_RENDER_PROGRESS) {
        self->OnProgress(wParam, lParam);
    } else if (message == MSG_RENDER_CHECK_ABORT) {
        self->OnAbortPoll(lParam);
    }
    return 0;
}

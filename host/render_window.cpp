// How the render window answers the filter's progress messages and abort polls.
#include "host/render_window.h"

#include <cstdint>

void RenderWindow::OnProgress(WPARAM row, LPARAM lastRow) {
    if (hook_ && hook_(static_cast<int>(row), static_cast<int>(lastRow))) {
        stopRequested_ = true;
    }
}

// The filter set the flag to 0 before asking; a stop request is answered once.
void RenderWindow::OnAbortPoll(LPARAM flagAddress) {
    auto* flag = reinterpret_cast<int32_t*>(flagAddress);
    if (flag != nullptr && stopRequested_) {
        *flag = 1;
        stopRequested_ = false;
    }
}

// Turns Ctrl-C and Ctrl-Break in the console into a flag the render polls.
#include <windows.h>

#include <atomic>

#include "kelvo/os/interrupt.h"

namespace {

// The console calls the handler on a thread of its own.
std::atomic<bool> interruptFlag{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        interruptFlag = true;
        return TRUE;  // handled: the process goes on to stop the render itself
    }
    return FALSE;
}

}  // namespace

void InstallInterruptHandlers() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
    return interruptFlag;
}

void RequestInterrupt() {
    interruptFlag = true;
}

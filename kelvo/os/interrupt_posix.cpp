// Turns Ctrl-C (SIGINT) and SIGTERM into a flag the render polls.
#include "kelvo/os/interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t interruptFlag = 0;

void OnInterrupt(int) {
    interruptFlag = 1;
}

}  // namespace

void InstallInterruptHandlers() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool InterruptRequested() {
    return interruptFlag != 0;
}

void RequestInterrupt() {
    interruptFlag = 1;
}

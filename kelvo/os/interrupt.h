// Turns Ctrl-C (SIGINT) and SIGTERM into a flag the render polls; on Windows Ctrl-C and
// Ctrl-Break in the console (interrupt_win32.cpp).
#pragma once

// Installs the handlers; each signal then only sets the flag.
void InstallInterruptHandlers();
bool InterruptRequested();
// Sets the flag as a signal does: a worker whose host tells it to stop.
void RequestInterrupt();

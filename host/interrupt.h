// Turns Ctrl-C (SIGINT) and SIGTERM into a flag the render polls.
#pragma once

// Installs the handlers; each signal then only sets the flag.
void InstallInterruptHandlers();
bool InterruptRequested();

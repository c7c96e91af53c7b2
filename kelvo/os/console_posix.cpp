// kelvo's standard streams on POSIX systems: nothing to set up.
#include <unistd.h>

#include "kelvo/os/console.h"

void PrepareConsoleStreams() {}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

const char* NullDevicePath() {
    return "/dev/null";
}

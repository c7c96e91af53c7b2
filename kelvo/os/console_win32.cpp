// kelvo's standard streams on Windows: the console.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "kelvo/os/console.h"

void PrepareConsoleStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    // Consoles before Windows 10 refuse the mode; the bar then shows its escapes as text.
    HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (errors != INVALID_HANDLE_VALUE && GetConsoleMode(errors, &mode)) {
        SetConsoleMode(errors, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool IsTerminal(FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

const char* NullDevicePath() {
    return "NUL";
}

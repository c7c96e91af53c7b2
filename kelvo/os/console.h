// kelvo's standard streams as this system has them: set up, asked whether they are a
// terminal, and the device that swallows output.
#pragma once

#include <cstdio>

// On Windows standard output becomes binary, so what kelvo prints (JSON above all) has the
// same bytes as on other systems, and a console on standard error learns the escape sequences
// the progress bar redraws itself with. Elsewhere there is nothing to do.
void PrepareConsoleStreams();

// Whether `stream` is a terminal (a console on Windows).
bool IsTerminal(FILE* stream);

// The device that swallows whatever is written to it ("/dev/null", "NUL").
const char* NullDevicePath();

// How kelvo ends: its exit codes, which scripts rely on, and the one way it says what went
// wrong.
#pragma once

#include <string>

constexpr int EXIT_DONE = 0;           // every frame's file (or the asked-for file) was written
constexpr int EXIT_NOT_WRITTEN = 1;    // some output was not written; the message says which
constexpr int EXIT_BAD_INPUT = 2;      // usage or input error, found before anything was written
constexpr int EXIT_INTERRUPTED = 130;  // stopped by SIGINT or SIGTERM (Ctrl-C, Ctrl-Break)

// One line on stderr, "kelvo: MESSAGE": a problem among others, before kelvo's verdict.
void Complain(const std::string& message);

// Complains, and returns `code` for kelvo to end with.
[[nodiscard]] int Fail(int code, const std::string& message);

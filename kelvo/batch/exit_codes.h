// The exit codes kelvo answers with; scripts rely on them.
#pragma once

constexpr int EXIT_DONE = 0;            // every frame's file (or the asked-for file) was written
constexpr int EXIT_NOT_WRITTEN = 1;     // some output was not written; the message says which
constexpr int EXIT_BAD_INPUT = 2;       // usage or input error, found before anything was written
constexpr int EXIT_INTERRUPTED = 130;   // stopped by SIGINT or SIGTERM (Ctrl-C, Ctrl-Break)

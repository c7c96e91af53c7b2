// kelvo started by itself as one of `kelvo render -j N`'s workers. Windows starts workers as
// processes of kelvo.exe (render_worker_win32.cpp); elsewhere they are forked and never come
// through here (render_worker_posix.cpp).
#pragma once

#include <string>
#include <vector>

// The hidden first argument with which kelvo.exe starts itself as a worker; refused unless
// its standard input and output are the pipes from a kelvo that sends its setup.
constexpr const char* WORKER_ARGUMENT = "--render-worker";

// When `args` (the command line after the program) asks for a worker, runs it: reads the
// setup from standard input, loads the plug-in module and renders what the parent hands it.
// Returns true with the worker's exit code in `exitCode`; false for every other command line.
[[nodiscard]] bool RunAsRenderWorker(const std::vector<std::string>& args, int& exitCode);

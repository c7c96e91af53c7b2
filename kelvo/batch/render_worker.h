// kelvo started by itself as one of `kelvo render -j N`'s workers (render_worker.cpp); how a
// worker takes its pipes from the host is the system's part (render_worker_posix.cpp,
// render_worker_win32.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kelvo/batch/worker_processes.h"

// The hidden first argument with which kelvo starts itself as a worker; refused unless its
// standard input and output are the pipes from a kelvo that sends its setup.
constexpr const char* WORKER_ARGUMENT = "--render-worker";

// When `args` (the command line after the program) asks for a worker, runs it: reads the
// setup from standard input, loads the plug-in module and renders what the parent hands it.
// Returns true with the worker's exit code in `exitCode`; false for every other command line.
[[nodiscard]] bool RunAsRenderWorker(const std::vector<std::string>& args, int& exitCode);

// A worker's end of its two pipes to the host, owned by the worker.
class WorkerLink : public HostLink {
public:
    virtual ~WorkerLink() = default;
};

// The system's part of becoming a worker: checks `args` (those after WORKER_ARGUMENT) and that
// the standard input and output are pipes, takes them for the link (the standard streams then
// read and write the null device, so that nothing printed by accident reaches the host), and
// lets the host's interrupt reach this process. Null, with nothing said, when this process was
// not started as kelvo starts its workers.
std::unique_ptr<WorkerLink> TakeWorkerLink(const std::vector<std::string>& args);

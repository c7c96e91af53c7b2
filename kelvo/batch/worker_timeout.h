// When `kelvo render -j N` ends a worker stuck on a frame, and what the host makes of what it
// left: its temporary files removed, its frame's files judged written or not.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/os/file_identity.h"

using Clock = std::chrono::steady_clock;
constexpr size_t NO_FRAME = SIZE_MAX;

// What the host knows of one worker.
struct WorkerRecord {
    std::string buffer;    // bytes received that do not make a whole message yet
    uint64_t process = 0;  // its process ID, once it said
    bool checked = false;
    bool gone = false;           // its pipe has closed, or the host ended it
    std::deque<size_t> frames;   // frames it checked and has not rendered, ascending
    size_t busyWith = NO_FRAME;  // the frame it was ordered to check or render, until it answers
    Clock::time_point since;     // when that order went out
    // With a frame timeout, the versions of the frame's files (frame, PNG, BMP) when it was
    // ordered to render it.
    std::vector<FileIdentity> filesBefore;
    // The frames of its block after `busyWith`, in the order it renders them, each with its
    // files' versions from when the block went out: the next becomes `busyWith` as the worker
    // answers for the one before.
    struct Queued {
        size_t index = NO_FRAME;
        std::vector<FileIdentity> filesBefore;
    };
    std::deque<Queued> queued;
};

// The versions of the files `plan` writes: frame, PNG and BMP.
std::vector<FileIdentity> IdentifyFrameFiles(const FramePlan& plan);

// Removes the temporary files that `process`, a worker that has ended, left beside the files of
// `plan`: their names hold its process ID (TemporaryNameBeside).
void SweepTemporaryFiles(const FramePlan& plan, uint64_t process);

// True when a worker ended while rendering `index` left its files written: each one asked for
// was replaced since `before`, and the frame reads back complete, of its size and palette.
bool LeftWritten(const ParallelRender& run, size_t index, const std::vector<FileIdentity>& before);

// Ends every worker that has spent longer than `run.frameTimeoutSeconds` on its frame, hands
// that frame and its files' versions from before to `timedOut` once the worker has ended, and
// starts a worker in its place.
void EndStuckWorkers(const ParallelRender& run, WorkerProcesses& processes,
                     std::vector<WorkerRecord>& workers,
                     const std::function<void(size_t, const std::vector<FileIdentity>&)>& timedOut);

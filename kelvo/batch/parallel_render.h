// Runs `kelvo render`'s input check and frames in worker processes, each with its own filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostapi/host_api.h"
#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/progress_display.h"
#include "kelvo/batch/render_driver.h"
#include "plugin/settings.h"
#include "render/range_choices.h"

// What a run in workers came to.
enum ParallelResult {
    PARALLEL_UNAVAILABLE,  // no worker could be started: render in this process instead
    PARALLEL_BAD_INPUT,    // some input did not decode (reported); nothing was rendered
    PARALLEL_INTERRUPTED,  // interrupted while the inputs were checked; nothing rendered
    PARALLEL_NOT_STARTED,  // `beforeRender` refused (and said why); nothing was rendered
    PARALLEL_WORKER_LOST,  // a worker ended, or was ended for the frame timeout, before its
                           // inputs were checked (its frame reported); nothing was rendered
    PARALLEL_RENDERED,     // the frames were rendered; `report` says how each went
};

struct ParallelRender {
    std::string pluginPath;  // as --plugin named it: each worker loads the module itself
    const PaletteRenderSettings* settings = nullptr;  // the configured filter's
    const RangeChoices* choices = nullptr;            // what the ranges ask beyond it; null: none
    const std::vector<FramePlan>* plans = nullptr;
    const std::vector<InputFrame>* inputs = nullptr;  // one per plan
    const InputOptions* inputOptions = nullptr;
    size_t cacheBytes = 0;  // decoded frames kept between check and render, over all workers
    int jobs = 2;
    size_t maxReports = 10;              // bad inputs reported before "... and N more"
    CheckedFrames* checked = nullptr;    // when set, gets what the check found
    FrameOutputs outputs;                // how each frame's PNG and BMP are written
    const LevelSpans* levels = nullptr;  // when set, read once `beforeRender` has answered
    // A worker that takes longer on one frame, checking or rendering it, is ended and another
    // started in its place; 0: no limit.
    int frameTimeoutSeconds = 0;
};

// Shares the frames among `jobs` worker processes, a frame (small frames a block of a few) at
// a time to whichever worker is free. The inputs are checked first (FileFrameSource::Check): by
// the host from their probes, or with `measureLuminance` by the workers, which decode each
// frame to measure it; only when all of them passed, and `beforeRender` answered 1 (by then
// `run.checked` holds what the workers found, and `beforeRender` may set `*run.levels` from it), do
// the workers render, each frame as RenderFrames renders it, with those levels (a worker renders
// the frames it checked first, then takes over others'; with fewer workers than processors it
// decodes its next frame while it renders one). Bad inputs go to `reportBadInput` and frame
// outcomes to `progress`, both in frame order, the same lines a run in one process gives. An
// interrupt (SIGINT or SIGTERM; Ctrl-C or Ctrl-Break on Windows) reaches every worker. A worker
// that spends longer than `run.frameTimeoutSeconds` on a frame is ended and another started: a
// frame it was checking is reported through `reportBadInput` and ends the run as a lost worker does
// (PARALLEL_WORKER_LOST). For one it was rendering, what is on disk decides: when the worker
// had replaced the frame file, and the PNG and BMP asked for, since the frame was handed to it,
// and the frame file reads back complete (FindFinishedFrames), the frame is written; otherwise
// it is reported as not written, and its old files are as they were. Frames of its block that
// it had not begun go to the other workers, as those of a worker that ends do.
ParallelResult RenderInWorkers(const ParallelRender& run,
                               const std::function<void(const std::string&)>& reportBadInput,
                               const std::function<int()>& beforeRender, ProgressDisplay& progress,
                               RenderReport& report);

// How many of `jobs` workers, each holding a frame of `frameBytes` at a time, fit in the
// machine's `physicalBytes`: all of them, or as many as fit and at least 1. Where the system
// does not say (0), all of them.
int WorkersWithinMemory(int jobs, uint64_t frameBytes, uint64_t physicalBytes);

// When a worker calls the hook on each frame.
enum WorkerStage {
    WORKER_CHECKING,   // before it checks the frame
    WORKER_RENDERING,  // before it renders the frame
    WORKER_RENDERED,   // after its files were written, before the host is told
};

// Called by a worker at each stage of each frame. kelvo sets none, and nothing a user gives
// sets one: tests set one in a build of their own (tests/stalling_kelvo.cpp) to hold a worker
// on a frame.
using WorkerFrameHook = void (*)(const InputFrame& input, const FramePlan& plan, WorkerStage stage);
void SetWorkerFrameHook(WorkerFrameHook hook);

class HostLink;
// A worker's whole life over `link`, rendering with `run.settings`: it checks the frames it is
// given, waits for the verdict, renders the frames it is given, and returns.
void RunWorker(const ParallelRender& run, HostLink& link);

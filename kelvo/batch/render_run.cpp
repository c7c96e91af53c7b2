// The fourth stage of `kelvo render`: the check of the inputs, the outputs' preparation and the
// frames, in worker processes or in this one.
#include "kelvo/batch/render_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/progress_display.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/imageio/frame_image.h"
#include "kelvo/os/interrupt.h"
#include "kelvo/os/machine_memory.h"

namespace {

// Decoded frames kept between the input check and the render, so that a sequence of up to
// about 24 frames of 1080p 16-bit colour is decoded only once; the frames beyond it are
// decoded again. Bounded, so a long sequence runs in flat memory; less where a process has
// only 2 GB of addresses.
constexpr long long DEFAULT_FRAME_CACHE_MIB = sizeof(void*) > 4 ? 512 : 256;
// More reports than this of bad inputs hide rather than help.
constexpr size_t MAX_INPUT_REPORTS = 10;

// As many of `workers` as fit in the machine's memory, each holding the run's largest frame at
// a time (and the next, decoded ahead, when there are fewer workers than processors); says so
// in one line when that is fewer.
int BoundWorkersByMemory(int workers, const std::vector<InputFrame>& inputs,
                         const InputOptions& input, bool quiet) {
    const FrameSize largest = LargestFrame(inputs, input);
    const int64_t pixels = int64_t{largest.width} * largest.height;
    auto frameBytes = static_cast<uint64_t>(pixels * RENDER_BYTES_PER_PIXEL);
    const uint64_t physical = UsableMemoryBytes();
    int fitting = WorkersWithinMemory(workers, frameBytes, physical);
    if (fitting < ProcessorCount()) {
        frameBytes =
            static_cast<uint64_t>(pixels * (RENDER_BYTES_PER_PIXEL + READ_AHEAD_BYTES_PER_PIXEL));
        fitting = WorkersWithinMemory(fitting, frameBytes, physical);
    }
    if (fitting < workers && !quiet) {
        Complain("note: " + std::to_string(workers) + " workers with frames of up to " +
                 std::to_string(largest.width) + " x " + std::to_string(largest.height) +
                 " pixels (" + FormatBytes(frameBytes) + " each) would need more than this " +
                 "machine's " + FormatBytes(physical) + " of memory: " +
                 (fitting == 1 ? std::string("rendering one frame at a time")
                               : "rendering with " + std::to_string(fitting) + " workers"));
    }
    return fitting;
}

// What the frames are rendered with, wherever they are.
struct RenderMeans {
    size_t cacheBytes = 0;
    FrameOutputs outputs;
};

// In worker processes: several frames and several jobs, or a frame timeout, which needs a
// worker to end. 0, with `rendered` untouched, where workers are not available here (said
// when they were asked for).
int RenderRunInWorkers(const RenderRequest& request, const FilterSettings& filter,
                       const ProbedRun& probed, const std::string& pluginPath,
                       const FramesPlan& frames, int workers, const RenderMeans& means,
                       ProgressDisplay& progress, RenderedRun& rendered) {
    int refusal = EXIT_NOT_WRITTEN;
    const auto prepareOutputs = [&]() {
        rendered.prepared = PrepareOutputs(request, filter, frames, probed, rendered.found);
        if (rendered.prepared.exitCode != RUN_GOES_ON) {
            refusal = rendered.prepared.exitCode;
            return 0;
        }
        return 1;
    };
    ParallelRender parallel;
    parallel.pluginPath = pluginPath;
    parallel.settings = &filter.settings;
    parallel.choices = &request.choices;
    parallel.plans = &frames.plans;
    parallel.inputs = &frames.inputs;
    parallel.inputOptions = &frames.input;
    parallel.cacheBytes = means.cacheBytes;
    parallel.jobs = workers;
    parallel.maxReports = MAX_INPUT_REPORTS;
    parallel.checked = &rendered.found;
    parallel.outputs = means.outputs;
    parallel.levels = &rendered.prepared.levels;
    parallel.frameTimeoutSeconds = request.frameTimeoutSeconds.value_or(0);
    switch (RenderInWorkers(parallel, Complain, prepareOutputs, progress, rendered.report)) {
        case PARALLEL_UNAVAILABLE:
            // Asked-for workers, and a frame timeout, are not silently dropped.
            if (request.frameTimeoutSeconds) {
                Complain(
                    "warning: worker processes are not available here; rendering in this "
                    "process, where --frame-timeout cannot end a frame");
            } else if (request.jobs > 1 && !request.quiet) {
                std::fprintf(stderr,
                             "kelvo: note: -j %d: worker processes are not available here; "
                             "rendering in this process\n",
                             request.jobs);
            }
            return 0;
        case PARALLEL_BAD_INPUT:
            rendered.exitCode = Fail(EXIT_BAD_INPUT, "nothing was rendered");
            return 1;
        case PARALLEL_INTERRUPTED:
            rendered.exitCode = Fail(EXIT_INTERRUPTED, "interrupted before any frame was rendered");
            return 1;
        case PARALLEL_NOT_STARTED:
            rendered.exitCode = refusal;
            return 1;
        case PARALLEL_WORKER_LOST:
            rendered.exitCode = Fail(EXIT_NOT_WRITTEN,
                                     "a worker process ended while checking the inputs; nothing "
                                     "was rendered");
            return 1;
        case PARALLEL_RENDERED:
            return 1;
    }
    return 0;
}

// In this process: the check of the inputs, the outputs' preparation, the frames.
RenderedRun RenderRunHere(const RenderRequest& request, const FilterSettings& filter,
                          const ProbedRun& probed, FramesPlan& frames, const RenderMeans& means,
                          ProgressDisplay& progress) {
    RenderedRun rendered;
    FileFrameSource source(std::move(frames.inputs), frames.input, means.cacheBytes);
    const int inputsGood =
        source.Check(Complain, MAX_INPUT_REPORTS, [] { return InterruptRequested(); });
    if (InterruptRequested()) {
        rendered.exitCode = Fail(EXIT_INTERRUPTED, "interrupted before any frame was rendered");
        return rendered;
    }
    if (!inputsGood) {
        rendered.exitCode = Fail(EXIT_BAD_INPUT, "nothing was rendered");
        return rendered;
    }
    rendered.found = source.Checked();
    rendered.prepared = PrepareOutputs(request, filter, frames, probed, rendered.found);
    if (rendered.prepared.exitCode != RUN_GOES_ON) {
        rendered.exitCode = rendered.prepared.exitCode;
        return rendered;
    }
    source.SetLevels(rendered.prepared.levels);
    RenderFrames(filter.settings, request.choices, frames.plans, source, progress, rendered.report,
                 means.outputs);
    return rendered;
}

}  // namespace

RenderedRun RenderRun(const RenderRequest& request, const FilterSettings& filter,
                      const ProbedRun& probed, const std::string& pluginPath, FramesPlan& frames) {
    ProgressDisplay progress(ChooseProgressMode(request.quiet, stderr), stderr,
                             frames.plans.size());
    const int jobs = request.jobs > 0 ? request.jobs : ProcessorCount();
    int workers = static_cast<int>(std::min(static_cast<size_t>(jobs), frames.plans.size()));
    if (workers > 1) {
        workers = BoundWorkersByMemory(workers, frames.inputs, frames.input, request.quiet);
    }
    // Bytes, held below what a size_t counts (a 32-bit process could not hold more anyway).
    const long long cacheMib = std::min(request.frameCacheMib.value_or(DEFAULT_FRAME_CACHE_MIB),
                                        static_cast<long long>(SIZE_MAX >> 20));
    const RenderMeans means{static_cast<size_t>(cacheMib) << 20,
                            {request.transparentIndex, request.bmpRle}};
    // Where no worker can be started, this process does it all. (With every frame skipped
    // there is nothing for a worker to do.)
    RenderedRun rendered;
    if ((workers > 1 || (workers == 1 && request.frameTimeoutSeconds)) &&
        RenderRunInWorkers(request, filter, probed, pluginPath, frames, workers, means, progress,
                           rendered)) {
        return rendered;
    }
    return RenderRunHere(request, filter, probed, frames, means, progress);
}

// A worker of `kelvo render -j N`: checks the frames the host hands it, then renders them.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <optional>

#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/worker_messages.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/os/console.h"
#include "pcx/atomic_file.h"

namespace {

// Frame `index` of the run as the only frame of a one-frame sequence; the frame after it is
// frame `next` of the run (SIZE_MAX: none to read ahead).
class OneFrameSource final : public FrameSource {
public:
    OneFrameSource(FileFrameSource& source, size_t index, size_t next)
        : source_(source), index_(index), next_(next) {}
    const DecodedFrame* LoadFrame(size_t, std::string& error) override {
        return source_.LoadFrame(index_, error);
    }
    void Prefetch(size_t) override { source_.Prefetch(next_); }

private:
    FileFrameSource& source_;
    size_t index_;
    size_t next_;
};

// Null but in the tests' own build of kelvo.
WorkerFrameHook frameHook = nullptr;

}  // namespace

void SetWorkerFrameHook(WorkerFrameHook hook) {
    frameHook = hook;
}

void RunWorker(const ParallelRender& run, HostLink& link) {
    const std::vector<FramePlan>& plans = *run.plans;
    FileFrameSource source(*run.inputs, *run.inputOptions,
                           run.cacheBytes / static_cast<size_t>(run.jobs));
    // With fewer workers than processors, a worker decodes the frame it will most likely be
    // given next while it renders one, so that it keeps two processors busy: the next of its
    // block or, after the block's last, the next of those it checked, as the host hands each
    // worker its own first, in order. A guess that another worker takes is dropped.
    const bool readAhead = run.jobs < ProcessorCount();
    std::vector<size_t> mine;  // the frames it checked, ascending
    Send(link, MESSAGE_PROCESS, {std::to_string(CurrentProcessId())});
    // Only --levels auto has the workers check the frames, which it decodes to measure them;
    // otherwise the host has settled the check from the headers it read.
    const bool checks = run.inputOptions->measureLuminance;
    while (checks) {
        Send(link, MESSAGE_NEXT, {});
        const uint32_t index = ReadWord(link);
        if (index >= plans.size()) {
            break;
        }
        mine.push_back(index);
        if (frameHook != nullptr) {
            frameHook((*run.inputs)[index], plans[index], WORKER_CHECKING);
        }
        std::string error;
        if (!source.CheckFrame(index, error)) {
            Send(link, MESSAGE_BAD_INPUT, {std::to_string(index), error});
        }
    }
    if (checks) {
        Send(link, MESSAGE_CHECKED, EncodeChecked(source.Checked()));
    }
    if (ReadWord(link) != RENDER) {
        return;
    }
    LevelSpans levels;
    for (std::optional<LevelSpan>& span : levels) {
        span = DecodeLevelSpan(ReadWord(link));
    }
    source.SetLevels(levels);
    // The host prints every outcome; the worker's own display goes nowhere.
    FILE* nowhere = std::fopen(NullDevicePath(), "w");
    ProgressDisplay silent(PROGRESS_ERRORS_ONLY, nowhere != nullptr ? nowhere : stderr, 1);
    RenderMemory memory;
    std::deque<uint32_t> block;  // the frames handed out and not rendered yet, in order
    bool stopped = false;
    Send(link, MESSAGE_NEXT, {});
    while (!stopped && ReadBlock(link, plans.size(), block)) {
        while (!block.empty()) {
            const uint32_t index = block.front();
            block.pop_front();
            if (frameHook != nullptr) {
                frameHook((*run.inputs)[index], plans[index], WORKER_RENDERING);
            }
            const auto after = std::upper_bound(mine.begin(), mine.end(), size_t{index});
            const size_t guess = !block.empty()        ? block.front()
                                 : after != mine.end() ? *after
                                                       : SIZE_MAX;
            OneFrameSource frame(source, index, readAhead ? guess : SIZE_MAX);
            RenderReport one;
            RenderFrames(*run.settings, run.choices != nullptr ? *run.choices : RangeChoices{},
                         {plans[index]}, frame, silent, one, run.outputs, &memory);
            if (one.interrupted || one.frames.empty()) {
                Send(link, MESSAGE_STOPPED, {});
                stopped = true;
                break;
            }
            const FrameOutcome& outcome = one.frames.front();
            if (frameHook != nullptr) {
                frameHook((*run.inputs)[index], plans[index], WORKER_RENDERED);
            }
            // Each outcome goes out as the frame is done, with the asking for the next block
            // after the block's last: the host's display and frame timeout follow every frame.
            Send(link, MESSAGE_FRAME, EncodeFrameOutcome(index, outcome));
            if (block.empty()) {
                Send(link, MESSAGE_NEXT, {});
            }
            link.Flush();
        }
    }
    if (nowhere != nullptr) {
        std::fclose(nowhere);
    }
}

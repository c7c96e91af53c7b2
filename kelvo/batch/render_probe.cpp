// The second stage of `kelvo render`: every input's headers, what the run's record says of the
// frames already there, and the finished frames taken out of the run.
#include "kelvo/batch/render_probe.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/finished_frames.h"
#include "kelvo/batch/run_record.h"
#include "kelvo/os/interrupt.h"

namespace {

// The spans known before anything is measured: those given by hand and, with --levels auto, the
// spans the record keeps from a measurement over every frame of this run and maybe more (the
// whole sequence, when a run measured it). 0 when --levels auto has none: the check measures
// the frames of this run, and a run over part of the sequence says so.
int KnownLevels(const RenderRequest& request, const RunRecord& record, const RunKeys& keys,
                LevelSpans& known) {
    std::copy(std::begin(request.levels), std::end(request.levels), std::begin(known));
    if (!request.levelsAuto) {
        return 1;
    }
    const auto numbers = [](const std::map<int, uint64_t>& inputs) {
        std::vector<int> list;
        for (const auto& input : inputs) {
            list.push_back(input.first);
        }
        return DescribeFrameNumbers(list);
    };
    const LevelsMeasurement* kept = FindMeasurement(record, keys.levels, keys.inputs);
    if (kept == nullptr) {
        if ((request.frames || request.skipExisting) && !request.quiet) {
            Complain(
                "note: --levels auto: no spans measured over a sequence holding frames " +
                numbers(keys.inputs) + " are kept in '" + keys.recordPath +
                "', so the spans come from these frames only" +
                (request.skipExisting ? ", and every one is rendered again to take them" : ""));
        }
        return 0;
    }
    for (int id = 0; id < RANGE_COUNT; ++id) {
        known[id] = known[id] ? known[id] : kept->spans[id];
    }
    if (kept->inputs.size() != keys.inputs.size() && !request.quiet) {
        Complain("note: --levels auto: taking the spans an earlier run measured over frames " +
                 numbers(kept->inputs) + ", kept in '" + keys.recordPath + "'");
    }
    return 1;
}

// Takes the frames already complete (FindFinishedFrames, with what the record says this run
// would make of each) out of `frames`, into `probed.skipped` and `probed.skippedSizes`.
void TakeOutFinishedFrames(const RunRecord& record, const PaletteEntry* palette, FramesPlan& frames,
                           ProbedRun& probed) {
    std::vector<FramePlan>& plans = frames.plans;
    std::vector<InputFrame>& inputs = frames.inputs;
    std::vector<uint64_t> frameKeys;
    for (const FramePlan& plan : plans) {
        frameKeys.push_back(FrameKey(probed.keys, plan, probed.known));
    }
    const FrameClaims claims{&record, &frameKeys};
    const std::vector<bool> finished =
        FindFinishedFrames(plans, inputs, frames.input, palette, &claims, probed.skippedSizes);
    size_t kept = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (finished[i]) {
            probed.skipped.push_back(plans[i].frameNumber);
        } else if (kept++ != i) {
            plans[kept - 1] = std::move(plans[i]);
            inputs[kept - 1] = std::move(inputs[i]);
        }
    }
    plans.resize(kept);
    inputs.resize(kept);
    std::sort(probed.skipped.begin(), probed.skipped.end());
}

}  // namespace

ProbedRun ProbeRun(const RenderRequest& request, const FilterSettings& filter,
                   const RendererBuild& build, FramesPlan& frames) {
    ProbeInputs(frames.inputs, frames.input, [] { return InterruptRequested(); });
    const std::string exrNote = PrepareExrInputs(frames.inputs, frames.input);
    if (!exrNote.empty() && !request.quiet) {
        Complain("note: " + exrNote);
    }
    // The record of what made the frames already there, and the spans known before measuring.
    ProbedRun probed;
    probed.keys =
        KeysOfRun(request, frames.input, filter.block, build, frames.plans, frames.inputs);
    const RunRecord record = ReadRunRecord(probed.keys.recordPath);
    probed.levelsKnown = KnownLevels(request, record, probed.keys, probed.known);
    frames.input.measureLuminance = request.levelsAuto && !probed.levelsKnown;
    // Finished frames leave the run here, before any check or worker sees them: no process
    // decodes, renders or touches them. Without known spans none is finished: the frames
    // rendered take spans measured over them, and those left would keep others.
    if (request.skipExisting && probed.levelsKnown) {
        TakeOutFinishedFrames(record, filter.settings.palette, frames, probed);
    }
    return probed;
}

// The second stage of `kelvo render`: every input's headers, what the run's record says of the
// frames already there, and the finished frames taken out of the run.
#pragma once

#include <vector>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/levels.h"
#include "kelvo/batch/render_plan.h"
#include "kelvo/batch/render_request.h"
#include "kelvo/batch/run_keys.h"

// What the run knows of its frames before any is checked or rendered.
struct ProbedRun {
    RunKeys keys;
    // The spans known before measuring (given, or kept in the record for --levels auto), when
    // `levelsKnown`; else the check measures them.
    LevelSpans known;
    bool levelsKnown = false;
    std::vector<int> skipped;    // the frames --skip-existing left out, ascending
    CheckedFrames skippedSizes;  // their sizes, which the check does not see
};

// Reads every input's headers once, for every later stage to ask the probes (noting which view
// of a many-viewed OpenEXR file is read, unless quiet), and settles `frames.input` for the
// check: the OpenEXR frame size, and whether to measure the luminance. Then the record beside
// the frame files and the spans known before measuring; with --skip-existing and known spans,
// the finished frames leave `frames.plans` and `frames.inputs` here, before any check or worker
// sees them.
ProbedRun ProbeRun(const RenderRequest& request, const FilterSettings& filter,
                   const RendererBuild& build, FramesPlan& frames);

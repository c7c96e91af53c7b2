// The fourth stage of `kelvo render`: the check of the inputs, the outputs' preparation and the
// frames, in worker processes or in this one.
#pragma once

#include <string>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/batch/render_outputs.h"
#include "kelvo/batch/render_plan.h"
#include "kelvo/batch/render_probe.h"
#include "kelvo/batch/render_request.h"

// How the frames went.
struct RenderedRun {
    int exitCode = RUN_GOES_ON;  // else the run ended before any frame rendered; said why
    RenderReport report;
    CheckedFrames found;       // what the check of the inputs found
    PreparedOutputs prepared;  // what the frames rendered with
};

// Renders `frames.plans` (taking `frames.inputs`): in worker processes, each loading the module
// at `pluginPath`, for several frames and jobs (as many as the machine's memory holds; said when
// fewer) or a frame timeout, else in this process, and in this process too where no worker
// can be started (said when workers were asked for). The inputs are checked first, every bad
// one reported; only when all pass are the outputs prepared (PrepareOutputs) and the frames
// rendered, their progress shown on stderr.
RenderedRun RenderRun(const RenderRequest& request, const FilterSettings& filter,
                      const ProbedRun& probed, const std::string& pluginPath, FramesPlan& frames);

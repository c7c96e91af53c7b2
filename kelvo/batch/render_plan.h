// The first stage of `kelvo render` after the filter is configured: the frames of the run.
#pragma once

#include <vector>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/input_options.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/batch/render_request.h"

// The frames of a run, one plan and one input each, and how their inputs are read. The probe
// fills in the inputs and takes the finished frames out; the render takes the inputs.
struct FramesPlan {
    int exitCode = RUN_GOES_ON;  // else the run ends with it; the message was given
    std::vector<FramePlan> plans;
    std::vector<InputFrame> inputs;  // one per plan
    // Every frame of the run, in order, for the GIF and the sheet (empty when neither is
    // asked for): a frame --skip-existing leaves out is in them too.
    std::vector<FramePlan> sequence;
    // The request's, with the identifiers bounded by the channel the settings read.
    InputOptions input;
};

// Frame numbers, previews and frame file names for every input, and the checks, all before
// any frame renders: with --frames, every frame selected has its colour file; no file is
// written twice or over an input, nor where it cannot be; --background-id and --id-map name
// identifiers the settings' channel holds. Says so and ends the run (EXIT_BAD_INPUT) where one
// fails. Notes --transparent given with no file that marks it, unless quiet.
FramesPlan PlanFrames(const RenderRequest& request, const FilterSettings& filter);

// The third stage of `kelvo render`, once every input is known to be good: the levels and the
// sheet's layout settled, and the outputs' directories, saved settings and record made ready.
#pragma once

#include <string>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/levels.h"
#include "kelvo/batch/render_plan.h"
#include "kelvo/batch/render_probe.h"
#include "kelvo/batch/render_request.h"
#include "kelvo/batch/sequence_sheet.h"

// What the frames render with, and how the sheet is laid out.
struct PreparedOutputs {
    int exitCode = RUN_GOES_ON;  // else the run ends with it; the message was given
    LevelSpans levels;
    SheetLayout sheet;
};

// Checks what the request asks of the frames now that the check has seen those to render
// (`found`; the sizes of those --skip-existing left out are in `probed.skippedSizes`): the GIF
// and the sheet need frames of one size, which fit them. Lays out the sheet of the sequence,
// and settles the levels (said, unless quiet): those the probe knew, else measured by the
// check. Then creates the missing directories of the outputs (said in one line, unless
// quiet), writes --save-settings, and forgets the frames about to render in the record. A
// refusal or a directory that cannot be made ends the run with EXIT_BAD_INPUT, settings not
// written with EXIT_NOT_WRITTEN; nothing has been rendered then.
PreparedOutputs PrepareOutputs(const RenderRequest& request, const FilterSettings& filter,
                               const FramesPlan& frames, const ProbedRun& probed,
                               const CheckedFrames& found);

// The checks, the sheet's layout and the levels of PrepareOutputs, for `frameCount` frames in
// the sequence; `known` null when the check measured the levels. 1, or 0 with the reason in
// `error`.
[[nodiscard]] int SettleChecked(const RenderRequest& request, const CheckedFrames& checked,
                                const CheckedFrames& skipped, size_t frameCount,
                                const LevelSpans* known, LevelSpans& levels, SheetLayout& sheet,
                                std::string& error);

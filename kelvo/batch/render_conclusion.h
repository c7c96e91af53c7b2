// The last stage of `kelvo render`: the record, the warnings, the GIF and the sheet, the
// summary and the exit code.
#pragma once

#include "kelvo/batch/render_plan.h"
#include "kelvo/batch/render_probe.h"
#include "kelvo/batch/render_request.h"
#include "kelvo/batch/render_run.h"

// Adds the frames written whole to the record (and the spans the check measured); warns of
// identifiers found in the frames whose range was never set, and of those of 16 or more; writes
// the GIF and the sheet of the whole sequence when every frame file is there; then says how
// the run went in one line and returns its exit code: EXIT_INTERRUPTED, EXIT_NOT_WRITTEN
// when any file asked for was not written, else EXIT_DONE.
int ConcludeRun(const RenderRequest& request, const FilterSettings& filter,
                const FramesPlan& frames, const ProbedRun& probed, const RenderedRun& rendered);

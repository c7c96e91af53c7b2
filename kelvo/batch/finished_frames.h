// Which frames of a run already have their complete file, for --skip-existing.
#pragma once

#include <vector>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/batch/run_record.h"
#include "pcx/palette.h"

// What the run's record says of its frame files, and what this run would make of each plan
// (the record's key); a frame the record does not name with that key and the content found
// is not finished.
struct FrameClaims {
    const RunRecord* record = nullptr;
    const std::vector<uint64_t>* keys = nullptr;  // one per plan
};

// One flag per plan: true when the plan's frame file reads back as a complete PCX frame of the
// size its colour file's headers give (FrameSizeFromHeaders) with `palette`, and its PNG and
// BMP, when asked for, exist (they are written all or nothing); with `claims`, the record
// must also say that this run's settings and inputs made exactly that content. Only those files and
// the colour file's headers are read; nothing is written, so a finished frame's files keep
// their modification times. A frame whose size the headers do not give is not finished: the
// input check then says what is wrong with it. `finishedSizes` gets the smallest and largest
// sizes of the finished frames, which the run's check of the inputs does not see.
std::vector<bool> FindFinishedFrames(const std::vector<FramePlan>& plans,
                                     const std::vector<InputFrame>& inputs,
                                     const InputOptions& options, const PaletteEntry* palette,
                                     const FrameClaims* claims, CheckedFrames& finishedSizes);

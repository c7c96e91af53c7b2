// What a run's record (run_record.h) keys its frames by, and the run's updates of the record
// before and after the render.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/levels.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/batch/render_request.h"

// The program that renders, which every frame's key includes: frames another build made are
// not taken for this one's.
struct RendererBuild {
    std::string version;
    std::string commit;
};

// What makes a run's frames what they are, for the record beside them.
struct RunKeys {
    uint64_t frames = 0;  // kelvo's build, the settings block, the input and output options
    uint64_t levels = 0;  // what measuring the frames' luminance depends on
    std::map<int, uint64_t> inputs;  // by frame number: the path, size and time of its files
    std::string recordPath;
};

// The keys of a run of `plans` (at least one) from `inputs` as `input` reads them, under
// `request` and the settings `block`, by `build`. An input's files as its probe found them, or
// as they are now where it was not probed.
RunKeys KeysOfRun(const RenderRequest& request, const InputOptions& input,
                  const std::array<uint8_t, SETTINGS_BLOCK_SIZE>& block, const RendererBuild& build,
                  const std::vector<FramePlan>& plans, const std::vector<InputFrame>& inputs);

// The key of one frame as this run makes it with `levels`.
uint64_t FrameKey(const RunKeys& keys, const FramePlan& plan, const LevelSpans& levels);

// Takes the frames about to render out of the record before any of their files is touched,
// so that a run that ends half way leaves no claim on them. Warns where the record cannot be
// written.
void ForgetFrames(const RunKeys& keys, const std::vector<FramePlan>& plans);

// Adds the frames written whole (their PNG and BMP too) to the record, read again so that runs
// over other frames into the same directory lose as little as may be, and the spans measured
// in this run (`measured`, from the check of every frame of it; null: none). Warns where the
// record cannot be written.
void RecordFrames(const RunKeys& keys, const std::vector<FramePlan>& plans,
                  const RenderReport& report, const LevelSpans& levels,
                  const CheckedFrames* measured);

// What a worker process started by `kelvo render -j N` is sent before it renders: everything
// of the run it needs, as length-prefixed bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/render_driver.h"
#include "render/range_choices.h"

struct WorkerSetup {
    std::vector<uint8_t> settingsBlock;  // the configured filter's block from SaveConfigBlock
    RangeChoices choices;                // what the ranges ask beyond the block
    std::string pluginPath;              // as --plugin gave it; empty: Kelvo.flt beside kelvo
    uint32_t jobs = 1;
    uint64_t cacheBytes = 0;  // over all workers, as in ParallelRender
    InputOptions inputOptions;
    FrameOutputs outputs;
    std::vector<FramePlan> plans;
    std::vector<InputFrame> inputs;  // one per plan
};

// What `run` gives each of its workers: the block of the settings it holds, the range choices,
// its plug-in, plans, inputs and outputs.
WorkerSetup WorkerSetupOf(const ParallelRender& run);

// A worker holds its whole setup in memory; a larger one is refused rather than allocated.
constexpr size_t WORKER_SETUP_MAX_BYTES = size_t{256} << 20;

// The tag "KLVW", a 32-bit version, then the fields in the order of WorkerSetup (the choices as
// EncodeRangeChoices gives them, with a 32-bit length like the block; those of the
// input options: ids pattern, identifier channel, layer, linear, maxId, the id map, window (1:
// data), view, frame width, height and the file that set them, background identifier (-1:
// none), alphaBelow, measureLuminance and maxPixels; of the outputs: transparent index and
// RLE8), each frame's plan and input together, the input with what the host probed (kind,
// width, height, colour refusal, identifiers' width, height and refusal) so that no worker
// reads the headers again. Integers are little-endian (32 bits; 64 for
// cacheBytes and maxPixels); strings and the block are a 32-bit length and their bytes.
std::vector<uint8_t> EncodeWorkerSetup(const WorkerSetup& setup);

// 0, with `setup` unspecified, unless the bytes are exactly one setup of this version; a length
// or count that runs past the end is refused before anything is allocated for it.
[[nodiscard]] int DecodeWorkerSetup(const uint8_t* data, size_t size, WorkerSetup& setup);

// The setup as it goes down a worker's pipe: its 32-bit little-endian length, then the
// encoded setup. Empty when it would be larger than WORKER_SETUP_MAX_BYTES.
std::vector<uint8_t> FrameWorkerSetup(const WorkerSetup& setup);

// Reads one framed setup through `read`, which fills all the bytes it is asked for or returns
// 0. 0 when the pipe ends early, the length is over WORKER_SETUP_MAX_BYTES (refused before
// anything is allocated) or the setup does not decode.
[[nodiscard]] int ReadFramedWorkerSetup(const std::function<int(uint8_t*, size_t)>& read,
                                        WorkerSetup& setup);

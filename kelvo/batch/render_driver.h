// Renders a sequence of frames through the palettisation engine and writes their files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kelvo/batch/progress_display.h"
#include "kelvo/imageio/frame_image.h"
#include "plugin/settings.h"
#include "render/frame_engine.h"
#include "render/range_choices.h"

// One frame to render. Frames are independent: any subset can be rendered by another process
// with the same settings.
struct FramePlan {
    int frameNumber = 0;
    std::string label;        // where the frame came from, for messages
    std::string file;         // the frame file named from the settings' outputName
    std::string previewPath;  // the indexed PNG (--png, --preview); empty: none
    std::string bmpPath;      // the 8-bit BMP (--bmp); empty: none
};

// How every frame's PNG and BMP are written, beside its frame file.
struct FrameOutputs {
    int transparentIndex = -1;  // marked transparent in the PNG (tRNS); -1: none
    bool bmpRle = false;        // RLE8 rather than uncompressed rows
};

// Delivers the pixels and identifiers of the frames of the plans.
class FrameSource {
public:
    // Frame `index`, or null with `error` saying why. The frame is the source's and stays as
    // given until the next call, which may decode into its memory.
    virtual const DecodedFrame* LoadFrame(size_t index, std::string& error) = 0;
    // Says that frame `index` will be asked for next, so that a source may start on it while
    // the current frame renders. A hint: LoadFrame gives the same frame either way.
    virtual void Prefetch(size_t index) { static_cast<void>(index); }

protected:
    ~FrameSource() = default;
};

// The most identifiers of 16 or more that IdCounts lists: a pass marks a handful of objects,
// and a list of every value a damaged pass holds would swell each frame's report.
constexpr size_t MAX_LISTED_IDS = 32;

// How many pixels have each identifier that selects a range, and how many one of 16 or more
// (which the filter maps with identifier 0's range), as the filter sees them (after --id-map).
struct IdCounts {
    uint64_t pixels[RANGE_COUNT] = {};
    uint64_t beyond = 0;
    // The identifiers of 16 or more with their pixels, most pixels first (then the lower
    // identifier), at most MAX_LISTED_IDS of them; `beyond` counts the pixels of every one.
    std::vector<std::pair<uint16_t, uint64_t>> listed;
    // Adds `other`'s pixels; the list keeps the identifiers with the most pixels in either.
    void Add(const IdCounts& other);
    // Orders `listed` as above and drops those past MAX_LISTED_IDS.
    void KeepMostListed();
};

struct FrameOutcome {
    int frameNumber = 0;
    std::string file;  // the frame file's name
    bool written = false;
    std::string reason;         // why not, when not written
    std::string previewReason;  // why the asked-for PNG was not written; empty when it was
    std::string bmpReason;      // why the asked-for BMP was not written; empty when it was
    uint64_t content = 0;       // what the written frame file holds (FrameContentHash); 0: unknown
    IdCounts ids;               // the identifiers of its pixels, once it was read
};

struct RenderReport {
    std::vector<FrameOutcome> frames;  // one per frame attempted, in order
    bool interrupted = false;          // stopped by SIGINT or SIGTERM
};

// What one frame's render leaves for the next: the engine with the nearest-colour searches it
// has made.
struct RenderMemory {
    std::optional<FrameEngine> engine;
};

// Renders the frames in order under `settings` and `choices`, through the engine the plug-in's
// render uses. Each frame: its identifiers are counted in the outcome (a frame with pixels of
// an identifier whose range has no usable entry is not written, and the reason names them),
// the next frame is announced to
// `source` (Prefetch), its rows are mapped one by one, each reported to `progress`, and the
// interrupt flag is looked at before each row (an interrupted frame gets no file); then the
// plan's file is written with the plug-in's frame file writer, and the PNG and BMP from the
// same indices as `outputs` says. `memory`, when given, carries the engine over
// from earlier calls with the same settings and choices. Stops early only when interrupted. Returns
// 1 when every frame and every PNG and BMP was written.
int RenderFrames(const PaletteRenderSettings& settings, const RangeChoices& choices,
                 const std::vector<FramePlan>& plans, FrameSource& source,
                 ProgressDisplay& progress, RenderReport& report, const FrameOutputs& outputs = {},
                 RenderMemory* memory = nullptr);

// What went wrong with a frame, one line each, as reported: "frame 12 (beauty_0012.png):
// 'out/shot0012.pcx' was not written: REASON" for its file; else "frame 12
// (beauty_0012.png): preview 'out/p0012.png' was not written: REASON" for its PNG and "...:
// BMP 'out/p0012.bmp' was not written: REASON" for its BMP. Empty when all went well.
std::vector<std::string> DescribeFrameProblems(const FramePlan& plan, const FrameOutcome& outcome);

// The files written for a frame besides its frame file, as the progress line lists them:
// "out/p0012.png, out/p0012.bmp"; those not written are left out.
std::string ExtraFilesWritten(const FramePlan& plan, const FrameOutcome& outcome);

// "1-3, 7, 9-10" for the frame numbers given in ascending order.
std::string DescribeFrameNumbers(const std::vector<int>& numbers);

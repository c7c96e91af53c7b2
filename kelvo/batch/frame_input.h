// Reads the input frames named on the command line: colour files and identifier passes.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kelvo/batch/input_options.h"
#include "kelvo/batch/levels.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/imageio/frame_image.h"
#include "plugin/settings.h"

struct InputFrame {
    std::string colorPath;
    int frameNumber = 0;
    int sourceNumber = 0;  // the input's own number, which finds its identifier pass
};

// Reads the headers of the first OpenEXR file among `frames` that has readable ones: with
// display windows, its frame's size becomes the one every OpenEXR frame of the run must have
// (`options.exrFrameWidth` ...). Returns a note for the user when that file has several views
// and `options.exr.view` names none: which view is read; otherwise "".
std::string PrepareExrInputs(const std::vector<InputFrame>& frames, InputOptions& options);

// The largest frame among `frames` by pixels, from the headers of their colour files: what one
// worker may have to hold. Files that do not read, or whose frames are beyond the pixel budget,
// are left to the check, which refuses them; 0 x 0 when no file reads.
struct FrameSize {
    int width = 0;
    int height = 0;
};
FrameSize LargestFrame(const std::vector<InputFrame>& frames, const InputOptions& options);

// The size of the frame that LoadInputFrame would give, from the colour file's headers alone
// (a PNG's IHDR chunk; an OpenEXR file's display or data window, which must be the run's size
// when one is set). Nothing is decoded, and the identifiers are not read. 0 when the headers
// do not say: the frame is then left to the input check, which names what is wrong.
[[nodiscard]] int FrameSizeFromHeaders(const InputFrame& input, const InputOptions& options,
                                       int& width, int& height);

// Decodes one frame: its colour file (PNG or OpenEXR, told apart by content) and identifiers,
// which must match the colour in size and fit `options.exr.maxId`; an OpenEXR frame must have
// the run's size, when one is set. On 0, `error` is one line naming the file and the reason.
[[nodiscard]] int LoadInputFrame(const InputFrame& input, const InputOptions& options,
                                 DecodedFrame& frame, std::string& error);

// How many pixels of the checked frames have each identifier that selects a range, and how
// many one of 16 or more (which the filter maps with identifier 0's range).
struct IdCounts {
    uint64_t pixels[RANGE_COUNT] = {};
    uint64_t beyond = 0;
    void Add(const IdCounts& other);
};

// What the input check found in the frames it decoded.
struct CheckedFrames {
    IdCounts ids;
    // The smallest and largest widths and heights: the frames have one size when they agree.
    int minWidth = INT_MAX;
    int maxWidth = 0;
    int minHeight = INT_MAX;
    int maxHeight = 0;
    LuminanceHistogram luminance;  // only with InputOptions::measureLuminance
    void Add(const CheckedFrames& other);
};

// The frames of a `kelvo render` run. Check decodes every frame once before anything is
// rendered, keeping decoded frames up to a memory budget so they are not decoded twice.
class FileFrameSource final : public FrameSource {
public:
    FileFrameSource(std::vector<InputFrame> frames, InputOptions options, size_t cacheBytes);

    // Reports each bad frame through `report` (at most `maxReports`); stops early when
    // `stop` answers true. Returns 1 when every frame decoded.
    int Check(const std::function<void(const std::string&)>& report, size_t maxReports,
              const std::function<bool()>& stop);
    // Decodes frame `index` alone, keeping it while the budget allows. On 0, `error` says
    // why, as Check would report it.
    [[nodiscard]] int CheckFrame(size_t index, std::string& error);

    // The frame as the filter is to see it: with the levels set by SetLevels.
    [[nodiscard]] int LoadFrame(size_t index, DecodedFrame& frame, std::string& error) override;

    // What the check found in every frame checked so far.
    const CheckedFrames& Checked() const { return checked_; }

    // The spans LoadFrame stretches each identifier's luminance from (ApplyLevels); none by
    // default.
    void SetLevels(const LevelSpans& spans);

private:
    std::vector<InputFrame> frames_;
    InputOptions options_;
    size_t cacheBytes_;
    size_t cachedBytes_ = 0;
    std::vector<std::optional<DecodedFrame>> cache_;
    CheckedFrames checked_;
    LevelSpans levels_;
};

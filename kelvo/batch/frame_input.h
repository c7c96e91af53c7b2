// Reads the input frames named on the command line: colour files and identifier passes.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kelvo/batch/input_options.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/imageio/frame_image.h"

struct InputFrame {
    std::string colorPath;
    int frameNumber = 0;
};

// Reads the headers of the first OpenEXR file among `frames` that has readable ones: with
// display windows, its frame's size becomes the one every OpenEXR frame of the run must have
// (`options.exrFrameWidth` ...). Returns a note for the user when that file has several views
// and `options.exr.view` names none: which view is read; otherwise "".
std::string PrepareExrInputs(const std::vector<InputFrame>& frames, InputOptions& options);

// Decodes one frame: its colour file (PNG or OpenEXR, told apart by content) and identifiers,
// which must match the colour in size and fit `options.exr.maxId`; an OpenEXR frame must have
// the run's size, when one is set. On 0, `error` is one line naming the file and the reason.
[[nodiscard]] int LoadInputFrame(const InputFrame& input, const InputOptions& options,
                                 DecodedFrame& frame, std::string& error);

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

    [[nodiscard]] int LoadFrame(size_t index, DecodedFrame& frame, std::string& error) override;

private:
    std::vector<InputFrame> frames_;
    InputOptions options_;
    size_t cacheBytes_;
    size_t cachedBytes_ = 0;
    std::vector<std::optional<DecodedFrame>> cache_;
};

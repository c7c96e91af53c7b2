// Reads the input frames named on the command line: colour files and identifier passes.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kelvo/batch/input_options.h"
#include "kelvo/batch/levels.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/imageio/frame_image.h"
#include "kelvo/os/file_identity.h"
#include "plugin/settings.h"

// What the input check needs of a frame's files, read from their headers once (ProbeInputs)
// and reused by every later stage: the memory bound, --skip-existing, the record of the run,
// the check and the decoder.
enum InputKind : uint8_t { INPUT_NOT_PROBED, INPUT_UNREADABLE, INPUT_PNG, INPUT_EXR };
struct InputProbe {
    InputKind kind = INPUT_NOT_PROBED;
    // The colour's frame, when its headers read (a PNG's even beyond the pixel budget).
    int width = 0;
    int height = 0;
    std::string colorError;  // the check's refusal of the colour file; "" when it passes
    // The identifier pass, read only when the colour passes: its size, and its refusal.
    int idsWidth = 0;
    int idsHeight = 0;
    std::string idsError;
    // The files as they were when probed, for the record of the run (not sent to workers); the
    // colour file's as the plan found it, when `colorIdentified`.
    bool colorIdentified = false;
    FileIdentity colorFile;
    FileIdentity idsFile;
    std::vector<std::string> views;  // an OpenEXR file's, as ExrFrameInfo (not sent to workers)
    std::string view;
};

struct InputFrame {
    std::string colorPath;
    int frameNumber = 0;
    int sourceNumber = 0;  // the input's own number, which finds its identifier pass
    InputProbe probe;
};

// Probes every frame's files (each opened once), until `stop` answers true; frames left
// unprobed are read when they are asked about. With `options` as the check will have them. With
// several processors and many frames, threads share the work: `stop` is then called from each.
void ProbeInputs(std::vector<InputFrame>& frames, const InputOptions& options,
                 const std::function<bool()>& stop);

// Takes the first OpenEXR file among `frames` whose headers read (from its probe, when it has
// one): with display windows, its frame's size becomes the one every OpenEXR frame of the run must
// have
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

// Checks one frame from its files' headers alone, as LoadInputFrame would refuse it: the colour
// file reads as PNG or OpenEXR of a frame's size (the run's, for OpenEXR, when one is set) with
// the channels asked for, and the identifier pass is a PNG that can be one, of the colour's
// size. On 1, `width` and `height` are the frame's size. What only the pixels show (damaged
// image data, identifiers out of range, an RGB identifier pass with unequal channels) is left
// to LoadInputFrame. On 0, `error` is one line naming the file and the reason.
[[nodiscard]] int CheckInputHeaders(const InputFrame& input, const InputOptions& options,
                                    int& width, int& height, std::string& error);

// Decodes one frame: its colour file (PNG or OpenEXR, told apart by content) and identifiers,
// which must match the colour in size and fit `options.exr.maxId`; an OpenEXR frame must have
// the run's size, when one is set. On 0, `error` is one line naming the file and the reason.
// Memory `frame` holds is reused where it fits.
[[nodiscard]] int LoadInputFrame(const InputFrame& input, const InputOptions& options,
                                 DecodedFrame& frame, std::string& error);

// What the input check found in the frames it checked.
struct CheckedFrames {
    // The smallest and largest widths and heights: the frames have one size when they agree.
    int minWidth = INT_MAX;
    int maxWidth = 0;
    int minHeight = INT_MAX;
    int maxHeight = 0;
    LuminanceHistogram luminance;  // only with InputOptions::measureLuminance
    void Add(const CheckedFrames& other);
};

// The frames of a `kelvo render` run. The check reads each frame's headers only, so that a
// frame is decoded once, when it renders; only with `measureLuminance` (--levels auto) does it
// decode every frame, keeping decoded frames up to a memory budget so they are not decoded
// twice. While a frame renders, the next one can be decoded on a thread of its own (Prefetch):
// at most two frames are held at once.
class FileFrameSource final : public FrameSource {
public:
    FileFrameSource(std::vector<InputFrame> frames, InputOptions options, size_t cacheBytes);
    ~FileFrameSource();  // waits for a frame being read ahead
    FileFrameSource(const FileFrameSource&) = delete;
    FileFrameSource& operator=(const FileFrameSource&) = delete;

    // Reports each bad frame through `report` (at most `maxReports`); stops early when
    // `stop` answers true. Returns 1 when every frame passed.
    int Check(const std::function<void(const std::string&)>& report, size_t maxReports,
              const std::function<bool()>& stop);
    // Checks frame `index` alone (CheckInputHeaders, or decoding it with `measureLuminance`).
    // On 0, `error` says why, as Check would report it.
    [[nodiscard]] int CheckFrame(size_t index, std::string& error);

    // The frame as the filter is to see it: with the levels set by SetLevels. On null,
    // `error` names the file and says why: what the check could not see in the headers.
    [[nodiscard]] const DecodedFrame* LoadFrame(size_t index, std::string& error) override;
    // Starts decoding frame `index` on a thread of its own, unless a frame is being read ahead
    // already or `index` is not a frame of the run.
    void Prefetch(size_t index) override;

    // What the check found in every frame checked so far.
    const CheckedFrames& Checked() const { return checked_; }

    // The spans LoadFrame stretches each identifier's luminance from (ApplyLevels); none by
    // default.
    void SetLevels(const LevelSpans& spans);

private:
    // Waits for the frame being read ahead, if any. When it is frame `index` the answer is
    // LoadInputFrame's (on 0 with its reason in `error`); any other is dropped, and the answer
    // is NOT_READ_AHEAD.
    static constexpr int NOT_READ_AHEAD = -1;
    int TakeAhead(size_t index, std::string& error);

    std::vector<InputFrame> frames_;
    InputOptions options_;
    size_t cacheBytes_;
    size_t cachedBytes_ = 0;
    std::vector<std::optional<DecodedFrame>> cache_;
    CheckedFrames checked_;
    LevelSpans levels_;
    // A ring of two frames whose memory is decoded into again and again: the frame LoadFrame
    // gave last, in ring_[given_], and the slot a frame is read ahead into. A frame not read
    // ahead goes where the one given last was, so the second slot is used only by reading ahead.
    std::array<DecodedFrame, 2> ring_;
    size_t given_ = 0;
    // The frame read ahead into ring_[given_ ^ 1]: written by `ahead_` until it is joined.
    std::thread ahead_;
    size_t aheadIndex_ = SIZE_MAX;
    std::string aheadError_;
    int aheadResult_ = 0;
};

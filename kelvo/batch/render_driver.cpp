// Renders a sequence of frames through one filter instance and checks every frame's file.
#include "kelvo/batch/render_driver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "host/filter_driver.h"
#include "host/render_window.h"
#include "kelvo/batch/frame_check.h"
#include "kelvo/batch/run_record.h"
#include "kelvo/imageio/bmp_image.h"
#include "kelvo/imageio/frame_image.h"
#include "kelvo/imageio/png_preview.h"
#include "kelvo/os/interrupt.h"

namespace {

// A pixel of the host's bitmap: its colour and both identifier channels.
constexpr uint64_t BITMAP_BYTES_PER_PIXEL =
    sizeof(BMM_Color_64) + sizeof(uint8_t) + sizeof(uint16_t);

IdCounts CountIds(const DecodedFrame& frame) {
    IdCounts counts;
    if (frame.ids.ids.empty()) {
        counts.pixels[0] =
            static_cast<uint64_t>(frame.color.width) * static_cast<uint64_t>(frame.color.height);
    }
    for (uint16_t id : frame.ids.ids) {
        ++(id < RANGE_COUNT ? counts.pixels[id] : counts.beyond);
    }
    return counts;
}

// Fills `bitmap`, of the frame's size, with the frame's pixels (unless they were decoded into
// it) and identifiers (none: all 0).
void FillBitmap(DecodedFrame& frame, MemoryBitmap& bitmap) {
    std::vector<BMM_Color_64>& pixels = bitmap.Pixels();
    if (!frame.color.lent) {
        // BMM_Color_64 is four 16-bit values in RGBA order, as the decoded pixels are.
        std::memcpy(pixels.data(), frame.color.rgba.data(), pixels.size() * sizeof pixels[0]);
    }
    if (!frame.ids.ids.empty()) {
        // Identifiers above 255 were refused for the material channel before rendering; for
        // the object channel the 8-bit copy is not read.
        std::transform(frame.ids.ids.begin(), frame.ids.ids.end(), bitmap.MaterialIds().begin(),
                       [](uint16_t id) { return static_cast<uint8_t>(id); });
        bitmap.ObjectIds() = std::move(frame.ids.ids);
    } else {
        std::fill(bitmap.MaterialIds().begin(), bitmap.MaterialIds().end(), uint8_t{0});
        bitmap.ObjectIds().assign(pixels.size(), 0);
    }
    frame.color.rgba = {};
}

int RenderOne(ImageFilter& filter, const PaletteRenderSettings& settings, const FramePlan& plan,
              const FrameOutputs& outputs, size_t index, size_t next, FrameSource& source,
              ProgressDisplay& progress, RenderMemory& memory, FrameOutcome& outcome,
              bool& interrupted) {
    outcome.file = plan.file;
    DecodedFrame frame;
    const int loaded = source.LoadFrame(index, frame, outcome.reason);
    if (loaded) {
        source.TakeBitmap(memory.bitmap);
    }
    // Asked for only now, so that at most two frames are held at once.
    source.Prefetch(next);
    if (!loaded) {
        return 0;
    }
    outcome.ids = CountIds(frame);
    const auto width = static_cast<WORD>(frame.color.width);
    const auto height = static_cast<WORD>(frame.color.height);
    // The host's bitmap is the largest allocation of a render; where it cannot be had, the
    // frame is not written and the message says how much it asked for.
    try {
        FitBitmap(memory.bitmap, width, height);
        FillBitmap(frame, *memory.bitmap);
    } catch (const std::bad_alloc&) {
        memory.bitmap.reset();
        outcome.reason = DescribeNoMemory(uint64_t{width} * height * BITMAP_BYTES_PER_PIXEL);
        return 0;
    }
    MemoryBitmap& bitmap = *memory.bitmap;

    const FileIdentity before = IdentifyFile(outcome.file);
    // Rows go to the display; after SIGINT or SIGTERM the next abort poll says stop.
    bool aborted = false;
    RenderWindow window;
    window.SetProgressHook([&progress, &aborted](int row, int lastRow) {
        progress.Row(row, lastRow);
        aborted = aborted || InterruptRequested();
        return aborted;
    });
    progress.StartFrame(index);
    RenderFilterFrame(filter, bitmap, plan.frameNumber, window);
    if (aborted) {
        interrupted = true;
        outcome.reason = "interrupted";
        return 0;
    }
    std::vector<uint8_t> indices;
    if (!CheckFrameFile(outcome.file, before, bitmap, settings.palette, indices, outcome.reason)) {
        return 0;
    }
    outcome.content = FrameContentHash(bitmap.Width(), bitmap.Height(), indices, settings.palette);
    // The frame file stands whatever becomes of its PNG and BMP, which are reported on their
    // own.
    if (!plan.previewPath.empty() &&
        !WriteIndexedPng(plan.previewPath, indices.data(), bitmap.Width(), bitmap.Height(),
                         settings.palette, outputs.transparentIndex, outcome.previewReason) &&
        outcome.previewReason.empty()) {
        outcome.previewReason = "not written";
    }
    if (!plan.bmpPath.empty() &&
        !WriteIndexedBmp(plan.bmpPath, indices.data(), bitmap.Width(), bitmap.Height(),
                         settings.palette, outputs.bmpRle, outcome.bmpReason) &&
        outcome.bmpReason.empty()) {
        outcome.bmpReason = "not written";
    }
    progress.FrameWritten(index, plan.frameNumber, plan.label, outcome.file,
                          ExtraFilesWritten(plan, outcome));
    return 1;
}

}  // namespace

void FitBitmap(std::optional<MemoryBitmap>& bitmap, WORD width, WORD height) {
    if (!bitmap || bitmap->Width() != width || bitmap->Height() != height) {
        bitmap.reset();
        bitmap.emplace(width, height);
    }
}

uint8_t* BitmapLender::Lend(int width, int height) {
    try {
        FitBitmap(bitmap_, static_cast<WORD>(width), static_cast<WORD>(height));
    } catch (const std::bad_alloc&) {
        return nullptr;  // the frame is decoded into its own memory, or fails there
    }
    // BMM_Color_64 is four 16-bit values in RGBA order, as a decoder writes them.
    return reinterpret_cast<uint8_t*>(bitmap_->Pixels().data());
}

void IdCounts::Add(const IdCounts& other) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        pixels[id] += other.pixels[id];
    }
    beyond += other.beyond;
}

int RenderFrames(ImageFilter& filter, const PaletteRenderSettings& settings,
                 const std::vector<FramePlan>& plans, FrameSource& source,
                 ProgressDisplay& progress, RenderReport& report, const FrameOutputs& outputs,
                 RenderMemory* memory) {
    RenderMemory own;
    RenderMemory& kept = memory != nullptr ? *memory : own;
    // Frames are decoded straight into the bitmap where the source can; the loan ends here.
    BitmapLender lender(kept.bitmap);
    struct Loan {
        FrameSource& source;
        ~Loan() { source.LendPixels(nullptr); }
    } loan{source};
    source.LendPixels(&lender);
    bool allWritten = true;
    for (size_t index = 0; index < plans.size(); ++index) {
        if (InterruptRequested()) {
            report.interrupted = true;
            break;
        }
        FrameOutcome outcome;
        outcome.frameNumber = plans[index].frameNumber;
        outcome.written = RenderOne(filter, settings, plans[index], outputs, index, index + 1,
                                    source, progress, kept, outcome, report.interrupted) != 0;
        if (report.interrupted) {
            break;  // the interrupted frame has no file and is not reported as a failure
        }
        if (!outcome.written || !outcome.previewReason.empty() || !outcome.bmpReason.empty()) {
            allWritten = false;
            for (const std::string& problem : DescribeFrameProblems(plans[index], outcome)) {
                progress.Error(problem);
            }
        }
        report.frames.push_back(outcome);
    }
    progress.Finish();
    return allWritten && !report.interrupted ? 1 : 0;
}

std::vector<std::string> DescribeFrameProblems(const FramePlan& plan, const FrameOutcome& outcome) {
    const std::string frame =
        "frame " + std::to_string(outcome.frameNumber) + " (" + plan.label + "): ";
    if (!outcome.written) {
        return {frame + "'" + outcome.file + "' was not written: " + outcome.reason};
    }
    std::vector<std::string> problems;
    if (!outcome.previewReason.empty()) {
        problems.push_back(frame + "preview '" + plan.previewPath +
                           "' was not written: " + outcome.previewReason);
    }
    if (!outcome.bmpReason.empty()) {
        problems.push_back(frame + "BMP '" + plan.bmpPath +
                           "' was not written: " + outcome.bmpReason);
    }
    return problems;
}

std::string ExtraFilesWritten(const FramePlan& plan, const FrameOutcome& outcome) {
    std::string files;
    if (!plan.previewPath.empty() && outcome.previewReason.empty()) {
        files = plan.previewPath;
    }
    if (!plan.bmpPath.empty() && outcome.bmpReason.empty()) {
        files += (files.empty() ? "" : ", ") + plan.bmpPath;
    }
    return files;
}

std::string DescribeFrameNumbers(const std::vector<int>& numbers) {
    std::string text;
    for (size_t i = 0; i < numbers.size();) {
        size_t end = i;
        while (end + 1 < numbers.size() && static_cast<long long>(numbers[end + 1]) ==
                                               static_cast<long long>(numbers[end]) + 1) {
            ++end;
        }
        text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]);
        if (end > i) {
            text.append("-").append(std::to_string(numbers[end]));
        }
        i = end + 1;
    }
    return text;
}

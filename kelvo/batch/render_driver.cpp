// Renders a sequence of frames through the palettisation engine and writes their files.
#include "kelvo/batch/render_driver.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "kelvo/batch/frame_check.h"
#include "kelvo/batch/run_record.h"
#include "kelvo/imageio/bmp_image.h"
#include "kelvo/imageio/frame_image.h"
#include "kelvo/imageio/png_preview.h"
#include "kelvo/os/interrupt.h"
#include "render/frame_file.h"

namespace {

IdCounts CountIds(const DecodedFrame& frame) {
    IdCounts counts;
    if (frame.ids.ids.empty()) {
        counts.pixels[0] =
            static_cast<uint64_t>(frame.color.width) * static_cast<uint64_t>(frame.color.height);
    }
    for (uint16_t id : frame.ids.ids) {
        ++(id < RANGE_COUNT ? counts.pixels[id] : counts.beyond);
    }
    if (counts.beyond == 0) {
        return counts;
    }
    // A frame has at most 65535 x 65535 pixels: each count fits 32 bits.
    std::vector<uint32_t> histogram(65536, 0);
    for (uint16_t id : frame.ids.ids) {
        ++histogram[id];
    }
    for (size_t id = RANGE_COUNT; id < histogram.size(); ++id) {
        if (histogram[id] != 0) {
            counts.listed.emplace_back(static_cast<uint16_t>(id), histogram[id]);
        }
    }
    counts.KeepMostListed();
    return counts;
}

// 0 when the frame has pixels of an identifier whose range has no usable entry, which would
// take a reserved entry; `reason` names them. Identifiers of 16 or more take range 0.
int CheckClosedRanges(const FrameEngine& engine, const IdCounts& ids, std::string& reason) {
    const uint32_t closed = engine.ClosedRanges();
    for (int id = 0; id <= RANGE_COUNT && closed != 0; ++id) {
        const int range = id < RANGE_COUNT ? id : 0;
        const uint64_t pixels = id < RANGE_COUNT ? ids.pixels[id] : ids.beyond;
        if ((closed >> range & 1) == 0 || pixels == 0) {
            continue;
        }
        const ColorRange& block = engine.Settings().ranges[range];
        const std::vector<IndexSpan>& spans =
            engine.Choices().ranges[static_cast<size_t>(range)].spans;
        reason = std::to_string(pixels);
        reason.append(pixels == 1 ? " pixel" : " pixels")
            .append(id < RANGE_COUNT ? " of identifier " + std::to_string(id)
                                     : std::string(" of identifiers of 16 or more"))
            .append(" would map to a reserved entry: every entry of range ")
            .append(FormatSpans(spans.empty() ? std::vector<IndexSpan>{{block.first, block.last}}
                                              : spans))
            .append(" is reserved; give it a --range");
        return 0;
    }
    return 1;
}

int RenderOne(const PaletteRenderSettings& settings, const FramePlan& plan,
              const FrameOutputs& outputs, size_t index, size_t next, FrameSource& source,
              ProgressDisplay& progress, RenderMemory& memory, FrameOutcome& outcome,
              bool& interrupted) {
    outcome.file = plan.file;
    const DecodedFrame* frame = source.LoadFrame(index, outcome.reason);
    // Asked for only now, so that at most two frames are held at once.
    source.Prefetch(next);
    if (frame == nullptr) {
        return 0;
    }
    outcome.ids = CountIds(*frame);
    FrameEngine& engine = *memory.engine;
    if (!CheckClosedRanges(engine, outcome.ids, outcome.reason)) {
        return 0;
    }
    const int width = frame->color.width;
    const int height = frame->color.height;
    const FramePixels pixels{width, height, frame->color.rgba.data(),
                             frame->ids.ids.empty() ? nullptr : frame->ids.ids.data()};
    // Where the index image or the engine's rows cannot be had, the frame is not written and
    // the message says how much was asked for.
    std::vector<uint8_t> indices;
    const size_t pixelCount = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (!AllocateValues(indices, pixelCount, uint8_t{0}, outcome.reason)) {
        return 0;
    }
    if (!engine.FitRows(width)) {
        outcome.reason = DescribeNoMemory(uint64_t{static_cast<uint32_t>(width)} *
                                          (sizeof(BMM_Color_64) + sizeof(uint8_t)));
        return 0;
    }
    progress.StartFrame(index);
    for (int y = 0; y < height; ++y) {
        // After SIGINT or SIGTERM the frame stops before its next row.
        progress.Row(y, height - 1);
        if (InterruptRequested()) {
            interrupted = true;
            outcome.reason = "interrupted";
            return 0;
        }
        engine.MapRow(pixels, y,
                      indices.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
    }
    if (!WriteFrameFile(settings, plan.frameNumber, indices.data(), width, height)) {
        outcome.reason = DiagnoseUnwritable(outcome.file);
        return 0;
    }
    outcome.content = FrameContentHash(width, height, indices, settings.palette);
    // The frame file stands whatever becomes of its PNG and BMP, which are reported on their
    // own.
    if (!plan.previewPath.empty() &&
        !WriteIndexedPng(plan.previewPath, indices.data(), width, height, settings.palette,
                         outputs.transparentIndex, outcome.previewReason) &&
        outcome.previewReason.empty()) {
        outcome.previewReason = "not written";
    }
    if (!plan.bmpPath.empty() &&
        !WriteIndexedBmp(plan.bmpPath, indices.data(), width, height, settings.palette,
                         outputs.bmpRle, outcome.bmpReason) &&
        outcome.bmpReason.empty()) {
        outcome.bmpReason = "not written";
    }
    progress.FrameWritten(index, plan.frameNumber, plan.label, outcome.file,
                          ExtraFilesWritten(plan, outcome));
    return 1;
}

}  // namespace

void IdCounts::Add(const IdCounts& other) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        pixels[id] += other.pixels[id];
    }
    beyond += other.beyond;
    for (const auto& [id, count] : other.listed) {
        const auto same = std::find_if(listed.begin(), listed.end(),
                                       [id = id](const auto& entry) { return entry.first == id; });
        if (same != listed.end()) {
            same->second += count;
        } else {
            listed.emplace_back(id, count);
        }
    }
    KeepMostListed();
}

void IdCounts::KeepMostListed() {
    std::sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    if (listed.size() > MAX_LISTED_IDS) {
        listed.resize(MAX_LISTED_IDS);
    }
}

int RenderFrames(const PaletteRenderSettings& settings, const RangeChoices& choices,
                 const std::vector<FramePlan>& plans, FrameSource& source,
                 ProgressDisplay& progress, RenderReport& report, const FrameOutputs& outputs,
                 RenderMemory* memory) {
    RenderMemory own;
    RenderMemory& kept = memory != nullptr ? *memory : own;
    if (!kept.engine || std::memcmp(&kept.engine->Settings(), &settings, sizeof settings) != 0 ||
        kept.engine->Choices() != choices) {
        kept.engine.reset();
        kept.engine.emplace(settings, choices);
    }
    bool allWritten = true;
    for (size_t index = 0; index < plans.size(); ++index) {
        if (InterruptRequested()) {
            report.interrupted = true;
            break;
        }
        FrameOutcome outcome;
        outcome.frameNumber = plans[index].frameNumber;
        outcome.written = RenderOne(settings, plans[index], outputs, index, index + 1, source,
                                    progress, kept, outcome, report.interrupted) != 0;
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

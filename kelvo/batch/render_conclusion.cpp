// The last stage of `kelvo render`: the record, the warnings, the GIF and the sheet, the
// summary and the exit code.
#include "kelvo/batch/render_conclusion.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/run_keys.h"
#include "kelvo/batch/sequence_gif.h"
#include "kelvo/batch/sequence_sheet.h"
#include "kelvo/os/interrupt.h"

namespace {

constexpr double DEFAULT_FPS = 12.0;

// The most identifiers of 16 or more the warning names: more would bury the line.
constexpr size_t MAX_WARNED_IDS = 8;

// Warns of pixels whose identifier has a range nobody set (it maps everything to entry 0),
// and of identifiers of 16 and more, which take identifier 0's range. Shown with --quiet too.
// Warns of identifiers found in the rendered frames whose range was never set, and of those of
// 16 or more, with their pixels, how many frames have them and the first of those, and which
// they are, most pixels first, as --id-map options to fill in: for the stored value `idMap`
// gave the identifier, where it gave it one.
void WarnOfIdentifiers(const RenderReport& report, const std::vector<FramePlan>& plans,
                       const bool (&rangeSet)[RANGE_COUNT],
                       const std::vector<std::pair<uint16_t, uint16_t>>& idMap) {
    // Identifiers 0-15, then those of 16 or more.
    uint64_t pixels[RANGE_COUNT + 1] = {};
    size_t frames[RANGE_COUNT + 1] = {};
    const FrameOutcome* first[RANGE_COUNT + 1] = {};
    IdCounts total;
    for (const FrameOutcome& outcome : report.frames) {
        total.Add(outcome.ids);
        for (int id = 0; id <= RANGE_COUNT; ++id) {
            const uint64_t count = id < RANGE_COUNT ? outcome.ids.pixels[id] : outcome.ids.beyond;
            if (count > 0) {
                pixels[id] += count;
                ++frames[id];
                first[id] = first[id] != nullptr ? first[id] : &outcome;
            }
        }
    }
    const auto where = [&plans, &pixels, &frames, &first](int id) {
        std::string label;
        for (const FramePlan& plan : plans) {
            label = plan.frameNumber == first[id]->frameNumber ? ": " + plan.label : label;
        }
        return std::to_string(pixels[id]) + " pixels in " + std::to_string(frames[id]) +
               (frames[id] == 1 ? " frame" : " frames") + ", first in frame " +
               std::to_string(first[id]->frameNumber) + label;
    };
    for (int id = 0; id < RANGE_COUNT; ++id) {
        if (pixels[id] > 0 && !rangeSet[id]) {
            Complain("warning: identifier " + std::to_string(id) + " (" + where(id) +
                     ") has no --range: its pixels map to entry 0");
        }
    }
    if (pixels[RANGE_COUNT] > 0) {
        std::string seen;
        std::string options;
        for (size_t i = 0; i < total.listed.size() && i < MAX_WARNED_IDS; ++i) {
            const std::string id = std::to_string(total.listed[i].first);
            seen += i == 0 ? "" : ", ";
            seen += id;
            seen += " (" + std::to_string(total.listed[i].second);
            seen += total.listed[i].second == 1 ? " pixel)" : " pixels)";
            uint16_t stored = total.listed[i].first;
            for (auto entry = idMap.rbegin(); entry != idMap.rend(); ++entry) {
                stored = entry->second == total.listed[i].first ? entry->first : stored;
            }
            options += " --id-map " + std::to_string(stored) + ":ID";
        }
        if (total.listed.size() > MAX_WARNED_IDS) {
            seen += ", and others";
        }
        std::string text = "warning: identifiers of 16 or more (" + where(RANGE_COUNT) +
                           ") are mapped with identifier 0's range";
        if (!seen.empty()) {
            text += "; seen, most pixels first: " + seen + "; to give them ranges:" + options;
        }
        Complain(text);
    }
}

// Why a file made of the whole sequence cannot be made now that the frames are rendered: a
// frame not written, or not rendered at all; "" when every one is there.
std::string MissingFramesOfRun(const RenderReport& report, size_t rendered) {
    std::vector<int> missing;
    for (const FrameOutcome& outcome : report.frames) {
        if (!outcome.written) {
            missing.push_back(outcome.frameNumber);
        }
    }
    if (!missing.empty()) {
        return (missing.size() == 1 ? "frame " : "frames ") + DescribeFrameNumbers(missing) +
               (missing.size() == 1 ? " has no file" : " have no file");
    }
    if (report.frames.size() != rendered) {
        return "not every frame was rendered";
    }
    return "";
}

// The GIF and the sheet of the whole sequence, once every frame file is written: `sequence`
// holds every frame of the run, those --skip-existing left out included, and `report` those
// rendered. Each reason is "" when its file was written (or not asked for), else why not.
struct SequenceFiles {
    std::string gifReason;
    std::string sheetReason;
};
SequenceFiles WriteSequenceFilesOfRun(const RenderRequest& request, const RenderReport& report,
                                      size_t rendered, const std::vector<FramePlan>& sequence,
                                      const PaletteRenderSettings& settings,
                                      const SheetLayout& sheet) {
    SequenceFiles files;
    if ((request.gifFile.empty() && request.sheetFile.empty()) || report.interrupted) {
        return files;
    }
    const std::string missing = MissingFramesOfRun(report, rendered);
    if (!request.gifFile.empty()) {
        files.gifReason = missing;
        if (missing.empty() &&
            !WriteSequenceGif(request.gifFile, sequence, settings.palette,
                              GifDelayCentiseconds(request.fps.value_or(DEFAULT_FPS)),
                              request.transparentIndex, request.gifScale.value_or(1),
                              files.gifReason)) {
            files.gifReason = files.gifReason.empty() ? "not written" : files.gifReason;
        }
    }
    if (!request.sheetFile.empty()) {
        files.sheetReason = missing;
        if (missing.empty() &&
            !WriteSequenceSheet(request.sheetFile, sequence, settings.palette, sheet,
                                request.transparentIndex, files.sheetReason)) {
            files.sheetReason = files.sheetReason.empty() ? "not written" : files.sheetReason;
        }
    }
    return files;
}

// The closing line and exit code of a render, from how each frame, the GIF and the sheet went.
int Conclude(const RenderReport& report, size_t frameCount, const std::vector<int>& skipped,
             const RenderRequest& request, const SequenceFiles& sequenceFiles) {
    const std::string& gifReason = sequenceFiles.gifReason;
    const std::string& sheetReason = sequenceFiles.sheetReason;
    const bool quiet = request.quiet;
    std::vector<int> written;
    std::vector<int> failed;
    std::vector<int> previewsFailed;
    std::vector<int> bmpsFailed;
    for (const FrameOutcome& outcome : report.frames) {
        (outcome.written ? written : failed).push_back(outcome.frameNumber);
        if (outcome.written && !outcome.previewReason.empty()) {
            previewsFailed.push_back(outcome.frameNumber);
        }
        if (outcome.written && !outcome.bmpReason.empty()) {
            bmpsFailed.push_back(outcome.frameNumber);
        }
    }
    if (!gifReason.empty()) {
        Complain("GIF '" + request.gifFile + "' was not written: " + gifReason);
    }
    if (!sheetReason.empty()) {
        Complain("sheet '" + request.sheetFile + "' was not written: " + sheetReason);
    }
    const std::string skippedText =
        skipped.empty()
            ? ""
            : "; " + std::to_string(skipped.size()) + (skipped.size() == 1 ? " frame" : " frames") +
                  " skipped, already complete (" + DescribeFrameNumbers(skipped) + ")";
    const std::string writtenText =
        (written.empty() ? "no frame was written"
                         : "frames written: " + DescribeFrameNumbers(written)) +
        skippedText;
    if (report.interrupted || InterruptRequested()) {
        return Fail(EXIT_INTERRUPTED, "interrupted; " + writtenText);
    }
    std::string notWritten;
    if (!failed.empty()) {
        notWritten = std::to_string(failed.size()) + " of " + std::to_string(frameCount) +
                     " frames not written (" + DescribeFrameNumbers(failed) + "); ";
    }
    if (!previewsFailed.empty()) {
        notWritten += std::to_string(previewsFailed.size()) + " of " + std::to_string(frameCount) +
                      " previews not written (" + DescribeFrameNumbers(previewsFailed) + "); ";
    }
    if (!bmpsFailed.empty()) {
        notWritten += std::to_string(bmpsFailed.size()) + " of " + std::to_string(frameCount) +
                      " BMP files not written (" + DescribeFrameNumbers(bmpsFailed) + "); ";
    }
    if (!gifReason.empty()) {
        notWritten += "the GIF was not written; ";
    }
    if (!sheetReason.empty()) {
        notWritten += "the sheet was not written; ";
    }
    if (!notWritten.empty()) {
        return Fail(EXIT_NOT_WRITTEN, notWritten + writtenText);
    }
    if (!quiet) {
        const std::string done = written.empty()
                                     ? "no frame was written"
                                     : std::to_string(written.size()) +
                                           (written.size() == 1 ? " frame" : " frames") +
                                           " written (" + DescribeFrameNumbers(written) + ")";
        std::string also;
        for (const std::string* file : {&request.gifFile, &request.sheetFile}) {
            if (!file->empty()) {
                also += also.empty() ? ", and " : " and ";
                also += *file;
            }
        }
        std::fprintf(stderr, "kelvo: %s%s%s\n", done.c_str(), skippedText.c_str(), also.c_str());
    }
    return EXIT_DONE;
}

}  // namespace

int ConcludeRun(const RenderRequest& request, const FilterSettings& filter,
                const FramesPlan& frames, const ProbedRun& probed, const RenderedRun& rendered) {
    const RenderReport& report = rendered.report;
    const CheckedFrames* measured = probed.levelsKnown ? nullptr : &rendered.found;
    RecordFrames(probed.keys, frames.plans, report, rendered.prepared.levels, measured);
    WarnOfIdentifiers(report, frames.plans, filter.rangeSet, frames.input.idMap);
    return Conclude(report, frames.plans.size(), probed.skipped, request,
                    WriteSequenceFilesOfRun(request, report, frames.plans.size(), frames.sequence,
                                            filter.settings, rendered.prepared.sheet));
}

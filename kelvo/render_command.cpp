// `kelvo render`: palettises a sequence of image files through the filter.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/finished_frames.h"
#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/progress_display.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/batch/run_files.h"
#include "kelvo/batch/run_record.h"
#include "kelvo/batch/sequence_gif.h"
#include "kelvo/batch/sequence_sheet.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/build_commit.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/configure_filter.h"
#include "kelvo/os/file_identity.h"
#include "kelvo/os/file_io.h"
#include "kelvo/os/interrupt.h"
#include "kelvo/os/machine_memory.h"
#include "kelvo/usage_text.h"
#include "plugin/version.h"
#include "render/frame_file.h"
#include "render/palette_mapping.h"
#include "render/range_rules.h"

namespace {

// Decoded frames kept between the input check and the render, so that a sequence of up to
// about 24 frames of 1080p 16-bit colour is decoded only once; the frames beyond it are
// decoded again. Bounded, so a long sequence runs in flat memory; less where a process has
// only 2 GB of addresses.
constexpr long long DEFAULT_FRAME_CACHE_MIB = sizeof(void*) > 4 ? 512 : 256;
constexpr double DEFAULT_FPS = 12.0;
// More reports than this of bad inputs hide rather than help.
constexpr size_t MAX_INPUT_REPORTS = 10;

// With --frames, every selected frame's colour file must be there: a chunk of a farm job must
// not pass over a frame that was never rendered. On 0, `error` names the frames missing.
int CheckSelectedFramesExist(const RenderOptions& options, const std::vector<std::string>& files,
                             const std::vector<FileIdentity>& identities, std::string& error) {
    std::vector<int> missing;
    std::string examples;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!identities[i].exists) {
            missing.push_back((*options.frames)[i]);
            if (missing.size() <= 3) {
                examples += (examples.empty() ? "'" : ", '") + files[i] + "'";
            }
        }
    }
    if (missing.empty()) {
        return 1;
    }
    error = "--frames " + options.framesList + ": '" + options.colorFiles.front() +
            "' has no file for " + (missing.size() == 1 ? "frame " : "frames ") +
            DescribeFrameNumbers(missing) + " (" + examples + (missing.size() > 3 ? ", ..." : "") +
            ")";
    return 0;
}

// Frame numbers, previews and frame file names for every input, and the check that no file
// is written twice or over an input; all before any frame renders.
int PlanFrames(const RenderOptions& options, const PaletteRenderSettings& settings,
               std::vector<FramePlan>& plans, std::vector<InputFrame>& inputs, std::string& error) {
    std::vector<int> numbers;
    std::vector<int> ownNumbers;
    std::vector<std::string> colorFiles = options.colorFiles;
    // Each colour file is looked up once here, for every check that asks after it.
    std::vector<FileIdentity> identities;
    const auto identify = [&colorFiles, &identities] {
        for (const std::string& file : colorFiles) {
            identities.push_back(IdentifyFile(file));
        }
    };
    if (options.frames) {
        if (!SelectPatternFrames(options.colorFiles.front(), *options.frames, options.start,
                                 colorFiles, numbers, ownNumbers, error)) {
            return 0;
        }
        identify();
        if (!CheckSelectedFramesExist(options, colorFiles, identities, error)) {
            return 0;
        }
    } else if (!NumberFrames(colorFiles, options.start, numbers, ownNumbers, error)) {
        return 0;
    } else {
        identify();
    }
    const size_t count = colorFiles.size();
    for (const auto& [option, pattern] :
         {std::pair{"--png", &options.previewPattern}, std::pair{"--bmp", &options.bmpPattern}}) {
        if (!pattern->empty() && count > 1 && !HasFramePattern(*pattern)) {
            error = std::string(option) + " '" + *pattern +
                    "' has no '#' for the frame number, so every frame would overwrite it";
            return 0;
        }
    }
    std::vector<RunFile> inputFiles;
    std::vector<RunFile> outputFiles;
    for (size_t i = 0; i < count; ++i) {
        const int number = numbers[i];
        const std::string frame = "frame " + std::to_string(number) + "'s ";
        const std::string& color = colorFiles[i];
        inputFiles.push_back({color, frame + "colour input", false, identities[i]});
        if (!options.input.idsPattern.empty()) {
            inputFiles.push_back({ExpandFramePattern(options.input.idsPattern, ownNumbers[i]),
                                  frame + "identifiers", false, std::nullopt});
        }
        char name[FRAME_NAME_SIZE];
        if (!BuildFrameFileName(settings.outputName, number, name)) {
            error = "the output name '" + std::string(settings.outputName) +
                    "' gives a frame file name longer than 255 characters";
            return 0;
        }
        FramePlan plan;
        plan.frameNumber = number;
        plan.label = color;
        plan.file = name;
        outputFiles.push_back({plan.file, frame + "file", true, std::nullopt});
        if (!options.previewPattern.empty()) {
            plan.previewPath = ExpandFramePattern(options.previewPattern, number);
            outputFiles.push_back({plan.previewPath, frame + "preview", true, std::nullopt});
        }
        if (!options.bmpPattern.empty()) {
            plan.bmpPath = ExpandFramePattern(options.bmpPattern, number);
            outputFiles.push_back({plan.bmpPath, frame + "BMP", true, std::nullopt});
        }
        plans.push_back(plan);
        InputFrame input{color, number, ownNumbers[i], {}};
        input.probe.colorFile = identities[i];
        input.probe.colorIdentified = true;
        inputs.push_back(std::move(input));
    }
    if (!options.saveSettingsFile.empty()) {
        outputFiles.push_back({options.saveSettingsFile, "--save-settings", true, std::nullopt});
    }
    if (!options.gifFile.empty()) {
        outputFiles.push_back({options.gifFile, "--gif", true, std::nullopt});
    }
    if (!options.sheetFile.empty()) {
        outputFiles.push_back({options.sheetFile, "--sheet", true, std::nullopt});
    }
    // Inputs first, so that every clash names the input before what would overwrite it.
    inputFiles.insert(inputFiles.end(), outputFiles.begin(), outputFiles.end());
    if (!CheckRunFiles(inputFiles, error)) {
        return 0;
    }
    // The GIF and the sheet are written once every frame is: a name they cannot have is
    // refused now, not then.
    return (options.gifFile.empty() ||
            CheckOutputFileName({options.gifFile, "--gif", true, std::nullopt}, error)) &&
           (options.sheetFile.empty() ||
            CheckOutputFileName({options.sheetFile, "--sheet", true, std::nullopt}, error));
}

// Creates the missing directories of the frame files, previews and saved settings; says which
// in one line. On 0, `error` says which directory could not be made.
int MakeOutputDirectories(const std::vector<FramePlan>& plans, const RenderOptions& options,
                          std::string& error) {
    std::vector<std::string> created;
    // The frames of a run share a few directories: each is looked at once.
    std::set<std::string> seen;
    const auto make = [&created, &seen, &error](const std::string& path) {
        std::string directory;
        if (path.empty() ||
            !seen.insert(std::filesystem::path(path).parent_path().string()).second) {
            return true;
        }
        if (!MakeDirectoryFor(path, directory, error)) {
            return false;
        }
        if (!directory.empty()) {
            created.push_back("'" + directory + "'");
        }
        return true;
    };
    for (const FramePlan& plan : plans) {
        if (!make(plan.file) || !make(plan.previewPath) || !make(plan.bmpPath)) {
            return 0;
        }
    }
    if (!make(options.saveSettingsFile) || !make(options.gifFile) || !make(options.sheetFile)) {
        return 0;
    }
    if (!created.empty() && !options.quiet) {
        std::string list;
        for (const std::string& name : created) {
            list += (list.empty() ? "" : ", ") + name;
        }
        Complain((created.size() == 1 ? "created directory " : "created directories ") + list);
    }
    return 1;
}

// A --range that runs downwards is valid, and what the filter makes of it surprises: says so in
// a note per identifier whose last --range does, with the entries the filter's own rules give.
// A range that maps over its usable entries (more spans, reserved entries, a method or pattern
// of its own) reaches every entry, and needs no note.
void NoteDescendingRanges(const std::vector<RangeEdit>& edits,
                          const PaletteRenderSettings& settings, const RangeChoices& choices) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        const RangeEdit* given = nullptr;
        for (const RangeEdit& edit : edits) {
            given = edit.id == id ? &edit : given;
        }
        if (given == nullptr || given->first <= given->last ||
            !RangeRuleOf(settings, choices, id).fromBlock) {
            continue;
        }
        const ColorRange& range = settings.ranges[id];
        const bool uniform = settings.method == METHOD_UNIFORM;
        const double white = Luminance(65535, 65535, 65535);
        const bool dither = range.dither != 0;
        const int blackEntry = !uniform ? range.first
                               : dither ? DitheredIndex(range, 0.0, 0, 0)
                                        : UniformIndex(range, 0.0);
        const int whiteEntry = !uniform ? range.first
                               : dither ? DitheredIndex(range, white, 0, 0)
                                        : UniformIndex(range, white);
        const std::string what = blackEntry != whiteEntry
                                     ? "brighter pixels take lower entries, from " +
                                           std::to_string(blackEntry) + " for black to " +
                                           std::to_string(whiteEntry) + " for white"
                                     : std::string(uniform ? "" : "with --method nearest ") +
                                           "every pixel of identifier " + std::to_string(id) +
                                           " takes entry " + std::to_string(blackEntry);
        Complain("note: --range " + std::to_string(id) + ":" + std::to_string(given->first) + "-" +
                 std::to_string(given->last) + (given->dither ? ":dither" : "") +
                 " runs downwards: " + what);
    }
}

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

// As many of `workers` as fit in the machine's memory, each holding the run's largest frame at
// a time (and the next, decoded ahead, when there are fewer workers than processors); says so
// in one line when that is fewer.
int BoundWorkersByMemory(int workers, const std::vector<InputFrame>& inputs,
                         const RenderOptions& options) {
    const FrameSize largest = LargestFrame(inputs, options.input);
    const int64_t pixels = int64_t{largest.width} * largest.height;
    auto frameBytes = static_cast<uint64_t>(pixels * RENDER_BYTES_PER_PIXEL);
    const uint64_t physical = UsableMemoryBytes();
    int fitting = WorkersWithinMemory(workers, frameBytes, physical);
    if (fitting < ProcessorCount()) {
        frameBytes =
            static_cast<uint64_t>(pixels * (RENDER_BYTES_PER_PIXEL + READ_AHEAD_BYTES_PER_PIXEL));
        fitting = WorkersWithinMemory(fitting, frameBytes, physical);
    }
    if (fitting < workers && !options.quiet) {
        Complain("note: " + std::to_string(workers) + " workers with frames of up to " +
                 std::to_string(largest.width) + " x " + std::to_string(largest.height) +
                 " pixels (" + FormatBytes(frameBytes) + " each) would need more than this " +
                 "machine's " + FormatBytes(physical) + " of memory: " +
                 (fitting == 1 ? std::string("rendering one frame at a time")
                               : "rendering with " + std::to_string(fitting) + " workers"));
    }
    return fitting;
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
SequenceFiles WriteSequenceFilesOfRun(const RenderOptions& options, const RenderReport& report,
                                      size_t rendered, const std::vector<FramePlan>& sequence,
                                      const PaletteRenderSettings& settings,
                                      const SheetLayout& sheet) {
    SequenceFiles files;
    if ((options.gifFile.empty() && options.sheetFile.empty()) || report.interrupted) {
        return files;
    }
    const std::string missing = MissingFramesOfRun(report, rendered);
    if (!options.gifFile.empty()) {
        files.gifReason = missing;
        if (missing.empty() &&
            !WriteSequenceGif(options.gifFile, sequence, settings.palette,
                              GifDelayCentiseconds(options.fps.value_or(DEFAULT_FPS)),
                              options.transparentIndex, options.gifScale.value_or(1),
                              files.gifReason)) {
            files.gifReason = files.gifReason.empty() ? "not written" : files.gifReason;
        }
    }
    if (!options.sheetFile.empty()) {
        files.sheetReason = missing;
        if (missing.empty() &&
            !WriteSequenceSheet(options.sheetFile, sequence, settings.palette, sheet,
                                options.transparentIndex, files.sheetReason)) {
            files.sheetReason = files.sheetReason.empty() ? "not written" : files.sheetReason;
        }
    }
    return files;
}

// The closing line and exit code of a render, from how each frame, the GIF and the sheet went.
int Conclude(const RenderReport& report, size_t frameCount, const std::vector<int>& skipped,
             const RenderOptions& options, const SequenceFiles& sequenceFiles) {
    const std::string& gifReason = sequenceFiles.gifReason;
    const std::string& sheetReason = sequenceFiles.sheetReason;
    const bool quiet = options.quiet;
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
        Complain("GIF '" + options.gifFile + "' was not written: " + gifReason);
    }
    if (!sheetReason.empty()) {
        Complain("sheet '" + options.sheetFile + "' was not written: " + sheetReason);
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
        for (const std::string* file : {&options.gifFile, &options.sheetFile}) {
            if (!file->empty()) {
                also += also.empty() ? ", and " : " and ";
                also += *file;
            }
        }
        std::fprintf(stderr, "kelvo: %s%s%s\n", done.c_str(), skippedText.c_str(), also.c_str());
    }
    return EXIT_DONE;
}

// Checks what the options ask of the frames now that the check has seen those to render
// (`checked`; the sizes of those --skip-existing left out are in `skipped`), lays out the sheet
// of the run's `frameCount` frames, and settles the levels: those `known` before the check,
// else measured by it. 1, or 0 with the reason in `error`.
int SettleChecked(const RenderOptions& options, const CheckedFrames& checked,
                  const CheckedFrames& skipped, size_t frameCount, const LevelSpans* known,
                  LevelSpans& levels, SheetLayout& sheet, std::string& error) {
    const int minWidth = std::min(checked.minWidth, skipped.minWidth);
    const int maxWidth = std::max(checked.maxWidth, skipped.maxWidth);
    const int minHeight = std::min(checked.minHeight, skipped.minHeight);
    const int maxHeight = std::max(checked.maxHeight, skipped.maxHeight);
    if (!options.gifFile.empty() && (minWidth != maxWidth || minHeight != maxHeight)) {
        error = "--gif '" + options.gifFile + "': the frames are of different sizes (" +
                std::to_string(minWidth) + " to " + std::to_string(maxWidth) + " wide, " +
                std::to_string(minHeight) + " to " + std::to_string(maxHeight) +
                " high); one GIF holds frames of one size";
        return 0;
    }
    const int scale = options.gifScale.value_or(1);
    if (!options.gifFile.empty() && (maxWidth > 0xFFFF / scale || maxHeight > 0xFFFF / scale)) {
        error = "--gif '" + options.gifFile + "': frames of " + std::to_string(maxWidth) + " x " +
                std::to_string(maxHeight) + " pixels enlarged " + std::to_string(scale) +
                " times pass the 65535 pixels a side a GIF can hold";
        return 0;
    }
    if (!options.sheetFile.empty()) {
        if (minWidth != maxWidth || minHeight != maxHeight) {
            error = "--sheet '" + options.sheetFile + "': the frames are of different sizes (" +
                    std::to_string(minWidth) + " to " + std::to_string(maxWidth) + " wide, " +
                    std::to_string(minHeight) + " to " + std::to_string(maxHeight) +
                    " high); the cells of a sheet have one size";
            return 0;
        }
        std::string problem;
        if (!LayOutSheet(frameCount, options.columns.value_or(0), options.sheetPadding.value_or(0),
                         maxWidth, maxHeight, sheet, problem)) {
            error = "--sheet '" + options.sheetFile + "': " + problem;
            return 0;
        }
    }
    std::string used;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        levels[id] = known != nullptr ? (*known)[id] : options.levels[id];
        if (!levels[id] && options.levelsAuto && known == nullptr) {
            levels[id] = RobustSpan(checked.luminance, id);
        }
        if (levels[id]) {
            used += " --levels " + FormatLevelSpan(id, *levels[id]);
        }
    }
    if (!used.empty() && !options.quiet) {
        Complain("levels used:" + used);
    }
    return 1;
}

// What makes a run's frames what they are, for the record beside them (run_record.h).
struct RunKeys {
    uint64_t frames = 0;  // kelvo's version, the settings block, the input and output options
    uint64_t levels = 0;  // what measuring the frames' luminance depends on
    std::map<int, uint64_t> inputs;  // by frame number: the path, size and time of its files
    std::string recordPath;
};

RunKeys KeysOfRun(const RenderOptions& options, const SettingsBlock& block,
                  const std::vector<FramePlan>& plans, const std::vector<InputFrame>& inputs) {
    const InputOptions& input = options.input;
    RecordHash decoding;
    decoding.Add(std::string(KELVO_VERSION)).Add(std::string(KELVO_COMMIT));
    decoding.Add(input.exr.layer).Add(input.exr.idChannel).Add(input.exr.view);
    decoding.Add(uint64_t{input.exr.linear}).Add(static_cast<uint64_t>(input.exr.window));
    decoding.Add(static_cast<uint64_t>(input.exr.maxId));
    for (const auto& [value, id] : input.idMap) {
        decoding.Add(uint64_t{value} << 16 | id);
    }
    decoding.Add(static_cast<uint64_t>(input.backgroundId)).Add(uint64_t{input.alphaBelow});
    RunKeys keys;
    keys.levels = decoding.Value();
    decoding.Add(block.data(), block.size());
    const std::vector<uint8_t> choices = EncodeRangeChoices(options.choices);
    decoding.Add(choices.data(), choices.size());
    decoding.Add(static_cast<uint64_t>(options.transparentIndex)).Add(uint64_t{options.bmpRle});
    keys.frames = decoding.Value();
    for (const InputFrame& frame : inputs) {
        RecordHash files;
        // The files as the probe found them, else as they are now.
        const bool probed = frame.probe.kind != INPUT_NOT_PROBED;
        const auto add = [&files, probed](const std::string& path, const FileIdentity& found) {
            const FileIdentity file = probed ? found : IdentifyFile(path);
            files.Add(path).Add(file.size).Add(static_cast<uint64_t>(file.modified));
        };
        add(frame.colorPath, frame.probe.colorFile);
        if (!input.idsPattern.empty()) {
            add(ExpandFramePattern(input.idsPattern, frame.sourceNumber), frame.probe.idsFile);
        }
        keys.inputs[frame.frameNumber] = files.Value();
    }
    keys.recordPath = RunRecordPath(plans.front().file);
    return keys;
}

// The key of one frame as this run makes it with `levels`.
uint64_t FrameKey(const RunKeys& keys, const FramePlan& plan, const LevelSpans& levels) {
    RecordHash hash;
    hash.Add(keys.frames).Add(keys.inputs.at(plan.frameNumber));
    for (const auto& span : levels) {
        hash.Add(uint64_t{EncodeLevelSpan(span)});
    }
    return hash.Add(plan.previewPath).Add(plan.bmpPath).Value();
}

// The spans known before anything is measured: those given by hand and, with --levels auto, the
// spans the record keeps from a measurement over every frame of this run and maybe more (the
// whole sequence, when a run measured it). 0 when --levels auto has none: the check measures
// the frames of this run, and a run over part of the sequence says so.
int KnownLevels(const RenderOptions& options, const RunRecord& record, const RunKeys& keys,
                LevelSpans& known) {
    std::copy(std::begin(options.levels), std::end(options.levels), std::begin(known));
    if (!options.levelsAuto) {
        return 1;
    }
    const auto numbers = [](const std::map<int, uint64_t>& inputs) {
        std::vector<int> list;
        for (const auto& input : inputs) {
            list.push_back(input.first);
        }
        return DescribeFrameNumbers(list);
    };
    const LevelsMeasurement* kept = FindMeasurement(record, keys.levels, keys.inputs);
    if (kept == nullptr) {
        if ((options.frames || options.skipExisting) && !options.quiet) {
            Complain(
                "note: --levels auto: no spans measured over a sequence holding frames " +
                numbers(keys.inputs) + " are kept in '" + keys.recordPath +
                "', so the spans come from these frames only" +
                (options.skipExisting ? ", and every one is rendered again to take them" : ""));
        }
        return 0;
    }
    for (int id = 0; id < RANGE_COUNT; ++id) {
        known[id] = known[id] ? known[id] : kept->spans[id];
    }
    if (kept->inputs.size() != keys.inputs.size() && !options.quiet) {
        Complain("note: --levels auto: taking the spans an earlier run measured over frames " +
                 numbers(kept->inputs) + ", kept in '" + keys.recordPath + "'");
    }
    return 1;
}

// Takes the frames about to render out of the record before any of their files is touched,
// so that a run that ends half way leaves no claim on them.
void ForgetFrames(const RunKeys& keys, const std::vector<FramePlan>& plans) {
    std::string error;
    if (!UpdateRunRecord(
            keys.recordPath,
            [&plans](RunRecord& record) {
                for (const FramePlan& plan : plans) {
                    record.frames.erase(std::filesystem::path(plan.file).filename().string());
                }
            },
            error)) {
        Complain("warning: cannot write '" + keys.recordPath + "': " + error);
    }
}

// Adds the frames written whole (their PNG and BMP too) to the record, read again so that runs
// over other frames into the same directory lose as little as may be, and the spans measured
// in this run (`measured`, from the check of every frame of it).
void RecordFrames(const RunKeys& keys, const std::vector<FramePlan>& plans,
                  const RenderReport& report, const LevelSpans& levels,
                  const CheckedFrames* measured) {
    if (report.frames.empty() && measured == nullptr) {
        return;
    }
    // Each outcome's plan, found by its frame number in one pass rather than a search apiece.
    std::unordered_map<int, const FramePlan*> planOf;
    for (const FramePlan& plan : plans) {
        planOf.emplace(plan.frameNumber, &plan);
    }
    const auto add = [&](RunRecord& record) {
        for (const FrameOutcome& outcome : report.frames) {
            const auto found = planOf.find(outcome.frameNumber);
            if (found != planOf.end() && outcome.written && outcome.content != 0 &&
                outcome.previewReason.empty() && outcome.bmpReason.empty()) {
                const FramePlan& plan = *found->second;
                record.frames[std::filesystem::path(plan.file).filename().string()] = {
                    FrameKey(keys, plan, levels), outcome.content};
            }
        }
        if (measured != nullptr) {
            LevelsMeasurement measurement;
            measurement.key = keys.levels;
            for (int id = 0; id < RANGE_COUNT; ++id) {
                measurement.spans[id] = RobustSpan(measured->luminance, id);
            }
            measurement.inputs = keys.inputs;
            KeepMeasurement(record, std::move(measurement));
        }
    };
    std::string error;
    if (!UpdateRunRecord(keys.recordPath, add, error)) {
        Complain("warning: cannot write '" + keys.recordPath + "': " + error +
                 "; --skip-existing will render these frames again");
    }
}

// Everything a render carries from one stage to the next.
struct RenderRun {
    RenderOptions options;
    // Open for the whole run, as the filter that gave the settings.
    PluginFilter plugin;
    SettingsBlock block{};
    PaletteRenderSettings settings;
    // A stored block's ranges count as set; so do the ranges of the nearest-colour default.
    bool rangeSet[RANGE_COUNT] = {};
    std::vector<FramePlan> plans;
    std::vector<InputFrame> inputs;
    // Every frame of the run, in order, for the GIF and the sheet: a frame skipped is in them
    // too.
    std::vector<FramePlan> sequence;
    SheetLayout sheet;  // laid out once the frames' size is known
    RunKeys keys;
    RunRecord record;
    LevelSpans known;
    bool levelsKnown = false;
    std::vector<int> skipped;
    CheckedFrames skippedSizes;
    // Filled by the check of the inputs, then by the outputs' preparation.
    CheckedFrames found;
    LevelSpans levels;
};

// The defaults and notes of the options chosen: the ranges set, and the nearest-colour default
// where nothing is chosen.
void SettleChoices(RenderRun& run) {
    RenderOptions& options = run.options;
    if (!options.edits.outputNote.empty()) {
        Complain("warning: " + options.edits.outputNote);
    }
    for (const RangeEdit& range : options.edits.ranges) {
        run.rangeSet[range.id] = true;
    }
    if (!options.settingsFile.empty()) {
        std::fill(std::begin(run.rangeSet), std::end(run.rangeSet), true);
    }
    // Nothing chosen: every pixel to the nearest colour of the palette, as palette-remapping
    // tools do, rather than the block's defaults, which map everything to entry 0.
    if (options.settingsFile.empty() && options.edits.ranges.empty() && !options.edits.method) {
        std::fill(std::begin(run.rangeSet), std::end(run.rangeSet), true);
        for (int id = 0; id < RANGE_COUNT; ++id) {
            options.edits.ranges.push_back({id, 0, 255, false});
        }
        options.edits.method = METHOD_NEAREST;
        if (!options.quiet) {
            Complain(
                "note: no --settings, --range or --method: every identifier maps to the "
                "nearest colour of the whole palette");
        }
    }
    if (!options.input.idsPattern.empty() && !HasFramePattern(options.input.idsPattern) &&
        options.colorFiles.size() > 1 && !options.quiet) {
        Complain("note: --ids '" + options.input.idsPattern +
                 "' has no '#' for the frame number: every frame takes its identifiers from it");
    }
}

// Whether the range choices can be had: every range set has a usable entry (those never set
// are refused only for frames that have their pixels, as the engine's closed ranges), and
// --save-settings can keep what the run uses. On 0, `error` says why.
// A Bayer pattern asked for a range that maps to the nearest colour would be dropped unseen:
// said. The ranges as asked, before the choices are settled: the command line's --range, else
// the settings text's.
void WarnOfUnusedPatterns(const PaletteRenderSettings& settings,
                          const std::vector<RangeEdit>& edits, const RangeChoices& text) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        RangeChoice choice = text.ranges[static_cast<size_t>(id)];
        for (const RangeEdit& edit : edits) {
            if (edit.id == id) {
                choice = edit.choice;
            }
        }
        const bool bayer =
            choice.dither == DitherPattern::Bayer4 || choice.dither == DitherPattern::Bayer8;
        const bool nearest = choice.method ? *choice.method == RangeMethod::Nearest
                                           : settings.method == METHOD_NEAREST;
        if (bayer && nearest) {
            std::string warning = "warning: identifier ";
            warning.append(std::to_string(id))
                .append("'s range maps to the nearest colour, which is not dithered: its ")
                .append(choice.dither == DitherPattern::Bayer4 ? "bayer4" : "bayer8")
                .append(" pattern needs the range to say :uniform");
            Complain(warning);
        }
    }
}

int CheckRangeChoices(const RenderRun& run, std::string& error) {
    const RangeChoices& choices = run.options.choices;
    const uint32_t closed = ClosedRanges(run.settings, choices);
    std::string ranges;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        if ((closed >> id & 1) == 0 || !run.rangeSet[id]) {
            continue;
        }
        const ColorRange& block = run.settings.ranges[id];
        const std::vector<IndexSpan>& spans = choices.ranges[static_cast<size_t>(id)].spans;
        if (!ranges.empty()) {
            ranges += ", ";
        }
        ranges.append("identifier ").append(std::to_string(id)).append("'s range ");
        ranges +=
            FormatSpans(spans.empty() ? std::vector<IndexSpan>{{block.first, block.last}} : spans);
    }
    if (!ranges.empty()) {
        error = "no entry is left to map to in " + ranges + ": every one is reserved (" +
                FormatReserved(choices.reserved) + ")";
        return 0;
    }
    const std::string& saved = run.options.saveSettingsFile;
    if (!saved.empty() && !choices.Plain()) {
        error = "--save-settings '" + saved + "': a settings block cannot hold " +
                DescribeBeyondBlock(choices) + "; nothing was rendered";
        return 0;
    }
    return 1;
}

// Stage 1: the filter's settings and the frames to render. Returns an exit code, or -1 to go on.
int PlanRun(RenderRun& run, const std::string& pluginPath) {
    RenderOptions& options = run.options;
    SettleChoices(run);
    std::string error;
    if (!run.plugin.Open(pluginPath, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    ImageFilter& filter = run.plugin.Filter();
    std::string paletteNote;
    // What the command line asked for, before the settings text adds its own.
    const bool transparentGiven = options.transparentIndex >= 0;
    SettingsChoices textChoices;
    if (!ConfigureFilter(filter, options.settingsFile, options.edits, error, &paletteNote,
                         &options.choices, &textChoices) ||
        !MergeSettingsChoices(textChoices, options, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    if (!paletteNote.empty() && !options.quiet) {
        Complain("note: " + paletteNote);
    }
    if (!ReadFilterSettings(filter, run.block)) {
        return Fail(EXIT_NOT_WRITTEN, "the filter did not give its settings block");
    }
    std::memcpy(&run.settings, run.block.data(), sizeof run.settings);
    if (!CheckRangeChoices(run, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    // A saved block is what the plug-in can be given: what it cannot hold is said, not lost
    // unseen.
    std::string lost;
    for (const std::string& item : textChoices.BeyondBlock(run.settings)) {
        lost += lost.empty() ? "" : "; ";
        lost += item;
    }
    if (!options.saveSettingsFile.empty() && !lost.empty()) {
        Complain("warning: --save-settings '" + options.saveSettingsFile +
                 "' holds the settings block only, without what '" + options.settingsFile +
                 "' says beyond it: " + lost);
    }
    if (!options.quiet) {
        NoteDescendingRanges(options.edits.ranges, run.settings, options.choices);
    }
    WarnOfUnusedPatterns(run.settings, options.edits.ranges, textChoices.ranges);
    if (!PlanFrames(options, run.settings, run.plans, run.inputs, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    options.input.exr.maxId = run.settings.source == SOURCE_MATERIAL_EFFECTS ? 255 : 65535;
    if (options.input.backgroundId > options.input.exr.maxId) {
        return Fail(EXIT_BAD_INPUT, "--background-id " +
                                        std::to_string(options.input.backgroundId) +
                                        " is not an identifier of the material channel (0..255)");
    }
    // A map onto an identifier the channel cannot hold would fail every frame it touches.
    for (const auto& [value, id] : options.input.idMap) {
        if (id > options.input.exr.maxId) {
            std::string problem = "--id-map ";
            problem.append(std::to_string(value)).append(":").append(std::to_string(id));
            problem += " is not an identifier of the material channel (0..255)";
            return Fail(EXIT_BAD_INPUT, problem);
        }
    }
    if (transparentGiven && options.previewPattern.empty() && options.gifFile.empty() &&
        options.sheetFile.empty() && !options.quiet) {
        Complain(
            "note: --transparent marks its entry in PNG and GIF files, and none of --png, "
            "--gif and --sheet is given");
    }
    return -1;
}

// Stage 2: every input's headers, read here once (every later stage asks the probes), the
// record of what made the frames already there, and the finished frames taken out of the run.
void ProbeRun(RenderRun& run) {
    RenderOptions& options = run.options;
    ProbeInputs(run.inputs, options.input, [] { return InterruptRequested(); });
    const std::string exrNote = PrepareExrInputs(run.inputs, options.input);
    if (!exrNote.empty() && !options.quiet) {
        Complain("note: " + exrNote);
    }
    // The record of what made the frames already there, and the spans known before measuring.
    run.keys = KeysOfRun(options, run.block, run.plans, run.inputs);
    run.record = ReadRunRecord(run.keys.recordPath);
    run.levelsKnown = KnownLevels(options, run.record, run.keys, run.known);
    options.input.measureLuminance = options.levelsAuto && !run.levelsKnown;
    if (!options.gifFile.empty() || !options.sheetFile.empty()) {
        run.sequence = run.plans;
    }
    // Finished frames leave the run here, before any check or worker sees them: no process
    // decodes, renders or touches them. Without known spans none is finished: the frames
    // rendered take spans measured over them, and those left would keep others.
    if (!options.skipExisting || !run.levelsKnown) {
        return;
    }
    std::vector<FramePlan>& plans = run.plans;
    std::vector<InputFrame>& inputs = run.inputs;
    std::vector<uint64_t> frameKeys;
    for (const FramePlan& plan : plans) {
        frameKeys.push_back(FrameKey(run.keys, plan, run.known));
    }
    const FrameClaims claims{&run.record, &frameKeys};
    const std::vector<bool> finished = FindFinishedFrames(
        plans, inputs, options.input, run.settings.palette, &claims, run.skippedSizes);
    size_t kept = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (finished[i]) {
            run.skipped.push_back(plans[i].frameNumber);
        } else if (kept++ != i) {
            plans[kept - 1] = std::move(plans[i]);
            inputs[kept - 1] = std::move(inputs[i]);
        }
    }
    plans.resize(kept);
    inputs.resize(kept);
    std::sort(run.skipped.begin(), run.skipped.end());
}

// Stage 3, once every input is known to be good: the levels, the directories, then the saved
// settings, and the record's forgetting. A directory that cannot be made is an input error;
// nothing has been written then. Returns -1 to go on, or the exit code.
int PrepareOutputs(RenderRun& run) {
    const RenderOptions& options = run.options;
    std::string problem;
    if (!SettleChecked(options, run.found, run.skippedSizes, run.sequence.size(),
                       run.levelsKnown ? &run.known : nullptr, run.levels, run.sheet, problem)) {
        return Fail(EXIT_BAD_INPUT, problem + "; nothing was rendered");
    }
    if (!MakeOutputDirectories(run.plans, options, problem)) {
        return Fail(EXIT_BAD_INPUT, problem + "; nothing was rendered");
    }
    const std::vector<uint8_t> blockBytes(run.block.begin(), run.block.end());
    if (!options.saveSettingsFile.empty() &&
        !WriteFileBytes(options.saveSettingsFile, blockBytes, problem)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + options.saveSettingsFile +
                                          "': " + problem + "; nothing was rendered");
    }
    ForgetFrames(run.keys, run.plans);
    return -1;
}

// Stage 5: the record, the warnings, the GIF and the sheet, the summary and the exit code.
int ConcludeRun(RenderRun& run, const RenderReport& report) {
    const CheckedFrames* measured = run.levelsKnown ? nullptr : &run.found;
    RecordFrames(run.keys, run.plans, report, run.levels, measured);
    WarnOfIdentifiers(report, run.plans, run.rangeSet, run.options.input.idMap);
    return Conclude(report, run.plans.size(), run.skipped, run.options,
                    WriteSequenceFilesOfRun(run.options, report, run.plans.size(), run.sequence,
                                            run.settings, run.sheet));
}

// Stage 4 in worker processes: several frames and several jobs, or a frame timeout, which
// needs a worker to end. Returns an exit code, or -1 where workers are not available here.
int RenderRunInWorkers(RenderRun& run, const std::string& pluginPath, int workers,
                       size_t cacheBytes, const FrameOutputs& outputs, ProgressDisplay& progress,
                       RenderReport& report) {
    const RenderOptions& options = run.options;
    int refusal = EXIT_NOT_WRITTEN;
    const auto prepareOutputs = [&run, &refusal]() {
        const int code = PrepareOutputs(run);
        if (code >= 0) {
            refusal = code;
            return 0;
        }
        return 1;
    };
    ParallelRender parallel;
    parallel.pluginPath = pluginPath;
    parallel.settings = &run.settings;
    parallel.choices = &options.choices;
    parallel.plans = &run.plans;
    parallel.inputs = &run.inputs;
    parallel.inputOptions = &options.input;
    parallel.cacheBytes = cacheBytes;
    parallel.jobs = workers;
    parallel.maxReports = MAX_INPUT_REPORTS;
    parallel.checked = &run.found;
    parallel.outputs = outputs;
    parallel.levels = &run.levels;
    parallel.frameTimeoutSeconds = options.frameTimeoutSeconds.value_or(0);
    switch (RenderInWorkers(parallel, Complain, prepareOutputs, progress, report)) {
        case PARALLEL_UNAVAILABLE:
            // Asked-for workers, and a frame timeout, are not silently dropped.
            if (options.frameTimeoutSeconds) {
                Complain(
                    "warning: worker processes are not available here; rendering in this "
                    "process, where --frame-timeout cannot end a frame");
            } else if (options.jobs > 1 && !options.quiet) {
                std::fprintf(stderr,
                             "kelvo: note: -j %d: worker processes are not available here; "
                             "rendering in this process\n",
                             options.jobs);
            }
            return -1;
        case PARALLEL_BAD_INPUT:
            return Fail(EXIT_BAD_INPUT, "nothing was rendered");
        case PARALLEL_INTERRUPTED:
            return Fail(EXIT_INTERRUPTED, "interrupted before any frame was rendered");
        case PARALLEL_NOT_STARTED:
            return refusal;
        case PARALLEL_WORKER_LOST:
            return Fail(EXIT_NOT_WRITTEN,
                        "a worker process ended while checking the inputs; nothing was "
                        "rendered");
        case PARALLEL_RENDERED:
            return ConcludeRun(run, report);
    }
    return -1;
}

// Stage 4 in this process: the check of the inputs, the outputs' preparation, the frames.
int RenderRunHere(RenderRun& run, size_t cacheBytes, const FrameOutputs& outputs,
                  ProgressDisplay& progress, RenderReport& report) {
    FileFrameSource source(std::move(run.inputs), run.options.input, cacheBytes);
    const int inputsGood =
        source.Check(Complain, MAX_INPUT_REPORTS, [] { return InterruptRequested(); });
    if (InterruptRequested()) {
        return Fail(EXIT_INTERRUPTED, "interrupted before any frame was rendered");
    }
    if (!inputsGood) {
        return Fail(EXIT_BAD_INPUT, "nothing was rendered");
    }
    run.found = source.Checked();
    const int refusal = PrepareOutputs(run);
    if (refusal >= 0) {
        return refusal;
    }
    source.SetLevels(run.levels);
    RenderFrames(run.settings, run.options.choices, run.plans, source, progress, report, outputs);
    return ConcludeRun(run, report);
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    RenderRun run;
    RenderOptions& options = run.options;
    std::string error;
    if (!ParseRenderOptions(args, options, error)) {
        return Fail(EXIT_BAD_INPUT, error + " (see 'kelvo render --help')");
    }
    if (options.help) {
        std::fputs(RENDER_USAGE, stdout);
        return EXIT_DONE;
    }
    InstallInterruptHandlers();
    const int planned = PlanRun(run, pluginPath);
    if (planned >= 0) {
        return planned;
    }
    const FrameOutputs outputs{options.transparentIndex, options.bmpRle};
    ProbeRun(run);
    ProgressDisplay progress(ChooseProgressMode(options.quiet, stderr), stderr, run.plans.size());
    RenderReport report;
    const int jobs = options.jobs > 0 ? options.jobs : ProcessorCount();
    int workers = static_cast<int>(std::min(static_cast<size_t>(jobs), run.plans.size()));
    if (workers > 1) {
        workers = BoundWorkersByMemory(workers, run.inputs, options);
    }
    // Bytes, held below what a size_t counts (a 32-bit process could not hold more anyway).
    const long long cacheMib = std::min(options.frameCacheMib.value_or(DEFAULT_FRAME_CACHE_MIB),
                                        static_cast<long long>(SIZE_MAX >> 20));
    const size_t cacheBytes = static_cast<size_t>(cacheMib) << 20;
    // Where no worker can be started, this process does it all. (With every frame skipped
    // there is nothing for a worker to do.)
    if (workers > 1 || (workers == 1 && options.frameTimeoutSeconds)) {
        const int code =
            RenderRunInWorkers(run, pluginPath, workers, cacheBytes, outputs, progress, report);
        if (code >= 0) {
            return code;
        }
    }
    return RenderRunHere(run, cacheBytes, outputs, progress, report);
}

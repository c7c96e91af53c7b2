// `kelvo render`: palettises a sequence of image files through the filter.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/progress_display.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/configure_filter.h"
#include "kelvo/os/file_identity.h"
#include "kelvo/os/file_io.h"
#include "kelvo/os/interrupt.h"
#include "kelvo/usage_text.h"
#include "render/frame_file.h"

namespace {

// Decoded frames kept between the input check and the render, so that a sequence of up to
// about 24 frames of 1080p 16-bit colour is decoded only once; the frames beyond it are
// decoded again. Bounded, so a long sequence runs in flat memory; less where a process has
// only 2 GB of addresses.
constexpr long long DEFAULT_FRAME_CACHE_MIB = sizeof(void*) > 4 ? 512 : 256;
// More reports than this of bad inputs hide rather than help.
constexpr size_t MAX_INPUT_REPORTS = 10;

std::string NormalPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path normal = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal().string() : normal.string();
}

// Frame numbers, previews and frame file names for every input; all checked before any
// frame renders.
int PlanFrames(const RenderOptions& options, const PaletteRenderSettings& settings,
               std::vector<FramePlan>& plans, std::vector<InputFrame>& inputs, std::string& error) {
    int start = 0;
    if (options.start) {
        start = *options.start;
    } else if (!FrameNumberFromName(options.colorFiles.front(), start)) {
        error =
            "the frame number in '" + options.colorFiles.front() + "' is too large; give --start N";
        return 0;
    }
    const long long count = static_cast<long long>(options.colorFiles.size());
    if (start + count - 1 > INT_MAX) {
        error = "frame numbers from " + std::to_string(start) + " for " + std::to_string(count) +
                " files run past " + std::to_string(INT_MAX);
        return 0;
    }
    if (!options.previewPattern.empty() && count > 1 && !HasFramePattern(options.previewPattern)) {
        error = "--preview '" + options.previewPattern +
                "' has no '#' for the frame number, so every frame would overwrite it";
        return 0;
    }
    // Inputs by name and, where they exist, by file: another name of an input (its case
    // changed on Windows, a link) is the same file.
    std::set<std::string> inputPaths;
    std::set<std::pair<uint64_t, uint64_t>> inputFiles;
    const auto addInput = [&inputPaths, &inputFiles](const std::string& path) {
        inputPaths.insert(NormalPath(path));
        const FileIdentity file = IdentifyFile(path);
        if (file.exists && file.inode != 0) {
            inputFiles.insert({file.device, file.inode});
        }
    };
    for (long long i = 0; i < count; ++i) {
        const int number = static_cast<int>(start + i);
        const std::string& color = options.colorFiles[static_cast<size_t>(i)];
        addInput(color);
        if (!options.input.idsPattern.empty()) {
            addInput(ExpandFramePattern(options.input.idsPattern, number));
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
        if (!options.previewPattern.empty()) {
            plan.previewPath = ExpandFramePattern(options.previewPattern, number);
        }
        plans.push_back(plan);
        inputs.push_back({color, number});
    }
    // Writing over an input would destroy a frame that may not have been rendered yet.
    for (const FramePlan& plan : plans) {
        for (const std::string& output : {plan.file, plan.previewPath}) {
            if (output.empty()) {
                continue;
            }
            const FileIdentity file = IdentifyFile(output);
            if (inputPaths.count(NormalPath(output)) != 0 ||
                (file.exists && inputFiles.count({file.device, file.inode}) != 0)) {
                error = "frame " + std::to_string(plan.frameNumber) + " would write '" + output +
                        "' over an input file";
                return 0;
            }
        }
    }
    return 1;
}

// The closing line and exit code of a render, from how each frame went.
int Conclude(const RenderReport& report, size_t frameCount, bool quiet) {
    std::vector<int> written;
    std::vector<int> failed;
    for (const FrameOutcome& outcome : report.frames) {
        (outcome.written ? written : failed).push_back(outcome.frameNumber);
    }
    const std::string writtenText = written.empty()
                                        ? "no frame was written"
                                        : "frames written: " + DescribeFrameNumbers(written);
    if (report.interrupted) {
        return Fail(EXIT_INTERRUPTED, "interrupted; " + writtenText);
    }
    if (!failed.empty()) {
        return Fail(EXIT_NOT_WRITTEN, std::to_string(failed.size()) + " of " +
                                          std::to_string(frameCount) + " frames not written (" +
                                          DescribeFrameNumbers(failed) + "); " + writtenText);
    }
    if (!quiet) {
        std::fprintf(stderr, "kelvo: %zu %s written (%s)\n", written.size(),
                     written.size() == 1 ? "frame" : "frames",
                     DescribeFrameNumbers(written).c_str());
    }
    return EXIT_DONE;
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(args, options, error)) {
        return Fail(EXIT_BAD_INPUT, error + " (see 'kelvo render --help')");
    }
    if (options.help) {
        std::fputs(RENDER_USAGE, stdout);
        return EXIT_DONE;
    }
    InstallInterruptHandlers();

    PluginFilter plugin;
    if (!plugin.Open(pluginPath, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    ImageFilter& filter = plugin.Filter();
    if (!ConfigureFilter(filter, options.settingsFile, options.edits, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    SettingsBlock block{};
    if (!ReadFilterSettings(filter, block)) {
        return Fail(EXIT_NOT_WRITTEN, "the filter did not give its settings block");
    }
    PaletteRenderSettings settings;
    std::memcpy(&settings, block.data(), sizeof settings);

    std::vector<FramePlan> plans;
    std::vector<InputFrame> inputs;
    if (!PlanFrames(options, settings, plans, inputs, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    options.input.exr.maxId = settings.source == SOURCE_MATERIAL_EFFECTS ? 255 : 65535;
    const std::string exrNote = PrepareExrInputs(inputs, options.input);
    if (!exrNote.empty() && !options.quiet) {
        std::fprintf(stderr, "kelvo: note: %s\n", exrNote.c_str());
    }
    const std::vector<uint8_t> blockBytes(block.begin(), block.end());
    const auto saveSettings = [&options, &blockBytes]() {
        std::string problem;
        if (!options.saveSettingsFile.empty() &&
            !WriteFileBytes(options.saveSettingsFile, blockBytes, problem)) {
            Complain("cannot write '" + options.saveSettingsFile + "': " + problem +
                     "; nothing was rendered");
            return 0;
        }
        return 1;
    };
    ProgressDisplay progress(ChooseProgressMode(options.quiet, stderr), stderr, plans.size());
    RenderReport report;

    // Several frames and several jobs: worker processes check and render, each with its own
    // filter; where none can be started, this process does it all.
    const int jobs = options.jobs > 0 ? options.jobs : ProcessorCount();
    // Bytes, held below what a size_t counts (a 32-bit process could not hold more anyway).
    const long long cacheMib = std::min(options.frameCacheMib.value_or(DEFAULT_FRAME_CACHE_MIB),
                                        static_cast<long long>(SIZE_MAX >> 20));
    const size_t cacheBytes = static_cast<size_t>(cacheMib) << 20;
    if (jobs > 1 && plans.size() > 1) {
        ParallelRender run;
        run.filter = &filter;
        run.pluginPath = pluginPath;
        run.settings = &settings;
        run.plans = &plans;
        run.inputs = &inputs;
        run.inputOptions = &options.input;
        run.cacheBytes = cacheBytes;
        run.jobs = static_cast<int>(std::min(static_cast<size_t>(jobs), plans.size()));
        run.maxReports = MAX_INPUT_REPORTS;
        const ParallelResult result =
            RenderInWorkers(run, Complain, saveSettings, progress, report);
        switch (result) {
            case PARALLEL_UNAVAILABLE:
                // Asked-for workers are not silently dropped.
                if (options.jobs > 1 && !options.quiet) {
                    std::fprintf(stderr,
                                 "kelvo: note: -j %d: worker processes are not available here; "
                                 "rendering in this process\n",
                                 options.jobs);
                }
                break;
            case PARALLEL_BAD_INPUT:
                return Fail(EXIT_BAD_INPUT, "nothing was rendered");
            case PARALLEL_INTERRUPTED:
                return Fail(EXIT_INTERRUPTED, "interrupted before any frame was rendered");
            case PARALLEL_NOT_STARTED:
                return EXIT_NOT_WRITTEN;
            case PARALLEL_WORKER_LOST:
                return Fail(EXIT_NOT_WRITTEN,
                            "a worker process ended while checking the inputs; nothing was "
                            "rendered");
            case PARALLEL_RENDERED:
                return Conclude(report, plans.size(), options.quiet);
        }
    }

    FileFrameSource source(std::move(inputs), options.input, cacheBytes);
    const int inputsGood =
        source.Check(Complain, MAX_INPUT_REPORTS, [] { return InterruptRequested(); });
    if (InterruptRequested()) {
        return Fail(EXIT_INTERRUPTED, "interrupted before any frame was rendered");
    }
    if (!inputsGood) {
        return Fail(EXIT_BAD_INPUT, "nothing was rendered");
    }
    if (!saveSettings()) {
        return EXIT_NOT_WRITTEN;
    }
    RenderFrames(filter, settings, plans, source, progress, report);
    return Conclude(report, plans.size(), options.quiet);
}

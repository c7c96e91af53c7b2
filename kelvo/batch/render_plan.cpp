// The first stage of `kelvo render` after the filter is configured: the frames of the run.
#include "kelvo/batch/render_plan.h"

#include <string>
#include <utility>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/run_files.h"
#include "kelvo/os/file_identity.h"
#include "render/frame_file.h"

namespace {

// With --frames, every selected frame's colour file must be there: a chunk of a farm job must
// not pass over a frame that was never rendered. On 0, `error` names the frames missing.
int CheckSelectedFramesExist(const RenderRequest& request, const std::vector<std::string>& files,
                             const std::vector<FileIdentity>& identities, std::string& error) {
    std::vector<int> missing;
    std::string examples;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!identities[i].exists) {
            missing.push_back((*request.frames)[i]);
            if (missing.size() <= 3) {
                examples += (examples.empty() ? "'" : ", '") + files[i] + "'";
            }
        }
    }
    if (missing.empty()) {
        return 1;
    }
    error = "--frames " + request.framesList + ": '" + request.colorFiles.front() +
            "' has no file for " + (missing.size() == 1 ? "frame " : "frames ") +
            DescribeFrameNumbers(missing) + " (" + examples + (missing.size() > 3 ? ", ..." : "") +
            ")";
    return 0;
}

// Frame numbers, previews and frame file names for every input, and the check that no file
// is written twice or over an input; all before any frame renders.
int PlanFrameFiles(const RenderRequest& request, const PaletteRenderSettings& settings,
                   std::vector<FramePlan>& plans, std::vector<InputFrame>& inputs,
                   std::string& error) {
    std::vector<int> numbers;
    std::vector<int> ownNumbers;
    std::vector<std::string> colorFiles = request.colorFiles;
    // Each colour file is looked up once here, for every check that asks after it.
    std::vector<FileIdentity> identities;
    const auto identify = [&colorFiles, &identities] {
        for (const std::string& file : colorFiles) {
            identities.push_back(IdentifyFile(file));
        }
    };
    if (request.frames) {
        if (!SelectPatternFrames(request.colorFiles.front(), *request.frames, request.start,
                                 colorFiles, numbers, ownNumbers, error)) {
            return 0;
        }
        identify();
        if (!CheckSelectedFramesExist(request, colorFiles, identities, error)) {
            return 0;
        }
    } else if (!NumberFrames(colorFiles, request.start, numbers, ownNumbers, error)) {
        return 0;
    } else {
        identify();
    }
    const size_t count = colorFiles.size();
    for (const auto& [option, pattern] :
         {std::pair{"--png", &request.previewPattern}, std::pair{"--bmp", &request.bmpPattern}}) {
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
        if (!request.input.idsPattern.empty()) {
            inputFiles.push_back({ExpandFramePattern(request.input.idsPattern, ownNumbers[i]),
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
        if (!request.previewPattern.empty()) {
            plan.previewPath = ExpandFramePattern(request.previewPattern, number);
            outputFiles.push_back({plan.previewPath, frame + "preview", true, std::nullopt});
        }
        if (!request.bmpPattern.empty()) {
            plan.bmpPath = ExpandFramePattern(request.bmpPattern, number);
            outputFiles.push_back({plan.bmpPath, frame + "BMP", true, std::nullopt});
        }
        plans.push_back(plan);
        InputFrame input{color, number, ownNumbers[i], {}};
        input.probe.colorFile = identities[i];
        input.probe.colorIdentified = true;
        inputs.push_back(std::move(input));
    }
    if (!request.saveSettingsFile.empty()) {
        outputFiles.push_back({request.saveSettingsFile, "--save-settings", true, std::nullopt});
    }
    if (!request.gifFile.empty()) {
        outputFiles.push_back({request.gifFile, "--gif", true, std::nullopt});
    }
    if (!request.sheetFile.empty()) {
        outputFiles.push_back({request.sheetFile, "--sheet", true, std::nullopt});
    }
    // Inputs first, so that every clash names the input before what would overwrite it.
    inputFiles.insert(inputFiles.end(), outputFiles.begin(), outputFiles.end());
    if (!CheckRunFiles(inputFiles, error)) {
        return 0;
    }
    // The GIF and the sheet are written once every frame is: a name they cannot have is
    // refused now, not then.
    return (request.gifFile.empty() ||
            CheckOutputFileName({request.gifFile, "--gif", true, std::nullopt}, error)) &&
           (request.sheetFile.empty() ||
            CheckOutputFileName({request.sheetFile, "--sheet", true, std::nullopt}, error));
}

// The identifiers --background-id and --id-map name, against the most the settings' channel
// holds. On 0, `error` says which is not one.
int CheckIdentifiersOfChannel(const InputOptions& input, std::string& error) {
    if (input.backgroundId > input.exr.maxId) {
        error = "--background-id " + std::to_string(input.backgroundId) +
                " is not an identifier of the material channel (0..255)";
        return 0;
    }
    // A map onto an identifier the channel cannot hold would fail every frame it touches.
    for (const auto& [value, id] : input.idMap) {
        if (id > input.exr.maxId) {
            error = "--id-map ";
            error.append(std::to_string(value)).append(":").append(std::to_string(id));
            error += " is not an identifier of the material channel (0..255)";
            return 0;
        }
    }
    return 1;
}

}  // namespace

FramesPlan PlanFrames(const RenderRequest& request, const FilterSettings& filter) {
    FramesPlan frames;
    std::string error;
    if (!PlanFrameFiles(request, filter.settings, frames.plans, frames.inputs, error)) {
        frames.exitCode = Fail(EXIT_BAD_INPUT, error);
        return frames;
    }
    frames.input = request.input;
    frames.input.exr.maxId = filter.settings.source == SOURCE_MATERIAL_EFFECTS ? 255 : 65535;
    if (!CheckIdentifiersOfChannel(frames.input, error)) {
        frames.exitCode = Fail(EXIT_BAD_INPUT, error);
        return frames;
    }
    if (request.transparentGiven && request.previewPattern.empty() && request.gifFile.empty() &&
        request.sheetFile.empty() && !request.quiet) {
        Complain(
            "note: --transparent marks its entry in PNG and GIF files, and none of --png, "
            "--gif and --sheet is given");
    }
    if (!request.gifFile.empty() || !request.sheetFile.empty()) {
        frames.sequence = frames.plans;
    }
    return frames;
}

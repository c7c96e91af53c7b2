// The third stage of `kelvo render`: the levels and the sheet's layout settled, and the
// outputs' directories, saved settings and record made ready.
#include "kelvo/batch/render_outputs.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <vector>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/run_keys.h"
#include "kelvo/os/file_io.h"

namespace {

// Creates the missing directories of the frame files, previews and saved settings; says which
// in one line. On 0, `error` says which directory could not be made.
int MakeOutputDirectories(const std::vector<FramePlan>& plans, const RenderRequest& request,
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
    if (!make(request.saveSettingsFile) || !make(request.gifFile) || !make(request.sheetFile)) {
        return 0;
    }
    if (!created.empty() && !request.quiet) {
        std::string list;
        for (const std::string& name : created) {
            list += (list.empty() ? "" : ", ") + name;
        }
        Complain((created.size() == 1 ? "created directory " : "created directories ") + list);
    }
    return 1;
}

}  // namespace

int SettleChecked(const RenderRequest& request, const CheckedFrames& checked,
                  const CheckedFrames& skipped, size_t frameCount, const LevelSpans* known,
                  LevelSpans& levels, SheetLayout& sheet, std::string& error) {
    const int minWidth = std::min(checked.minWidth, skipped.minWidth);
    const int maxWidth = std::max(checked.maxWidth, skipped.maxWidth);
    const int minHeight = std::min(checked.minHeight, skipped.minHeight);
    const int maxHeight = std::max(checked.maxHeight, skipped.maxHeight);
    if (!request.gifFile.empty() && (minWidth != maxWidth || minHeight != maxHeight)) {
        error = "--gif '" + request.gifFile + "': the frames are of different sizes (" +
                std::to_string(minWidth) + " to " + std::to_string(maxWidth) + " wide, " +
                std::to_string(minHeight) + " to " + std::to_string(maxHeight) +
                " high); one GIF holds frames of one size";
        return 0;
    }
    const int scale = request.gifScale.value_or(1);
    if (!request.gifFile.empty() && (maxWidth > 0xFFFF / scale || maxHeight > 0xFFFF / scale)) {
        error = "--gif '" + request.gifFile + "': frames of " + std::to_string(maxWidth) + " x " +
                std::to_string(maxHeight) + " pixels enlarged " + std::to_string(scale) +
                " times pass the 65535 pixels a side a GIF can hold";
        return 0;
    }
    if (!request.sheetFile.empty()) {
        if (minWidth != maxWidth || minHeight != maxHeight) {
            error = "--sheet '" + request.sheetFile + "': the frames are of different sizes (" +
                    std::to_string(minWidth) + " to " + std::to_string(maxWidth) + " wide, " +
                    std::to_string(minHeight) + " to " + std::to_string(maxHeight) +
                    " high); the cells of a sheet have one size";
            return 0;
        }
        std::string problem;
        if (!LayOutSheet(frameCount, request.columns.value_or(0), request.sheetPadding.value_or(0),
                         maxWidth, maxHeight, sheet, problem)) {
            error = "--sheet '" + request.sheetFile + "': " + problem;
            return 0;
        }
    }
    std::string used;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        levels[id] = known != nullptr ? (*known)[id] : request.levels[id];
        if (!levels[id] && request.levelsAuto && known == nullptr) {
            levels[id] = RobustSpan(checked.luminance, id);
        }
        if (levels[id]) {
            used += " --levels " + FormatLevelSpan(id, *levels[id]);
        }
    }
    if (!used.empty() && !request.quiet) {
        Complain("levels used:" + used);
    }
    return 1;
}

PreparedOutputs PrepareOutputs(const RenderRequest& request, const FilterSettings& filter,
                               const FramesPlan& frames, const ProbedRun& probed,
                               const CheckedFrames& found) {
    PreparedOutputs prepared;
    std::string problem;
    if (!SettleChecked(request, found, probed.skippedSizes, frames.sequence.size(),
                       probed.levelsKnown ? &probed.known : nullptr, prepared.levels,
                       prepared.sheet, problem) ||
        !MakeOutputDirectories(frames.plans, request, problem)) {
        prepared.exitCode = Fail(EXIT_BAD_INPUT, problem + "; nothing was rendered");
        return prepared;
    }
    const std::vector<uint8_t> blockBytes(filter.block.begin(), filter.block.end());
    if (!request.saveSettingsFile.empty() &&
        !WriteFileBytes(request.saveSettingsFile, blockBytes, problem)) {
        prepared.exitCode = Fail(EXIT_NOT_WRITTEN, "cannot write '" + request.saveSettingsFile +
                                                       "': " + problem + "; nothing was rendered");
        return prepared;
    }
    ForgetFrames(probed.keys, frames.plans);
    return prepared;
}

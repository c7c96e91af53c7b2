// Which frames of a run already have their complete file, for --skip-existing.
#include "kelvo/batch/finished_frames.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "pcx/pcx_frame_reader.h"

std::vector<bool> FindFinishedFrames(const std::vector<FramePlan>& plans,
                                     const std::vector<InputFrame>& inputs,
                                     const InputOptions& options, const PaletteEntry* palette,
                                     const FrameClaims* claims, CheckedFrames& finishedSizes) {
    std::vector<bool> finished(plans.size(), false);
    for (size_t i = 0; i < plans.size() && i < inputs.size(); ++i) {
        std::error_code error;
        if ((!plans[i].previewPath.empty() &&
             !std::filesystem::is_regular_file(plans[i].previewPath, error)) ||
            (!plans[i].bmpPath.empty() &&
             !std::filesystem::is_regular_file(plans[i].bmpPath, error))) {
            continue;
        }
        const FrameRecord* claim = nullptr;
        if (claims != nullptr) {
            const auto found = claims->record->frames.find(
                std::filesystem::path(plans[i].file).filename().string());
            claim = found != claims->record->frames.end() && found->second.key == (*claims->keys)[i]
                        ? &found->second
                        : nullptr;
            if (claim == nullptr) {
                continue;
            }
        }
        int width = 0;
        int height = 0;
        PcxFrame frame;
        finished[i] = FrameSizeFromHeaders(inputs[i], options, width, height) &&
                      ReadPcxFrameOfSize(plans[i].file.c_str(), width, height, frame) &&
                      std::memcmp(frame.palette, palette, PALETTE_BYTES) == 0 &&
                      (claim == nullptr || FrameContentHash(width, height, frame.indices,
                                                            frame.palette) == claim->content);
        if (finished[i]) {
            finishedSizes.minWidth = std::min(finishedSizes.minWidth, width);
            finishedSizes.maxWidth = std::max(finishedSizes.maxWidth, width);
            finishedSizes.minHeight = std::min(finishedSizes.minHeight, height);
            finishedSizes.maxHeight = std::max(finishedSizes.maxHeight, height);
        }
    }
    return finished;
}

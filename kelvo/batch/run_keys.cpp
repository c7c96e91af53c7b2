// What a run's record keys its frames by, and the run's updates of the record before and after
// the render.
#include "kelvo/batch/run_keys.h"

#include <filesystem>
#include <unordered_map>
#include <utility>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/run_record.h"
#include "kelvo/os/file_identity.h"

RunKeys KeysOfRun(const RenderRequest& request, const InputOptions& input,
                  const std::array<uint8_t, SETTINGS_BLOCK_SIZE>& block, const RendererBuild& build,
                  const std::vector<FramePlan>& plans, const std::vector<InputFrame>& inputs) {
    RecordHash decoding;
    decoding.Add(build.version).Add(build.commit);
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
    const std::vector<uint8_t> choices = EncodeRangeChoices(request.choices);
    decoding.Add(choices.data(), choices.size());
    decoding.Add(static_cast<uint64_t>(request.transparentIndex)).Add(uint64_t{request.bmpRle});
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

uint64_t FrameKey(const RunKeys& keys, const FramePlan& plan, const LevelSpans& levels) {
    RecordHash hash;
    hash.Add(keys.frames).Add(keys.inputs.at(plan.frameNumber));
    for (const auto& span : levels) {
        hash.Add(uint64_t{EncodeLevelSpan(span)});
    }
    return hash.Add(plan.previewPath).Add(plan.bmpPath).Value();
}

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

// When `kelvo render -j N` ends a worker stuck on a frame, and what the host makes of what it
// left: its temporary files removed, its frame's files judged written or not.
#include "kelvo/batch/worker_timeout.h"

#include <filesystem>

#include "kelvo/batch/finished_frames.h"
#include "pcx/atomic_file.h"

std::vector<FileIdentity> IdentifyFrameFiles(const FramePlan& plan) {
    return {IdentifyFile(plan.file), IdentifyFile(plan.previewPath), IdentifyFile(plan.bmpPath)};
}

void SweepTemporaryFiles(const FramePlan& plan, uint64_t process) {
    if (process == 0) {
        return;
    }
    for (const std::string* path : {&plan.file, &plan.previewPath, &plan.bmpPath}) {
        if (path->empty()) {
            continue;
        }
        std::filesystem::path directory = std::filesystem::path(*path).parent_path();
        directory = directory.empty() ? std::filesystem::path(".") : directory;
        std::error_code error;
        std::vector<std::filesystem::path> left;
        for (std::filesystem::directory_iterator entry(directory, error), end;
             !error && entry != end; entry.increment(error)) {
            if (IsTemporaryNameOf(entry->path().filename().string(), process)) {
                left.push_back(entry->path());
            }
        }
        for (const std::filesystem::path& file : left) {
            std::filesystem::remove(file, error);
        }
    }
}

bool LeftWritten(const ParallelRender& run, size_t index, const std::vector<FileIdentity>& before) {
    const FramePlan& plan = (*run.plans)[index];
    const std::vector<FileIdentity> after = IdentifyFrameFiles(plan);
    const std::string* paths[] = {&plan.file, &plan.previewPath, &plan.bmpPath};
    for (size_t i = 0; i < after.size(); ++i) {
        if (!paths[i]->empty() && (i >= before.size() || SameFileVersion(before[i], after[i]))) {
            return false;
        }
    }
    CheckedFrames sizes;
    return FindFinishedFrames({plan}, {(*run.inputs)[index]}, *run.inputOptions,
                              run.settings->palette, nullptr, sizes)
        .front();
}

void EndStuckWorkers(
    const ParallelRender& run, WorkerProcesses& processes, std::vector<WorkerRecord>& workers,
    const std::function<void(size_t, const std::vector<FileIdentity>&)>& timedOut) {
    if (run.frameTimeoutSeconds <= 0) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const size_t count = workers.size();  // not its replacements
    for (size_t worker = 0; worker < count; ++worker) {
        const size_t index = workers[worker].busyWith;
        if (workers[worker].gone || index == NO_FRAME ||
            now - workers[worker].since < std::chrono::seconds(run.frameTimeoutSeconds)) {
            continue;
        }
        processes.EndWorker(worker);
        workers[worker].gone = true;
        workers[worker].busyWith = NO_FRAME;
        const std::vector<FileIdentity> before = std::move(workers[worker].filesBefore);
        if (index < run.plans->size()) {
            SweepTemporaryFiles((*run.plans)[index], workers[worker].process);
        }
        timedOut(index, before);
        if (processes.AddWorker()) {
            workers.emplace_back();
        }
    }
}

// Runs `kelvo render`'s input check and frames in worker processes: the host's scheduling,
// which hands frames out to the workers and settles what each frame came to.
#include "kelvo/batch/parallel_render.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <optional>

#include "kelvo/batch/worker_messages.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/batch/worker_timeout.h"
#include "kelvo/os/interrupt.h"

namespace {

// How long the host waits for a message before it looks at the interrupt flag again.
constexpr int POLL_MILLISECONDS = 100;

// Waits for messages from the workers whose pipes are open and hands each to `handle`, and
// each worker whose pipe closed to `closed`, until `done` answers true or every pipe has
// closed; `tick` runs between waits. An interrupt seen here is passed on to the workers once:
// a SIGTERM sent to kelvo alone must stop them too.
void PumpMessages(WorkerProcesses& processes, std::vector<WorkerRecord>& workers, bool& forwarded,
                  const std::function<void(size_t, const WorkerMessage&)>& handle,
                  const std::function<void(size_t)>& closed, const std::function<void()>& tick,
                  const std::function<bool()>& done) {
    const auto take = [&workers, &handle, &closed](size_t worker, const char* data, size_t size) {
        if (size == 0) {
            closed(worker);
            return;
        }
        workers[worker].buffer.append(data, size);
        WorkerMessage message;
        while (TakeMessage(workers[worker].buffer, message)) {
            handle(worker, message);
        }
    };
    while (!done()) {
        if (InterruptRequested() && !forwarded) {
            forwarded = true;
            processes.Interrupt();
        }
        if (!processes.Receive(POLL_MILLISECONDS, take)) {
            return;
        }
        tick();
    }
}

// Frames of up to this many pixels go several to a block (a 1024 x 1024 frame alone).
constexpr int64_t BLOCK_PIXELS = int64_t{1} << 20;

// Orders `worker` to render, with the level span of every identifier, in one write.
void StartRendering(WorkerProcesses& processes, const ParallelRender& run, size_t worker) {
    uint32_t words[1 + RANGE_COUNT] = {RENDER};
    for (int id = 0; id < RANGE_COUNT; ++id) {
        words[1 + id] = EncodeLevelSpan(run.levels != nullptr ? (*run.levels)[id] : std::nullopt);
    }
    processes.Order(worker, words, std::size(words));
}

// Orders `worker` to check `index`, and notes when.
void AssignCheck(WorkerProcesses& processes, std::vector<WorkerRecord>& workers, size_t worker,
                 size_t index) {
    workers[worker].busyWith = index;
    workers[worker].filesBefore.clear();
    workers[worker].since = Clock::now();
    processes.Order(worker, static_cast<uint32_t>(index));
}

// Makes the first frame `worker` has been handed and not answered for its `busyWith`, from now
// (none: NO_FRAME).
void NextOfBlock(WorkerRecord& worker) {
    worker.busyWith = NO_FRAME;
    worker.filesBefore.clear();
    if (!worker.queued.empty()) {
        worker.busyWith = worker.queued.front().index;
        worker.filesBefore = std::move(worker.queued.front().filesBefore);
        worker.since = Clock::now();
        worker.queued.pop_front();
    }
}

// Orders `worker` to render `frames` in that order, noting (with a frame timeout) the versions
// of the files each writes before the worker can touch them.
void HandOut(const ParallelRender& run, WorkerProcesses& processes,
             std::vector<WorkerRecord>& workers, size_t to, const std::vector<uint32_t>& frames) {
    WorkerRecord& worker = workers[to];
    std::vector<uint32_t> words = {static_cast<uint32_t>(frames.size())};
    for (const uint32_t index : frames) {
        WorkerRecord::Queued queued;
        queued.index = index;
        if (run.frameTimeoutSeconds > 0) {
            queued.filesBefore = IdentifyFrameFiles((*run.plans)[index]);
        }
        worker.queued.push_back(std::move(queued));
        words.push_back(index);
    }
    if (worker.busyWith == NO_FRAME) {
        NextOfBlock(worker);
    }
    processes.Order(to, words.data(), words.size());
}

// The frames for `worker` to render next, at most MAX_BLOCK_FRAMES: its own checked frames
// first (their decoded images may be waiting in its memory), then those of `pool` (in order),
// then the last frames of whichever worker has most left. Several only where frames are small
// (BLOCK_PIXELS), and then no more than leaves each worker two blocks of what is left.
std::vector<uint32_t> NextBlockFor(const ParallelRender& run, std::vector<WorkerRecord>& workers,
                                   std::deque<size_t>& pool, size_t worker) {
    std::deque<size_t>* from = &workers[worker].frames;
    bool front = true;
    if (from->empty()) {
        from = &pool;
    }
    if (from->empty()) {
        front = false;
        for (WorkerRecord& other : workers) {
            if (other.frames.size() > from->size()) {
                from = &other.frames;
            }
        }
    }
    std::vector<uint32_t> block;
    if (from->empty()) {
        return block;
    }
    size_t left = pool.size();
    size_t busy = 0;
    for (const WorkerRecord& other : workers) {
        left += other.frames.size();
        busy += other.gone ? 0 : 1;
    }
    const InputProbe& probe = (*run.inputs)[front ? from->front() : from->back()].probe;
    const int64_t pixels = int64_t{probe.width} * probe.height;
    size_t count =
        pixels > 0
            ? static_cast<size_t>(std::clamp<int64_t>(BLOCK_PIXELS / pixels, 1, MAX_BLOCK_FRAMES))
            : 1;
    count = std::min(count, std::max<size_t>(1, left / (2 * std::max<size_t>(busy, 1))));
    count = std::min(count, front ? from->size() : std::max<size_t>(1, from->size() / 2));
    for (size_t i = 0; i < count; ++i) {
        block.push_back(static_cast<uint32_t>(front ? from->front() : from->back()));
        front ? from->pop_front() : from->pop_back();
    }
    if (!front) {
        std::reverse(block.begin(), block.end());
    }
    return block;
}

// One run's scheduling, stage by stage: the check, the report of bad inputs, the render and
// the settling of frames left without an outcome.
class Scheduling {
public:
    Scheduling(const ParallelRender& run, WorkerProcesses& processes)
        : run_(run),
          plans_(*run.plans),
          processes_(processes),
          workers_(processes.Count()),
          timeout_("took longer than --frame-timeout " + std::to_string(run.frameTimeoutSeconds) +
                   (run.frameTimeoutSeconds == 1 ? " second" : " seconds") +
                   "; its worker process was ended"),
          hostChecks_(!run.inputOptions->measureLuminance) {}

    // True once an interrupt was seen or passed on to the workers.
    bool Interrupted() const { return InterruptRequested() || forwarded_; }

    // The check: frames go out in order to whichever worker asks; each worker keeps a list
    // of those it checked. A worker that ends before it has checked its frames (crashed,
    // killed) ends the run, and so does one stuck on a frame, which is ended; a new one takes
    // its place, so that every bad input is still reported. Returns the bad inputs, in frame
    // order, and sets `lost` when a worker was lost or frames went unchecked.
    std::map<size_t, std::string> Check(bool& lost) {
        if (hostChecks_) {
            return CheckHere();
        }
        std::map<size_t, std::string> problems;
        size_t nextToCheck = 0;
        PumpMessages(
            processes_, workers_, forwarded_,
            [&](size_t worker, const WorkerMessage& message) {
                if (message.kind == MESSAGE_PROCESS) {
                    NoteProcess(worker, message);
                } else if (message.kind == MESSAGE_NEXT) {
                    workers_[worker].busyWith = NO_FRAME;
                    if (nextToCheck < plans_.size() && !forwarded_) {
                        workers_[worker].frames.push_back(nextToCheck);
                        AssignCheck(processes_, workers_, worker, nextToCheck++);
                    } else {
                        processes_.Order(worker, NO_MORE_FRAMES);
                    }
                } else if (message.kind == MESSAGE_BAD_INPUT && message.fields.size() == 2) {
                    problems[IndexField(message)] = message.fields[1];
                } else if (message.kind == MESSAGE_CHECKED && !workers_[worker].checked) {
                    workers_[worker].checked = true;
                    if (run_.checked != nullptr && message.fields.size() == CHECKED_FIELDS) {
                        run_.checked->Add(ParseChecked(message.fields));
                    }
                }
            },
            [&](size_t worker) {
                WorkerRecord& gone = workers_[worker];
                if (!gone.gone && !gone.checked) {
                    lost = true;
                    if (gone.busyWith < plans_.size()) {
                        problems[gone.busyWith] =
                            FrameName(gone.busyWith) + "its worker process ended while checking it";
                    }
                }
                gone.gone = true;
                gone.busyWith = NO_FRAME;
            },
            [&] {
                // Ended like a lost worker, not refused as a bad input: the file may be sound
                // and the machine slow, so the run is worth trying again (exit code 1, not 2).
                EndStuckWorkers(run_, processes_, workers_, [&](size_t index, const auto&) {
                    problems[index] = FrameName(index) + "checking it " + timeout_;
                    lost = true;
                });
            },
            [&] {
                return std::all_of(
                    workers_.begin(), workers_.end(),
                    [](const WorkerRecord& worker) { return worker.gone || worker.checked; });
            });
        lost = lost || nextToCheck != plans_.size();
        return problems;
    }

    // The render: frames go out on demand, outcomes arrive in any order and are shown in
    // frame order. A worker started in place of one that was stuck goes through an empty
    // check first.
    void Render(ProgressDisplay& progress, RenderReport& report) {
        for (size_t worker = 0; worker < workers_.size(); ++worker) {
            if (workers_[worker].checked) {
                StartRendering(processes_, run_, worker);
            }
        }
        outcomes_.assign(plans_.size(), std::nullopt);
        PumpMessages(
            processes_, workers_, forwarded_,
            [&](size_t worker, const WorkerMessage& message) {
                if (message.kind == MESSAGE_PROCESS) {
                    NoteProcess(worker, message);
                    return;
                }
                if (message.kind == MESSAGE_CHECKED && !workers_[worker].checked) {
                    workers_[worker].checked = true;
                    StartRendering(processes_, run_, worker);
                    return;
                }
                if (message.kind == MESSAGE_NEXT) {
                    const std::vector<uint32_t> block =
                        !workers_[worker].checked || Interrupted()
                            ? std::vector<uint32_t>{}
                            : NextBlockFor(run_, workers_, pool_, worker);
                    if (block.empty()) {
                        processes_.Order(worker, NO_MORE_FRAMES);
                    } else {
                        HandOut(run_, processes_, workers_, worker, block);
                    }
                    return;
                }
                if (message.kind == MESSAGE_STOPPED) {
                    workers_[worker].busyWith = NO_FRAME;
                    workers_[worker].queued.clear();
                    report.interrupted = true;
                    return;
                }
                NextOfBlock(workers_[worker]);
                size_t index = 0;
                FrameOutcome outcome;
                if (!ParseFrameOutcome(message, plans_.size(), index, outcome)) {
                    return;
                }
                outcome.frameNumber = plans_[index].frameNumber;
                Settle(progress, index, outcome);
            },
            [&](size_t worker) {
                // Its pipe closes as it ends: what it was writing stays half done.
                if (workers_[worker].busyWith < plans_.size()) {
                    SweepTemporaryFiles(plans_[workers_[worker].busyWith],
                                        workers_[worker].process);
                }
                workers_[worker].gone = true;
                workers_[worker].busyWith = NO_FRAME;
                GiveBack(workers_[worker]);
            },
            [&] {
                EndStuckWorkers(run_, processes_, workers_, [&](size_t index, const auto& before) {
                    // Ended after its files were in place: they are the frame's, written whole.
                    FrameOutcome outcome;
                    outcome.frameNumber = plans_[index].frameNumber;
                    outcome.file = plans_[index].file;
                    outcome.written = LeftWritten(run_, index, before);
                    outcome.reason = outcome.written ? "" : "rendering it " + timeout_;
                    Settle(progress, index, outcome);
                });
                for (size_t worker = 0; worker < workers_.size(); ++worker) {
                    GiveBack(workers_[worker]);
                    // A worker started in place of a stuck one has no check to go through.
                    if (hostChecks_ && !workers_[worker].gone && !workers_[worker].checked) {
                        workers_[worker].checked = true;
                        StartRendering(processes_, run_, worker);
                    }
                }
            },
            [] { return false; });
    }

    // After the render: frames after a gap (an interrupted frame, or a worker that was lost)
    // are shown now, and every outcome goes into `report`.
    void SettleTheRest(ProgressDisplay& progress, RenderReport& report) {
        // As in one process: a signal after the last frame was written interrupts nothing.
        const bool allRendered =
            std::all_of(outcomes_.begin(), outcomes_.end(),
                        [](const auto& outcome) { return outcome.has_value(); });
        report.interrupted = !allRendered && (report.interrupted || Interrupted());
        for (size_t index = 0; index < plans_.size(); ++index) {
            if (!outcomes_[index] && !report.interrupted) {
                FrameOutcome lostFrame;
                lostFrame.frameNumber = plans_[index].frameNumber;
                lostFrame.file = plans_[index].file;
                lostFrame.reason = "its worker process ended before it was rendered";
                outcomes_[index] = lostFrame;
            }
            if (index >= nextShown_ && outcomes_[index]) {
                Show(progress, index);
            }
            if (outcomes_[index]) {
                report.frames.push_back(*outcomes_[index]);
            }
        }
        progress.Finish();
    }

private:
    // The check from the headers every input's probe read, here: the workers need not read
    // anything of a frame before they render it.
    std::map<size_t, std::string> CheckHere() {
        std::map<size_t, std::string> problems;
        CheckedFrames found;
        for (size_t index = 0; index < plans_.size() && !InterruptRequested(); ++index) {
            int width = 0;
            int height = 0;
            std::string error;
            if (!CheckInputHeaders((*run_.inputs)[index], *run_.inputOptions, width, height,
                                   error)) {
                problems[index] = error;
                continue;
            }
            found.minWidth = std::min(found.minWidth, width);
            found.maxWidth = std::max(found.maxWidth, width);
            found.minHeight = std::min(found.minHeight, height);
            found.maxHeight = std::max(found.maxHeight, height);
            pool_.push_back(index);
        }
        if (run_.checked != nullptr) {
            run_.checked->Add(found);
        }
        for (WorkerRecord& worker : workers_) {
            worker.checked = true;
        }
        return problems;
    }

    // The frames handed to a worker that has gone and not begun go back to the pool, in order.
    void GiveBack(WorkerRecord& worker) {
        if (!worker.gone || worker.queued.empty()) {
            return;
        }
        for (const WorkerRecord::Queued& frame : worker.queued) {
            pool_.push_back(frame.index);
        }
        worker.queued.clear();
        std::sort(pool_.begin(), pool_.end());
    }

    std::string FrameName(size_t index) const {
        return "frame " + std::to_string(plans_[index].frameNumber) + " (" + plans_[index].label +
               "): ";
    }

    void NoteProcess(size_t worker, const WorkerMessage& message) {
        const size_t process = IndexField(message);
        workers_[worker].process = process != SIZE_MAX ? process : 0;
    }

    void Show(ProgressDisplay& progress, size_t index) const {
        const FrameOutcome& outcome = *outcomes_[index];
        const FramePlan& plan = plans_[index];
        if (outcome.written) {
            progress.StartFrame(index);
            progress.FrameWritten(index, plan.frameNumber, plan.label, outcome.file,
                                  ExtraFilesWritten(plan, outcome));
        }
        for (const std::string& problem : DescribeFrameProblems(plan, outcome)) {
            progress.Error(problem);
        }
    }

    // Notes `outcome` and shows every frame now ready in frame order.
    void Settle(ProgressDisplay& progress, size_t index, const FrameOutcome& outcome) {
        outcomes_[index] = outcome;
        while (nextShown_ < plans_.size() && outcomes_[nextShown_]) {
            Show(progress, nextShown_++);
        }
    }

    const ParallelRender& run_;
    const std::vector<FramePlan>& plans_;
    WorkerProcesses& processes_;
    std::vector<WorkerRecord> workers_;
    bool forwarded_ = false;
    const std::string timeout_;
    const bool hostChecks_;    // the host checks the inputs; the workers only render
    std::deque<size_t> pool_;  // frames for any worker, in order
    std::vector<std::optional<FrameOutcome>> outcomes_;
    size_t nextShown_ = 0;
};

// Reports the bad inputs in frame order, at most `maxReports` of them and then how many more.
void ReportProblems(const std::map<size_t, std::string>& problems, size_t maxReports,
                    const std::function<void(const std::string&)>& reportBadInput) {
    size_t reported = 0;
    for (const auto& [index, message] : problems) {
        if (reported++ < maxReports) {
            reportBadInput(message);
        }
    }
    if (problems.size() > maxReports) {
        reportBadInput("... and " + std::to_string(problems.size() - maxReports) +
                       " more bad inputs");
    }
}

}  // namespace

int WorkersWithinMemory(int jobs, uint64_t frameBytes, uint64_t physicalBytes) {
    if (physicalBytes == 0 || frameBytes == 0 ||
        physicalBytes / frameBytes >= static_cast<uint64_t>(jobs)) {
        return jobs;
    }
    return std::max(1, static_cast<int>(physicalBytes / frameBytes));
}

ParallelResult RenderInWorkers(const ParallelRender& run,
                               const std::function<void(const std::string&)>& reportBadInput,
                               const std::function<int()>& beforeRender, ProgressDisplay& progress,
                               RenderReport& report) {
    const std::unique_ptr<WorkerProcesses> processes = StartWorkers(run);
    if (processes == nullptr) {
        return PARALLEL_UNAVAILABLE;
    }
    Scheduling scheduling(run, *processes);
    bool lost = false;
    const std::map<size_t, std::string> problems = scheduling.Check(lost);
    if (scheduling.Interrupted()) {
        processes->End();
        return PARALLEL_INTERRUPTED;
    }
    ReportProblems(problems, run.maxReports, reportBadInput);
    if (lost || !problems.empty()) {
        processes->End();
        return lost ? PARALLEL_WORKER_LOST : PARALLEL_BAD_INPUT;
    }
    if (!beforeRender()) {
        processes->End();
        return PARALLEL_NOT_STARTED;
    }
    scheduling.Render(progress, report);
    processes->End();
    scheduling.SettleTheRest(progress, report);
    return PARALLEL_RENDERED;
}

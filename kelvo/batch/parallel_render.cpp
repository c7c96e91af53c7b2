// Runs `kelvo render`'s input check and frames in worker processes: the host's scheduling,
// which hands frames out to the workers and settles what each frame came to.
#include "kelvo/batch/parallel_render.h"

#include <algorithm>
#include <cstdint>
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

// Orders `worker` to render, with the level span of every identifier.
void StartRendering(WorkerProcesses& processes, const ParallelRender& run, size_t worker) {
    processes.Order(worker, RENDER);
    for (int id = 0; id < RANGE_COUNT; ++id) {
        processes.Order(worker,
                        EncodeLevelSpan(run.levels != nullptr ? (*run.levels)[id] : std::nullopt));
    }
}

// Orders `worker` to check or render `index`, and notes when (and, with a frame timeout, the
// versions of the files rendering it writes).
void Assign(const ParallelRender& run, WorkerProcesses& processes,
            std::vector<WorkerRecord>& workers, size_t worker, size_t index, bool rendering) {
    workers[worker].busyWith = index;
    workers[worker].filesBefore.clear();
    if (rendering && run.frameTimeoutSeconds > 0) {
        workers[worker].filesBefore = IdentifyFrameFiles((*run.plans)[index]);
    }
    workers[worker].since = Clock::now();
    processes.Order(worker, static_cast<uint32_t>(index));
}

// The frame for `worker` to render next: its own checked frames first (their decoded images
// may be waiting in its memory), then the last frame of whichever worker has most left.
uint32_t NextFrameFor(std::vector<WorkerRecord>& workers, size_t worker) {
    std::deque<size_t>* from = &workers[worker].frames;
    bool own = true;
    if (from->empty()) {
        own = false;
        for (WorkerRecord& other : workers) {
            if (other.frames.size() > from->size()) {
                from = &other.frames;
            }
        }
    }
    if (from->empty()) {
        return NO_MORE_FRAMES;
    }
    const size_t index = own ? from->front() : from->back();
    own ? from->pop_front() : from->pop_back();
    return static_cast<uint32_t>(index);
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
    const std::vector<FramePlan>& plans = *run.plans;
    const std::unique_ptr<WorkerProcesses> processes = StartWorkers(run);
    if (processes == nullptr) {
        return PARALLEL_UNAVAILABLE;
    }
    std::vector<WorkerRecord> workers(processes->Count());
    bool forwarded = false;
    const std::string timeout =
        "took longer than --frame-timeout " + std::to_string(run.frameTimeoutSeconds) +
        (run.frameTimeoutSeconds == 1 ? " second" : " seconds") + "; its worker process was ended";
    const auto frameName = [&plans](size_t index) {
        return "frame " + std::to_string(plans[index].frameNumber) + " (" + plans[index].label +
               "): ";
    };

    // The check: frames go out in order to whichever worker asks; each worker keeps a list
    // of those it checked. A worker that ends before it has checked its frames (crashed,
    // killed) ends the run, and so does one stuck on a frame, which is ended; a new one takes
    // its place, so that every bad input is still reported.
    std::map<size_t, std::string> problems;  // bad inputs, in frame order
    bool lost = false;
    size_t nextToCheck = 0;
    PumpMessages(
        *processes, workers, forwarded,
        [&](size_t worker, const WorkerMessage& message) {
            if (message.kind == MESSAGE_PROCESS) {
                const size_t process = IndexField(message);
                workers[worker].process = process != SIZE_MAX ? process : 0;
            } else if (message.kind == MESSAGE_NEXT) {
                workers[worker].busyWith = NO_FRAME;
                if (nextToCheck < plans.size() && !forwarded) {
                    workers[worker].frames.push_back(nextToCheck);
                    Assign(run, *processes, workers, worker, nextToCheck++, false);
                } else {
                    processes->Order(worker, NO_MORE_FRAMES);
                }
            } else if (message.kind == MESSAGE_BAD_INPUT && message.fields.size() == 2) {
                problems[IndexField(message)] = message.fields[1];
            } else if (message.kind == MESSAGE_CHECKED && !workers[worker].checked) {
                workers[worker].checked = true;
                if (run.checked != nullptr && message.fields.size() == CHECKED_FIELDS) {
                    run.checked->Add(ParseChecked(message.fields));
                }
            }
        },
        [&](size_t worker) {
            WorkerRecord& gone = workers[worker];
            if (!gone.gone && !gone.checked) {
                lost = true;
                if (gone.busyWith < plans.size()) {
                    problems[gone.busyWith] =
                        frameName(gone.busyWith) + "its worker process ended while checking it";
                }
            }
            gone.gone = true;
            gone.busyWith = NO_FRAME;
        },
        [&] {
            // Ended like a lost worker, not refused as a bad input: the file may be sound and
            // the machine slow, so the run is worth trying again (exit code 1, not 2).
            EndStuckWorkers(run, *processes, workers, [&](size_t index, const auto&) {
                problems[index] = frameName(index) + "checking it " + timeout;
                lost = true;
            });
        },
        [&] {
            return std::all_of(workers.begin(), workers.end(), [](const WorkerRecord& worker) {
                return worker.gone || worker.checked;
            });
        });
    if (InterruptRequested() || forwarded) {
        processes->End();
        return PARALLEL_INTERRUPTED;
    }
    lost = lost || nextToCheck != plans.size();
    if (!problems.empty()) {
        size_t reported = 0;
        for (const auto& [index, message] : problems) {
            if (reported++ < run.maxReports) {
                reportBadInput(message);
            }
        }
        if (problems.size() > run.maxReports) {
            reportBadInput("... and " + std::to_string(problems.size() - run.maxReports) +
                           " more bad inputs");
        }
    }
    if (lost || !problems.empty()) {
        processes->End();
        return lost ? PARALLEL_WORKER_LOST : PARALLEL_BAD_INPUT;
    }
    if (!beforeRender()) {
        processes->End();
        return PARALLEL_NOT_STARTED;
    }
    for (size_t worker = 0; worker < workers.size(); ++worker) {
        if (workers[worker].checked) {
            StartRendering(*processes, run, worker);
        }
    }

    // The render: frames go out on demand, outcomes arrive in any order and are shown in
    // frame order. A worker started in place of one that was stuck goes through an empty check
    // first.
    std::vector<std::optional<FrameOutcome>> outcomes(plans.size());
    size_t nextShown = 0;
    const auto show = [&](size_t index) {
        const FrameOutcome& outcome = *outcomes[index];
        const FramePlan& plan = plans[index];
        if (outcome.written) {
            progress.StartFrame(index);
            progress.FrameWritten(index, plan.frameNumber, plan.label, outcome.file,
                                  ExtraFilesWritten(plan, outcome));
        }
        for (const std::string& problem : DescribeFrameProblems(plan, outcome)) {
            progress.Error(problem);
        }
    };
    const auto settle = [&](size_t index, const FrameOutcome& outcome) {
        outcomes[index] = outcome;
        while (nextShown < plans.size() && outcomes[nextShown]) {
            show(nextShown++);
        }
    };
    PumpMessages(
        *processes, workers, forwarded,
        [&](size_t worker, const WorkerMessage& message) {
            if (message.kind == MESSAGE_PROCESS) {
                const size_t process = IndexField(message);
                workers[worker].process = process != SIZE_MAX ? process : 0;
                return;
            }
            if (message.kind == MESSAGE_CHECKED && !workers[worker].checked) {
                workers[worker].checked = true;
                StartRendering(*processes, run, worker);
                return;
            }
            if (message.kind == MESSAGE_NEXT) {
                const uint32_t next = !workers[worker].checked || forwarded || InterruptRequested()
                                          ? NO_MORE_FRAMES
                                          : NextFrameFor(workers, worker);
                if (next == NO_MORE_FRAMES) {
                    processes->Order(worker, NO_MORE_FRAMES);
                } else {
                    Assign(run, *processes, workers, worker, next, true);
                }
                return;
            }
            workers[worker].busyWith = NO_FRAME;
            if (message.kind == MESSAGE_STOPPED) {
                report.interrupted = true;
                return;
            }
            size_t index = 0;
            FrameOutcome outcome;
            if (!ParseFrameOutcome(message, plans.size(), index, outcome)) {
                return;
            }
            outcome.frameNumber = plans[index].frameNumber;
            settle(index, outcome);
        },
        [&](size_t worker) {
            // Its pipe closes as it ends: what it was writing stays half done.
            if (workers[worker].busyWith < plans.size()) {
                SweepTemporaryFiles(plans[workers[worker].busyWith], workers[worker].process);
            }
            workers[worker].gone = true;
            workers[worker].busyWith = NO_FRAME;
        },
        [&] {
            EndStuckWorkers(run, *processes, workers, [&](size_t index, const auto& before) {
                // Ended after its files were in place: they are the frame's, written whole.
                FrameOutcome outcome;
                outcome.frameNumber = plans[index].frameNumber;
                outcome.file = plans[index].file;
                outcome.written = LeftWritten(run, index, before);
                outcome.reason = outcome.written ? "" : "rendering it " + timeout;
                settle(index, outcome);
            });
        },
        [] { return false; });
    processes->End();
    // As in one process: a signal after the last frame was written interrupts nothing.
    const bool allRendered = std::all_of(outcomes.begin(), outcomes.end(),
                                         [](const auto& outcome) { return outcome.has_value(); });
    report.interrupted = !allRendered && (report.interrupted || forwarded || InterruptRequested());

    // Frames after a gap (an interrupted frame, or a worker that was lost) are shown now.
    for (size_t index = 0; index < plans.size(); ++index) {
        if (!outcomes[index] && !report.interrupted) {
            FrameOutcome lostFrame;
            lostFrame.frameNumber = plans[index].frameNumber;
            lostFrame.file = plans[index].file;
            lostFrame.reason = "its worker process ended before it was rendered";
            outcomes[index] = lostFrame;
        }
        if (index >= nextShown && outcomes[index]) {
            show(index);
        }
        if (outcomes[index]) {
            report.frames.push_back(*outcomes[index]);
        }
    }
    progress.Finish();
    return PARALLEL_RENDERED;
}

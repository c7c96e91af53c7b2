// Runs `kelvo render`'s input check and frames in worker processes, each with its own filter:
// the messages between host and workers, the worker's loop and the host's scheduling.
#include "kelvo/batch/parallel_render.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "kelvo/batch/finished_frames.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/os/console.h"
#include "kelvo/os/file_identity.h"
#include "kelvo/os/interrupt.h"
#include "pcx/atomic_file.h"

namespace {

// A worker tells the host what happened in messages of a 32-bit length (native byte order)
// followed by that many bytes: a kind letter, then fields each ended by a NUL.
constexpr char MESSAGE_NEXT = 'N';       // the worker wants its next frame
constexpr char MESSAGE_BAD_INPUT = 'B';  // frame index, what is wrong with its input
constexpr char MESSAGE_CHECKED = 'C';    // the worker has checked every frame it was given; the
                                         // least and most width and height, and the luminance
                                         // histogram (LuminanceHistogram::Encode)
constexpr char MESSAGE_FRAME = 'R';      // frame index, "1" or "0" for written, file, reason, why
                                         // the PNG and the BMP were not written (empty when they
                                         // were), what the file holds (FrameContentHash), and
                                         // the pixels of identifiers 0-15 and of 16 and more
constexpr size_t CHECKED_FIELDS = 4 + 1;
constexpr size_t FRAME_FIELDS = 7 + RANGE_COUNT + 1;
constexpr char MESSAGE_STOPPED = 'I';  // interrupted; the frame being rendered has no file
constexpr char MESSAGE_PROCESS = 'P';  // the worker's process ID, its first message: the names
                                       // of its temporary files hold it

// The host answers on each worker's own pipe with 32-bit words: the index of the frame to
// check or render next, NO_MORE_FRAMES, or (after the check) RENDER followed by one word per
// identifier 0-15, its level span (EncodeLevelSpan). A closed pipe means stop.
// Frames go out one at a time to whichever worker asks, so a worker on a busier processor
// simply does fewer of them.
constexpr uint32_t NO_MORE_FRAMES = 0xFFFFFFFF;
constexpr uint32_t RENDER = 0xFFFFFFFE;

// How long the host waits for a message before it looks at the interrupt flag again.
constexpr int POLL_MILLISECONDS = 100;

void Send(HostLink& link, char kind, const std::vector<std::string>& fields) {
    std::string payload(1, kind);
    for (const std::string& field : fields) {
        payload.append(field).push_back('\0');
    }
    const auto length = static_cast<uint32_t>(payload.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    // A host that has gone away cannot be told anything; the worker ends either way.
    link.Write(header, sizeof header) && link.Write(payload.data(), payload.size());
}

struct Message {
    char kind = 0;
    std::vector<std::string> fields;
};

// Takes the next whole message off the front of `buffer`, if there is one.
bool TakeMessage(std::string& buffer, Message& message) {
    uint32_t length = 0;
    if (buffer.size() < sizeof length) {
        return false;
    }
    std::memcpy(&length, buffer.data(), sizeof length);
    if (length == 0 || buffer.size() - sizeof length < length) {
        return false;
    }
    const std::string payload = buffer.substr(sizeof length, length);
    buffer.erase(0, sizeof length + length);
    message.kind = payload[0];
    message.fields.clear();
    size_t start = 1;
    for (size_t end = payload.find('\0', start); end != std::string::npos;
         end = payload.find('\0', start)) {
        message.fields.push_back(payload.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

size_t IndexField(const Message& message) {
    if (message.fields.empty()) {
        return SIZE_MAX;
    }
    char* end = nullptr;
    const unsigned long long index = std::strtoull(message.fields[0].c_str(), &end, 10);
    return end != nullptr && *end == '\0' && index < SIZE_MAX ? static_cast<size_t>(index)
                                                              : SIZE_MAX;
}

// Frame `index` of the run as the only frame of a one-frame sequence; the frame after it is
// frame `next` of the run (SIZE_MAX: none to read ahead).
class OneFrameSource final : public FrameSource {
public:
    OneFrameSource(FileFrameSource& source, size_t index, size_t next)
        : source_(source), index_(index), next_(next) {}
    int LoadFrame(size_t, DecodedFrame& frame, std::string& error) override {
        return source_.LoadFrame(index_, frame, error);
    }
    void Prefetch(size_t) override { source_.Prefetch(next_); }
    void LendPixels(PixelLender* lender) override { source_.LendPixels(lender); }
    void TakeBitmap(std::optional<MemoryBitmap>& bitmap) override { source_.TakeBitmap(bitmap); }

private:
    FileFrameSource& source_;
    size_t index_;
    size_t next_;
};

// What a worker's MESSAGE_CHECKED says it found; numbers it did not send are taken as none.
CheckedFrames ParseChecked(const std::vector<std::string>& fields) {
    CheckedFrames checked;
    int* sides[] = {&checked.minWidth, &checked.maxWidth, &checked.minHeight, &checked.maxHeight};
    for (size_t i = 0; i < 4; ++i) {
        const unsigned long long side = std::strtoull(fields[i].c_str(), nullptr, 10);
        *sides[i] = side <= INT_MAX ? static_cast<int>(side) : INT_MAX;
    }
    if (!checked.luminance.Decode(fields[4])) {
        checked.luminance = LuminanceHistogram{};
    }
    return checked;
}

// The host's next word for this worker; NO_MORE_FRAMES when the host has closed the pipe.
uint32_t ReadWord(HostLink& link) {
    uint32_t word = 0;
    return link.Read(reinterpret_cast<char*>(&word), sizeof word) ? word : NO_MORE_FRAMES;
}

using Clock = std::chrono::steady_clock;
constexpr size_t NO_FRAME = SIZE_MAX;

// Null but in the tests' own build of kelvo.
WorkerFrameHook frameHook = nullptr;

// What the host knows of one worker.
struct Worker {
    std::string buffer;    // bytes received that do not make a whole message yet
    uint64_t process = 0;  // its process ID, once it said
    bool checked = false;
    bool gone = false;           // its pipe has closed, or the host ended it
    std::deque<size_t> frames;   // frames it checked and has not rendered, ascending
    size_t busyWith = NO_FRAME;  // the frame it was ordered to check or render, until it answers
    Clock::time_point since;     // when that order went out
    // With a frame timeout, the versions of the frame's files (frame, PNG, BMP) when it was
    // ordered to render it.
    std::vector<FileIdentity> filesBefore;
};

// The versions of the files `plan` writes: frame, PNG and BMP.
std::vector<FileIdentity> IdentifyFrameFiles(const FramePlan& plan) {
    return {IdentifyFile(plan.file), IdentifyFile(plan.previewPath), IdentifyFile(plan.bmpPath)};
}

// Removes the temporary files that `process`, a worker that has ended, left beside the files of
// `plan`: their names hold its process ID (TemporaryNameBeside).
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

// True when a worker ended while rendering `index` left its files written: each one asked for
// was replaced since `before`, and the frame reads back complete, of its size and palette.
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

// Waits for messages from the workers whose pipes are open and hands each to `handle`, and
// each worker whose pipe closed to `closed`, until `done` answers true or every pipe has
// closed; `tick` runs between waits. An interrupt seen here is passed on to the workers once:
// a SIGTERM sent to kelvo alone must stop them too.
void PumpMessages(WorkerProcesses& processes, std::vector<Worker>& workers, bool& forwarded,
                  const std::function<void(size_t, const Message&)>& handle,
                  const std::function<void(size_t)>& closed, const std::function<void()>& tick,
                  const std::function<bool()>& done) {
    const auto take = [&workers, &handle, &closed](size_t worker, const char* data, size_t size) {
        if (size == 0) {
            closed(worker);
            return;
        }
        workers[worker].buffer.append(data, size);
        Message message;
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
void Assign(const ParallelRender& run, WorkerProcesses& processes, std::vector<Worker>& workers,
            size_t worker, size_t index, bool rendering) {
    workers[worker].busyWith = index;
    workers[worker].filesBefore.clear();
    if (rendering && run.frameTimeoutSeconds > 0) {
        workers[worker].filesBefore = IdentifyFrameFiles((*run.plans)[index]);
    }
    workers[worker].since = Clock::now();
    processes.Order(worker, static_cast<uint32_t>(index));
}

// Ends every worker that has spent longer than `run.frameTimeoutSeconds` on its frame, hands
// that frame and its files' versions from before to `timedOut` once the worker has ended, and
// starts a worker in its place.
void EndStuckWorkers(
    const ParallelRender& run, WorkerProcesses& processes, std::vector<Worker>& workers,
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

// The frame for `worker` to render next: its own checked frames first (their decoded images
// may be waiting in its memory), then the last frame of whichever worker has most left.
uint32_t NextFrameFor(std::vector<Worker>& workers, size_t worker) {
    std::deque<size_t>* from = &workers[worker].frames;
    bool own = true;
    if (from->empty()) {
        own = false;
        for (Worker& other : workers) {
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

void SetWorkerFrameHook(WorkerFrameHook hook) {
    frameHook = hook;
}

int WorkersWithinMemory(int jobs, uint64_t frameBytes, uint64_t physicalBytes) {
    if (physicalBytes == 0 || frameBytes == 0 ||
        physicalBytes / frameBytes >= static_cast<uint64_t>(jobs)) {
        return jobs;
    }
    return std::max(1, static_cast<int>(physicalBytes / frameBytes));
}

void RunWorker(const ParallelRender& run, HostLink& link) {
    const std::vector<FramePlan>& plans = *run.plans;
    FileFrameSource source(*run.inputs, *run.inputOptions,
                           run.cacheBytes / static_cast<size_t>(run.jobs));
    // With fewer workers than processors, a worker decodes the frame it will most likely be
    // given next while it renders one, so that it keeps two processors busy: the next of those
    // it checked, as the host hands each worker its own first, in order. A guess that another
    // worker takes is dropped.
    const bool readAhead = run.jobs < ProcessorCount();
    std::vector<size_t> mine;  // the frames it checked, ascending
    Send(link, MESSAGE_PROCESS, {std::to_string(CurrentProcessId())});
    for (;;) {
        Send(link, MESSAGE_NEXT, {});
        const uint32_t index = ReadWord(link);
        if (index >= plans.size()) {
            break;
        }
        mine.push_back(index);
        if (frameHook != nullptr) {
            frameHook((*run.inputs)[index], plans[index], WORKER_CHECKING);
        }
        std::string error;
        if (!source.CheckFrame(index, error)) {
            Send(link, MESSAGE_BAD_INPUT, {std::to_string(index), error});
        }
    }
    const CheckedFrames& checked = source.Checked();
    std::vector<std::string> fields;
    for (int side : {checked.minWidth, checked.maxWidth, checked.minHeight, checked.maxHeight}) {
        fields.push_back(std::to_string(side));
    }
    fields.push_back(checked.luminance.Encode());
    Send(link, MESSAGE_CHECKED, fields);
    if (ReadWord(link) != RENDER) {
        return;
    }
    LevelSpans levels;
    for (std::optional<LevelSpan>& span : levels) {
        span = DecodeLevelSpan(ReadWord(link));
    }
    source.SetLevels(levels);
    // The host prints every outcome; the worker's own display goes nowhere.
    FILE* nowhere = std::fopen(NullDevicePath(), "w");
    ProgressDisplay silent(PROGRESS_ERRORS_ONLY, nowhere != nullptr ? nowhere : stderr, 1);
    RenderMemory memory;
    for (;;) {
        Send(link, MESSAGE_NEXT, {});
        const uint32_t index = ReadWord(link);
        if (index >= plans.size()) {
            break;
        }
        if (frameHook != nullptr) {
            frameHook((*run.inputs)[index], plans[index], WORKER_RENDERING);
        }
        const auto after = std::upper_bound(mine.begin(), mine.end(), size_t{index});
        OneFrameSource frame(source, index, readAhead && after != mine.end() ? *after : SIZE_MAX);
        RenderReport one;
        RenderFrames(*run.settings, {plans[index]}, frame, silent, one, run.outputs, &memory);
        if (one.interrupted || one.frames.empty()) {
            Send(link, MESSAGE_STOPPED, {});
            break;
        }
        const FrameOutcome& outcome = one.frames.front();
        if (frameHook != nullptr) {
            frameHook((*run.inputs)[index], plans[index], WORKER_RENDERED);
        }
        std::vector<std::string> said = {std::to_string(index),
                                         outcome.written ? "1" : "0",
                                         outcome.file,
                                         outcome.reason,
                                         outcome.previewReason,
                                         outcome.bmpReason,
                                         std::to_string(outcome.content)};
        for (uint64_t pixels : outcome.ids.pixels) {
            said.push_back(std::to_string(pixels));
        }
        said.push_back(std::to_string(outcome.ids.beyond));
        Send(link, MESSAGE_FRAME, said);
    }
    if (nowhere != nullptr) {
        std::fclose(nowhere);
    }
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
    std::vector<Worker> workers(processes->Count());
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
        [&](size_t worker, const Message& message) {
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
            Worker& gone = workers[worker];
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
            return std::all_of(workers.begin(), workers.end(),
                               [](const Worker& worker) { return worker.gone || worker.checked; });
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
        [&](size_t worker, const Message& message) {
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
            const size_t index = IndexField(message);
            if (message.kind != MESSAGE_FRAME || message.fields.size() != FRAME_FIELDS ||
                index >= plans.size()) {
                return;
            }
            FrameOutcome outcome;
            outcome.frameNumber = plans[index].frameNumber;
            outcome.written = message.fields[1] == "1";
            outcome.file = message.fields[2];
            outcome.reason = message.fields[3];
            outcome.previewReason = message.fields[4];
            outcome.bmpReason = message.fields[5];
            outcome.content = std::strtoull(message.fields[6].c_str(), nullptr, 10);
            for (size_t id = 0; id <= RANGE_COUNT; ++id) {
                const uint64_t pixels = std::strtoull(message.fields[7 + id].c_str(), nullptr, 10);
                (id < RANGE_COUNT ? outcome.ids.pixels[id] : outcome.ids.beyond) = pixels;
            }
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

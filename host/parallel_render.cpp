// Runs `kelvo render`'s input check and frames in worker processes, each with its own filter.
#include "host/parallel_render.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>

#include "host/interrupt.h"
#include "render/frame_file.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#ifdef _WIN32

ParallelResult RenderInWorkers(const ParallelRender&,
                               const std::function<void(const std::string&)>&,
                               const std::function<int()>&, ProgressDisplay&, RenderReport&) {
    return PARALLEL_UNAVAILABLE;
}

int ProcessorCount() { return 1; }

#else

namespace {

// A worker tells the host what happened in messages of a 32-bit length (native byte order)
// followed by that many bytes: a kind letter, then fields each ended by a NUL.
constexpr char MESSAGE_NEXT = 'N';       // the worker wants its next frame
constexpr char MESSAGE_BAD_INPUT = 'B';  // frame index, what is wrong with its input
constexpr char MESSAGE_CHECKED = 'C';    // the worker has checked every frame it was given
constexpr char MESSAGE_FRAME = 'R';      // frame index, "1" or "0" for written, file, reason
constexpr char MESSAGE_STOPPED = 'I';    // interrupted; the frame being rendered has no file

// The host answers on each worker's own pipe with 32-bit words: the index of the frame to
// check or render next, NO_MORE_FRAMES, or (after the check) RENDER. A closed pipe means stop.
// Frames go out one at a time to whichever worker asks, so a worker on a busier processor
// simply does fewer of them.
constexpr uint32_t NO_MORE_FRAMES = 0xFFFFFFFF;
constexpr uint32_t RENDER = 0xFFFFFFFE;

// How long the host waits for a message before it looks at the interrupt flag again.
constexpr int POLL_MILLISECONDS = 100;

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return 0;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 1;
}

void Send(int fd, char kind, const std::vector<std::string>& fields) {
    std::string payload(1, kind);
    for (const std::string& field : fields) {
        payload.append(field).push_back('\0');
    }
    const auto length = static_cast<uint32_t>(payload.size());
    char header[sizeof length];
    std::memcpy(header, &length, sizeof length);
    // A host that has gone away cannot be told anything; the worker ends either way.
    WriteAll(fd, header, sizeof header) && WriteAll(fd, payload.data(), payload.size());
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

// Frame `index` of the run as the only frame of a one-frame sequence.
class OneFrameSource final : public FrameSource {
public:
    OneFrameSource(FileFrameSource& source, size_t index) : source_(source), index_(index) {}
    int LoadFrame(size_t, DecodedFrame& frame, std::string& error) override {
        return source_.LoadFrame(index_, frame, error);
    }

private:
    FileFrameSource& source_;
    size_t index_;
};

// The host's next word for this worker; NO_MORE_FRAMES when the host has closed the pipe.
uint32_t ReadWord(int fromHost) {
    uint32_t word = 0;
    size_t got = 0;
    auto* bytes = reinterpret_cast<char*>(&word);
    while (got < sizeof word) {
        const ssize_t part = read(fromHost, bytes + got, sizeof word - got);
        if (part < 0 && errno == EINTR) {
            continue;
        }
        if (part <= 0) {
            return NO_MORE_FRAMES;
        }
        got += static_cast<size_t>(part);
    }
    return word;
}

// The worker's whole life: check the frames it is given, wait for the verdict, render the
// frames it is given, end.
[[noreturn]] void RunWorker(const ParallelRender& run, int toHost, int fromHost) {
    const std::vector<FramePlan>& plans = *run.plans;
    FileFrameSource source(*run.inputs, run.inputOptions,
                           run.cacheBytes / static_cast<size_t>(run.jobs));
    for (;;) {
        Send(toHost, MESSAGE_NEXT, {});
        const uint32_t index = ReadWord(fromHost);
        if (index >= plans.size()) {
            break;
        }
        std::string error;
        if (!source.CheckFrame(index, error)) {
            Send(toHost, MESSAGE_BAD_INPUT, {std::to_string(index), error});
        }
    }
    Send(toHost, MESSAGE_CHECKED, {});
    if (ReadWord(fromHost) != RENDER) {
        _exit(0);
    }
    // The host prints every outcome; the worker's own display goes nowhere.
    FILE* nowhere = std::fopen("/dev/null", "w");
    ProgressDisplay silent(PROGRESS_ERRORS_ONLY, nowhere != nullptr ? nowhere : stderr, 1);
    for (;;) {
        Send(toHost, MESSAGE_NEXT, {});
        const uint32_t index = ReadWord(fromHost);
        if (index >= plans.size()) {
            break;
        }
        OneFrameSource frame(source, index);
        RenderReport one;
        RenderFrames(*run.filter, {plans[index]}, frame, silent, one);
        if (one.interrupted || one.frames.empty()) {
            Send(toHost, MESSAGE_STOPPED, {});
            break;
        }
        const FrameOutcome& outcome = one.frames.front();
        Send(toHost, MESSAGE_FRAME,
             {std::to_string(index), outcome.written ? "1" : "0", outcome.file, outcome.reason});
    }
    _exit(0);
}

struct Worker {
    pid_t pid = -1;
    int fd = -1;       // the read end of the worker's message pipe; -1 once it is closed
    int orders = -1;   // the write end of the host's pipe to the worker; -1 once closed
    std::string buffer;
    bool checked = false;
    std::deque<size_t> frames;  // frames it checked and has not rendered, ascending
};

void CloseWorkerPipe(Worker& worker) {
    if (worker.fd >= 0) {
        close(worker.fd);
        worker.fd = -1;
    }
}

void Order(Worker& worker, uint32_t word) {
    if (worker.orders >= 0) {
        WriteAll(worker.orders, reinterpret_cast<const char*>(&word), sizeof word);
    }
}

void CloseOrders(Worker& worker) {
    if (worker.orders >= 0) {
        close(worker.orders);
        worker.orders = -1;
    }
}

// Waits for messages from the workers whose pipes are open and hands each to `handle`, until
// `done` answers true or every pipe has closed. SIGINT or SIGTERM seen here is passed on to
// the workers once: a SIGTERM sent to kelvo alone must stop them too.
void PumpMessages(std::vector<Worker>& workers, bool& forwarded,
                  const std::function<void(size_t, const Message&)>& handle,
                  const std::function<bool()>& done) {
    while (!done()) {
        std::vector<pollfd> polled;
        std::vector<size_t> owners;
        for (size_t k = 0; k < workers.size(); ++k) {
            if (workers[k].fd >= 0) {
                polled.push_back({workers[k].fd, POLLIN, 0});
                owners.push_back(k);
            }
        }
        if (polled.empty()) {
            return;
        }
        if (InterruptRequested() && !forwarded) {
            forwarded = true;
            for (const Worker& worker : workers) {
                kill(worker.pid, SIGTERM);
            }
        }
        const int ready = poll(polled.data(), polled.size(), POLL_MILLISECONDS);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        for (size_t p = 0; ready > 0 && p < polled.size(); ++p) {
            if (polled[p].revents == 0) {
                continue;
            }
            Worker& worker = workers[owners[p]];
            char chunk[4096];
            const ssize_t got = read(worker.fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                CloseWorkerPipe(worker);
                continue;
            }
            worker.buffer.append(chunk, static_cast<size_t>(got));
            Message message;
            while (TakeMessage(worker.buffer, message)) {
                handle(owners[p], message);
            }
        }
    }
}

void EndWorkers(std::vector<Worker>& workers) {
    for (Worker& worker : workers) {
        CloseOrders(worker);
    }
    for (Worker& worker : workers) {
        CloseWorkerPipe(worker);
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

// Forks the workers; false (with none left running) when the system refuses one.
bool StartWorkers(const ParallelRender& run, std::vector<Worker>& workers) {
    // Buffered output would otherwise be written once more by every worker.
    std::fflush(nullptr);
    for (int k = 0; k < run.jobs; ++k) {
        int messages[2];
        int orders[2];
        if (pipe(messages) != 0) {
            break;
        }
        if (pipe(orders) != 0) {
            close(messages[0]);
            close(messages[1]);
            break;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(messages[0]);
            close(orders[1]);
            for (Worker& earlier : workers) {
                close(earlier.fd);
                close(earlier.orders);
            }
            RunWorker(run, messages[1], orders[0]);
        }
        close(messages[1]);
        close(orders[0]);
        if (pid < 0) {
            close(messages[0]);
            close(orders[1]);
            break;
        }
        Worker worker;
        worker.pid = pid;
        worker.fd = messages[0];
        worker.orders = orders[1];
        workers.push_back(std::move(worker));
    }
    if (workers.size() != static_cast<size_t>(run.jobs)) {
        EndWorkers(workers);
        workers.clear();
        return false;
    }
    return true;
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

ParallelResult RenderInWorkers(const ParallelRender& run,
                               const std::function<void(const std::string&)>& reportBadInput,
                               const std::function<int()>& beforeRender,
                               ProgressDisplay& progress, RenderReport& report) {
    const std::vector<FramePlan>& plans = *run.plans;
    // A worker that has ended must not end the host when it is written to.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<Worker> workers;
    if (!StartWorkers(run, workers)) {
        return PARALLEL_UNAVAILABLE;
    }
    bool forwarded = false;

    // The check: frames go out in order to whichever worker asks; each worker keeps a list
    // of those it checked.
    std::map<size_t, std::string> badInputs;
    size_t checked = 0;
    size_t nextToCheck = 0;
    PumpMessages(
        workers, forwarded,
        [&](size_t worker, const Message& message) {
            if (message.kind == MESSAGE_NEXT) {
                const bool more = nextToCheck < plans.size() && !forwarded;
                if (more) {
                    workers[worker].frames.push_back(nextToCheck);
                }
                Order(workers[worker], more ? static_cast<uint32_t>(nextToCheck++) : NO_MORE_FRAMES);
            } else if (message.kind == MESSAGE_BAD_INPUT && message.fields.size() == 2) {
                badInputs[IndexField(message)] = message.fields[1];
            } else if (message.kind == MESSAGE_CHECKED && !workers[worker].checked) {
                workers[worker].checked = true;
                ++checked;
            }
        },
        [&] { return checked == workers.size(); });
    if (InterruptRequested() || forwarded) {
        EndWorkers(workers);
        return PARALLEL_INTERRUPTED;
    }
    if (checked != workers.size() || nextToCheck != plans.size()) {
        EndWorkers(workers);
        return PARALLEL_WORKER_LOST;
    }
    if (!badInputs.empty()) {
        size_t reported = 0;
        for (const auto& [index, message] : badInputs) {
            if (reported++ < run.maxReports) {
                reportBadInput(message);
            }
        }
        if (badInputs.size() > run.maxReports) {
            reportBadInput("... and " + std::to_string(badInputs.size() - run.maxReports) +
                           " more bad inputs");
        }
        EndWorkers(workers);
        return PARALLEL_BAD_INPUT;
    }
    if (!beforeRender()) {
        EndWorkers(workers);
        return PARALLEL_NOT_STARTED;
    }
    for (Worker& worker : workers) {
        Order(worker, RENDER);
    }

    // The render: frames go out on demand, outcomes arrive in any order and are shown in
    // frame order.
    std::vector<std::optional<FrameOutcome>> outcomes(plans.size());
    size_t nextShown = 0;
    const auto show = [&](size_t index) {
        const FrameOutcome& outcome = *outcomes[index];
        const FramePlan& plan = plans[index];
        if (outcome.written) {
            progress.StartFrame(index);
            progress.FrameWritten(index, plan.frameNumber, plan.label, outcome.file,
                                  plan.previewPath);
        } else {
            progress.Error(DescribeUnwrittenFrame(plan, outcome));
        }
    };
    PumpMessages(
        workers, forwarded,
        [&](size_t worker, const Message& message) {
            if (message.kind == MESSAGE_NEXT) {
                Order(workers[worker], forwarded || InterruptRequested()
                                           ? NO_MORE_FRAMES
                                           : NextFrameFor(workers, worker));
                return;
            }
            if (message.kind == MESSAGE_STOPPED) {
                report.interrupted = true;
                return;
            }
            const size_t index = IndexField(message);
            if (message.kind != MESSAGE_FRAME || message.fields.size() != 4 ||
                index >= plans.size()) {
                return;
            }
            FrameOutcome outcome;
            outcome.frameNumber = plans[index].frameNumber;
            outcome.written = message.fields[1] == "1";
            outcome.file = message.fields[2];
            outcome.reason = message.fields[3];
            outcomes[index] = outcome;
            while (nextShown < plans.size() && outcomes[nextShown]) {
                show(nextShown++);
            }
        },
        [] { return false; });
    EndWorkers(workers);
    // As in one process: a signal after the last frame was written interrupts nothing.
    const bool allRendered = std::all_of(outcomes.begin(), outcomes.end(),
                                         [](const auto& outcome) { return outcome.has_value(); });
    report.interrupted = !allRendered && (report.interrupted || forwarded || InterruptRequested());

    // Frames after a gap (an interrupted frame, or a worker that was lost) are shown now.
    for (size_t index = 0; index < plans.size(); ++index) {
        if (!outcomes[index] && !report.interrupted) {
            FrameOutcome lost;
            lost.frameNumber = plans[index].frameNumber;
            char name[FRAME_NAME_SIZE];
            if (BuildFrameFileName(run.settings->outputName, lost.frameNumber, name)) {
                lost.file = name;
            }
            lost.reason = "its worker process ended before it was rendered";
            outcomes[index] = lost;
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

int ProcessorCount() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count < 1 ? 1 : (count > 256 ? 256 : static_cast<int>(count));
}

#endif

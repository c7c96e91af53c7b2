// Starts kelvo's render workers as processes of kelvo itself in its worker mode and reaches
// them through a pair of pipes each, their standard input and output.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "kelvo/batch/render_worker.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/batch/worker_setup.h"
#include "kelvo/os/process_limits.h"
#include "kelvo/os/program_location.h"

extern char** environ;

namespace {

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

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

struct StartedWorker {
    pid_t pid = -1;
    int messages = -1;  // the read end of the worker's message pipe; -1 once closed
    int orders = -1;    // the write end of the host's pipe to the worker; -1 once closed
    bool killed = false;
};

// How long End waits for a worker it killed to be gone: one stuck in the kernel (a hung
// network file system) may not end at once, and is left to the system rather than waited for.
constexpr int KILLED_WAIT_MILLISECONDS = 1000;

// A pipe whose ends are kept from every program kelvo starts, unless handed on by name, and
// are not standard descriptors (one kelvo was started without), which a worker's own would
// replace. False, with none left open, when the system refuses.
bool OpenPipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    for (int k = 0; k < 2; ++k) {
        if (ends[k] <= STDERR_FILENO) {
            const int moved = fcntl(ends[k], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            close(ends[k]);
            ends[k] = moved;
        }
    }
    if (ends[0] < 0 || ends[1] < 0) {
        CloseFd(ends[0]);
        CloseFd(ends[1]);
        return false;
    }
    return true;
}

class SpawnedWorkers final : public WorkerProcesses {
public:
    explicit SpawnedWorkers(std::vector<uint8_t> setup) : setup_(std::move(setup)) {
        // The program itself, as its file is named, so that workers show as kelvo does; where
        // that name is gone (the file was replaced during the run), the running program.
        program_ = RunningProgramPath();
        if (program_.empty() || access(program_.c_str(), X_OK) != 0) {
            program_ = "/proc/self/exe";
        }
    }
    ~SpawnedWorkers() override { End(); }

    // Starts one worker, which is sent its setup by Begin; false when the system refuses a
    // pipe or the process.
    bool Add() {
        int messages[2] = {-1, -1};
        int orders[2] = {-1, -1};
        if (!OpenPipe(messages)) {
            return false;
        }
        if (!OpenPipe(orders)) {
            CloseFd(messages[0]);
            CloseFd(messages[1]);
            return false;
        }
        // Its ends of the pipes become its standard input and output, standard error is
        // kelvo's, and nothing else of kelvo's goes with it. It starts with SIGINT and SIGTERM
        // blocked, in kelvo's process group (Ctrl-C reaches it too), and unblocks them once
        // its handlers are in place.
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        sigset_t interrupts;
        sigemptyset(&interrupts);
        sigaddset(&interrupts, SIGINT);
        sigaddset(&interrupts, SIGTERM);
        std::string argument = WORKER_ARGUMENT;
        char* const argv[] = {program_.data(), argument.data(), nullptr};
        pid_t pid = -1;
        const bool started =
            posix_spawn_file_actions_adddup2(&actions, orders[0], STDIN_FILENO) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, messages[1], STDOUT_FILENO) == 0 &&
            posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0 &&
            posix_spawnattr_setsigmask(&attributes, &interrupts) == 0 &&
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK) == 0 &&
            posix_spawn(&pid, program_.c_str(), &actions, &attributes, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        CloseFd(messages[1]);
        CloseFd(orders[0]);
        if (!started) {
            CloseFd(messages[0]);
            CloseFd(orders[1]);
            return false;
        }
        workers_.push_back({pid, messages[0], orders[1], false});
        return true;
    }

    // Sends every worker started so far its setup. One that cannot take it has ended, and its
    // closed pipe tells the host so.
    void Begin() {
        for (const StartedWorker& worker : workers_) {
            WriteAll(worker.orders, reinterpret_cast<const char*>(setup_.data()), setup_.size());
        }
    }

    size_t Count() const override { return workers_.size(); }

    bool AddWorker() override {
        if (!Add()) {
            return false;
        }
        WriteAll(workers_.back().orders, reinterpret_cast<const char*>(setup_.data()),
                 setup_.size());
        return true;
    }

    void EndWorker(size_t worker) override {
        StartedWorker& ended = workers_[worker];
        if (ended.pid > 0 && !ended.killed) {
            kill(ended.pid, SIGKILL);
            ended.killed = true;
            // Gone before the host looks at what it left on disk (a rename it was making is
            // over), unless it is stuck in the kernel.
            int status = 0;
            for (int waited = 0; waited < KILLED_WAIT_MILLISECONDS; waited += 10) {
                const pid_t reaped = waitpid(ended.pid, &status, WNOHANG);
                if (reaped == ended.pid || (reaped < 0 && errno != EINTR)) {
                    ended.pid = -1;
                    break;
                }
                usleep(10000);
            }
        }
        CloseFd(ended.orders);
        CloseFd(ended.messages);
    }

    void Order(size_t worker, const uint32_t* words, size_t count) override {
        if (workers_[worker].orders >= 0) {
            WriteAll(workers_[worker].orders, reinterpret_cast<const char*>(words),
                     count * sizeof *words);
        }
    }

    int Receive(int milliseconds,
                const std::function<void(size_t, const char*, size_t)>& take) override {
        std::vector<pollfd> polled;
        std::vector<size_t> owners;
        for (size_t k = 0; k < workers_.size(); ++k) {
            if (workers_[k].messages >= 0) {
                polled.push_back({workers_[k].messages, POLLIN, 0});
                owners.push_back(k);
            }
        }
        if (polled.empty()) {
            return 0;
        }
        const int ready = poll(polled.data(), polled.size(), milliseconds);
        if (ready < 0 && errno != EINTR) {
            return 0;
        }
        for (size_t p = 0; ready > 0 && p < polled.size(); ++p) {
            if (polled[p].revents == 0) {
                continue;
            }
            StartedWorker& worker = workers_[owners[p]];
            char chunk[4096];
            const ssize_t got = read(worker.messages, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                CloseFd(worker.messages);
                take(owners[p], chunk, 0);
                continue;
            }
            take(owners[p], chunk, static_cast<size_t>(got));
        }
        return 1;
    }

    // SIGTERM, which the workers' handlers take as an interrupt (one that comes before they
    // are in place waits for them).
    void Interrupt() override {
        for (const StartedWorker& worker : workers_) {
            // Never -1, a worker already ended and reaped: kill would signal every process.
            if (worker.pid > 0 && !worker.killed) {
                kill(worker.pid, SIGTERM);
            }
        }
    }

    void End() override {
        for (StartedWorker& worker : workers_) {
            CloseFd(worker.orders);
        }
        for (StartedWorker& worker : workers_) {
            CloseFd(worker.messages);
            int status = 0;
            for (int waited = 0;
                 worker.pid > 0 && worker.killed && waitpid(worker.pid, &status, WNOHANG) == 0 &&
                 waited < KILLED_WAIT_MILLISECONDS;
                 waited += 10) {
                usleep(10000);
            }
            while (worker.pid > 0 && !worker.killed && waitpid(worker.pid, &status, 0) < 0 &&
                   errno == EINTR) {
            }
            worker.pid = -1;
        }
    }

private:
    std::vector<uint8_t> setup_;  // what every worker is sent first, framed
    std::string program_;         // the program each worker runs
    std::vector<StartedWorker> workers_;
};

}  // namespace

std::unique_ptr<WorkerProcesses> StartWorkers(const ParallelRender& run) {
    // A worker that has ended must not end the host when it is written to.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<uint8_t> setup = FrameWorkerSetup(WorkerSetupOf(run));
    if (setup.empty()) {
        return nullptr;
    }
    auto workers = std::make_unique<SpawnedWorkers>(std::move(setup));
    for (int k = 0; k < run.jobs; ++k) {
        if (!workers->Add()) {
            // Ended unsent, rather than told there is no setup: they would say so.
            for (size_t started = 0; started < workers->Count(); ++started) {
                workers->EndWorker(started);
            }
            return nullptr;
        }
    }
    workers->Begin();
    return workers;
}

int ProcessorCount() {
    return UsableProcessorCount();
}

// Forks kelvo's render workers and reaches them through a pair of pipes each.
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "kelvo/batch/worker_processes.h"
#include "kelvo/os/process_limits.h"

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

class PipeLink final : public HostLink {
public:
    PipeLink(int toHost, int fromHost) : toHost_(toHost), fromHost_(fromHost) {}
    int Write(const char* data, size_t size) override { return WriteAll(toHost_, data, size); }
    int Read(char* data, size_t size) override {
        while (size > 0) {
            const ssize_t part = read(fromHost_, data, size);
            if (part < 0 && errno == EINTR) {
                continue;
            }
            if (part <= 0) {
                return 0;
            }
            data += part;
            size -= static_cast<size_t>(part);
        }
        return 1;
    }

private:
    int toHost_;
    int fromHost_;
};

struct ForkedWorker {
    pid_t pid = -1;
    int messages = -1;  // the read end of the worker's message pipe; -1 once closed
    int orders = -1;    // the write end of the host's pipe to the worker; -1 once closed
    bool killed = false;
};

// How long End waits for a worker it killed to be gone: one stuck in the kernel (a hung
// network file system) may not end at once, and is left to the system rather than waited for.
constexpr int KILLED_WAIT_MILLISECONDS = 1000;

class ForkedWorkers final : public WorkerProcesses {
public:
    explicit ForkedWorkers(const ParallelRender& run) : run_(run) {}
    ~ForkedWorkers() override { End(); }

    // Forks one worker; false when the system refuses a pipe or the process.
    bool Add() {
        // Buffered output would otherwise be written once more by the worker.
        std::fflush(nullptr);
        int messages[2];
        int orders[2];
        if (pipe(messages) != 0) {
            return false;
        }
        if (pipe(orders) != 0) {
            close(messages[0]);
            close(messages[1]);
            return false;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(messages[0]);
            close(orders[1]);
            for (ForkedWorker& earlier : workers_) {
                CloseFd(earlier.messages);
                CloseFd(earlier.orders);
            }
            PipeLink link(messages[1], orders[0]);
            RunWorker(run_, link);
            // Nothing of the host's (buffers, destructors, exit handlers) runs twice.
            _exit(0);
        }
        close(messages[1]);
        close(orders[0]);
        if (pid < 0) {
            close(messages[0]);
            close(orders[1]);
            return false;
        }
        workers_.push_back({pid, messages[0], orders[1], false});
        return true;
    }

    size_t Count() const override { return workers_.size(); }

    bool AddWorker() override { return Add(); }

    void EndWorker(size_t worker) override {
        ForkedWorker& ended = workers_[worker];
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

    void Order(size_t worker, uint32_t word) override {
        if (workers_[worker].orders >= 0) {
            WriteAll(workers_[worker].orders, reinterpret_cast<const char*>(&word), sizeof word);
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
            ForkedWorker& worker = workers_[owners[p]];
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

    // SIGTERM, which the workers' handlers (installed before the fork) take as an interrupt.
    void Interrupt() override {
        for (const ForkedWorker& worker : workers_) {
            // Never -1, a worker already ended and reaped: kill would signal every process.
            if (worker.pid > 0 && !worker.killed) {
                kill(worker.pid, SIGTERM);
            }
        }
    }

    void End() override {
        for (ForkedWorker& worker : workers_) {
            CloseFd(worker.orders);
        }
        for (ForkedWorker& worker : workers_) {
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
    const ParallelRender& run_;
    std::vector<ForkedWorker> workers_;
};

}  // namespace

std::unique_ptr<WorkerProcesses> StartWorkers(const ParallelRender& run) {
    // A worker that has ended must not end the host when it is written to.
    std::signal(SIGPIPE, SIG_IGN);
    auto workers = std::make_unique<ForkedWorkers>(run);
    for (int k = 0; k < run.jobs; ++k) {
        if (!workers->Add()) {
            return nullptr;
        }
    }
    return workers;
}

int ProcessorCount() {
    return UsableProcessorCount();
}

// How kelvo, started by `kelvo render -j N` as a worker, takes its pipes from the parent: its
// standard input and output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "kelvo/batch/render_worker.h"
#include "kelvo/os/interrupt.h"

namespace {

bool IsPipe(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

class PipeLink final : public WorkerLink {
public:
    PipeLink(int toHost, int fromHost) : toHost_(toHost), fromHost_(fromHost) {}
    ~PipeLink() override {
        Flush();
        close(toHost_);
        close(fromHost_);
    }
    PipeLink(const PipeLink&) = delete;
    PipeLink& operator=(const PipeLink&) = delete;
    // Held until the worker waits for the host or flushes (every message is followed by one,
    // or by the end), so that the messages of a frame go out in one write.
    int Write(const char* data, size_t size) override {
        if (gone_) {
            return 0;
        }
        pending_.append(data, size);
        return 1;
    }
    int Read(char* data, size_t size) override {
        if (!Flush()) {
            return 0;
        }
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

    // Writes what is held; 0, from then on, when the host has gone away.
    int Flush() override {
        const char* data = pending_.data();
        size_t size = pending_.size();
        while (size > 0 && !gone_) {
            const ssize_t written = write(toHost_, data, size);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            gone_ = written <= 0;
            if (!gone_) {
                data += written;
                size -= static_cast<size_t>(written);
            }
        }
        pending_.clear();
        return gone_ ? 0 : 1;
    }

private:
    std::string pending_;
    bool gone_ = false;
    int toHost_;
    int fromHost_;
};

// This process's own copy of standard descriptor `fd`, kept from programs it might start; the
// standard stream then reads or writes the null device, so that nothing printed by accident
// can reach the pipe between the processes. -1 when the system refuses.
int TakeStandardDescriptor(int fd, FILE* stream, const char* mode) {
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own >= 0 && std::freopen("/dev/null", mode, stream) == nullptr) {
        close(own);
        return -1;
    }
    return own;
}

}  // namespace

std::unique_ptr<WorkerLink> TakeWorkerLink(const std::vector<std::string>& args) {
    if (!args.empty() || !IsPipe(STDIN_FILENO) || !IsPipe(STDOUT_FILENO)) {
        return nullptr;
    }
    const int fromHost = TakeStandardDescriptor(STDIN_FILENO, stdin, "r");
    const int toHost = TakeStandardDescriptor(STDOUT_FILENO, stdout, "w");
    if (fromHost < 0 || toHost < 0) {
        for (const int taken : {fromHost, toHost}) {
            if (taken >= 0) {
                close(taken);
            }
        }
        return nullptr;
    }
    // A host that has gone away makes writes fail rather than end this process.
    std::signal(SIGPIPE, SIG_IGN);
    // The host started this process with SIGINT and SIGTERM blocked, so that one that came
    // before the handlers were in place waits for them rather than ending it.
    InstallInterruptHandlers();
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &interrupts, nullptr);
    return std::make_unique<PipeLink>(toHost, fromHost);
}

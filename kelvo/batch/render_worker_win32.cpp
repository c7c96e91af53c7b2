// How kelvo.exe, started by `kelvo render -j N` as a worker, takes its pipes from the parent:
// its standard input and output, and the parent's stop event named on its command line.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "kelvo/batch/render_worker.h"
#include "kelvo/os/interrupt.h"

namespace {

int ReadAll(HANDLE pipe, void* data, size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const DWORD part = size > (DWORD{1} << 20) ? DWORD{1} << 20 : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(pipe, bytes, part, &got, nullptr) || got == 0) {
            return 0;
        }
        bytes += got;
        size -= got;
    }
    return 1;
}

class PipeLink final : public WorkerLink {
public:
    PipeLink(HANDLE toHost, HANDLE fromHost) : toHost_(toHost), fromHost_(fromHost) {}
    ~PipeLink() override {
        CloseHandle(toHost_);
        CloseHandle(fromHost_);
    }
    PipeLink(const PipeLink&) = delete;
    PipeLink& operator=(const PipeLink&) = delete;
    int Write(const char* data, size_t size) override {
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(toHost_, data, static_cast<DWORD>(size), &written, nullptr) ||
                written == 0) {
                return 0;
            }
            data += written;
            size -= written;
        }
        return 1;
    }
    int Read(char* data, size_t size) override { return ReadAll(fromHost_, data, size); }

private:
    HANDLE toHost_;
    HANDLE fromHost_;
};

// The stop event's handle as the parent wrote it on the command line; null unless it names
// an object this process holds.
HANDLE ParseStopEvent(const std::string& text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    DWORD flags = 0;
    const auto handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || value == 0 ||
        !GetHandleInformation(handle, &flags)) {
        return nullptr;
    }
    return handle;
}

// This process's own copy of a standard handle; the standard stream then reads or writes
// NUL, so that nothing printed by accident can reach the pipe between the processes.
HANDLE TakeStandardHandle(DWORD which, FILE* stream, const char* mode) {
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), &own, 0,
                         FALSE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    if (std::freopen("NUL", mode, stream) == nullptr) {
        CloseHandle(own);
        return nullptr;
    }
    return own;
}

}  // namespace

std::unique_ptr<WorkerLink> TakeWorkerLink(const std::vector<std::string>& args) {
    const HANDLE stop = args.size() == 1 ? ParseStopEvent(args[0]) : nullptr;
    if (stop == nullptr || GetFileType(GetStdHandle(STD_INPUT_HANDLE)) != FILE_TYPE_PIPE ||
        GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_PIPE) {
        return nullptr;
    }
    const HANDLE fromHost = TakeStandardHandle(STD_INPUT_HANDLE, stdin, "rb");
    const HANDLE toHost = TakeStandardHandle(STD_OUTPUT_HANDLE, stdout, "wb");
    if (fromHost == nullptr || toHost == nullptr) {
        for (const HANDLE taken : {fromHost, toHost}) {
            if (taken != nullptr) {
                CloseHandle(taken);
            }
        }
        return nullptr;
    }
    // A worker that fails ends at once, without a dialog; the parent reports it as lost.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // Ctrl-C on the shared console reaches this process directly; the parent's event covers
    // every other way the parent was interrupted.
    InstallInterruptHandlers();
    std::thread([stop] {
        if (WaitForSingleObject(stop, INFINITE) == WAIT_OBJECT_0) {
            RequestInterrupt();
        }
    }).detach();
    return std::make_unique<PipeLink>(toHost, fromHost);
}

// kelvo.exe started by `kelvo render -j N` as one of its workers: takes its setup and pipes
// from the parent, loads the plug-in module itself and renders what the parent hands it.
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "host/filter_driver.h"
#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/render_worker.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/batch/worker_setup.h"
#include "kelvo/os/interrupt.h"

namespace {

int Refuse() {
    std::fprintf(stderr,
                 "kelvo: %s is for kelvo's own use: 'kelvo render -j N' starts it, with pipes "
                 "for its input and output\n",
                 WORKER_ARGUMENT);
    return EXIT_BAD_INPUT;
}

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

class PipeLink final : public HostLink {
public:
    PipeLink(HANDLE toHost, HANDLE fromHost) : toHost_(toHost), fromHost_(fromHost) {}
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

// kelvo.exe as a worker: its setup and pipes from the parent, RunWorker over them.
int RunRenderWorker(const std::vector<std::string>& args) {
    const HANDLE stop = args.size() == 1 ? ParseStopEvent(args[0]) : nullptr;
    if (stop == nullptr || GetFileType(GetStdHandle(STD_INPUT_HANDLE)) != FILE_TYPE_PIPE ||
        GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_PIPE) {
        return Refuse();
    }
    const HANDLE fromHost = TakeStandardHandle(STD_INPUT_HANDLE, stdin, "rb");
    const HANDLE toHost = TakeStandardHandle(STD_OUTPUT_HANDLE, stdout, "wb");
    WorkerSetup setup;
    if (fromHost == nullptr || toHost == nullptr ||
        !ReadFramedWorkerSetup(
            [fromHost](uint8_t* data, size_t size) { return ReadAll(fromHost, data, size); },
            setup)) {
        return Refuse();
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

    PluginFilter plugin;
    std::string error;
    if (!plugin.Open(setup.pluginPath, error)) {
        return Fail(EXIT_NOT_WRITTEN, "render worker: " + error);
    }
    if (!LoadFilterBlock(plugin.Filter(), setup.settingsBlock.data(), setup.settingsBlock.size())) {
        return Fail(EXIT_NOT_WRITTEN, "render worker: the filter refused the settings block");
    }
    PaletteRenderSettings settings;
    std::memcpy(&settings, setup.settingsBlock.data(), sizeof settings);
    ParallelRender run;
    run.settings = &settings;
    run.pluginPath = setup.pluginPath;
    run.plans = &setup.plans;
    run.inputs = &setup.inputs;
    run.inputOptions = &setup.inputOptions;
    run.outputs = setup.outputs;
    run.cacheBytes = setup.cacheBytes > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(setup.cacheBytes);
    run.jobs = setup.jobs > INT_MAX ? INT_MAX : static_cast<int>(setup.jobs);
    PipeLink link(toHost, fromHost);
    RunWorker(run, link);
    return EXIT_DONE;
}

}  // namespace

bool RunAsRenderWorker(const std::vector<std::string>& args, int& exitCode) {
    if (args.empty() || args[0] != WORKER_ARGUMENT) {
        return false;
    }
    exitCode = RunRenderWorker(std::vector<std::string>(args.begin() + 1, args.end()));
    return true;
}

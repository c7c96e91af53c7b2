// Starts kelvo's render workers as processes of kelvo.exe itself and reaches them through a
// pair of anonymous pipes each, their standard input and output.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "host/filter_driver.h"
#include "kelvo/batch/render_worker.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/batch/worker_setup.h"
#include "kelvo/os/process_limits.h"

namespace {

// Room in each pipe: a worker's messages and the host's orders are far smaller.
constexpr DWORD PIPE_BYTES = 64 * 1024;
// How long End waits for workers, which were told to end, before it ends them by force. They
// end as soon as they look at their orders, or at their next abort poll when interrupted.
constexpr DWORD END_WAIT_MILLISECONDS = 30000;

class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() { Close(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    HANDLE* Receive() {
        Close();
        return &handle_;
    }
    void Close() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

int WriteAll(HANDLE pipe, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD part = size > PIPE_BYTES ? PIPE_BYTES : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(pipe, bytes, part, &written, nullptr) || written == 0) {
            return 0;
        }
        bytes += written;
        size -= written;
    }
    return 1;
}

// The path of the running kelvo.exe, however long.
std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return L"";
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The list of handles a worker inherits; no other handle of kelvo's goes with it.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            return;
        }
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list);
            return;
        }
        list_ = list;
    }
    ~InheritedHandles() {
        if (list_ != nullptr) {
            DeleteProcThreadAttributeList(list_);
        }
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Makes kelvo's handles that every worker inherits inheritable while it lives.
class SharedForStart {
public:
    SharedForStart(HANDLE stop, HANDLE errors) : stop_(stop), errors_(errors) {
        SetInheritance(HANDLE_FLAG_INHERIT);
    }
    ~SharedForStart() { SetInheritance(0); }
    SharedForStart(const SharedForStart&) = delete;
    SharedForStart& operator=(const SharedForStart&) = delete;

private:
    void SetInheritance(DWORD flag) {
        SetHandleInformation(stop_, HANDLE_FLAG_INHERIT, flag);
        if (errors_ != nullptr) {
            SetHandleInformation(errors_, HANDLE_FLAG_INHERIT, flag);
        }
    }

    HANDLE stop_;
    HANDLE errors_;
};

struct StartedWorker {
    OwnedHandle process;
    OwnedHandle orders;    // the write end of the worker's standard input
    OwnedHandle messages;  // the read end of the worker's standard output
    std::thread reader;    // moves what arrives on `messages` to the host's queue
    bool ended = false;    // ended by the host: what still arrives from it is dropped
};

// What a reader thread hands over: bytes from one worker, or (empty) the end of its pipe.
struct Arrival {
    size_t worker = 0;
    std::string bytes;
};

class SpawnedWorkers final : public WorkerProcesses {
public:
    SpawnedWorkers() = default;
    ~SpawnedWorkers() override { End(); }

    // The event every worker watches, and the standard error they share with kelvo; both
    // are inheritable only while a worker is being started.
    bool Prepare() {
        *stop_.Receive() = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
        if (errors != nullptr && errors != INVALID_HANDLE_VALUE &&
            !DuplicateHandle(GetCurrentProcess(), errors, GetCurrentProcess(), errors_.Receive(), 0,
                             FALSE, DUPLICATE_SAME_ACCESS)) {
            errors_.Close();
        }
        program_ = ProgramPath();
        return stop_.Get() != nullptr && !program_.empty();
    }

    // Starts one worker; false when the system refuses a pipe or the process.
    bool Add() {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        OwnedHandle ordersRead;
        OwnedHandle messagesWrite;
        StartedWorker worker;
        if (!CreatePipe(ordersRead.Receive(), worker.orders.Receive(), &inheritable, PIPE_BYTES) ||
            !CreatePipe(worker.messages.Receive(), messagesWrite.Receive(), &inheritable,
                        PIPE_BYTES) ||
            !SetHandleInformation(worker.orders.Get(), HANDLE_FLAG_INHERIT, 0) ||
            !SetHandleInformation(worker.messages.Get(), HANDLE_FLAG_INHERIT, 0)) {
            return false;
        }
        std::vector<HANDLE> handles = {ordersRead.Get(), messagesWrite.Get(), stop_.Get()};
        if (errors_.Get() != nullptr) {
            handles.push_back(errors_.Get());
        }
        const InheritedHandles inherited(handles);
        if (inherited.List() == nullptr) {
            return false;
        }
        // The list names what this worker inherits; each handle in it must be inheritable.
        const SharedForStart shared(stop_.Get(), errors_.Get());
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = ordersRead.Get();
        startup.StartupInfo.hStdOutput = messagesWrite.Get();
        startup.StartupInfo.hStdError = errors_.Get();
        startup.lpAttributeList = inherited.List();
        // The stop event's handle has the same value in the worker, which inherits it.
        std::wstring commandLine = L"\"" + program_ + L"\" ";
        for (const char* c = WORKER_ARGUMENT; *c != '\0'; ++c) {
            commandLine.push_back(static_cast<wchar_t>(*c));
        }
        commandLine += L" " + std::to_wstring(reinterpret_cast<uintptr_t>(stop_.Get()));
        // On kelvo's console a worker gets Ctrl-C and Ctrl-Break as kelvo does; where kelvo has
        // none, it gets none either (rather than a console window), and kelvo's event stops it.
        const DWORD flags =
            EXTENDED_STARTUPINFO_PRESENT | (GetConsoleCP() == 0 ? DETACHED_PROCESS : 0);
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(program_.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                            nullptr, nullptr, &startup.StartupInfo, &started)) {
            return false;
        }
        CloseHandle(started.hThread);
        *worker.process.Receive() = started.hProcess;
        workers_.push_back(std::move(worker));
        return true;
    }

    // Starts the reader threads and sends every worker `setup`, framed as FrameWorkerSetup
    // frames it; workers added later get the same.
    void Begin(std::vector<uint8_t> setup) {
        setup_ = std::move(setup);
        for (size_t k = 0; k < workers_.size(); ++k) {
            StartReading(k);
        }
        // A worker that cannot take its setup has ended; its closed pipe tells the host so.
        for (StartedWorker& worker : workers_) {
            WriteAll(worker.orders.Get(), setup_.data(), setup_.size());
        }
    }

    // Ends the workers started so far, which have not been sent their setup.
    void Abandon() {
        for (StartedWorker& worker : workers_) {
            TerminateProcess(worker.process.Get(), 1);
        }
    }

    size_t Count() const override { return workers_.size(); }

    bool AddWorker() override {
        if (!Add()) {
            return false;
        }
        StartReading(workers_.size() - 1);
        WriteAll(workers_.back().orders.Get(), setup_.data(), setup_.size());
        return true;
    }

    void EndWorker(size_t worker) override {
        StartedWorker& ended = workers_[worker];
        ended.ended = true;
        TerminateProcess(ended.process.Get(), 1);
        // Gone before the host looks at what it left on disk (a rename it was making is over).
        WaitForSingleObject(ended.process.Get(), INFINITE);
        ended.orders.Close();
    }

    void Order(size_t worker, const uint32_t* words, size_t count) override {
        if (workers_[worker].orders.Get() != nullptr &&
            !WriteAll(workers_[worker].orders.Get(), words, count * sizeof *words)) {
            workers_[worker].orders.Close();
        }
    }

    int Receive(int milliseconds,
                const std::function<void(size_t, const char*, size_t)>& take) override {
        std::deque<Arrival> arrived;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (open_ == 0 && arrivals_.empty()) {
                return 0;
            }
            arrivedOrClosed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                      [this] { return !arrivals_.empty(); });
            arrived.swap(arrivals_);
        }
        for (const Arrival& arrival : arrived) {
            if (!workers_[arrival.worker].ended) {
                take(arrival.worker, arrival.bytes.data(), arrival.bytes.size());
            }
        }
        return 1;
    }

    void Interrupt() override { SetEvent(stop_.Get()); }

    void End() override {
        for (StartedWorker& worker : workers_) {
            worker.orders.Close();
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(END_WAIT_MILLISECONDS);
        for (StartedWorker& worker : workers_) {
            if (worker.process.Get() == nullptr) {
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const DWORD wait = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
            // The last resort for a worker that does not end: its frame gets no file.
            if (WaitForSingleObject(worker.process.Get(), wait) != WAIT_OBJECT_0) {
                TerminateProcess(worker.process.Get(), 1);
                WaitForSingleObject(worker.process.Get(), INFINITE);
            }
            worker.process.Close();
        }
        // With every worker gone their pipes have closed, and the readers have seen it.
        for (StartedWorker& worker : workers_) {
            if (worker.reader.joinable()) {
                worker.reader.join();
            }
            worker.messages.Close();
        }
    }

private:
    // The thread is handed the pipe itself: workers_ may grow while it runs.
    void StartReading(size_t worker) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++open_;
        }
        const HANDLE pipe = workers_[worker].messages.Get();
        workers_[worker].reader = std::thread([this, worker, pipe] { ReadMessages(worker, pipe); });
    }

    void ReadMessages(size_t worker, HANDLE pipe) {
        char chunk[4096];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(pipe, chunk, sizeof chunk, &got, nullptr)) {
                break;
            }
            if (got > 0) {
                const std::lock_guard<std::mutex> lock(mutex_);
                arrivals_.push_back({worker, std::string(chunk, got)});
                arrivedOrClosed_.notify_one();
            }
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        arrivals_.push_back({worker, std::string()});
        --open_;
        arrivedOrClosed_.notify_one();
    }

    std::wstring program_;
    std::vector<uint8_t> setup_;  // what every worker is sent first
    OwnedHandle stop_;            // set: every worker stops at its next abort poll
    OwnedHandle errors_;          // kelvo's standard error, for the workers to inherit
    std::vector<StartedWorker> workers_;
    std::mutex mutex_;
    std::condition_variable arrivedOrClosed_;
    std::deque<Arrival> arrivals_;  // guarded by mutex_
    size_t open_ = 0;               // pipes not yet closed; guarded by mutex_
};

}  // namespace

std::unique_ptr<WorkerProcesses> StartWorkers(const ParallelRender& run) {
    std::vector<uint8_t> bytes = FrameWorkerSetup(WorkerSetupOf(run));
    if (bytes.empty()) {
        return nullptr;
    }
    auto workers = std::make_unique<SpawnedWorkers>();
    if (!workers->Prepare()) {
        return nullptr;
    }
    for (int k = 0; k < run.jobs; ++k) {
        if (!workers->Add()) {
            workers->Abandon();
            return nullptr;
        }
    }
    workers->Begin(std::move(bytes));
    return workers;
}

int ProcessorCount() {
    return UsableProcessorCount();
}

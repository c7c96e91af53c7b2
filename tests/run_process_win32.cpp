// Runs a program for end-to-end tests on Windows: to completion with its output captured, or
// on a console of its own so it can be interrupted mid-way.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

#include "tests/run_process.h"

namespace {

// One argument as the C runtime splits command lines: quoted when it holds a space, tab or
// quote, with backslashes doubled where they come before a quote.
std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string CommandLineOf(const std::vector<std::string>& argv) {
    std::string commandLine;
    for (const std::string& arg : argv) {
        if (!commandLine.empty()) {
            commandLine += ' ';
        }
        commandLine += QuoteArgument(arg);
    }
    return commandLine;
}

// How long a test waits for a program that shows no sign of ending before it gives up on it.
constexpr DWORD GIVE_UP_MILLISECONDS = 120000;

// A temporary file the child can write through an inherited handle; deleted once closed.
// `reader`, when given, is a handle of its own for reading the file while the child writes.
HANDLE CreateCaptureFile(HANDLE* reader = nullptr) {
    char directory[MAX_PATH];
    char name[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 ||
        GetTempFileNameA(directory, "kvo", 0, name) == 0) {
        throw std::runtime_error("no temporary file for a child's output");
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, SHARE_ALL, &inherit, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create a file for a child's output");
    }
    if (reader != nullptr) {
        *reader = CreateFileA(name, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, 0, nullptr);
        if (*reader == INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            throw std::runtime_error("cannot read the file of a child's output");
        }
    }
    return file;
}

std::string ReadCapture(HANDLE file) {
    std::string text;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);
    return text;
}

std::string NameOf(const std::string& setting) {
    return setting.substr(0, setting.find('=', 1));
}

// This program's environment with `additions` set, as CreateProcess takes it: "NAME=value"
// strings each ended by a NUL, and one more NUL.
std::string EnvironmentBlock(const std::vector<std::string>& additions) {
    std::string block;
    char* current = GetEnvironmentStringsA();
    for (const char* setting = current; setting != nullptr && *setting != '\0';
         setting += std::strlen(setting) + 1) {
        bool replaced = false;
        for (const std::string& addition : additions) {
            replaced = replaced || _stricmp(NameOf(setting).c_str(), NameOf(addition).c_str()) == 0;
        }
        if (!replaced) {
            block.append(setting).push_back('\0');
        }
    }
    FreeEnvironmentStringsA(current);
    for (const std::string& addition : additions) {
        block.append(addition).push_back('\0');
    }
    block.push_back('\0');
    return block;
}

// Ctrl-C sent to a program's console reaches this process too while it is attached there,
// possibly late; it is swallowed here. (Ignoring Ctrl-C instead would be inherited by every
// program started afterwards.)
BOOL WINAPI SwallowControl(DWORD event) {
    return event == CTRL_C_EVENT ? TRUE : FALSE;
}

}  // namespace

// The peak memory is the program's own peak working set, without the worker processes it
// starts (Windows keeps no sum over a process's children).
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    std::string commandLine = CommandLineOf(argv);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateCaptureFile();
    HANDLE err = CreateCaptureFile();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string block = EnvironmentBlock(environment);
    const bool started = CreateProcessA(argv[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, environment.empty() ? nullptr : block.data(), nullptr,
                                        &startup, &process) != 0;
    CloseHandle(input);
    ProcessResult result;
    if (started) {
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &code)) {
            result.exitCode = static_cast<int>(code);
        } else {
            TerminateProcess(process.hProcess, 255);
        }
        PROCESS_MEMORY_COUNTERS memory{};
        if (K32GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory)) {
            result.peakMemoryKib = static_cast<long>(memory.PeakWorkingSetSize / 1024);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    result.out = ReadCapture(out);
    result.err = ReadCapture(err);
    return result;
}

std::string ProgramBesideThisOne(const std::string& name) {
    char program[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string path(program, length);
    path.resize(path.find_last_of("\\/") + 1);
    return path + name;
}

TerminalProcess::TerminalProcess(const std::vector<std::string>& argv) {
    std::string commandLine = CommandLineOf(argv);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateCaptureFile(&outputFile_);
    // The program starts with Ctrl-C in force, as on an ordinary console, even when this
    // process was started with it ignored.
    SetConsoleCtrlHandler(SwallowControl, TRUE);
    SetConsoleCtrlHandler(nullptr, FALSE);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    // A console of its own, which the program and every process it starts share, as on a
    // terminal; the test program's console, if it has one, is left alone.
    const bool started =
        CreateProcessA(argv[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process_) != 0;
    CloseHandle(input);
    CloseHandle(output);
    if (!started) {
        CloseHandle(outputFile_);
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

TerminalProcess::~TerminalProcess() {
    if (exitCode_ < 0) {
        TerminateProcess(process_.hProcess, 255);
        WaitForSingleObject(process_.hProcess, GIVE_UP_MILLISECONDS);
    }
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    CloseHandle(outputFile_);
}

bool TerminalProcess::ReadSome() {
    char chunk[4096];
    DWORD got = 0;
    if (ReadFile(outputFile_, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        output_.append(chunk, got);
        return true;
    }
    return false;
}

bool TerminalProcess::WaitFor(const std::string& text) {
    const ULONGLONG giveUp = GetTickCount64() + GIVE_UP_MILLISECONDS;
    while (output_.find(text) == std::string::npos) {
        if (ReadSome()) {
            continue;
        }
        // Nothing new: once the program has ended, what it wrote has all been read.
        if (WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) {
            while (ReadSome()) {
            }
            return output_.find(text) != std::string::npos;
        }
        if (GetTickCount64() > giveUp) {
            return false;
        }
    }
    return true;
}

void TerminalProcess::Signal(int signal) {
    if (signal != SIGINT) {
        throw std::runtime_error("only SIGINT reaches a program on Windows");
    }
    // Ctrl-C goes to every process on a console: this one joins the program's console for the
    // moment it takes.
    FreeConsole();
    if (!AttachConsole(process_.dwProcessId) || !GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        FreeConsole();
        throw std::runtime_error("cannot send Ctrl-C to the program's console");
    }
    FreeConsole();
}

void TerminalProcess::EndChildProcesses() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot list the processes");
    }
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        // The console's own host process may be a child too; it is not the program's.
        if (entry.th32ParentProcessID != process_.dwProcessId ||
            _stricmp(entry.szExeFile, "conhost.exe") == 0) {
            continue;
        }
        HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (child != nullptr) {
            TerminateProcess(child, 9);
            WaitForSingleObject(child, GIVE_UP_MILLISECONDS);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
}

int TerminalProcess::Wait() {
    DWORD code = 0;
    if (WaitForSingleObject(process_.hProcess, GIVE_UP_MILLISECONDS) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.hProcess, &code)) {
        TerminateProcess(process_.hProcess, 255);
        WaitForSingleObject(process_.hProcess, GIVE_UP_MILLISECONDS);
        code = 255;
    }
    while (ReadSome()) {
    }
    exitCode_ = static_cast<int>(code);
    return exitCode_;
}

// Runs a program to completion for end-to-end tests on Windows, its output captured.
#include <windows.h>

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

// A temporary file the child can write through an inherited handle; deleted once closed.
HANDLE CreateCaptureFile() {
    char directory[MAX_PATH];
    char name[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 ||
        GetTempFileNameA(directory, "kvo", 0, name) == 0) {
        throw std::runtime_error("no temporary file for a child's output");
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(
        name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create a file for a child's output");
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

}  // namespace

// The peak memory is not measured here.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    std::string commandLine;
    for (const std::string& arg : argv) {
        if (!commandLine.empty()) {
            commandLine += ' ';
        }
        commandLine += QuoteArgument(arg);
    }
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

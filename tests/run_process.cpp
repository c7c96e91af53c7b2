// Runs a program for end-to-end tests: to completion with its output captured, or on a
// pseudo-terminal so it shows its live progress and can be interrupted mid-way.
#include "tests/run_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::vector<char*> ArgvOf(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const std::string& arg : argv) {
        pointers.push_back(const_cast<char*>(arg.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

std::string ReadAll(FILE* file) {
    std::string text;
    std::rewind(file);
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    std::fclose(file);
    return text;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::vector<char*> args = ArgvOf(argv);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        for (const std::string& setting : environment) {
            putenv(const_cast<char*>(setting.c_str()));
        }
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    result.exitCode = ExitCodeOf(status);
    result.peakMemoryKib = usage.ru_maxrss;
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    return result;
}

TerminalProcess::TerminalProcess(const std::vector<std::string>& argv) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    const std::string slaveName = ptsname(master_);
    std::vector<char*> args = ArgvOf(argv);
    pid_ = fork();
    if (pid_ == 0) {
        setsid();
        const int slave = open(slaveName.c_str(), O_RDWR);
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
}

TerminalProcess::~TerminalProcess() {
    if (exitCode_ < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

bool TerminalProcess::ReadSome() {
    char chunk[4096];
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got > 0) {
        output_.append(chunk, static_cast<size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR;
}

bool TerminalProcess::WaitFor(const std::string& text) {
    while (output_.find(text) == std::string::npos) {
        if (!ReadSome()) {
            return false;
        }
    }
    return true;
}

void TerminalProcess::Signal(int signal) {
    kill(pid_, signal);
}

void TerminalProcess::EndChildProcesses() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        // /proc/PID/stat: the id, the program's name in parentheses (which may hold spaces and
        // parentheses itself), the state, the parent's id.
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t nameEnd = line.rfind(')');
        if (nameEnd == std::string::npos) {
            continue;
        }
        std::istringstream fields(line.substr(nameEnd + 1));
        std::string state;
        pid_t parent = 0;
        if (fields >> state >> parent && parent == pid_) {
            kill(static_cast<pid_t>(std::stol(line)), SIGKILL);
        }
    }
}

int TerminalProcess::Wait() {
    // Once the program has ended, reading its terminal fails (EIO) after the last bytes.
    while (ReadSome()) {
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    exitCode_ = ExitCodeOf(status);
    return exitCode_;
}

// Runs a program for end-to-end tests: to completion with its output captured, or on a
// terminal (a console of its own on Windows) so it can be interrupted mid-way.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

struct ProcessResult {
    int exitCode = -1;  // 128 + signal number when killed by a signal
    std::string out;
    std::string err;
    // The program's peak resident set, with its workers' on Linux; 0 where it is not known.
    long peakMemoryKib = 0;
};

// argv[0] is the program's path. `environment` entries ("NAME=value") are added to the
// program's environment.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

#ifdef _WIN32
// The program `name` in the directory of the running test program.
std::string ProgramBesideThisOne(const std::string& name);
#endif

// A program whose stdout and stderr are the slave side of a pseudo-terminal. On Windows it
// runs on a console of its own that shows no window, and they go to a file.
class TerminalProcess {
public:
    explicit TerminalProcess(const std::vector<std::string>& argv);
    ~TerminalProcess();
    // Reads output until `text` has appeared; false when the program ended first.
    bool WaitFor(const std::string& text);
    // On Windows only SIGINT: Ctrl-C on the program's console, which every process attached
    // to it receives.
    void Signal(int signal);
    // Ends every process the program started, at once, as a crash would.
    void EndChildProcesses();
    // Reads the remaining output and returns the exit code.
    int Wait();
    const std::string& Output() const { return output_; }

private:
    bool ReadSome();
#ifdef _WIN32
    PROCESS_INFORMATION process_{};
    HANDLE outputFile_ = nullptr;
#else
    pid_t pid_ = -1;
    int master_ = -1;
#endif
    int exitCode_ = -1;
    std::string output_;
};

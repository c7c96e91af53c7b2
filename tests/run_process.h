// Runs a program for end-to-end tests: to completion with its output captured, or on a
// pseudo-terminal so it shows its live progress and can be interrupted mid-way (not on
// Windows, which has RunProcess only).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    int exitCode = -1;  // 128 + signal number when killed by a signal
    std::string out;
    std::string err;
    long peakMemoryKib = 0;  // the program's peak resident set
};

// argv[0] is the program's path. `environment` entries ("NAME=value") are added to the
// program's environment.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

#ifdef _WIN32
// The program `name` in the directory of the running test program.
std::string ProgramBesideThisOne(const std::string& name);
#endif

// A program whose stdout and stderr are the slave side of a pseudo-terminal.
class TerminalProcess {
public:
    explicit TerminalProcess(const std::vector<std::string>& argv);
    ~TerminalProcess();
    // Reads output until `text` has appeared; false when the program ended first.
    bool WaitFor(const std::string& text);
    void Signal(int signal);
    // Reads the remaining output and returns the exit code.
    int Wait();
    const std::string& Output() const { return output_; }

private:
    bool ReadSome();
    pid_t pid_ = -1;
    int master_ = -1;
    int exitCode_ = -1;
    std::string output_;
};

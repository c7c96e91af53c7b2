// Where the running program is (Linux's /proc/self/exe), and the PATH search a shell makes.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "kelvo/os/program_location.h"

std::string RunningProgramPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty()) {
        return "";
    }
    std::string directories(path);
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) {
            end = directories.size();
        }
        // An empty entry is the current directory, as shells read it.
        std::string directory = directories.substr(start, end - start);
        const std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) {
            return candidate;
        }
        start = end + 1;
    }
    return "";
}

std::string QuoteForShell(const std::string& word) {
    const bool plain = !word.empty() &&
                       word.find_first_not_of(
                           "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                           "0123456789_./:=+,@%-#") == std::string::npos &&
                       word[0] != '#';
    if (plain) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Where the running program is (GetModuleFileName), and the PATH search cmd.exe makes.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "kelvo/os/program_location.h"

std::string RunningProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return "";
        }
        if (length < path.size()) {
            return std::filesystem::path(std::wstring(path.data(), length)).string();
        }
        if (path.size() >= 32768) {
            return "";
        }
        path.resize(path.size() * 2);
    }
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty()) {
        return "";
    }
    const std::string directories(path);
    size_t start = 0;
    while (start < directories.size()) {
        size_t end = directories.find(';', start);
        if (end == std::string::npos) {
            end = directories.size();
        }
        const std::string directory = directories.substr(start, end - start);
        if (!directory.empty()) {
            const std::filesystem::path candidate =
                std::filesystem::path(directory) / (name + ".exe");
            std::error_code error;
            if (std::filesystem::is_regular_file(candidate, error)) {
                return candidate.string();
            }
        }
        start = end + 1;
    }
    return "";
}

std::string QuoteForShell(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t&|<>^%\"()") == std::string::npos) {
        return word;
    }
    // Names cannot hold a double quote on Windows; cmd.exe takes the rest between quotes.
    return "\"" + word + "\"";
}

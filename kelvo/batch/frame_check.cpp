// Says why a frame's file could not be written.
#include "kelvo/batch/frame_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pcx/atomic_file.h"

std::string DiagnoseUnwritable(const std::string& path) {
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    std::error_code error;
    if (!std::filesystem::exists(directory, error)) {
        return "directory '" + directory.string() + "' does not exist";
    }
    if (!std::filesystem::is_directory(directory, error)) {
        return std::string("'").append(directory.string()).append("' is not a directory");
    }
    const std::string trial = TemporaryNameBeside(path.c_str());
    FILE* file = std::fopen(trial.c_str(), "wb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    std::fclose(file);
    std::remove(trial.c_str());
    return "the file was not written (is the disk full?)";
}

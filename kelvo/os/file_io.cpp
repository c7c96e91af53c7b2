// Whole-file reads and all-or-nothing writes, with the reason of any failure as text.
#include "kelvo/os/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "pcx/atomic_file.h"

int ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return 0;
    }
    bytes.clear();
    uint8_t chunk[1 << 14];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    const int savedErrno = errno;
    std::fclose(file);
    if (failed) {
        error = std::strerror(savedErrno);
        return 0;
    }
    return 1;
}

int WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    if (WriteFileAtomically(path.c_str(), [&bytes](ByteSink& sink) {
            return sink.Write(bytes.data(), bytes.size());
        })) {
        return 1;
    }
    error = std::strerror(errno);
    return 0;
}

int MakeDirectoryFor(const std::string& path, std::string& created, std::string& error) {
    created.clear();
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    std::error_code problem;
    if (directory.empty() || std::filesystem::is_directory(directory, problem)) {
        return 1;
    }
    if (!std::filesystem::create_directories(directory, problem) || problem) {
        error = "cannot create directory '" + directory.string() +
                "': " + (problem ? problem.message() : "a file of that name is in the way");
        return 0;
    }
    created = directory.string();
    return 1;
}

// Whole-file reads and all-or-nothing writes, with the reason of any failure as text.
#include "kelvo/os/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "pcx/replace_file.h"

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

std::string TemporaryNameBeside(const std::string& path) {
    static std::minstd_rand generator{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(generator()));
    return path + suffix;
}

int CommitTemporaryFile(const std::string& temporary, const std::string& path,
                        std::string& error) {
    if (RenameOver(temporary.c_str(), path.c_str())) {
        return 1;
    }
    error = std::strerror(errno);
    std::remove(temporary.c_str());
    return 0;
}

int WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                   std::string& error) {
    const std::string temporary = TemporaryNameBeside(path);
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return 0;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int savedErrno = errno;
    // A failed close can lose buffered bytes: it fails the write.
    const bool closed = std::fclose(file) == 0;
    if (!closed && written) {
        savedErrno = errno;
    }
    if (!written || !closed) {
        error = std::strerror(savedErrno);
        std::remove(temporary.c_str());
        return 0;
    }
    return CommitTemporaryFile(temporary, path, error);
}

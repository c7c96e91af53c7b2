// A file open for reading at any offset, with open, pread and fstat.
#include "kelvo/os/read_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ReadOnlyFile::~ReadOnlyFile() {
    if (handle_ >= 0) {
        close(static_cast<int>(handle_));
    }
}

int ReadOnlyFile::Open(const std::string& path, std::string& error) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return 0;
    }
    if (handle_ >= 0) {
        close(static_cast<int>(handle_));
    }
    handle_ = descriptor;
    return 1;
}

int ReadOnlyFile::Size(uint64_t& size, std::string& error) const {
    struct stat status {};
    if (fstat(static_cast<int>(handle_), &status) != 0) {
        error = std::strerror(errno);
        return 0;
    }
    size = static_cast<uint64_t>(status.st_size);
    return 1;
}

int64_t ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const {
    auto* at = static_cast<char*>(buffer);
    size_t got = 0;
    while (got < size) {
        // An offset past what off_t holds lies past the end of any file.
        if (offset + got > static_cast<uint64_t>(INT64_MAX)) {
            break;
        }
        const ssize_t read = pread(static_cast<int>(handle_), at + got, size - got,
                                   static_cast<off_t>(offset + got));
        if (read < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (read < 0) {
            error = std::strerror(errno);
            return -1;
        }
        if (read == 0) {
            break;
        }
        got += static_cast<size_t>(read);
    }
    return static_cast<int64_t>(got);
}

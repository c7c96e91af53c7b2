// Creating a file only when it is new, replacing a file and finding its name, as POSIX systems
// do: open(2) with O_EXCL, rename(2), '/' separators.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pcx/atomic_file.h"

FILE* CreateNewFile(const char* path) {
    const int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        return nullptr;
    }
    FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        const int reason = errno;
        close(descriptor);
        unlink(path);
        errno = reason;
    }
    return file;
}

uint64_t CurrentProcessId() {
    return static_cast<uint64_t>(getpid());
}

// rename(2) is atomic within one file system.
int RenameOver(const char* from, const char* to) {
    return std::rename(from, to) == 0 ? 1 : 0;
}

size_t FileNameStart(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
}

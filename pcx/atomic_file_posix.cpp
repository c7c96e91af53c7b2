// Replacing a file and finding its name, as POSIX systems do: rename(2), '/' separators.
#include <cstdio>
#include <cstring>

#include "pcx/atomic_file.h"

// rename(2) is atomic within one file system.
int RenameOver(const char* from, const char* to) {
    return std::rename(from, to) == 0 ? 1 : 0;
}

size_t FileNameStart(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
}

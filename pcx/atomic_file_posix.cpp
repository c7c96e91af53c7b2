// Creating a file only when it is new, replacing a file and finding its name, as POSIX systems
// do: fopen's "x" (O_EXCL), rename(2), '/' separators.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "pcx/atomic_file.h"

// C11's "x" is O_EXCL: fopen fails with EEXIST when the file is there.
FILE* CreateNewFile(const char* path) {
    return std::fopen(path, "wbx");
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

// Creating a file only when it is new (_O_EXCL), replacing a file and finding its name, as
// Windows does: MoveFileEx (the C runtime's rename
// refuses existing targets), and a backslash, '/' or a drive's ':' before the name.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>

#include "pcx/atomic_file.h"

FILE* CreateNewFile(const char* path) {
    // _O_EXCL is CREATE_NEW: the C runtime fails with EEXIST when the file is there.
    const int descriptor = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                 _S_IREAD | _S_IWRITE);
    if (descriptor < 0) {
        return nullptr;
    }
    FILE* file = _fdopen(descriptor, "wb");
    if (file == nullptr) {
        const int reason = errno;
        _close(descriptor);
        DeleteFileA(path);
        errno = reason;
    }
    return file;
}

uint64_t CurrentProcessId() {
    return GetCurrentProcessId();
}

namespace {

// MoveFileEx reports through GetLastError, callers read errno: the nearest C error code.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

}  // namespace

int RenameOver(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 1;
    }
    errno = ErrnoOf(GetLastError());
    return 0;
}

size_t FileNameStart(const char* path) {
    size_t start = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == '/' || path[i] == ':') {
            start = i + 1;
        }
    }
    return start;
}

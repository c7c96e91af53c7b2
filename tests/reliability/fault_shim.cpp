// LD_PRELOAD shim that injects file-system faults into writes below one directory.
//   KELVO_FAULT_DIR   the directory whose files are affected
//   KELVO_FAULT       enospc:N  writes fail with ENOSPC once N bytes went to a file there
//                     close     fclose fails with EIO (after really closing)
//                     eacces    opening a file there for writing fails with EACCES
//                     vanish    the directory is removed when a file there is opened for
//                               writing, so the open fails as it would in a race
#include <dlfcn.h>
#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

const char* Setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool Affected(const char* path) {
    const char* dir = Setting("KELVO_FAULT_DIR");
    return path != nullptr && *dir != '\0' && std::strncmp(path, dir, std::strlen(dir)) == 0;
}

bool Mode(const char* mode) {
    return std::strncmp(Setting("KELVO_FAULT"), mode, std::strlen(mode)) == 0;
}

// At most a few files are open for writing at once; remember which are affected.
FILE* affectedFiles[16];
size_t bytesWritten = 0;

bool IsAffected(FILE* file) {
    for (FILE* known : affectedFiles) {
        if (known != nullptr && known == file)
            return true;
    }
    return false;
}

void Forget(FILE* file) {
    for (FILE*& known : affectedFiles) {
        if (known == file)
            known = nullptr;
    }
}

}  // namespace

extern "C" {

FILE* fopen(const char* path, const char* mode) {
    static auto real = Next<FILE* (*)(const char*, const char*)>("fopen");
    const bool writing = mode != nullptr && (mode[0] == 'w' || mode[0] == 'a');
    if (writing && Affected(path)) {
        if (Mode("eacces")) {
            errno = EACCES;
            return nullptr;
        }
        if (Mode("vanish")) {
            std::error_code ignored;
            std::filesystem::remove_all(Setting("KELVO_FAULT_DIR"), ignored);
        }
    }
    FILE* file = real(path, mode);
    if (file != nullptr && writing && Affected(path)) {
        for (FILE*& slot : affectedFiles) {
            if (slot == nullptr) {
                slot = file;
                break;
            }
        }
    }
    return file;
}

FILE* fopen64(const char* path, const char* mode) {
    return fopen(path, mode);
}

size_t fwrite(const void* data, size_t size, size_t count, FILE* file) {
    static auto real = Next<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    if (IsAffected(file) && Mode("enospc:")) {
        const size_t limit = std::strtoul(Setting("KELVO_FAULT") + 7, nullptr, 10);
        const size_t wanted = size * count;
        if (bytesWritten + wanted > limit) {
            const size_t room = limit > bytesWritten ? limit - bytesWritten : 0;
            const size_t items = size == 0 ? 0 : room / size;
            real(data, size, items, file);
            bytesWritten += items * size;
            errno = ENOSPC;
            return items;
        }
        bytesWritten += wanted;
    }
    return real(data, size, count, file);
}

int fclose(FILE* file) {
    static auto real = Next<int (*)(FILE*)>("fclose");
    const bool failing = IsAffected(file) && Mode("close");
    Forget(file);
    const int result = real(file);
    if (failing) {
        errno = EIO;
        return EOF;
    }
    return result;
}

}  // extern "C"

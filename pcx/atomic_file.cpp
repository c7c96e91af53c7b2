// All-or-nothing file writing through a temporary file beside the target.
#include "pcx/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>

namespace {

constexpr size_t FILE_BUFFER_SIZE = 1 << 16;

class FileSink final : public ByteSink {
public:
    explicit FileSink(FILE* file) : file_(file) {}
    int Write(const uint8_t* data, size_t size) override {
        return std::fwrite(data, 1, size, file_) == size ? 1 : 0;
    }

private:
    FILE* file_;
};

// The generator of temporary names: a counter stepped atomically (threads may write files at
// once), started at a random place in each process, and the process it was started in.
std::atomic<uint64_t> nameState{0};
std::atomic<uint64_t> nameProcess{0};

uint64_t Mixed(uint64_t value) {
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
    return value ^ (value >> 31);
}

// The number of the next name of this process, `process`, 0 to TEMPORARY_NAME_TRIES - 1.
uint64_t NextNameNumber(uint64_t process) {
    if (nameProcess.load() != process) {
        // First use in this process, or a child of fork holding its parent's state. The
        // system's randomness alone can repeat (some C++ runtimes seed it with a constant).
        uint64_t seed = 0;
        try {
            seed = std::random_device{}();
        } catch (...) {
            // The process ID and the clock remain.
        }
        seed = seed << 32 ^ Mixed(process) ^
               static_cast<uint64_t>(
                   std::chrono::high_resolution_clock::now().time_since_epoch().count());
        nameState.store(Mixed(seed));
        nameProcess.store(process);
    }
    return nameState.fetch_add(1) % TEMPORARY_NAME_TRIES;
}

// The seven hex digits of a name of `process`: its ID (22 bits), then the name's number (6).
unsigned NameDigits(uint64_t process, uint64_t number) {
    return static_cast<unsigned>((process & 0x3FFFFFu) << 6 | number);
}

}  // namespace

void SeedTemporaryNames(uint64_t seed) {
    nameState.store(seed);
    nameProcess.store(CurrentProcessId());
}

std::string TemporaryNameBeside(const char* path) {
    char name[16];
    const uint64_t process = CurrentProcessId();
    std::snprintf(name, sizeof name, "~%07x.tmp", NameDigits(process, NextNameNumber(process)));
    return std::string(path, FileNameStart(path)) + name;
}

bool IsTemporaryNameOf(const std::string& fileName, uint64_t process) {
    const char* name = fileName.c_str();
    return fileName.size() == 12 && name[0] == '~' &&
           std::strspn(name + 1, "0123456789abcdef") == 7 && std::strcmp(name + 8, ".tmp") == 0 &&
           std::strtoul(fileName.substr(1, 7).c_str(), nullptr, 16) >> 6 ==
               NameDigits(process, 0) >> 6;
}

int WriteFileAtomically(const char* path, FileContents contents, void* context) {
    // Out of memory fails the write like a failed write: the module runs inside the host,
    // which must never see an exception, and no temporary file may be left behind.
    // The temporary file is made new (never one of another writer's), under another name
    // while the name drawn is taken.
    std::string temporary;
    FILE* file = nullptr;
    for (int tries = 0; file == nullptr; ++tries) {
        try {
            temporary = TemporaryNameBeside(path);
        } catch (...) {
            errno = ENOMEM;
            return 0;
        }
        file = CreateNewFile(temporary.c_str());
        if (file == nullptr && (errno != EEXIST || tries + 1 == TEMPORARY_NAME_TRIES)) {
            return 0;
        }
    }
    // A buffer of our own spares the C library a look at the file for the size of its own.
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[FILE_BUFFER_SIZE]);
    std::setvbuf(file, buffer.get(), _IOFBF, FILE_BUFFER_SIZE);
    FileSink sink(file);
    int written = 0;
    try {
        written = contents(sink, context);
    } catch (...) {
        errno = ENOMEM;
    }
    int reason = errno;
    // A failed close can lose buffered bytes: it fails the write like a failed write.
    const bool closed = std::fclose(file) == 0;
    if (written && !closed) {
        reason = errno;
    }
    if (written && closed) {
        if (RenameOver(temporary.c_str(), path)) {
            return 1;
        }
        reason = errno;
    }
    std::remove(temporary.c_str());
    errno = reason;
    return 0;
}

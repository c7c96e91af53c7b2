// All-or-nothing file writing through a temporary file beside the target.
#include "pcx/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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

}  // namespace

std::string TemporaryNameBeside(const char* path) {
    static std::minstd_rand generator{std::random_device{}()};
    char name[16];
    std::snprintf(name, sizeof name, "~%07x.tmp", static_cast<unsigned>(generator()) & 0xFFFFFFFu);
    return std::string(path, FileNameStart(path)) + name;
}

int WriteFileAtomically(const char* path, FileContents contents, void* context) {
    // Out of memory fails the write like a failed write: the module runs inside the host,
    // which must never see an exception, and no temporary file may be left behind.
    std::string temporary;
    try {
        temporary = TemporaryNameBeside(path);
    } catch (...) {
        errno = ENOMEM;
        return 0;
    }
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::setvbuf(file, nullptr, _IOFBF, FILE_BUFFER_SIZE);
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

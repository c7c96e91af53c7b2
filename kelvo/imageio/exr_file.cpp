// An OpenEXR file opened once, and read through that one handle by both of the library's
// readers.
#include "kelvo/imageio/exr_file.h"

#include <Iex.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "kelvo/imageio/exr_layers.h"

namespace {

// Enough for the headers and chunk tables of common frames in one read.
constexpr size_t READ_AHEAD_BYTES = size_t{1} << 16;

int64_t ReadForCore(exr_const_context_t context, void* data, void* buffer, uint64_t size,
                    uint64_t offset, exr_stream_error_func_ptr_t report) {
    auto* file = static_cast<ExrFile*>(data);
    if (size > SIZE_MAX) {
        report(context, EXR_ERR_INVALID_ARGUMENT, "read request size too large for architecture");
        return -1;
    }
    std::string reason;
    const int64_t got =
        ReadExrBytes(*file, offset, static_cast<char*>(buffer), static_cast<size_t>(size), reason);
    if (got < 0) {
        report(context, EXR_ERR_READ_IO, "Unable to read %s bytes: %s",
               std::to_string(size).c_str(), reason.c_str());
    }
    return got;
}

int64_t SizeForCore(exr_const_context_t, void* data) {
    return static_cast<int64_t>(static_cast<const ExrFile*>(data)->size);
}

void KeepFirstProblem(exr_const_context_t context, exr_result_t, const char* message) {
    void* data = nullptr;
    if (exr_get_user_data(context, &data) == EXR_ERR_SUCCESS && data != nullptr) {
        auto* file = static_cast<ExrFile*>(data);
        if (file->coreProblem.empty() && message != nullptr) {
            file->coreProblem = Printable(message);
        }
    }
}

}  // namespace

int OpenExrFile(const std::string& path, ExrFile& file, std::string& error) {
    std::string reason;
    if (!file.handle.Open(path, reason) || !file.handle.Size(file.size, reason)) {
        error = "Unable to open file for read: " + reason;
        return 0;
    }
    file.path = path;
    file.coreProblem.clear();
    file.ahead.assign(static_cast<size_t>(std::min<uint64_t>(file.size, READ_AHEAD_BYTES)), '\0');
    file.aheadStart = 0;
    file.aheadBytes = 0;
    return 1;
}

int64_t ReadExrBytes(ExrFile& file, uint64_t offset, char* to, size_t count, std::string& error) {
    size_t copied = 0;
    while (copied < count && offset < file.size && copied < file.size - offset) {
        const uint64_t at = offset + copied;
        if (at >= file.aheadStart && at - file.aheadStart < file.aheadBytes) {
            const auto from = static_cast<size_t>(at - file.aheadStart);
            const size_t take = std::min(count - copied, file.aheadBytes - from);
            std::memcpy(to + copied, file.ahead.data() + from, take);
            copied += take;
            continue;
        }
        const uint64_t left = file.size - at;
        // What would fill the read-ahead or more goes straight to the caller.
        if (count - copied >= file.ahead.size()) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(count - copied, left));
            const int64_t got = file.handle.ReadAt(at, to + copied, want, error);
            return got < 0 ? -1 : static_cast<int64_t>(copied) + got;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(file.ahead.size(), left));
        const int64_t got = file.handle.ReadAt(at, file.ahead.data(), want, error);
        if (got <= 0) {
            return got < 0 ? -1 : static_cast<int64_t>(copied);
        }
        file.aheadStart = at;
        file.aheadBytes = static_cast<size_t>(got);
    }
    return static_cast<int64_t>(copied);
}

void ReadCoreThrough(ExrFile& file, exr_context_initializer_t& init) {
    init.error_handler_fn = KeepFirstProblem;
    init.read_fn = ReadForCore;
    init.size_fn = SizeForCore;
    init.user_data = &file;
}

ExrStream::ExrStream(ExrFile& file) : Imf::IStream(file.path.c_str()), file_(file) {}

bool ExrStream::read(char c[], int n) {
    if (failed_) {
        throw Iex::InputExc("Unexpected end of file.");
    }
    if (n < 0) {
        failed_ = true;
        return false;
    }
    std::string reason;
    const int64_t got = ReadExrBytes(file_, position_, c, static_cast<size_t>(n), reason);
    if (got < 0) {
        failed_ = true;
        throw Iex::InputExc(reason + ".");
    }
    position_ += static_cast<uint64_t>(got);
    if (got < n) {
        failed_ = true;
        std::string message = "Early end of file: read ";
        message += std::to_string(got);
        message += " out of ";
        message += std::to_string(n);
        message += " requested bytes.";
        throw Iex::InputExc(message);
    }
    return true;
}

uint64_t ExrStream::tellg() {
    return failed_ ? UINT64_MAX : position_;
}

void ExrStream::seekg(uint64_t pos) {
    if (failed_) {
        return;
    }
    // Beyond what a file offset holds the system's seek fails, and so did the stream's.
    if (pos > static_cast<uint64_t>(INT64_MAX)) {
        failed_ = true;
        Iex::throwErrnoExc("%T.", EINVAL);
    }
    position_ = pos;
}

void ExrStream::clear() {
    failed_ = false;
}

// A file open for reading at any offset through one handle, so that every reader of a file
// reads the version that was opened, however often it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    // Closes the file.
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens `path` (UTF-8 on Windows) for reading; others may go on reading, renaming or
    // deleting it. On 0, `error` holds the system's reason ("No such file or directory").
    [[nodiscard]] int Open(const std::string& path, std::string& error);

    // The open file's size in bytes, from its handle. On 0, `error` holds the reason.
    [[nodiscard]] int Size(uint64_t& size, std::string& error) const;

    // Reads `size` bytes at `offset` into `buffer`, or fewer where the file ends, and gives the
    // count read; -1, with the reason in `error`, when the system fails to read.
    int64_t ReadAt(uint64_t offset, void* buffer, size_t size, std::string& error) const;

private:
    intptr_t handle_ = -1;  // a file descriptor, or a Win32 HANDLE; -1 when none is open
};

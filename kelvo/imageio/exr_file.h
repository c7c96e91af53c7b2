// An OpenEXR file opened once, and read through that one handle by both of the library's
// readers: the checking core reader and the full reader.
#pragma once

#include <ImfIO.h>
#include <openexr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kelvo/os/read_only_file.h"

struct ExrFile {
    ReadOnlyFile handle;
    uint64_t size = 0;  // in bytes, from the handle when it was opened
    std::string path;   // names the file in the readers' messages
    // The first problem the core reader reported while reading through ReadCoreThrough.
    std::string coreProblem;
};

// Opens `path` and takes its size from the handle. On 0, `error` holds the reason, as the core
// reader gave it when it opened files itself ("Unable to open file for read: ...").
[[nodiscard]] int OpenExrFile(const std::string& path, ExrFile& file, std::string& error);

// Sets `init` so that exr_start_read reads `file` through its handle (read and size functions
// with `file` as their user data) and keeps the first problem it reports in
// file.coreProblem.
void ReadCoreThrough(ExrFile& file, exr_context_initializer_t& init);

// The full reader's stream over the handle of a file that outlives it. The reader reads its
// headers a few bytes at a time, so reads go through a buffer, as the library's own file
// stream's do. Its failures are that stream's, message for message: a read past the end
// throws "Early end of file: ...", and the stream then stays failed (reads throw "Unexpected
// end of file.", tellg gives all ones, seekg does nothing) until clear().
class ExrStream final : public Imf::IStream {
public:
    explicit ExrStream(const ExrFile& file);

    bool isMemoryMapped() const override { return false; }
    bool read(char c[], int n) override;
    uint64_t tellg() override;
    void seekg(uint64_t pos) override;
    void clear() override;

private:
    // Copies up to `count` bytes at position_ into `to`, fewer where the file ends; throws
    // the system's reason when it fails to read.
    size_t Copy(char* to, size_t count);

    const ReadOnlyFile& handle_;
    std::vector<char> buffer_;
    uint64_t bufferStart_ = 0;  // the file offset of buffer_[0]
    size_t buffered_ = 0;       // bytes of buffer_ that hold the file's
    uint64_t position_ = 0;
    bool failed_ = false;
};

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
    // The bytes last read ahead, which both readers read from: the readers read the headers a
    // few bytes at a time, and the headers and chunk tables of common frames, or the whole
    // file, come in one read.
    std::vector<char> ahead;
    uint64_t aheadStart = 0;  // the file offset of ahead[0]
    size_t aheadBytes = 0;    // bytes of `ahead` that hold the file's
};

// Opens `path` and takes its size from the handle. On 0, `error` holds the reason, as the core
// reader gave it when it opened files itself ("Unable to open file for read: ...").
[[nodiscard]] int OpenExrFile(const std::string& path, ExrFile& file, std::string& error);

// Copies `count` bytes at `offset` into `to` through file.ahead, or fewer where the file
// ends (the file as it was opened: reads stop at file.size), and gives the count copied; -1,
// with the reason in `error`, when the system fails to read.
int64_t ReadExrBytes(ExrFile& file, uint64_t offset, char* to, size_t count, std::string& error);

// Sets `init` so that exr_start_read reads `file` through its handle (read and size functions
// with `file` as their user data) and keeps the first problem it reports in
// file.coreProblem.
void ReadCoreThrough(ExrFile& file, exr_context_initializer_t& init);

// The full reader's stream over a file that outlives it, read through ReadExrBytes. Its
// failures are those of the library's own file stream, message for message: a read past the
// end throws "Early end of file: ...", and the stream then stays failed (reads throw
// "Unexpected end of file.", tellg gives all ones, seekg does nothing) until clear().
class ExrStream final : public Imf::IStream {
public:
    explicit ExrStream(ExrFile& file);

    bool isMemoryMapped() const override { return false; }
    bool read(char c[], int n) override;
    uint64_t tellg() override;
    void seekg(uint64_t pos) override;
    void clear() override;

private:
    ExrFile& file_;
    uint64_t position_ = 0;
    bool failed_ = false;
};

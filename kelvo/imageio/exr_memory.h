// What decoding an OpenEXR file costs, and the checks and the cap that hold it to the budget.
#pragma once

#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfMultiPartInputFile.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kelvo/imageio/exr_file.h"

// What decoding may take beside the frame, and the most the full reader may then ask for at
// once: what a frame of the pixel budget takes.
uint64_t DecodeLimit(int64_t maxPixels);

// Reads the headers of the open `file` with the checking core reader and refuses a file it
// finds damage in, or one claiming a window no frame can have or more chunks than the file
// could hold.
int CheckHeaders(ExrFile& file, std::string& error);

// The full reader on `stream` (over a file of `fileSize` bytes, which CheckHeaders passed),
// opened under a cap of the file's size; null, with the reason, when its headers claim more.
// The stream must outlive the reader.
std::unique_ptr<Imf::MultiPartInputFile> OpenFullReader(Imf::IStream& stream, uint64_t fileSize,
                                                        std::string& error);

// What reading `planes` channels of `part` takes beyond the frame: the full reader's buffers,
// its row of tiles of those channels when the part is tiled (read as scanlines), and the
// strips they are read into (4 bytes a value). Checked before the full reader opens the part,
// against what a frame of the pixel budget may take, so that a header whose chunks claim
// gigabytes (thousands of channels, or tiles far larger than the image) is refused instead.
// `bytes` is set to what it takes.
int CheckDecodeMemory(const Imf::Header& header, int part, size_t planes, int64_t maxPixels,
                      uint64_t& bytes, std::string& error);

// Runs `decode` under a cap of DecodeLimit(maxPixels) on each allocation: what the checks
// above do not see (the sizes a chunk itself claims to a decompressor, say). A refused
// allocation is reported as damage in `error` (0); other failures are thrown on.
int DecodeUnderCap(int64_t maxPixels, const std::function<int()>& decode, std::string& error);

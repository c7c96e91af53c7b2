// What decoding an OpenEXR file costs, and the checks and the cap that hold it to the budget.
#include "kelvo/imageio/exr_memory.h"

#include <ImfChannelList.h>
#include <ImfCompression.h>
#include <ImfTileDescription.h>
#include <openexr.h>

#include <algorithm>
#include <exception>

#include "kelvo/imageio/allocation_cap.h"
#include "kelvo/imageio/exr_file.h"
#include "kelvo/imageio/exr_layers.h"
#include "kelvo/imageio/exr_window.h"
#include "kelvo/imageio/frame_image.h"

namespace {

// Everything the full reader allocates while it reads the headers and chunk tables holds what
// it read from the file, so no single allocation needs more than the file's size (and a little
// for its own small records): a damaged header that claims more is refused.
constexpr uint64_t HEADER_SLACK_BYTES = uint64_t{1} << 20;

// The full reader's buffers for one part, in chunks, as its sources allocate them: the line
// or tile buffer, and the decompressor's (DWA holds four or five of a chunk).
constexpr uint64_t READER_BUFFER_CHUNKS = 6;
// Whatever the pixel budget, decoding may take this much: a frame of a few pixels still needs
// the reader's buffers.
constexpr uint64_t DECODE_FLOOR_BYTES = uint64_t{64} << 20;

uint64_t SaturatingProduct(uint64_t a, uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// One chunk of every channel of a part, unpacked, as the full reader sizes its buffers: lines
// (or a tile) of the data window's width at each channel's size (subsampling only makes it
// smaller).
uint64_t ChunkBytes(const Imf::Header& header, uint64_t width) {
    uint64_t pixelBytes = 0;  // of a chunk's line, per pixel of the data window
    uint64_t columns = width;
    uint64_t lines = 1;
    if (header.hasTileDescription()) {
        columns = header.tileDescription().xSize;
        lines = header.tileDescription().ySize;
    } else {
        const Imf::Compression compression = header.compression();
        lines = compression == Imf::ZIP_COMPRESSION || compression == Imf::PXR24_COMPRESSION ? 16
                : compression == Imf::DWAB_COMPRESSION                                       ? 256
                : compression >= Imf::PIZ_COMPRESSION                                        ? 32
                                                                                             : 1;
    }
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
        pixelBytes += it.channel().type == Imf::HALF ? 2 : 4;
    }
    return SaturatingProduct(SaturatingProduct(columns, lines), pixelBytes);
}

}  // namespace

uint64_t DecodeLimit(int64_t maxPixels) {
    return std::max(static_cast<uint64_t>(maxPixels) * FRAME_BYTES_PER_PIXEL, DECODE_FLOOR_BYTES);
}

// The full reader trusts the sizes its headers claim: a damaged file of a few hundred bytes
// can make it allocate gigabytes for one attribute, its chunk tables or its pixel planes
// before it fails. The headers are therefore read first by the library's checking core
// reader, and a file it finds damage in, or one claiming a window no frame can have or more
// chunks than the file could hold, is refused before the full reader sees it. The two readers
// do not always read damaged bytes alike, so the full reader then works under an allocation
// cap too (OpenFullReader, DecodeUnderCap). The core reader cannot decode in its place, which
// would make the cap needless: the library's 3.1 releases, which kelvo is built with on every
// system, do not decompress DWAA or DWAB.
int CheckHeaders(ExrFile& file, std::string& error) {
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    ReadCoreThrough(file, init);
    exr_context_t context = nullptr;
    // The core reader reads past some damage, saying what it found: that is refused too.
    const std::string& problem = file.coreProblem;
    if (exr_start_read(&context, file.path.c_str(), &init) != EXR_ERR_SUCCESS || !problem.empty()) {
        exr_finish(&context);
        error = problem.empty() ? "not a readable OpenEXR file" : problem;
        return 0;
    }
    const uint64_t fileSize = file.size;
    int parts = 0;
    exr_get_count(context, &parts);
    int result = 1;
    for (int part = 0; part < parts && result == 1; ++part) {
        exr_attr_box2i_t window{};
        int32_t chunks = 0;
        if (exr_get_data_window(context, part, &window) != EXR_ERR_SUCCESS ||
            exr_get_chunk_count(context, part, &chunks) != EXR_ERR_SUCCESS) {
            continue;
        }
        const int64_t width = int64_t{window.max.x} - window.min.x + 1;
        const int64_t height = int64_t{window.max.y} - window.min.y + 1;
        if (width < 1 || height < 1 || width > FRAME_MAX_SIDE || height > FRAME_MAX_SIDE) {
            error = "data window of " + SizeText(width, height) + " pixels in part " +
                    std::to_string(part) + "; a frame has 1 to 65535 pixels on each side";
            result = 0;
        } else if (static_cast<uint64_t>(chunks) * 8 > fileSize) {
            // Every chunk has an 8-byte entry in the offset table.
            error = "the file is incomplete (truncated or damaged)";
            result = 0;
        }
    }
    exr_finish(&context);
    return result;
}

std::unique_ptr<Imf::MultiPartInputFile> OpenFullReader(Imf::IStream& stream, uint64_t fileSize,
                                                        std::string& error) {
    const uint64_t largest = fileSize + HEADER_SLACK_BYTES;
    const AllocationCap cap(static_cast<size_t>(std::min<uint64_t>(largest, SIZE_MAX)));
    try {
        return std::make_unique<Imf::MultiPartInputFile>(stream);
    } catch (const std::exception&) {
        if (cap.Refused() == 0) {
            throw;
        }
        error = "damaged: its headers claim " + FormatBytes(cap.Refused()) +
                " for one value, and the file has " + std::to_string(fileSize) + " bytes";
    }
    return nullptr;
}

int CheckDecodeMemory(const Imf::Header& header, int part, size_t planes, int64_t maxPixels,
                      uint64_t& bytes, std::string& error) {
    const Imath::Box2i data = header.dataWindow();
    const int64_t width = int64_t{data.max.x} - data.min.x + 1;
    const int64_t height = int64_t{data.max.y} - data.min.y + 1;
    if (width < 1 || height < 1 || width > FRAME_MAX_SIDE || height > FRAME_MAX_SIDE) {
        error = "data window of " + SizeText(width, height) + " pixels in part " +
                std::to_string(part) + "; a frame has 1 to 65535 pixels on each side";
        return 0;
    }
    const uint64_t rowBytes = static_cast<uint64_t>(width) * 4 * planes;
    const uint64_t tileRows = header.hasTileDescription() ? header.tileDescription().ySize : 0;
    const uint64_t chunk = ChunkBytes(header, static_cast<uint64_t>(width));
    const uint64_t ours = SaturatingProduct(
        rowBytes, std::min<uint64_t>(STRIP_ROWS, static_cast<uint64_t>(height)) + tileRows);
    const uint64_t theirs = SaturatingProduct(chunk, READER_BUFFER_CHUNKS);
    bytes = ours > UINT64_MAX - theirs ? UINT64_MAX : ours + theirs;
    const uint64_t limit = DecodeLimit(maxPixels);
    if (bytes <= limit) {
        return 1;
    }
    error = "decoding part " + std::to_string(part) + " takes about " + FormatBytes(bytes) +
            " (its chunks unpack to " + FormatBytes(chunk) + " each), more than the " +
            FormatBytes(limit) + " that --max-pixels " + std::to_string(maxPixels) + " allows";
    return 0;
}

int DecodeUnderCap(int64_t maxPixels, const std::function<int()>& decode, std::string& error) {
    const uint64_t limit = DecodeLimit(maxPixels);
    const AllocationCap cap(static_cast<size_t>(std::min<uint64_t>(limit, SIZE_MAX)));
    try {
        return decode();
    } catch (const std::exception&) {
        if (cap.Refused() == 0) {
            throw;
        }
        error = "damaged: decoding it asked for " + FormatBytes(cap.Refused()) +
                " at once, more than the " + FormatBytes(limit) + " that --max-pixels " +
                std::to_string(maxPixels) + " allows";
    }
    return 0;
}

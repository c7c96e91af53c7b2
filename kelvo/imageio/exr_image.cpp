// Decodes OpenEXR files (multi-part, multi-layer and multi-view) to 16-bit RGBA and identifiers.
#include "kelvo/imageio/exr_image.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <openexr.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "kelvo/imageio/allocation_cap.h"

namespace {

// Rows read from a part at a time: every chunk height the library writes (1, 16, 32, 256
// lines) divides or is a multiple of it, so strips start on chunk boundaries, and the
// library keeps a chunk decoded for the next strip.
constexpr int STRIP_ROWS = 64;

// Names quote the file: its bytes stay off the terminal.
std::string Printable(const std::string& text) {
    std::string shown;
    for (char c : text) {
        shown.push_back(c >= ' ' && c <= '~' ? c : '?');
    }
    return shown;
}

// The first 24 names, for a message of one line.
std::string JoinNames(const std::vector<std::string>& names) {
    std::string list;
    for (size_t i = 0; i < names.size() && i < 24; ++i) {
        list += (list.empty() ? "" : ", ") + Printable(names[i]);
    }
    return names.size() > 24 ? list + ", ..." : list;
}

bool IsDeep(const Imf::Header& header) {
    return header.hasType() &&
           (header.type() == Imf::DEEPSCANLINE || header.type() == Imf::DEEPTILE);
}

std::string DeepRefusal(const Imf::Header& header) {
    return std::string(header.type() == Imf::DEEPTILE ? "a deep tiled" : "a deep scanline") +
           " image: deep images are not supported";
}

// The file's views, the default first: the names of a multiView attribute (single-part
// multi-view files), then the view attributes of parts (multi-part ones), each once.
std::vector<std::string> FileViews(Imf::MultiPartInputFile& file) {
    std::vector<std::string> views;
    std::set<std::string> seen;  // a file can list any number of views
    const auto add = [&views, &seen](const std::string& view) {
        if (seen.insert(view).second) {
            views.push_back(view);
        }
    };
    for (int part = 0; part < file.parts(); ++part) {
        if (Imf::hasMultiView(file.header(part))) {
            for (const std::string& view : Imf::multiView(file.header(part))) {
                add(view);
            }
        }
    }
    for (int part = 0; part < file.parts(); ++part) {
        if (file.header(part).hasView()) {
            add(file.header(part).view());
        }
    }
    return views;
}

// A part of another view holds nothing for this one.
bool PartInView(const Imf::Header& header, const std::string& view) {
    return !header.hasView() || header.view() == view;
}

// The channel of `header` that holds `name` (R, diffuse.R, objectIndex) for `view`, or "".
// In a multi-view part the view is the next-to-last part of a channel's name (right.R,
// diffuse.right.R); the default view's channels may leave it out, and so may channels that
// belong to no view (diffuse.R, when diffuse is not a view).
std::string ChannelInView(const Imf::Header& header, const std::string& name,
                          const std::string& view) {
    const auto has = [&header](const std::string& channel) {
        return header.channels().findChannel(channel) != nullptr;
    };
    if (view.empty() || !Imf::hasMultiView(header) || Imf::multiView(header).empty()) {
        return has(name) ? name : "";
    }
    const std::vector<std::string>& views = Imf::multiView(header);
    const size_t dot = name.rfind('.');
    const std::string prefix = dot == std::string::npos ? "" : name.substr(0, dot + 1);
    const std::string inView = prefix + view + "." + name.substr(prefix.size());
    // The layer's last part ("b" of a.b.R) names a view, or the channel is in no view.
    const std::string layer = prefix.empty() ? "" : prefix.substr(0, prefix.size() - 1);
    const std::string penultimate = layer.substr(layer.rfind('.') + 1);  // npos + 1 is 0
    const bool sharedByViews =
        !layer.empty() && std::find(views.begin(), views.end(), penultimate) == views.end();
    if (view == views.front() && has(name)) {
        return name;
    }
    if (has(inView)) {
        return inView;
    }
    return sharedByViews && has(name) ? name : "";
}

// Where the colour comes from: a part and its channel names (alpha empty when absent).
struct ColorSource {
    int part = -1;
    std::string red, green, blue, alpha;
};

// The names of the layers that hold colour (a channel LAYER.R).
std::set<std::string> ColourLayers(Imf::MultiPartInputFile& file) {
    std::set<std::string> layers;
    for (int part = 0; part < file.parts(); ++part) {
        const Imf::Header& header = file.header(part);
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
            const std::string name = it.name();
            if (name.size() > 2 && name.compare(name.size() - 2, 2, ".R") == 0) {
                layers.insert(name.substr(0, name.size() - 2));
            }
        }
    }
    return layers;
}

// The colour layers as a list, for the message when none was chosen or found.
std::string ListLayers(Imf::MultiPartInputFile& file) {
    const std::set<std::string> layers = ColourLayers(file);
    const std::string list = JoinNames({layers.begin(), layers.end()});
    return list.empty() ? "none" : list;
}

std::string ListChannels(Imf::MultiPartInputFile& file) {
    std::vector<std::string> names;
    for (int part = 0; part < file.parts() && names.size() <= 24; ++part) {
        const Imf::Header& header = file.header(part);
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
            names.push_back(it.name());
        }
    }
    return names.empty() ? "none" : JoinNames(names);
}

int FindColor(Imf::MultiPartInputFile& file, const ExrRequest& request, const std::string& view,
              ColorSource& source, std::string& error) {
    const std::string& layer = request.layer;
    const std::string prefix = layer.empty() ? "" : layer + ".";
    for (int part = 0; part < file.parts() && source.part < 0; ++part) {
        const Imf::Header& header = file.header(part);
        if (IsDeep(header) || !PartInView(header, view)) {
            continue;
        }
        for (const std::string& candidate : {prefix, std::string()}) {
            // A part named after the layer may hold plain R, G, B.
            if (candidate.empty() && !prefix.empty() &&
                !(header.hasName() && header.name() == layer)) {
                continue;
            }
            const std::string red = ChannelInView(header, candidate + "R", view);
            const std::string green = ChannelInView(header, candidate + "G", view);
            const std::string blue = ChannelInView(header, candidate + "B", view);
            if (!red.empty() && !green.empty() && !blue.empty()) {
                source = {part, red, green, blue, ChannelInView(header, candidate + "A", view)};
                break;
            }
        }
    }
    for (int part = 0; part < file.parts() && source.part < 0 && layer.empty(); ++part) {
        const Imf::Header& header = file.header(part);
        const std::string grey = ChannelInView(header, "Y", view);
        if (!IsDeep(header) && PartInView(header, view) && !grey.empty()) {
            if (!ChannelInView(header, "RY", view).empty() ||
                !ChannelInView(header, "BY", view).empty()) {
                error = "a luminance/chroma image (Y, RY, BY): those are not supported";
                return 0;
            }
            source = {part, grey, grey, grey, ChannelInView(header, "A", view)};
        }
    }
    if (source.part >= 0) {
        return 1;
    }
    // A file whose colour is in one layer alone (a renderer's "ViewLayer.Combined") needs no
    // --layer to say which.
    if (layer.empty()) {
        const std::set<std::string> layers = ColourLayers(file);
        ExrRequest named = request;
        named.layer = layers.size() == 1 ? *layers.begin() : "";
        std::string unused;
        if (!named.layer.empty() && FindColor(file, named, view, source, unused)) {
            return 1;
        }
    }
    for (int part = 0; part < file.parts(); ++part) {
        // With or without colour channels, deep data is what kelvo cannot read here.
        if (IsDeep(file.header(part))) {
            error = DeepRefusal(file.header(part));
            return 0;
        }
    }
    error = layer.empty()
                ? "no R, G, B channels; layers with colour: " + ListLayers(file) +
                      " (choose one with --layer)"
                : "no layer '" + Printable(layer) + "'; layers with colour: " + ListLayers(file);
    return 0;
}

// The part (the preferred one first) and channel that hold `name` for `view`. Deep parts are
// looked at last, and only so that the refusal can name them.
int FindIdChannel(Imf::MultiPartInputFile& file, const std::string& name, const std::string& view,
                  int preferred, std::string& channel) {
    for (const bool deep : {false, true}) {
        for (int part = -1; part < file.parts(); ++part) {
            const int candidate = part < 0 ? preferred : part;
            const Imf::Header& header = file.header(candidate);
            if (IsDeep(header) == deep && PartInView(header, view)) {
                channel = ChannelInView(header, name, view);
                if (!channel.empty()) {
                    return candidate;
                }
            }
        }
    }
    return -1;
}

int CheckSampling(const Imf::Header& header, const std::string& name, std::string& error) {
    const Imf::Channel* channel = header.channels().findChannel(name);
    if (channel != nullptr && (channel->xSampling != 1 || channel->ySampling != 1)) {
        error = "channel '" + Printable(name) + "' is subsampled, which is not supported";
        return 0;
    }
    return 1;
}

float ClampUnit(double value) {
    if (!(value > 0.0)) {  // also NaN
        return 0.0f;
    }
    return value < 1.0 ? static_cast<float>(value) : 1.0f;
}

uint16_t ScaleTo16(double unit) {
    return static_cast<uint16_t>(std::lround(unit * 65535.0));
}

std::string SizeText(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The full reader trusts the sizes its headers claim: a damaged file of a few hundred bytes
// can make it allocate gigabytes for one attribute, its chunk tables or its pixel planes
// before it fails. The headers are therefore read first by the library's checking core
// reader, and a file it finds damage in, or one claiming a window no frame can have or more
// chunks than the file could hold, is refused before the full reader sees it. The two readers
// do not always read damaged bytes alike, so the full reader then works under an allocation
// cap too (OpenFullReader, ReadExrOrThrow).
void KeepFirstMessage(exr_const_context_t context, exr_result_t, const char* message) {
    void* data = nullptr;
    if (exr_get_user_data(context, &data) == EXR_ERR_SUCCESS && data != nullptr) {
        auto* first = static_cast<std::string*>(data);
        if (first->empty() && message != nullptr) {
            *first = Printable(message);
        }
    }
}

// On 1, `fileSize` holds the file's size in bytes.
int CheckHeaders(const std::string& path, uint64_t& fileSize, std::string& error) {
    std::string message;
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.error_handler_fn = KeepFirstMessage;
    init.user_data = &message;
    exr_context_t context = nullptr;
    // The core reader reads past some damage, saying what it found: that is refused too.
    if (exr_start_read(&context, path.c_str(), &init) != EXR_ERR_SUCCESS || !message.empty()) {
        exr_finish(&context);
        error = message.empty() ? "not a readable OpenEXR file" : message;
        return 0;
    }
    std::error_code sizeError;
    fileSize = std::filesystem::file_size(path, sizeError);
    if (sizeError) {
        exr_finish(&context);
        error = sizeError.message();
        return 0;
    }
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

// Everything the full reader allocates while it reads the headers and chunk tables holds what
// it read from the file, so no single allocation needs more than the file's size (and a little
// for its own small records): a damaged header that claims more is refused.
constexpr uint64_t HEADER_SLACK_BYTES = uint64_t{1} << 20;

std::unique_ptr<Imf::MultiPartInputFile> OpenFullReader(const std::string& path, uint64_t fileSize,
                                                        std::string& error) {
    const uint64_t largest = fileSize + HEADER_SLACK_BYTES;
    const AllocationCap cap(static_cast<size_t>(std::min<uint64_t>(largest, SIZE_MAX)));
    try {
        return std::make_unique<Imf::MultiPartInputFile>(path.c_str());
    } catch (const std::exception&) {
        if (cap.Refused() == 0) {
            throw;
        }
        error = "damaged: its headers claim " + FormatBytes(cap.Refused()) +
                " for one value, and the file has " + std::to_string(fileSize) + " bytes";
    }
    return nullptr;
}

// The full reader's buffers for one part, in chunks, as its sources allocate them: the line
// or tile buffer, and the decompressor's (DWA holds four or five of a chunk).
constexpr uint64_t READER_BUFFER_CHUNKS = 6;
// Whatever the pixel budget, decoding may take this much: a frame of a few pixels still needs
// the reader's buffers.
constexpr uint64_t DECODE_FLOOR_BYTES = uint64_t{64} << 20;

// What decoding may take beside the frame, and the most the full reader may then ask for at
// once: what a frame of the pixel budget takes.
uint64_t DecodeLimit(int64_t maxPixels) {
    return std::max(static_cast<uint64_t>(maxPixels) * FRAME_BYTES_PER_PIXEL, DECODE_FLOOR_BYTES);
}

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

// What reading `planes` channels of `part` takes beyond the frame: the full reader's buffers,
// its row of tiles of those channels when the part is tiled (read as scanlines), and the
// strips they are read into (4 bytes a value). Checked before the full reader opens the part,
// against what a frame of the pixel budget may take, so that a header whose chunks claim
// gigabytes (thousands of channels, or tiles far larger than the image) is refused instead.
// `bytes` is set to what it takes.
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

// Where a frame comes from in an open file, and its window.
struct FramePlan {
    std::vector<std::string> views;
    std::string view;
    ColorSource color;
    Imath::Box2i window;
};

int PlanFrame(Imf::MultiPartInputFile& file, const ExrRequest& request, FramePlan& plan,
              std::string& error) {
    plan.views = FileViews(file);
    plan.view = request.view.empty() && !plan.views.empty() ? plan.views.front() : request.view;
    if (!request.view.empty() &&
        std::find(plan.views.begin(), plan.views.end(), request.view) == plan.views.end()) {
        error = "no view '" + Printable(request.view) + "'; " +
                (plan.views.empty() ? "the file has no views" : "views: " + JoinNames(plan.views));
        return 0;
    }
    if (!FindColor(file, request, plan.view, plan.color, error)) {
        return 0;
    }
    const Imf::Header& header = file.header(plan.color.part);
    const bool display = request.window == EXR_WINDOW_DISPLAY;
    plan.window = display ? header.displayWindow() : header.dataWindow();
    const int64_t width = int64_t{plan.window.max.x} - plan.window.min.x + 1;
    const int64_t height = int64_t{plan.window.max.y} - plan.window.min.y + 1;
    const char* const which = display ? "display window" : "data window";
    if (width < 1 || height < 1 || width > FRAME_MAX_SIDE || height > FRAME_MAX_SIDE) {
        error = std::string(which) + " of " + SizeText(width, height) +
                " pixels; a frame has 1 to 65535 pixels on each side";
        return 0;
    }
    if (display && width * height > EXR_DISPLAY_MAX_PIXELS) {
        error = std::string(which) + " of " + SizeText(width, height) +
                " pixels; a frame made from one has at most " +
                std::to_string(EXR_DISPLAY_MAX_PIXELS) + " pixels (16384 x 16384)";
        return 0;
    }
    return CheckPixelBudget(width, height, request.maxPixels, error);
}

// One channel read from a part, a strip of rows at a time.
struct Plane {
    std::string channel;
    Imf::PixelType type;
    float fill;
    std::vector<float> floats;
    std::vector<uint32_t> uints;
    std::vector<Imath::half> halves;
};

// Reads the rows of `part` that meet `frame`, STRIP_ROWS at a time, into the planes (each
// strip as wide as the part's data window) and hands `store` each strip's rows, as the box
// of the data window they cover. Stops when `store` returns 0, and returns that.
int ReadRowsInFrame(Imf::MultiPartInputFile& file, int part, const Imath::Box2i& frame,
                    const std::vector<Plane*>& planes,
                    const std::function<int(const Imath::Box2i& strip)>& store) {
    const Imath::Box2i data = file.header(part).dataWindow();
    const int first = std::max(data.min.y, frame.min.y);
    const int last = std::min(data.max.y, frame.max.y);
    if (first > last || data.max.x < frame.min.x || data.min.x > frame.max.x) {
        return 1;
    }
    Imf::InputPart input(file, part);
    const auto width = static_cast<size_t>(int64_t{data.max.x} - data.min.x + 1);
    for (int64_t top = first; top <= last;) {
        // Strips end where the data window's chunks of STRIP_ROWS rows end.
        const int64_t end = std::min<int64_t>(
            last, data.min.y + ((top - data.min.y) / STRIP_ROWS + 1) * STRIP_ROWS - 1);
        const Imath::Box2i strip({data.min.x, static_cast<int>(top)},
                                 {data.max.x, static_cast<int>(end)});
        const size_t count = width * static_cast<size_t>(end - top + 1);
        Imf::FrameBuffer frameBuffer;
        for (Plane* plane : planes) {
            void* base = nullptr;
            if (plane->type == Imf::UINT) {
                plane->uints.assign(count, 0);
                base = plane->uints.data();
            } else if (plane->type == Imf::HALF) {
                plane->halves.assign(count, Imath::half(plane->fill));
                base = plane->halves.data();
            } else {
                plane->floats.assign(count, plane->fill);
                base = plane->floats.data();
            }
            frameBuffer.insert(plane->channel,
                               Imf::Slice::Make(plane->type, base, strip, 0, 0, 1, 1, plane->fill));
        }
        input.setFrameBuffer(frameBuffer);
        input.readPixels(strip.min.y, strip.max.y);
        if (!store(strip)) {
            return 0;
        }
        top = end + 1;
    }
    return 1;
}

// Calls `pixel(stripIndex, frameIndex, frameX, frameY)` for every pixel of `strip` that lies
// in `frame`, row by row.
template <typename PixelFunction>
int ForEachPixelInFrame(const Imath::Box2i& strip, const Imath::Box2i& frame, PixelFunction pixel) {
    const int left = std::max(strip.min.x, frame.min.x);
    const int right = std::min(strip.max.x, frame.max.x);
    const auto stripWidth = static_cast<size_t>(int64_t{strip.max.x} - strip.min.x + 1);
    const auto frameWidth = static_cast<size_t>(int64_t{frame.max.x} - frame.min.x + 1);
    for (int y = std::max(strip.min.y, frame.min.y); y <= std::min(strip.max.y, frame.max.y); ++y) {
        const auto frameY = static_cast<size_t>(int64_t{y} - frame.min.y);
        const size_t stripRow = static_cast<size_t>(int64_t{y} - strip.min.y) * stripWidth;
        for (int x = left; x <= right; ++x) {
            const auto frameX = static_cast<size_t>(int64_t{x} - frame.min.x);
            if (!pixel(stripRow + static_cast<size_t>(int64_t{x} - strip.min.x),
                       frameY * frameWidth + frameX, frameX, frameY)) {
                return 0;
            }
        }
    }
    return 1;
}

// ExrColorTo16 of every half value, by its bits: with `linear`, the value clamped and scaled
// (which is what alpha takes too); without, sRGB-encoded first. Built on first use.
const uint16_t* HalfTo16Table(bool linear) {
    using Table = std::array<uint16_t, 65536>;
    const auto build = [](bool linearValues) {
        Table table{};
        for (size_t bits = 0; bits < table.size(); ++bits) {
            Imath::half value;
            value.setBits(static_cast<uint16_t>(bits));
            table[bits] = ExrColorTo16(value, linearValues);
        }
        return table;
    };
    static const Table linearTable = build(true);
    static const Table encodedTable = build(false);
    return linear ? linearTable.data() : encodedTable.data();
}

// Decodes the frame `plan` found (and the identifiers of `idChannel` in `idPart`, when that
// is not -1) into `image` and `ids`.
int DecodeFrame(Imf::MultiPartInputFile& file, const ExrRequest& request, const FramePlan& plan,
                int idPart, const std::string& idChannel, ColorImage& image, IdImage& ids,
                std::string& error) {
    const ColorSource& source = plan.color;
    const Imath::Box2i& frame = plan.window;
    const auto width = static_cast<size_t>(int64_t{frame.max.x} - frame.min.x + 1);
    const auto height = static_cast<size_t>(int64_t{frame.max.y} - frame.min.y + 1);
    image = ColorImage{};
    ids = IdImage{};
    // Frame pixels no part stores: colour 0, alpha 0.
    if (!AllocateValues(image.rgba, width * height * 4, uint16_t{0}, error)) {
        return 0;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);

    Plane red{source.red, Imf::FLOAT, 0.0f, {}, {}, {}};
    Plane green{source.green, Imf::FLOAT, 0.0f, {}, {}, {}};
    Plane blue{source.blue, Imf::FLOAT, 0.0f, {}, {}, {}};
    Plane alpha{source.alpha, Imf::FLOAT, 1.0f, {}, {}, {}};
    const bool grey = source.green == source.red;
    std::vector<Plane*> colorPlanes = {&red};
    if (!grey) {
        colorPlanes.push_back(&green);
        colorPlanes.push_back(&blue);
    }
    if (!source.alpha.empty()) {
        colorPlanes.push_back(&alpha);
    }
    Plane idPlane{idChannel, Imf::FLOAT, 0.0f, {}, {}, {}};
    if (idPart >= 0) {
        const Imf::Channel* channel = file.header(idPart).channels().findChannel(idChannel);
        idPlane.type = channel->type == Imf::UINT ? Imf::UINT : Imf::FLOAT;
        ids.width = image.width;
        ids.height = image.height;
        if (!AllocateValues(ids.ids, width * height, request.outsideId, error)) {
            return 0;
        }
    }
    // Checks and stores the identifier of one frame pixel.
    const auto storeId = [&](size_t from, size_t to, size_t x, size_t y) {
        const double value = idPlane.type == Imf::UINT ? static_cast<double>(idPlane.uints[from])
                                                       : std::round(double{idPlane.floats[from]});
        if (!(value >= 0.0 && value <= request.maxId)) {
            const double shown = idPlane.type == Imf::UINT ? value : double{idPlane.floats[from]};
            error = DescribeIdOutOfRange(FormatIdValue(shown), static_cast<int>(x),
                                         static_cast<int>(y), request.maxId);
            return 0;
        }
        const auto stored = static_cast<uint16_t>(value);
        ids.ids[to] = request.standsFor != nullptr ? request.standsFor[stored] : stored;
        return 1;
    };
    const bool idsWithColor = idPart == source.part;
    if (idsWithColor) {
        colorPlanes.push_back(&idPlane);
    }
    // Half channels (what renderers write) are read as stored and converted by table: there are
    // only 65536 halves, and the transfer function per pixel took most of a frame's decoding.
    const Imf::ChannelList& stored = file.header(source.part).channels();
    const bool halves = std::all_of(colorPlanes.begin(), colorPlanes.end(), [&](Plane* plane) {
        const Imf::Channel* channel = stored.findChannel(plane->channel);
        return plane == &idPlane || (channel != nullptr && channel->type == Imf::HALF);
    });
    if (halves) {
        for (Plane* plane : colorPlanes) {
            if (plane != &idPlane) {
                plane->type = Imf::HALF;
            }
        }
    }
    const uint16_t* colourTable = HalfTo16Table(request.linear);
    const uint16_t* alphaTable = HalfTo16Table(true);
    const int colorRead =
        ReadRowsInFrame(file, source.part, frame, colorPlanes, [&](const Imath::Box2i& strip) {
            if (halves) {
                const std::vector<Imath::half>& g = grey ? red.halves : green.halves;
                const std::vector<Imath::half>& b = grey ? red.halves : blue.halves;
                return ForEachPixelInFrame(
                    strip, frame, [&](size_t from, size_t to, size_t x, size_t y) {
                        const uint16_t wide[4] = {
                            colourTable[red.halves[from].bits()], colourTable[g[from].bits()],
                            colourTable[b[from].bits()],
                            source.alpha.empty() ? uint16_t{65535}
                                                 : alphaTable[alpha.halves[from].bits()]};
                        std::memcpy(&image.rgba[4 * to], wide, sizeof wide);
                        return idsWithColor ? storeId(from, to, x, y) : 1;
                    });
            }
            const std::vector<float>& g = grey ? red.floats : green.floats;
            const std::vector<float>& b = grey ? red.floats : blue.floats;
            return ForEachPixelInFrame(
                strip, frame, [&](size_t from, size_t to, size_t x, size_t y) {
                    uint16_t* out = &image.rgba[4 * to];
                    out[0] = ExrColorTo16(red.floats[from], request.linear);
                    out[1] = ExrColorTo16(g[from], request.linear);
                    out[2] = ExrColorTo16(b[from], request.linear);
                    out[3] = source.alpha.empty() ? uint16_t{65535}
                                                  : ScaleTo16(ClampUnit(alpha.floats[from]));
                    return idsWithColor ? storeId(from, to, x, y) : 1;
                });
        });
    if (!colorRead) {
        return 0;
    }
    if (idPart >= 0 && !idsWithColor) {
        return ReadRowsInFrame(file, idPart, frame, {&idPlane}, [&](const Imath::Box2i& strip) {
            return ForEachPixelInFrame(strip, frame, storeId);
        });
    }
    return 1;
}

// What the headers say against reading the channels `plan` found and the identifier channel
// the request names: the refusals ReadExr makes before it decodes, the memory decoding takes
// (CheckDecodeMemory) included. `idPart` and `idChannel` are where the identifiers are (-1 and
// "" when the request names none); `decodeBytes` what decoding the parts takes.
int CheckChannels(Imf::MultiPartInputFile& file, const ExrRequest& request, const FramePlan& plan,
                  int& idPart, std::string& idChannel, uint64_t& decodeBytes, std::string& error) {
    const ColorSource& source = plan.color;
    for (const std::string& name : {source.red, source.green, source.blue, source.alpha}) {
        if (!name.empty() && !CheckSampling(file.header(source.part), name, error)) {
            return 0;
        }
    }
    idPart = -1;
    idChannel.clear();
    if (!request.idChannel.empty()) {
        idPart = FindIdChannel(file, request.idChannel, plan.view, source.part, idChannel);
        if (idPart < 0) {
            error = "no channel '" + Printable(request.idChannel) +
                    "'; channels: " + ListChannels(file);
            return 0;
        }
        if (IsDeep(file.header(idPart))) {
            error = "channel '" + Printable(request.idChannel) + "' is in " +
                    DeepRefusal(file.header(idPart));
            return 0;
        }
        if (!CheckSampling(file.header(idPart), idChannel, error)) {
            return 0;
        }
    }
    // Before the full reader opens a part, which allocates its buffers.
    const size_t colorPlanes = (source.green == source.red ? 1 : 3) +
                               (source.alpha.empty() ? 0 : 1) + (idPart == source.part ? 1 : 0);
    uint64_t idBytes = 0;
    if (!CheckDecodeMemory(file.header(source.part), source.part, colorPlanes, request.maxPixels,
                           decodeBytes, error) ||
        (idPart >= 0 && idPart != source.part &&
         !CheckDecodeMemory(file.header(idPart), idPart, 1, request.maxPixels, idBytes, error))) {
        return 0;
    }
    decodeBytes = std::max(decodeBytes, idBytes);
    return 1;
}

int ReadExrOrThrow(const std::string& path, const ExrRequest& request, ColorImage& image,
                   IdImage& ids, std::string& error, uint64_t& decodeBytes) {
    uint64_t fileSize = 0;
    if (!CheckHeaders(path, fileSize, error)) {
        return 0;
    }
    const std::unique_ptr<Imf::MultiPartInputFile> file = OpenFullReader(path, fileSize, error);
    if (file == nullptr) {
        return 0;
    }
    FramePlan plan;
    if (!PlanFrame(*file, request, plan, error)) {
        return 0;
    }
    const ColorSource& source = plan.color;
    int idPart = -1;
    std::string idChannel;
    if (!CheckChannels(*file, request, plan, idPart, idChannel, decodeBytes, error)) {
        return 0;
    }
    // What the check above does not see (the sizes a chunk itself claims to a decompressor,
    // say) is capped at what decoding may take.
    const uint64_t limit = DecodeLimit(request.maxPixels);
    const AllocationCap cap(static_cast<size_t>(std::min<uint64_t>(limit, SIZE_MAX)));
    try {
        // A damaged or truncated file can claim a huge data window in a few hundred bytes:
        // refuse it before allocating planes for that window.
        for (const int part : {source.part, idPart}) {
            if (part >= 0 && !Imf::InputPart(*file, part).isComplete()) {
                error = "the file is incomplete (truncated or damaged)";
                return 0;
            }
        }
        return DecodeFrame(*file, request, plan, idPart, idChannel, image, ids, error);
    } catch (const std::exception&) {
        if (cap.Refused() == 0) {
            throw;
        }
        error = "damaged: decoding it asked for " + FormatBytes(cap.Refused()) +
                " at once, more than the " + FormatBytes(limit) + " that --max-pixels " +
                std::to_string(request.maxPixels) + " allows";
    }
    return 0;
}

int ReadExrFrameInfoOrThrow(const std::string& path, const ExrRequest& request, ExrFrameInfo& info,
                            std::string& error) {
    uint64_t fileSize = 0;
    if (!CheckHeaders(path, fileSize, error)) {
        return 0;
    }
    const std::unique_ptr<Imf::MultiPartInputFile> file = OpenFullReader(path, fileSize, error);
    FramePlan plan;
    int idPart = -1;
    std::string idChannel;
    uint64_t decodeBytes = 0;
    if (file == nullptr || !PlanFrame(*file, request, plan, error) ||
        !CheckChannels(*file, request, plan, idPart, idChannel, decodeBytes, error)) {
        return 0;
    }
    info.width = plan.window.max.x - plan.window.min.x + 1;
    info.height = plan.window.max.y - plan.window.min.y + 1;
    info.views.clear();
    for (const std::string& view : plan.views) {
        info.views.push_back(Printable(view));
    }
    info.view = Printable(plan.view);
    return 1;
}

// The library reports every failure, a damaged file included, by throwing. Out of memory, the
// message says what decoding was found to take, when that was worked out (`decodeBytes`).
int Guarded(const std::function<int()>& read, const uint64_t& decodeBytes, std::string& error) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        error = "not enough memory to decode it" +
                (decodeBytes > 0 ? ", which takes about " + FormatBytes(decodeBytes) : "");
    } catch (const std::exception& failure) {
        error = Printable(failure.what());
    } catch (...) {
        error = "the OpenEXR library failed to decode it";
    }
    return 0;
}

}  // namespace

uint16_t ExrColorTo16(float value, bool linear) {
    double v = value;
    if (!linear && v > 0.0) {
        v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    }
    return ScaleTo16(ClampUnit(v));
}

bool LooksLikeExr(const unsigned char* head, size_t size) {
    return size >= 4 && head[0] == 0x76 && head[1] == 0x2f && head[2] == 0x31 && head[3] == 0x01;
}

int ReadExr(const std::string& path, const ExrRequest& request, ColorImage& image, IdImage& ids,
            std::string& error) {
    uint64_t decodeBytes = 0;
    return Guarded([&] { return ReadExrOrThrow(path, request, image, ids, error, decodeBytes); },
                   decodeBytes, error);
}

int ReadExrFrameInfo(const std::string& path, const ExrRequest& request, ExrFrameInfo& info,
                     std::string& error) {
    const uint64_t unknown = 0;
    return Guarded([&] { return ReadExrFrameInfoOrThrow(path, request, info, error); }, unknown,
                   error);
}

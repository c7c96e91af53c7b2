// Decodes OpenEXR files (multi-part and multi-layer) to 16-bit RGBA and identifiers.
#include "kelvo/imageio/exr_image.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfPartType.h>
#include <openexr.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <new>
#include <set>
#include <vector>

namespace {

bool IsFlat(const Imf::Header& header) {
    return !header.hasType() ||
           (header.type() != Imf::DEEPSCANLINE && header.type() != Imf::DEEPTILE);
}

bool HasChannel(const Imf::Header& header, const std::string& name) {
    return header.channels().findChannel(name) != nullptr;
}

// Where the colour comes from: a part and its channel names (alpha empty when absent).
struct ColorSource {
    int part = -1;
    std::string red, green, blue, alpha;
};

int FindColor(Imf::MultiPartInputFile& file, const std::string& layer, ColorSource& source) {
    const std::string prefix = layer.empty() ? "" : layer + ".";
    const std::string partName = layer;
    for (int part = 0; part < file.parts(); ++part) {
        const Imf::Header& header = file.header(part);
        if (!IsFlat(header)) {
            continue;
        }
        for (const std::string& candidate : {prefix, std::string()}) {
            // A part named after the layer may hold plain R, G, B.
            if (candidate.empty() && !prefix.empty() &&
                !(header.hasName() && header.name() == partName)) {
                continue;
            }
            if (HasChannel(header, candidate + "R") && HasChannel(header, candidate + "G") &&
                HasChannel(header, candidate + "B")) {
                source = {part, candidate + "R", candidate + "G", candidate + "B",
                          HasChannel(header, candidate + "A") ? candidate + "A" : ""};
                return 1;
            }
        }
    }
    if (layer.empty()) {
        for (int part = 0; part < file.parts(); ++part) {
            const Imf::Header& header = file.header(part);
            if (IsFlat(header) && HasChannel(header, "Y")) {
                source = {part, "Y", "Y", "Y", HasChannel(header, "A") ? "A" : ""};
                return 1;
            }
        }
    }
    return 0;
}

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
    std::string list;
    for (const std::string& layer : ColourLayers(file)) {
        list += (list.empty() ? "" : ", ") + layer;
    }
    return list.empty() ? "none" : list;
}

std::string ListChannels(Imf::MultiPartInputFile& file) {
    std::string list;
    int count = 0;
    for (int part = 0; part < file.parts(); ++part) {
        const Imf::Header& header = file.header(part);
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
            if (++count > 24) {
                return list + ", ...";
            }
            list += (list.empty() ? "" : ", ") + std::string(it.name());
        }
    }
    return list.empty() ? "none" : list;
}

int FindPartWithChannel(Imf::MultiPartInputFile& file, const std::string& name, int preferred) {
    if (HasChannel(file.header(preferred), name)) {
        return preferred;
    }
    for (int part = 0; part < file.parts(); ++part) {
        if (IsFlat(file.header(part)) && HasChannel(file.header(part), name)) {
            return part;
        }
    }
    return -1;
}

int CheckSampling(const Imf::Header& header, const std::string& name, std::string& error) {
    const Imf::Channel* channel = header.channels().findChannel(name);
    if (channel != nullptr && (channel->xSampling != 1 || channel->ySampling != 1)) {
        error = "channel '" + name + "' is subsampled, which is not supported";
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

// Reads whole-frame float (or unsigned int) planes of the named channels of one part.
struct Plane {
    std::string channel;
    Imf::PixelType type;
    float fill;
    std::vector<float> floats;
    std::vector<uint32_t> uints;
};

void ReadPlanes(Imf::MultiPartInputFile& file, int part, const Imath::Box2i& window,
                std::vector<Plane*> planes) {
    Imf::InputPart input(file, part);
    Imf::FrameBuffer frameBuffer;
    const size_t count = static_cast<size_t>(window.max.x - window.min.x + 1) *
                         static_cast<size_t>(window.max.y - window.min.y + 1);
    for (Plane* plane : planes) {
        void* base = nullptr;
        if (plane->type == Imf::UINT) {
            plane->uints.assign(count, 0);
            base = plane->uints.data();
        } else {
            plane->floats.assign(count, plane->fill);
            base = plane->floats.data();
        }
        frameBuffer.insert(plane->channel,
                           Imf::Slice::Make(plane->type, base, window, 0, 0, 1, 1, plane->fill));
    }
    input.setFrameBuffer(frameBuffer);
    input.readPixels(window.min.y, window.max.y);
}

// The full reader trusts the sizes its headers claim: a damaged file of a few hundred bytes
// can make it allocate gigabytes for one attribute, its chunk tables or its pixel planes
// before it fails. The headers are therefore read first by the library's checking core
// reader, and a file it refuses, or one claiming a window no frame can have or more chunks
// than the file could hold, is refused before the full reader sees it.
void KeepFirstMessage(exr_const_context_t context, exr_result_t, const char* message) {
    void* data = nullptr;
    if (exr_get_user_data(context, &data) == EXR_ERR_SUCCESS && data != nullptr) {
        auto* first = static_cast<std::string*>(data);
        if (first->empty() && message != nullptr) {
            // The message quotes names from the file: keep its bytes off the terminal.
            for (const char* c = message; *c != '\0'; ++c) {
                first->push_back(*c >= ' ' && *c <= '~' ? *c : '?');
            }
        }
    }
}

int CheckHeaders(const std::string& path, std::string& error) {
    std::string message;
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.error_handler_fn = KeepFirstMessage;
    init.user_data = &message;
    exr_context_t context = nullptr;
    if (exr_start_read(&context, path.c_str(), &init) != EXR_ERR_SUCCESS) {
        exr_finish(&context);
        error = message.empty() ? "not a readable OpenEXR file" : message;
        return 0;
    }
    std::error_code sizeError;
    const uintmax_t fileSize = std::filesystem::file_size(path, sizeError);
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
            error = "data window of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels in part " + std::to_string(part) +
                    "; a frame has 1 to 65535 pixels on each side";
            result = 0;
        } else if (!sizeError && static_cast<uintmax_t>(chunks) * 8 > fileSize) {
            // Every chunk has an 8-byte entry in the offset table.
            error = "the file is incomplete (truncated or damaged)";
            result = 0;
        }
    }
    exr_finish(&context);
    return result;
}

int ReadExrOrThrow(const std::string& path, const ExrRequest& request, ColorImage& image,
                   IdImage& ids, std::string& error) {
    if (!CheckHeaders(path, error)) {
        return 0;
    }
    Imf::MultiPartInputFile file(path.c_str());
    ColorSource source;
    // A file whose colour is in one layer alone (a renderer's "ViewLayer.Combined") needs no
    // --layer to say which.
    const std::set<std::string> layers =
        request.layer.empty() ? ColourLayers(file) : std::set<std::string>{};
    if (!FindColor(file, request.layer, source) &&
        (layers.size() != 1 || !FindColor(file, *layers.begin(), source))) {
        error = request.layer.empty()
                    ? "no R, G, B channels; layers with colour: " + ListLayers(file) +
                          " (choose one with --layer)"
                    : "no layer '" + request.layer + "'; layers with colour: " + ListLayers(file);
        return 0;
    }
    const Imf::Header& header = file.header(source.part);
    const Imath::Box2i window = header.dataWindow();
    const int64_t width = int64_t{window.max.x} - window.min.x + 1;
    const int64_t height = int64_t{window.max.y} - window.min.y + 1;
    if (width < 1 || height < 1 || width > FRAME_MAX_SIDE || height > FRAME_MAX_SIDE) {
        error = "data window of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels; a frame has 1 to 65535 pixels on each side";
        return 0;
    }
    // A damaged or truncated file can claim a huge data window in a few hundred bytes: refuse
    // it before allocating planes for that window.
    if (!Imf::InputPart(file, source.part).isComplete()) {
        error = "the file is incomplete (truncated or damaged)";
        return 0;
    }
    for (const std::string& name : {source.red, source.green, source.blue, source.alpha}) {
        if (!name.empty() && !CheckSampling(header, name, error)) {
            return 0;
        }
    }
    int idPart = -1;
    if (!request.idChannel.empty()) {
        idPart = FindPartWithChannel(file, request.idChannel, source.part);
        if (idPart < 0) {
            error = "no channel '" + request.idChannel + "'; channels: " + ListChannels(file);
            return 0;
        }
        const Imath::Box2i idWindow = file.header(idPart).dataWindow();
        if (idWindow != window) {
            error = "channel '" + request.idChannel +
                    "' covers another data window than the colour channels";
            return 0;
        }
        if (!CheckSampling(file.header(idPart), request.idChannel, error)) {
            return 0;
        }
        if (!Imf::InputPart(file, idPart).isComplete()) {
            error = "the file is incomplete (truncated or damaged)";
            return 0;
        }
    }

    Plane red{source.red, Imf::FLOAT, 0.0f, {}, {}};
    Plane green{source.green, Imf::FLOAT, 0.0f, {}, {}};
    Plane blue{source.blue, Imf::FLOAT, 0.0f, {}, {}};
    Plane alpha{source.alpha.empty() ? "A" : source.alpha, Imf::FLOAT, 1.0f, {}, {}};
    std::vector<Plane*> colourPlanes = {&red};
    if (green.channel != red.channel) {
        colourPlanes.push_back(&green);
        colourPlanes.push_back(&blue);
    }
    if (!source.alpha.empty()) {
        colourPlanes.push_back(&alpha);
    }
    Plane idPlane{request.idChannel, Imf::FLOAT, 0.0f, {}, {}};
    if (idPart >= 0) {
        const Imf::Channel* channel = file.header(idPart).channels().findChannel(request.idChannel);
        idPlane.type = channel->type == Imf::UINT ? Imf::UINT : Imf::FLOAT;
        if (idPart == source.part) {
            colourPlanes.push_back(&idPlane);
        } else {
            ReadPlanes(file, idPart, window, {&idPlane});
        }
    }
    ReadPlanes(file, source.part, window, colourPlanes);

    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const std::vector<float>& g = green.channel != red.channel ? green.floats : red.floats;
    const std::vector<float>& b = green.channel != red.channel ? blue.floats : red.floats;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.rgba.resize(count * 4);
    for (size_t i = 0; i < count; ++i) {
        image.rgba[4 * i] = ExrColorTo16(red.floats[i], request.linear);
        image.rgba[4 * i + 1] = ExrColorTo16(g[i], request.linear);
        image.rgba[4 * i + 2] = ExrColorTo16(b[i], request.linear);
        image.rgba[4 * i + 3] =
            source.alpha.empty() ? uint16_t{65535} : ScaleTo16(ClampUnit(alpha.floats[i]));
    }
    ids = IdImage{};
    if (idPart < 0) {
        return 1;
    }
    ids.width = image.width;
    ids.height = image.height;
    ids.ids.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const double value = idPlane.type == Imf::UINT ? static_cast<double>(idPlane.uints[i])
                                                       : std::round(double{idPlane.floats[i]});
        if (!(value >= 0.0 && value <= request.maxId)) {
            const int x = static_cast<int>(i % static_cast<size_t>(width));
            const int y = static_cast<int>(i / static_cast<size_t>(width));
            const double shown = idPlane.type == Imf::UINT ? value : double{idPlane.floats[i]};
            error = DescribeIdOutOfRange(FormatIdValue(shown), x, y, request.maxId);
            return 0;
        }
        ids.ids[i] = static_cast<uint16_t>(value);
    }
    return 1;
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
    // The library reports every failure, a damaged file included, by throwing.
    try {
        return ReadExrOrThrow(path, request, image, ids, error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to decode it";
    } catch (const std::exception& failure) {
        error = failure.what();
    } catch (...) {
        error = "the OpenEXR library failed to decode it";
    }
    return 0;
}

// Decodes OpenEXR files (multi-part, multi-layer and multi-view) to 16-bit RGBA and identifiers.
#include "kelvo/imageio/exr_image.h"

#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "kelvo/imageio/exr_color.h"
#include "kelvo/imageio/exr_file.h"
#include "kelvo/imageio/exr_layers.h"
#include "kelvo/imageio/exr_memory.h"
#include "kelvo/imageio/exr_window.h"

namespace {

// Decodes the frame `plan` found (and the identifiers of `idChannel` in `idPart`, when that
// is not -1) into `image` and `ids`.
int DecodeFrame(Imf::MultiPartInputFile& file, const ExrRequest& request, const ExrFramePlan& plan,
                int idPart, const std::string& idChannel, ColorImage& image, IdImage& ids,
                std::string& error) {
    const ExrColorSource& source = plan.color;
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

    ExrPlane red{source.red, Imf::FLOAT, 0.0f, {}, {}, {}};
    ExrPlane green{source.green, Imf::FLOAT, 0.0f, {}, {}, {}};
    ExrPlane blue{source.blue, Imf::FLOAT, 0.0f, {}, {}, {}};
    ExrPlane alpha{source.alpha, Imf::FLOAT, 1.0f, {}, {}, {}};
    const bool grey = source.green == source.red;
    std::vector<ExrPlane*> colorPlanes = {&red};
    if (!grey) {
        colorPlanes.push_back(&green);
        colorPlanes.push_back(&blue);
    }
    if (!source.alpha.empty()) {
        colorPlanes.push_back(&alpha);
    }
    ExrPlane idPlane{idChannel, Imf::FLOAT, 0.0f, {}, {}, {}};
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
    const bool halves = std::all_of(colorPlanes.begin(), colorPlanes.end(), [&](ExrPlane* plane) {
        const Imf::Channel* channel = stored.findChannel(plane->channel);
        return plane == &idPlane || (channel != nullptr && channel->type == Imf::HALF);
    });
    if (halves) {
        for (ExrPlane* plane : colorPlanes) {
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
int CheckChannels(Imf::MultiPartInputFile& file, const ExrRequest& request,
                  const ExrFramePlan& plan, int& idPart, std::string& idChannel,
                  uint64_t& decodeBytes, std::string& error) {
    const ExrColorSource& source = plan.color;
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

// An OpenEXR file opened once, its headers checked, and the full reader on the same handle;
// the members end in the reverse order, the reader first.
struct OpenedExr {
    ExrFile file;
    std::unique_ptr<ExrStream> stream;
    std::unique_ptr<Imf::MultiPartInputFile> reader;
};

int OpenAndCheck(const std::string& path, OpenedExr& opened, std::string& error) {
    if (!OpenExrFile(path, opened.file, error) || !CheckHeaders(opened.file, error)) {
        return 0;
    }
    opened.stream = std::make_unique<ExrStream>(opened.file);
    opened.reader = OpenFullReader(*opened.stream, opened.file.size, error);
    return opened.reader != nullptr ? 1 : 0;
}

int ReadExrOrThrow(const std::string& path, const ExrRequest& request, ColorImage& image,
                   IdImage& ids, std::string& error, uint64_t& decodeBytes) {
    OpenedExr opened;
    if (!OpenAndCheck(path, opened, error)) {
        return 0;
    }
    Imf::MultiPartInputFile& file = *opened.reader;
    ExrFramePlan plan;
    if (!PlanFrame(file, request, plan, error)) {
        return 0;
    }
    const ExrColorSource& source = plan.color;
    int idPart = -1;
    std::string idChannel;
    if (!CheckChannels(file, request, plan, idPart, idChannel, decodeBytes, error)) {
        return 0;
    }
    // A damaged or truncated file can claim a huge data window in a few hundred bytes:
    // refuse it before allocating planes for that window.
    return DecodeUnderCap(
        request.maxPixels,
        [&] {
            for (const int part : {source.part, idPart}) {
                if (part >= 0 && !Imf::InputPart(file, part).isComplete()) {
                    error = "the file is incomplete (truncated or damaged)";
                    return 0;
                }
            }
            return DecodeFrame(file, request, plan, idPart, idChannel, image, ids, error);
        },
        error);
}

int ReadExrFrameInfoOrThrow(const std::string& path, const ExrRequest& request, ExrFrameInfo& info,
                            std::string& error) {
    OpenedExr opened;
    ExrFramePlan plan;
    int idPart = -1;
    std::string idChannel;
    uint64_t decodeBytes = 0;
    if (!OpenAndCheck(path, opened, error) || !PlanFrame(*opened.reader, request, plan, error) ||
        !CheckChannels(*opened.reader, request, plan, idPart, idChannel, decodeBytes, error)) {
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

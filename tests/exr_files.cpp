// Writes small OpenEXR inputs with OpenEXR for the host's tests.
#include "tests/exr_files.h"

#include <ImfChannelList.h>
#include <ImfCompression.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputPart.h>
#include <ImfDeepTiledOutputPart.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIntAttribute.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfTiledOutputPart.h>
#include <half.h>

#include <cstdint>

namespace {

Imf::Header MakeHeader(const TestExrPart& part, size_t index, size_t parts, bool deepFile) {
    const Imath::Box2i data({part.originX, part.originY},
                            {part.originX + part.width - 1, part.originY + part.height - 1});
    const Imath::Box2i display = part.displayWidth == 0
                                     ? data
                                     : Imath::Box2i({part.displayX, part.displayY},
                                                    {part.displayX + part.displayWidth - 1,
                                                     part.displayY + part.displayHeight - 1});
    Imf::Header header(display, data);
    // Deep data takes no compression beyond ZIPS.
    header.compression() = static_cast<Imf::Compression>(
        part.deep && part.compression > Imf::ZIPS_COMPRESSION ? Imf::ZIPS_COMPRESSION
                                                              : part.compression);
    for (const TestExrChannel& channel : part.channels) {
        header.channels().insert(channel.name,
                                 Imf::Channel(static_cast<Imf::PixelType>(channel.type)));
    }
    if (part.tileSide > 0) {
        header.setTileDescription(Imf::TileDescription(static_cast<unsigned>(part.tileSide),
                                                       static_cast<unsigned>(part.tileSide)));
        header.setType(part.deep ? Imf::DEEPTILE : Imf::TILEDIMAGE);
    } else {
        header.setType(part.deep ? Imf::DEEPSCANLINE : Imf::SCANLINEIMAGE);
    }
    if (parts > 1 || !part.name.empty()) {
        header.setName(part.name.empty() ? "part" + std::to_string(index) : part.name);
    }
    if (deepFile) {
        // The core reader wants it of every part of a file with deep data; the library writes
        // it itself only into single-part deep files.
        header.insert("version", Imf::IntAttribute(1));
    }
    if (!part.view.empty()) {
        header.setView(part.view);
    }
    if (!part.multiView.empty()) {
        Imf::addMultiView(header, part.multiView);
    }
    return header;
}

// Where pixel (0, 0) of a buffer would be that holds the data window from `window`'s origin,
// in `stride`-byte steps (computed on integers: the address lies outside the buffer).
char* BaseFor(const void* data, const Imath::Box2i& window, size_t stride) {
    const int64_t first = int64_t{window.min.y} * (window.max.x - window.min.x + 1) + window.min.x;
    return reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(data) -
                                   static_cast<uintptr_t>(first * static_cast<int64_t>(stride)));
}

// One deep sample per pixel: its values are the flat ones.
void WriteDeepPart(Imf::MultiPartOutputFile& file, int index, const TestExrPart& part,
                   const Imath::Box2i& window) {
    const size_t pixels = static_cast<size_t>(part.width) * static_cast<size_t>(part.height);
    const std::vector<unsigned> counts(pixels, 1);
    std::vector<std::vector<const float*>> samples(part.channels.size());
    Imf::DeepFrameBuffer frameBuffer;
    frameBuffer.insertSampleCountSlice(Imf::Slice::Make(Imf::UINT, counts.data(), window));
    for (size_t c = 0; c < part.channels.size(); ++c) {
        for (size_t i = 0; i < pixels; ++i) {
            samples[c].push_back(&part.channels[c].values[i]);
        }
        const size_t stride = sizeof(const float*);
        frameBuffer.insert(
            part.channels[c].name,
            Imf::DeepSlice(Imf::FLOAT, BaseFor(samples[c].data(), window, stride), stride,
                           stride * static_cast<size_t>(part.width), sizeof(float)));
    }
    if (part.tileSide > 0) {
        Imf::DeepTiledOutputPart output(file, index);
        output.setFrameBuffer(frameBuffer);
        output.writeTiles(0, output.numXTiles() - 1, 0, output.numYTiles() - 1);
    } else {
        Imf::DeepScanLineOutputPart output(file, index);
        output.setFrameBuffer(frameBuffer);
        output.writePixels(part.height);
    }
}

}  // namespace

void WriteTestExr(const std::string& path, const std::vector<TestExrPart>& parts) {
    bool deepFile = false;
    for (const TestExrPart& part : parts) {
        deepFile = deepFile || part.deep;
    }
    std::vector<Imf::Header> headers;
    for (const TestExrPart& part : parts) {
        headers.push_back(MakeHeader(part, headers.size(), parts.size(), deepFile));
    }
    Imf::MultiPartOutputFile file(path.c_str(), headers.data(), static_cast<int>(headers.size()));
    for (size_t p = 0; p < parts.size(); ++p) {
        const TestExrPart& part = parts[p];
        const Imath::Box2i window = headers[p].dataWindow();
        const int index = static_cast<int>(p);
        if (part.deep) {
            WriteDeepPart(file, index, part, window);
            continue;
        }
        // Converted copies of each channel in the type the file stores.
        std::vector<std::vector<half>> halves;
        std::vector<std::vector<uint32_t>> uints;
        halves.reserve(part.channels.size());
        uints.reserve(part.channels.size());
        Imf::FrameBuffer frameBuffer;
        for (const TestExrChannel& channel : part.channels) {
            const void* base = channel.values.data();
            if (channel.type == Imf::HALF) {
                halves.emplace_back(channel.values.begin(), channel.values.end());
                base = halves.back().data();
            } else if (channel.type == Imf::UINT) {
                uints.emplace_back();
                for (float value : channel.values) {
                    uints.back().push_back(static_cast<uint32_t>(value));
                }
                base = uints.back().data();
            }
            frameBuffer.insert(
                channel.name,
                Imf::Slice::Make(static_cast<Imf::PixelType>(channel.type), base, window));
        }
        if (part.tileSide > 0) {
            Imf::TiledOutputPart output(file, index);
            output.setFrameBuffer(frameBuffer);
            output.writeTiles(0, output.numXTiles() - 1, 0, output.numYTiles() - 1);
        } else {
            Imf::OutputPart output(file, index);
            output.setFrameBuffer(frameBuffer);
            output.writePixels(part.height);
        }
    }
}

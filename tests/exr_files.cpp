// Writes small OpenEXR inputs with OpenEXR for the host's tests.
#include "tests/exr_files.h"

#include <ImfChannelList.h>
#include <ImfCompression.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <half.h>

#include <cstdint>

void WriteTestExr(const std::string& path, const std::vector<TestExrPart>& parts) {
    std::vector<Imf::Header> headers;
    for (const TestExrPart& part : parts) {
        Imf::Header header(
            Imath::Box2i({0, 0}, {part.width - 1, part.height - 1}),
            Imath::Box2i({part.originX, part.originY},
                         {part.originX + part.width - 1, part.originY + part.height - 1}));
        header.compression() = static_cast<Imf::Compression>(part.compression);
        for (const TestExrChannel& channel : part.channels) {
            header.channels().insert(channel.name,
                                     Imf::Channel(static_cast<Imf::PixelType>(channel.type)));
        }
        header.setType(Imf::SCANLINEIMAGE);
        if (parts.size() > 1 || !part.name.empty()) {
            header.setName(part.name.empty() ? "part" + std::to_string(headers.size()) : part.name);
        }
        headers.push_back(header);
    }
    Imf::MultiPartOutputFile file(path.c_str(), headers.data(), static_cast<int>(headers.size()));
    for (size_t p = 0; p < parts.size(); ++p) {
        const TestExrPart& part = parts[p];
        const Imath::Box2i window = headers[p].dataWindow();
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
        Imf::OutputPart output(file, static_cast<int>(p));
        output.setFrameBuffer(frameBuffer);
        output.writePixels(part.height);
    }
}

// Reads the input frames named on the command line: colour files and identifier passes.
#include "kelvo/batch/frame_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "kelvo/batch/frame_pattern.h"
#include "kelvo/imageio/exr_image.h"
#include "kelvo/imageio/png_image.h"

namespace {

enum ImageKind { IMAGE_UNREADABLE, IMAGE_PNG, IMAGE_EXR, IMAGE_OTHER };

ImageKind SniffImage(const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return IMAGE_UNREADABLE;
    }
    unsigned char head[8] = {};
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (LooksLikePng(head, got)) {
        return IMAGE_PNG;
    }
    if (LooksLikeExr(head, got)) {
        return IMAGE_EXR;
    }
    error = "not a PNG or OpenEXR file";
    return IMAGE_OTHER;
}

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

std::string SizeText(const ColorImage& image) {
    return std::to_string(image.width) + " x " + std::to_string(image.height);
}

// The identifier each stored value stands for (--id-map); empty without a map.
std::vector<uint16_t> IdMapTable(const InputOptions& options) {
    std::vector<uint16_t> standsFor;
    if (options.idMap.empty()) {
        return standsFor;
    }
    standsFor.resize(65536);
    for (size_t value = 0; value < standsFor.size(); ++value) {
        standsFor[value] = static_cast<uint16_t>(value);
    }
    for (const auto& [value, id] : options.idMap) {
        standsFor[value] = id;
    }
    return standsFor;
}

int LoadOrThrow(const InputFrame& input, const InputOptions& options, DecodedFrame& frame,
                std::string& error) {
    const std::string& path = input.colorPath;
    std::string reason;
    const std::vector<uint16_t> standsFor = IdMapTable(options);
    bool idsMapped = false;
    const ImageKind kind = SniffImage(path, reason);
    if (kind == IMAGE_UNREADABLE || kind == IMAGE_OTHER) {
        error = "cannot read " + Quote(path) + ": " + reason;
        return 0;
    }
    if (kind == IMAGE_PNG) {
        const char* const exrOption = !options.exr.layer.empty()       ? "--layer"
                                      : !options.exr.idChannel.empty() ? "--id-channel"
                                      : !options.exr.view.empty()      ? "--view"
                                                                       : nullptr;
        if (exrOption != nullptr) {
            error = Quote(path) + " is a PNG; " + exrOption + " needs OpenEXR input";
            return 0;
        }
        if (!ReadColorPng(path, frame.color, reason, options.exr.maxPixels)) {
            error = "cannot read " + Quote(path) + ": " + reason;
            return 0;
        }
        frame.ids = IdImage{};
    } else {
        // With a map the stored values may be anything; the identifiers are checked below.
        // The reader maps them, so that pixels with no stored identifier take the background
        // identifier itself (without a background, what a stored 0 would stand for).
        ExrRequest request = options.exr;
        request.maxId = standsFor.empty() ? options.exr.maxId : 65535;
        request.standsFor = standsFor.empty() ? nullptr : standsFor.data();
        request.outsideId = options.backgroundId >= 0 ? static_cast<uint16_t>(options.backgroundId)
                            : standsFor.empty()       ? uint16_t{0}
                                                      : standsFor[0];
        if (!ReadExr(path, request, frame.color, frame.ids, reason)) {
            error = "cannot read " + Quote(path) + ": " + reason;
            return 0;
        }
        idsMapped = true;
        if (options.exrFrameWidth > 0 && (frame.color.width != options.exrFrameWidth ||
                                          frame.color.height != options.exrFrameHeight)) {
            error = Quote(path) + " has a display window of " + SizeText(frame.color) +
                    " pixels, but " + Quote(options.exrFrameSizeFrom) + " has " +
                    std::to_string(options.exrFrameWidth) + " x " +
                    std::to_string(options.exrFrameHeight) +
                    ": the frames of one run must have one size";
            return 0;
        }
    }
    std::string idsFrom = "cannot read " + Quote(path);
    if (!options.idsPattern.empty()) {
        const std::string idsPath = ExpandFramePattern(options.idsPattern, input.sourceNumber);
        idsFrom = "identifiers " + Quote(idsPath);
        // The size from the header first: a pass of another size is refused undecoded.
        PngHeader header;
        if (!ReadPngHeader(idsPath, header, reason)) {
            error = "cannot read identifiers " + Quote(idsPath) + ": " + reason;
            return 0;
        }
        if (header.width != frame.color.width || header.height != frame.color.height) {
            error = idsFrom + " are " + std::to_string(header.width) + " x " +
                    std::to_string(header.height) + " pixels but colour " + Quote(path) + " is " +
                    std::to_string(frame.color.width) + " x " + std::to_string(frame.color.height);
            return 0;
        }
        if (!ReadIdPng(idsPath, frame.ids, reason, options.exr.maxPixels)) {
            error = "cannot read identifiers " + Quote(idsPath) + ": " + reason;
            return 0;
        }
        idsMapped = false;
    }
    if (!standsFor.empty() && !idsMapped) {
        for (uint16_t& id : frame.ids.ids) {
            id = standsFor[id];
        }
    }
    for (size_t i = 0; i < frame.ids.ids.size(); ++i) {
        if (frame.ids.ids[i] > options.exr.maxId) {
            const auto width = static_cast<size_t>(frame.ids.width);
            error =
                idsFrom + ": " +
                DescribeIdOutOfRange(std::to_string(frame.ids.ids[i]), static_cast<int>(i % width),
                                     static_cast<int>(i / width), options.exr.maxId);
            return 0;
        }
    }
    if (options.backgroundId >= 0) {
        std::vector<uint16_t>& ids = frame.ids.ids;
        if (ids.empty()) {
            frame.ids = {frame.color.width, frame.color.height,
                         std::vector<uint16_t>(frame.color.rgba.size() / 4, 0)};
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            if (frame.color.rgba[4 * i + 3] < options.alphaBelow) {
                ids[i] = static_cast<uint16_t>(options.backgroundId);
            }
        }
    }
    return 1;
}

size_t FrameBytes(const DecodedFrame& frame) {
    return frame.color.rgba.size() * sizeof(uint16_t) + frame.ids.ids.size() * sizeof(uint16_t);
}

}  // namespace

std::string PrepareExrInputs(const std::vector<InputFrame>& frames, InputOptions& options) {
    for (const InputFrame& frame : frames) {
        std::string reason;
        ExrFrameInfo info;
        // A file that does not read is left to the check, which names it.
        if (SniffImage(frame.colorPath, reason) != IMAGE_EXR ||
            !ReadExrFrameInfo(frame.colorPath, options.exr, info, reason)) {
            continue;
        }
        if (options.exr.window == EXR_WINDOW_DISPLAY) {
            options.exrFrameWidth = info.width;
            options.exrFrameHeight = info.height;
            options.exrFrameSizeFrom = frame.colorPath;
        }
        if (!options.exr.view.empty() || info.views.size() < 2) {
            return "";
        }
        std::string views;
        for (size_t i = 0; i < info.views.size() && i < 8; ++i) {
            views += (views.empty() ? "" : ", ") + info.views[i];
        }
        views += info.views.size() > 8 ? ", ..." : "";
        return Quote(frame.colorPath) + " has the views " + views +
               "; reading its default view, '" + info.view + "' (--view NAME reads another)";
    }
    return "";
}

int FrameSizeFromHeaders(const InputFrame& input, const InputOptions& options, int& width,
                         int& height) {
    std::string reason;
    switch (SniffImage(input.colorPath, reason)) {
        case IMAGE_PNG: {
            unsigned char head[PNG_HEAD_SIZE] = {};
            FILE* file = std::fopen(input.colorPath.c_str(), "rb");
            if (file == nullptr) {
                return 0;
            }
            const size_t got = std::fread(head, 1, sizeof head, file);
            std::fclose(file);
            return PngSizeFromHead(head, got, width, height);
        }
        case IMAGE_EXR: {
            ExrFrameInfo info;
            if (!ReadExrFrameInfo(input.colorPath, options.exr, info, reason) ||
                (options.exrFrameWidth > 0 &&
                 (info.width != options.exrFrameWidth || info.height != options.exrFrameHeight))) {
                return 0;
            }
            width = info.width;
            height = info.height;
            return 1;
        }
        default:
            return 0;
    }
}

FrameSize LargestFrame(const std::vector<InputFrame>& frames, const InputOptions& options) {
    FrameSize largest;
    for (const InputFrame& frame : frames) {
        FrameSize size;
        if (!FrameSizeFromHeaders(frame, options, size.width, size.height)) {
            continue;
        }
        const int64_t pixels = int64_t{size.width} * size.height;
        if (pixels <= options.exr.maxPixels && pixels > int64_t{largest.width} * largest.height) {
            largest = size;
        }
    }
    return largest;
}

int LoadInputFrame(const InputFrame& input, const InputOptions& options, DecodedFrame& frame,
                   std::string& error) {
    try {
        return LoadOrThrow(input, options, frame, error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read '" + input.colorPath + "'";
        return 0;
    }
}

void IdCounts::Add(const IdCounts& other) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        pixels[id] += other.pixels[id];
    }
    beyond += other.beyond;
}

void CheckedFrames::Add(const CheckedFrames& other) {
    ids.Add(other.ids);
    minWidth = std::min(minWidth, other.minWidth);
    maxWidth = std::max(maxWidth, other.maxWidth);
    minHeight = std::min(minHeight, other.minHeight);
    maxHeight = std::max(maxHeight, other.maxHeight);
    luminance.Add(other.luminance);
}

FileFrameSource::FileFrameSource(std::vector<InputFrame> frames, InputOptions options,
                                 size_t cacheBytes)
    : frames_(std::move(frames)),
      options_(std::move(options)),
      cacheBytes_(cacheBytes),
      cache_(frames_.size()) {}

int FileFrameSource::Check(const std::function<void(const std::string&)>& report, size_t maxReports,
                           const std::function<bool()>& stop) {
    size_t bad = 0;
    for (size_t i = 0; i < frames_.size() && !stop(); ++i) {
        std::string error;
        if (!CheckFrame(i, error) && ++bad <= maxReports) {
            report(error);
        }
    }
    if (bad > maxReports) {
        report("... and " + std::to_string(bad - maxReports) + " more bad inputs");
    }
    if (bad > 0) {
        cache_.assign(cache_.size(), std::nullopt);
        cachedBytes_ = 0;
    }
    return bad == 0 ? 1 : 0;
}

int FileFrameSource::CheckFrame(size_t index, std::string& error) {
    DecodedFrame frame;
    if (!LoadInputFrame(frames_[index], options_, frame, error)) {
        return 0;
    }
    const std::vector<uint16_t>& ids = frame.ids.ids;
    if (ids.empty()) {
        checked_.ids.pixels[0] +=
            static_cast<uint64_t>(frame.color.width) * static_cast<uint64_t>(frame.color.height);
    }
    for (uint16_t id : ids) {
        ++(id < RANGE_COUNT ? checked_.ids.pixels[id] : checked_.ids.beyond);
    }
    checked_.minWidth = std::min(checked_.minWidth, frame.color.width);
    checked_.maxWidth = std::max(checked_.maxWidth, frame.color.width);
    checked_.minHeight = std::min(checked_.minHeight, frame.color.height);
    checked_.maxHeight = std::max(checked_.maxHeight, frame.color.height);
    if (options_.measureLuminance) {
        checked_.luminance.AddFrame(frame);
    }
    const size_t bytes = FrameBytes(frame);
    if (bytes <= cacheBytes_ - cachedBytes_) {
        cachedBytes_ += bytes;
        cache_[index] = std::move(frame);
    }
    return 1;
}

int FileFrameSource::LoadFrame(size_t index, DecodedFrame& frame, std::string& error) {
    if (index >= frames_.size()) {
        error = "no such frame";
        return 0;
    }
    if (cache_[index]) {
        frame = std::move(*cache_[index]);
        cache_[index].reset();
    } else if (!LoadInputFrame(frames_[index], options_, frame, error)) {
        return 0;
    }
    ApplyLevels(levels_, frame);
    return 1;
}

void FileFrameSource::SetLevels(const LevelSpans& spans) {
    std::copy(std::begin(spans), std::end(spans), std::begin(levels_));
}

// Decodes an input frame: its colour file and identifier pass.
#include "kelvo/batch/frame_input.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>

#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/input_checks.h"
#include "kelvo/batch/worker_processes.h"
#include "kelvo/imageio/exr_image.h"
#include "kelvo/imageio/png_image.h"

namespace {

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
    const InputProbe& probe = input.probe;
    const ImageKind kind = probe.kind == INPUT_EXR   ? IMAGE_EXR
                           : probe.kind != INPUT_PNG ? SniffColorFile(path, options, error)
                           : CheckPngOptions(path, options, error) ? IMAGE_PNG
                                                                   : IMAGE_UNREADABLE;
    if (kind == IMAGE_UNREADABLE) {
        return 0;
    }
    if (kind == IMAGE_PNG) {
        if (!ReadColorPng(path, frame.color, reason, options.exr.maxPixels)) {
            error = "cannot read " + Quote(path) + ": " + reason;
            return 0;
        }
        frame.ids.width = 0;
        frame.ids.height = 0;
        frame.ids.ids.clear();
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
        if (!CheckExrFrameSize(path, options, frame.color.width, frame.color.height, error)) {
            return 0;
        }
    }
    std::string idsFrom = "cannot read " + Quote(path);
    if (!options.idsPattern.empty()) {
        const std::string idsPath = ExpandFramePattern(options.idsPattern, input.sourceNumber);
        idsFrom = "identifiers " + Quote(idsPath);
        // The size from the header first (the probe's, when it read it): a pass of another
        // size is refused undecoded.
        PngHeader header;
        header.width = probe.idsWidth;
        header.height = probe.idsHeight;
        if (probe.idsWidth == 0 && !ReadPngHeader(idsPath, header, reason)) {
            error = "cannot read identifiers " + Quote(idsPath) + ": " + reason;
            return 0;
        }
        if (!CheckIdsSize(idsPath, header.width, header.height, path, frame.color.width,
                          frame.color.height, error)) {
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
    // The largest first, in a loop the compiler vectorises; the pixel only when one is over.
    uint16_t largest = 0;
    for (const uint16_t id : frame.ids.ids) {
        largest = std::max(largest, id);
    }
    for (size_t i = 0; largest > options.exr.maxId && i < frame.ids.ids.size(); ++i) {
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

}  // namespace

int LoadInputFrame(const InputFrame& input, const InputOptions& options, DecodedFrame& frame,
                   std::string& error) {
    try {
        return LoadOrThrow(input, options, frame, error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read '" + input.colorPath + "'";
        return 0;
    }
}

// Reads the input frames named on the command line: colour files and identifier passes.
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
#include "kelvo/batch/worker_processes.h"
#include "kelvo/imageio/exr_image.h"
#include "kelvo/imageio/png_image.h"

namespace {

// Frames smaller than this are not read ahead (256 x 256).
constexpr int64_t READ_AHEAD_MIN_PIXELS = 65536;

// Fewer frames than this a thread are probed by this thread alone.
constexpr size_t PROBES_A_THREAD = 64;

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

std::string SizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The options that only an OpenEXR file can answer are refused for a PNG.
int CheckPngOptions(const std::string& path, const InputOptions& options, std::string& error) {
    const char* const exrOption = !options.exr.layer.empty()       ? "--layer"
                                  : !options.exr.idChannel.empty() ? "--id-channel"
                                  : !options.exr.view.empty()      ? "--view"
                                                                   : nullptr;
    if (exrOption != nullptr) {
        error = Quote(path) + " is a PNG; " + exrOption + " needs OpenEXR input";
        return 0;
    }
    return 1;
}

// What kind of image a colour file is: IMAGE_PNG or IMAGE_EXR, or IMAGE_UNREADABLE (and
// `error`) for a file that does not read, is neither, or is a PNG given an option that only an
// OpenEXR file can answer.
ImageKind SniffColorFile(const std::string& path, const InputOptions& options, std::string& error) {
    std::string reason;
    const ImageKind kind = SniffImage(path, reason);
    if (kind == IMAGE_UNREADABLE || kind == IMAGE_OTHER) {
        error = "cannot read " + Quote(path) + ": " + reason;
        return IMAGE_UNREADABLE;
    }
    return kind == IMAGE_PNG && !CheckPngOptions(path, options, error) ? IMAGE_UNREADABLE : kind;
}

// An OpenEXR frame must have the run's size, when the run has one.
int CheckExrFrameSize(const std::string& path, const InputOptions& options, int width, int height,
                      std::string& error) {
    if (options.exrFrameWidth > 0 &&
        (width != options.exrFrameWidth || height != options.exrFrameHeight)) {
        error = Quote(path) + " has a display window of " + SizeText(width, height) +
                " pixels, but " + Quote(options.exrFrameSizeFrom) + " has " +
                SizeText(options.exrFrameWidth, options.exrFrameHeight) +
                ": the frames of one run must have one size";
        return 0;
    }
    return 1;
}

// The header of an identifier pass, refused as ReadIdPng would refuse it; the file's size is
// `fileBytes` when the caller has just looked it up.
int ReadIdsHeader(const std::string& path, const InputOptions& options, PngHeader& header,
                  std::string& reason, uintmax_t fileBytes = UINTMAX_MAX) {
    if (!ReadPngHeader(path, header, reason, fileBytes)) {
        return 0;
    }
    reason = RefuseIdPassLayout(header.colorType, header.bitDepth);
    // The rows as stored, and the identifiers.
    const auto pixelBytes = static_cast<size_t>(header.channels * header.bitDepth / 8 + 2);
    return reason.empty() && CheckPngFrameSize(header, options.exr.maxPixels, pixelBytes, reason);
}

// An identifier pass must have its colour file's size.
int CheckIdsSize(const std::string& idsPath, int idsWidth, int idsHeight,
                 const std::string& colorPath, int width, int height, std::string& error) {
    if (idsWidth != width || idsHeight != height) {
        error = "identifiers " + Quote(idsPath) + " are " + SizeText(idsWidth, idsHeight) +
                " pixels but colour " + Quote(colorPath) + " is " + SizeText(width, height);
        return 0;
    }
    return 1;
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

// Reads the colour file's headers into `probe`, whose `colorFile` is known: a PNG's through one
// open, anything else sniffed first. The refusals are the check's, but for the run's OpenEXR
// size.
void ProbeColor(const std::string& path, const InputOptions& options, InputProbe& probe) {
    std::string reason;
    PngHeader header;
    const int headerRead = ReadPngHeader(
        path, header, reason, probe.colorFile.exists ? probe.colorFile.size : UINTMAX_MAX);
    const ImageKind kind =
        header.isPng ? IMAGE_PNG : SniffColorFile(path, options, probe.colorError);
    probe.kind = kind == IMAGE_PNG ? INPUT_PNG : kind == IMAGE_EXR ? INPUT_EXR : INPUT_UNREADABLE;
    if (kind == IMAGE_PNG) {
        if (headerRead) {
            probe.width = header.width;
            probe.height = header.height;
        }
        if (CheckPngOptions(path, options, probe.colorError) &&
            (!headerRead || !CheckPngFrameSize(header, options.exr.maxPixels, 8, reason))) {
            probe.colorError = "cannot read " + Quote(path) + ": " + reason;
        }
    } else if (kind == IMAGE_EXR) {
        ExrFrameInfo info;
        if (!ReadExrFrameInfo(path, options.exr, info, reason)) {
            probe.colorError = "cannot read " + Quote(path) + ": " + reason;
            return;
        }
        probe.width = info.width;
        probe.height = info.height;
        probe.views = std::move(info.views);
        probe.view = std::move(info.view);
    }
}

void ProbeInput(InputFrame& input, const InputOptions& options) {
    InputProbe& probe = input.probe;
    const FileIdentity known = probe.colorFile;
    const bool identified = probe.colorIdentified;
    probe = InputProbe{};
    probe.colorIdentified = true;
    probe.colorFile = identified ? known : IdentifyFile(input.colorPath);
    ProbeColor(input.colorPath, options, probe);
    if (options.idsPattern.empty()) {
        return;
    }
    const std::string idsPath = ExpandFramePattern(options.idsPattern, input.sourceNumber);
    probe.idsFile = IdentifyFile(idsPath);
    if (!probe.colorError.empty()) {
        return;
    }
    PngHeader ids;
    std::string reason;
    if (!ReadIdsHeader(idsPath, options, ids, reason,
                       probe.idsFile.exists ? probe.idsFile.size : UINTMAX_MAX)) {
        probe.idsError = "cannot read identifiers " + Quote(idsPath) + ": " + reason;
        return;
    }
    probe.idsWidth = ids.width;
    probe.idsHeight = ids.height;
}

size_t FrameBytes(const DecodedFrame& frame) {
    return frame.color.rgba.size() * sizeof(uint16_t) + frame.ids.ids.size() * sizeof(uint16_t);
}

}  // namespace

void ProbeInputs(std::vector<InputFrame>& frames, const InputOptions& options,
                 const std::function<bool()>& stop) {
    // Reading headers is mostly waiting for the file system, one file after another: with
    // several processors, threads take the frames in turn (each probe is the frame's own).
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto probe = [&] {
        try {
            for (size_t i = next++; i < frames.size() && !stop(); i = next++) {
                ProbeInput(frames[i], options);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            failure = std::current_exception();
            next = frames.size();
        }
    };
    const size_t helpers =
        std::min(static_cast<size_t>(ProcessorCount()) - 1, frames.size() / PROBES_A_THREAD);
    std::vector<std::thread> threads;
    try {
        for (size_t k = 0; k < helpers; ++k) {
            threads.emplace_back(probe);
        }
    } catch (const std::system_error&) {
        // No more threads to be had: those started, and this one, probe every frame.
    }
    probe();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::string PrepareExrInputs(const std::vector<InputFrame>& frames, InputOptions& options) {
    for (const InputFrame& frame : frames) {
        std::string reason;
        ExrFrameInfo info;
        const InputProbe& probe = frame.probe;
        if (probe.kind == INPUT_EXR && probe.colorError.empty()) {
            info.width = probe.width;
            info.height = probe.height;
            info.views = probe.views;
            info.view = probe.view;
        } else if (probe.kind != INPUT_NOT_PROBED ||
                   SniffImage(frame.colorPath, reason) != IMAGE_EXR ||
                   !ReadExrFrameInfo(frame.colorPath, options.exr, info, reason)) {
            // A file that does not read is left to the check, which names it.
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
    const InputProbe& probe = input.probe;
    // A PNG whose headers did not all read may still give its size from its first bytes.
    if (probe.kind == INPUT_EXR || (probe.kind == INPUT_PNG && probe.width > 0)) {
        if (probe.kind == INPUT_EXR &&
            (!probe.colorError.empty() ||
             (options.exrFrameWidth > 0 &&
              (probe.width != options.exrFrameWidth || probe.height != options.exrFrameHeight)))) {
            return 0;
        }
        width = probe.width;
        height = probe.height;
        return 1;
    }
    if (probe.kind == INPUT_UNREADABLE) {
        return 0;
    }
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

int CheckInputHeaders(const InputFrame& input, const InputOptions& options, int& width, int& height,
                      std::string& error) {
    if (input.probe.kind == INPUT_NOT_PROBED) {
        InputFrame probed = input;
        ProbeInput(probed, options);
        return CheckInputHeaders(probed, options, width, height, error);
    }
    const InputProbe& probe = input.probe;
    const std::string& path = input.colorPath;
    if (!probe.colorError.empty()) {
        error = probe.colorError;
        return 0;
    }
    if (probe.kind == INPUT_EXR &&
        !CheckExrFrameSize(path, options, probe.width, probe.height, error)) {
        return 0;
    }
    if (!options.idsPattern.empty()) {
        const std::string idsPath = ExpandFramePattern(options.idsPattern, input.sourceNumber);
        if (!probe.idsError.empty()) {
            error = probe.idsError;
            return 0;
        }
        if (!CheckIdsSize(idsPath, probe.idsWidth, probe.idsHeight, path, probe.width, probe.height,
                          error)) {
            return 0;
        }
    }
    width = probe.width;
    height = probe.height;
    return 1;
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

void CheckedFrames::Add(const CheckedFrames& other) {
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
      cacheBytes_(options_.measureLuminance ? cacheBytes : 0),
      cache_(frames_.size()) {}

FileFrameSource::~FileFrameSource() {
    if (ahead_.joinable()) {
        ahead_.join();
    }
}

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
    int width = 0;
    int height = 0;
    if (!options_.measureLuminance) {
        if (!CheckInputHeaders(frames_[index], options_, width, height, error)) {
            return 0;
        }
    } else {
        DecodedFrame frame;
        if (!LoadInputFrame(frames_[index], options_, frame, error)) {
            return 0;
        }
        width = frame.color.width;
        height = frame.color.height;
        checked_.luminance.AddFrame(frame);
        const size_t bytes = FrameBytes(frame);
        if (bytes <= cacheBytes_ - cachedBytes_) {
            cachedBytes_ += bytes;
            cache_[index] = std::move(frame);
        }
    }
    checked_.minWidth = std::min(checked_.minWidth, width);
    checked_.maxWidth = std::max(checked_.maxWidth, width);
    checked_.minHeight = std::min(checked_.minHeight, height);
    checked_.maxHeight = std::max(checked_.maxHeight, height);
    return 1;
}

const DecodedFrame* FileFrameSource::LoadFrame(size_t index, std::string& error) {
    if (index >= frames_.size()) {
        error = "no such frame";
        return nullptr;
    }
    // The slot the frame given last is not in, which a frame read ahead went to.
    DecodedFrame& frame = ring_[given_ ^ 1];
    const int ahead = TakeAhead(index, error);
    if (ahead == 0) {
        return nullptr;
    }
    if (ahead == NOT_READ_AHEAD) {
        if (cache_[index]) {
            frame = std::move(*cache_[index]);
            cache_[index].reset();
        } else if (!LoadInputFrame(frames_[index], options_, frame, error)) {
            return nullptr;
        }
    }
    given_ ^= 1;
    ApplyLevels(levels_, frame);
    return &frame;
}

void FileFrameSource::Prefetch(size_t index) {
    if (index >= frames_.size() || cache_[index] || ahead_.joinable()) {
        return;
    }
    // A thread of its own costs about what decoding a small frame does: those are read when
    // they are asked for.
    const InputProbe& probe = frames_[index].probe;
    if (probe.kind != INPUT_NOT_PROBED &&
        int64_t{probe.width} * probe.height < READ_AHEAD_MIN_PIXELS) {
        return;
    }
    aheadIndex_ = index;
    aheadError_.clear();
    aheadResult_ = 0;
    try {
        // Into the slot the frame given last is not in: the one given before it is done with.
        ahead_ = std::thread([this, &frame = ring_[given_ ^ 1]] {
            try {
                aheadResult_ = LoadInputFrame(frames_[aheadIndex_], options_, frame, aheadError_);
            } catch (const std::exception& failure) {
                aheadError_ =
                    "cannot read '" + frames_[aheadIndex_].colorPath + "': " + failure.what();
                aheadResult_ = 0;
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the frame is read when it is asked for.
        aheadIndex_ = SIZE_MAX;
    }
}

int FileFrameSource::TakeAhead(size_t index, std::string& error) {
    if (!ahead_.joinable()) {
        return NOT_READ_AHEAD;
    }
    ahead_.join();
    const int result = aheadIndex_ == index ? aheadResult_ : NOT_READ_AHEAD;
    if (result == 0) {
        error = aheadError_;
    }
    aheadIndex_ = SIZE_MAX;
    return result;
}

void FileFrameSource::SetLevels(const LevelSpans& spans) {
    std::copy(std::begin(spans), std::end(spans), std::begin(levels_));
}

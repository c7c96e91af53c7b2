// Reads every input's headers once, for every later stage of a run to ask.
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

// Fewer frames than this a thread are probed by this thread alone.
constexpr size_t PROBES_A_THREAD = 64;

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

// The frames of a run as the render driver asks for them: checked, cached, read ahead.
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

// Frames smaller than this are not read ahead (256 x 256).
constexpr int64_t READ_AHEAD_MIN_PIXELS = 65536;

size_t FrameBytes(const DecodedFrame& frame) {
    return frame.color.rgba.size() * sizeof(uint16_t) + frame.ids.ids.size() * sizeof(uint16_t);
}

}  // namespace

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
    const int ahead = TakeAhead(index, error);
    if (ahead == 0) {
        return nullptr;
    }
    // A frame read ahead is in the slot the frame given last is not in. Any other is decoded
    // into the frame given last, which its caller is done with: without reading ahead, one
    // frame's memory serves the whole run.
    if (ahead != NOT_READ_AHEAD) {
        given_ ^= 1;
    }
    DecodedFrame& frame = ring_[given_];
    if (ahead == NOT_READ_AHEAD) {
        if (cache_[index]) {
            frame = std::move(*cache_[index]);
            cache_[index].reset();
        } else if (!LoadInputFrame(frames_[index], options_, frame, error)) {
            return nullptr;
        }
    }
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

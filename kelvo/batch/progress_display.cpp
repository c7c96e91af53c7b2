// Shows a render's progress on stderr: a live bar on a terminal, one line per frame otherwise.
#include "kelvo/batch/progress_display.h"

#include "kelvo/os/console.h"

namespace {
constexpr int BAR_WIDTH = 24;
// Redrawing more often than this only costs time; the eye sees no difference.
constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
}  // namespace

std::string FormatProgressBar(size_t frameIndex, size_t frameCount, double frameShare, int row,
                              int rowCount, double fps, int barWidth) {
    // Whole frames done plus the part of the current one, over all frames.
    const double done = frameCount > 0 ? (static_cast<double>(frameIndex) + frameShare) /
                                             static_cast<double>(frameCount)
                                       : 1.0;
    int filled = static_cast<int>(done * barWidth);
    filled = filled < 0 ? 0 : filled > barWidth ? barWidth : filled;
    char rows[48] = "";
    if (rowCount > 0) {
        std::snprintf(rows, sizeof rows, "  row %d/%d", row, rowCount);
    }
    char numbers[128];
    if (fps >= 0) {
        std::snprintf(numbers, sizeof numbers, "  frame %zu/%zu%s  %.1f fps", frameIndex + 1,
                      frameCount, rows, fps);
    } else {
        std::snprintf(numbers, sizeof numbers, "  frame %zu/%zu%s  -- fps", frameIndex + 1,
                      frameCount, rows);
    }
    std::string bar = "[";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(barWidth - filled), '.');
    return bar.append("]").append(numbers);
}

ProgressMode ChooseProgressMode(bool quiet, FILE* stream) {
    if (quiet) {
        return PROGRESS_ERRORS_ONLY;
    }
    return IsTerminal(stream) ? PROGRESS_BAR : PROGRESS_LINES;
}

ProgressDisplay::ProgressDisplay(ProgressMode mode, FILE* stream, size_t frameCount)
    : mode_(mode), stream_(stream), frameCount_(frameCount), started_(Clock::now()) {}

void ProgressDisplay::StartFrame(size_t frameIndex) {
    frameIndex_ = frameIndex;
    row_ = 0;
    frameDone_ = false;
    Redraw(true);
}

void ProgressDisplay::Row(int row, int lastRow) {
    row_ = row;
    rowCount_ = lastRow + 1;
    Redraw(false);
}

void ProgressDisplay::FrameWritten(size_t frameIndex, int frameNumber, const std::string& source,
                                   const std::string& file, const std::string& preview) {
    ++framesDone_;
    if (mode_ == PROGRESS_LINES) {
        std::fprintf(stream_, "kelvo: frame %d (%zu/%zu) %s -> %s%s%s\n", frameNumber,
                     frameIndex + 1, frameCount_, source.c_str(), file.c_str(),
                     preview.empty() ? "" : ", ", preview.c_str());
        std::fflush(stream_);
    } else if (mode_ == PROGRESS_BAR) {
        row_ = rowCount_;
        frameDone_ = true;
        Redraw(true);
    }
}

void ProgressDisplay::Error(const std::string& message) {
    if (barShown_) {
        std::fputs("\r\033[K", stream_);
        barShown_ = false;
    }
    std::fprintf(stream_, "kelvo: %s\n", message.c_str());
    std::fflush(stream_);
    Redraw(true);
}

void ProgressDisplay::Finish() {
    if (barShown_) {
        std::fputc('\n', stream_);
        std::fflush(stream_);
        barShown_ = false;
    }
    mode_ = mode_ == PROGRESS_BAR ? PROGRESS_ERRORS_ONLY : mode_;
}

void ProgressDisplay::Redraw(bool force) {
    if (mode_ != PROGRESS_BAR) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!force && now - lastDrawn_ < REDRAW_INTERVAL) {
        return;
    }
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double fps =
        framesDone_ > 0 && seconds > 0 ? static_cast<double>(framesDone_) / seconds : -1.0;
    const double frameShare = frameDone_      ? 1.0
                              : rowCount_ > 0 ? static_cast<double>(row_) / rowCount_
                                              : 0.0;
    const std::string bar =
        FormatProgressBar(frameIndex_, frameCount_, frameShare, row_, rowCount_, fps, BAR_WIDTH);
    std::fprintf(stream_, "\r%s\033[K", bar.c_str());
    std::fflush(stream_);
    barShown_ = true;
}

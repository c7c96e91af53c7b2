// Shows a render's progress on stderr: a live bar on a terminal, one line per frame otherwise.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

enum ProgressMode {
    PROGRESS_ERRORS_ONLY,  // errors only (not PROGRESS_QUIET: <windows.h> takes that name)
    PROGRESS_LINES,        // one summary line per frame
    PROGRESS_BAR,          // a bar redrawn in place, for a terminal
};

// "[#########...........]  frame 3/24  row 120/240  12.5 fps"; fps below 0 shows "-- fps".
// `frameShare` is the part of frame `frameIndex` done, 0..1; rowCount 0 (rows not known, as
// with worker processes) leaves out the rows.
std::string FormatProgressBar(size_t frameIndex, size_t frameCount, double frameShare, int row,
                              int rowCount, double fps, int barWidth);

class ProgressDisplay {
public:
    ProgressDisplay(ProgressMode mode, FILE* stream, size_t frameCount);

    void StartFrame(size_t frameIndex);
    // From the host window's MSG_RENDER_PROGRESS: `row` of 0..lastRow is about to be done.
    void Row(int row, int lastRow);
    // The frame's file (and preview, when not empty) is written.
    void FrameWritten(size_t frameIndex, int frameNumber, const std::string& source,
                      const std::string& file, const std::string& preview);
    // Prints one error line ("kelvo: ..."), first clearing the bar; shown in every mode.
    void Error(const std::string& message);
    // Ends the bar's line.
    void Finish();

private:
    void Redraw(bool force);

    using Clock = std::chrono::steady_clock;
    ProgressMode mode_;
    FILE* stream_;
    size_t frameCount_;
    size_t frameIndex_ = 0;
    size_t framesDone_ = 0;
    int row_ = 0;
    int rowCount_ = 0;
    bool frameDone_ = false;
    bool barShown_ = false;
    Clock::time_point started_;
    Clock::time_point lastDrawn_;
};

// Picks the mode: quiet when asked, a bar when `stream` is a terminal, else lines.
ProgressMode ChooseProgressMode(bool quiet, FILE* stream);

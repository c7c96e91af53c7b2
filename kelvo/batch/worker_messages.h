// The messages between `kelvo render` and its workers: their kinds, framing and fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "kelvo/batch/frame_input.h"
#include "kelvo/batch/render_driver.h"

class HostLink;

// A worker tells the host what happened in messages of a 32-bit length (native byte order)
// followed by that many bytes: a kind letter, then fields each ended by a NUL.
constexpr char MESSAGE_NEXT = 'N';       // the worker wants its next frame
constexpr char MESSAGE_BAD_INPUT = 'B';  // frame index, what is wrong with its input
constexpr char MESSAGE_CHECKED = 'C';    // the worker has checked every frame it was given; the
                                         // least and most width and height, and the luminance
                                         // histogram (LuminanceHistogram::Encode)
constexpr char MESSAGE_FRAME = 'R';      // frame index, "1" or "0" for written, file, reason, why
                                         // the PNG and the BMP were not written (empty when they
                                         // were), what the file holds (FrameContentHash), and
                                         // the pixels of identifiers 0-15 and of 16 and more,
                                         // and those listed (IdCounts::listed) as
                                         // "ID:PIXELS,ID:PIXELS"
constexpr size_t CHECKED_FIELDS = 4 + 1;
constexpr size_t FRAME_FIELDS = 7 + RANGE_COUNT + 2;
constexpr char MESSAGE_STOPPED = 'I';  // interrupted; the frame being rendered has no file
constexpr char MESSAGE_PROCESS = 'P';  // the worker's process ID, its first message: the names
                                       // of its temporary files hold it

// The host answers on each worker's own pipe with 32-bit words: while the workers check
// (only with --levels auto, which measures the frames), the index of the frame to check next or
// NO_MORE_FRAMES; then RENDER followed by one word per identifier 0-15, its level span
// (EncodeLevelSpan); then, to each MESSAGE_NEXT, a block: a count from 1 to MAX_BLOCK_FRAMES
// and that many frame indices, which the worker renders in that order, or NO_MORE_FRAMES. A
// closed pipe means stop. Blocks go out to whichever worker asks, so a worker on a busier
// processor simply does fewer of them; small frames go several to a block, so that a frame
// costs the host and the worker few system calls, large ones one at a time. A worker sends
// each frame's MESSAGE_FRAME as soon as it is written, and after the block's last asks for the
// next block in the same write.
constexpr uint32_t NO_MORE_FRAMES = 0xFFFFFFFF;
constexpr uint32_t RENDER = 0xFFFFFFFE;
constexpr uint32_t MAX_BLOCK_FRAMES = 16;

struct WorkerMessage {
    char kind = 0;
    std::vector<std::string> fields;
};

// The bytes that carry a message of `kind` with `fields` (none may hold a NUL).
std::string EncodeMessage(char kind, const std::vector<std::string>& fields);

// Sends a message to the host; a host that has gone away is not told.
void Send(HostLink& link, char kind, const std::vector<std::string>& fields);

// Takes the next whole message off the front of `buffer`, if there is one.
bool TakeMessage(std::string& buffer, WorkerMessage& message);

// The frame index a message starts with; SIZE_MAX when it has none or it is not a number.
size_t IndexField(const WorkerMessage& message);

// The fields of MESSAGE_CHECKED for what a worker's check found.
std::vector<std::string> EncodeChecked(const CheckedFrames& checked);

// What a worker's MESSAGE_CHECKED (of CHECKED_FIELDS fields) says it found; numbers it did
// not send are taken as none.
CheckedFrames ParseChecked(const std::vector<std::string>& fields);

// The fields of MESSAGE_FRAME for frame `index`'s outcome.
std::vector<std::string> EncodeFrameOutcome(size_t index, const FrameOutcome& outcome);

// The frame index and outcome (but its frame number, which the host knows) of a
// MESSAGE_FRAME about one of `frameCount` frames; false for any other message.
bool ParseFrameOutcome(const WorkerMessage& message, size_t frameCount, size_t& index,
                       FrameOutcome& outcome);

// The host's next word for this worker; NO_MORE_FRAMES when the host has closed the pipe.
uint32_t ReadWord(HostLink& link);

// Reads the host's next block of frames (of `frameCount`) into `block`; false for
// NO_MORE_FRAMES, a closed pipe or a block that is not one (a count or index out of range).
bool ReadBlock(HostLink& link, size_t frameCount, std::deque<uint32_t>& block);

// The record beside a run's frame files of what made each of them, so that --skip-existing
// keeps a frame only when this run would write the same file; and the --levels auto spans
// measured over a sequence, so that a later run over part of it takes the same spans.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kelvo/batch/levels.h"
#include "pcx/palette.h"

// Its name, in the directory of the frame files. A hidden file: what is in the directory
// for users and their tools stays the frames.
constexpr char RUN_RECORD_NAME[] = ".kelvo-frames";

// A 64-bit FNV-1a hash of the values added. Strings go in with their length, so that no two
// lists of strings hash alike by where they split. Not a defence against a forger: the record
// guards against mistakes, and anyone who can write it can write the frames too.
class RecordHash {
public:
    RecordHash& Add(const void* data, size_t size);
    RecordHash& Add(const std::string& text);
    RecordHash& Add(uint64_t value);
    uint64_t Value() const { return value_; }

private:
    uint64_t value_ = 0xcbf29ce484222325ULL;
};

// What one frame file holds, from its decoded content: size, indices and palette.
uint64_t FrameContentHash(int width, int height, const std::vector<uint8_t>& indices,
                          const PaletteEntry* palette);

struct FrameRecord {
    uint64_t key = 0;      // what made it: settings, options, inputs, levels, kelvo's version
    uint64_t content = 0;  // FrameContentHash of the file as it was written
};

// Spans measured over the frames `inputs` names (frame number, then what identifies the
// frame's input files), under `key` (what decoding and measuring depend on). Spans of
// identifiers without pixels are none.
struct LevelsMeasurement {
    uint64_t key = 0;
    LevelSpans spans;
    std::map<int, uint64_t> inputs;
};

struct RunRecord {
    std::map<std::string, FrameRecord> frames;  // by frame file name, without its directory
    std::vector<LevelsMeasurement> measurements;
};

// As text: a header line, then one line per frame and per measurement. Decoding is lenient:
// text of another kind or version gives an empty record, and a line it cannot read is left
// out, so that a damaged record only means frames rendered again.
std::string EncodeRunRecord(const RunRecord& record);
RunRecord DecodeRunRecord(const std::string& text);

// The measurement under `key` whose frames include every one of `inputs` with the same
// identity; of several, the one over the most frames (the longest stretch of the sequence).
// Null when there is none.
const LevelsMeasurement* FindMeasurement(const RunRecord& record, uint64_t key,
                                         const std::map<int, uint64_t>& inputs);

// Adds `measurement`, in place of any over the same frames under the same key; the oldest
// go beyond a few dozen, so a record of many partial runs stays small.
void KeepMeasurement(RunRecord& record, LevelsMeasurement measurement);

// The record beside the frame file `frameFile`.
std::string RunRecordPath(const std::string& frameFile);

// The record at `path`; empty when there is none, or it cannot be read, or is too large to be
// one.
RunRecord ReadRunRecord(const std::string& path);

// Reads the record at `path` (ReadRunRecord), lets `change` change it, and writes it back all
// or nothing when it changed. Runs over other frames into one directory (the chunks of a farm
// job) take turns through a lock file beside it, `path` with ".lock", made exclusively and
// removed after; one left by a run that was killed is taken as stale after a minute. Where the
// turn does not come within a few seconds it writes anyway: what a lost update costs is frames
// rendered again, never a frame skipped wrongly. On 0, `error` holds the reason.
[[nodiscard]] int UpdateRunRecord(const std::string& path,
                                  const std::function<void(RunRecord&)>& change,
                                  std::string& error);

// --levels: each identifier's luminance span, measured over a whole sequence or given by hand,
// stretched over its ramp before the filter sees a frame.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelvo/imageio/frame_image.h"
#include "plugin/settings.h"

// Spans are whole thousandths of full luminance: what the histogram resolves, what kelvo
// prints and what --levels ID:LOW-HIGH takes, so a printed span given back by hand is the
// same span.
constexpr int LEVEL_STEPS = 1000;

// Luminance from low / LEVEL_STEPS to high / LEVEL_STEPS, 0 <= low < high <= LEVEL_STEPS.
struct LevelSpan {
    int low = 0;
    int high = LEVEL_STEPS;
    bool operator==(const LevelSpan&) const = default;
};

// The span of each identifier 0..15; none: its pixels are left as they are. Identifiers of 16
// and more take identifier 0's, as they take its range in the filter.
using LevelSpans = std::optional<LevelSpan>[RANGE_COUNT];

// The luminance of a 16-bit colour as the filter weighs it, (0.3 R + 0.59 G) + 0.11 B with a
// rounding after each step, 0..65535.
double LevelLuminance(uint16_t red, uint16_t green, uint16_t blue);

// How many pixels of each identifier fall in each thousandth of luminance, over the frames
// added so far.
class LuminanceHistogram {
public:
    // Counts every pixel of `frame` under its identifier (0 where it has none).
    void AddFrame(const DecodedFrame& frame);
    void Add(const LuminanceHistogram& other);
    bool Empty() const { return counts_.empty(); }
    // The pixels of identifier `id` in thousandth `step`.
    uint64_t Count(int id, int step) const;

    // The non-zero counts as text, "ID.STEP:COUNT" separated by spaces, and back: for the
    // worker processes' messages. Decode returns 0 for text it did not write.
    std::string Encode() const;
    [[nodiscard]] int Decode(const std::string& text);

private:
    std::vector<uint64_t> counts_;  // RANGE_COUNT x LEVEL_STEPS, or empty for no pixel yet
};

// The span of identifier `id` that leaves out its darkest and brightest 0.5 % of pixels:
// from the thousandth that holds the pixel just past the darkest 0.5 % to the end of the one
// that holds the pixel at 99.5 %; at least one thousandth wide. None when `id` has no pixels.
std::optional<LevelSpan> RobustSpan(const LuminanceHistogram& histogram, int id);

// Stretches the colour of every pixel whose identifier has a span so that its luminance L
// becomes (L - low) / (high - low), held to 0..1: the colour is scaled by the ratio of the
// two luminances, and where a channel would pass full, it is moved towards the grey of the
// new luminance until it fits, so the luminance is kept. Alpha and identifiers are kept.
void ApplyLevels(const LevelSpans& spans, DecodedFrame& frame);

// "ID:LOW-HIGH", ID 0..15, LOW and HIGH luminances 0..1 with at most three decimals, LOW
// below HIGH. On 0, `error` says what is wrong.
[[nodiscard]] int ParseLevelSpan(const std::string& text, int& id, LevelSpan& span,
                                 std::string& error);

// "ID:0.052-0.448", as ParseLevelSpan reads it.
std::string FormatLevelSpan(int id, const LevelSpan& span);

// A span as one 32-bit word for the worker processes (low, then high << 16; none:
// LEVEL_SPAN_NONE), and back; a word no span gives is none.
constexpr uint32_t LEVEL_SPAN_NONE = 0xFFFFFFFF;
uint32_t EncodeLevelSpan(const std::optional<LevelSpan>& span);
std::optional<LevelSpan> DecodeLevelSpan(uint32_t word);

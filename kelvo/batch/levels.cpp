// --levels: each identifier's luminance span, measured over a whole sequence or given by hand,
// stretched over its ramp before the filter sees a frame.
#include "kelvo/batch/levels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double FULL = 65535.0;

// The range an identifier's pixels take in the filter: identifiers beyond 15 take range 0.
size_t RangeOf(const std::vector<uint16_t>& ids, size_t pixel) {
    const uint16_t id = ids.empty() ? 0 : ids[pixel];
    return id < RANGE_COUNT ? id : 0;
}

// A luminance "0", "1", "0.5", ".25" or "0.052" in thousandths; -1 for anything else.
int ParseThousandths(const std::string& text) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 1 || fraction.size() > 3 ||
        (point != std::string::npos && fraction.empty() && whole.empty())) {
        return -1;
    }
    int value = 0;
    for (const char c : whole + fraction + std::string(3 - fraction.size(), '0')) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value <= LEVEL_STEPS ? value : -1;
}

}  // namespace

double LevelLuminance(uint16_t red, uint16_t green, uint16_t blue) {
    // As render/palette_mapping.h's Luminance; the build forbids contracting a product and a
    // sum, so every build rounds alike.
    const double redPart = 0.3 * red;
    const double greenPart = 0.59 * green;
    const double sum = redPart + greenPart;
    return sum + 0.11 * blue;
}

void LuminanceHistogram::AddFrame(const DecodedFrame& frame) {
    if (counts_.empty()) {
        counts_.assign(size_t{RANGE_COUNT} * LEVEL_STEPS, 0);
    }
    const std::vector<uint16_t>& rgba = frame.color.rgba;
    for (size_t pixel = 0; pixel < rgba.size() / 4; ++pixel) {
        const uint16_t* colour = &rgba[4 * pixel];
        const double luminance = LevelLuminance(colour[0], colour[1], colour[2]);
        const int step =
            std::min(LEVEL_STEPS - 1, static_cast<int>(luminance * LEVEL_STEPS / FULL));
        ++counts_[RangeOf(frame.ids.ids, pixel) * LEVEL_STEPS + static_cast<size_t>(step)];
    }
}

void LuminanceHistogram::Add(const LuminanceHistogram& other) {
    if (other.counts_.empty()) {
        return;
    }
    if (counts_.empty()) {
        counts_ = other.counts_;
        return;
    }
    for (size_t i = 0; i < counts_.size(); ++i) {
        counts_[i] += other.counts_[i];
    }
}

uint64_t LuminanceHistogram::Count(int id, int step) const {
    return counts_.empty() ? 0 : counts_[static_cast<size_t>(id * LEVEL_STEPS + step)];
}

std::string LuminanceHistogram::Encode() const {
    std::string text;
    for (size_t i = 0; i < counts_.size(); ++i) {
        if (counts_[i] != 0) {
            char item[64];
            std::snprintf(item, sizeof item, "%s%zu.%zu:%llu", text.empty() ? "" : " ",
                          i / LEVEL_STEPS, i % LEVEL_STEPS,
                          static_cast<unsigned long long>(counts_[i]));
            text += item;
        }
    }
    return text;
}

int LuminanceHistogram::Decode(const std::string& text) {
    std::vector<uint64_t> counts;
    const char* at = text.c_str();
    while (*at != '\0') {
        char* end = nullptr;
        const unsigned long id = std::strtoul(at, &end, 10);
        if (end == at || *end != '.' || id >= RANGE_COUNT) {
            return 0;
        }
        at = end + 1;
        const unsigned long step = std::strtoul(at, &end, 10);
        if (end == at || *end != ':' || step >= LEVEL_STEPS) {
            return 0;
        }
        at = end + 1;
        const unsigned long long count = std::strtoull(at, &end, 10);
        if (end == at || (*end != ' ' && *end != '\0')) {
            return 0;
        }
        at = *end == ' ' ? end + 1 : end;
        if (counts.empty()) {
            counts.assign(size_t{RANGE_COUNT} * LEVEL_STEPS, 0);
        }
        counts[id * LEVEL_STEPS + step] += count;
    }
    counts_ = std::move(counts);
    return 1;
}

std::optional<LevelSpan> RobustSpan(const LuminanceHistogram& histogram, int id) {
    uint64_t total = 0;
    for (int step = 0; step < LEVEL_STEPS; ++step) {
        total += histogram.Count(id, step);
    }
    if (total == 0) {
        return std::nullopt;
    }
    // Integers throughout, so every run and every split among workers finds the same span.
    LevelSpan span;
    bool lowFound = false;
    uint64_t below = 0;
    for (int step = 0; step < LEVEL_STEPS; ++step) {
        below += histogram.Count(id, step);
        if (!lowFound && below * 200 > total) {
            span.low = step;
            lowFound = true;
        }
        if (below * 200 >= total * 199) {
            span.high = step + 1;
            break;
        }
    }
    return span;
}

void ApplyLevels(const LevelSpans& spans, DecodedFrame& frame) {
    if (std::none_of(std::begin(spans), std::end(spans),
                     [](const std::optional<LevelSpan>& span) { return span.has_value(); })) {
        return;
    }
    std::vector<uint16_t>& rgba = frame.color.rgba;
    for (size_t pixel = 0; pixel < rgba.size() / 4; ++pixel) {
        const std::optional<LevelSpan>& span = spans[RangeOf(frame.ids.ids, pixel)];
        uint16_t* colour = &rgba[4 * pixel];
        const double luminance = LevelLuminance(colour[0], colour[1], colour[2]);
        if (!span || luminance <= 0.0) {
            continue;  // black stays black: every span starts at 0 or above
        }
        const double low = span->low * FULL / LEVEL_STEPS;
        const double high = span->high * FULL / LEVEL_STEPS;
        const double target = std::clamp((luminance - low) / (high - low), 0.0, 1.0) * FULL;
        double channels[3];
        double brightest = 0.0;
        for (int c = 0; c < 3; ++c) {
            channels[c] = colour[c] * (target / luminance);
            brightest = std::max(brightest, channels[c]);
        }
        // Towards the grey of the target luminance: the weights sum to 1, so the luminance
        // stays the target while the brightest channel comes down to full.
        const double toFull = brightest > FULL ? (FULL - target) / (brightest - target) : 1.0;
        for (int c = 0; c < 3; ++c) {
            const double value = target + (channels[c] - target) * toFull;
            colour[c] = static_cast<uint16_t>(std::lround(std::clamp(value, 0.0, FULL)));
        }
    }
}

int ParseLevelSpan(const std::string& text, int& id, LevelSpan& span, std::string& error) {
    const size_t colon = text.find(':');
    const size_t dash = colon == std::string::npos ? colon : text.find('-', colon + 1);
    const std::string idText = text.substr(0, colon);
    const int low =
        dash == std::string::npos ? -1 : ParseThousandths(text.substr(colon + 1, dash - colon - 1));
    const int high = dash == std::string::npos ? -1 : ParseThousandths(text.substr(dash + 1));
    const bool idGood =
        !idText.empty() && idText.size() <= 2 &&
        std::all_of(idText.begin(), idText.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        std::atoi(idText.c_str()) < RANGE_COUNT;
    if (!idGood || low < 0 || high < 0 || low >= high) {
        error = "bad --levels '" + text +
                "': expected auto or ID:LOW-HIGH, ID 0..15, LOW below HIGH, luminances 0 to 1 "
                "with at most three decimals";
        return 0;
    }
    id = std::atoi(idText.c_str());
    span = {low, high};
    return 1;
}

std::string FormatLevelSpan(int id, const LevelSpan& span) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%d.%03d-%d.%03d", id, span.low / LEVEL_STEPS,
                  span.low % LEVEL_STEPS, span.high / LEVEL_STEPS, span.high % LEVEL_STEPS);
    return text;
}

uint32_t EncodeLevelSpan(const std::optional<LevelSpan>& span) {
    return span ? static_cast<uint32_t>(span->low) | static_cast<uint32_t>(span->high) << 16
                : LEVEL_SPAN_NONE;
}

std::optional<LevelSpan> DecodeLevelSpan(uint32_t word) {
    const int low = static_cast<int>(word & 0xFFFF);
    const int high = static_cast<int>(word >> 16);
    if (word == LEVEL_SPAN_NONE || low >= high || high > LEVEL_STEPS) {
        return std::nullopt;
    }
    return LevelSpan{low, high};
}

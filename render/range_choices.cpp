// What kelvo may ask of the identifiers' ranges beyond what a settings block can hold.
#include "render/range_choices.h"

#include <bit>
#include <cmath>

namespace {

void PutLe16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

std::string FormatRun(int first, int last) {
    std::string text = std::to_string(first);
    if (last != first) {
        text.append("-").append(std::to_string(last));
    }
    return text;
}

}  // namespace

void SimplifyRangeChoices(RangeChoices& choices, const PaletteRenderSettings& settings) {
    const RangeMethod blockMethod =
        settings.method == METHOD_UNIFORM ? RangeMethod::Uniform : RangeMethod::Nearest;
    for (int k = 0; k < RANGE_COUNT; ++k) {
        RangeChoice& choice = choices.ranges[static_cast<size_t>(k)];
        const ColorRange& block = settings.ranges[k];
        if (choice.spans.size() == 1 && choice.spans[0] == IndexSpan{block.first, block.last}) {
            choice.spans.clear();
        }
        if (choice.method == blockMethod) {
            choice.method.reset();
        }
        const DitherPattern blockPattern =
            block.dither != 0 ? DitherPattern::Checker : DitherPattern::None;
        // Nearest colour takes no pattern.
        if (choice.dither == blockPattern ||
            choice.method.value_or(blockMethod) == RangeMethod::Nearest) {
            choice.dither.reset();
        }
        if (choice.dither != DitherPattern::Bayer4 && choice.dither != DitherPattern::Bayer8) {
            choice.strength = 1.0;
        }
    }
}

std::string FormatSpans(const std::vector<IndexSpan>& spans) {
    std::string text;
    for (const IndexSpan& span : spans) {
        if (!text.empty()) {
            text += ",";
        }
        text += FormatRun(span.first, span.last);
    }
    return text;
}

std::string FormatReserved(const std::bitset<PALETTE_ENTRIES>& reserved) {
    std::string text;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        if (!reserved[static_cast<size_t>(i)]) {
            continue;
        }
        int last = i;
        while (last + 1 < PALETTE_ENTRIES && reserved[static_cast<size_t>(last + 1)]) {
            ++last;
        }
        if (!text.empty()) {
            text += ",";
        }
        text += FormatRun(i, last);
        i = last;
    }
    return text;
}

std::vector<uint8_t> EncodeRangeChoices(const RangeChoices& choices) {
    std::vector<uint8_t> out(PALETTE_ENTRIES / 8, 0);
    for (size_t i = 0; i < PALETTE_ENTRIES; ++i) {
        if (choices.reserved[i]) {
            out[i / 8] = static_cast<uint8_t>(out[i / 8] | 1u << (i % 8));
        }
    }
    for (const RangeChoice& range : choices.ranges) {
        PutLe16(out, static_cast<unsigned>(range.spans.size()));
        for (const IndexSpan& span : range.spans) {
            out.push_back(span.first);
            out.push_back(span.last);
        }
        out.push_back(range.method ? static_cast<uint8_t>(1 + static_cast<int>(*range.method)) : 0);
        out.push_back(range.dither ? static_cast<uint8_t>(1 + static_cast<int>(*range.dither)) : 0);
        const auto bits = std::bit_cast<uint64_t>(range.strength);
        for (int shift = 0; shift < 64; shift += 8) {
            out.push_back(static_cast<uint8_t>(bits >> shift));
        }
    }
    return out;
}

bool DecodeRangeChoices(const uint8_t* data, size_t size, RangeChoices& choices) {
    size_t at = PALETTE_ENTRIES / 8;
    if (size < at) {
        return false;
    }
    choices = RangeChoices{};
    for (size_t i = 0; i < PALETTE_ENTRIES; ++i) {
        choices.reserved[i] = (data[i / 8] >> (i % 8) & 1) != 0;
    }
    for (RangeChoice& range : choices.ranges) {
        if (size - at < 2) {
            return false;
        }
        const size_t count = data[at] | size_t{data[at + 1]} << 8;
        at += 2;
        // Two bytes a span, then method, dither and strength: checked before any allocation.
        if ((size - at) / 2 < count || size - at - 2 * count < 10) {
            return false;
        }
        range.spans.resize(count);
        for (IndexSpan& span : range.spans) {
            span = {data[at], data[at + 1]};
            at += 2;
        }
        const uint8_t method = data[at];
        const uint8_t dither = data[at + 1];
        at += 2;
        uint64_t bits = 0;
        for (int byte = 7; byte >= 0; --byte) {
            bits = bits << 8 | data[at + static_cast<size_t>(byte)];
        }
        at += 8;
        range.strength = std::bit_cast<double>(bits);
        if (method > 2 || dither > 4 || !(range.strength >= 0.0 && range.strength <= 1.0)) {
            return false;
        }
        if (method != 0) {
            range.method = static_cast<RangeMethod>(method - 1);
        }
        if (dither != 0) {
            range.dither = static_cast<DitherPattern>(dither - 1);
        }
    }
    return at == size;
}

// How each identifier's range maps its pixels: by the block alone or over its usable entries.
#include "render/range_rules.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// M(2N) = [4 M(N), 4 M(N) + 2; 4 M(N) + 3, 4 M(N) + 1], from M(1) = [0].
template <size_t N>
constexpr std::array<std::array<uint8_t, N>, N> BayerMatrix() {
    std::array<std::array<uint8_t, N>, N> matrix{};
    if constexpr (N > 1) {
        constexpr size_t HALF = N / 2;
        constexpr auto half = BayerMatrix<HALF>();
        constexpr uint8_t offsets[2][2] = {{0, 2}, {3, 1}};
        for (size_t y = 0; y < N; ++y) {
            for (size_t x = 0; x < N; ++x) {
                matrix[y][x] = static_cast<uint8_t>(4 * half[y % HALF][x % HALF] +
                                                    offsets[y / HALF][x / HALF]);
            }
        }
    }
    return matrix;
}

constexpr auto BAYER4 = BayerMatrix<4>();
constexpr auto BAYER8 = BayerMatrix<8>();
static_assert(BAYER4[0][1] == 8 && BAYER4[1][0] == 12 && BAYER4[3][3] == 5);

}  // namespace

std::vector<uint8_t> UsableEntries(const ColorRange& block, const RangeChoice& choice,
                                   const std::bitset<PALETTE_ENTRIES>& reserved) {
    const std::vector<IndexSpan> spans =
        choice.spans.empty() ? std::vector<IndexSpan>{{block.first, block.last}} : choice.spans;
    std::bitset<PALETTE_ENTRIES> taken = reserved;
    std::vector<uint8_t> entries;
    for (const IndexSpan& span : spans) {
        const int step = span.first <= span.last ? 1 : -1;
        for (int i = span.first;; i += step) {
            if (!taken[static_cast<size_t>(i)]) {
                taken.set(static_cast<size_t>(i));
                entries.push_back(static_cast<uint8_t>(i));
            }
            if (i == span.last) {
                break;
            }
        }
    }
    return entries;
}

RangeRule RangeRuleOf(const PaletteRenderSettings& settings, const RangeChoices& choices,
                      int rangeIndex) {
    const ColorRange& block = settings.ranges[rangeIndex];
    const RangeChoice& choice = choices.ranges[static_cast<size_t>(rangeIndex)];
    const RangeMethod blockMethod =
        settings.method == METHOD_UNIFORM ? RangeMethod::Uniform : RangeMethod::Nearest;
    const DitherPattern blockPattern =
        block.dither != 0 ? DitherPattern::Checker : DitherPattern::None;
    RangeRule rule;
    rule.method = choice.method.value_or(blockMethod);
    rule.pattern = choice.dither.value_or(blockPattern);
    rule.strength = std::isnan(choice.strength) ? 1.0 : std::clamp(choice.strength, 0.0, 1.0);
    const bool blockEntries =
        choice.spans.empty() ||
        (choice.spans.size() == 1 && choice.spans[0] == IndexSpan{block.first, block.last});
    // The entries the block's rule can give: first..last either way round, and first + 1 for
    // a reversed range, which DitheredIndex reaches at odd pixels.
    const int top = block.first > block.last ? std::min(block.first + 1, 255) : block.last;
    bool reservedInside = false;
    for (int i = std::min(block.first, block.last); i <= top; ++i) {
        reservedInside = reservedInside || choices.reserved[static_cast<size_t>(i)];
    }
    rule.fromBlock = blockEntries && !reservedInside && rule.method == blockMethod &&
                     (rule.method == RangeMethod::Nearest || rule.pattern == blockPattern);
    if (rule.fromBlock) {
        return rule;
    }
    rule.entries = UsableEntries(block, choice, choices.reserved);
    for (uint8_t entry : rule.entries) {
        rule.entrySet.set(entry);
    }
    if (rule.entries.empty()) {
        rule.fromBlock = true;
        rule.closed = true;
    }
    return rule;
}

uint32_t ClosedRanges(const PaletteRenderSettings& settings, const RangeChoices& choices) {
    uint32_t closed = 0;
    for (int k = 0; k < RANGE_COUNT; ++k) {
        if (RangeRuleOf(settings, choices, k).closed) {
            closed |= 1u << k;
        }
    }
    return closed;
}

int BayerValue(DitherPattern pattern, int x, int y) {
    // Masks keep negative coordinates in the pattern too.
    const auto row = static_cast<size_t>(y);
    const auto column = static_cast<size_t>(x);
    return pattern == DitherPattern::Bayer8 ? BAYER8[row & 7][column & 7]
                                            : BAYER4[row & 3][column & 3];
}

int SpreadPosition(int count, DitherPattern pattern, double strength, double luminance, int x,
                   int y) {
    if (pattern == DitherPattern::Checker) {
        const int levels = 2 * (count - 1) + 1;
        const double scaled = levels * luminance;
        const int level = static_cast<int>(scaled / 65536.0);
        const int position = level / 2 + ((level & 1) != 0 && ((x + y) & 1) != 0 ? 1 : 0);
        return std::min(position, count - 1);
    }
    const double scaled = count * luminance;
    if (pattern == DitherPattern::None) {
        return std::min(static_cast<int>(scaled / 65536.0), count - 1);
    }
    const int side = pattern == DitherPattern::Bayer8 ? 8 : 4;
    const double threshold = (BayerValue(pattern, x, y) + 0.5) / (side * side);
    const double position = std::floor(scaled / 65536.0 + strength * (threshold - 0.5));
    return static_cast<int>(std::clamp(position, 0.0, static_cast<double>(count - 1)));
}

// Fuzzes the text kelvo takes from its command line: range texts, '#' frame
// patterns, frame numbers from file names, --frames selections, and whole argument lists.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "kelvo/batch/frame_pattern.h"
#include "kelvo/cli_options.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const auto frame = static_cast<int>(input.Word32());
    const std::string text(reinterpret_cast<const char*>(input.Rest()), input.Remaining());

    RangeEdit range;
    std::string error;
    if (ParseRange(text, range, error)) {
        FUZZ_CHECK(range.id >= 0 && range.id <= 15);
        FUZZ_CHECK(range.first >= 0 && range.first <= 255);
        FUZZ_CHECK(range.last >= 0 && range.last <= 255);
    } else {
        FUZZ_CHECK(!error.empty());
    }

    if (text.size() < 4096) {
        const std::string expanded = ExpandFramePattern(text, frame);
        FUZZ_CHECK(HasFramePattern(expanded) == false || !HasFramePattern(text));
        FUZZ_CHECK(HasFramePattern(text) || expanded == text);
    }
    int number = -1;
    if (FrameNumberInName(text, number) == NAME_WITH_NUMBER) {
        FUZZ_CHECK(number >= 0);
    }
    std::string stored;
    std::string note;
    std::string refusal;
    if (OutputNameFromOption(text, stored, note, refusal)) {
        FUZZ_CHECK(stored.find('#') == std::string::npos && stored.size() <= text.size());
    }

    std::vector<int> frames;
    if (ParseFrameList(text, frames, error)) {
        FUZZ_CHECK(!frames.empty() && static_cast<long long>(frames.size()) <= MAX_SELECTED_FRAMES);
        FUZZ_CHECK(std::is_sorted(frames.begin(), frames.end()));
    } else {
        FUZZ_CHECK(!error.empty());
    }

    // The same bytes as an argument list, split at NUL bytes.
    std::vector<std::string> args;
    std::string current;
    for (char c : text) {
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    args.push_back(current);
    RenderOptions options;
    error.clear();
    if (!ParseRenderOptions(args, options, error)) {
        FUZZ_CHECK(!error.empty());
    }
    SettingsNewOptions newOptions;
    error.clear();
    if (!ParseSettingsNewOptions(args, newOptions, error)) {
        FUZZ_CHECK(!error.empty());
    }
    return 0;
}

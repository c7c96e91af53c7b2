// Frame numbers in file names: '#' patterns expanded, and the number a file's name carries.
#include "kelvo/batch/frame_pattern.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>

bool HasFramePattern(const std::string& pattern) {
    return pattern.find('#') != std::string::npos;
}

std::string ExpandFramePattern(const std::string& pattern, int frameNumber) {
    const long long wide = frameNumber;
    const std::string digits = std::to_string(wide < 0 ? -wide : wide);
    std::string result;
    for (size_t at = 0; at < pattern.size();) {
        if (pattern[at] != '#') {
            result += pattern[at++];
            continue;
        }
        size_t run = 0;
        while (at + run < pattern.size() && pattern[at + run] == '#') {
            ++run;
        }
        const size_t used = digits.size() + (wide < 0 ? 1 : 0);
        if (wide < 0) {
            result += '-';
        }
        result.append(run > used ? run - used : 0, '0');
        result += digits;
        at += run;
    }
    return result;
}

NameNumber FrameNumberInName(const std::string& path, int& frameNumber) {
    const std::string stem = std::filesystem::path(path).stem().string();
    size_t first = stem.size();
    while (first > 0 && stem[first - 1] >= '0' && stem[first - 1] <= '9') {
        --first;
    }
    if (first == stem.size()) {
        return NAME_WITHOUT_NUMBER;
    }
    long long value = 0;
    for (size_t at = first; at < stem.size(); ++at) {
        value = 10 * value + (stem[at] - '0');
        if (value > INT_MAX) {
            return NAME_NUMBER_TOO_LARGE;
        }
    }
    frameNumber = static_cast<int>(value);
    return NAME_WITH_NUMBER;
}

int NumberFrames(const std::vector<std::string>& files, std::optional<int> start,
                 std::vector<int>& frameNumbers, std::vector<int>& sourceNumbers,
                 std::string& error) {
    frameNumbers.clear();
    sourceNumbers.clear();
    std::vector<std::optional<int>> own;
    for (const std::string& file : files) {
        int number = 0;
        switch (FrameNumberInName(file, number)) {
            case NAME_WITH_NUMBER:
                own.emplace_back(number);
                break;
            case NAME_WITHOUT_NUMBER:
                own.emplace_back();
                break;
            case NAME_NUMBER_TOO_LARGE:
                error = "the frame number in '" + file + "' is too large; give --start N";
                return 0;
        }
    }
    const bool everyNameNumbered =
        std::all_of(own.begin(), own.end(), [](const auto& n) { return n.has_value(); });
    if (!start && everyNameNumbered) {
        std::map<int, size_t> seen;
        for (size_t i = 0; i < files.size(); ++i) {
            const auto [at, fresh] = seen.emplace(*own[i], i);
            if (!fresh) {
                error = "'" + files[at->second] + "' and '" + files[i] + "' are both frame " +
                        std::to_string(*own[i]) + "; give each frame once, or --start N";
                return 0;
            }
            frameNumbers.push_back(*own[i]);
        }
    } else {
        const long long first = start ? *start : own.empty() ? 0 : own.front().value_or(0);
        const long long last = first + static_cast<long long>(files.size()) - 1;
        if (last > INT_MAX) {
            error = "frame numbers from " + std::to_string(first) + " for " +
                    std::to_string(files.size()) + " files run past " + std::to_string(INT_MAX);
            return 0;
        }
        for (size_t i = 0; i < files.size(); ++i) {
            frameNumbers.push_back(static_cast<int>(first + static_cast<long long>(i)));
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        sourceNumbers.push_back(own[i].value_or(frameNumbers[i]));
    }
    return 1;
}

namespace {

// A decimal int with an optional minus sign, and nothing else.
bool ParseFrameNumber(const std::string& text, long long& value) {
    const size_t digitsAt = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digitsAt || text.size() - digitsAt > 10) {
        return false;
    }
    long long magnitude = 0;
    for (size_t at = digitsAt; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') {
            return false;
        }
        magnitude = 10 * magnitude + (text[at] - '0');
    }
    value = digitsAt == 1 ? -magnitude : magnitude;
    return value >= INT_MIN && value <= INT_MAX;
}

}  // namespace

int ParseFrameList(const std::string& list, std::vector<int>& frames, std::string& error) {
    const std::string syntax = "bad --frames '" + list +
                               "': expected frame numbers N, ranges A-B or A-B:STEP, separated "
                               "by commas (1-100, 7, 1-99:2, -5--1)";
    struct Item {
        long long first, last, step;
    };
    std::vector<Item> items;
    long long count = 0;
    size_t start = 0;
    do {
        size_t end = list.find(',', start);
        end = end == std::string::npos ? list.size() : end;
        const std::string item = list.substr(start, end - start);
        start = end + 1;
        // The dash between A and B is the first one after A's own sign.
        const size_t colon = item.find(':');
        const std::string range = item.substr(0, colon);
        const size_t dash = range.find('-', 1);
        Item parsed{0, 0, 1};
        if (!ParseFrameNumber(range.substr(0, dash), parsed.first) ||
            (dash != std::string::npos && !ParseFrameNumber(range.substr(dash + 1), parsed.last)) ||
            (colon != std::string::npos &&
             (dash == std::string::npos || !ParseFrameNumber(item.substr(colon + 1), parsed.step) ||
              item[colon + 1] == '-'))) {
            error = syntax;
            return 0;
        }
        if (dash == std::string::npos) {
            parsed.last = parsed.first;
        }
        if (parsed.last < parsed.first || parsed.step < 1) {
            error = "bad --frames '" + list + "': in '" + item +
                    "' the first frame must not come after the last, and a step is 1 or more";
            return 0;
        }
        count += (parsed.last - parsed.first) / parsed.step + 1;
        if (count > MAX_SELECTED_FRAMES) {
            error = "--frames '" + list + "' selects more than " +
                    std::to_string(MAX_SELECTED_FRAMES) + " frames; give a run fewer";
            return 0;
        }
        items.push_back(parsed);
    } while (start <= list.size());
    frames.clear();
    for (const Item& item : items) {
        for (long long frame = item.first; frame <= item.last; frame += item.step) {
            frames.push_back(static_cast<int>(frame));
        }
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return 1;
}

int SelectPatternFrames(const std::string& pattern, const std::vector<int>& selected,
                        std::optional<int> start, std::vector<std::string>& files,
                        std::vector<int>& frameNumbers, std::vector<int>& sourceNumbers,
                        std::string& error) {
    files.clear();
    frameNumbers.clear();
    sourceNumbers = selected;
    if (start &&
        static_cast<long long>(*start) + static_cast<long long>(selected.size()) - 1 > INT_MAX) {
        error = "frame numbers from " + std::to_string(*start) + " for " +
                std::to_string(selected.size()) + " frames run past " + std::to_string(INT_MAX);
        return 0;
    }
    for (size_t i = 0; i < selected.size(); ++i) {
        files.push_back(ExpandFramePattern(pattern, selected[i]));
        frameNumbers.push_back(start ? *start + static_cast<int>(i) : selected[i]);
    }
    return 1;
}

int OutputNameFromOption(const std::string& value, std::string& outputName, std::string& note,
                         std::string& error) {
    // The file name as the filter finds it: after the last '/' or '\\', up to its first '.'.
    const size_t slash = value.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t stemEnd = value.find('.', nameStart);
    stemEnd = stemEnd == std::string::npos ? value.size() : stemEnd;
    size_t run = 0;
    while (run < stemEnd - nameStart && value[stemEnd - 1 - run] == '#') {
        ++run;
    }
    const std::string rest = value.substr(0, stemEnd - run) + value.substr(stemEnd);
    if (run > 4 || rest.find('#') != std::string::npos) {
        error = "--output '" + value +
                "': a run of one to four '#' may end the file name's stem, where the frame "
                "number goes (out/hero_####.pcx gives out/hero_0001.pcx); no other '#'";
        return 0;
    }
    outputName = rest;
    note.clear();
    const size_t digitAt = stemEnd - run;
    if (digitAt > nameStart && value[digitAt - 1] >= '0' && value[digitAt - 1] <= '9') {
        std::string example = rest;
        example.replace(digitAt, std::string::npos, "0001.pcx");
        note = "--output '" + value + "': frame 1 is written as '" + example +
               "', the frame number after the digits of the name";
    }
    return 1;
}

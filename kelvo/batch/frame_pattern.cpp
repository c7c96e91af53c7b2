// Frame numbers in file names: '#' patterns expanded, and the number a file's name carries.
#include "kelvo/batch/frame_pattern.h"

#include <climits>
#include <filesystem>

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

int FrameNumberFromName(const std::string& path, int& frameNumber) {
    const std::string stem = std::filesystem::path(path).stem().string();
    size_t first = stem.size();
    while (first > 0 && stem[first - 1] >= '0' && stem[first - 1] <= '9') {
        --first;
    }
    long long value = 0;
    for (size_t at = first; at < stem.size(); ++at) {
        value = 10 * value + (stem[at] - '0');
        if (value > INT_MAX) {
            return 0;
        }
    }
    frameNumber = static_cast<int>(value);
    return 1;
}

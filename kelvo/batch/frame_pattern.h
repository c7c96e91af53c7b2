// Frame numbers in file names: '#' patterns expanded, and the number a file's name carries.
#pragma once

#include <string>

// Replaces every run of '#' by the frame number, zero-padded to the run's length (the minus
// sign of a negative number counts towards it, as with printf's "%0*d").
std::string ExpandFramePattern(const std::string& pattern, int frameNumber);
bool HasFramePattern(const std::string& pattern);

// The number formed by the trailing digits of the file name's stem ("beauty.0042.exr" gives
// 42), or 0 when the stem ends in no digit. Returns 0 when the number does not fit an int.
[[nodiscard]] int FrameNumberFromName(const std::string& path, int& frameNumber);

// Frame numbers in file names: '#' patterns expanded, the number a file's name carries, the
// numbers of a run's frames, and the '#' of an output name.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Replaces every run of '#' by the frame number, zero-padded to the run's length (the minus
// sign of a negative number counts towards it, as with printf's "%0*d").
std::string ExpandFramePattern(const std::string& pattern, int frameNumber);
bool HasFramePattern(const std::string& pattern);

// What the trailing digits of a file name's stem say ("beauty.0042.exr" carries 42).
enum NameNumber {
    NAME_WITHOUT_NUMBER,    // the stem ends in no digit
    NAME_WITH_NUMBER,       // `frameNumber` holds it
    NAME_NUMBER_TOO_LARGE,  // more than an int holds
};
NameNumber FrameNumberInName(const std::string& path, int& frameNumber);

// The frame numbers of a run's inputs, in the order given. With `start`: consecutive from it.
// Otherwise, when every name carries a number, each input keeps its own, so sparse frames
// keep their numbers; two inputs with one number are refused. Otherwise consecutive from the
// first name's number (0 when it carries none). `sourceNumbers` gets each input's own number
// where its name carries one, its frame number where not: identifier passes follow the input.
// On 0, `error` says why.
[[nodiscard]] int NumberFrames(const std::vector<std::string>& files, std::optional<int> start,
                               std::vector<int>& frameNumbers, std::vector<int>& sourceNumbers,
                               std::string& error);

// The frames of a --frames LIST: comma-separated items, each N, A-B or A-B:STEP (A <= B,
// STEP >= 1; every number may be negative: "-3--1" is -3, -2, -1). `frames` gets them in
// ascending order, each once. At most MAX_SELECTED_FRAMES, so a typing slip cannot make kelvo
// list billions of frames. On 0, `error` says why.
constexpr long long MAX_SELECTED_FRAMES = 1000000;
[[nodiscard]] int ParseFrameList(const std::string& list, std::vector<int>& frames,
                                 std::string& error);

// The inputs of a --frames run: for each selected frame N, `files` gets the file `pattern`
// gives for N, `sourceNumbers` N itself, and `frameNumbers` N, or with `start` consecutive
// numbers from it. On 0, `error` says why (numbers from `start` past the largest int).
[[nodiscard]] int SelectPatternFrames(const std::string& pattern, const std::vector<int>& selected,
                                      std::optional<int> start, std::vector<std::string>& files,
                                      std::vector<int>& frameNumbers,
                                      std::vector<int>& sourceNumbers, std::string& error);

// The output name the filter stores, from an --output value. The filter replaces the file
// name from its first '.' on by the frame number and ".pcx"; a run of one to four '#' ending
// the part before ("hero_####.pcx") marks where that number goes and is dropped, as the
// filter writes four digits itself. Any other '#' is refused (0, with `error`). `note` is set
// when the part before the '.' ends in a digit, which the frame number would follow.
[[nodiscard]] int OutputNameFromOption(const std::string& value, std::string& outputName,
                                       std::string& note, std::string& error);

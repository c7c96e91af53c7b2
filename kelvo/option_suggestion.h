// The "did you mean" of a mistyped option or command: the known name nearest to what was typed.
#pragma once

#include <string>
#include <vector>

// The name among `known` that `typed` most likely meant: the only one that `typed` begins, when
// it is 3 letters or more past its dashes; else the one fewest edits away (a letter added,
// dropped or changed, or two neighbours swapped), if that is few enough for the names' lengths
// to read as a slip (1 edit for names of up to 4 letters, 2 up to 8, else 3) and no other name
// is as near. "" when none fits.
std::string NearestName(const std::string& typed, const std::vector<std::string>& known);

// "; did you mean NAME?" for NearestName's answer, to follow "unknown option 'TYPED'", or ""
// when it has none.
std::string DidYouMean(const std::string& typed, const std::vector<std::string>& known);

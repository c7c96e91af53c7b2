// The "did you mean" of a mistyped option or command: the known name nearest to what was typed.
#include "kelvo/option_suggestion.h"

#include <algorithm>
#include <cstddef>

namespace {

// The edits (insertion, deletion, substitution, swap of neighbours) from `a` to `b`, each
// position edited once: the optimal string alignment distance.
size_t EditDistance(const std::string& a, const std::string& b) {
    // Three rows of the table: two rows back is needed for a swap.
    std::vector<size_t> before(b.size() + 1);
    std::vector<size_t> previous(b.size() + 1);
    std::vector<size_t> current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        previous[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                current[j] = std::min(current[j], before[j - 2] + 1);
            }
        }
        before.swap(previous);
        previous.swap(current);
    }
    return previous[b.size()];
}

size_t Letters(const std::string& name) {
    return name.size() - std::min(name.find_first_not_of('-'), name.size());
}

}  // namespace

std::string NearestName(const std::string& typed, const std::vector<std::string>& known) {
    std::string nearest;
    // The beginning of one name only is that name, however much is left out.
    if (Letters(typed) >= 3) {
        for (const std::string& name : known) {
            if (name.size() > typed.size() && name.rfind(typed, 0) == 0) {
                if (!nearest.empty()) {
                    nearest.clear();
                    break;
                }
                nearest = name;
            }
        }
        if (!nearest.empty()) {
            return nearest;
        }
    }
    size_t best = 0;
    bool tie = false;
    for (const std::string& name : known) {
        const size_t distance = EditDistance(typed, name);
        const size_t letters = std::max(Letters(typed), Letters(name));
        const size_t slip = letters <= 4 ? 1 : letters <= 8 ? 2 : 3;
        if (distance == 0 || distance > slip) {
            continue;
        }
        if (nearest.empty() || distance < best) {
            nearest = name;
            best = distance;
            tie = false;
        } else if (distance == best) {
            tie = true;
        }
    }
    return tie ? "" : nearest;
}

std::string DidYouMean(const std::string& typed, const std::vector<std::string>& known) {
    const std::string nearest = NearestName(typed, known);
    return nearest.empty() ? "" : "; did you mean " + nearest + "?";
}

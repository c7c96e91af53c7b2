// The value rules of the host's spinner control: limits, steps and typed text.
#include "hostapi/spinner_value.h"

#include <climits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Parses a whole number; one too large for an int saturates, since only its side matters.
int ParseWholeNumber(const char* text, long long& number) {
    if (text == nullptr) {
        return 0;
    }
    while (IsBlank(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    if (!IsDigit(*text)) {
        return 0;
    }
    long long magnitude = 0;
    for (; IsDigit(*text); ++text) {
        if (magnitude <= INT_MAX) {
            magnitude = magnitude * 10 + (*text - '0');
        }
    }
    while (IsBlank(*text)) {
        ++text;
    }
    if (*text != '\0') {
        return 0;
    }
    number = negative ? -magnitude : magnitude;
    return 1;
}

}  // namespace

int ClampSpinnerValue(int value, int minimum, int maximum) {
    if (minimum > maximum) {
        const int swap = minimum;
        minimum = maximum;
        maximum = swap;
    }
    return value < minimum ? minimum : value > maximum ? maximum : value;
}

int StepSpinnerValue(int value, int step, int minimum, int maximum) {
    const long long stepped = static_cast<long long>(value) + step;
    const int bounded = stepped > INT_MAX   ? INT_MAX
                        : stepped < INT_MIN ? INT_MIN
                                            : static_cast<int>(stepped);
    return ClampSpinnerValue(bounded, minimum, maximum);
}

int SpinnerValueFromText(const char* text, int current, int minimum, int maximum) {
    long long number = 0;
    if (!ParseWholeNumber(text, number)) {
        return ClampSpinnerValue(current, minimum, maximum);
    }
    const int bounded = number > INT_MAX   ? INT_MAX
                        : number < INT_MIN ? INT_MIN
                                           : static_cast<int>(number);
    return ClampSpinnerValue(bounded, minimum, maximum);
}

// The host's file-dialog filter text: NUL-separated strings ended by an empty string.
#include <cstring>

#include "hostapi/host_api.h"

FilterList::FilterList() {
    std::memset(text_, 0, sizeof text_);
}

void FilterList::Append(const char* text) {
    if (text == nullptr) {
        return;
    }
    const size_t length = strnlen(text, CAPACITY);
    // The string's NUL and the NUL of the final empty string must still fit.
    if (length_ + length + 2 > CAPACITY) {
        return;
    }
    std::memcpy(text_ + length_, text, length);
    length_ += length;
    text_[length_++] = '\0';
    text_[length_] = '\0';
}

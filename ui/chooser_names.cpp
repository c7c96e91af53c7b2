// The name rules of the two file choosers: ".pcx" completion and the output file's stem.
#include "ui/chooser_names.h"

#include <cstring>

namespace {

constexpr char PCX_ENDING[] = ".pcx";
constexpr size_t PCX_ENDING_LENGTH = sizeof PCX_ENDING - 1;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsWithPcx(const char* path, size_t length) {
    if (length < PCX_ENDING_LENGTH) {
        return false;
    }
    const char* ending = path + length - PCX_ENDING_LENGTH;
    for (size_t i = 0; i < PCX_ENDING_LENGTH; ++i) {
        if (LowerAscii(ending[i]) != PCX_ENDING[i]) {
            return false;
        }
    }
    return true;
}

size_t FileNameStart(const char* path, size_t length) {
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == '\\' || path[i] == '/') {
            start = i + 1;
        }
    }
    return start;
}

}  // namespace

int CompletePcxFileName(char (&path)[CHOOSER_PATH_SIZE]) {
    const size_t length = strnlen(path, CHOOSER_PATH_SIZE);
    if (length == CHOOSER_PATH_SIZE) {
        return 0;
    }
    if (EndsWithPcx(path, length)) {
        return 1;
    }
    // A shortened name could point at another file, so a path without room is refused.
    if (length + PCX_ENDING_LENGTH >= CHOOSER_PATH_SIZE) {
        return 0;
    }
    std::memcpy(path + length, PCX_ENDING, sizeof PCX_ENDING);
    return 1;
}

int NormaliseOutputName(char (&path)[CHOOSER_PATH_SIZE]) {
    if (!CompletePcxFileName(path)) {
        return 0;
    }
    const size_t length = std::strlen(path);
    // The frame file name is cut at the same '.', so frames land beside the chosen file.
    size_t cut = FileNameStart(path, length);
    while (path[cut] != '.') {  // the completed ending guarantees a '.' in the file name
        ++cut;
    }
    while (cut > 0 && path[cut - 1] >= '0' && path[cut - 1] <= '9') {
        --cut;
    }
    std::memcpy(path + cut, PCX_ENDING, sizeof PCX_ENDING);
    return 1;
}

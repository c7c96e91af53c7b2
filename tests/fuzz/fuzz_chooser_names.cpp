// Fuzzes the file choosers' name rules on arbitrary buffers, with or without a NUL.
#include <cstdint>
#include <cstring>

#include "tests/fuzz/fuzz_support.h"
#include "ui/chooser_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const bool output = (input.Byte() & 1) != 0;
    // Guard bytes on both sides catch any write outside the 256-byte buffer.
    struct {
        char before[16];
        char path[CHOOSER_PATH_SIZE];
        char after[16];
    } guarded;
    std::memset(&guarded, 0x7E, sizeof guarded);
    input.Take(guarded.path, sizeof guarded.path);
    char original[CHOOSER_PATH_SIZE];
    std::memcpy(original, guarded.path, sizeof original);

    const int result =
        output ? NormaliseOutputName(guarded.path) : CompletePcxFileName(guarded.path);
    for (char c : guarded.before) FUZZ_CHECK(c == 0x7E);
    for (char c : guarded.after) FUZZ_CHECK(c == 0x7E);
    if (result == 0) {
        FUZZ_CHECK(std::memcmp(original, guarded.path, sizeof original) == 0);
        return 0;
    }
    const size_t length = strnlen(guarded.path, CHOOSER_PATH_SIZE);
    FUZZ_CHECK(length < CHOOSER_PATH_SIZE);
    FUZZ_CHECK(length >= 4);
    const char* ending = guarded.path + length - 4;
    if (output) {
        // The stored name ends in ".pcx" exactly, and its file part's first '.' is that one.
        FUZZ_CHECK(std::memcmp(ending, ".pcx", 4) == 0);
        const char* slash = nullptr;
        for (const char* p = guarded.path; p < guarded.path + length; ++p) {
            if (*p == '/' || *p == '\\')
                slash = p;
        }
        const char* fileStart = slash != nullptr ? slash + 1 : guarded.path;
        FUZZ_CHECK(std::strchr(fileStart, '.') == ending);
        FUZZ_CHECK(ending == fileStart || ending[-1] < '0' || ending[-1] > '9');
    } else {
        FUZZ_CHECK((ending[0] == '.') && (ending[1] | 0x20) == 'p' && (ending[2] | 0x20) == 'c' &&
                   (ending[3] | 0x20) == 'x');
    }
    return 0;
}

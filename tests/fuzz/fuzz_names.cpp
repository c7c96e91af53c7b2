// Fuzzes the frame file name rule on arbitrary names, up to and past the 256-byte field.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "render/frame_file.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const auto frame = static_cast<int>(input.Word32());
    char field[OUTPUT_NAME_SIZE];
    input.Take(field, sizeof field);  // may hold no NUL at all

    // Guard bytes on both sides catch any write outside the 256-byte name.
    struct {
        char before[16];
        char name[FRAME_NAME_SIZE];
        char after[16];
    } guarded;
    std::memset(&guarded, 0x7E, sizeof guarded);
    const int result = BuildFrameFileName(field, frame, guarded.name);
    for (char c : guarded.before) FUZZ_CHECK(c == 0x7E);
    for (char c : guarded.after) FUZZ_CHECK(c == 0x7E);

    const size_t length = strnlen(field, OUTPUT_NAME_SIZE);
    size_t fileStart = 0;
    for (size_t i = 0; i < length; ++i) {
        if (field[i] == '/' || field[i] == '\\')
            fileStart = i + 1;
    }
    const char* dot =
        static_cast<const char*>(std::memchr(field + fileStart, '.', length - fileStart));
    const size_t stem = dot != nullptr ? static_cast<size_t>(dot - field) : length;
    char number[16];
    std::snprintf(number, sizeof number, "%04d.pcx", frame);
    const std::string expected = std::string(field, stem) + number;
    if (expected.size() < FRAME_NAME_SIZE) {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(expected == guarded.name);
    } else {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(guarded.name[0] == '\0');
    }
    return 0;
}

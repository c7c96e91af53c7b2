// How kelvo ends: its exit codes, and the one way it says what went wrong.
#include "kelvo/batch/exit_codes.h"

#include <cstdio>

void Complain(const std::string& message) {
    std::fprintf(stderr, "kelvo: %s\n", message.c_str());
}

int Fail(int code, const std::string& message) {
    Complain(message);
    return code;
}

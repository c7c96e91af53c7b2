// The test host's report on standard output: a line per failed check, and what it did.
#include "tests/msvc_host/report.h"

#include "tests/msvc_host/win32_imports.h"

namespace {

int checks = 0;
int failures = 0;

void WriteLine(const char* prefix, const char* format, __builtin_va_list arguments) {
    char line[1100];  // wvsprintfA writes at most 1024 characters
    int length = 0;
    for (const char* p = prefix; *p != '\0'; ++p) {
        line[length++] = *p;
    }
    length += wvsprintfA(line + length, format, arguments);
    line[length++] = '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

bool Check(bool ok, const char* format, ...) {
    ++checks;
    if (!ok) {
        ++failures;
        __builtin_va_list arguments;
        __builtin_va_start(arguments, format);
        WriteLine("FAILED: ", format, arguments);
        __builtin_va_end(arguments);
    }
    return ok;
}

void Say(const char* format, ...) {
    __builtin_va_list arguments;
    __builtin_va_start(arguments, format);
    WriteLine("", format, arguments);
    __builtin_va_end(arguments);
}

int CheckCount() {
    return checks;
}
int FailedCheckCount() {
    return failures;
}

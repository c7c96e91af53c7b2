// What the compiler expects of a C runtime, for a test host that links none.
#include <stddef.h>

extern "C" {

// Referred to by every object file that uses floating point.
int _fltused = 0;

// Called from the tables of abstract classes; this host never constructs one.
int __cdecl _purecall() {
    __builtin_trap();
}

// The compiler turns copies and fills of records into calls of these.
void* __cdecl memcpy(void* to, const void* from, size_t size) {
    auto* out = static_cast<unsigned char*>(to);
    const auto* in = static_cast<const unsigned char*>(from);
    for (size_t i = 0; i < size; ++i) {
        out[i] = in[i];
    }
    return to;
}

void* __cdecl memset(void* to, int value, size_t size) {
    auto* out = static_cast<unsigned char*>(to);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<unsigned char>(value);
    }
    return to;
}

}  // extern "C"

// Moves a finished file over its target with rename(2), atomic within one file system.
#include <cstdio>

#include "pcx/replace_file.h"

int RenameOver(const char* from, const char* to) {
    return std::rename(from, to) == 0 ? 1 : 0;
}

// Moves a finished file over its target; the C runtime's rename refuses existing targets.
#include <windows.h>

#include "pcx/replace_file.h"

int RenameOver(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

// Moves a finished file over its target in one step, so readers see the old or the new file.
// (Not called ReplaceFile: <windows.h> defines that name as a macro.)
#pragma once

// Returns 1 when `from` now stands at `to` (replacing any file there), 0 with errno set
// otherwise.
int RenameOver(const char* from, const char* to);

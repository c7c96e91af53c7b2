// Moves a finished file over its target in one step, so readers see the old or the new file.
#pragma once

// Returns 1 when `from` now stands at `to` (replacing any file there), 0 otherwise.
int ReplaceFile(const char* from, const char* to);

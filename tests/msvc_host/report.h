// The test host's report on standard output: a line per failed check, and what it did.
#pragma once

// Counts one check; when `ok` is false, prints "FAILED: " and the formatted text (wsprintf's
// format: %d, %u, %x, %s). Returns `ok`.
bool Check(bool ok, const char* format, ...);
// Prints the formatted text as one line.
void Say(const char* format, ...);
int CheckCount();
int FailedCheckCount();

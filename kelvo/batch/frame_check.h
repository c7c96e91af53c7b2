// Says why a frame's file could not be written.
#pragma once

#include <string>

// Why no file could be created at `path`: a missing or unwritable directory, or the system's
// reason when a trial file cannot be created beside it.
std::string DiagnoseUnwritable(const std::string& path);

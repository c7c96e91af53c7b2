// The name rules of the two file choosers: ".pcx" completion and the output file's stem.
#pragma once

#include <cstddef>

// The file dialog's buffer: at most 255 characters and the NUL.
constexpr size_t CHOOSER_PATH_SIZE = 256;

// Appends ".pcx" unless the path already ends in it (compared without regard to case).
// Returns 0, leaving `path` unchanged, when the path is not NUL-terminated within its buffer or
// leaves no room for the ending.
int CompletePcxFileName(char (&path)[CHOOSER_PATH_SIZE]);

// Reduces a chosen output path to the stem that frame numbers are inserted after: completes
// ".pcx", then cuts at the first '.' of the file-name part (after the last '\' or '/'), strips
// the digits in front of that '.' and ends the name with ".pcx". So "C:\out\shot0012.pcx"
// becomes "C:\out\shot.pcx", and a '.' in a directory name is left alone. Returns 0, leaving
// `path` unchanged, when CompletePcxFileName refuses it.
int NormaliseOutputName(char (&path)[CHOOSER_PATH_SIZE]);

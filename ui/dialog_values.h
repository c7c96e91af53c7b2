// What the control dialog's controls show of the settings, and how OK writes them back.
#pragma once

#include "plugin/settings.h"

// A range row whose spinner window yielded no spinner has nothing to read back.
constexpr int DIALOG_SPINNER_MISSING = -2147483647 - 1;

// The controls' state when OK is pressed, read in the order the commit uses it.
struct DialogControlValues {
    int materialEffectsChecked;         // radio button 1001
    char outputText[OUTPUT_NAME_SIZE];  // edit field 1005, NUL-terminated
    int uniformChecked;                 // radio button 1023
    int fromValues[RANGE_COUNT];        // "From" spinners, or DIALOG_SPINNER_MISSING
    int toValues[RANGE_COUNT];          // "To" spinners, or DIALOG_SPINNER_MISSING
    int ditherChecked[RANGE_COUNT];     // dither boxes, read whether enabled or not
};

// The text the output-name field opens with: `outputName` up to its NUL, and at most 255
// characters when a loaded block holds none.
void OutputNameText(const PaletteRenderSettings& settings, char (&text)[OUTPUT_NAME_SIZE]);

// Commits the controls into the settings: source 1001 or 1002, the output name (bytes after
// its NUL are left as they were), method 1023 or 1024, the spinner values as their low 8 bits,
// dither 1 or 0, and the working palette.
void CommitDialogValues(const DialogControlValues& values, const PaletteEntry* workingPalette,
                        PaletteRenderSettings& settings);

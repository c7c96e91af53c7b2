// The control dialog's module-wide state, shared by the dialog, its grid and its choosers.
#pragma once

#include <windows.h>

#include "hostapi/host_api.h"
#include "pcx/palette.h"
#include "plugin/settings.h"

// One record for the whole module: at most one control dialog is open at a time. It is filled
// afresh at every WM_INITDIALOG and outlives the dialog.
struct DialogState {
    PaletteEntry workingPalette[PALETTE_ENTRIES];  // copied back into `palette` on OK only
    ISpinnerControl* fromSpinners[RANGE_COUNT];    // null when not held
    ISpinnerControl* toSpinners[RANGE_COUNT];      // null when not held
    int cursorIndex;                               // palette index under the grid's black frame
    int currentRange;  // range of the pick button pressed last: framed red, picked into
    int pickMode;      // 1 while a pick is pending
    RECT clientRect;   // read afresh before each use of the grid geometry
};

extern DialogState dialogState;

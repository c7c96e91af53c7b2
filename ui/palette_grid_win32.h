// The palette grid on the control dialog's surface: drawing it and picking ranges on it.
#pragma once

#include <windows.h>

#include "plugin/settings.h"

// Draws the backdrop, the 256 swatches of the working palette, red frames around the current
// range as stored in `settings`, and the black cursor frame, straight onto the dialog.
void PaintPaletteGrid(HWND dialog, const PaletteRenderSettings& settings);

// A left click at `position` (client x in the low word, y in the high word): outside a pick it
// moves the cursor; during a pick it stores the range from the cursor to the clicked entry in
// `settings` and in the range's spinners and ends the pick. Always redraws the grid.
void ClickPaletteGrid(HWND dialog, LPARAM position, PaletteRenderSettings& settings);

// Drives the real control dialog from a second thread while the test's thread runs its modal
// loop, as a user would: commands, clicks, typed text, the file dialog, and read-backs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "hostapi/host_api.h"
#include "plugin/settings.h"

constexpr char CONTROL_DIALOG_CAPTION[] = "Kelvo Palette Renderer Control";
constexpr char OUTPUT_CHOOSER_TITLE[] = "Save File Name (Frame number will be added automatically)";
constexpr char PALETTE_CHOOSER_TITLE[] = "Load Palette from PCX";

// Opens the control dialog on `filter` and runs `script` on a second thread once the dialog
// is shown and painted. The script ends the dialog; if it does not, the dialog is cancelled.
// Returns ShowControlDialog's result.
int RunControlDialog(ImageFilter& filter, const std::function<void(HWND dialog)>& script);

PaletteRenderSettings ReadSettings(ImageFilter& filter);
void WriteSettings(ImageFilter& filter, const PaletteRenderSettings& settings);

// Clicks a push button, check box or radio button as the mouse would (it notifies the dialog).
void ClickControl(HWND dialog, int id);
// A left (or right) click on the dialog's own surface at client pixel (x, y).
void ClickDialog(HWND dialog, int x, int y);
void RightClickDialog(HWND dialog, int x, int y);
// Posts a command whose handler opens a modal file dialog, so this thread stays free.
void PostCommand(HWND dialog, int id);

int IsChecked(HWND dialog, int id);
std::string ControlText(HWND dialog, int id);

// T: the top of the grid's first swatch row.
int GridTopOf(HWND dialog);
// Repaints the whole dialog, background erase included, and waits until it is done.
void RepaintNow(HWND dialog);
COLORREF PixelAt(HWND dialog, int x, int y);

// Controls of the platform's (explorer-style) file dialog.
constexpr int CHOOSER_FILE_NAME = 0x47C;  // file-name combo box
constexpr int CHOOSER_FILE_TYPE = 0x470;  // file-type combo box
constexpr int CHOOSER_READ_ONLY = 0x410;  // "Open as read-only" check box

// The file dialog titled `title` once its file-name field exists; null when it never appears.
HWND WaitForChooser(const char* title);
// Cancels the file dialog and returns once it is gone.
void CancelChooser(HWND chooser);
// Waits for the file dialog titled `title`, types `name` into its file-name field and presses
// its OK button; returns once the file dialog is gone. 0 when it never appeared.
int ChooseInFileDialog(const char* title, const std::string& name);

// Saves the window as it is on screen to an RGB PNG file; 1 on success.
int SaveWindowPng(HWND window, const std::string& path);

// The control dialog's two file choosers: the output file and the palette source.
#include <windows.h>

#include <commdlg.h>

#include <cstddef>
#include <cstring>

#include "pcx/pcx_palette_reader.h"
#include "plugin/palette_render_filter.h"
#include "ui/chooser_names.h"
#include "ui/dialog_state.h"
#include "ui/dialog_values.h"

namespace {

// The classic 76-byte request, which ends with the template name: the fields added after it
// (and the newer dialog's places bar they bring) stay out.
constexpr DWORD CHOOSER_REQUEST_SIZE =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
static_assert(sizeof(void*) != 4 || CHOOSER_REQUEST_SIZE == 76);

int RunOpenDialog(HWND dialog, const char* title, DWORD flags, char (&path)[CHOOSER_PATH_SIZE]) {
    FilterList filter;
    filter.Append("PCX Files (*.pcx)");
    filter.Append("*.pcx");
    OPENFILENAMEA request;
    std::memset(&request, 0, sizeof request);
    request.lStructSize = CHOOSER_REQUEST_SIZE;
    request.hwndOwner = dialog;
    request.hInstance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    request.lpstrFilter = filter.Text();
    request.nFilterIndex = 1;
    request.lpstrFile = path;
    request.nMaxFile = CHOOSER_PATH_SIZE;
    request.lpstrInitialDir = "";
    request.lpstrTitle = title;
    request.Flags = flags;
    return GetOpenFileNameA(&request) != 0;
}

}  // namespace

int PaletteRenderFilter::ChooseOutputFile(HWND dialog) {
    char path[CHOOSER_PATH_SIZE];
    OutputNameText(settings, path);
    if (!RunOpenDialog(dialog, "Save File Name (Frame number will be added automatically)",
                       OFN_HIDEREADONLY, path)) {
        return 0;
    }
    if (!NormaliseOutputName(path)) {
        return 0;
    }
    static_assert(sizeof path == sizeof settings.outputName);
    std::memcpy(settings.outputName, path, std::strlen(path) + 1);
    return 1;
}

int PaletteRenderFilter::ChoosePaletteFile(HWND dialog) {
    char path[CHOOSER_PATH_SIZE] = "";
    if (!RunOpenDialog(dialog, "Load Palette from PCX", OFN_PATHMUSTEXIST | OFN_HIDEREADONLY,
                       path)) {
        return 0;
    }
    if (!CompletePcxFileName(path)) {
        return 0;
    }
    // A palette that cannot be read leaves the working palette as it was.
    ReadPcxPalette(path, dialogState.workingPalette);
    return 1;
}

// The modal control dialog that edits one filter's settings.
#include "ui/control_dialog.h"

#include "plugin/palette_render_filter.h"
#include "ui/dialog_state.h"
#include "ui/dialog_values.h"
#include "ui/palette_grid_win32.h"
#include "ui/range_controls.h"
#include "ui/resource.h"

DialogState dialogState;

namespace {

// The filter the open dialog edits, and that dialog: messages of any other window, or of this
// one before its WM_INITDIALOG, reach no filter.
PaletteRenderFilter* activeFilter = nullptr;
HWND activeDialog = nullptr;

void SetArrowCursor() {
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
}

int IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void ShowOutputName(HWND dialog, const PaletteRenderSettings& settings) {
    char text[OUTPUT_NAME_SIZE];
    OutputNameText(settings, text);
    SetDlgItemTextA(dialog, IDC_OUTPUT_NAME, text);
}

void HoldSpinners(HWND dialog, ISpinnerControl* (&spinners)[RANGE_COUNT],
                  int RangeControlIds::*spinnerId, int RangeControlIds::*editId) {
    for (int r = 0; r < RANGE_COUNT; ++r) {
        spinners[r] = GetISpinner(GetDlgItem(dialog, RANGE_CONTROLS[r].*spinnerId));
        if (spinners[r] != nullptr) {
            spinners[r]->AttachEdit(GetDlgItem(dialog, RANGE_CONTROLS[r].*editId), 0);
        }
    }
}

void ShowSpinnerValue(ISpinnerControl* spinner, int value) {
    if (spinner != nullptr) {
        spinner->SetValueRange(0, 255, 0);
        spinner->SetIntValue(value, 0);
    }
}

int ReadSpinnerValue(ISpinnerControl* spinner) {
    return spinner != nullptr ? spinner->GetIntValue() : DIALOG_SPINNER_MISSING;
}

void ReleaseSpinner(ISpinnerControl*& spinner) {
    if (spinner != nullptr) {
        ReleaseISpinner(spinner);
        spinner = nullptr;
    }
}

void InitialiseDialog(HWND dialog, const PaletteRenderSettings& settings) {
    CenterWindow(dialog, GetParent(dialog));
    SetArrowCursor();
    CheckRadioButton(dialog, IDC_SOURCE_MATERIAL_EFFECTS, IDC_SOURCE_OBJECT, settings.source);
    SendDlgItemMessageA(dialog, IDC_OUTPUT_NAME, EM_LIMITTEXT, OUTPUT_NAME_SIZE - 1, 0);
    ShowOutputName(dialog, settings);
    CheckRadioButton(dialog, IDC_METHOD_UNIFORM, IDC_METHOD_NEAREST, settings.method);
    static_assert(sizeof dialogState.workingPalette == sizeof settings.palette);
    CopyMemory(dialogState.workingPalette, settings.palette, sizeof settings.palette);
    for (int r = 0; r < RANGE_COUNT; ++r) {
        dialogState.fromSpinners[r] = nullptr;
        dialogState.toSpinners[r] = nullptr;
    }
    dialogState.cursorIndex = 0;
    dialogState.currentRange = 0;
    dialogState.pickMode = 0;
    HoldSpinners(dialog, dialogState.fromSpinners, &RangeControlIds::fromSpinner,
                 &RangeControlIds::fromEdit);
    HoldSpinners(dialog, dialogState.toSpinners, &RangeControlIds::toSpinner,
                 &RangeControlIds::toEdit);
    for (int r = 0; r < RANGE_COUNT; ++r) {
        ShowSpinnerValue(dialogState.fromSpinners[r], settings.ranges[r].first);
        ShowSpinnerValue(dialogState.toSpinners[r], settings.ranges[r].last);
    }
    for (int r = 0; r < RANGE_COUNT; ++r) {
        CheckDlgButton(dialog, RANGE_CONTROLS[r].dither,
                       settings.ranges[r].dither != 0 ? BST_CHECKED : BST_UNCHECKED);
    }
    UpdateDitherEnabling(dialog);
}

void CommitDialog(HWND dialog, PaletteRenderSettings& settings) {
    DialogControlValues values{};
    values.materialEffectsChecked = IsChecked(dialog, IDC_SOURCE_MATERIAL_EFFECTS);
    // A count of 255 includes the NUL: at most 254 characters come back.
    GetDlgItemTextA(dialog, IDC_OUTPUT_NAME, values.outputText, OUTPUT_NAME_SIZE - 1);
    values.uniformChecked = IsChecked(dialog, IDC_METHOD_UNIFORM);
    for (int r = 0; r < RANGE_COUNT; ++r) {
        values.fromValues[r] = ReadSpinnerValue(dialogState.fromSpinners[r]);
        values.toValues[r] = ReadSpinnerValue(dialogState.toSpinners[r]);
    }
    for (int r = 0; r < RANGE_COUNT; ++r) {
        values.ditherChecked[r] = IsChecked(dialog, RANGE_CONTROLS[r].dither);
    }
    CommitDialogValues(values, dialogState.workingPalette, settings);
}

}  // namespace

void UpdateDitherEnabling(HWND dialog) {
    const BOOL uniform = IsDlgButtonChecked(dialog, IDC_METHOD_UNIFORM) == BST_CHECKED;
    for (const RangeControlIds& row : RANGE_CONTROLS) {
        EnableWindow(GetDlgItem(dialog, row.dither), uniform);
    }
}

INT_PTR CALLBACK ControlDialogThunk(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        activeFilter = reinterpret_cast<PaletteRenderFilter*>(lParam);
        activeDialog = dialog;
    }
    if (dialog != activeDialog || activeFilter == nullptr) {
        return 0;
    }
    const INT_PTR result = activeFilter->ControlDialogProc(dialog, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        activeDialog = nullptr;
    }
    return result;
}

INT_PTR PaletteRenderFilter::ControlDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitialiseDialog(dialog, settings);
            return 1;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id == IDOK) {
                CommitDialog(dialog, settings);
                EndDialog(dialog, 1);
            } else if (id == IDCANCEL) {
                EndDialog(dialog, 0);
            } else if (id == IDC_BROWSE_OUTPUT) {
                ChooseOutputFile(dialog);
                ShowOutputName(dialog, settings);
            } else if (id >= IDC_PICK_0 && id <= IDC_PICK_15) {
                dialogState.currentRange = id - IDC_PICK_0;
                dialogState.pickMode = 1;
                SetCursor(LoadCursor(nullptr, IDC_CROSS));
            } else if (id == IDC_METHOD_UNIFORM || id == IDC_METHOD_NEAREST) {
                UpdateDitherEnabling(dialog);
            } else if (id == IDC_BROWSE_PALETTE) {
                ChoosePaletteFile(dialog);
            }
            return 1;
        }
        case WM_PAINT: {
            // Let the platform erase and validate first, so that no later erase of the
            // background wipes the grid; the grid is then drawn over the fresh background.
            PAINTSTRUCT paint;
            if (BeginPaint(dialog, &paint) != nullptr) {
                EndPaint(dialog, &paint);
            }
            PaintPaletteGrid(dialog, settings);
            return 0;
        }
        case WM_SETCURSOR:
            // The cross must outlast the next mouse move, which would restore the arrow.
            if (dialogState.pickMode == 1 && LOWORD(lParam) == HTCLIENT) {
                SetCursor(LoadCursor(nullptr, IDC_CROSS));
                SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
                return 1;
            }
            return 0;
        case WM_LBUTTONDOWN:
            ClickPaletteGrid(dialog, lParam, settings);
            return 0;
        case WM_RBUTTONDOWN:
            dialogState.pickMode = 0;
            SetArrowCursor();
            return 0;
        case WM_DESTROY:
            for (int r = 0; r < RANGE_COUNT; ++r) {
                ReleaseSpinner(dialogState.fromSpinners[r]);
                ReleaseSpinner(dialogState.toSpinners[r]);
            }
            return 0;
        default:
            return 0;
    }
}

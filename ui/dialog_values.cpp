// What the control dialog's controls show of the settings, and how OK writes them back.
#include "ui/dialog_values.h"

#include <cstring>

void OutputNameText(const PaletteRenderSettings& settings, char (&text)[OUTPUT_NAME_SIZE]) {
    const size_t length = strnlen(settings.outputName, OUTPUT_NAME_SIZE - 1);
    std::memcpy(text, settings.outputName, length);
    text[length] = '\0';
}

void CommitDialogValues(const DialogControlValues& values, const PaletteEntry* workingPalette,
                        PaletteRenderSettings& settings) {
    settings.source = values.materialEffectsChecked ? SOURCE_MATERIAL_EFFECTS : SOURCE_OBJECT;
    const size_t length = strnlen(values.outputText, OUTPUT_NAME_SIZE - 1);
    std::memcpy(settings.outputName, values.outputText, length);
    settings.outputName[length] = '\0';
    settings.method = values.uniformChecked ? METHOD_UNIFORM : METHOD_NEAREST;
    for (int r = 0; r < RANGE_COUNT; ++r) {
        if (values.fromValues[r] != DIALOG_SPINNER_MISSING) {
            settings.ranges[r].first = static_cast<uint8_t>(values.fromValues[r] & 0xFF);
        }
        if (values.toValues[r] != DIALOG_SPINNER_MISSING) {
            settings.ranges[r].last = static_cast<uint8_t>(values.toValues[r] & 0xFF);
        }
    }
    for (int r = 0; r < RANGE_COUNT; ++r) {
        settings.ranges[r].dither = values.ditherChecked[r] ? 1 : 0;
    }
    std::memcpy(settings.palette, workingPalette, sizeof settings.palette);
}

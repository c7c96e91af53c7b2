// Names a completed frame's file after the frame number and writes it as PCX.
#include "render/frame_file.h"

#include <cstdio>
#include <cstring>

#include "pcx/pcx_writer.h"

int BuildFrameFileName(const char (&outputName)[OUTPUT_NAME_SIZE], int frameNumber,
                       char (&name)[FRAME_NAME_SIZE]) {
    name[0] = '\0';
    // A loaded block may hold no NUL at all: never read past the field.
    const size_t length = strnlen(outputName, OUTPUT_NAME_SIZE);
    size_t fileStart = 0;
    for (size_t i = 0; i < length; ++i) {
        if (outputName[i] == '/' || outputName[i] == '\\') {
            fileStart = i + 1;
        }
    }
    size_t cut = fileStart;
    while (cut < length && outputName[cut] != '.') {
        ++cut;
    }
    char number[16];
    const int numberLength = std::snprintf(number, sizeof number, "%04d.pcx", frameNumber);
    if (numberLength < 0 || cut + static_cast<size_t>(numberLength) >= FRAME_NAME_SIZE) {
        return 0;
    }
    std::memcpy(name, outputName, cut);
    std::memcpy(name + cut, number, static_cast<size_t>(numberLength) + 1);
    return 1;
}

int WriteFrameFile(const PaletteRenderSettings& settings, int frameNumber, const uint8_t* indices,
                   int width, int height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    char name[FRAME_NAME_SIZE];
    if (!BuildFrameFileName(settings.outputName, frameNumber, name)) {
        return 0;
    }
    return WritePcxFrame(name, indices, width, height, settings.palette);
}

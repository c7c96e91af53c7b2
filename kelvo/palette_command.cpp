// `kelvo palette show`: a palette file's entries as text, and as a swatch sheet.
#include <cstdio>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/commands.h"
#include "kelvo/imageio/palette_file.h"
#include "kelvo/imageio/png_preview.h"
#include "kelvo/palette_sheet.h"
#include "kelvo/usage_text.h"

int RunPaletteCommand(const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(PALETTE_USAGE, stdout);
        return EXIT_DONE;
    }
    if (args.empty() || args[0] != "show") {
        return Fail(EXIT_BAD_INPUT, (args.empty() ? std::string("palette needs a command")
                                                  : "unknown palette command '" + args[0] + "'") +
                                        " (see 'kelvo palette --help')");
    }
    std::string file;
    std::string png;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(PALETTE_USAGE, stdout);
            return EXIT_DONE;
        }
        if (args[i] == "--png" && i + 1 < args.size() && png.empty()) {
            png = args[++i];
        } else if (args[i].rfind("--png=", 0) == 0 && png.empty()) {
            png = args[i].substr(6);
        } else if (file.empty() && (args[i].size() < 2 || args[i][0] != '-')) {
            file = args[i];
        } else {
            return Fail(EXIT_BAD_INPUT,
                        "unexpected argument '" + args[i] + "' (see 'kelvo palette --help')");
        }
    }
    if (file.empty()) {
        return Fail(EXIT_BAD_INPUT, "palette show needs a FILE (see 'kelvo palette --help')");
    }
    PaletteEntry palette[PALETTE_ENTRIES];
    std::string error;
    if (!ReadPaletteFile(file, palette, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    std::printf("index    R    G    B  hex      luminance\n");
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const PaletteEntry& entry = palette[i];
        std::printf("%5d  %3d  %3d  %3d  #%02X%02X%02X  %9.1f\n", i, entry.red, entry.green,
                    entry.blue, entry.red, entry.green, entry.blue, EntryLuminance(entry));
    }
    if (std::fflush(stdout) != 0) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write to standard output");
    }
    if (!png.empty()) {
        const std::vector<uint8_t> sheet = DrawPaletteSheet(palette);
        if (!WriteIndexedPng(png, sheet.data(), SHEET_SIDE, SHEET_SIDE, palette, error)) {
            return Fail(EXIT_NOT_WRITTEN, "cannot write '" + png + "': " + error);
        }
    }
    return EXIT_DONE;
}

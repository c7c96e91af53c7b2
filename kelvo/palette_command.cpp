// `kelvo palette`: a palette file's entries as text and as a swatch sheet, and the palette as
// the 256-colour PCX file the plug-in's own dialog loads.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/imageio/palette_file.h"
#include "kelvo/imageio/png_preview.h"
#include "kelvo/option_suggestion.h"
#include "kelvo/palette_sheet.h"
#include "kelvo/usage_text.h"
#include "pcx/pcx_writer.h"

namespace {

int Show(const std::string& png, const PaletteEntry* palette) {
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
        std::string error;
        if (!WriteIndexedPng(png, sheet.data(), SHEET_SIDE, SHEET_SIDE, palette, -1, error)) {
            return Fail(EXIT_NOT_WRITTEN, "cannot write '" + png + "': " + error);
        }
    }
    return EXIT_DONE;
}

// A 16 x 16 image whose pixel i is entry i, with the palette as its trailer: what the
// plug-in's "Browse from PCX..." reads (the file's last 768 bytes), and a picture of the
// palette in any viewer.
// Says on standard output what was written, from what: "wrote 'game.pcx': PCX, 256 entries from
// 'game.gpl' (GIMP GPL, 16 colours)".
int Convert(const std::string& out, const PaletteEntry* palette, const std::string& source) {
    uint8_t indices[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        indices[i] = static_cast<uint8_t>(i);
    }
    if (!WritePcxFrame(out.c_str(), indices, 16, 16, palette)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + out + "': " + std::strerror(errno));
    }
    std::printf("wrote '%s': PCX, %d entries from %s\n", out.c_str(), PALETTE_ENTRIES,
                source.c_str());
    return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_NOT_WRITTEN;
}

}  // namespace

int RunPaletteCommand(const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(PALETTE_USAGE, stdout);
        return EXIT_DONE;
    }
    if (args.empty() || (args[0] != "show" && args[0] != "convert")) {
        std::string problem = "palette needs a command";
        if (!args.empty()) {
            problem = "unknown palette command '" + args[0] + "'";
            problem += DidYouMean(args[0], {"show", "convert"});
        }
        return Fail(EXIT_BAD_INPUT, problem + " (see 'kelvo palette --help')");
    }
    const bool show = args[0] == "show";
    std::vector<std::string> files;
    std::string png;
    PaletteDepth depth = PALETTE_DEPTH_GUESS;
    std::string error;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(PALETTE_USAGE, stdout);
            return EXIT_DONE;
        }
        const bool joined = arg.find('=') != std::string::npos && arg.rfind("--", 0) == 0;
        const std::string name = joined ? arg.substr(0, arg.find('=')) : arg;
        const bool hasValue = joined || i + 1 < args.size();
        if (show && name == "--png" && hasValue && png.empty()) {
            png = joined ? arg.substr(6) : args[++i];
        } else if (name == "--palette-depth" && hasValue) {
            if (!ParsePaletteDepth(joined ? arg.substr(16) : args[++i], depth, error)) {
                return Fail(EXIT_BAD_INPUT, error);
            }
        } else if (files.size() < (show ? 1u : 2u) && (arg.size() < 2 || arg[0] != '-')) {
            files.push_back(arg);
        } else if (arg.size() > 1 && arg[0] == '-' && name != "--png" &&
                   name != "--palette-depth") {
            std::vector<std::string> known = {"--palette-depth", "--help"};
            if (show) {
                known.push_back("--png");
            }
            std::string problem = "unknown option '" + name + "'";
            problem += DidYouMean(name, known);
            return Fail(EXIT_BAD_INPUT, problem + " (see 'kelvo palette --help')");
        } else {
            return Fail(EXIT_BAD_INPUT,
                        "unexpected argument '" + arg + "' (see 'kelvo palette --help')");
        }
    }
    if (files.size() != (show ? 1u : 2u)) {
        return Fail(EXIT_BAD_INPUT, std::string(show ? "palette show needs a FILE"
                                                     : "palette convert needs IN and OUT.pcx") +
                                        " (see 'kelvo palette --help')");
    }
    PaletteEntry palette[PALETTE_ENTRIES];
    PaletteFileInfo info;
    if (!ReadPaletteFile(files[0], depth, palette, info, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    // What the file was, always: its format is found from its content, never its name.
    std::string source = "'" + files[0] + "' (" + info.format + ", ";
    source += std::to_string(info.entries) + (info.entries == 1 ? " colour)" : " colours)");
    if (show) {
        Complain("read " + source);
    }
    const std::string note = DescribePaletteFile(info);
    if (!note.empty()) {
        Complain("note: '" + files[0] + "' has " + note);
    }
    return show ? Show(png, palette) : Convert(files[1], palette, source);
}

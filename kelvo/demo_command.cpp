// `kelvo demo`: renders the built-in animation through the filter into a directory.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/progress_display.h"
#include "kelvo/batch/render_driver.h"
#include "kelvo/commands.h"
#include "kelvo/configure_filter.h"
#include "kelvo/demo_scene.h"
#include "kelvo/imageio/png_preview.h"
#include "kelvo/option_suggestion.h"
#include "kelvo/os/file_identity.h"
#include "kelvo/os/file_io.h"
#include "kelvo/os/interrupt.h"
#include "kelvo/os/program_location.h"
#include "kelvo/usage_text.h"
#include "pcx/pcx_writer.h"
#include "render/frame_file.h"

namespace {

constexpr int SWATCH = 8;  // pixels per palette entry in the palette chart

// Computes each frame and saves it as a renderer would, colour and identifier pass in
// render/, so that the user has real inputs to try kelvo render on.
class DemoFrameSource final : public FrameSource {
public:
    explicit DemoFrameSource(std::filesystem::path inputs) : inputs_(std::move(inputs)) {}

    const DecodedFrame* LoadFrame(size_t index, std::string& error) override {
        RenderDemoFrame(static_cast<int>(index), frame_);
        char number[16];
        std::snprintf(number, sizeof number, "%04d", static_cast<int>(index) + 1);
        const std::string color = (inputs_ / ("beauty_" + std::string(number) + ".png")).string();
        const std::string ids = (inputs_ / ("objid_" + std::string(number) + ".png")).string();
        std::string reason;
        if (!WriteColorPng(color, frame_.color, reason)) {
            error = "cannot write '" + color + "': " + reason;
            return nullptr;
        }
        if (!WriteIdPng(ids, frame_.ids, reason)) {
            error = "cannot write '" + ids + "': " + reason;
            return nullptr;
        }
        return &frame_;
    }

private:
    std::filesystem::path inputs_;
    DecodedFrame frame_;
};

// How the user's shell starts this very program: "kelvo" when the PATH finds it, else its
// full name, so that the commands the demo suggests work as printed.
std::string CommandForHints() {
    const std::string self = RunningProgramPath();
    const std::string found = FindOnPath("kelvo");
    if (self.empty() || (!found.empty() && IsSameFile(IdentifyFile(found), IdentifyFile(self)))) {
        return "kelvo";
    }
    return QuoteForShell(self);
}

// A 16 x 16 chart of the palette's swatches, entry 0 at the top left; as a PCX file its
// trailer is the palette that --palette reads.
int WritePaletteChart(const std::string& path, const PaletteEntry* palette) {
    constexpr int side = 16 * SWATCH;
    std::vector<uint8_t> chart(side * side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            chart[static_cast<size_t>(y * side + x)] =
                static_cast<uint8_t>((y / SWATCH) * 16 + x / SWATCH);
        }
    }
    return WritePcxFrame(path.c_str(), chart.data(), side, side, palette);
}

}  // namespace

int RunDemoCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    std::vector<std::string> operands;
    bool quiet = false;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(DEMO_USAGE, stdout);
            return EXIT_DONE;
        }
        if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::string problem = "unknown option '" + arg + "'";
            problem += DidYouMean(arg, {"--quiet", "--help"});
            return Fail(EXIT_BAD_INPUT, problem + " (see 'kelvo demo --help')");
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.size() > 1) {
        return Fail(EXIT_BAD_INPUT, "demo takes at most one DIR (see 'kelvo demo --help')");
    }
    const std::string directory = operands.empty() ? "kelvo-demo" : operands[0];
    const std::filesystem::path root(directory);
    const std::string outputName = (root / "demo.pcx").string();
    if (outputName.size() >= OUTPUT_NAME_SIZE - 8) {
        return Fail(EXIT_BAD_INPUT, "the directory name '" + directory + "' is too long");
    }
    std::string error;
    PluginFilter plugin;
    if (!plugin.Open(pluginPath, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    InstallInterruptHandlers();
    std::error_code created;
    const std::filesystem::path inputs = root / "render";
    std::filesystem::create_directories(inputs, created);
    if (created) {
        return Fail(EXIT_NOT_WRITTEN,
                    "cannot create directory '" + inputs.string() + "': " + created.message());
    }

    PaletteEntry palette[PALETTE_ENTRIES];
    BuildDemoPalette(palette);
    const std::string palettePath = (root / "demo-palette.pcx").string();
    if (!WritePaletteChart(palettePath, palette)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + palettePath + "'");
    }
    ImageFilter& filter = plugin.Filter();
    SettingsEdits edits;
    edits.paletteFile = palettePath;  // read back as the palette chooser would
    edits.ranges = DemoRanges();
    edits.method = METHOD_UNIFORM;
    edits.source = SOURCE_MATERIAL_EFFECTS;
    edits.outputName = outputName;
    if (!ConfigureFilter(filter, "", edits, error)) {
        return Fail(EXIT_NOT_WRITTEN, error);
    }
    SettingsBlock block{};
    const std::string settingsPath = (root / "demo.settings").string();
    if (!ReadFilterSettings(filter, block) ||
        !WriteFileBytes(settingsPath, std::vector<uint8_t>(block.begin(), block.end()), error)) {
        return Fail(EXIT_NOT_WRITTEN, "cannot write '" + settingsPath + "': " + error);
    }

    PaletteRenderSettings settings;
    std::memcpy(&settings, block.data(), sizeof settings);
    std::vector<FramePlan> plans;
    for (int frame = 0; frame < DEMO_FRAMES; ++frame) {
        char number[16];
        std::snprintf(number, sizeof number, "%04d", frame + 1);
        char file[FRAME_NAME_SIZE];
        if (!BuildFrameFileName(settings.outputName, frame + 1, file)) {
            return Fail(EXIT_BAD_INPUT, "the directory name '" + directory + "' is too long");
        }
        plans.push_back({frame + 1, "demo frame " + std::to_string(frame + 1), file,
                         (root / ("demo" + std::string(number) + ".png")).string(), ""});
    }
    DemoFrameSource source(inputs);
    const ProgressMode mode = ChooseProgressMode(quiet, stderr);
    ProgressDisplay progress(mode == PROGRESS_BAR ? PROGRESS_BAR : PROGRESS_ERRORS_ONLY, stderr,
                             plans.size());
    RenderReport report;
    const int allWritten = RenderFrames(settings, RangeChoices{}, plans, source, progress, report);
    if (report.interrupted) {
        return Fail(EXIT_INTERRUPTED, "interrupted");
    }
    if (!allWritten) {
        return Fail(EXIT_NOT_WRITTEN, "the demo was not written completely");
    }
    const std::string dir = root.string();
    if (quiet) {
        return EXIT_DONE;
    }
    const std::string kelvo = CommandForHints();
    const std::string settingsArg = QuoteForShell((root / "demo.settings").string());
    const std::string idsArg = QuoteForShell((inputs / "objid_####.png").string());
    const std::string colorArg = QuoteForShell((inputs / "beauty_####.png").string());
    std::printf(
        "Rendered %d frames of %d x %d through the palette filter into %s/\n"
        "  %s/demo0001.pcx ... demo%04d.pcx  palettised frames (8-bit RLE PCX)\n"
        "  %s/demo0001.png ... demo%04d.png  PNG previews of the same frames\n"
        "  %s/demo-palette.pcx                the palette: one shading ramp per object\n"
        "  %s/demo.settings                   the filter's 1084-byte settings block\n"
        "  %s/render/                         the render it palettised: beauty_0001.png ...\n"
        "                                     (colour) and objid_0001.png ... (identifiers)\n"
        "Look at a frame: open %s/demo0001.png in an image viewer.\n"
        "See the settings:\n"
        "  %s settings show %s\n"
        "Palettise the render yourself, into out/:\n"
        "  %s render --settings %s --ids %s --output out/demo.pcx --frames 1-%d %s\n",
        DEMO_FRAMES, DEMO_WIDTH, DEMO_HEIGHT, dir.c_str(), dir.c_str(), DEMO_FRAMES, dir.c_str(),
        DEMO_FRAMES, dir.c_str(), dir.c_str(), dir.c_str(), dir.c_str(), kelvo.c_str(),
        settingsArg.c_str(), kelvo.c_str(), settingsArg.c_str(), idsArg.c_str(), DEMO_FRAMES,
        colorArg.c_str());
    return std::fflush(stdout) == 0 ? EXIT_DONE : EXIT_NOT_WRITTEN;
}

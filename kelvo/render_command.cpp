// `kelvo render`: palettises a sequence of image files through the filter, stage by stage.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/render_conclusion.h"
#include "kelvo/batch/render_plan.h"
#include "kelvo/batch/render_probe.h"
#include "kelvo/batch/render_request.h"
#include "kelvo/batch/render_run.h"
#include "kelvo/batch/run_keys.h"
#include "kelvo/build_commit.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/configure_filter.h"
#include "kelvo/os/interrupt.h"
#include "kelvo/settings_edit.h"
#include "kelvo/settings_text.h"
#include "kelvo/usage_text.h"
#include "plugin/version.h"
#include "render/palette_mapping.h"
#include "render/range_rules.h"

namespace {

// A --range that runs downwards is valid, and what the filter makes of it surprises: says so in
// a note per identifier whose last --range does, with the entries the filter's own rules give.
// A range that maps over its usable entries (more spans, reserved entries, a method or pattern
// of its own) reaches every entry, and needs no note.
void NoteDescendingRanges(const std::vector<RangeEdit>& edits,
                          const PaletteRenderSettings& settings, const RangeChoices& choices) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        const RangeEdit* given = nullptr;
        for (const RangeEdit& edit : edits) {
            given = edit.id == id ? &edit : given;
        }
        if (given == nullptr || given->first <= given->last ||
            !RangeRuleOf(settings, choices, id).fromBlock) {
            continue;
        }
        const ColorRange& range = settings.ranges[id];
        const bool uniform = settings.method == METHOD_UNIFORM;
        const double white = Luminance(65535, 65535, 65535);
        const bool dither = range.dither != 0;
        const int blackEntry = !uniform ? range.first
                               : dither ? DitheredIndex(range, 0.0, 0, 0)
                                        : UniformIndex(range, 0.0);
        const int whiteEntry = !uniform ? range.first
                               : dither ? DitheredIndex(range, white, 0, 0)
                                        : UniformIndex(range, white);
        const std::string what = blackEntry != whiteEntry
                                     ? "brighter pixels take lower entries, from " +
                                           std::to_string(blackEntry) + " for black to " +
                                           std::to_string(whiteEntry) + " for white"
                                     : std::string(uniform ? "" : "with --method nearest ") +
                                           "every pixel of identifier " + std::to_string(id) +
                                           " takes entry " + std::to_string(blackEntry);
        Complain("note: --range " + std::to_string(id) + ":" + std::to_string(given->first) + "-" +
                 std::to_string(given->last) + (given->dither ? ":dither" : "") +
                 " runs downwards: " + what);
    }
}

// The defaults and notes of the options chosen: the ranges set, and the nearest-colour default
// where nothing is chosen.
void SettleChoices(RenderOptions& options, bool (&rangeSet)[RANGE_COUNT]) {
    if (!options.edits.outputNote.empty()) {
        Complain("warning: " + options.edits.outputNote);
    }
    for (const RangeEdit& range : options.edits.ranges) {
        rangeSet[range.id] = true;
    }
    if (!options.settingsFile.empty()) {
        std::fill(std::begin(rangeSet), std::end(rangeSet), true);
    }
    // Nothing chosen: every pixel to the nearest colour of the palette, as palette-remapping
    // tools do, rather than the block's defaults, which map everything to entry 0.
    if (options.settingsFile.empty() && options.edits.ranges.empty() && !options.edits.method) {
        std::fill(std::begin(rangeSet), std::end(rangeSet), true);
        for (int id = 0; id < RANGE_COUNT; ++id) {
            options.edits.ranges.push_back({id, 0, 255, false});
        }
        options.edits.method = METHOD_NEAREST;
        if (!options.quiet) {
            Complain(
                "note: no --settings, --range or --method: every identifier maps to the "
                "nearest colour of the whole palette");
        }
    }
    if (!options.input.idsPattern.empty() && !HasFramePattern(options.input.idsPattern) &&
        options.colorFiles.size() > 1 && !options.quiet) {
        Complain("note: --ids '" + options.input.idsPattern +
                 "' has no '#' for the frame number: every frame takes its identifiers from it");
    }
}

// A Bayer pattern asked for a range that maps to the nearest colour would be dropped unseen:
// said. The ranges as asked, before the choices are settled: the command line's --range, else
// the settings text's.
void WarnOfUnusedPatterns(const PaletteRenderSettings& settings,
                          const std::vector<RangeEdit>& edits, const RangeChoices& text) {
    for (int id = 0; id < RANGE_COUNT; ++id) {
        RangeChoice choice = text.ranges[static_cast<size_t>(id)];
        for (const RangeEdit& edit : edits) {
            if (edit.id == id) {
                choice = edit.choice;
            }
        }
        const bool bayer =
            choice.dither == DitherPattern::Bayer4 || choice.dither == DitherPattern::Bayer8;
        const bool nearest = choice.method ? *choice.method == RangeMethod::Nearest
                                           : settings.method == METHOD_NEAREST;
        if (bayer && nearest) {
            std::string warning = "warning: identifier ";
            warning.append(std::to_string(id))
                .append("'s range maps to the nearest colour, which is not dithered: its ")
                .append(choice.dither == DitherPattern::Bayer4 ? "bayer4" : "bayer8")
                .append(" pattern needs the range to say :uniform");
            Complain(warning);
        }
    }
}

// Whether the range choices can be had: every range set has a usable entry (those never set
// are refused only for frames that have their pixels, as the engine's closed ranges), and
// --save-settings can keep what the run uses. On 0, `error` says why.
int CheckRangeChoices(const RenderOptions& options, const FilterSettings& filter,
                      std::string& error) {
    const RangeChoices& choices = options.choices;
    const uint32_t closed = ClosedRanges(filter.settings, choices);
    std::string ranges;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        if ((closed >> id & 1) == 0 || !filter.rangeSet[id]) {
            continue;
        }
        const ColorRange& block = filter.settings.ranges[id];
        const std::vector<IndexSpan>& spans = choices.ranges[static_cast<size_t>(id)].spans;
        if (!ranges.empty()) {
            ranges += ", ";
        }
        ranges.append("identifier ").append(std::to_string(id)).append("'s range ");
        ranges +=
            FormatSpans(spans.empty() ? std::vector<IndexSpan>{{block.first, block.last}} : spans);
    }
    if (!ranges.empty()) {
        error = "no entry is left to map to in " + ranges + ": every one is reserved (" +
                FormatReserved(choices.reserved) + ")";
        return 0;
    }
    const std::string& saved = options.saveSettingsFile;
    if (!saved.empty() && !choices.Plain()) {
        error = "--save-settings '" + saved + "': a settings block cannot hold " +
                DescribeBeyondBlock(choices) + "; nothing was rendered";
        return 0;
    }
    return 1;
}

// The first stage: the filter configured from the settings file and the edits, and its settings
// read back; `options` gets the settings text's choices. Says what the settings leave out or
// may surprise with. Returns an exit code, or RUN_GOES_ON.
int ConfigureRun(RenderOptions& options, const std::string& pluginPath, PluginFilter& plugin,
                 FilterSettings& filter) {
    SettleChoices(options, filter.rangeSet);
    std::string error;
    if (!plugin.Open(pluginPath, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    ImageFilter& configured = plugin.Filter();
    std::string paletteNote;
    SettingsChoices textChoices;
    if (!ConfigureFilter(configured, options.settingsFile, options.edits, error, &paletteNote,
                         &options.choices, &textChoices) ||
        !MergeSettingsChoices(textChoices, options, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    if (!paletteNote.empty() && !options.quiet) {
        Complain("note: " + paletteNote);
    }
    if (!ReadFilterSettings(configured, filter.block)) {
        return Fail(EXIT_NOT_WRITTEN, "the filter did not give its settings block");
    }
    std::memcpy(&filter.settings, filter.block.data(), sizeof filter.settings);
    if (!CheckRangeChoices(options, filter, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    // A saved block is what the plug-in can be given: what it cannot hold is said, not lost
    // unseen.
    std::string lost;
    for (const std::string& item : textChoices.BeyondBlock(filter.settings)) {
        lost += lost.empty() ? "" : "; ";
        lost += item;
    }
    if (!options.saveSettingsFile.empty() && !lost.empty()) {
        Complain("warning: --save-settings '" + options.saveSettingsFile +
                 "' holds the settings block only, without what '" + options.settingsFile +
                 "' says beyond it: " + lost);
    }
    if (!options.quiet) {
        NoteDescendingRanges(options.edits.ranges, filter.settings, options.choices);
    }
    WarnOfUnusedPatterns(filter.settings, options.edits.ranges, textChoices.ranges);
    return RUN_GOES_ON;
}

}  // namespace

int RunRenderCommand(const std::vector<std::string>& args, const std::string& pluginPath) {
    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(args, options, error)) {
        return Fail(EXIT_BAD_INPUT, error + " (see 'kelvo render --help')");
    }
    if (options.help) {
        std::fputs(RENDER_USAGE, stdout);
        return EXIT_DONE;
    }
    InstallInterruptHandlers();
    PluginFilter plugin;  // open for the whole run, as the filter that gave the settings
    FilterSettings filter;
    const int configured = ConfigureRun(options, pluginPath, plugin, filter);
    if (configured != RUN_GOES_ON) {
        return configured;
    }
    const RenderRequest& request = options;
    FramesPlan frames = PlanFrames(request, filter);
    if (frames.exitCode != RUN_GOES_ON) {
        return frames.exitCode;
    }
    const ProbedRun probed = ProbeRun(request, filter, {KELVO_VERSION, KELVO_COMMIT}, frames);
    const RenderedRun rendered = RenderRun(request, filter, probed, pluginPath, frames);
    if (rendered.exitCode != RUN_GOES_ON) {
        return rendered.exitCode;
    }
    return ConcludeRun(request, filter, frames, probed, rendered);
}

// Parses kelvo's command lines into plain option records; touches no file.
#include "kelvo/cli_options.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "kelvo/batch/frame_pattern.h"
#include "kelvo/batch/sequence_gif.h"
#include "kelvo/batch/sequence_sheet.h"
#include "kelvo/option_suggestion.h"
#include "plugin/settings.h"

namespace {

// More workers than this only cost memory, whatever the machine.
constexpr long long MAX_JOBS = 256;
constexpr long long MAX_FRAME_CACHE_MIB = 1 << 20;  // a terabyte
// A frame has at most 65535 pixels on a side, so a larger budget means nothing.
constexpr long long MAX_MAX_PIXELS = 65535LL * 65535LL;
// A week: beyond it a farm's own limits end the job first.
constexpr long long MAX_FRAME_TIMEOUT_SECONDS = 7 * 24 * 3600;

using Handler = std::function<int(const std::string& value, std::string& error)>;

// One option of a command: its names, whether a value follows, and what it does.
struct OptionSpec {
    const char* name;
    const char* shortName;  // null when there is none
    bool takesValue;
    Handler apply;
};

int ParseChoice(const std::string& option, const std::string& value, const char* first,
                const char* second, int32_t firstCode, int32_t secondCode,
                std::optional<int32_t>& out, std::string& error) {
    if (value == first) {
        out = firstCode;
        return 1;
    }
    if (value == second) {
        out = secondCode;
        return 1;
    }
    error = option + " must be " + first + " or " + second + ", not '" + value + "'";
    return 0;
}

int SetPath(const char* option, std::string& target, const std::string& value, std::string& error) {
    if (value.empty()) {
        error = std::string("option '") + option + "' needs a non-empty value";
        return 0;
    }
    target = value;
    return 1;
}

// The options that edit a settings block, shared by `render` and `settings new`.
void AddSettingsEditOptions(std::vector<OptionSpec>& specs, SettingsEdits& edits) {
    specs.push_back(
        {"--palette", nullptr, true, [&edits](const std::string& value, std::string& error) {
             return SetPath("--palette", edits.paletteFile, value, error);
         }});
    specs.push_back(
        {"--palette-depth", nullptr, true, [&edits](const std::string& value, std::string& error) {
             return ParsePaletteDepth(value, edits.paletteDepth, error);
         }});
    specs.push_back(
        {"--range", nullptr, true, [&edits](const std::string& value, std::string& error) {
             RangeEdit range;
             if (!ParseRange(value, range, error)) {
                 return 0;
             }
             edits.ranges.push_back(range);
             return 1;
         }});
    specs.push_back(
        {"--method", nullptr, true, [&edits](const std::string& value, std::string& error) {
             return ParseChoice("--method", value, "uniform", "nearest", METHOD_UNIFORM,
                                METHOD_NEAREST, edits.method, error);
         }});
    specs.push_back(
        {"--source", nullptr, true, [&edits](const std::string& value, std::string& error) {
             return ParseChoice("--source", value, "material", "object", SOURCE_MATERIAL_EFFECTS,
                                SOURCE_OBJECT, edits.source, error);
         }});
    specs.push_back(
        {"--output", nullptr, true, [&edits](const std::string& value, std::string& error) {
             // The name must leave room for its terminating NUL in the block.
             if (value.size() >= OUTPUT_NAME_SIZE) {
                 error = "--output name is longer than " + std::to_string(OUTPUT_NAME_SIZE - 1) +
                         " characters";
                 return 0;
             }
             if (value.find('\0') != std::string::npos) {
                 error = "--output name holds a NUL character";
                 return 0;
             }
             std::string stored;
             if (!OutputNameFromOption(value, stored, edits.outputNote, error)) {
                 return 0;
             }
             edits.outputName = stored;
             return 1;
         }});
}

const OptionSpec* FindOption(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const OptionSpec& candidate : specs) {
        if (name == candidate.name ||
            (candidate.shortName != nullptr && name == candidate.shortName)) {
            return &candidate;
        }
    }
    return nullptr;
}

// Walks the arguments: options (as "--name VALUE" or "--name=VALUE") anywhere, "--" ending
// them; everything else goes to `operands`.
int ParseArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                   bool& help, std::vector<std::string>& operands, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return 1;
        }
        size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const OptionSpec* option = FindOption(specs, arg.substr(0, equals));
        // A short option with its value joined on: -j2 is -j 2.
        const OptionSpec* joined = option == nullptr && arg.rfind("--", 0) != 0 && arg.size() > 2
                                       ? FindOption(specs, arg.substr(0, 2))
                                       : nullptr;
        if (joined != nullptr && joined->takesValue) {
            option = joined;
            equals = 1;  // the value starts after the name, as after "--name="
        }
        const std::string name = arg.substr(0, option == joined && option != nullptr ? 2 : equals);
        if (option == nullptr) {
            std::vector<std::string> names = {"--help"};
            for (const OptionSpec& known : specs) {
                names.push_back(known.name);
            }
            error = "unknown option '" + name + "'";
            error += DidYouMean(name, names);
            return 0;
        }
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                error = "option '" + name + "' takes no value";
                return 0;
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option '" + name + "' needs a value";
            return 0;
        }
        if (!option->apply(value, error)) {
            return 0;
        }
    }
    return 1;
}

// Where the digits that end the stem of the file name in `path` are, as FrameNumberInName
// reads them: `count` of them at `at`, in a file name starting at `nameAt`.
struct StemDigits {
    size_t nameAt = 0;
    size_t at = 0;
    size_t count = 0;  // 0: the stem ends in no digit
};

StemDigits FindStemDigits(const std::string& path) {
    const std::filesystem::path name = std::filesystem::path(path).filename();
    const size_t nameSize = name.string().size();
    if (nameSize == 0 || path.size() < nameSize) {
        return {};
    }
    StemDigits digits;
    digits.nameAt = path.size() - nameSize;
    digits.at = path.size() - name.extension().string().size();
    while (digits.at > digits.nameAt && path[digits.at - 1] >= '0' && path[digits.at - 1] <= '9') {
        --digits.at;
        ++digits.count;
    }
    return digits;
}

// An unquoted --ids pattern (render/id_*.png) is expanded by the shell: --ids gets its first
// file and the colour inputs the others, which would render as frames. 0, with `error` saying
// to quote it, when a colour input is in the directory of an --ids file without '#' and has its
// name but for the digits that end the stem.
int CheckIdsNotExpanded(const RenderOptions& options, std::string& error) {
    const std::string& ids = options.input.idsPattern;
    const StemDigits idDigits = FindStemDigits(ids);
    if (HasFramePattern(ids) || idDigits.count == 0) {
        return 1;
    }
    const auto directory = [](const std::string& path) {
        const std::filesystem::path parent =
            std::filesystem::path(path).parent_path().lexically_normal();
        return parent.empty() ? std::filesystem::path(".") : parent;
    };
    const auto bareName = [](const std::string& path, const StemDigits& digits) {
        return path.substr(digits.nameAt, digits.at - digits.nameAt) +
               path.substr(digits.at + digits.count);
    };
    for (const std::string& color : options.colorFiles) {
        const StemDigits digits = FindStemDigits(color);
        // The --ids file itself as colour too is no sibling: rendering it says what is wrong.
        if (digits.count > 0 && bareName(color, digits) == bareName(ids, idDigits) &&
            color.substr(digits.at, digits.count) != ids.substr(idDigits.at, idDigits.count) &&
            directory(color) == directory(ids)) {
            error = "'" + color + "' looks like an identifier pass of --ids '" + ids +
                    "' (the shell expanded a pattern?): quote it, --ids '" +
                    ids.substr(0, idDigits.at) + std::string(idDigits.count, '#') +
                    ids.substr(idDigits.at + idDigits.count) + "'";
            return 0;
        }
    }
    return 1;
}

// An option that names a file (or a layer, view or channel): any value but an empty one.
void AddStringOption(std::vector<OptionSpec>& specs, const char* name, std::string& target) {
    specs.push_back(
        {name, nullptr, true, [name, &target](const std::string& value, std::string& problem) {
             return SetPath(name, target, value, problem);
         }});
}

// An option that takes no value and sets `target`.
void AddFlag(std::vector<OptionSpec>& specs, const char* name, const char* shortName,
             bool& target) {
    specs.push_back({name, shortName, false, [&target](const std::string&, std::string&) {
                         target = true;
                         return 1;
                     }});
}

// The options that say how the inputs are read: identifiers, OpenEXR channels and windows.
void AddInputOptions(std::vector<OptionSpec>& specs, RenderOptions& options) {
    AddStringOption(specs, "--ids", options.input.idsPattern);
    AddStringOption(specs, "--id-channel", options.input.exr.idChannel);
    AddStringOption(specs, "--layer", options.input.exr.layer);
    AddStringOption(specs, "--view", options.input.exr.view);
    specs.push_back(
        {"--background-id", nullptr, true,
         [&options](const std::string& value, std::string& problem) {
             long long id = 0;
             if (!ParseInteger(value, 0, 65535, id) || value[0] == '+' || value[0] == '-') {
                 problem = "--background-id needs an identifier 0..65535, not '" + value + "'";
                 return 0;
             }
             options.input.backgroundId = static_cast<int>(id);
             return 1;
         }});
    specs.push_back({"--alpha-threshold", nullptr, true,
                     [&options](const std::string& value, std::string& problem) {
                         double threshold = 0;
                         if (!ParseDecimal(value, 0.0, 1.0, threshold)) {
                             problem = "--alpha-threshold needs an alpha from 0 to 1, not '" +
                                       value + "'";
                             return 0;
                         }
                         options.alphaThreshold = threshold;
                         return 1;
                     }});
    specs.push_back(
        {"--id-map", nullptr, true, [&options](const std::string& value, std::string& problem) {
             const size_t colon = value.find(':');
             long long stored = 0;
             long long id = 0;
             if (colon == std::string::npos ||
                 !ParseInteger(value.substr(0, colon), 0, 65535, stored) ||
                 !ParseInteger(value.substr(colon + 1), 0, 65535, id) || value[0] == '+' ||
                 value[colon + 1] == '+') {
                 problem = "bad --id-map '" + value + "': expected VALUE:ID, both 0..65535";
                 return 0;
             }
             options.input.idMap.emplace_back(static_cast<uint16_t>(stored),
                                              static_cast<uint16_t>(id));
             return 1;
         }});
    AddFlag(specs, "--linear", nullptr, options.input.exr.linear);
    specs.push_back(
        {"--window", nullptr, true, [&options](const std::string& value, std::string& problem) {
             if (value != "display" && value != "data") {
                 problem = "--window must be display or data, not '" + value + "'";
                 return 0;
             }
             options.input.exr.window = value == "data" ? EXR_WINDOW_DATA : EXR_WINDOW_DISPLAY;
             return 1;
         }});
    specs.push_back(
        {"--max-pixels", nullptr, true, [&options](const std::string& value, std::string& problem) {
             long long pixels = 0;
             if (!ParseInteger(value, 1, MAX_MAX_PIXELS, pixels) || value[0] == '+') {
                 problem = "--max-pixels needs a number of pixels from 1 to " +
                           std::to_string(MAX_MAX_PIXELS) + ", not '" + value + "'";
                 return 0;
             }
             options.input.exr.maxPixels = pixels;
             return 1;
         }});
}

// The options that name the files written besides the frames, and what goes in them.
// `pngNames` counts which of --png and --preview were given.
void AddOutputOptions(std::vector<OptionSpec>& specs, RenderOptions& options, int& pngNames) {
    AddStringOption(specs, "--settings", options.settingsFile);
    AddStringOption(specs, "--save-settings", options.saveSettingsFile);
    // --png is the name of what --preview has always written; one of them names it.
    for (const char* name : {"--png", "--preview"}) {
        specs.push_back({name, nullptr, true,
                         [name, &options, &pngNames, used = false](const std::string& value,
                                                                   std::string& problem) mutable {
                             pngNames += used ? 0 : 1;
                             used = true;
                             return SetPath(name, options.previewPattern, value, problem);
                         }});
    }
    AddStringOption(specs, "--bmp", options.bmpPattern);
    AddStringOption(specs, "--gif", options.gifFile);
    AddFlag(specs, "--bmp-rle", nullptr, options.bmpRle);
    specs.push_back(
        {"--fps", nullptr, true, [&options](const std::string& value, std::string& problem) {
             double fps = 0;
             if (!ParseDecimal(value, 0.0, 100.0, fps) || fps <= 0.0) {
                 problem =
                     "--fps needs frames per second above 0 and up to 100, not '" + value + "'";
                 return 0;
             }
             options.fps = fps;
             return 1;
         }});
    AddStringOption(specs, "--sheet", options.sheetFile);
    // The whole numbers of the sheet and the GIF's enlargement, each within its bounds.
    const struct {
        const char* name;
        long long minimum;
        long long maximum;
        const char* what;
        std::optional<int>* target;
    } counts[] = {
        {"--gif-scale", 1, MAX_GIF_SCALE, "a whole enlargement", &options.gifScale},
        {"--columns", 1, MAX_SHEET_COLUMNS, "a number of columns", &options.columns},
        {"--sheet-padding", 0, MAX_SHEET_PADDING, "a number of pixels", &options.sheetPadding},
    };
    for (const auto& count : counts) {
        specs.push_back(
            {count.name, nullptr, true, [count](const std::string& value, std::string& problem) {
                 long long number = 0;
                 if (!ParseInteger(value, count.minimum, count.maximum, number) ||
                     value[0] == '+' || value[0] == '-') {
                     problem = std::string(count.name) + " needs " + count.what + " from " +
                               std::to_string(count.minimum) + " to " +
                               std::to_string(count.maximum) + ", not '" + value + "'";
                     return 0;
                 }
                 *count.target = static_cast<int>(number);
                 return 1;
             }});
    }
    specs.push_back(
        {"--transparent", nullptr, true,
         [&options](const std::string& value, std::string& problem) {
             long long index = 0;
             if (!ParseInteger(value, 0, 255, index) || value[0] == '+' || value[0] == '-') {
                 problem = "--transparent needs a palette index 0..255, not '" + value + "'";
                 return 0;
             }
             options.transparentIndex = static_cast<int>(index);
             options.transparentGiven = true;
             return 1;
         }});
}

// The options that say which frames render, and how: levels, workers, memory, time, output.
void AddRunOptions(std::vector<OptionSpec>& specs, RenderOptions& options) {
    specs.push_back(
        {"--levels", nullptr, true, [&options](const std::string& value, std::string& problem) {
             if (value == "auto") {
                 options.levelsAuto = true;
                 return 1;
             }
             int id = 0;
             LevelSpan span;
             if (!ParseLevelSpan(value, id, span, problem)) {
                 return 0;
             }
             options.levels[id] = span;
             return 1;
         }});
    AddFlag(specs, "--quiet", "-q", options.quiet);
    specs.push_back(
        {"--jobs", "-j", true, [&options](const std::string& value, std::string& problem) {
             long long jobs = 0;
             if (!ParseInteger(value, 1, MAX_JOBS, jobs) || value[0] == '+') {
                 problem = "--jobs needs a number of workers from 1 to " +
                           std::to_string(MAX_JOBS) + ", not '" + value + "'";
                 return 0;
             }
             options.jobs = static_cast<int>(jobs);
             return 1;
         }});
    specs.push_back({"--frame-cache", nullptr, true,
                     [&options](const std::string& value, std::string& problem) {
                         long long mib = 0;
                         if (!ParseInteger(value, 0, MAX_FRAME_CACHE_MIB, mib) || value[0] == '+') {
                             problem = "--frame-cache needs a size in MiB from 0 to " +
                                       std::to_string(MAX_FRAME_CACHE_MIB) + ", not '" + value +
                                       "'";
                             return 0;
                         }
                         options.frameCacheMib = mib;
                         return 1;
                     }});
    specs.push_back(
        {"--frame-timeout", nullptr, true,
         [&options](const std::string& value, std::string& problem) {
             long long seconds = 0;
             if (!ParseInteger(value, 1, MAX_FRAME_TIMEOUT_SECONDS, seconds) || value[0] == '+') {
                 problem = "--frame-timeout needs a number of seconds from 1 to " +
                           std::to_string(MAX_FRAME_TIMEOUT_SECONDS) + ", not '" + value + "'";
                 return 0;
             }
             options.frameTimeoutSeconds = static_cast<int>(seconds);
             return 1;
         }});
    specs.push_back(
        {"--start", nullptr, true, [&options](const std::string& value, std::string& problem) {
             long long start = 0;
             if (!ParseInteger(value, INT_MIN, INT_MAX, start)) {
                 problem = "--start needs a frame number, not '" + value + "'";
                 return 0;
             }
             options.start = static_cast<int>(start);
             return 1;
         }});
    specs.push_back(
        {"--frames", nullptr, true, [&options](const std::string& value, std::string& problem) {
             std::vector<int> frames;
             if (!ParseFrameList(value, frames, problem)) {
                 return 0;
             }
             options.frames = std::move(frames);
             options.framesList = value;
             return 1;
         }});
    AddFlag(specs, "--skip-existing", nullptr, options.skipExisting);
}

// What the options given say together: the refusals of options that contradict or need
// another, and the values worked out from several.
int CheckRenderOptions(RenderOptions& options, int pngNames, std::string& error) {
    if (options.colorFiles.empty()) {
        error = "no COLOR files given";
        return 0;
    }
    if (options.frames &&
        (options.colorFiles.size() != 1 || !HasFramePattern(options.colorFiles.front()))) {
        error =
            "--frames takes one COLOR pattern whose run of '#' the frame number replaces "
            "(beauty_####.png), not " +
            (options.colorFiles.size() == 1
                 ? "'" + options.colorFiles.front() + "'"
                 : std::to_string(options.colorFiles.size()) + " COLOR arguments");
        return 0;
    }
    if (!options.input.idsPattern.empty() && !options.input.exr.idChannel.empty()) {
        error = "--ids and --id-channel both name the identifiers; give one of them";
        return 0;
    }
    if (!CheckIdsNotExpanded(options, error)) {
        return 0;
    }
    const struct {
        bool given;
        const char* option;
        const char* needs;
    } lonely[] = {
        {options.alphaThreshold.has_value() && options.input.backgroundId < 0, "--alpha-threshold",
         "--background-id"},
        {options.bmpRle && options.bmpPattern.empty(), "--bmp-rle", "--bmp"},
        {options.fps.has_value() && options.gifFile.empty(), "--fps", "--gif"},
        {options.gifScale.has_value() && options.gifFile.empty(), "--gif-scale", "--gif"},
        {options.columns.has_value() && options.sheetFile.empty(), "--columns", "--sheet"},
        {options.sheetPadding.has_value() && options.sheetFile.empty(), "--sheet-padding",
         "--sheet"},
    };
    for (const auto& check : lonely) {
        if (check.given) {
            error = std::string(check.option) + " needs " + check.needs;
            return 0;
        }
    }
    if (pngNames > 1) {
        error =
            "--png and --preview name the same file (--preview is --png's older name); "
            "give one of them";
        return 0;
    }
    if (options.alphaThreshold) {
        // alpha < A x 65535 is alpha < that rounded up, for whole 16-bit alphas.
        options.input.alphaBelow =
            static_cast<uint32_t>(std::ceil(*options.alphaThreshold * 65535.0));
    }
    options.input.measureLuminance = options.levelsAuto;
    return 1;
}

}  // namespace

int MergeSettingsChoices(const SettingsChoices& text, RenderOptions& options, std::string& error) {
    InputOptions& input = options.input;
    input.backgroundId =
        input.backgroundId >= 0 ? input.backgroundId : text.backgroundId.value_or(-1);
    if (!options.alphaThreshold) {
        options.alphaThreshold = text.alphaThreshold;
    }
    if (input.idMap.empty()) {
        input.idMap = text.idMap;
    }
    options.levelsAuto = options.levelsAuto || text.levelsAuto;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        if (!options.levels[id]) {
            options.levels[id] = text.levels[static_cast<size_t>(id)];
        }
    }
    if (options.transparentIndex < 0) {
        options.transparentIndex = text.transparentIndex.value_or(-1);
    }
    options.bmpRle = options.bmpRle || text.bmpRle;
    if (!options.fps) {
        options.fps = text.fps;
    }
    if (options.sheetFile.empty()) {
        options.sheetFile = text.sheetFile;
    }
    for (auto [given, fromText] : {std::pair{&options.gifScale, &text.gifScale},
                                   std::pair{&options.columns, &text.sheetColumns},
                                   std::pair{&options.sheetPadding, &text.sheetPadding}}) {
        if (!*given) {
            *given = *fromText;
        }
    }
    if (options.alphaThreshold && input.backgroundId < 0) {
        error =
            "an alpha threshold (alpha_threshold or --alpha-threshold) needs a background "
            "identifier (background_id or --background-id)";
        return 0;
    }
    if (options.alphaThreshold) {
        // As CheckRenderOptions works it out: alpha < A x 65535 is alpha < that rounded up.
        input.alphaBelow = static_cast<uint32_t>(std::ceil(*options.alphaThreshold * 65535.0));
    }
    input.measureLuminance = options.levelsAuto;
    return 1;
}

int ParseDecimal(const std::string& text, double minimum, double maximum, double& value) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string& part) {
        return part.size() <= 9 &&
               std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction)) {
        return 0;
    }
    // Exact for these few digits: the whole part and the fraction are each an exact integer.
    double result = whole.empty() ? 0.0 : static_cast<double>(std::stol(whole));
    if (!fraction.empty()) {
        result += static_cast<double>(std::stol(fraction)) /
                  std::pow(10.0, static_cast<double>(fraction.size()));
    }
    if (result < minimum || result > maximum) {
        return 0;
    }
    value = result;
    return 1;
}

int ParseInteger(const std::string& text, long long minimum, long long maximum, long long& value) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at == text.size()) {
        return 0;
    }
    long long magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') {
            return 0;
        }
        // Stop long before overflow; anything this large is out of every range we accept.
        if (magnitude > LLONG_MAX / 100) {
            return 0;
        }
        magnitude = magnitude * 10 + (text[at] - '0');
    }
    const long long result = negative ? -magnitude : magnitude;
    if (result < minimum || result > maximum) {
        return 0;
    }
    value = result;
    return 1;
}

int ParsePaletteDepth(const std::string& text, PaletteDepth& depth, std::string& error) {
    if (text != "6" && text != "8") {
        error = "--palette-depth must be 6 or 8 (bits per colour value), not '" + text + "'";
        return 0;
    }
    depth = text == "6" ? PALETTE_DEPTH_6 : PALETTE_DEPTH_8;
    return 1;
}

namespace {

// Splits at every `separator`; "a,,b" gives an empty part.
std::vector<std::string> SplitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) {
            return parts;
        }
        from = at + 1;
    }
}

// "A" or "A-B" with A and B unsigned decimals; 0 when malformed, with `outOfRange` set for a
// number above 255.
int ParseSpan(const std::string& text, IndexSpan& span, bool& outOfRange) {
    const size_t dash = text.find('-');
    const std::string firstText = text.substr(0, dash);
    const std::string lastText = dash == std::string::npos ? firstText : text.substr(dash + 1);
    long long first = 0;
    long long last = 0;
    if (!ParseInteger(firstText, 0, LLONG_MAX / 1000, first) ||
        !ParseInteger(lastText, 0, LLONG_MAX / 1000, last) || firstText[0] == '+' ||
        lastText[0] == '+') {
        return 0;
    }
    if (first > 255 || last > 255) {
        outOfRange = true;
        return 0;
    }
    span = {static_cast<uint8_t>(first), static_cast<uint8_t>(last)};
    return 1;
}

// The method and dither words after a range's spans, in that order, each at most once.
int ParseRangeWords(const std::vector<std::string>& words, RangeChoice& choice,
                    std::string& problem) {
    size_t at = 0;
    if (at < words.size() && (words[at] == "uniform" || words[at] == "nearest")) {
        choice.method = words[at] == "uniform" ? RangeMethod::Uniform : RangeMethod::Nearest;
        ++at;
    }
    if (at < words.size()) {
        const std::string& word = words[at];
        if (word == "dither" || word == "checker") {
            choice.dither = DitherPattern::Checker;
        } else if (word == "none") {
            choice.dither = DitherPattern::None;
        } else if (word == "bayer4" || word == "bayer8") {
            choice.dither = word == "bayer4" ? DitherPattern::Bayer4 : DitherPattern::Bayer8;
        } else {
            return 0;
        }
        ++at;
    }
    const bool bayer =
        choice.dither == DitherPattern::Bayer4 || choice.dither == DitherPattern::Bayer8;
    if (at < words.size() && bayer) {
        if (!ParseDecimal(words[at], 0.0, 1.0, choice.strength)) {
            problem = "the strength of ";
            problem.append(words[at - 1]).append(" is 0..1, not '").append(words[at]).append("'");
            return 0;
        }
        ++at;
    }
    if (choice.method == RangeMethod::Nearest && choice.dither &&
        *choice.dither != DitherPattern::None) {
        problem = "nearest colour takes no dither";
        return 0;
    }
    return at == words.size() ? 1 : 0;
}

}  // namespace

int ParseRange(const std::string& text, RangeEdit& range, std::string& error) {
    const std::string syntax =
        "bad range '" + text + "': expected ID:SPANS[:METHOD][:DITHER[:STRENGTH]]";
    const std::vector<std::string> parts = SplitAt(text, ':');
    long long id = 0;
    if (parts.size() < 2 || !ParseInteger(parts[0], 0, LLONG_MAX / 1000, id) ||
        parts[0][0] == '+') {
        error = syntax;
        return 0;
    }
    if (id >= RANGE_COUNT) {
        error = "bad range '" + text + "': identifier " + parts[0] + " is outside 0..15";
        return 0;
    }
    RangeChoice choice;
    for (const std::string& spanText : SplitAt(parts[1], ',')) {
        IndexSpan span;
        bool outOfRange = false;
        if (!ParseSpan(spanText, span, outOfRange)) {
            error = outOfRange ? "bad range '" + text + "': palette indices are 0..255" : syntax;
            return 0;
        }
        // Each span adds an entry at least; more spans than entries only repeat them.
        if (choice.spans.size() == PALETTE_ENTRIES) {
            error = "bad range '" + text + "': more than 256 spans";
            return 0;
        }
        choice.spans.push_back(span);
    }
    std::string problem;
    if (!ParseRangeWords({parts.begin() + 2, parts.end()}, choice, problem)) {
        error = problem.empty() ? syntax : "bad range '" + text + "': " + problem;
        return 0;
    }
    // The block holds the first span and the checkerboard flag; the choice keeps the rest.
    range.id = static_cast<int>(id);
    range.first = choice.spans.front().first;
    range.last = choice.spans.front().last;
    range.dither = choice.dither == DitherPattern::Checker;
    if (choice.spans.size() == 1) {
        choice.spans.clear();
    }
    if (choice.dither == DitherPattern::Checker || choice.dither == DitherPattern::None) {
        choice.dither.reset();
    }
    range.choice = choice;
    return 1;
}

int ParseReserveList(const std::string& text, std::bitset<PALETTE_ENTRIES>& reserved,
                     std::string& error) {
    std::bitset<PALETTE_ENTRIES> entries;
    for (const std::string& item : SplitAt(text, ',')) {
        IndexSpan span;
        bool outOfRange = false;
        if (!ParseSpan(item, span, outOfRange)) {
            error = "bad --reserve '" + text + "': " +
                    (outOfRange ? std::string("palette indices are 0..255")
                                : std::string("expected entries N or A-B joined by ','"));
            return 0;
        }
        for (int i = std::min(span.first, span.last); i <= std::max(span.first, span.last); ++i) {
            entries.set(static_cast<size_t>(i));
        }
    }
    reserved |= entries;
    return 1;
}

int ParseRenderOptions(const std::vector<std::string>& args, RenderOptions& options,
                       std::string& error) {
    std::vector<OptionSpec> specs;
    int pngNames = 0;
    AddSettingsEditOptions(specs, options.edits);
    SettingsEdits& edits = options.edits;
    specs.push_back(
        {"--reserve", nullptr, true, [&edits](const std::string& value, std::string& problem) {
             std::bitset<PALETTE_ENTRIES> reserved = edits.reserved.value_or(0);
             if (!ParseReserveList(value, reserved, problem)) {
                 return 0;
             }
             edits.reserved = reserved;
             if (!edits.reservedList.empty()) {
                 edits.reservedList += ',';
             }
             edits.reservedList += value;
             return 1;
         }});
    AddInputOptions(specs, options);
    AddOutputOptions(specs, options, pngNames);
    AddRunOptions(specs, options);
    if (!ParseArguments(args, specs, options.help, options.colorFiles, error)) {
        return 0;
    }
    return options.help ? 1 : CheckRenderOptions(options, pngNames, error);
}

int ParseSettingsNewOptions(const std::vector<std::string>& args, SettingsNewOptions& options,
                            std::string& error) {
    std::vector<OptionSpec> specs;
    AddSettingsEditOptions(specs, options.edits);
    specs.push_back(
        {"-o", nullptr, true, [&options](const std::string& value, std::string& problem) {
             return SetPath("-o", options.outputFile, value, problem);
         }});
    std::vector<std::string> operands;
    if (!ParseArguments(args, specs, options.help, operands, error)) {
        return 0;
    }
    if (options.help) {
        return 1;
    }
    if (!operands.empty()) {
        error = "unexpected argument '" + operands.front() + "'";
        return 0;
    }
    if (options.outputFile.empty()) {
        error = "no output file: give -o FILE";
        return 0;
    }
    return 1;
}

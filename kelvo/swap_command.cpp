// `kelvo swap`: indexed frames with their indices moved (--map) or their palette replaced
// (--palette), each written all or nothing, never over an input unless --in-place.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "kelvo/batch/exit_codes.h"
#include "kelvo/cli_options.h"
#include "kelvo/commands.h"
#include "kelvo/imageio/index_swap.h"
#include "kelvo/imageio/palette_file.h"
#include "kelvo/option_suggestion.h"
#include "kelvo/os/file_identity.h"
#include "kelvo/os/file_io.h"
#include "kelvo/os/interrupt.h"
#include "kelvo/usage_text.h"
#include "pcx/atomic_file.h"

namespace {

struct SwapOptions {
    IndexSwap swap = IdentitySwap();
    std::string palettePath;
    PaletteDepth depth = PALETTE_DEPTH_GUESS;
    std::string output;
    bool inPlace = false;
    std::vector<std::string> files;
};

// One input and where it goes, with its kind found from its first bytes.
struct SwapJob {
    std::string input;
    std::string output;
    SwapFileKind kind = SWAP_UNKNOWN;
};

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

bool IsDirectory(const std::string& path) {
    std::error_code failure;
    return std::filesystem::is_directory(std::filesystem::path(path), failure);
}

// Fills `options` from the arguments; on 0, `error` says why (all bad usage).
int ParseSwapOptions(const std::vector<std::string>& args, SwapOptions& options, bool& help,
                     std::string& error) {
    bool filesOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            options.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return 1;
        }
        if (arg == "--in-place") {
            options.inPlace = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.rfind("--", 0) == 0 ? arg.substr(0, equals) : arg;
        // The options that take a value; the flags above are only named in a suggestion.
        static const std::vector<std::string> valued = {"--map", "--palette", "--palette-depth",
                                                        "--output", "-o"};
        if (std::find(valued.begin(), valued.end(), name) == valued.end()) {
            std::vector<std::string> known = valued;
            known.insert(known.end(), {"--in-place", "--help"});
            error = "unknown option '";
            error.append(arg).append("'").append(DidYouMean(name, known));
            error += " (see 'kelvo swap --help')";
            return 0;
        }
        std::string value;
        if (name.size() < arg.size()) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option '" + name + "' needs a value (see 'kelvo swap --help')";
            return 0;
        }
        if (name == "--map") {
            if (!AddIndexMapping(value, options.swap, error)) {
                return 0;
            }
        } else if (name == "--palette-depth") {
            if (!ParsePaletteDepth(value, options.depth, error)) {
                return 0;
            }
        } else if ((name == "--palette" ? options.palettePath : options.output).empty() &&
                   !value.empty()) {
            (name == "--palette" ? options.palettePath : options.output) = value;
        } else {
            error = "option '" + name + "' is given twice or empty";
            return 0;
        }
    }
    if (options.files.empty()) {
        error = "swap needs at least one FILE (see 'kelvo swap --help')";
    } else if (!options.swap.movesIndices && options.palettePath.empty()) {
        error = "swap needs --map or --palette: nothing would change";
    } else if (options.output.empty() == !options.inPlace) {
        error = "swap needs either --output DIR-or-FILE or --in-place";
    }
    return error.empty() ? 1 : 0;
}

// Where each input goes: `output` is a directory when it exists as one or ends in a separator
// (the inputs keep their file names in it), else the one input's new name. Refuses two inputs
// with one output, and an output that is an input unless `inPlace` (then each is its own).
int PlanSwapJobs(const SwapOptions& options, std::vector<SwapJob>& jobs, std::string& error) {
    const bool directory =
        !options.inPlace && (IsSeparator(options.output.back()) || IsDirectory(options.output));
    if (!options.inPlace && !directory && options.files.size() > 1) {
        error = "--output '" + options.output +
                "' is not a directory; several files need one (end it in '/' to make it)";
        return 0;
    }
    std::set<std::string> inputs;
    for (const std::string& file : options.files) {
        inputs.insert(ComparableName(file));
    }
    std::set<std::string> outputs;
    for (const std::string& file : options.files) {
        SwapJob job;
        job.input = file;
        if (options.inPlace) {
            job.output = file;
        } else if (directory) {
            job.output = options.output;
            if (!IsSeparator(job.output.back())) {
                job.output += '/';
            }
            job.output += file.substr(FileNameStart(file.c_str()));
        } else {
            job.output = options.output;
        }
        const std::string name = ComparableName(job.output);
        if (!outputs.insert(name).second) {
            error = "two inputs would both be written to '" + job.output + "'";
            return 0;
        }
        if (!options.inPlace &&
            (inputs.count(name) != 0 || IsSameFile(IdentifyFile(job.output), IdentifyFile(file)))) {
            error = "'" + job.output + "' is an input; kelvo swap overwrites inputs only with " +
                    "--in-place";
            return 0;
        }
        jobs.push_back(job);
    }
    return 1;
}

// Reads the first bytes of every input: each must be a file of a kind swap takes.
int ProbeSwapJobs(std::vector<SwapJob>& jobs, std::string& error) {
    for (SwapJob& job : jobs) {
        FILE* file = std::fopen(job.input.c_str(), "rb");
        if (file == nullptr) {
            error = "cannot read '" + job.input + "': " + std::strerror(errno);
            return 0;
        }
        uint8_t head[SWAP_HEAD_SIZE];
        const size_t size = std::fread(head, 1, sizeof head, file);
        std::fclose(file);
        std::string why;
        if (!ProbeSwapFile(head, size, job.kind, why)) {
            error = "'" + job.input + "' " + why;
            return 0;
        }
    }
    return 1;
}

// Swaps one file; on 0, `error` says why.
int SwapOneFile(const SwapJob& job, const IndexSwap& swap, std::string& error) {
    std::vector<uint8_t> in;
    if (!ReadFileBytes(job.input, in, error)) {
        error = "cannot read '" + job.input + "': " + error;
        return 0;
    }
    std::vector<uint8_t> out;
    std::string why;
    if (!SwapIndexedFile(job.kind, in, swap, out, why)) {
        error = "'" + job.input + "' " + why + "; '" + job.output + "' not written";
        return 0;
    }
    std::string made;
    if (!MakeDirectoryFor(job.output, made, why) || !WriteFileBytes(job.output, out, why)) {
        error = "cannot write '" + job.output + "': " + why;
        return 0;
    }
    return 1;
}

}  // namespace

int RunSwapCommand(const std::vector<std::string>& args) {
    SwapOptions options;
    bool help = false;
    std::string error;
    if (!ParseSwapOptions(args, options, help, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    if (help) {
        std::fputs(SWAP_USAGE, stdout);
        return EXIT_DONE;
    }
    if (!options.palettePath.empty()) {
        PaletteFileInfo info;
        if (!ReadPaletteFile(options.palettePath, options.depth, options.swap.palette, info,
                             error)) {
            return Fail(EXIT_BAD_INPUT, error);
        }
        options.swap.newPalette = true;
        const std::string note = DescribePaletteFile(info);
        if (!note.empty()) {
            Complain("note: '" + options.palettePath + "' has " + note);
        }
    }
    std::vector<SwapJob> jobs;
    if (!PlanSwapJobs(options, jobs, error) || !ProbeSwapJobs(jobs, error)) {
        return Fail(EXIT_BAD_INPUT, error);
    }
    InstallInterruptHandlers();
    size_t failed = 0;
    for (const SwapJob& job : jobs) {
        if (InterruptRequested()) {
            return Fail(EXIT_INTERRUPTED,
                        "interrupted; files after '" + job.input + "' (and it) were not swapped");
        }
        if (!SwapOneFile(job, options.swap, error)) {
            Complain(error);
            ++failed;
        }
    }
    if (failed != 0) {
        return Fail(EXIT_NOT_WRITTEN, std::to_string(failed) + " of " +
                                          std::to_string(jobs.size()) + " files not written");
    }
    return EXIT_DONE;
}

// kelvo started by `kelvo render -j N` as one of its workers: takes its setup from the parent,
// loads the plug-in module itself and renders what the parent hands it.
#include "kelvo/batch/render_worker.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/filter_driver.h"
#include "host/filter_factory.h"
#include "kelvo/batch/exit_codes.h"
#include "kelvo/batch/parallel_render.h"
#include "kelvo/batch/worker_setup.h"

namespace {

int Refuse() {
    std::fprintf(stderr,
                 "kelvo: %s is for kelvo's own use: 'kelvo render -j N' starts it, with pipes "
                 "for its input and output\n",
                 WORKER_ARGUMENT);
    return EXIT_BAD_INPUT;
}

// kelvo as a worker: its pipes and setup from the parent, RunWorker over them.
int RunRenderWorker(const std::vector<std::string>& args) {
    const std::unique_ptr<WorkerLink> link = TakeWorkerLink(args);
    if (link == nullptr) {
        return Refuse();
    }
    WorkerSetup setup;
    size_t received = 0;
    const auto read = [&link, &received](uint8_t* data, size_t size) {
        const int got = link->Read(reinterpret_cast<char*>(data), size);
        received += got ? size : 0;
        return got;
    };
    if (!ReadFramedWorkerSetup(read, setup)) {
        // Nothing at all: pipes of someone else's; a setup that does not decode comes from a
        // kelvo of another version (the program was replaced during the run) or was damaged.
        // The parent reports the worker as lost, and this says why.
        return received == 0 ? Refuse()
                             : Fail(EXIT_NOT_WRITTEN,
                                    "render worker: the setup from 'kelvo render' is damaged or "
                                    "of another version of kelvo");
    }

    PluginFilter plugin;
    std::string error;
    if (!plugin.Open(setup.pluginPath, error)) {
        return Fail(EXIT_NOT_WRITTEN, "render worker: " + error);
    }
    PaletteRenderSettings settings;
    if (setup.settingsBlock.size() != sizeof settings ||
        !LoadFilterBlock(plugin.Filter(), setup.settingsBlock.data(), setup.settingsBlock.size())) {
        return Fail(EXIT_NOT_WRITTEN, "render worker: the filter refused the settings block");
    }
    std::memcpy(&settings, setup.settingsBlock.data(), sizeof settings);
    ParallelRender run;
    run.settings = &settings;
    run.choices = &setup.choices;
    run.pluginPath = setup.pluginPath;
    run.plans = &setup.plans;
    run.inputs = &setup.inputs;
    run.inputOptions = &setup.inputOptions;
    run.outputs = setup.outputs;
    run.cacheBytes = setup.cacheBytes > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(setup.cacheBytes);
    run.jobs = setup.jobs == 0 ? 1 : setup.jobs > INT_MAX ? INT_MAX : static_cast<int>(setup.jobs);
    RunWorker(run, *link);
    return EXIT_DONE;
}

}  // namespace

bool RunAsRenderWorker(const std::vector<std::string>& args, int& exitCode) {
    if (args.empty() || args[0] != WORKER_ARGUMENT) {
        return false;
    }
    exitCode = RunRenderWorker(std::vector<std::string>(args.begin() + 1, args.end()));
    return true;
}

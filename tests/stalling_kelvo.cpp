// kelvo whose workers hang or end on frames named for it, for the tests of --frame-timeout and
// of lost workers: a worker hangs checking a colour file whose name holds "stall_check", hangs
// rendering one whose name holds "stall_render", and ends, as a crash would, checking one whose
// name holds "crash_check". kelvo's own main is linked in unchanged; only this program, built
// with the tests, sets the hook.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "kelvo/batch/parallel_render.h"

namespace {

void HangOrEnd(const InputFrame& input, bool rendering) {
    const std::string& path = input.colorPath;
    if (path.find(rendering ? "stall_render" : "stall_check") != std::string::npos) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    if (!rendering && path.find("crash_check") != std::string::npos) {
        std::_Exit(3);
    }
}

[[maybe_unused]] const bool hooked = (SetWorkerFrameHook(HangOrEnd), true);

}  // namespace

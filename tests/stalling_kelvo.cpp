// kelvo whose workers hang or end on frames named for it, for the tests of --frame-timeout and
// of lost workers: a worker hangs checking a colour file whose name holds "stall_check", hangs
// rendering one whose name holds "stall_render", hangs halfway through writing the frame file
// of one whose name holds "stall_writing" (its temporary file made and partly written, as the
// module's own writing makes it), hangs after it wrote the files of one whose name holds
// "stall_written" (before it tells the host), and ends, as a crash would, checking one whose
// name holds "crash_check". kelvo's own main is linked in unchanged; only this program, built
// with the tests, sets the hook.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kelvo/batch/parallel_render.h"
#include "pcx/atomic_file.h"

namespace {

[[noreturn]] void Hang() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

void HangOrEnd(const InputFrame& input, const FramePlan& plan, WorkerStage stage) {
    const char* const stalls[] = {"stall_check", "stall_render", "stall_written"};
    const std::string& path = input.colorPath;
    if (path.find(stalls[stage]) != std::string::npos) {
        Hang();
    }
    if (stage == WORKER_RENDERING && path.find("stall_writing") != std::string::npos) {
        WriteFileAtomically(plan.file.c_str(), [](ByteSink& sink) {
            const std::vector<uint8_t> half(1 << 20, 0xCD);  // more than the file's buffer
            sink.Write(half.data(), half.size());
            Hang();
            return 0;
        });
    }
    if (stage == WORKER_CHECKING && path.find("crash_check") != std::string::npos) {
        std::_Exit(3);
    }
}

[[maybe_unused]] const bool hooked = (SetWorkerFrameHook(HangOrEnd), true);

}  // namespace

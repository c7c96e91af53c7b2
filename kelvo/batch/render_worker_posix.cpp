// POSIX workers are forked by kelvo render; a command line never makes one.
#include "kelvo/batch/render_worker.h"

bool RunAsRenderWorker(const std::vector<std::string>&, int&) {
    return false;
}

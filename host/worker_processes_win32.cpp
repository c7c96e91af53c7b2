// Worker processes on Windows: none can be started yet, so kelvo.exe renders in one process.
#include "host/worker_processes.h"

std::unique_ptr<WorkerProcesses> StartWorkers(const ParallelRender&) { return nullptr; }

int ProcessorCount() { return 1; }

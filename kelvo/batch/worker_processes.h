// The processes that render for `kelvo render -j N` and the pipes to them: worker_messages.h
// is the protocol, worker_processes_posix.cpp and worker_processes_win32.cpp carry it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kelvo/batch/parallel_render.h"

// A worker's two pipes: its messages to the host and the host's orders to it.
class HostLink {
public:
    // 0 when the host has gone away.
    virtual int Write(const char* data, size_t size) = 0;
    // Fills all `size` bytes; 0 when the host has closed the pipe (or it failed).
    virtual int Read(char* data, size_t size) = 0;
    // Sends what Write holds now rather than at the next Read; 0 when the host has gone away.
    virtual int Flush() { return 1; }

protected:
    ~HostLink() = default;
};

// The host's side: the worker processes it started, each reached through its own pipes.
class WorkerProcesses {
public:
    virtual ~WorkerProcesses() = default;

    virtual size_t Count() const = 0;
    // Sends `count` order words to `worker` in one write; ignored when the worker has gone.
    virtual void Order(size_t worker, const uint32_t* words, size_t count) = 0;
    void Order(size_t worker, uint32_t word) { Order(worker, &word, 1); }
    // Waits up to `milliseconds` for bytes from the workers whose pipes are open and hands
    // each piece to `take`; a pipe that has closed is handed over once, with size 0. Returns
    // 0, at once, when no pipe is open (or waiting for them fails).
    virtual int Receive(
        int milliseconds,
        const std::function<void(size_t worker, const char* data, size_t size)>& take) = 0;
    // Starts one more worker, as StartWorkers started the others: worker Count() - 1. False
    // when the system refuses a process or pipe.
    virtual bool AddWorker() = 0;
    // Ends `worker` at once, as a crash would, whatever it is doing (a worker stuck on a frame
    // answers nothing else); its pipes are closed, and nothing more comes from it.
    virtual void EndWorker(size_t worker) = 0;
    // Asks every worker to stop its frame at the next abort poll, as Ctrl-C would.
    virtual void Interrupt() = 0;
    // Closes the orders, so that a worker waiting for one ends, and waits until every worker
    // has ended.
    virtual void End() = 0;
};

// The processors this process may use (its affinity and CPU quota: UsableProcessorCount), 1 to
// 256: the default number of workers.
int ProcessorCount();

// Starts `run.jobs` workers, each kelvo itself in its worker mode (render_worker.h) sent the
// run's WorkerSetup, so that it renders with `run.settings`. Null, with none left running,
// when the system refuses a process or pipe.
std::unique_ptr<WorkerProcesses> StartWorkers(const ParallelRender& run);

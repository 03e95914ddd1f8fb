// Worker threads: the stand-in for CreateThread. Workers are detached; nobody joins
// them, as the control never joins its HTTP workers.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace kdx {

// Runs job on a new detached thread. Returns false, with job discarded unrun, when
// the thread cannot be created (or job is empty). An exception escaping job ends
// that worker only, never the process.
bool StartWorker(std::function<void()> job);

// Workers started and not yet finished (a worker counts as finished once its job and
// everything the job captured are destroyed).
std::size_t RunningWorkers();

// Blocks until no worker is running or the time-out passes; true when none runs.
// For tests and orderly shutdown, so leak checks see every worker's memory freed.
bool WaitForWorkers(std::chrono::milliseconds timeout);

}  // namespace kdx

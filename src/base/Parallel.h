// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// ParallelFor: the one way the program spreads work over the processor's cores.
//
// Every parallel stage — frame workers, project loading, layout scanning, music encoding —
// draws its extra threads from one process-wide budget of worker threads, so stages that
// nest (a frame worker that resizes in parallel, two runs at once in a test) never
// multiply into dozens of threads on a two-core machine. A call that finds the budget used
// up simply runs its items on the calling thread.

#include <cstddef>
#include <functional>

namespace lumivox {

// Calls fn(i) for every i in [0, count), on the calling thread and on at most budget - 1
// extra std::jthreads taken from the process-wide budget (budget <= 0 means "as many as
// the budget allows"). Items are handed out in ascending order; each runs exactly once
// unless an earlier item threw.
//
// The first exception an item throws stops the handing out of further items; the call
// waits for the items already running and then rethrows that exception on the calling
// thread, so no worker is ever left joinable behind an exception. Failure to create a
// thread is not an error: the items run on the threads that exist.
void ParallelFor(std::size_t count, int budget, const std::function<void(std::size_t)>& fn);

// The process-wide number of worker threads (processor count unless set), and its change
// for tests and the "--jobs" option. At least 1.
int WorkerBudget();
void SetWorkerBudget(int threads);

// Extra threads currently taken from the budget (tests).
int WorkersInUse();

} // namespace lumivox

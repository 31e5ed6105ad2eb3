// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace lumivox {
namespace {

std::atomic<int> gBudget{0}; // 0: not set, use the processor count
std::atomic<int> gInUse{0};

// Takes up to wanted extra threads from the budget; returns how many it got.
int TakeThreads(int wanted)
{
    if (wanted <= 0)
        return 0;
    const int limit = WorkerBudget() - 1; // the calling thread is never counted
    int current = gInUse.load();
    for (;;) {
        const int granted = std::min(wanted, limit - current);
        if (granted <= 0)
            return 0;
        if (gInUse.compare_exchange_weak(current, current + granted))
            return granted;
    }
}

void GiveBack(int threads)
{
    if (threads > 0)
        gInUse.fetch_sub(threads);
}

} // namespace

int WorkerBudget()
{
    const int set = gBudget.load();
    if (set > 0)
        return set;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

void SetWorkerBudget(int threads)
{
    gBudget.store(std::max(threads, 0));
}

int WorkersInUse()
{
    return gInUse.load();
}

void ParallelFor(std::size_t count, int budget, const std::function<void(std::size_t)>& fn)
{
    if (count == 0)
        return;
    const int wanted = budget <= 0 ? WorkerBudget() : budget;
    const int extra = TakeThreads(static_cast<int>(std::min<std::size_t>(count, static_cast<std::size_t>(wanted))) - 1);

    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr firstError;
    std::mutex errorMutex;

    auto work = [&] {
        while (!failed.load(std::memory_order_relaxed)) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count)
                return;
            try {
                fn(i);
            } catch (...) {
                std::lock_guard lock(errorMutex);
                if (!firstError)
                    firstError = std::current_exception();
                failed.store(true);
                return;
            }
        }
    };

    int started = 0;
    {
        std::vector<std::jthread> threads;
        threads.reserve(static_cast<std::size_t>(extra));
        for (int t = 0; t < extra; ++t) {
            try {
                threads.emplace_back(work);
                ++started;
            } catch (const std::system_error&) {
                break; // the system refused another thread: go on with those we have
            }
        }
        GiveBack(extra - started);
        work();
    } // jthreads join here, also when the calling thread's own items threw nothing
    GiveBack(started);
    if (firstError)
        std::rethrow_exception(firstError);
}

} // namespace lumivox

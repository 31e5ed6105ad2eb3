// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/DecodeBudget.h"

#include "picture/PLTextException.h"
#include "picture/PicReader.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lumivox {

namespace {

std::size_t DefaultBudget()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const std::uint64_t physical =
        pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) : 0;
    constexpr std::uint64_t kMin = std::uint64_t(512) << 20;
    constexpr std::uint64_t kMax = std::uint64_t(2) << 30;
    return static_cast<std::size_t>(std::clamp(physical / 4, kMin, kMax));
}

struct Budget {
    std::mutex mutex;
    std::condition_variable freed;
    std::size_t budget = DefaultBudget();
    std::size_t countedFrom = std::size_t(64) << 20;
    std::size_t inUse = 0;
    int waiters = 0;
};

Budget& TheBudget()
{
    static Budget budget;
    return budget;
}

thread_local DecodeMemoryScope* currentScope = nullptr;

} // namespace

DecodeMemoryScope::DecodeMemoryScope() : outer_(currentScope)
{
    currentScope = this;
}

DecodeMemoryScope::~DecodeMemoryScope()
{
    currentScope = outer_;
    if (held_ == 0)
        return;
    Budget& b = TheBudget();
    {
        std::lock_guard lock(b.mutex);
        b.inUse -= held_;
    }
    b.freed.notify_all();
}

void ReserveDecodeMemory(std::size_t bytes)
{
    if (currentScope == nullptr)
        return;
    // Nested scopes (the preview of an EPS file) share the outermost one's reservation.
    DecodeMemoryScope* scope = currentScope;
    while (scope->outer_ != nullptr)
        scope = scope->outer_;
    Budget& b = TheBudget();
    std::unique_lock lock(b.mutex);
    if (bytes < b.countedFrom)
        return;
    if (scope->held_ == 0) {
        ++b.waiters;
        // The wait looks at the run's cancel now and then: a cancelled run does not wait for
        // another worker's huge picture.
        while (b.inUse != 0 && b.inUse + bytes > b.budget) {
            b.freed.wait_for(lock, std::chrono::milliseconds(50));
            if (b.inUse == 0 || b.inUse + bytes <= b.budget)
                break;
            lock.unlock();
            const bool cancelled = DecodeWatchScope::StepCancelled();
            lock.lock();
            if (cancelled) {
                --b.waiters;
                throw PLTextException(PL_ERRINTERNAL, kDecodeCancelled);
            }
        }
        --b.waiters;
    }
    b.inUse += bytes;
    scope->held_ += bytes;
}

void SetDecodeMemoryLimits(std::size_t budget, std::size_t countedFrom)
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    b.budget = budget;
    b.countedFrom = countedFrom;
}

std::size_t DecodeMemoryInUse()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return b.inUse;
}

int DecodeMemoryWaiters()
{
    Budget& b = TheBudget();
    std::lock_guard lock(b.mutex);
    return b.waiters;
}

} // namespace lumivox

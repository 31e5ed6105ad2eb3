#pragma once
// A manual-reset event: once set it stays set, releasing every waiter, until Reset.
// Used for the production cancel event, which a retry loop waits on instead of a bare
// sleep so that cancelling wakes it at once.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumivox {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Blocks until the event is set.
    void Wait() const;
    // Blocks until the event is set or timeout has passed; true when it is set.
    bool WaitFor(std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_;
};

} // namespace lumivox

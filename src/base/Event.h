// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A manual-reset event: once set it stays set, releasing every waiter, until Reset.
// Used for the production cancel event. Whatever waits — a retry loop, a poll on a child
// process's pipe, a queue's condition variable — is woken at once when it is set:
//  - WaitFor replaces a bare sleep;
//  - NotifyDescriptor is readable while the event is set, for poll();
//  - OnSet registers a callback run by Set, for waits on another condition variable.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

namespace lumivox {

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) { }
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Blocks until the event is set.
    void Wait() const;
    // Blocks until the event is set or timeout has passed; true when it is set.
    bool WaitFor(std::chrono::milliseconds timeout) const;

    // A descriptor (owned by the event, valid for its lifetime) that poll() reports
    // readable exactly while the event is set; -1 when the system could not make one, in
    // which case a caller falls back to short poll timeouts. Never read from it.
    int NotifyDescriptor() const;

    // Runs callback on the thread that calls Set, each time the event goes from reset to
    // set (and at once when it is already set). The callback must be quick and must not
    // call back into this event; it may run twice for one Set that races its
    // registration, so it should only wake something. The returned token is given to RemoveCallback before the
    // callback's objects go away; Subscription does that automatically.
    using CallbackToken = std::uint64_t;
    CallbackToken AddCallback(std::function<void()> callback);
    void RemoveCallback(CallbackToken token);

    // Keeps a callback registered for its own lifetime.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(const ManualResetEvent& event, std::function<void()> callback);
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

    private:
        ManualResetEvent* event_ = nullptr;
        CallbackToken token_ = 0;
    };

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_;
    mutable int notifyFd_ = -2; // -2: not made yet
    // Callbacks run outside mutex_; callbackMutex_ keeps RemoveCallback from returning
    // while one is running.
    std::mutex callbackMutex_;
    std::map<CallbackToken, std::function<void()>> callbacks_;
    CallbackToken nextToken_ = 1;
};

} // namespace lumivox

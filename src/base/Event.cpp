// SPDX-License-Identifier: GPL-2.0-or-later
#include "base/Event.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace lumivox {

ManualResetEvent::~ManualResetEvent()
{
    if (notifyFd_ >= 0)
        ::close(notifyFd_);
}

void ManualResetEvent::Set()
{
    bool wasSet;
    {
        std::lock_guard lock(mutex_);
        wasSet = set_;
        set_ = true;
        if (!wasSet && notifyFd_ >= 0) {
            const std::uint64_t one = 1;
            // A failed write can only mean the counter is already non-zero: still readable.
            [[maybe_unused]] auto written = ::write(notifyFd_, &one, sizeof one);
        }
    }
    changed_.notify_all();
    if (!wasSet) {
        std::lock_guard lock(callbackMutex_);
        for (auto& [token, callback] : callbacks_)
            callback();
    }
}

void ManualResetEvent::Reset()
{
    std::lock_guard lock(mutex_);
    if (set_ && notifyFd_ >= 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] auto got = ::read(notifyFd_, &value, sizeof value);
    }
    set_ = false;
}

bool ManualResetEvent::IsSet() const
{
    std::lock_guard lock(mutex_);
    return set_;
}

void ManualResetEvent::Wait() const
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
}

bool ManualResetEvent::WaitFor(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return set_; });
}

int ManualResetEvent::NotifyDescriptor() const
{
    std::lock_guard lock(mutex_);
    if (notifyFd_ == -2) {
        notifyFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (notifyFd_ >= 0 && set_) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(notifyFd_, &one, sizeof one);
        }
    }
    return notifyFd_ >= 0 ? notifyFd_ : -1;
}

ManualResetEvent::CallbackToken ManualResetEvent::AddCallback(std::function<void()> callback)
{
    CallbackToken token;
    {
        std::lock_guard lock(callbackMutex_);
        token = nextToken_++;
        callbacks_.emplace(token, callback);
    }
    if (IsSet())
        callback();
    return token;
}

void ManualResetEvent::RemoveCallback(CallbackToken token)
{
    std::lock_guard lock(callbackMutex_);
    callbacks_.erase(token);
}

ManualResetEvent::Subscription::Subscription(const ManualResetEvent& event, std::function<void()> callback)
    : event_(const_cast<ManualResetEvent*>(&event)), token_(event_->AddCallback(std::move(callback)))
{ }

ManualResetEvent::Subscription::~Subscription()
{
    if (event_)
        event_->RemoveCallback(token_);
}

} // namespace lumivox

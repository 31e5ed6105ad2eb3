// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The way back from a worker to the QObject that gave it work, on that object's thread.
//
// A worker may outlive its owner (a page or dialog that closed while a drive was still
// loading), so it never holds the owner itself: it holds the link, and the owner cuts the
// link when it goes. Each request the owner makes may take a new generation; a result that
// arrives for an older generation than the owner's current one is dropped, so the window
// shows the last result until the newest arrives.

#include "logic/QueuedCall.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace lumivox::ui {

class OwnerLink {
public:
    explicit OwnerLink(QObject* owner) : owner_(owner) { }
    OwnerLink(const OwnerLink&) = delete;
    OwnerLink& operator=(const OwnerLink&) = delete;

    // Any thread: runs task later on the owner's thread, unless the owner has cut the link
    // first (then task is dropped, possibly on the caller's thread).
    void Post(std::function<void()> task) const
    {
        std::lock_guard lock(mutex_);
        if (owner_)
            PostQueued(owner_, std::move(task));
    }
    // As Post, but task runs only if generation is still the owner's current one then.
    void PostIfCurrent(unsigned generation, std::function<void()> task) const
    {
        Post([this, generation, task = std::move(task)] {
            if (generation == generation_.load())
                task();
        });
    }
    // Owner's thread: starts a new generation (older results are dropped from now on).
    unsigned NextGeneration() { return ++generation_; }
    unsigned Generation() const { return generation_.load(); }
    // Owner's thread, before it goes: nothing posted from now on reaches it.
    void Cut()
    {
        std::lock_guard lock(mutex_);
        owner_ = nullptr;
    }

private:
    mutable std::mutex mutex_;
    QObject* owner_;
    std::atomic<unsigned> generation_{0};
};

using OwnerLinkPtr = std::shared_ptr<OwnerLink>;

inline OwnerLinkPtr MakeOwnerLink(QObject* owner)
{
    return std::make_shared<OwnerLink>(owner);
}

} // namespace lumivox::ui

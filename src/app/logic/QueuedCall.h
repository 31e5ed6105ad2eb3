// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Hands a call from any thread to an object's thread, through that object's event queue
// (Qt drops the call when the object is destroyed before it runs).
//
// Qt is not built with ThreadSanitizer, so the event queue's lock is invisible to it: it
// would take everything the posting thread wrote before posting (the call's captures and
// what they point to) as raced by the receiving thread. So the hand-over also passes one
// lock of ours, held while the call is queued and taken by the call before it runs. That
// is the order the queue gives anyway; the lock only makes it visible, at the cost of two
// uncontended lockings per call.

#include <QMetaObject>
#include <QObject>

#include <mutex>
#include <utility>

namespace lumivox::ui {

inline std::mutex& QueuedCallLock()
{
    static std::mutex lock;
    return lock;
}

template <typename Task>
void PostQueued(QObject* target, Task task)
{
    std::lock_guard queued(QueuedCallLock());
    QMetaObject::invokeMethod(
        target,
        [task = std::move(task)]() mutable {
            {
                std::lock_guard seen(QueuedCallLock());
            }
            task();
        },
        Qt::QueuedConnection);
}

} // namespace lumivox::ui

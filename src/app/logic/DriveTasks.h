// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The drive commands of the desktop program run here, never on the window's thread: a
// drive can take seconds to spin up, load, eject or answer, and a full erase takes minutes.
//
// One DriveTasks per drive: its tasks run one after another on the drive's own worker, in
// the order they were given, so two commands never meet on one drive. A task reports back
// through an OwnerLink. Pending() counts the tasks given and not yet ended, which the pages
// show as their busy state.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace lumivox::ui {

class DriveTasks {
public:
    DriveTasks();
    // Runs the tasks still queued, then ends the worker (the program is going).
    ~DriveTasks();
    DriveTasks(const DriveTasks&) = delete;
    DriveTasks& operator=(const DriveTasks&) = delete;

    // Any thread: queues task behind the drive's other tasks.
    void Run(std::function<void()> task);
    // Tasks given and not yet ended.
    int Pending() const { return pending_.load(); }

private:
    void Work(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> tasks_;
    std::atomic<int> pending_{0};
    std::jthread worker_;
};

// The drives' task owners by device name, each made when first asked for.
class DriveTaskSet {
public:
    DriveTasks& For(const std::string& device);

private:
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<DriveTasks>> drives_;
};

} // namespace lumivox::ui

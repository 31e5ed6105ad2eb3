// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/DriveTasks.h"

namespace lumivox::ui {

DriveTasks::DriveTasks() : worker_([this](std::stop_token stop) { Work(stop); })
{ }

DriveTasks::~DriveTasks()
{
    worker_.request_stop();
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
}

void DriveTasks::Run(std::function<void()> task)
{
    ++pending_;
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void DriveTasks::Work(std::stop_token stop)
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop, [this] { return !tasks_.empty(); });
            // A stop leaves the loop only once the queue is empty: every task given runs,
            // so whatever it holds (an opened drive, a run) is let go on this thread.
            if (tasks_.empty())
                return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        --pending_;
    }
}

DriveTasks& DriveTaskSet::For(const std::string& device)
{
    std::lock_guard lock(mutex_);
    std::unique_ptr<DriveTasks>& tasks = drives_[device];
    if (!tasks)
        tasks = std::make_unique<DriveTasks>();
    return *tasks;
}

} // namespace lumivox::ui

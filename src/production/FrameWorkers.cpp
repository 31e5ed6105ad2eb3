// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/FrameWorkers.h"

#include "base/Parallel.h"

#include <exception>

namespace lumivox {

FrameWorkers::FrameWorkers(std::size_t count, std::vector<std::string> stillPaths, Work work,
                           const ManualResetEvent& cancel, Skipped skipped)
    : count_(count), stillPaths_(std::move(stillPaths)), work_(std::move(work)), cancel_(cancel),
      skipped_(std::move(skipped)), slots_(count), cancelWakes_(cancel, [this] {
          std::lock_guard<std::mutex> lock(mutex_);
          changed_.notify_all();
      })
{
    for (std::size_t w = stillPaths_.size(); w-- > 0;)
        freeStills_.push_back(w); // worker 0's still file is taken first
    const int workers = static_cast<int>(stillPaths_.size());
    coordinator_ = std::jthread([this, workers] {
        try {
            ParallelFor(count_, workers, [this](std::size_t index) { MakeFrame(index); });
        } catch (...) {
            // MakeFrame turns every failure into a failed frame; nothing reaches here.
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    });
}

FrameWorkers::~FrameWorkers()
{
    Stop();
}

void FrameWorkers::MakeFrame(std::size_t index)
{
    const std::size_t window = stillPaths_.size();
    std::size_t still = 0;
    bool skip = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || cancel_.IsSet() || index < collected_ + window; });
        if (stop_ || cancel_.IsSet() || freeStills_.empty()) {
            stop_ = true;
            skip = true;
        } else {
            still = freeStills_.back();
            freeStills_.pop_back();
        }
    }
    if (skip) {
        if (skipped_)
            skipped_(index);
        return;
    }
    FrameOutcome outcome;
    try {
        outcome = work_(index, still, stillPaths_[still]);
    } catch (const std::exception& e) {
        outcome = {};
        outcome.error = e.what();
    } catch (...) {
        outcome = {};
        outcome.error = "unexpected failure";
    }
    std::lock_guard<std::mutex> lock(mutex_);
    freeStills_.push_back(still);
    if (!outcome.ok)
        stop_ = true;
    slots_[index].outcome = std::move(outcome);
    slots_[index].done = true;
    changed_.notify_all();
}

const FrameOutcome* FrameWorkers::WaitFor(std::size_t index)
{
    if (index >= count_)
        return nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slots_[index].done || ended_; });
    if (!slots_[index].done)
        return nullptr;
    if (index + 1 > collected_) {
        collected_ = index + 1;
        changed_.notify_all();
    }
    return &slots_[index].outcome;
}

void FrameWorkers::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    if (coordinator_.joinable())
        coordinator_.join();
}

CancelFlag::CancelFlag(const ManualResetEvent& event) : subscription_(event, [this] { flag_ = true; })
{ }

} // namespace lumivox

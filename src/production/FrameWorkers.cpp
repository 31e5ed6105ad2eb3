// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/FrameWorkers.h"

#include "base/Parallel.h"

#include <algorithm>
#include <exception>

namespace lumivox {

namespace {

// Frames a worker of several may be ahead of the collector, per worker: enough that a
// photo that takes four times as long as the others does not hold them up.
constexpr std::size_t kWindowPerWorker = 3;

} // namespace

FrameWorkers::FrameWorkers(std::size_t count, std::vector<std::string> stillPaths, Work work,
                           const ManualResetEvent& cancel, Skipped skipped, Ready ready)
    : count_(count), stillPaths_(std::move(stillPaths)), work_(std::move(work)), cancel_(cancel),
      skipped_(std::move(skipped)), ready_(std::move(ready)),
      window_(stillPaths_.size() > 1 ? kWindowPerWorker * stillPaths_.size() : 1), slots_(count), taken_(count, false),
      cancelWakes_(cancel, [this] {
          std::lock_guard<std::mutex> lock(mutex_);
          changed_.notify_all();
      })
{
    for (std::size_t w = stillPaths_.size(); w-- > 0;)
        freeStills_.push_back(w); // worker 0's still file is taken first
    const int workers = static_cast<int>(stillPaths_.size());
    coordinator_ = std::jthread([this, workers] {
        try {
            ParallelFor(static_cast<std::size_t>(workers), workers, [this](std::size_t) { WorkerLoop(); });
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

void FrameWorkers::WorkerLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        while (firstUntaken_ < count_ && taken_[firstUntaken_])
            ++firstUntaken_;
        if (firstUntaken_ >= count_)
            return;
        if (stop_ || cancel_.IsSet() || freeStills_.empty()) {
            // Every frame not taken yet is given up, each once, so that whoever waits for
            // one (the collector, a page waiting for its covers) stops waiting.
            stop_ = true;
            const std::size_t index = firstUntaken_;
            taken_[index] = true;
            lock.unlock();
            if (skipped_)
                skipped_(index);
            lock.lock();
            continue;
        }
        std::size_t index = count_;
        const std::size_t end = std::min(count_, collected_ + window_);
        for (std::size_t i = firstUntaken_; i < end; ++i)
            if (!taken_[i] && (!ready_ || ready_(i))) {
                index = i;
                break;
            }
        if (index == count_) {
            changed_.wait(lock);
            continue;
        }
        taken_[index] = true;
        const std::size_t still = freeStills_.back();
        freeStills_.pop_back();
        lock.unlock();
        MakeFrame(index, still);
        lock.lock();
    }
}

void FrameWorkers::MakeFrame(std::size_t index, std::size_t still)
{
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

#include "production/FrameWorkers.h"

#include <chrono>
#include <exception>

namespace lumivox {

FrameWorkers::FrameWorkers(std::size_t count, std::vector<std::string> stillPaths, Work work,
                           const ManualResetEvent& cancel)
    : count_(count), stillPaths_(std::move(stillPaths)), work_(std::move(work)), cancel_(cancel), slots_(count)
{
    running_ = stillPaths_.size();
    threads_.reserve(stillPaths_.size());
    for (std::size_t w = 0; w < stillPaths_.size(); ++w)
        threads_.emplace_back([this, w] { Loop(w); });
}

FrameWorkers::~FrameWorkers()
{
    Stop();
}

void FrameWorkers::Loop(std::size_t worker)
{
    const std::size_t window = stillPaths_.size();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || next_ >= count_ || next_ < collected_ + window; });
        if (stop_ || next_ >= count_ || cancel_.IsSet())
            break;
        const std::size_t index = next_++;
        lock.unlock();
        FrameOutcome outcome;
        try {
            outcome = work_(index, stillPaths_[worker]);
        } catch (const std::exception& e) {
            outcome = {};
            outcome.error = e.what();
        } catch (...) {
            outcome = {};
            outcome.error = "unexpected failure";
        }
        lock.lock();
        if (!outcome.ok)
            stop_ = true;
        slots_[index].outcome = std::move(outcome);
        slots_[index].done = true;
        changed_.notify_all();
    }
    --running_;
    changed_.notify_all();
}

const FrameOutcome* FrameWorkers::WaitFor(std::size_t index)
{
    if (index >= count_)
        return nullptr;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slots_[index].done || running_ == 0; });
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
    for (std::thread& thread : threads_)
        if (thread.joinable())
            thread.join();
}

CancelFlag::CancelFlag(const ManualResetEvent& event)
    : watcher_([this, &event](std::stop_token stop) {
          while (!stop.stop_requested())
              if (event.WaitFor(std::chrono::milliseconds(50))) {
                  flag_ = true;
                  return;
              }
      })
{
}

CancelFlag::~CancelFlag()
{
    watcher_.request_stop();
}

} // namespace lumivox

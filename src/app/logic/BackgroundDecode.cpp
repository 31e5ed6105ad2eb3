// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/BackgroundDecode.h"

#include "logic/QueuedCall.h"

namespace lumivox::ui {

BackgroundDecode::~BackgroundDecode()
{
    Cancel();
    if (worker_.joinable())
        worker_.join();
    stale_.clear(); // all cancelled before
}

int BackgroundDecode::StaleWorkers() const
{
    int going = 0;
    for (const Worker& worker : stale_)
        going += worker.ended->load() ? 0 : 1;
    return going;
}

void BackgroundDecode::ReapEnded()
{
    std::erase_if(stale_, [](const Worker& worker) { return worker.ended->load(); });
}

void BackgroundDecode::Cancel()
{
    if (cancel_)
        cancel_->store(true);
}

void BackgroundDecode::Start(Job job, ProjectDecodeOptions options, Progress onProgress, Finished onFinished)
{
    Cancel();
    if (worker_.joinable())
        stale_.push_back(Worker{std::move(worker_), ended_});
    ReapEnded();
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    ended_ = std::make_shared<std::atomic<bool>>(false);
    running_ = true;
    const unsigned generation = ++generation_;

    worker_ = std::jthread([this, generation, job = std::move(job), options = std::move(options),
                            onProgress = std::move(onProgress), onFinished = std::move(onFinished), cancel = cancel_,
                            ended = ended_](std::stop_token) mutable {
        options.cancel = cancel.get();
        // The decoding threads report one at a time (the decode's own contract).
        int lastPercent = -1;
        options.progress = [&](int done, int total) {
            const int percent = total > 0 ? done * 100 / total : 100;
            if (percent == lastPercent)
                return;
            lastPercent = percent;
            PostQueued(receiver_, [this, generation, onProgress, done, total] {
                if (generation == generation_ && onProgress)
                    onProgress(done, total);
            });
        };
        auto result = std::make_shared<DecodedProject>(job(options));
        if (cancel->load())
            result->cancelled = true;
        // The receiver owns this object, whose destructor joins the threads, so posting to
        // it is safe; Qt drops the call if the receiver is gone before it runs.
        PostQueued(receiver_, [this, generation, onFinished, result] {
            if (generation != generation_)
                return;
            running_ = false;
            if (onFinished)
                onFinished(result);
        });
        ended->store(true);
    });
}

} // namespace lumivox::ui

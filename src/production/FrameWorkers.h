// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The workers of the frame stages of a production run: frames 0 .. count-1 are made
// (render -> encode -> multiplex) by several threads at once, each frame by one worker
// with that worker's own still file, and collected in frame order by the production
// thread. Workers take the first frame not yet taken that is ready to be made (a menu
// page needs its covers from slides first); a frame that is not ready is passed over
// for the next and taken once it is, so no worker sits waiting while there is work.
// Workers stay within a window of frames ahead of the collecting thread: one frame
// for a lone worker, a few frames each for several, so that one long frame does not
// stop the others while the work done beyond what was collected stays bounded. The
// workers are ParallelFor threads from the process's worker budget, started by one
// coordinating thread, so the frame stages and the resizing inside each frame share one
// budget.

#include "base/Event.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace lumivox {

// What one frame came to.
struct FrameOutcome {
    bool ok = false;
    std::string error; // when not ok: what failed, for the user
    std::string warning; // shown but not fatal (a black frame, a black menu page)
    std::string unreadable; // "PATH: reason" of a picture that could not be decoded
};

class FrameWorkers {
public:
    // Makes frame `index` as worker number `worker` (from 0; one worker at a time has a
    // number, together with that number's still file). Runs on a worker thread; must not
    // throw (an exception is turned into a failed frame).
    using Work = std::function<FrameOutcome(std::size_t index, std::size_t worker, const std::string& stillPath)>;

    // Called on a worker thread for every frame that is not made because the workers
    // stop (cancel, a failed frame), so that whoever waits for it can stop waiting.
    using Skipped = std::function<void(std::size_t index)>;

    // Whether frame `index` can be made now without waiting (called with the workers'
    // lock held; it must not block). Empty: every frame is. A frame is checked again
    // whenever another frame ends, and it must become ready once the frames before it
    // have ended.
    using Ready = std::function<bool(std::size_t index)>;

    // Starts up to one worker per still path (fewer when the worker budget is short). A
    // worker takes no new frame once `cancel` is set or a frame has failed.
    FrameWorkers(std::size_t count, std::vector<std::string> stillPaths, Work work, const ManualResetEvent& cancel,
                 Skipped skipped = {}, Ready ready = {});
    // Stops and joins the workers (frames under way are finished).
    ~FrameWorkers();
    FrameWorkers(const FrameWorkers&) = delete;
    FrameWorkers& operator=(const FrameWorkers&) = delete;

    // Waits until frame index is made and returns its outcome, or returns null when no
    // worker will make it any more (cancelled).
    const FrameOutcome* WaitFor(std::size_t index);
    // No new frame is taken; returns when every worker has ended.
    void Stop();

private:
    struct Slot {
        bool done = false;
        FrameOutcome outcome;
    };
    void WorkerLoop();
    void MakeFrame(std::size_t index, std::size_t still);

    const std::size_t count_;
    const std::vector<std::string> stillPaths_;
    const Work work_;
    const ManualResetEvent& cancel_;
    const Skipped skipped_;
    const Ready ready_;
    const std::size_t window_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    std::vector<bool> taken_;
    std::size_t firstUntaken_ = 0;
    std::vector<std::size_t> freeStills_; // still paths no worker holds now
    std::size_t collected_ = 0; // frames handed back by WaitFor
    bool stop_ = false;
    bool ended_ = false; // every worker has ended
    ManualResetEvent::Subscription cancelWakes_;
    std::jthread coordinator_;
};

// An atomic flag that follows a manual-reset event, for code that polls a flag (music
// conversion). Setting the event sets the flag at once, while the object lives.
class CancelFlag {
public:
    explicit CancelFlag(const ManualResetEvent& event);
    CancelFlag(const CancelFlag&) = delete;
    CancelFlag& operator=(const CancelFlag&) = delete;
    const std::atomic<bool>* Flag() const { return &flag_; }

private:
    std::atomic<bool> flag_{false};
    ManualResetEvent::Subscription subscription_;
};

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one worker shape of the desktop program's picture decodes (opening a project,
// adding pictures): a job runs DecodeProjectFile or DecodeProjectListing on a thread of its
// own with a cancel flag; progress (in whole-percent steps, so that thousands of pictures
// do not flood the event queue) and the result come back as queued calls on the
// receiver's thread. Starting again cancels the decode under way without waiting for it
// (a cancelled decode ends after the picture it is on), and whatever it still posts is
// dropped: each start is a generation, and only the latest one is delivered. Ended workers
// are reaped at the next start; only the destructor waits for one still going.

#include "project/AlbumTable.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace lumivox::ui {

class BackgroundDecode {
public:
    // The decode itself, run on the worker with options whose cancel flag and progress
    // are filled in.
    using Job = std::function<DecodedProject(const ProjectDecodeOptions& options)>;
    using Progress = std::function<void(int done, int total)>;
    using Finished = std::function<void(std::shared_ptr<DecodedProject> result)>;

    // receiver: the object whose thread the calls are delivered on; it owns this object.
    explicit BackgroundDecode(QObject* receiver) : receiver_(receiver) { }
    // Cancels the decode under way and waits for its threads.
    ~BackgroundDecode();
    BackgroundDecode(const BackgroundDecode&) = delete;
    BackgroundDecode& operator=(const BackgroundDecode&) = delete;

    // options: everything but the cancel flag and the progress, which are this object's.
    // A decode that was cancelled still finishes, with its result marked cancelled.
    void Start(Job job, ProjectDecodeOptions options, Progress onProgress, Finished onFinished);
    void Cancel();
    bool IsRunning() const { return running_; }
    // Cancelled workers that have not ended yet (tests).
    int StaleWorkers() const;

private:
    struct Worker {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    void ReapEnded();

    QObject* receiver_;
    std::jthread worker_;
    std::shared_ptr<std::atomic<bool>> ended_;
    std::vector<Worker> stale_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    bool running_ = false;
    unsigned generation_ = 0;
};

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The editor's file-list thumbnail worker: one thread per folder shown, making the small
// thumbnail (64 x 64 box) of each listed file in list order, from the thumbnail cache
// when it has the file and otherwise by decoding the file in reduced mode. Each result
// is handed to a sink on the worker thread, tagged with the generation the list was
// filled under, so that the user-interface side can drop results of a folder it has
// left. Stop() must be called (the destructor does) before the list is filled again.

#include "picture/PicBitmap.h"
#include "project/AlbumTable.h"
#include "project/ThumbnailCache.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace lumivox {

class ThumbnailWorker {
public:
    // One finished row: thumbnail is null when the file could not be decoded.
    using ResultSink = std::function<void(unsigned generation, int row, std::shared_ptr<const PicBitmap> thumbnail,
                                          ThumbnailPlacement placement)>;
    // The worker has gone through the list (stopped early or not).
    using DoneSink = std::function<void(unsigned generation, bool stopped)>;

    // cache must outlive the worker. decoder replaces the reduced-mode picture reader
    // (tests); it is called on the worker thread only.
    explicit ThumbnailWorker(ThumbnailCache& cache, PictureDecoder decoder = {});
    ~ThumbnailWorker();
    ThumbnailWorker(const ThumbnailWorker&) = delete;
    ThumbnailWorker& operator=(const ThumbnailWorker&) = delete;

    // Stops a running pass, then starts one over paths (rows in order). The sinks run on
    // the worker thread and must only hand the result on.
    void Start(std::vector<std::string> paths, unsigned generation, ResultSink result, DoneSink done = {});
    // Asks the pass to stop after the file it is on and waits until it has: no sink is
    // called after Stop returns.
    void Stop();
    bool IsRunning() const { return thread_.joinable(); }
    // Asks the pass to stop after the file it is on, without waiting; HasEnded() tells when
    // it has (a worker that has ended is destroyed at once).
    void RequestStop() { thread_.request_stop(); }
    bool HasEnded() const { return ended_.load(); }

private:
    ThumbnailCache& cache_;
    PictureDecoder decoder_;
    std::atomic<bool> ended_{true};
    std::jthread thread_;
};

} // namespace lumivox

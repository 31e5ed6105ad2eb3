// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The preview's slide show, without widgets: a decoding worker renders the pictures of
// the album being played ahead of the display into a short queue, and the owner thread
// (the user-interface thread) takes one from it whenever the slide's wait time is over.
//
// Every album played is a run with its own number. The queue only takes entries of the
// current run, and stopping starts a new run under the queue's lock, so a worker that is
// still decoding when the show stops can never put a picture of its album in front of the
// next album's show; it ends on its own and is joined later (never on the owner thread
// while it decodes).

#include "picture/FrameRenderer.h"
#include "production/ProductionPlan.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace lumivox::ui {

// Pictures the worker decodes ahead of the one on screen.
inline constexpr std::size_t kSlidesAhead = 6;

// One entry of the picture queue: a slide ready for the screen, or the end of the album.
struct QueuedSlide {
    enum class Kind { Picture, End };
    Kind kind = Kind::End;
    QImage image; // the screen picture (Picture only)
    int position = -1; // the item's position in what is played (Picture only)
    std::chrono::milliseconds wait{0}; // how long it stays on screen (Picture only)
};

// The picture queue between the decoding worker and the owner thread.
class SlideQueue {
public:
    explicit SlideQueue(std::size_t capacity = kSlidesAhead) : capacity_(capacity) { }

    // Starts a new run: empties the queue, makes run the only one whose entries are taken
    // and wakes every waiting worker. Returns the new run.
    unsigned NewRun();
    unsigned CurrentRun() const;

    // Worker side. Waits until the queue has room for an entry of run; false (at once)
    // when run is no longer current or stop is requested.
    bool WaitForRoom(unsigned run, std::stop_token stop);
    // Appends entry when run is current (room is not checked: one worker per run, which
    // waits for room before it decodes). False when the entry was dropped as stale.
    bool Push(unsigned run, QueuedSlide&& entry);

    // Owner side: the head of the queue, when there is one.
    std::optional<QueuedSlide> TryTake();
    std::size_t Size() const;

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable_any room_;
    std::deque<QueuedSlide> entries_;
    unsigned run_ = 0;
};

// Makes the screen picture of one slide; throws (PLTextException) when the picture
// cannot be decoded. Called on the worker thread.
using SlideRenderer = std::function<QImage(const PlannedPicture& picture)>;

// The slide as the disc shows it: the frame of RenderSlideFrame (the picture turned by
// its rotation and fitted as on the disc, black around it) stretched smoothly to
// screen, as a television stretches the frame to its 4:3 picture.
QImage RenderScreenSlide(const PlannedPicture& picture, TvNorm norm, SlideGeometry geometry, QSize screen);
SlideRenderer DiscSlideRenderer(TvNorm norm, SlideGeometry geometry, QSize screen);

// One picture of what the show plays: an album's slide, or a card of the disc's MPEG
// track. render makes its screen picture on the worker (throws or returns a null image
// when it cannot be made: the item is left out).
struct ShowItem {
    int position = 0;
    std::chrono::milliseconds wait{0};
    std::function<QImage()> render;
};

// The slide timer of the owner thread: one slide's wait at a time. Tests fire it by hand.
class SlideTimer {
public:
    virtual ~SlideTimer() = default;
    // (Re)starts the wait; the owner calls SlideShow::TimerFired when it is over.
    virtual void Start(std::chrono::milliseconds wait) = 0;
    virtual void Stop() = 0;
};

class SlideShow {
public:
    // Runs a task on the owner thread, later (never inside the call). Tasks posted while
    // the show lives must not run after it is destroyed (a Qt context object does that).
    using Post = std::function<void(std::function<void()>)>;
    // The owner's answers, called on the owner thread.
    struct Listener {
        std::function<void(const QImage& slide, int position)> showSlide;
        // The album is over (its last slide's wait has passed, or no picture could be
        // decoded): the show has stopped itself.
        std::function<void()> albumEnded;
    };

    SlideShow(SlideTimer& timer, Post post, Listener listener);
    // Stops the show and joins every worker.
    ~SlideShow();
    SlideShow(const SlideShow&) = delete;
    SlideShow& operator=(const SlideShow&) = delete;

    // Plays album: starts its worker with renderer and shows the first slide as soon as
    // it is decoded, each for the album's wait time. Returns false (and does nothing)
    // for an album without pictures. A show already running is stopped first.
    bool Play(const PlannedAlbum& album, SlideRenderer renderer);
    // Plays items in order, each for its own wait, like an album. False (and nothing
    // done) when items is empty.
    bool PlayItems(std::vector<ShowItem> items);
    // Stops the show: the timer, the worker (asked to stop, joined later) and every
    // queued picture. Nothing of the stopped run is shown afterwards.
    void Stop();
    bool IsRunning() const { return running_; }
    unsigned Run() const { return run_; }
    // The slide's wait time is over: shows the next slide, or ends the album.
    void TimerFired();

    // Queued pictures (tests).
    std::size_t QueuedSlides() const { return queue_->Size(); }
    // Workers not yet joined, the current one included (tests).
    std::size_t LiveWorkers() const;

private:
    struct Worker {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void ShowNext();
    void SlideArrived(unsigned run);
    void ReapFinishedWorkers();

    SlideTimer& timer_;
    Post post_;
    Listener listener_;
    std::shared_ptr<SlideQueue> queue_;
    std::vector<Worker> workers_;
    unsigned run_ = 0;
    bool running_ = false;
    // The wait is over but the next picture is not decoded yet: it is shown on arrival.
    bool waitingForSlide_ = false;
};

} // namespace lumivox::ui

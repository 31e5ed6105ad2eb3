// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/SlideShow.h"

#include "picture/PicBitmap.h"
#include "picture/QtImage.h"

#include <algorithm>

namespace lumivox::ui {

// ---------------------------------------------------------------------------------------
// The picture queue

unsigned SlideQueue::NewRun()
{
    std::deque<QueuedSlide> dropped;
    unsigned run = 0;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(entries_);
        run = ++run_;
    }
    room_.notify_all();
    return run; // the dropped pictures are freed outside the lock
}

unsigned SlideQueue::CurrentRun() const
{
    std::lock_guard lock(mutex_);
    return run_;
}

bool SlideQueue::WaitForRoom(unsigned run, std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    room_.wait(lock, stop, [&] { return run_ != run || entries_.size() < capacity_; });
    return run_ == run && !stop.stop_requested();
}

bool SlideQueue::Push(unsigned run, QueuedSlide&& entry)
{
    std::lock_guard lock(mutex_);
    if (run_ != run)
        return false;
    entries_.push_back(std::move(entry));
    return true;
}

std::optional<QueuedSlide> SlideQueue::TryTake()
{
    std::optional<QueuedSlide> head;
    {
        std::lock_guard lock(mutex_);
        if (entries_.empty())
            return std::nullopt;
        head = std::move(entries_.front());
        entries_.pop_front();
    }
    room_.notify_all();
    return head;
}

std::size_t SlideQueue::Size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

// ---------------------------------------------------------------------------------------
// Slides

QImage RenderScreenSlide(const PlannedPicture& picture, TvNorm norm, SlideGeometry geometry, QSize screen)
{
    PicBitmap frame;
    RenderSlideFrame(picture.path, picture.rotation, norm, frame, geometry);
    const QImage image = ToQImage(frame, PixelAlpha::Ignore);
    if (image.isNull() || screen.isEmpty())
        return QImage();
    return image.scaled(screen, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
}

SlideRenderer DiscSlideRenderer(TvNorm norm, SlideGeometry geometry, QSize screen)
{
    return [norm, geometry, screen](const PlannedPicture& picture) {
        return RenderScreenSlide(picture, norm, geometry, screen);
    };
}

// ---------------------------------------------------------------------------------------
// The show

namespace {

// The decoding worker of one run: renders the items in order, never more than the
// queue's capacity ahead, leaves out what cannot be rendered and ends with the end entry.
// notify runs after every entry it queued.
void DecodeItems(std::stop_token stop, std::shared_ptr<SlideQueue> queue, unsigned run, std::vector<ShowItem> items,
                 std::function<void()> notify, std::shared_ptr<std::atomic<bool>> finished)
{
    for (ShowItem& item : items) {
        if (!queue->WaitForRoom(run, stop)) {
            finished->store(true);
            return;
        }
        QImage image;
        try {
            image = item.render();
        } catch (...) {
            // A picture that cannot be decoded is left out of the show without a message,
            // as the disc's run would refuse it with its own.
            continue;
        }
        if (image.isNull())
            continue;
        QueuedSlide slide{QueuedSlide::Kind::Picture, std::move(image), item.position, item.wait};
        if (!queue->Push(run, std::move(slide))) {
            finished->store(true);
            return;
        }
        notify();
    }
    if (!stop.stop_requested() && queue->Push(run, QueuedSlide{}))
        notify();
    finished->store(true);
}

} // namespace

SlideShow::SlideShow(SlideTimer& timer, Post post, Listener listener)
    : timer_(timer), post_(std::move(post)), listener_(std::move(listener)), queue_(std::make_shared<SlideQueue>())
{
    run_ = queue_->CurrentRun();
}

SlideShow::~SlideShow()
{
    Stop();
    for (Worker& worker : workers_)
        worker.thread.request_stop();
    workers_.clear(); // joins
}

bool SlideShow::Play(const PlannedAlbum& album, SlideRenderer renderer)
{
    if (album.pictures.empty() || !renderer)
        return false;
    const std::chrono::milliseconds wait = std::chrono::seconds(std::max(album.waitTime, 1));
    auto shared = std::make_shared<SlideRenderer>(std::move(renderer));
    std::vector<ShowItem> items;
    items.reserve(album.pictures.size());
    for (std::size_t position = 0; position < album.pictures.size(); ++position)
        items.push_back({static_cast<int>(position), wait,
                         [shared, picture = album.pictures[position]] { return (*shared)(picture); }});
    return PlayItems(std::move(items));
}

bool SlideShow::PlayItems(std::vector<ShowItem> items)
{
    if (items.empty())
        return false;
    Stop();
    run_ = queue_->NewRun();
    running_ = true;
    waitingForSlide_ = true;
    auto finished = std::make_shared<std::atomic<bool>>(false);
    const unsigned run = run_;
    auto notify = [this, run] { post_([this, run] { SlideArrived(run); }); };
    workers_.push_back(
        {std::jthread(DecodeItems, queue_, run, std::move(items), std::move(notify), finished), finished});
    ShowNext();
    return true;
}

void SlideShow::Stop()
{
    timer_.Stop();
    for (Worker& worker : workers_)
        worker.thread.request_stop();
    // A new run, so that the queue refuses whatever a worker still decoding brings.
    run_ = queue_->NewRun();
    running_ = false;
    waitingForSlide_ = false;
    ReapFinishedWorkers();
}

void SlideShow::TimerFired()
{
    if (running_)
        ShowNext();
}

void SlideShow::SlideArrived(unsigned run)
{
    if (run == run_ && running_ && waitingForSlide_)
        ShowNext();
}

void SlideShow::ShowNext()
{
    std::optional<QueuedSlide> entry = queue_->TryTake();
    if (!entry) {
        waitingForSlide_ = true;
        return;
    }
    waitingForSlide_ = false;
    if (entry->kind == QueuedSlide::Kind::End) {
        Stop();
        if (listener_.albumEnded)
            listener_.albumEnded();
        return;
    }
    if (listener_.showSlide)
        listener_.showSlide(entry->image, entry->position);
    // The wait counts from when the slide is shown, so a picture that was slow to decode
    // still stays its full time on screen.
    timer_.Start(entry->wait);
}

void SlideShow::ReapFinishedWorkers()
{
    std::erase_if(workers_, [](const Worker& worker) { return worker.finished->load(); });
}

std::size_t SlideShow::LiveWorkers() const
{
    return static_cast<std::size_t>(
        std::count_if(workers_.begin(), workers_.end(), [](const Worker& worker) { return !worker.finished->load(); }));
}

} // namespace lumivox::ui

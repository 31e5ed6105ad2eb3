// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/BurnRun.h"

#include "logic/CoreText.h"

#include "production/ProductionSetup.h"
#include "vcd/BinCueSink.h"

namespace lumivox::ui {

RunBridge::RunBridge(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<lumivox::ProgressEvent>();
    qRegisterMetaType<lumivox::ui::RunOutcome>();
}

namespace {
// The messages that come in long runs of counts.
bool IsCounted(const ProgressEvent& event)
{
    return event.message == UM_SLIDE_PROGRESS || event.message == UM_WRITE_PROGRESS;
}
} // namespace

void RunBridge::FlushHeld()
{
    if (!held_)
        return;
    const ProgressEvent event = std::move(*held_);
    held_.reset();
    emit progress(event);
}

void RunBridge::OnProgress(const ProgressEvent& event)
{
    if (run_)
        run_->Note(event);
    std::lock_guard lock(mutex_);
    if (IsCounted(event)) {
        const std::chrono::milliseconds now = clock_ ? clock_()
                                                     : std::chrono::duration_cast<std::chrono::milliseconds>(
                                                           std::chrono::steady_clock::now().time_since_epoch());
        const bool sameRun = held_ && held_->message == event.message && held_->stage == event.stage;
        if (held_ && !sameRun)
            FlushHeld();
        const bool complete = event.total > 0 && event.done + 1 >= event.total;
        if (!complete && lastSent_ && now - *lastSent_ < kProgressInterval) {
            held_ = event;
            return;
        }
        held_.reset();
        lastSent_ = now;
        emit progress(event);
        return;
    }
    FlushHeld();
    emit progress(event);
}

void RunBridge::OnWarning(const std::string& text)
{
    {
        std::lock_guard lock(mutex_);
        FlushHeld();
    }
    emit warning(QString::fromStdString(text));
}

void RunBridge::OnFinished(const ProductionResult& result)
{
    {
        std::lock_guard lock(mutex_);
        FlushHeld();
    }
    emit finished(run_ ? run_->MakeOutcome(result) : RunOutcome{});
}

BurnRun::BurnRun(RunKind kind, ProductionParameters parameters, std::shared_ptr<RunFolder> runFolder)
    : kind_(kind), parameters_(std::move(parameters)), runFolder_(std::move(runFolder))
{
    bridge_.run_ = this;
    parameters_.cancel = &cancel_;
}

BurnRun::~BurnRun()
{
    // The job waits for its thread; the feed then stops its burn thread (a run that ended
    // early never closed it) before the bridge they report to goes.
    job_.reset();
    feed_.reset();
    image_.reset();
}

bool BurnRun::OpenRecorder(const BurnOptions& options, std::int64_t knownSectors, std::string* error)
{
    // Without a known size the feed checks the image against the disc when the run has
    // laid the disc out and the cue sheet arrives.
    BurnOptions withLeave = options;
    withLeave.leaveNow = &leaveNow_;
    feed_ = OpenRecorderFeed(withLeave, knownSectors, &bridge_, &cancel_, error);
    if (!feed_)
        return false;
    parameters_.sink = feed_.get();
    parameters_.writeReporting = WriteReporting::BySink;
    return true;
}

void BurnRun::OpenImage(const std::string& binPath)
{
    image_ = std::make_unique<BinCueSink>(binPath);
    parameters_.sink = image_.get();
    parameters_.writeReporting = WriteReporting::ByRun;
}

bool BurnRun::Start()
{
    if (job_ || !parameters_.sink)
        return false;
    job_ = std::make_unique<ProductionJob>(std::move(parameters_));
    return job_->Start(&bridge_);
}

void BurnRun::Release()
{
    if (job_)
        job_->Wait();
    feed_.reset();
}

void BurnRun::Cancel()
{
    // A second cancel also stops waiting for a drive that is finishing the disc.
    if (cancel_.IsSet())
        leaveNow_.Set();
    cancel_.Set();
}

void BurnRun::Wait()
{
    if (job_)
        job_->Wait();
}

bool BurnRun::IsFinished() const
{
    return job_ && job_->IsFinished();
}

const ProductionResult* BurnRun::Result() const
{
    return IsFinished() ? &job_->Result() : nullptr;
}

QString BurnRun::ImageBinPath() const
{
    return image_ ? QString::fromStdString(image_->BinPath()) : QString();
}

bool BurnRun::DiscErasable() const
{
    return feed_ && feed_->DiscErasable();
}

QString BurnRun::ImageCuePath() const
{
    return image_ ? QString::fromStdString(image_->CuePath()) : QString();
}

void BurnRun::Note(const ProgressEvent& event)
{
    if (event.message == UM_SLIDE_PROGRESS)
        slidesBegun_.store(static_cast<int>(event.done) + 1);
    else if (event.message == UM_WRITE_PROGRESS && event.stage == ProgressStage::Writing && event.done > 0)
        wroteSectors_.store(true);
    else if (event.message == UM_LEAD_OUT)
        finishing_.store(true);
}

RunOutcome BurnRun::MakeOutcome(const ProductionResult& result) const
{
    // Called on the production thread as its last act: the sink was closed on this very
    // thread when the run finished, so the burn's result is complete and safe to read.
    RunOutcome outcome;
    outcome.status = result.status;
    outcome.message = TranslateCoreText(result.message);
    outcome.totalSectors = result.totalSectors;
    for (const std::string& picture : result.unreadablePictures)
        outcome.warnings << QString::fromStdString(picture);
    if (feed_ && result.Finished()) {
        const BurnResult& burn = feed_->Result();
        outcome.verify = burn.verify;
        for (const std::string& warning : burn.warnings)
            outcome.warnings << QString::fromStdString(warning).trimmed();
    }
    return outcome;
}

} // namespace lumivox::ui

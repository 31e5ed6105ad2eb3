// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// One run of the burn page: the production run of the project into the recorder feed (a
// burn or a test burn), or into a BIN/CUE file (Save disc image). The run is a task
// object: the page makes it on the user-interface thread with everything checked and
// opened, the progress dialog starts it and may cancel it, and everything it reports
// reaches the user-interface thread as queued signals of its RunBridge.
//
// The page keeps the last run until the next one, so the run's threads may still read it
// after the dialog has closed. Once the run has reported its end, the page lets it go of
// the drive (Release) on the drive's worker, never on the window's thread; destroying a run
// waits for its threads too, which end soon after a cancel.

#include "base/Event.h"
#include "base/Progress.h"
#include "production/ProductionJob.h"
#include "recorder/BurnThread.h"
#include "recorder/RecorderFeed.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace lumivox {
class BinCueSink;
class RunFolder;
} // namespace lumivox

namespace lumivox::ui {

enum class RunKind { Burn, TestBurn, DiscImage };

// How a run ended, as the progress dialog needs it.
struct RunOutcome {
    ProductionStatus status = ProductionStatus::Failed;
    QString message; // the run's failure text (empty when it finished)
    VerifyStatus verify = VerifyStatus::NotRun;
    QStringList warnings; // pictures put on the disc as black frames, drive warnings
    qint64 totalSectors = 0;
};

// Turns the calls of the production thread and the burn thread into queued signals. It
// lives on the user-interface thread; connect with Qt::QueuedConnection.
//
// Progress reaches the window at a human rate: of a run of counted messages (slides,
// sectors) at most one per kProgressInterval passes, and the last one held back is always
// sent before anything else the run reports, so the window ends on the true figure.
class RunBridge final : public QObject, public ProductionObserver {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kProgressInterval{100};
    using Clock = std::function<std::chrono::milliseconds()>;

    explicit RunBridge(QObject* parent = nullptr);
    // Tests give a clock of their own (default: steady time).
    void SetClock(Clock clock) { clock_ = std::move(clock); }

signals:
    void progress(const lumivox::ProgressEvent& event);
    void warning(const QString& text);
    void finished(const lumivox::ui::RunOutcome& outcome);

private:
    friend class BurnRun;
    void OnProgress(const ProgressEvent& event) override;
    void OnWarning(const std::string& text) override;
    void OnFinished(const ProductionResult& result) override;
    // Sends the counted message held back, if any (caller holds mutex_).
    void FlushHeld();

    class BurnRun* run_ = nullptr;
    Clock clock_;
    // The production thread and the burn thread both report.
    std::mutex mutex_;
    std::optional<ProgressEvent> held_;
    std::optional<std::chrono::milliseconds> lastSent_;
};

class BurnRun {
public:
    // A run into the recorder feed (opened, with the disc found blank) or into an image.
    BurnRun(RunKind kind, ProductionParameters parameters, std::shared_ptr<RunFolder> runFolder);
    ~BurnRun();
    BurnRun(const BurnRun&) = delete;
    BurnRun& operator=(const BurnRun&) = delete;

    // Opens the recorder feed for options (the blank disc check of the recorder library
    // included, and the image's size against the disc when knownSectors >= 0). False with
    // *error naming the device and the reason.
    bool OpenRecorder(const BurnOptions& options, std::int64_t knownSectors, std::string* error);
    // Makes the run write binPath and the CUE sheet beside it.
    void OpenImage(const std::string& binPath);

    RunKind Kind() const { return kind_; }
    RunBridge& Bridge() { return bridge_; }
    // Starts the run on its own thread; false when it was started before or has no sink.
    bool Start();
    bool IsStarted() const { return job_ != nullptr; }
    // Waits for the run's threads and closes the recorder feed, letting go of the drive.
    // Called once the run has reported its end, off the window's thread.
    void Release();
    // Signals the run's cancel event: the slide stage stops before its next slide, the
    // burn before its next buffer (or, once the last one is written, after the disc is
    // finished). A second call also stops waiting for the drive.
    void Cancel();
    bool IsCancelled() const { return cancel_.IsSet(); }
    // Waits for the run to end (tests; the page never waits).
    void Wait();
    bool IsFinished() const;
    // The run's result; complete once IsFinished().
    const ProductionResult* Result() const;
    // Slides the run has begun (from UM_SLIDE_PROGRESS), and whether any sector was written.
    int SlidesBegun() const { return slidesBegun_.load(); }
    bool WroteSectors() const { return wroteSectors_.load(); }
    // Every block of the image is with the drive (UM_LEAD_OUT): a cancel now lets the drive
    // finish the disc and leaves off only the read-back.
    bool Finishing() const { return finishing_.load(); }
    // The disc being burned is a CD-RW (known once OpenRecorder succeeded).
    bool DiscErasable() const;
    // The image's files (DiscImage runs).
    QString ImageBinPath() const;
    QString ImageCuePath() const;

private:
    friend class RunBridge;
    void Note(const ProgressEvent& event);
    RunOutcome MakeOutcome(const ProductionResult& result) const;

    RunKind kind_;
    // Declared first so it outlives every thread that reports to it.
    RunBridge bridge_;
    ManualResetEvent cancel_;
    ManualResetEvent leaveNow_;
    ProductionParameters parameters_;
    std::shared_ptr<RunFolder> runFolder_;
    std::unique_ptr<RecorderSink> feed_;
    std::unique_ptr<BinCueSink> image_;
    std::unique_ptr<ProductionJob> job_;
    std::atomic<int> slidesBegun_{0};
    std::atomic<bool> wroteSectors_{false};
    std::atomic<bool> finishing_{false};
};

} // namespace lumivox::ui

Q_DECLARE_METATYPE(lumivox::ProgressEvent)
Q_DECLARE_METATYPE(lumivox::ui::RunOutcome)

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The burn page: the TV norm, the CD recorder, the recording speed, Burn-Proof, read-back
// verification and the CD label; how full the disc will be; and the commands — erase,
// eject, close the tray, test burn, burn, and save the disc as a BIN/CUE image. Burns and
// images run under the modal progress dialog; erasing under its own dialog.
//
// Every choice is stored in the settings the moment it is made. Without a recorder the
// burn commands are disabled and the page says why and offers the disc image instead; a
// project over one of the disc's limits names the limit and cannot be burnt.

#include "burn/ProgressDialog.h"
#include "logic/BurnRun.h"
#include "logic/DriveTasks.h"
#include "logic/OwnerLink.h"
#include "production/DiscEstimate.h"
#include "services/RecorderSetup.h"
#include "shell/Page.h"

#include <functional>
#include <QPointer>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace lumivox {
class BaseDriver;
}

namespace lumivox::ui {

class PictureButton;
struct RecorderDrive;

// The name Save Disc Image suggests for a CD label: "My Photo VideoCD.cue".
QString DiscImageName(const QString& label);

inline constexpr const char* kPalNote = "PAL is widely used in Asian and European countries.";
inline constexpr const char* kNtscNote = "NTSC is widely used in North American countries.";
inline constexpr const char* kDefaultCdLabelText = "My Photo VideoCD";
inline constexpr const char* kTestBurnQuestion = QT_TRANSLATE_NOOP(
    "lumivox::core",
    "This operation will simulate the burning process. No real data will be written. The disc remains blank and is "
    "not playable after burning. \n\nDo you want to continue?");
// The write speeds of the "BurnSpeed" setting, indices 0 to 6.
inline constexpr const char* kSpeedNames[] = {"1x    (150 kb/s)",  "2x    (300 kb/s)", "4x    (600 kb/s)",
                                              "8x    (1200 kb/s)", "12x  (1800 kb/s)", "24x  (3600 kb/s)",
                                              "Max. Speed"};
// An 80-minute CD-R: the meter's scale and the disc's limit.
inline constexpr int kDiscMinutes = 80;

// The picture buttons, in the page's order.
enum class BurnButton { Erase, Eject, CloseTray, TestBurn, Burn };

class BurnPage final : public Page {
    Q_OBJECT
public:
    BurnPage(AppServices& services, QWidget* parent);
    ~BurnPage() override;
    void OnShown() override;
    // The recorder set-up ran again: refill the drive list.
    void RecordersChanged();
    // The disc menu's template, background or music changed: the disc's size is new.
    void DiscMenuChanged();

    // The commands (buttons, the File menu's "Save Disc Image...", tests).
    void Burn();
    void TestBurn();
    void SaveDiscImage();
    void Erase();
    void Eject();
    void CloseTray();
    // A run on a drive the set-up need not list (the screenshot program's emulated
    // recorder); drive is read only during the call.
    void BurnOn(const RecorderDrive& drive, RunKind kind);

    // State, for the main window, the screenshots and the tests.
    QString RecorderNote() const;
    QString CapacityText() const;
    QString LimitText() const;
    const DiscEstimate& Estimate() const { return estimate_; }
    // The dialog of the run under way (null when none), and the last run.
    ProgressDialog* CurrentProgress() const { return progress_; }
    std::shared_ptr<BurnRun> LastRun() const { return lastRun_; }
    // Drive commands under way, or a run (even one whose dialog has closed after Cancel)
    // still holding the drive: the page shows the busy cursor and takes no drive command.
    bool IsBusy() const { return driveBusy_ > 0 || holdingRun_ != nullptr || services_.Recorders().IsMakingDriver(); }
    // The driver of a drive chosen here, or after Options, has been made (or not).
    void DriverMade(RecorderSetupResult result);
    // The way back to this page from workers (the recorder set-up's included).
    const OwnerLinkPtr& Link() const { return link_; }
    // A new figure of the disc's size is on its way (or a burn waits for it).
    bool IsEstimating() const;
    bool HasDeferredRun() const { return deferredRun_.has_value(); }
    // Workers of the frame stages (0: the run's default); tests use one for a fixed order.
    void SetWorkerCount(int jobs) { jobs_ = jobs; }

signals:
    // Another drive was chosen (the status bar names it).
    void recorderSelected();
    // A new estimate says which MPEG track the disc gets: the slideshow, or the fixed card
    // (the setting says never, the disc has no room for it, or its size is not known).
    void discTrackKnown(bool slideshowTrack);

private:
    PictureButton* Button(BurnButton button) const { return buttons_[static_cast<int>(button)]; }
    // Runs work on the drive's worker with the page busy meanwhile; what work returns (may
    // be empty) then runs on the page's thread.
    void DriveTask(const std::string& device, std::function<std::function<void()>()> work);
    // Opens the selected drive with its driver on the drive's worker and runs command there;
    // the reason is shown when the drive cannot be opened.
    void WithSelectedDrive(std::function<void(BaseDriver&)> command);
    void UpdateBusy();
    // The run holds its drive until it has ended; then it lets go of it on the drive's worker.
    void Launch(std::shared_ptr<BurnRun> run, const std::string& device);
    void ReleaseRun(const BurnRun* run, const std::string& device);
    void BuildControls();
    void NormChosen(bool pal);
    void DriveChosen(int index);
    struct EstimateOutcome {
        bool valid = false;
        QString error;
        DiscEstimate estimate;
        bool withMusic = false;
    };
    void UpdateCapacity();
    void ScheduleCapacity();
    void ShowEstimate(const EstimateOutcome& outcome);
    void FinishEstimate();
    void UpdateCommands();
    void StartRun(RunKind kind);
    void RunOn(RunKind kind, const RecorderDrive* drive);
    void OpenProgress(std::shared_ptr<BurnRun> run);

    QRadioButton* pal_ = nullptr;
    QRadioButton* ntsc_ = nullptr;
    QLabel* normNote_ = nullptr;
    QComboBox* drives_ = nullptr;
    QComboBox* speeds_ = nullptr;
    QComboBox* slideshowTrack_ = nullptr;
    QCheckBox* burnProof_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QLineEdit* label_ = nullptr;
    QLabel* labelOnDisc_ = nullptr; // the label as the disc carries it, when that differs
    QLabel* recorderNote_ = nullptr;
    QLabel* capacity_ = nullptr;
    QProgressBar* capacityBar_ = nullptr;
    QLabel* units_ = nullptr;
    QLabel* limit_ = nullptr;
    PictureButton* buttons_[5] = {};
    QPushButton* imageButton_ = nullptr;
    QTimer* capacityTimer_ = nullptr;
    DiscEstimate estimate_;
    bool estimateValid_ = false;
    QString estimateError_;
    QPointer<ProgressDialog> progress_;
    std::shared_ptr<BurnRun> lastRun_;
    std::shared_ptr<BurnRun> holdingRun_;
    int driveBusy_ = 0;
    bool estimatePending_ = false;
    struct DeferredRun {
        RunKind kind;
        std::optional<RecorderDrive> drive;
    };
    std::optional<DeferredRun> deferredRun_;
    int jobs_ = 0;
    OwnerLinkPtr link_ = MakeOwnerLink(this);
    // Last, so that they go first: what is still queued runs before the page's state goes.
    DriveTaskSet driveTasks_;
    DriveTasks estimateWorker_; // not a drive's: the disc's size, one figure at a time
};

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// "Writing CD": the modal dialog a run of the burn page goes on under. It shows each
// progress message of the run with its text and the bar (TextProgressBar), the elapsed
// time and, while sectors are written, an estimate of the time left; it offers Cancel
// (with a question while the run goes on) and, once the run has ended, "&Close".
//
// Progress arrives only through the run's RunBridge as queued signals; the dialog never
// polls the run. Its once-a-second timer only redraws the elapsed time.

#include "base/Progress.h"
#include "logic/BurnRun.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace lumivox::ui {

class MessageBoxes;
class TextProgressBar;

// The dialog's texts.
inline constexpr const char* kTextWritingData = QT_TRANSLATE_NOOP("lumivox::core", "Writing data...");
inline constexpr const char* kTextPleaseWait = QT_TRANSLATE_NOOP("lumivox::core", "Please Wait...");
inline constexpr const char* kTextMenuBegin = QT_TRANSLATE_NOOP("lumivox::core", "Encoding disc menu....");
inline constexpr const char* kTextMenuEnd = QT_TRANSLATE_NOOP("lumivox::core", "Encoding disc menu end.");
inline constexpr const char* kTextSlides = QT_TRANSLATE_NOOP("lumivox::core", "Encoding album photos...");
inline constexpr const char* kTextRecorderInit = QT_TRANSLATE_NOOP("lumivox::core", "Initializing CD recorder...");
inline constexpr const char* kTextLeadIn = QT_TRANSLATE_NOOP("lumivox::core", "Writing lead in...");
inline constexpr const char* kTextWriting = QT_TRANSLATE_NOOP("lumivox::core", "Writing CD...");
inline constexpr const char* kTextLeadOut = QT_TRANSLATE_NOOP("lumivox::core", "Writing lead out...");
inline constexpr const char* kTextDriveWait = QT_TRANSLATE_NOOP("lumivox::core", "Please wait...");
inline constexpr const char* kTextFlushCache = QT_TRANSLATE_NOOP("lumivox::core", "Flush cache...");
inline constexpr const char* kTextSimulationDone = QT_TRANSLATE_NOOP(
    "lumivox::core",
    "The simulation is successfully finished, please click the <Burn Now> button to write the albums to the disc.");
inline constexpr const char* kTextBurnDone = QT_TRANSLATE_NOOP(
    "lumivox::core", "Congratulations! Your photo album CD has been made. You may play it on TV with DVD/VCD player.");
inline constexpr const char* kTextBurnFailed =
    QT_TRANSLATE_NOOP("lumivox::core", "The burning process failed. Error message :\n%1");
inline constexpr const char* kTextCancelQuestion =
    QT_TRANSLATE_NOOP("lumivox::core", "Do you want to cancel the process?");
// Beyond the burn itself: the stages a disc image and a verified burn add.
inline constexpr const char* kTextAuthoring = QT_TRANSLATE_NOOP("lumivox::core", "Laying out the disc...");
inline constexpr const char* kTextWritingImage = "Writing the disc image...";
inline constexpr const char* kTextVerifying = "Verifying the disc...";
inline constexpr const char* kTextVerified =
    QT_TRANSLATE_NOOP("lumivox::core", "Every sector of the disc was read back and matches what was written.");
inline constexpr const char* kTextImageDone = QT_TRANSLATE_NOOP(
    "lumivox::core", "The disc image has been saved:\n%1\n%2\nAny CD burning program can write it to a CD-R.");
inline constexpr const char* kTextImageFailed =
    QT_TRANSLATE_NOOP("lumivox::core", "The disc image could not be made. Error message :\n%1");

class ProgressDialog final : public QDialog {
    Q_OBJECT
public:
    // The run must outlive the dialog's connection to it (the page keeps it).
    ProgressDialog(std::shared_ptr<BurnRun> run, MessageBoxes& messages, QWidget* parent = nullptr);
    ~ProgressDialog() override;

    // Starts the run (once).
    void StartRun();

    bool IsFinished() const { return finished_; }
    QString MessageText() const;
    TextProgressBar* Bar() const { return bar_; }
    QString TimeText() const;
    QString WarningText() const;
    // The drive's answer to a failed burn, shown below the message ("" when none).
    QString DetailsText() const;
    // Every message text shown, in order (each change once).
    const QStringList& ShownTexts() const { return shownTexts_; }

    // What the dialog does with one message of the run (public for the tests' tables).
    void HandleProgress(const ProgressEvent& event);

    void reject() override; // Cancel, Escape and closing the window

signals:
    // The run ended (success, failure or cancel seen by the dialog).
    void runEnded(bool succeeded);

private:
    void HandleFinished(const RunOutcome& outcome);
    void HandleWarning(const QString& text);
    void SetMessage(const QString& text);
    void SetWaiting(const QString& text);
    void Finish(const QString& text, bool succeeded);
    void UpdateTimes();

    std::shared_ptr<BurnRun> run_;
    MessageBoxes& messages_;
    QLabel* message_ = nullptr;
    QGroupBox* group_ = nullptr;
    TextProgressBar* bar_ = nullptr;
    QLabel* times_ = nullptr;
    QLabel* details_ = nullptr; // the drive's answer to a failed burn
    QLabel* warnings_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer* clock_ = nullptr;
    QStringList shownTexts_;
    bool finished_ = false;
    bool burnDone_ = false;
    bool started_ = false;
    QElapsedTimer elapsed_;
    // Writing: when the first sector was reported and the last figures, for the estimate.
    QElapsedTimer writing_;
    qint64 written_ = 0;
    qint64 writeTotal_ = 0;
    bool estimating_ = false;
    int estimateStage_ = 0; // the progress message the estimate is of (slides or writing)
};

// "%02d:%02d" of seconds (hours join the minutes).
QString ClockText(qint64 seconds);

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/ProgressDialog.h"

#include "logic/CoreText.h"

#include "burn/TextProgressBar.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace lumivox::ui {

namespace {

// The most a bar shows: 100.0 %. A count that reaches its total would otherwise read
// 100.1 % by the dialog's rounding up of one tenth.
constexpr int kMaxTenths = 1000;
// The estimate of the time left waits for this much writing, so that the drive's
// spin-up does not make the first figures wild.
constexpr qint64 kEstimateAfterMs = 2000;

int ClampedTenths(std::int64_t done, std::int64_t total)
{
    return std::clamp(ProgressTenths(done, total), 0, kMaxTenths);
}

} // namespace

QString ClockText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    return QString::asprintf("%02lld:%02lld", static_cast<long long>(seconds / 60),
                             static_cast<long long>(seconds % 60));
}

ProgressDialog::ProgressDialog(std::shared_ptr<BurnRun> run, MessageBoxes& messages, QWidget* parent)
    : QDialog(parent), run_(std::move(run)), messages_(messages)
{
    setWindowTitle(run_->Kind() == RunKind::DiscImage ? tr("Save Disc Image") : tr("Writing CD"));
    setModal(true);
    setMinimumWidth(460);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    message_ = new QLabel(TranslateCoreText(kTextWritingData), this);
    shownTexts_ << message_->text();
    message_->setWordWrap(true);
    message_->setMinimumHeight(message_->fontMetrics().height() * 3);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message_);
    // Below the headline of a failure: the drive's answer, for whoever looks into it.
    details_ = new QLabel(this);
    details_->setWordWrap(true);
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details_->setStyleSheet(QStringLiteral("color: #5f5a50;"));
    details_->hide();
    layout->addWidget(details_);
    group_ = new QGroupBox(tr("Progress"), this);
    auto* groupLayout = new QVBoxLayout(group_);
    bar_ = new TextProgressBar(group_);
    groupLayout->addWidget(bar_);
    times_ = new QLabel(group_);
    times_->setStyleSheet(QStringLiteral("color: #5f5a50;"));
    groupLayout->addWidget(times_);
    layout->addWidget(group_);
    warnings_ = new QLabel(this);
    warnings_->setWordWrap(true);
    warnings_->setStyleSheet(QStringLiteral("color: #8a5a00;"));
    warnings_->hide();
    layout->addWidget(warnings_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancelButton"));
    cancel_->setDefault(true);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::reject);

    clock_ = new QTimer(this);
    clock_->setInterval(1000);
    connect(clock_, &QTimer::timeout, this, &ProgressDialog::UpdateTimes);

    RunBridge& bridge = run_->Bridge();
    connect(&bridge, &RunBridge::progress, this, &ProgressDialog::HandleProgress, Qt::QueuedConnection);
    connect(&bridge, &RunBridge::warning, this, &ProgressDialog::HandleWarning, Qt::QueuedConnection);
    connect(&bridge, &RunBridge::finished, this, &ProgressDialog::HandleFinished, Qt::QueuedConnection);
    UpdateTimes();
}

ProgressDialog::~ProgressDialog() = default;

void ProgressDialog::StartRun()
{
    if (started_)
        return;
    started_ = true;
    elapsed_.start();
    clock_->start();
    if (!run_->Start())
        Finish(TranslateCoreText(kTextBurnFailed).arg(tr("The run could not be started.")), false);
}

QString ProgressDialog::MessageText() const
{
    return message_->text();
}
QString ProgressDialog::TimeText() const
{
    return times_->text();
}
QString ProgressDialog::DetailsText() const
{
    return details_->isHidden() ? QString() : details_->text();
}
QString ProgressDialog::WarningText() const
{
    return warnings_->isHidden() ? QString() : warnings_->text();
}

void ProgressDialog::SetMessage(const QString& text)
{
    if (text == message_->text())
        return;
    message_->setText(text);
    shownTexts_ << text;
}

void ProgressDialog::SetWaiting(const QString& text)
{
    if (!text.isNull())
        SetMessage(text);
    bar_->SetPosition(0);
    bar_->SetText(TranslateCoreText(kTextPleaseWait));
}

void ProgressDialog::HandleProgress(const ProgressEvent& event)
{
    if (finished_)
        return;
    switch (event.message) {
    case UM_MENU_ENCODE_BEGIN:
        SetWaiting(TranslateCoreText(kTextMenuBegin));
        break;
    case UM_MENU_PAGE_PROGRESS:
        break; // the menu stage reports its pages; the dialog keeps "Please Wait..."
    case UM_MENU_ENCODE_END:
        SetMessage(TranslateCoreText(kTextMenuEnd));
        break;
    case UM_MENU_ENCODE_FAILED:
        break; // the run ends as failed with its message
    case UM_SLIDE_PROGRESS: {
        SetMessage(TranslateCoreText(kTextSlides));
        const int tenths = ClampedTenths(event.done, event.total);
        const std::int64_t total = event.total <= 0 ? 100 : event.total;
        bar_->SetText(QString::asprintf("%2d.%d%%", tenths / 10, tenths % 10));
        bar_->SetPosition(static_cast<int>(std::min<std::int64_t>((event.done * 100 + 100) / total, 100)));
        // Encoding the slides is the long part of a run: it shows its time left too.
        if (!estimating_ || estimateStage_ != UM_SLIDE_PROGRESS) {
            estimating_ = true;
            estimateStage_ = UM_SLIDE_PROGRESS;
            writing_.start();
        }
        written_ = event.done;
        writeTotal_ = event.total;
        UpdateTimes();
        break;
    }
    case UM_AUTHORING_BEGIN:
        estimating_ = false;
        SetWaiting(TranslateCoreText(kTextAuthoring));
        break;
    case UM_RECORDER_INIT:
        // The driver reports a warning (power calibration) with this message after the
        // lead-in has begun: it is shown apart and changes no stage.
        if (!event.text.empty()) {
            HandleWarning(TranslateCoreText(event.text).trimmed());
            break;
        }
        SetWaiting(TranslateCoreText(kTextRecorderInit));
        break;
    case UM_LEAD_IN:
        SetWaiting(TranslateCoreText(kTextLeadIn));
        break;
    case UM_WRITE_PROGRESS: {
        const bool verifying = event.stage == ProgressStage::Verifying;
        const char* text = verifying                            ? kTextVerifying
                           : run_->Kind() == RunKind::DiscImage ? kTextWritingImage
                                                                : kTextWriting;
        SetMessage(QString::fromLatin1(text));
        const int tenths = ClampedTenths(event.done, event.total);
        bar_->SetText(QString::asprintf("%d.%d%%", tenths / 10, tenths % 10));
        bar_->SetPosition(tenths / 10);
        if (!verifying) {
            if (!estimating_ || estimateStage_ != UM_WRITE_PROGRESS) {
                estimating_ = true;
                estimateStage_ = UM_WRITE_PROGRESS;
                writing_.start();
            }
            written_ = event.done;
            writeTotal_ = event.total;
        } else {
            estimating_ = false;
        }
        UpdateTimes();
        break;
    }
    case UM_LEAD_OUT:
        estimating_ = false;
        SetWaiting(TranslateCoreText(kTextLeadOut));
        break;
    case UM_DRIVE_WAIT:
        SetWaiting(QString());
        bar_->SetText(TranslateCoreText(kTextDriveWait));
        break;
    case UM_FLUSH_CACHE:
        SetWaiting(TranslateCoreText(kTextFlushCache));
        break;
    case UM_BURN_DONE:
        burnDone_ = true;
        Finish(QString::fromLatin1(run_->Kind() == RunKind::TestBurn ? kTextSimulationDone : kTextBurnDone), true);
        break;
    case UM_BURN_FAILED:
        Finish(TranslateCoreText(kTextBurnFailed).arg(TranslateCoreText(event.text)), false);
        break;
    default:
        break;
    }
}

void ProgressDialog::HandleWarning(const QString& text)
{
    // The run names a warning as it happens and again in its result: each is shown once.
    if (text.isEmpty() || warnings_->text().split(QLatin1Char('\n')).contains(text))
        return;
    QString shown = warnings_->text();
    if (!shown.isEmpty())
        shown += QLatin1Char('\n');
    warnings_->setText(shown + text);
    warnings_->show();
}

void ProgressDialog::HandleFinished(const RunOutcome& outcome)
{
    for (const QString& warning : outcome.warnings)
        HandleWarning(warning);
    if (finished_) {
        // The burn said it was done before the run closed its sink; the read-back's
        // result is known only now.
        if (burnDone_ && outcome.verify == VerifyStatus::Passed)
            SetMessage(message_->text() + QStringLiteral("\n\n") + TranslateCoreText(kTextVerified));
        return;
    }
    switch (outcome.status) {
    case ProductionStatus::Finished:
        if (run_->Kind() == RunKind::DiscImage)
            Finish(TranslateCoreText(kTextImageDone).arg(run_->ImageCuePath(), run_->ImageBinPath()), true);
        else
            // A burn that finished reported UM_BURN_DONE first; this is only reached when
            // that message was lost, and the run's own word is taken.
            Finish(QString::fromLatin1(run_->Kind() == RunKind::TestBurn ? kTextSimulationDone : kTextBurnDone), true);
        break;
    case ProductionStatus::Failed:
        // Failures before the recorder was reached (a picture that cannot be encoded, a
        // full work folder, an image too big for the disc) post no burn message.
        Finish(QString::fromLatin1(run_->Kind() == RunKind::DiscImage ? kTextImageFailed : kTextBurnFailed)
                   .arg(outcome.message),
               false);
        break;
    case ProductionStatus::Cancelled:
        Finish(outcome.message.isEmpty() ? tr("The production was cancelled.") : outcome.message, false);
        break;
    }
}

void ProgressDialog::Finish(const QString& text, bool succeeded)
{
    finished_ = true;
    estimating_ = false;
    // A drive's answer goes below the headline, apart from it.
    const MessageParts parts = SplitDriveDetails(text);
    SetMessage(parts.headline);
    details_->setText(parts.details);
    details_->setVisible(!parts.details.isEmpty());
    bar_->hide();
    clock_->stop();
    UpdateTimes();
    cancel_->setText(tr("&Close"));
    emit runEnded(succeeded);
}

void ProgressDialog::UpdateTimes()
{
    if (!elapsed_.isValid()) {
        times_->setText(tr("Elapsed time: %1").arg(ClockText(0)));
        return;
    }
    QString text = tr("Elapsed time: %1").arg(ClockText(elapsed_.elapsed() / 1000));
    if (estimating_ && written_ > 0 && writeTotal_ > written_ && writing_.elapsed() >= kEstimateAfterMs) {
        const double rate = static_cast<double>(written_) / static_cast<double>(writing_.elapsed());
        const qint64 leftMs = static_cast<qint64>(static_cast<double>(writeTotal_ - written_) / rate);
        text += tr("    Time left: about %1").arg(ClockText((leftMs + 999) / 1000));
    }
    times_->setText(text);
}

void ProgressDialog::reject()
{
    if (!finished_) {
        // A burn's cancel is told with what it means for the disc: the dialog closes at once
        // and the run's end is not shown.
        QString question = TranslateCoreText(kTextCancelQuestion);
        if (run_->Kind() == RunKind::Burn && run_->Finishing())
            question += QStringLiteral("\n\n") +
                        tr("The whole Video CD is with the drive: it finishes the disc all the same, and only the "
                           "read-back check is left off.");
        else if (run_->Kind() == RunKind::Burn && run_->WroteSectors())
            question += QStringLiteral("\n\n") +
                        (run_->DiscErasable()
                             ? tr("The disc has been partly written: after a cancel it must be erased with "
                                  "\"Erase CD-RW\" before it can be used again.")
                             : tr("The disc has been partly written: after a cancel it cannot be used again."));
        else if (run_->Kind() == RunKind::Burn)
            question += QStringLiteral("\n\n") + tr("Nothing has been written to the disc yet; it stays blank.");
        if (!messages_.Question(this, question))
            return;
    }
    run_->Cancel();
    QDialog::reject();
}

} // namespace lumivox::ui

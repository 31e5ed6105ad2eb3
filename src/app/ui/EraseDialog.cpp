#include "ui/EraseDialog.h"

#include "recorder/DiscUtilities.h"
#include "recorder/RecorderDriver.h"
#include "ui/MessageBoxes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumivox::ui {

namespace {
// TEST UNIT READY's answer while a drive is busy with an operation in progress.
constexpr int kDriveBusy = 2;
constexpr std::chrono::seconds kLookInterval{1};
} // namespace

std::chrono::milliseconds SteadyEraseClock::Now()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

bool SteadyEraseClock::Wait(std::chrono::milliseconds delay, const ManualResetEvent& cancel)
{
    return cancel.WaitFor(delay);
}

EraseDialog::EraseDialog(BaseDriver& driver, MessageBoxes& messages, std::shared_ptr<EraseClock> clock,
                         QWidget* parent)
    : QDialog(parent), driver_(driver), messages_(messages),
      clock_(clock ? std::move(clock) : std::make_shared<SteadyEraseClock>())
{
    setWindowTitle(tr("Erase CD-RW"));
    setModal(true);
    setMinimumWidth(420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    methods_ = new QListWidget(this);
    methods_->addItem(QString::fromLatin1(kEraseQuickName));
    methods_->addItem(QString::fromLatin1(kEraseFullName));
    methods_->setMaximumHeight(methods_->sizeHintForRow(0) * 2 + 2 * methods_->frameWidth() + 4);
    layout->addWidget(methods_);
    description_ = new QLabel(this);
    description_->setWordWrap(true);
    description_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    description_->setMinimumHeight(description_->fontMetrics().height() * 4);
    layout->addWidget(description_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    erase_ = new QPushButton(tr("Erase"), this);
    erase_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    buttons->addWidget(erase_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);

    connect(methods_, &QListWidget::currentRowChanged, this, &EraseDialog::MethodChanged);
    connect(erase_, &QPushButton::clicked, this, &EraseDialog::StartErase);
    connect(cancel_, &QPushButton::clicked, this, &EraseDialog::reject);
    methods_->setCurrentRow(0);
    MethodChanged(0);
}

EraseDialog::~EraseDialog()
{
    // Only reached while erasing when the program itself goes away: the worker stops at
    // its next look at the drive; the drive finishes the erase by itself.
    stop_.Set();
    if (worker_.joinable())
        worker_.join();
}

QString EraseDialog::Description() const { return description_->text(); }

void EraseDialog::MethodChanged(int index)
{
    description_->setText(QString::fromLatin1(index == 1 ? kEraseFullText : kEraseQuickText));
}

void EraseDialog::SetChoosing(bool choosing)
{
    erase_->setEnabled(choosing);
    cancel_->setEnabled(choosing);
    methods_->setEnabled(choosing);
}

void EraseDialog::StartErase()
{
    if (erasing_)
        return;
    if (driver_.TestUnitReady() == kDriveBusy) {
        messages_.Information(this, QString::fromLatin1(kNoRewritableDiscText));
        return;
    }
    if (worker_.joinable())
        worker_.join(); // a previous attempt whose BLANK was refused
    const bool full = methods_->currentRow() == 1;
    erasing_ = true;
    SetChoosing(false);
    stop_.Reset();
    worker_ = std::jthread([this, full, clock = clock_] {
        auto post = [this](auto call) { QMetaObject::invokeMethod(this, call, Qt::QueuedConnection); };
        if (const int result = driver_.Blank(full, true); result != kScsiSuccess) {
            const QString error = tr("The disc could not be erased: %1")
                                      .arg(QString::fromStdString(driver_.LastProblem(result)).trimmed());
            post([this, error] { EraseEnded(false, error); });
            return;
        }
        const std::chrono::milliseconds start = clock->Now();
        for (;;) {
            const std::chrono::milliseconds elapsed = clock->Now() - start;
            post([this, ms = elapsed.count()] { ShowElapsed(ms); });
            if (driver_.TestUnitReady() != kDriveBusy) {
                post([this] { EraseEnded(true, {}); });
                return;
            }
            if (elapsed > kEraseLimit) {
                post([this] {
                    EraseEnded(false, tr("The drive is still erasing after 90 minutes; it may need to be switched "
                                         "off and on."));
                });
                return;
            }
            if (clock->Wait(kLookInterval, stop_))
                return;
        }
    });
}

void EraseDialog::ShowElapsed(qint64 milliseconds)
{
    description_->setText(QString::fromStdString(ErasingText(milliseconds)));
    emit elapsedShown(milliseconds);
}

void EraseDialog::EraseEnded(bool ok, const QString& error)
{
    erasing_ = false;
    if (ok) {
        // An erase takes minutes: its end is told, not only the dialog closing.
        messages_.Information(this, tr("The disc was erased."));
        accept();
        return;
    }
    SetChoosing(true);
    messages_.Warning(this, error);
}

void EraseDialog::reject()
{
    if (erasing_)
        return; // the drive is erasing; the dialog closes by itself when it is done
    QDialog::reject();
}

} // namespace lumivox::ui

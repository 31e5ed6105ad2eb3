// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/EraseDialog.h"

#include "logic/CoreText.h"
#include "logic/QueuedCall.h"

#include "recorder/RecorderDriver.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumivox::ui {

EraseDialog::EraseDialog(BaseDriver& driver, MessageBoxes& messages, std::shared_ptr<RecorderClock> clock,
                         QWidget* parent)
    : QDialog(parent), driver_(driver), messages_(messages),
      clock_(std::move(clock)) // null: the erase keeps steady time
{
    setWindowTitle(tr("Erase CD-RW"));
    setModal(true);
    setMinimumWidth(420);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 16, 18, 14);
    layout->setSpacing(10);
    methods_ = new QListWidget(this);
    methods_->setObjectName(QStringLiteral("eraseMethods"));
    methods_->addItem(TranslateCoreText(kEraseQuickName));
    methods_->addItem(TranslateCoreText(kEraseFullName));
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
    erase_->setObjectName(QStringLiteral("eraseButton"));
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

QString EraseDialog::Description() const
{
    return description_->text();
}

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
    if (worker_.joinable())
        worker_.join(); // a previous attempt that was refused; it has ended
    const bool full = methods_->currentRow() == 1;
    erasing_ = true;
    SetChoosing(false);
    stop_.Reset();
    // The busy check (no disc), BLANK and the looks at the drive all happen on the worker:
    // a drive may take seconds to answer any of them.
    worker_ = std::jthread([this, full, clock = clock_] {
        auto post = [this](auto call) { PostQueued(this, std::move(call)); };
        std::string error;
        const bool ok = EraseDisc(
            driver_, full, &stop_, [&post, this](std::int64_t ms) { post([this, ms] { ShowElapsed(ms); }); }, &error,
            clock.get());
        if (!ok && stop_.IsSet())
            return; // the dialog is going away
        post([this, ok, error = QString::fromStdString(error).trimmed()] { EraseEnded(ok, error); });
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
    // No disc in the drive, or a CD-R in it, is a note, not a fault.
    const QString shown = TranslateCoreText(error.toStdString());
    if (error == QString::fromLatin1(kNoRewritableDiscText) || error == QString::fromLatin1(kCdrCannotBeErasedText))
        messages_.Information(this, shown);
    else
        messages_.Warning(this, shown);
}

void EraseDialog::reject()
{
    if (erasing_)
        return; // the drive is erasing; the dialog closes by itself when it is done
    QDialog::reject();
}

} // namespace lumivox::ui

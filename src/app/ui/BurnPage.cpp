#include "ui/BurnPage.h"

#include "project/Settings.h"
#include "ui/RecorderSetup.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace lumivox::ui {

BurnPage::BurnPage(const AppContext& context, QWidget* parent) : Page(context, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    AddHeading(layout, tr("Burn CD"),
               tr("Make the Video CD: pick the TV norm of your country and a CD recorder, "
                  "put a blank CD-R in it, and burn."));
    auto* row = new QHBoxLayout;
    row->setSpacing(16);
    QWidget* card = MakeCard(this);
    auto* form = new QFormLayout(card);
    form->setContentsMargins(20, 20, 20, 20);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(12);
    drives_ = new QComboBox(card);
    drives_->setMinimumWidth(280);
    form->addRow(tr("CD recorder:"), drives_);
    recorderNote_ = new QLabel(card);
    recorderNote_->setWordWrap(true);
    recorderNote_->setStyleSheet(QStringLiteral("color: #6b665b;"));
    form->addRow(QString(), recorderNote_);
    norm_ = new QLabel(card);
    form->addRow(tr("TV norm:"), norm_);
    row->addWidget(card, 1, Qt::AlignTop);
    row->addWidget(MakeComingCard(QStringLiteral(":/icons/burn.svg"), tr("Coming to this page"),
                                  {tr("PAL and NTSC buttons, the recording speed and Burn-Proof."),
                                   tr("Test burn, burn, erase, eject and close tray."),
                                   tr("Saving the disc as a BIN/CUE image, and how full the disc will be.")}),
                   1, Qt::AlignTop);
    layout->addLayout(row);
    layout->addStretch();
    RecordersChanged();
}

void BurnPage::OnShown()
{
    norm_->setText(context_.settings->IsPal() ? tr("PAL (Europe, Australia, most of Asia and Africa)")
                                              : tr("NTSC (North America, Japan)"));
}

void BurnPage::RecordersChanged()
{
    drives_->clear();
    const QStringList drives = context_.recorders->DriveList();
    drives_->addItems(drives);
    if (drives.isEmpty()) {
        drives_->addItem(QString::fromLatin1(kMsgNoWriter));
        drives_->setEnabled(false);
        recorderNote_->setText(tr("Connect a CD or DVD writer to burn the disc. "
                                  "Without one you can still save the disc as an image file and burn it elsewhere."));
    } else {
        drives_->setEnabled(true);
        drives_->setCurrentIndex(std::clamp(context_.settings->recorder, 0, static_cast<int>(drives.size()) - 1));
        recorderNote_->setText(context_.recorders->HasDriver() ? QString()
                                                                : tr("The recorder's driver could not be made."));
    }
    OnShown();
}

} // namespace lumivox::ui

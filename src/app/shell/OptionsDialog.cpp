// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/OptionsDialog.h"

#include "logic/CoreText.h"

#include "services/FileChooser.h"
#include "services/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumivox::ui {

OptionsDialog::OptionsDialog(const Settings& settings, FileChooser& files, MessageBoxes& messages, QWidget* parent)
    : QDialog(parent), files_(files), messages_(messages)
{
    setWindowTitle(tr("Options"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 14);
    layout->setSpacing(14);

    auto* slides = new QGroupBox(tr("Slide show"), this);
    auto* slidesLayout = new QVBoxLayout(slides);
    slidesLayout->addWidget(new QLabel(tr("Default wait time after playing the slide show"), slides));
    auto* waitRow = new QHBoxLayout;
    waitTime_ = new QSpinBox(slides);
    waitTime_->setObjectName(QStringLiteral("waitTimeBox"));
    // The box lets any number be typed; the accept step checks the range and says so, as
    // the dialog's validation does.
    waitTime_->setRange(0, 99999);
    waitTime_->setValue(settings.waitTime);
    waitTime_->setMinimumWidth(90);
    waitRow->addWidget(waitTime_);
    waitRow->addWidget(new QLabel(tr("seconds"), slides));
    waitRow->addStretch();
    slidesLayout->addLayout(waitRow);
    layout->addWidget(slides);

    auto* work = new QGroupBox(tr("Disc production"), this);
    auto* form = new QFormLayout(work);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    auto* folderRow = new QHBoxLayout;
    tempFolder_ = new QLineEdit(QString::fromStdString(settings.tempDir), work);
    tempFolder_->setObjectName(QStringLiteral("tempFolderEdit"));
    tempFolder_->setMaxLength(static_cast<int>(kMaxTempFolderEditBytes));
    tempFolder_->setMinimumWidth(320);
    auto* browse = new QToolButton(work);
    browse->setText(QStringLiteral("..."));
    browse->setToolTip(tr("Choose the temporary folder"));
    folderRow->addWidget(tempFolder_, 1);
    folderRow->addWidget(browse);
    form->addRow(tr("Temporary Folder:"), folderRow);
    writingMode_ = new QComboBox(work);
    writingMode_->setObjectName(QStringLiteral("writingModeList"));
    writingMode_->addItems(
        {QStringLiteral("Auto Detected"), QStringLiteral("SCSI-3 MMC"), QStringLiteral("SCSI-3 MMC(Raw Mode)")});
    writingMode_->setCurrentIndex(settings.driver >= 0 && settings.driver <= 2 ? settings.driver : 0);
    form->addRow(tr("CD Recorder Writing Mode:"), writingMode_);
    forceAspi_ = new QCheckBox(tr("Force to use ASPI driver"), work);
    forceAspi_->setObjectName(QStringLiteral("forceAspiBox"));
    forceAspi_->setChecked(settings.useAspi != 0);
    forceAspi_->setVisible(false);
    form->addRow(QString(), forceAspi_);
    layout->addWidget(work);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);
    connect(browse, &QToolButton::clicked, this, &OptionsDialog::BrowseTempFolder);
}

OptionsValues OptionsDialog::Values() const
{
    OptionsValues values;
    values.waitTime = waitTime_->value();
    values.tempFolder = tempFolder_->text().toStdString();
    values.writingMode = writingMode_->currentIndex();
    values.forceAspi = forceAspi_->isChecked();
    return values;
}

void OptionsDialog::accept()
{
    const std::string problem = ValidateOptions(Values());
    if (!problem.empty()) {
        messages_.Information(this, TranslateCoreText(problem));
        return;
    }
    QDialog::accept();
}

void OptionsDialog::BrowseTempFolder()
{
    QString start = tempFolder_->text();
    while (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    const QString chosen = files_.Folder(this, start);
    if (!chosen.isEmpty())
        tempFolder_->setText(chosen);
}

} // namespace lumivox::ui

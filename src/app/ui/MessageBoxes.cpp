#include "ui/MessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace lumivox::ui {

namespace {
const QString kTitle = QStringLiteral("Lumivox");
}

void QtMessageBoxes::Information(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, kTitle, text);
}

void QtMessageBoxes::Warning(QWidget* parent, const QString& text)
{
    QMessageBox::warning(parent, kTitle, text);
}

bool QtMessageBoxes::Question(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

SaveChoice QtMessageBoxes::AskSaveChanges(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, kTitle, text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Save);
    box.setInformativeText(QObject::tr("Your changes will be lost if you don't save them."));
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveChoice::Save;
    case QMessageBox::Discard:
        return SaveChoice::Discard;
    default:
        return SaveChoice::Cancel;
    }
}

} // namespace lumivox::ui

#include <QFileDialog>

namespace lumivox::ui {

const char* const kProjectFilter = "Lumivox Project (*.lvx)";
const char* const kDiscImageFilter = "Disc Image (*.cue)";
const char* const kPictureFilters =
    "All Supported Formats (*.jpg *.jpeg *.tif *.tiff *.bmp *.pcx *.png *.webp *.heic *.heif *.hif);;"
    "JPEG (*.jpg *.jpeg);;TIFF (*.tif *.tiff);;Bitmap (*.bmp);;PNG (*.png);;WebP (*.webp);;"
    "HEIF (*.heic *.heif *.hif)";

QString QtFileChooser::OpenProject(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QObject::tr("Open Project"), {}, kProjectFilter);
}

QString QtFileChooser::SaveProject(QWidget* parent, const QString& suggestion)
{
    // The dialog appends the default suffix and asks before it overwrites a file.
    QFileDialog dialog(parent, QObject::tr("Save Project As"), suggestion, kProjectFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("lvx"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QStringList QtFileChooser::OpenPictures(QWidget* parent)
{
    return QFileDialog::getOpenFileNames(parent, QObject::tr("Add Pictures"), {}, kPictureFilters);
}

QString QtFileChooser::Folder(QWidget* parent, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, QObject::tr("Temporary Folder"), start);
}

QString QtFileChooser::SaveDiscImage(QWidget* parent, const QString& suggestion)
{
    QFileDialog dialog(parent, QObject::tr("Save Disc Image"), suggestion, kDiscImageFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("cue"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/FileChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace lumivox::ui {

QString FileChooser::StartFolder() const
{
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir())
        return lastFolder_;
    if (folderHint_) {
        if (const QString hint = folderHint_(); !hint.isEmpty() && QFileInfo(hint).isDir())
            return hint;
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void FileChooser::Remember(const QString& path)
{
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    lastFolder_ = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
}

const char* const kProjectFilter = "Lumivox Project (*.lvx)";
const char* const kDiscImageFilter = "Disc Image (*.cue)";
const char* const kPictureFilters =
    "All Supported Formats (*.jpg *.jpeg *.tif *.tiff *.bmp *.pcx *.png *.webp *.heic *.heif *.hif);;"
    "JPEG (*.jpg *.jpeg);;TIFF (*.tif *.tiff);;Bitmap (*.bmp);;PNG (*.png);;WebP (*.webp);;"
    "HEIF (*.heic *.heif *.hif)";

QString QtFileChooser::OpenProject(QWidget* parent)
{
    const QString path =
        QFileDialog::getOpenFileName(parent, QObject::tr("Open Project"), StartFolder(), QObject::tr(kProjectFilter));
    Remember(path);
    return path;
}

QString QtFileChooser::SaveProject(QWidget* parent, const QString& suggestion)
{
    // The dialog appends the default suffix and asks before it overwrites a file.
    QFileDialog dialog(parent, QObject::tr("Save Project As"), suggestion.isEmpty() ? StartFolder() : suggestion,
                       QObject::tr(kProjectFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("lvx"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    Remember(dialog.selectedFiles().constFirst());
    return dialog.selectedFiles().constFirst();
}

QStringList QtFileChooser::OpenPictures(QWidget* parent)
{
    const QStringList paths =
        QFileDialog::getOpenFileNames(parent, QObject::tr("Add Pictures"), StartFolder(), QObject::tr(kPictureFilters));
    if (!paths.isEmpty())
        Remember(paths.constFirst());
    return paths;
}

QString QtFileChooser::Folder(QWidget* parent, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, QObject::tr("Temporary Folder"), start);
}

QString QtFileChooser::OpenFile(QWidget* parent, const QString& title, const QString& filter)
{
    const QString path = QFileDialog::getOpenFileName(parent, title, StartFolder(), filter);
    Remember(path);
    return path;
}

QString QtFileChooser::SaveDiscImage(QWidget* parent, const QString& suggestion)
{
    // A bare name is suggested in the start folder.
    const QString start = suggestion.isEmpty() || QFileInfo(suggestion).isAbsolute()
                              ? suggestion
                              : QDir(StartFolder()).filePath(suggestion);
    QFileDialog dialog(parent, QObject::tr("Save Disc Image"), start, QObject::tr(kDiscImageFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("cue"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    Remember(dialog.selectedFiles().constFirst());
    return dialog.selectedFiles().constFirst();
}

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every file and folder dialog of the desktop program goes through FileChooser, so that
// the tests replace it with one that gives chosen paths.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace lumivox::ui {

// The file and folder choosers, replaced by the tests like the message boxes. Each
// returns an empty string when the user cancels.
class FileChooser {
public:
    virtual ~FileChooser() = default;

    // Where the dialogs start: the folder the last one went to, else the folder hint
    // gives (the project's folder, else the folder browsed in the editor), else
    // ~/Pictures, else home.
    void SetFolderHint(std::function<QString()> hint) { folderHint_ = std::move(hint); }
    QString StartFolder() const;
    // Remembers the folder of path (a file, or a folder) for the next dialog.
    void Remember(const QString& path);

    virtual QString OpenProject(QWidget* parent) = 0;
    virtual QString SaveProject(QWidget* parent, const QString& suggestion) = 0;
    virtual QStringList OpenPictures(QWidget* parent) = 0;
    virtual QString Folder(QWidget* parent, const QString& start) = 0;
    // Any one file to open, with the dialog's title and filter (the disc menu's background
    // picture and music).
    virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter)
    {
        (void)parent;
        (void)title;
        (void)filter;
        return {};
    }
    // The CUE file of a disc image to write (the BIN goes beside it).
    virtual QString SaveDiscImage(QWidget* parent, const QString& suggestion)
    {
        (void)parent;
        (void)suggestion;
        return {};
    }

private:
    std::function<QString()> folderHint_;
    QString lastFolder_;
};

// The Qt file dialogs with the program's filters.
class QtFileChooser final : public FileChooser {
public:
    QString OpenProject(QWidget* parent) override;
    QString SaveProject(QWidget* parent, const QString& suggestion) override;
    QStringList OpenPictures(QWidget* parent) override;
    QString Folder(QWidget* parent, const QString& start) override;
    QString OpenFile(QWidget* parent, const QString& title, const QString& filter) override;
    QString SaveDiscImage(QWidget* parent, const QString& suggestion) override;
};

// "Lumivox Project (*.lvx)"
extern const char* const kProjectFilter;
// "Disc Image (*.cue)"
extern const char* const kDiscImageFilter;
// The Add Pictures dialog's filters, in the order of the Windows program's list.
extern const char* const kPictureFilters;

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every message box of the desktop program goes through MessageBoxes, so that the tests
// replace it with one that records the question and gives a chosen answer.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace lumivox::ui {

// The answers to "Save changes to %s?".
enum class SaveChoice { Save, Discard, Cancel };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A message with an information icon and an OK button.
    virtual void Information(QWidget* parent, const QString& text) = 0;
    // A warning (a failure the user must know of).
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // The unsaved-changes question with Save, Discard and Cancel.
    virtual SaveChoice AskSaveChanges(QWidget* parent, const QString& text) = 0;
};

// A drive's answer ("sense 03/0C/00 (write error)") is for whoever looks into a failure,
// not the headline: it is taken out of text into details ("" when text has none), the
// headline kept a sentence.
struct MessageParts {
    QString headline;
    QString details;
};
MessageParts SplitDriveDetails(const QString& text);

// The boxes the user sees: QMessageBox with the program's title, a drive's answer in the
// box's details part.
class QtMessageBoxes final : public MessageBoxes {
public:
    void Information(QWidget* parent, const QString& text) override;
    void Warning(QWidget* parent, const QString& text) override;
    bool Question(QWidget* parent, const QString& text) override;
    SaveChoice AskSaveChanges(QWidget* parent, const QString& text) override;
};

} // namespace lumivox::ui

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
    QString SaveDiscImage(QWidget* parent, const QString& suggestion) override;
};

// "Lumivox Project (*.lvx)"
extern const char* const kProjectFilter;
// "Disc Image (*.cue)"
extern const char* const kDiscImageFilter;
// The Add Pictures dialog's filters, in the order of the Windows program's list.
extern const char* const kPictureFilters;

} // namespace lumivox::ui

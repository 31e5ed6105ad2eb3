// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every message box of the desktop program goes through MessageBoxes, so that the tests
// replace it with one that records the question and gives a chosen answer.

#include <QString>

class QWidget;

namespace lumivox::ui {

// The answers to "Save changes to %s?".
enum class SaveChoice { Save, Discard, Cancel };
// The answers when the project file was changed by another program since it was opened.
enum class ChangedChoice { Reload, Overwrite, Cancel };

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
    // The file was changed by another program: Reload, Overwrite or Cancel.
    virtual ChangedChoice AskChangedOnDisk(QWidget* parent, const QString& text) = 0;
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
    ChangedChoice AskChangedOnDisk(QWidget* parent, const QString& text) override;
};

} // namespace lumivox::ui

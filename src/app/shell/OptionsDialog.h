// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Options dialog: default wait time (2..1200 seconds), temporary folder with a browse
// button, and the recorder's writing mode. The force-ASPI box exists for the setting's
// sake but stays hidden: there is no ASPI on this system.

#include "project/Settings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace lumivox::ui {

class FileChooser;
class MessageBoxes;

class OptionsDialog final : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(const Settings& settings, FileChooser& files, MessageBoxes& messages, QWidget* parent = nullptr);

    // The values entered; valid once the dialog is accepted.
    OptionsValues Values() const;

    // Accepts when the values pass the checks, otherwise says why and stays open.
    void accept() override;
    // The "..." button.
    void BrowseTempFolder();

private:
    FileChooser& files_;
    MessageBoxes& messages_;
    QSpinBox* waitTime_ = nullptr;
    QLineEdit* tempFolder_ = nullptr;
    QComboBox* writingMode_ = nullptr;
    QCheckBox* forceAspi_ = nullptr;
};

} // namespace lumivox::ui

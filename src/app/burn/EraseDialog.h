// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// "Erase CD-RW": the two erase methods with their descriptions, and the erase itself (the
// recorder library's, with its busy check) on a worker that reports the elapsed time every
// second and closes the dialog when the drive is ready again. While it erases, the dialog
// cannot be left, so only the program's end finds the worker still going.

#include "base/Event.h"
#include "recorder/DiscUtilities.h"

#include <QDialog>

#include <chrono>
#include <memory>
#include <thread>

class QLabel;
class QListWidget;
class QPushButton;

namespace lumivox {
class BaseDriver;
}

namespace lumivox::ui {

class MessageBoxes;

inline constexpr const char* kEraseQuickName = QT_TRANSLATE_NOOP("lumivox::core", "Quick-erase rewritable media");
inline constexpr const char* kEraseFullName = QT_TRANSLATE_NOOP("lumivox::core", "Full-erase rewritable media");
inline constexpr const char* kEraseQuickText =
    "The medium will appear to be empty but data is not physically erased. Use this option with caution if the "
    "medium contains confidential data.";
inline constexpr const char* kEraseFullText =
    "Choosing this option will physically erase all data on the medium. Note: physically erasing the medium will "
    "take a while (about 10 - 20 min)";

class EraseDialog final : public QDialog {
    Q_OBJECT
public:
    // driver is used only by the erase worker while it runs, and must outlive the dialog;
    // clock may be null (steady time).
    EraseDialog(BaseDriver& driver, MessageBoxes& messages, std::shared_ptr<RecorderClock> clock = nullptr,
                QWidget* parent = nullptr);
    ~EraseDialog() override;

    QListWidget* Methods() const { return methods_; }
    QString Description() const;
    bool IsErasing() const { return erasing_; }

    // The "Erase" button.
    void StartErase();
    void reject() override;

signals:
    void elapsedShown(qint64 milliseconds);

private:
    void MethodChanged(int index);
    void ShowElapsed(qint64 milliseconds);
    void EraseEnded(bool ok, const QString& error);
    void SetChoosing(bool choosing);

    BaseDriver& driver_;
    MessageBoxes& messages_;
    std::shared_ptr<RecorderClock> clock_;
    QListWidget* methods_ = nullptr;
    QLabel* description_ = nullptr;
    QPushButton* erase_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool erasing_ = false;
    ManualResetEvent stop_;
    std::jthread worker_;
};

} // namespace lumivox::ui

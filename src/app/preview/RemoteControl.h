// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The preview's remote control: the remote's picture with its thirteen keys (number keys
// 1 to 9, start, stop, previous and next menu). Each key says what it does in its tooltip;
// the page decides which keys answer.

#include "logic/MenuPaging.h"

#include <QAbstractButton>
#include <QWidget>

#include <array>

class QSvgRenderer;

namespace lumivox::ui {

// The remote's commands, numbered as the keys of the described remote.
enum RemoteCommand {
    kRemoteAlbum1 = 30001, // 30001 .. 30009: number keys 1 .. 9
    kRemoteStart = 30010,
    kRemoteStop = 30011,
    kRemotePrevious = 30012,
    kRemoteNext = 30013,
};

// The remote's picture size and the key sizes.
inline constexpr QSize kRemoteSize(155, 409);
inline constexpr QSize kNumberKeySize(33, 29);
inline constexpr QSize kWideKeySize(48, 30);

// One key: its artwork in four states (normal, under the pointer, pressed, disabled).
class RemoteKey final : public QAbstractButton {
    Q_OBJECT
public:
    // artwork is an SVG resource; label is written on it (the number keys' digits).
    RemoteKey(const QString& artwork, const QString& label, QSize size, QWidget* parent);
    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override { update(); }
    void leaveEvent(QEvent*) override { update(); }

private:
    QSvgRenderer* artwork_;
    QString label_;
};

class RemoteControl final : public QWidget {
    Q_OBJECT
public:
    explicit RemoteControl(QWidget* parent);

    RemoteKey* Key(int command) const;
    void SetKeys(const RemoteKeyStates& states);
    // Presses the key of command when it answers; false when it is disabled.
    bool Press(int command);
    // The remote and its keys shrink with a small window (1 is the drawn size).
    void SetScale(qreal scale);

signals:
    void commandPressed(int command);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QSvgRenderer* picture_;
    std::array<RemoteKey*, 13> keys_{};
};

} // namespace lumivox::ui

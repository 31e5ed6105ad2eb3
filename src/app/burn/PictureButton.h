// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The burn page's picture buttons: 126 × 26, drawn from a strip of four equal pictures
// side by side (normal, pressed, mouse over, disabled), of which the first that applies in
// the order disabled, pressed, mouse over, normal is shown.

#include <QAbstractButton>
#include <QImage>

namespace lumivox::ui {

inline constexpr int kPictureButtonWidth = 126;
inline constexpr int kPictureButtonHeight = 26;

enum class PictureButtonKind { Erase, Eject, CloseTray, TestBurn, Burn };

// The strip of a button (504 × 26 logical pixels at the ratio given).
QImage DrawPictureButtonStrip(PictureButtonKind kind, const QString& caption, qreal devicePixelRatio = 1.0);

class PictureButton final : public QAbstractButton {
    Q_OBJECT
public:
    PictureButton(PictureButtonKind kind, const QString& caption, const QString& tooltip, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {kPictureButtonWidth, kPictureButtonHeight}; }
    // Which of the four pictures is shown now: 0 normal, 1 pressed, 2 mouse over, 3 disabled.
    int PictureIndex() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    PictureButtonKind kind_;
    QImage strip_;
    bool hovered_ = false;
};

} // namespace lumivox::ui

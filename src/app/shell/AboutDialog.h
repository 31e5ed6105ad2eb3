// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The about box: a borderless window sized to the banner, centred on its parent, painted
// entirely with it; a left click (or a key) closes it.

#include <QDialog>
#include <QImage>

namespace lumivox::ui {

class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage banner_;
};

} // namespace lumivox::ui

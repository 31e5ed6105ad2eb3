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

// The splash window: centred, borderless, showing the banner; it closes at the first
// mouse click or key press anywhere in the program, or by itself after autoCloseSeconds
// (0: never).
class SplashWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kAutoCloseSeconds = 3;
    explicit SplashWindow(int autoCloseSeconds = kAutoCloseSeconds);
    ~SplashWindow() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Closes at the first mouse click or key press anywhere in the program.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QImage banner_;
};

} // namespace lumivox::ui

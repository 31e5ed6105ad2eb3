// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The splash window shown while the program starts: the about box's banner.

#include <QImage>
#include <QWidget>

namespace lumivox::ui {

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

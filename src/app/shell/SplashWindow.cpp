// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/SplashWindow.h"

#include "shell/Artwork.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace lumivox::ui {

SplashWindow::SplashWindow(int autoCloseSeconds)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose);
    banner_ = DrawBanner(tr("Gather your photos, pick a menu, burn a disc for the television."), devicePixelRatioF());
    setFixedSize(kBannerWidth, kBannerHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    qApp->installEventFilter(this);
    // It also leaves by itself after a while, for a user who does not touch anything.
    if (autoCloseSeconds > 0)
        QTimer::singleShot(autoCloseSeconds * 1000, this, &QWidget::close);
}

SplashWindow::~SplashWindow()
{
    qApp->removeEventFilter(this);
}

void SplashWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), banner_);
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)
        QTimer::singleShot(0, this, &QWidget::close);
    return QWidget::eventFilter(watched, event);
}

} // namespace lumivox::ui

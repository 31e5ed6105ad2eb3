// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/AboutDialog.h"

#include "shell/Artwork.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace lumivox::ui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setWindowTitle(tr("About Lumivox"));
    setAttribute(Qt::WA_TranslucentBackground);
    banner_ = DrawBanner(tr("Version %1  \u2022  For every DVD and Video CD player  \u2022  Click to close")
                             .arg(QStringLiteral(LUMIVOX_VERSION)),
                         devicePixelRatioF());
    setFixedSize(kBannerWidth, kBannerHeight);
    if (parent)
        move(parent->geometry().center() - rect().center());
}

void AboutDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), banner_);
}

void AboutDialog::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        accept();
}

void AboutDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space)
        accept();
}

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/Artwork.h"
#include "shell/Resources.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgRenderer>

namespace lumivox::ui {

QImage DrawBanner(const QString& footer, qreal devicePixelRatio)
{
    EnsureResources();
    QImage image(QSize(kBannerWidth, kBannerHeight) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(0, 0, kBannerWidth, kBannerHeight);

    // An evening sky over the page colour: the colours of a slide show on a television.
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0.0, QColor(0x1f, 0x2a, 0x4d));
    sky.setColorAt(0.55, QColor(0x3c, 0x3f, 0x78));
    sky.setColorAt(1.0, QColor(0xd9, 0x7b, 0x5a));
    QPainterPath frame;
    frame.addRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), 14, 14);
    painter.fillPath(frame, sky);
    painter.setClipPath(frame);
    QRadialGradient glow(QPointF(kBannerWidth * 0.78, kBannerHeight * 0.86), kBannerWidth * 0.45);
    glow.setColorAt(0.0, QColor(255, 214, 150, 170));
    glow.setColorAt(1.0, QColor(255, 214, 150, 0));
    painter.fillRect(area, glow);
    // Hills in front of the glow.
    QPainterPath hills;
    hills.moveTo(0, kBannerHeight * 0.82);
    hills.cubicTo(kBannerWidth * 0.25, kBannerHeight * 0.70, kBannerWidth * 0.45, kBannerHeight * 0.90,
                  kBannerWidth * 0.70, kBannerHeight * 0.80);
    hills.cubicTo(kBannerWidth * 0.85, kBannerHeight * 0.74, kBannerWidth * 0.95, kBannerHeight * 0.80, kBannerWidth,
                  kBannerHeight * 0.78);
    hills.lineTo(kBannerWidth, kBannerHeight);
    hills.lineTo(0, kBannerHeight);
    hills.closeSubpath();
    painter.fillPath(hills, QColor(0x22, 0x1e, 0x33, 230));
    painter.setClipping(false);

    QSvgRenderer icon(QStringLiteral(":/icons/lumivox.svg"));
    icon.render(&painter, QRectF(40, 52, 112, 112));

    painter.setPen(Qt::white);
    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(50);
    title.setWeight(QFont::Bold);
    painter.setFont(title);
    painter.drawText(QRectF(172, 62, kBannerWidth - 190, 60), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Lumivox"));
    QFont subtitle(QStringLiteral("Liberation Sans"));
    subtitle.setPixelSize(18);
    painter.setFont(subtitle);
    painter.setPen(QColor(0xe8, 0xe4, 0xf5));
    painter.drawText(QRectF(174, 120, kBannerWidth - 190, 50), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Photo albums to Video CD"));
    QFont small(QStringLiteral("Liberation Sans"));
    small.setPixelSize(13);
    painter.setFont(small);
    painter.setPen(QColor(255, 255, 255, 220));
    const QRectF footerRect(24, kBannerHeight - 44, kBannerWidth - 48, 36);
    painter.drawText(footerRect, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(footer, Qt::ElideRight, static_cast<int>(footerRect.width())));
    return image;
}

} // namespace lumivox::ui

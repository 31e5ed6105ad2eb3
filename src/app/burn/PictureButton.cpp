// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/PictureButton.h"

#include <QPainter>
#include <QPainterPath>
#include <QWindow>

namespace lumivox::ui {

namespace {

constexpr int kPictures = 4;

struct Palette {
    QColor top, bottom, border, text;
};

// Normal, pressed, mouse over and disabled looks of a primary (burn) and a plain button.
Palette LookOf(bool primary, int picture)
{
    if (picture == 3)
        return {QColor(0xf1, 0xef, 0xea), QColor(0xe6, 0xe3, 0xdc), QColor(0xd6, 0xd2, 0xc8), QColor(0xa8, 0xa4, 0x9a)};
    if (primary) {
        switch (picture) {
        case 1:
            return {QColor(0x4f, 0x6c, 0xb8), QColor(0x5f, 0x7e, 0xcc), QColor(0x3b, 0x55, 0x9a), Qt::white};
        case 2:
            return {QColor(0x86, 0xa2, 0xe8), QColor(0x6c, 0x8b, 0xdb), QColor(0x4a, 0x66, 0xb0), Qt::white};
        default:
            return {QColor(0x78, 0x96, 0xe0), QColor(0x64, 0x82, 0xd2), QColor(0x4a, 0x66, 0xb0), Qt::white};
        }
    }
    switch (picture) {
    case 1:
        return {QColor(0xe4, 0xdf, 0xd2), QColor(0xf0, 0xec, 0xe2), QColor(0xb9, 0xb1, 0x9e), QColor(0x2f, 0x2c, 0x26)};
    case 2:
        return {QColor(0xff, 0xff, 0xff), QColor(0xef, 0xf3, 0xfc), QColor(0x9d, 0xb8, 0xe6), QColor(0x1b, 0x3f, 0x7a)};
    default:
        return {QColor(0xff, 0xff, 0xff), QColor(0xf1, 0xed, 0xe3), QColor(0xcf, 0xc8, 0xb6), QColor(0x2f, 0x2c, 0x26)};
    }
}

void DrawGlyph(QPainter& painter, PictureButtonKind kind, const QRectF& box, const QColor& colour)
{
    painter.save();
    painter.setPen(QPen(colour, 1.4));
    painter.setBrush(Qt::NoBrush);
    const QPointF centre = box.center();
    const qreal r = box.height() / 2;
    switch (kind) {
    case PictureButtonKind::Eject:
    case PictureButtonKind::CloseTray: {
        const bool up = kind == PictureButtonKind::Eject;
        QPainterPath arrow;
        const qreal tip = up ? box.top() + 1 : box.top() + r * 1.3;
        const qreal base = up ? box.top() + r * 1.3 : box.top() + 1;
        arrow.moveTo(centre.x(), tip);
        arrow.lineTo(centre.x() + r, base);
        arrow.lineTo(centre.x() - r, base);
        arrow.closeSubpath();
        painter.setBrush(colour);
        painter.drawPath(arrow);
        painter.drawRect(QRectF(centre.x() - r, box.bottom() - 2.5, 2 * r, 1.5));
        break;
    }
    default: {
        painter.drawEllipse(centre, r, r);
        painter.drawEllipse(centre, r / 3.2, r / 3.2);
        if (kind == PictureButtonKind::Burn) {
            painter.setBrush(colour);
            painter.drawPie(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
        } else if (kind == PictureButtonKind::Erase) {
            painter.drawLine(QPointF(centre.x() - r, centre.y() + r), QPointF(centre.x() + r, centre.y() - r));
        } else {
            painter.setPen(QPen(colour, 1.0, Qt::DotLine));
            painter.drawEllipse(centre, r * 0.7, r * 0.7);
        }
        break;
    }
    }
    painter.restore();
}

} // namespace

QImage DrawPictureButtonStrip(PictureButtonKind kind, const QString& caption, qreal devicePixelRatio)
{
    QImage strip(QSize(kPictureButtonWidth * kPictures, kPictureButtonHeight) * devicePixelRatio,
                 QImage::Format_ARGB32_Premultiplied);
    strip.setDevicePixelRatio(devicePixelRatio);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(12);
    const bool primary = kind == PictureButtonKind::Burn;
    font.setWeight(primary ? QFont::DemiBold : QFont::Medium);
    painter.setFont(font);
    for (int picture = 0; picture < kPictures; ++picture) {
        const Palette look = LookOf(primary, picture);
        const QRectF frame(picture * kPictureButtonWidth + 0.5, 0.5, kPictureButtonWidth - 1.0,
                           kPictureButtonHeight - 1.0);
        QLinearGradient fill(frame.topLeft(), frame.bottomLeft());
        fill.setColorAt(0, look.top);
        fill.setColorAt(1, look.bottom);
        painter.setPen(QPen(look.border, 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(frame, 6, 6);
        const QPointF shift = picture == 1 ? QPointF(0, 1) : QPointF(0, 0);
        DrawGlyph(painter, kind, QRectF(frame.left() + 10, frame.top() + 6, 14, 14).translated(shift), look.text);
        painter.setPen(look.text);
        painter.drawText(QRectF(frame.left() + 30, frame.top(), frame.width() - 36, frame.height()).translated(shift),
                         Qt::AlignVCenter | Qt::AlignLeft, caption);
    }
    return strip;
}

PictureButton::PictureButton(PictureButtonKind kind, const QString& caption, const QString& tooltip, QWidget* parent)
    : QAbstractButton(parent), kind_(kind)
{
    setText(caption);
    setToolTip(tooltip);
    setFixedSize(kPictureButtonWidth, kPictureButtonHeight);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

int PictureButton::PictureIndex() const
{
    if (!isEnabled())
        return 3;
    if (isDown())
        return 1;
    if (hovered_)
        return 2;
    return 0;
}

void PictureButton::enterEvent(QEnterEvent* event)
{
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event)
{
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void PictureButton::paintEvent(QPaintEvent*)
{
    const qreal ratio = devicePixelRatioF();
    if (strip_.isNull() || strip_.devicePixelRatio() != ratio)
        strip_ = DrawPictureButtonStrip(kind_, text(), ratio);
    QPainter painter(this);
    const QRectF source(PictureIndex() * kPictureButtonWidth * ratio, 0, kPictureButtonWidth * ratio,
                        kPictureButtonHeight * ratio);
    painter.drawImage(QRectF(0, 0, kPictureButtonWidth, kPictureButtonHeight), strip_, source);
    if (hasFocus()) {
        painter.setPen(QPen(QColor(0x4a, 0x66, 0xb0), 1, Qt::DotLine));
        painter.drawRoundedRect(QRectF(2.5, 2.5, kPictureButtonWidth - 5, kPictureButtonHeight - 5), 4, 4);
    }
}

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/TextProgressBar.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>

namespace lumivox::ui {

namespace {
constexpr int kMaximum = 100;
}

TextProgressBar::TextProgressBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TextProgressBar::SetPosition(int position)
{
    position = std::clamp(position, 0, kMaximum);
    if (position == position_)
        return;
    position_ = position;
    update();
}

void TextProgressBar::SetText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
}

QString TextProgressBar::ShownText() const
{
    return text_.isEmpty() ? QStringLiteral("%1%").arg(position_) : text_;
}

QSize TextProgressBar::sizeHint() const
{
    return {320, fontMetrics().height() + 10};
}

void TextProgressBar::paintEvent(QPaintEvent*)
{
    // Drawn whole into a pixmap first and then copied, so the two-coloured text never
    // flickers while positions arrive quickly.
    const qreal ratio = devicePixelRatioF();
    QPixmap canvas(size() * ratio);
    canvas.setDevicePixelRatio(ratio);
    const QRect whole(QPoint(0, 0), size());
    const int doneWidth = whole.width() * position_ / kMaximum;
    const QRect done(0, 0, doneWidth, whole.height());
    const QRect rest(doneWidth, 0, whole.width() - doneWidth, whole.height());
    const QColor doneColour = QColor::fromRgb(kProgressDoneColour);
    const QColor restColour = QColor::fromRgb(kProgressRestColour);
    {
        QPainter painter(&canvas);
        painter.setFont(font());
        painter.fillRect(done, doneColour);
        painter.fillRect(rest, restColour);
        const QString text = ShownText();
        painter.setClipRect(done);
        painter.setPen(restColour);
        painter.drawText(whole, Qt::AlignCenter | Qt::TextSingleLine, text);
        painter.setClipRect(rest);
        painter.setPen(doneColour);
        painter.drawText(whole, Qt::AlignCenter | Qt::TextSingleLine, text);
        painter.setClipping(false);
        painter.setPen(doneColour.darker(130));
        painter.drawRect(whole.adjusted(0, 0, -1, -1));
    }
    QPainter(this).drawPixmap(0, 0, canvas);
}

} // namespace lumivox::ui

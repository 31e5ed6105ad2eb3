// SPDX-License-Identifier: GPL-2.0-or-later
#include "preview/RemoteControl.h"
#include "shell/Resources.h"

#include <algorithm>
#include <QFont>
#include <QPainter>
#include <QSvgRenderer>

namespace lumivox::ui {

namespace {

constexpr int kKeyCount = 13;

struct KeyPlace {
    int command;
    QPoint at;
    QSize size;
    const char* artwork;
    const char* label;
    const char* tooltip;
};

// Number keys in three columns at x 16, 55, 94 and rows at y 47, 90, 133; the four
// playing keys below them in two columns.
const KeyPlace kKeys[kKeyCount] = {
    {30001,
     {16, 47},
     kNumberKeySize,
     "key-number",
     "1",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 1")},
    {30002,
     {55, 47},
     kNumberKeySize,
     "key-number",
     "2",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 2")},
    {30003,
     {94, 47},
     kNumberKeySize,
     "key-number",
     "3",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 3")},
    {30004,
     {16, 90},
     kNumberKeySize,
     "key-number",
     "4",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 4")},
    {30005,
     {55, 90},
     kNumberKeySize,
     "key-number",
     "5",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 5")},
    {30006,
     {94, 90},
     kNumberKeySize,
     "key-number",
     "6",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 6")},
    {30007,
     {16, 133},
     kNumberKeySize,
     "key-number",
     "7",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 7")},
    {30008,
     {55, 133},
     kNumberKeySize,
     "key-number",
     "8",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 8")},
    {30009,
     {94, 133},
     kNumberKeySize,
     "key-number",
     "9",
     QT_TRANSLATE_NOOP("RemoteControl", "Click to preview album 9")},
    {kRemoteStart, {19, 179}, kWideKeySize, "key-start", "", QT_TRANSLATE_NOOP("RemoteControl", "Start preview")},
    {kRemoteStop, {75, 179}, kWideKeySize, "key-stop", "", QT_TRANSLATE_NOOP("RemoteControl", "Stop preview")},
    {kRemotePrevious,
     {19, 219},
     kWideKeySize,
     "key-previous",
     "",
     QT_TRANSLATE_NOOP("RemoteControl", "Select previous menu")},
    {kRemoteNext, {75, 219}, kWideKeySize, "key-next", "", QT_TRANSLATE_NOOP("RemoteControl", "Select next menu")},
};

} // namespace

RemoteKey::RemoteKey(const QString& artwork, const QString& label, QSize size, QWidget* parent)
    : QAbstractButton(parent), artwork_(new QSvgRenderer(artwork, this)), label_(label)
{
    setFixedSize(size);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setText(label);
}

void RemoteKey::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const bool pressed = isDown();
    if (!isEnabled())
        painter.setOpacity(0.38);
    // A pressed key sinks by a pixel.
    const QRectF area = QRectF(rect()).translated(0, pressed ? 1 : 0);
    artwork_->render(&painter, area);
    if (!label_.isEmpty()) {
        QFont font(QStringLiteral("Liberation Sans"));
        // 15 pixels on a key of its drawn size; smaller with a smaller remote.
        font.setPixelSize(std::max(8, 15 * height() / kNumberKeySize.height()));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QColor(0x2b, 0x33, 0x52));
        painter.drawText(area.adjusted(0, 0, 0, -2), Qt::AlignCenter, label_);
    }
    if (isEnabled() && (pressed || underMouse())) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(pressed ? QColor(0, 0, 0, 50) : QColor(255, 255, 255, 45));
        painter.drawRoundedRect(area.adjusted(1, 1, -1, -2), 7, 7);
    }
}

RemoteControl::RemoteControl(QWidget* parent)
    : QWidget(parent), picture_(new QSvgRenderer(QStringLiteral(":/preview/remote.svg"), this))
{
    EnsureResources();
    setObjectName(QStringLiteral("remoteControl"));
    setAccessibleName(tr("Remote control"));
    setAccessibleDescription(tr("The player's remote control: number keys choose an album, the other keys "
                                "step through the pictures and the menu pages."));
    setFixedSize(kRemoteSize);
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyPlace& place = kKeys[i];
        auto* key = new RemoteKey(QStringLiteral(":/preview/%1.svg").arg(QLatin1String(place.artwork)),
                                  QString::fromLatin1(place.label), place.size, this);
        key->move(place.at);
        key->setToolTip(tr(place.tooltip));
        key->setAccessibleName(tr(place.tooltip));
        key->setAccessibleDescription(tr("Remote Control button"));
        key->setObjectName(QStringLiteral("remoteKey%1").arg(place.command));
        connect(key, &QAbstractButton::clicked, this,
                [this, command = place.command] { emit commandPressed(command); });
        keys_[static_cast<std::size_t>(i)] = key;
    }
}

RemoteKey* RemoteControl::Key(int command) const
{
    const int index = command - kRemoteAlbum1;
    return index >= 0 && index < kKeyCount ? keys_[static_cast<std::size_t>(index)] : nullptr;
}

void RemoteControl::SetKeys(const RemoteKeyStates& states)
{
    for (int k = 0; k < kRemoteNumberKeys; ++k)
        keys_[static_cast<std::size_t>(k)]->setEnabled(states.number[static_cast<std::size_t>(k)]);
    Key(kRemoteStart)->setEnabled(states.start);
    Key(kRemoteStop)->setEnabled(states.stop);
    Key(kRemotePrevious)->setEnabled(states.previous);
    Key(kRemoteNext)->setEnabled(states.next);
}

bool RemoteControl::Press(int command)
{
    RemoteKey* key = Key(command);
    if (!key || !key->isEnabled())
        return false;
    key->click();
    return true;
}

void RemoteControl::SetScale(qreal scale)
{
    setFixedSize((QSizeF(kRemoteSize) * scale).toSize());
    for (int i = 0; i < kKeyCount; ++i) {
        const KeyPlace& place = kKeys[i];
        RemoteKey* key = keys_[static_cast<std::size_t>(i)];
        key->setFixedSize((QSizeF(place.size) * scale).toSize());
        key->move((QPointF(place.at) * scale).toPoint());
    }
    update();
}

void RemoteControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    picture_->render(&painter, QRectF(rect()));
}

} // namespace lumivox::ui

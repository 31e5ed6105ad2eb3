// SPDX-License-Identifier: GPL-2.0-or-later
#include "editor/EditorViews.h"

#include "editor/EditorModels.h"

#include <QDragEnterEvent>
#include <algorithm>
#include <QMimeData>
#include <QPainter>

namespace lumivox::ui {

namespace {

constexpr QColor kFrameColour(0xd9, 0xd3, 0xc4);
constexpr QColor kFrameFill(0xfb, 0xfa, 0xf6);
constexpr QColor kSelectedFrame(0x3a, 0x7b, 0xd5);
constexpr QColor kSelectedFill(0xdc, 0xe9, 0xfa);
constexpr int kLabelHeight = 16;

void DrawFrame(QPainter& painter, const QRect& frame, bool selected)
{
    painter.setPen(QPen(selected ? kSelectedFrame : kFrameColour, selected ? 2 : 1));
    painter.setBrush(selected ? kSelectedFill : kFrameFill);
    painter.drawRoundedRect(QRectF(frame).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

} // namespace

ThumbnailDelegate::ThumbnailDelegate(const ThumbnailFrame& frame, QObject* parent)
    : QStyledItemDelegate(parent), frame_(frame)
{ }

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return frame_.cell;
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool selected = option.state & QStyle::State_Selected;
    const QRect frame(option.rect.x() + (option.rect.width() - frame_.frameWidth) / 2, option.rect.y(),
                      frame_.frameWidth, frame_.frameHeight);
    DrawFrame(*painter, frame, selected);
    const QImage thumbnail = index.data(ThumbnailRole).value<QImage>();
    if (!thumbnail.isNull()) {
        const QRect at = index.data(PlacementRole).toRect();
        painter->drawImage(
            QPoint(frame.x() + at.x() + frame_.thumbnailInset, frame.y() + at.y() + frame_.thumbnailInset), thumbnail);
    }
    // The label: black on white, centred on one line in the band below the frame, as wide
    // as the cell; a name too long for it loses its middle, so its number and extension
    // stay readable.
    const int labelWidth = std::max(frame_.frameWidth, option.rect.width() - 4);
    const QRect band(option.rect.x() + (option.rect.width() - labelWidth) / 2, frame.bottom() + 1, labelWidth,
                     kLabelHeight);
    painter->fillRect(band, selected ? kSelectedFill : QColor(Qt::white));
    painter->setPen(Qt::black);
    const QVariant labelData = index.data(LabelRole);
    const QString text = labelData.isValid() ? labelData.toString() : index.data(Qt::DisplayRole).toString();
    const QString label = option.fontMetrics.elidedText(text, Qt::ElideMiddle, band.width() - 2);
    painter->drawText(band, Qt::AlignCenter | Qt::TextSingleLine, label);
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(kSelectedFrame, 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(band.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

QSize AlbumRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    return QSize(242, index.data(HeadingRole).toBool() ? kHeadingHeight : kRowHeight);
}

void AlbumRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect r = option.rect;
    if (index.data(HeadingRole).toBool()) {
        // The heading bitmap over the whole row.
        QLinearGradient shade(r.topLeft(), r.bottomLeft());
        shade.setColorAt(0, QColor(0x5b, 0x7f, 0xb0));
        shade.setColorAt(1, QColor(0x3f, 0x62, 0x94));
        painter->fillRect(r, shade);
        painter->setPen(Qt::white);
        QFont font = option.font;
        font.setBold(true);
        painter->setFont(font);
        painter->drawText(QRect(r.left() + 10, r.top(), 40, r.height()), Qt::AlignVCenter, tr("No."));
        painter->drawText(QRect(r.left() + 96, r.top(), r.width() - 100, r.height()), Qt::AlignVCenter, tr("Album"));
        painter->restore();
        return;
    }
    const bool selected = option.state & QStyle::State_Selected;
    // The 230 x 45 row bitmap, selected or normal.
    const QRect row(r.left() + 6, r.top() + 2, 230, 45);
    painter->setPen(selected ? QColor(0x3a, 0x7b, 0xd5) : QColor(0xd9, 0xd3, 0xc4));
    painter->setBrush(selected ? QColor(0xdc, 0xe9, 0xfa) : QColor(Qt::white));
    painter->drawRoundedRect(QRectF(row).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    // The cover's slide thumbnail stretched into 38 x 44.
    const QImage cover = index.data(ThumbnailRole).value<QImage>();
    const QRect coverBox(r.left() + 32, r.top() + 3, 38, 44);
    if (!cover.isNull()) {
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->drawImage(coverBox, cover);
    } else {
        painter->fillRect(coverBox, QColor(0xee, 0xea, 0xe0));
    }
    const int shift = selected ? 1 : 0;
    painter->setPen(Qt::black);
    const QFontMetrics metrics(option.font);
    auto draw = [&](const QRect& box, const QString& text) {
        const QRect moved = box.translated(shift, shift);
        painter->drawText(moved, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          metrics.elidedText(text, Qt::ElideRight, moved.width()));
    };
    const int number = index.data(AlbumNumberRole).toInt();
    draw(QRect(QPoint(r.left() + 14, r.top() + 12), QPoint(r.left() + 36, r.bottom() - 9)),
         QString::asprintf("%02d", number));
    // The text boxes reach to the row bitmap's right edge: 98 pixels cut most names short.
    const QRect nameBox(r.left() + 96, r.top() + 7, row.right() - 4 - (r.left() + 96), 14);
    draw(nameBox, QStringLiteral("Name: %1").arg(index.data(Qt::DisplayRole).toString()));
    draw(QRect(QPoint(nameBox.left(), nameBox.bottom() + 1 + 5), QPoint(nameBox.right(), r.bottom() - 9)),
         QString::asprintf("Total Photos: %02d", index.data(PictureCountRole).toInt()));
    painter->restore();
}

SlideListView::SlideListView(QWidget* parent) : QListView(parent)
{
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setGridSize(kSlideListFrame.cell);
    setUniformItemSizes(true);
}

int SlideListView::DropTarget(const QPoint& point) const
{
    const QModelIndex under = indexAt(point + QPoint(0, 10));
    return under.isValid() ? under.row() : model()->rowCount();
}

namespace {

bool Accepted(const QMimeData* mime)
{
    return mime->hasFormat(QString::fromLatin1(kSlideListMimeType)) ||
           mime->hasFormat(QString::fromLatin1(kFileListMimeType)) || mime->hasUrls();
}

} // namespace

void SlideListView::dragEnterEvent(QDragEnterEvent* event)
{
    if (Accepted(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void SlideListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (Accepted(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void SlideListView::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(QString::fromLatin1(kSlideListMimeType))) {
        QList<int> rows;
        const QList<QByteArray> parts = mime->data(QString::fromLatin1(kSlideListMimeType)).split(',');
        for (const QByteArray& part : parts) {
            bool ok = false;
            const int row = part.toInt(&ok);
            if (ok)
                rows << row;
        }
        // Slides are moved by the project; the view itself changes nothing.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        emit slidesDropped(rows, DropTarget(event->position().toPoint()));
        return;
    }
    if (mime->hasFormat(QString::fromLatin1(kFileListMimeType))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        emit filesDropped(QString::fromUtf8(mime->data(QString::fromLatin1(kFileListMimeType)))
                              .split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                          DropTarget(event->position().toPoint()));
        return;
    }
    if (mime->hasUrls()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        emit urlsDropped(mime->urls(), DropTarget(event->position().toPoint()));
        return;
    }
    event->ignore();
}

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// How the album editor's lists are drawn and what they accept when something is dropped
// on them: the framed thumbnails of the file list and the slide list, the album list's
// rows, and the slide list's drop handling.

#include <QListView>
#include <QStyledItemDelegate>
#include <QUrl>

namespace lumivox::ui {

// A framed thumbnail with its label below, in a fixed cell.
struct ThumbnailFrame {
    int frameWidth; // the frame bitmap
    int frameHeight;
    int thumbnailInset; // thumbnail at frame position + placement + this
    QSize cell; // icon spacing
};
// File list: 78 x 78 frames, thumbnail inset 7. The cells are wider than the frames so
// that a camera file name ("IMG_20240612_1830.jpg") reads whole under its picture.
inline constexpr ThumbnailFrame kFileListFrame{78, 78, 7, QSize(132, 98)};
// Slide list: 112 x 86 frames, thumbnail inset 4, spacing 116 x 106.
inline constexpr ThumbnailFrame kSlideListFrame{112, 86, 4, QSize(116, 106)};

class ThumbnailDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    ThumbnailDelegate(const ThumbnailFrame& frame, QObject* parent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    ThumbnailFrame frame_;
};

// Album list rows: the 35-pixel heading row and 51-pixel album rows.
class AlbumRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int kHeadingHeight = 35;
    static constexpr int kRowHeight = 51;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The slide list: slides dragged inside it move, files dragged from the file list or
// dropped from the desktop are added.
class SlideListView final : public QListView {
    Q_OBJECT
public:
    explicit SlideListView(QWidget* parent);
    // The row slides dropped at point go before: the item 10 pixels below the point, or
    // the end of the list when there is none.
    int DropTarget(const QPoint& point) const;

signals:
    void slidesDropped(const QList<int>& rows, int target);
    // Files dropped go before the slide at target (at the end when target is the count).
    void filesDropped(const QStringList& paths, int target);
    void urlsDropped(const QList<QUrl>& urls, int target);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

} // namespace lumivox::ui

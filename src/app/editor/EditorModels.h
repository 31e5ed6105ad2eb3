// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The item models of the album editor page. The album list and the slide list wrap the
// project (AlbumTable) and follow it through the project bridge's row announcements; the
// file list holds the rows of the folder shown, with thumbnails made by a worker thread.

#include "project/AlbumTable.h"
#include "project/ThumbnailWorker.h"

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QStringList>

#include <memory>
#include <mutex>
#include <vector>

namespace lumivox::ui {

class ProjectBridge;

// Roles the editor's delegates draw from.
enum EditorRole {
    ThumbnailRole = Qt::UserRole + 1, // QImage: the row's thumbnail (null when none)
    PlacementRole, // QRect: where the thumbnail sits in its box
    PathRole, // QString: the file's full path
    AlbumNumberRole, // int: the album's number from 1 (album list)
    PictureCountRole, // int: the album's picture count (album list)
    HeadingRole, // bool: the album list's heading row
    LabelRole, // QString: the slide's label, its position "%02d"
    UnreadableRole, // bool: the file list's file cannot be decoded
};

// Mime type of the editor's own drags: full paths, one a line.
inline constexpr const char* kFileListMimeType = "application/x-lumivox-files";
inline constexpr const char* kSlideListMimeType = "application/x-lumivox-slides";

// Whether a file name ends in ".jpg", ".jpeg", ".tif", ".tiff", ".bmp", ".pcx", ".png",
// ".webp", ".heic", ".heif" or ".hif" in any letter case: the files the editor lists and
// accepts when dropped.
bool IsEditorPictureName(const QString& fileName);

// "%s KB" with the size in kilobytes rounded up and digits grouped by three with ",".
QString FileSizeText(qint64 bytes);
// "%d-%02d-%02d %02d:%02d" in local time.
QString FileDateText(const QDateTime& time);

// The file list: one row per picture file of the folder shown, columns "Name", "Size",
// "Type", "Modified".
class FileListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NameColumn, SizeColumn, TypeColumn, ModifiedColumn, ColumnCount };

    // cache must outlive the model.
    FileListModel(ThumbnailCache& cache, QObject* parent = nullptr);
    ~FileListModel() override;

    // Stops the thumbnail worker (no result of the old folder is shown after this),
    // lists the folder's picture files and starts a worker on them. An empty or
    // unreadable folder gives an empty list.
    void SetFolder(const QString& folder);
    QString Folder() const { return folder_; }
    // Stops the worker without changing the list.
    void StopThumbnails();
    bool IsMakingThumbnails() const { return busy_; }
    // Replaces the reduced-mode picture reader of the worker (tests).
    void SetDecoder(PictureDecoder decoder);
    // Results of an earlier folder that arrived after it was left and were dropped.
    int DroppedResults() const { return dropped_; }
    unsigned Generation() const { return generation_; }

    QString PathAt(int row) const;
    QStringList Paths() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    // Names, types and dates compare without regard to letter case, sizes by value.
    void sort(int column, Qt::SortOrder order) override;

signals:
    // The worker went through the whole list of the folder shown.
    void thumbnailsFinished();

private:
    struct Row {
        QString path;
        QString name;
        qint64 bytes = 0;
        QString type;
        QString date;
        QImage thumbnail;
        QRect placement;
        bool unreadable = false; // the thumbnail worker could not decode the file
    };
    // Results wait here for the user-interface thread, which takes them in batches: one
    // queued call and one dataChanged per batch, so that thousands of small thumbnails
    // do not keep the event loop from timers and input.
    struct Result {
        unsigned generation;
        QString path;
        QImage image;
        QRect placement;
    };
    struct Inbox {
        std::mutex mutex;
        std::vector<Result> results;
        bool posted = false;
    };
    void TakeResults();
    void OnFinished(unsigned generation);
    void Reindex();

    ThumbnailCache& cache_;
    std::unique_ptr<ThumbnailWorker> worker_;
    // Workers of folders left, told to stop and not waited for; reaped once ended.
    std::vector<std::unique_ptr<ThumbnailWorker>> leftWorkers_;
    PictureDecoder decoder_;
    QString folder_;
    std::vector<Row> rows_;
    QHash<QString, int> rowOfPath_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    mutable QIcon fileIcon_;
    unsigned generation_ = 0;
    bool busy_ = false;
    int dropped_ = 0;
};

// The album list: row 0 is the heading row, row k + 1 is album k.
class AlbumListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    AlbumListModel(AlbumTable& project, ProjectBridge& bridge, QObject* parent = nullptr);

    // The heading row's list text: "Slide No.1" at first, "Album Title" once the project
    // has been emptied.
    QString HeadingText() const { return heading_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void AlbumRowsChanged(int firstAlbum, int lastAlbum);

    AlbumTable& project_;
    QString heading_;
};

// The slide list: the pictures of the current album, labelled "%02d" from 01 (LabelRole;
// the display text is the file's name, which stays with the row when slides move).
class SlideListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    SlideListModel(AlbumTable& project, ProjectBridge& bridge, QObject* parent = nullptr);

    // The album shown, -1 for none.
    int Album() const { return album_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction | Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction | Qt::CopyAction; }

private:
    void Show(int album);
    void LabelsChanged();

    AlbumTable& project_;
    int album_ = -1;
    bool resetting_ = false;
};

} // namespace lumivox::ui

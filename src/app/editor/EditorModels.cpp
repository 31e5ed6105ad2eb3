// SPDX-License-Identifier: GPL-2.0-or-later
#include "editor/EditorModels.h"

#include "logic/QueuedCall.h"
#include "picture/QtImage.h"
#include "services/ProjectBridge.h"

#include <QApplication>
#include <QCollator>
#include <QStyle>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLocale>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QUrl>

#include <algorithm>

namespace lumivox::ui {

namespace {

QRect ToRect(const ThumbnailPlacement& placement)
{
    return QRect(placement.x, placement.y, placement.width, placement.height);
}

// The stand-in for a picture whose file is missing: the thumbnail box, dashed, with a
// question mark, so that a missing picture is seen at a glance and never taken for a
// black photo.
QImage MissingImage()
{
    QImage image(kSlideThumbnailWidth, kSlideThumbnailHeight, QImage::Format_RGB32);
    image.fill(QColor(0xE4, 0xE4, 0xE4));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 2, Qt::DashLine));
    painter.drawRect(image.rect().adjusted(2, 2, -3, -3));
    QFont font = QApplication::font();
    font.setPixelSize(kSlideThumbnailHeight / 2);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

QImage SlideImage(const PictureItem& picture)
{
    if (picture.missing) {
        static const QImage missing = MissingImage();
        return missing;
    }
    return picture.slideThumbnail ? ToQImage(*picture.slideThumbnail, PixelAlpha::Ignore) : QImage();
}

} // namespace

bool IsEditorPictureName(const QString& fileName)
{
    static const char* const kExtensions[] = {".jpg", ".tif",  ".bmp",  ".pcx",  ".jpeg", ".tiff",
                                              ".png", ".webp", ".heic", ".heif", ".hif"};
    for (const char* extension : kExtensions)
        if (fileName.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            return true;
    return false;
}

QString FileSizeText(qint64 bytes)
{
    const qint64 kilobytes = (std::max<qint64>(bytes, 0) + 1023) / 1024;
    QString digits = QString::number(kilobytes);
    for (int at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits + QStringLiteral(" KB");
}

QString FileDateText(const QDateTime& time)
{
    const QDateTime local = time.toLocalTime();
    return QString::asprintf("%d-%02d-%02d %02d:%02d", local.date().year(), local.date().month(), local.date().day(),
                             local.time().hour(), local.time().minute());
}

// ----- File list -----

FileListModel::FileListModel(ThumbnailCache& cache, QObject* parent) : QAbstractTableModel(parent), cache_(cache)
{
    worker_ = std::make_unique<ThumbnailWorker>(cache_);
}

FileListModel::~FileListModel()
{
    StopThumbnails();
    leftWorkers_.clear(); // each was told to stop; they end after the file they are on
}

void FileListModel::SetDecoder(PictureDecoder decoder)
{
    StopThumbnails();
    decoder_ = std::move(decoder);
    worker_ = std::make_unique<ThumbnailWorker>(cache_, decoder_);
}

void FileListModel::StopThumbnails()
{
    if (worker_)
        worker_->Stop();
    busy_ = false;
}

void FileListModel::SetFolder(const QString& folder)
{
    // The worker of the folder left is told to stop but not waited for (it may be in the
    // middle of decoding a large file on a slow disc): it has its own copy of the paths, it
    // ends after the file it is on, and what it still posts carries the old generation and
    // is dropped on arrival. A fresh worker takes the new folder.
    if (worker_ && worker_->IsRunning() && !worker_->HasEnded()) {
        worker_->RequestStop();
        leftWorkers_.push_back(std::move(worker_));
        worker_ = std::make_unique<ThumbnailWorker>(cache_, decoder_);
    }
    std::erase_if(leftWorkers_, [](const std::unique_ptr<ThumbnailWorker>& w) { return w->HasEnded(); });
    StopThumbnails();
    ++generation_;
    beginResetModel();
    rows_.clear();
    folder_ = folder;
    const QDir dir(folder);
    const QFileInfoList entries =
        folder.isEmpty() ? QFileInfoList() : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    QMimeDatabase mimes;
    for (const QFileInfo& info : entries) {
        if (!IsEditorPictureName(info.fileName()))
            continue;
        Row row;
        row.path = info.absoluteFilePath();
        row.name = info.fileName();
        row.bytes = info.size();
        row.type = mimes.mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
        row.date = FileDateText(info.lastModified());
        rows_.push_back(std::move(row));
    }
    Reindex();
    endResetModel();

    if (rows_.empty())
        return;
    busy_ = true;
    const unsigned generation = generation_;
    // The worker's row numbers are those of the list as filled, while the user may sort
    // it: results name their file by path.
    std::vector<std::string> paths;
    QStringList order;
    paths.reserve(rows_.size());
    for (const Row& row : rows_) {
        paths.push_back(row.path.toStdString());
        order << row.path;
    }
    // The sinks run on the worker thread: they only turn the bitmap into a QImage value
    // and queue it to this model, which the user-interface thread owns.
    worker_->Start(
        std::move(paths), generation,
        [this, order, inbox = inbox_](unsigned gen, int row, std::shared_ptr<const PicBitmap> thumbnail,
                                      ThumbnailPlacement placement) {
            Result result{gen, order.value(row), thumbnail ? ToQImage(*thumbnail, PixelAlpha::Ignore) : QImage(),
                          ToRect(placement)};
            std::lock_guard lock(inbox->mutex);
            inbox->results.push_back(std::move(result));
            if (!inbox->posted) {
                inbox->posted = true;
                PostQueued(this, [this] { TakeResults(); });
            }
        },
        [this](unsigned gen, bool stopped) {
            if (!stopped)
                PostQueued(this, [this, gen] { OnFinished(gen); });
        });
}

void FileListModel::TakeResults()
{
    std::vector<Result> results;
    {
        std::lock_guard lock(inbox_->mutex);
        results.swap(inbox_->results);
        inbox_->posted = false;
    }
    int first = -1;
    int last = -1;
    for (Result& result : results) {
        if (result.generation != generation_) {
            ++dropped_; // a late result of a folder that is no longer shown
            continue;
        }
        const auto found = rowOfPath_.constFind(result.path);
        if (found == rowOfPath_.constEnd())
            continue;
        Row& row = rows_[static_cast<std::size_t>(*found)];
        // A file that does not decode is marked with a warning sign in its thumbnail box
        // and says why in its tooltip, before the user tries to add it.
        row.unreadable = result.image.isNull();
        if (row.unreadable) {
            constexpr int kMark = 32;
            row.thumbnail = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(kMark).toImage();
            row.placement = QRect((kSmallThumbnailSize - kMark) / 2, (kSmallThumbnailSize - kMark) / 2, kMark, kMark);
        } else {
            row.thumbnail = std::move(result.image);
            row.placement = result.placement;
        }
        first = first < 0 ? *found : std::min(first, *found);
        last = std::max(last, *found);
    }
    if (first >= 0)
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1), {ThumbnailRole, PlacementRole});
}

void FileListModel::OnFinished(unsigned generation)
{
    if (generation != generation_)
        return;
    TakeResults();
    busy_ = false;
    emit thumbnailsFinished();
}

void FileListModel::Reindex()
{
    rowOfPath_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rowOfPath_.insert(rows_[i].path, static_cast<int>(i));
}

QString FileListModel::PathAt(int row) const
{
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(row)].path : QString();
}

QStringList FileListModel::Paths() const
{
    QStringList paths;
    for (const Row& row : rows_)
        paths << row.path;
    return paths;
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::ToolTipRole:
        if (row.unreadable)
            return tr("%1\nThis file cannot be read as a picture.").arg(row.name);
        [[fallthrough]];
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return row.name;
        case SizeColumn:
            return FileSizeText(row.bytes);
        case TypeColumn:
            return row.type;
        case ModifiedColumn:
            return row.date;
        }
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case Qt::DecorationRole:
        if (index.column() != NameColumn)
            return {};
        if (fileIcon_.isNull())
            fileIcon_ = QFileIconProvider().icon(QAbstractFileIconProvider::File);
        return fileIcon_;
    case Qt::ForegroundRole:
        return row.unreadable ? QVariant(QApplication::palette().brush(QPalette::Disabled, QPalette::Text))
                              : QVariant();
    case Qt::AccessibleDescriptionRole:
        return row.unreadable ? tr("cannot be read as a picture") : QVariant();
    case UnreadableRole:
        return row.unreadable;
    case ThumbnailRole:
        return row.thumbnail;
    case PlacementRole:
        return row.placement;
    case PathRole:
        return row.path;
    }
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return tr("Name");
    case SizeColumn:
        return tr("Size");
    case TypeColumn:
        return tr("Type");
    case ModifiedColumn:
        return tr("Modified");
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.isValid() ? base | Qt::ItemIsDragEnabled : base;
}

QStringList FileListModel::mimeTypes() const
{
    return {QString::fromLatin1(kFileListMimeType), QStringLiteral("text/uri-list")};
}

QMimeData* FileListModel::mimeData(const QModelIndexList& indexes) const
{
    QList<int> rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid() && !rows.contains(index.row()))
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList paths;
    QList<QUrl> urls;
    for (int row : rows) {
        paths << PathAt(row);
        urls << QUrl::fromLocalFile(PathAt(row));
    }
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kFileListMimeType), paths.join(QLatin1Char('\n')).toUtf8());
    mime->setUrls(urls);
    return mime;
}

void FileListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<QString> beforePaths;
    for (const QModelIndex& index : before)
        beforePaths << PathAt(index.row());
    auto text = [column](const Row& row) -> const QString& {
        return column == NameColumn ? row.name : column == TypeColumn ? row.type : row.date;
    };
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
        const bool less =
            column == SizeColumn ? a.bytes < b.bytes : QString::compare(text(a), text(b), Qt::CaseInsensitive) < 0;
        const bool greater =
            column == SizeColumn ? b.bytes < a.bytes : QString::compare(text(b), text(a), Qt::CaseInsensitive) < 0;
        return order == Qt::AscendingOrder ? less : greater;
    });
    Reindex();
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i)
        after << index(rowOfPath_.value(beforePaths[i]), before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// ----- Album list -----

AlbumListModel::AlbumListModel(AlbumTable& project, ProjectBridge& bridge, QObject* parent)
    : QAbstractListModel(parent), project_(project), heading_(QStringLiteral("Slide No.1"))
{
    connect(&bridge, &ProjectBridge::aboutToInsertAlbums, this,
            [this](int first, int last) { beginInsertRows({}, first + 1, last + 1); });
    connect(&bridge, &ProjectBridge::albumsInserted, this, [this] { endInsertRows(); });
    connect(&bridge, &ProjectBridge::aboutToRemoveAlbums, this,
            [this](int first, int last) { beginRemoveRows({}, first + 1, last + 1); });
    connect(&bridge, &ProjectBridge::albumsRemoved, this, [this] { endRemoveRows(); });
    connect(&bridge, &ProjectBridge::aboutToReset, this, [this] { beginResetModel(); });
    connect(&bridge, &ProjectBridge::resetDone, this, [this] {
        if (project_.AlbumCount() == 0)
            heading_ = QStringLiteral("Album Title");
        endResetModel();
    });
    connect(&bridge, &ProjectBridge::albumChanged, this, [this](int album) { AlbumRowsChanged(album, album); });
    connect(&bridge, &ProjectBridge::picturesChanged, this, [this](int album) { AlbumRowsChanged(album, album); });
    connect(&bridge, &ProjectBridge::albumListChanged, this,
            [this] { AlbumRowsChanged(0, project_.AlbumCount() - 1); });
}

void AlbumListModel::AlbumRowsChanged(int firstAlbum, int lastAlbum)
{
    firstAlbum = std::max(firstAlbum, 0);
    lastAlbum = std::min(lastAlbum, project_.AlbumCount() - 1);
    if (firstAlbum > lastAlbum)
        return;
    emit dataChanged(index(firstAlbum + 1), index(lastAlbum + 1));
}

int AlbumListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : project_.AlbumCount() + 1;
}

QVariant AlbumListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (index.row() == 0) {
        if (role == Qt::DisplayRole)
            return heading_;
        if (role == HeadingRole)
            return true;
        return {};
    }
    const int album = index.row() - 1;
    const AlbumInfo& info = project_.Album(album);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return QString::fromStdString(info.name);
    case Qt::ToolTipRole:
        return tr("%1\n%2, %3 s each")
            .arg(QString::fromStdString(info.name),
                 info.PictureCount() == 1 ? tr("1 picture") : tr("%1 pictures").arg(info.PictureCount()))
            .arg(info.waitTime);
    case HeadingRole:
        return false;
    case Qt::AccessibleTextRole:
        return tr("Album %1 of %2: %3, %4")
            .arg(album + 1)
            .arg(project_.AlbumCount())
            .arg(QString::fromStdString(info.name),
                 info.PictureCount() == 1 ? tr("1 picture") : tr("%1 pictures").arg(info.PictureCount()));
    case AlbumNumberRole:
        return album + 1;
    case PictureCountRole:
        return info.PictureCount();
    case ThumbnailRole:
        return info.Cover() ? SlideImage(*info.Cover()) : QImage();
    case PlacementRole:
        return info.Cover() ? ToRect(info.Cover()->slidePlacement) : QRect();
    }
    return {};
}

// ----- Slide list -----

SlideListModel::SlideListModel(AlbumTable& project, ProjectBridge& bridge, QObject* parent)
    : QAbstractListModel(parent), project_(project)
{
    album_ = project_.CurrentAlbum() < project_.AlbumCount() ? project_.CurrentAlbum() : -1;
    connect(&bridge, &ProjectBridge::currentAlbumChanged, this, &SlideListModel::Show);
    connect(&bridge, &ProjectBridge::aboutToInsertPictures, this, [this](int album, int first, int last) {
        if (album == album_)
            beginInsertRows({}, first, last);
    });
    connect(&bridge, &ProjectBridge::picturesInserted, this, [this](int album) {
        if (album == album_) {
            endInsertRows();
            LabelsChanged();
        }
    });
    connect(&bridge, &ProjectBridge::aboutToRemovePictures, this, [this](int album, int first, int last) {
        if (album == album_)
            beginRemoveRows({}, first, last);
    });
    connect(&bridge, &ProjectBridge::picturesRemoved, this, [this](int album) {
        if (album == album_) {
            endRemoveRows();
            LabelsChanged();
        }
    });
    connect(&bridge, &ProjectBridge::aboutToMovePictures, this, [this](int album, int first, int last, int to) {
        if (album == album_)
            beginMoveRows({}, first, last, {}, to);
    });
    connect(&bridge, &ProjectBridge::picturesMoved, this, [this](int album) {
        if (album == album_) {
            endMoveRows();
            LabelsChanged();
        }
    });
    connect(&bridge, &ProjectBridge::picturesChanged, this, [this](int album) {
        if (album == album_)
            LabelsChanged();
    });
    // Albums removed before or at the one shown shift it: the rows are reset until the
    // project names its new current album.
    connect(&bridge, &ProjectBridge::aboutToRemoveAlbums, this, [this](int first, int) {
        if (album_ >= first) {
            beginResetModel();
            resetting_ = true;
        }
    });
    connect(&bridge, &ProjectBridge::albumsRemoved, this, [this](int first, int last) {
        if (!resetting_)
            return;
        album_ = album_ > last ? album_ - (last - first + 1) : -1;
        resetting_ = false;
        endResetModel();
    });
    connect(&bridge, &ProjectBridge::aboutToReset, this, [this] {
        beginResetModel();
        resetting_ = true;
    });
    connect(&bridge, &ProjectBridge::resetDone, this, [this] {
        album_ = -1;
        resetting_ = false;
        endResetModel();
    });
}

void SlideListModel::Show(int album)
{
    if (album >= project_.AlbumCount())
        album = -1;
    if (album == album_)
        return;
    beginResetModel();
    album_ = album;
    endResetModel();
}

void SlideListModel::LabelsChanged()
{
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1));
}

int SlideListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || album_ < 0 || album_ >= project_.AlbumCount())
        return 0;
    return project_.PictureCount(album_);
}

QVariant SlideListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const PictureItem& picture = project_.Picture(album_, index.row());
    switch (role) {
    case Qt::DisplayRole:
        return QFileInfo(QString::fromStdString(picture.path)).fileName();
    case LabelRole:
        return QString::fromStdString(AlbumTable::SlideLabel(index.row()));
    case Qt::AccessibleTextRole:
        return tr("Slide %1 of %2: %3")
                   .arg(index.row() + 1)
                   .arg(rowCount())
                   .arg(QFileInfo(QString::fromStdString(picture.path)).fileName()) +
               (picture.missing ? tr(" (missing)") : QString());
    case Qt::ToolTipRole:
        if (picture.missing)
            return tr("%1\nThe file is missing. The picture stays in its album and is left off a disc made "
                      "meanwhile; use \"Find Missing Pictures...\" in the Edit menu if it was moved.")
                .arg(QString::fromStdString(picture.path));
        return picture.rotated
                   ? tr("%1\nturned %2° clockwise").arg(QString::fromStdString(picture.path)).arg(picture.rotation)
                   : QString::fromStdString(picture.path);
    case ThumbnailRole:
        return SlideImage(picture);
    case PlacementRole:
        return picture.missing ? QRect(0, 0, kSlideThumbnailWidth, kSlideThumbnailHeight)
                               : ToRect(picture.slidePlacement);
    case PathRole:
        return QString::fromStdString(picture.path);
    }
    return {};
}

Qt::ItemFlags SlideListModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractListModel::flags(index);
    return index.isValid() ? base | Qt::ItemIsDragEnabled : base | Qt::ItemIsDropEnabled;
}

QStringList SlideListModel::mimeTypes() const
{
    return {QString::fromLatin1(kSlideListMimeType), QString::fromLatin1(kFileListMimeType),
            QStringLiteral("text/uri-list")};
}

QMimeData* SlideListModel::mimeData(const QModelIndexList& indexes) const
{
    QStringList rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid())
            rows << QString::number(index.row());
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kSlideListMimeType), rows.join(QLatin1Char(',')).toUtf8());
    return mime;
}

} // namespace lumivox::ui

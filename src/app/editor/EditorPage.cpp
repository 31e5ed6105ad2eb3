// SPDX-License-Identifier: GPL-2.0-or-later
#include "editor/EditorPage.h"

#include "logic/CoreText.h"

#include "editor/EditorDialogs.h"
#include "editor/EditorModels.h"
#include "editor/EditorViews.h"
#include "logic/PictureAdder.h"
#include "project/Settings.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/ProjectBridge.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListView>
#include <QMainWindow>
#include <QStatusBar>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QSplitter>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace lumivox::ui {

namespace {

// Both splitter boundaries keep at least this much on either side.
constexpr int kMinimumPane = 160;
// Buttons below the top band: 80 x 26, at 82-pixel steps.
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kButtonStep = 82;

QList<int> SortedRows(const QModelIndexList& indexes)
{
    QList<int> rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid() && !rows.contains(index.row()))
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<int> ToVector(const QList<int>& rows)
{
    return std::vector<int>(rows.begin(), rows.end());
}

QString StartFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

} // namespace

EditorPage::EditorPage(AppServices& services, QWidget* parent)
    : Page(services, parent), cache_(std::make_unique<ThumbnailCache>())
{
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);

    bandSplitter_ = new QSplitter(Qt::Vertical, this);
    bandSplitter_->setObjectName(QStringLiteral("bandSplitter"));
    bandSplitter_->setChildrenCollapsible(false);
    topSplitter_ = new QSplitter(Qt::Horizontal, bandSplitter_);
    topSplitter_->setObjectName(QStringLiteral("topSplitter"));
    topSplitter_->setChildrenCollapsible(false);
    topSplitter_->setMinimumHeight(kMinimumPane);

    // The folder tree: directories only, filled lazily as nodes are expanded.
    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    folders_->setRootPath(QDir::rootPath());
    tree_ = new QTreeView(topSplitter_);
    tree_->setObjectName(QStringLiteral("folderTree"));
    tree_->setModel(folders_);
    for (int column = 1; column < folders_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->setHeaderHidden(true);
    tree_->setMinimumWidth(kMinimumPane);
    tree_->setToolTip(tr("Folders: choose one to list its pictures"));
    tree_->setAccessibleName(tr("Folders"));
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (current.isValid())
            ShowFolder(folders_->filePath(current));
    });

    // Folders load in the background: the chosen one is scrolled into view once its
    // parents are there.
    // A folder chosen by the program (at start, or the samples) is kept in view while the
    // tree loads and sorts its parents, until the user works in the tree.
    auto reveal = [this] {
        if (!revealFolder_)
            return;
        QTimer::singleShot(0, tree_, [this] {
            if (revealFolder_ && tree_->currentIndex().isValid())
                tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
        });
    };
    connect(folders_, &QFileSystemModel::directoryLoaded, this, reveal);
    connect(folders_, &QAbstractItemModel::layoutChanged, this, reveal);
    connect(folders_, &QAbstractItemModel::rowsInserted, this, reveal);
    connect(tree_, &QTreeView::clicked, this, [this] { revealFolder_ = false; });
    connect(tree_->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { revealFolder_ = false; });
    connect(tree_, &QTreeView::collapsed, this, [this] { revealFolder_ = false; });

    fileModel_ = new FileListModel(*cache_, this);
    BuildFileViews();
    topSplitter_->addWidget(tree_);
    topSplitter_->addWidget(fileStack_);
    topSplitter_->setStretchFactor(1, 1);

    auto* lower = new QWidget(bandSplitter_);
    lower->setMinimumHeight(kMinimumPane + kButtonHeight + 10);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 10, 0, 0);
    auto* buttonRow = new QWidget(lower);
    BuildButtons(buttonRow);
    lowerLayout->addWidget(buttonRow);
    bottomSplitter_ = new QSplitter(Qt::Horizontal, lower);
    bottomSplitter_->setObjectName(QStringLiteral("bottomSplitter"));
    bottomSplitter_->setChildrenCollapsible(false);

    albumModel_ = new AlbumListModel(services_.Project(), services_.Bridge(), this);
    albumList_ = new QListView(bottomSplitter_);
    albumList_->setObjectName(QStringLiteral("albumView"));
    albumList_->setModel(albumModel_);
    albumList_->setItemDelegate(new AlbumRowDelegate(albumList_));
    albumList_->setSelectionMode(QAbstractItemView::SingleSelection);
    albumList_->setMinimumWidth(kMinimumPane);
    albumList_->setAccessibleName(tr("Albums"));
    albumList_->setAccessibleDescription(tr("The albums of the disc; Delete removes the selected album."));
    albumList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(albumList_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ContextMenu(albumList_, at); });
    connect(albumList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { OnAlbumSelected(current.isValid() ? current.row() : -1); });
    connect(albumList_, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.row() > 0)
            RenameAlbum();
    });

    slideModel_ = new SlideListModel(services_.Project(), services_.Bridge(), this);
    slideList_ = new SlideListView(bottomSplitter_);
    slideList_->setModel(slideModel_);
    slideList_->setItemDelegate(new ThumbnailDelegate(kSlideListFrame, slideList_));
    slideList_->setMinimumWidth(kMinimumPane);
    slideList_->setAccessibleName(tr("Slides"));
    slideList_->setAccessibleDescription(tr("The pictures of the current album in play order; Delete removes "
                                            "the selected pictures."));
    slideList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(slideList_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ContextMenu(slideList_, at); });
    connect(slideList_, &QListView::doubleClicked, this, [this] { ViewSelectedSlide(); });
    connect(slideList_, &SlideListView::slidesDropped, this, &EditorPage::MoveSlides);
    connect(slideList_, &SlideListView::filesDropped, this,
            [this](const QStringList& paths, int target) { AddFiles(paths, PictureSource::FileList, target); });
    connect(slideList_, &SlideListView::urlsDropped, this, &EditorPage::DropUrls);
    bottomSplitter_->addWidget(albumList_);
    bottomSplitter_->addWidget(slideList_);
    bottomSplitter_->setStretchFactor(1, 1);
    lowerLayout->addWidget(bottomSplitter_, 1);

    bandSplitter_->addWidget(topSplitter_);
    bandSplitter_->addWidget(lower);
    bandSplitter_->setStretchFactor(0, 3);
    bandSplitter_->setStretchFactor(1, 2);
    layout->addWidget(bandSplitter_);
    topSplitter_->setSizes({260, 740});
    bottomSplitter_->setSizes({260, 740});
    connect(topSplitter_, &QSplitter::splitterMoved, this, [this] { SyncSplitters(topSplitter_); });
    connect(bottomSplitter_, &QSplitter::splitterMoved, this, [this] { SyncSplitters(bottomSplitter_); });

    adder_ = new PictureAdder(this);
    connect(adder_, &PictureAdder::finished, this, &EditorPage::OnAdded);
    // The album being added to may go away (or move up) before the pictures arrive.
    connect(&services_.Bridge(), &ProjectBridge::albumsRemoved, this, [this](int first, int last) {
        if (addAlbum_ >= first)
            addAlbum_ = addAlbum_ > last ? addAlbum_ - (last - first + 1) : -1;
    });
    connect(&services_.Bridge(), &ProjectBridge::aboutToReset, this, [this] { addAlbum_ = -1; });

    connect(&services_.Bridge(), &ProjectBridge::currentAlbumChanged, this, &EditorPage::ShowCurrentAlbum);
    connect(albumModel_, &QAbstractItemModel::modelReset, this,
            [this] { ShowCurrentAlbum(services_.Project().CurrentAlbum()); });

    // Buttons that cannot act are disabled rather than answering with a message box.
    for (QItemSelectionModel* selection :
         {albumList_->selectionModel(), slideList_->selectionModel(), fileIcons_->selectionModel()})
        connect(selection, &QItemSelectionModel::selectionChanged, this, &EditorPage::UpdateButtons);
    for (QAbstractItemModel* model : std::initializer_list<QAbstractItemModel*>{fileModel_, albumModel_, slideModel_}) {
        connect(model, &QAbstractItemModel::modelReset, this, &EditorPage::UpdateButtons);
        connect(model, &QAbstractItemModel::rowsInserted, this, &EditorPage::UpdateButtons);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &EditorPage::UpdateButtons);
    }

    const int stored = services_.UserSettings().listStyle;
    SetListStyle(static_cast<ListStyle>(std::clamp(stored, 0, kMaxListStyle)));
    ShowCurrentAlbum(services_.Project().CurrentAlbum());
    ShowFolder(StartFolder());
    UpdateButtons();
}

void EditorPage::UpdateButtons()
{
    const bool album = SelectedAlbumRow() > 0;
    const bool slides = slideList_->selectionModel()->hasSelection();
    buttons_.at(EditorButton::DeleteAlbum)->setEnabled(album);
    buttons_.at(EditorButton::AlbumProperties)->setEnabled(album);
    buttons_.at(EditorButton::AddSelected)->setEnabled(fileIcons_->selectionModel()->hasSelection());
    buttons_.at(EditorButton::AddAll)->setEnabled(fileModel_->rowCount() > 0);
    for (EditorButton id : {EditorButton::RemoveSlides, EditorButton::RotateClockwise,
                            EditorButton::RotateCounterClockwise, EditorButton::ViewPicture})
        buttons_.at(id)->setEnabled(slides);
}

EditorPage::~EditorPage()
{
    fileModel_->StopThumbnails();
}

void EditorPage::BuildFileViews()
{
    fileStack_ = new QStackedWidget(topSplitter_);
    fileStack_->setMinimumWidth(kMinimumPane);
    fileIcons_ = new QListView(fileStack_);
    fileIcons_->setModel(fileModel_);
    thumbnailDelegate_ = new ThumbnailDelegate(kFileListFrame, fileIcons_);
    plainDelegate_ = new QStyledItemDelegate(fileIcons_);
    fileDetails_ = new QTreeView(fileStack_);
    fileDetails_->setModel(fileModel_);
    fileDetails_->setSelectionModel(fileIcons_->selectionModel());
    fileDetails_->setRootIsDecorated(false);
    fileDetails_->setUniformRowHeights(true);
    fileDetails_->setAllColumnsShowFocus(true);
    fileDetails_->header()->setSectionsClickable(true);
    fileDetails_->header()->setSortIndicatorShown(true);
    fileDetails_->header()->setSortIndicator(-1, Qt::AscendingOrder);
    fileDetails_->setColumnWidth(FileListModel::NameColumn, 300);
    fileDetails_->setColumnWidth(FileListModel::SizeColumn, 100);
    fileDetails_->setColumnWidth(FileListModel::TypeColumn, 100);
    fileDetails_->setColumnWidth(FileListModel::ModifiedColumn, 200);
    connect(fileDetails_->header(), &QHeaderView::sectionClicked, this, &EditorPage::SortFileList);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(fileIcons_), static_cast<QAbstractItemView*>(fileDetails_)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setAccessibleName(tr("Picture files"));
        view->setAccessibleDescription(tr("The pictures of the chosen folder; a double click adds one."));
        view->setDragEnabled(true);
        view->setDragDropMode(QAbstractItemView::DragOnly);
        view->setDefaultDropAction(Qt::CopyAction);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& at) { ContextMenu(view, at); });
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            AddFiles({fileModel_->PathAt(index.row())}, PictureSource::FileList);
        });
        fileStack_->addWidget(view);
    }
}

namespace {

const char* ButtonName(EditorButton id)
{
    switch (id) {
    case EditorButton::NewAlbum:
        return "newAlbumButton";
    case EditorButton::DeleteAlbum:
        return "deleteAlbumButton";
    case EditorButton::AlbumProperties:
        return "albumPropertiesButton";
    case EditorButton::AddSelected:
        return "addSelectedButton";
    case EditorButton::AddAll:
        return "addAllButton";
    case EditorButton::RemoveSlides:
        return "removeSlidesButton";
    case EditorButton::RotateClockwise:
        return "rotateClockwiseButton";
    case EditorButton::RotateCounterClockwise:
        return "rotateCounterClockwiseButton";
    case EditorButton::ViewPicture:
        return "viewPictureButton";
    }
    return "";
}

} // namespace

QToolButton* EditorPage::AddButton(QWidget* parent, EditorButton id, const QString& text, const QString& tip,
                                   const QString& status, void (EditorPage::*run)())
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(ButtonName(id)));
    button->setText(text);
    button->setToolTip(tip);
    button->setStatusTip(status);
    button->setAccessibleName(text);
    button->setAccessibleDescription(tip);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // At least 80 x 26, wider when a translation needs it.
    button->setMinimumSize(QSize(kButtonWidth, kButtonHeight).expandedTo(button->sizeHint()));
    connect(button, &QToolButton::clicked, this, run);
    buttons_[id] = button;
    return button;
}

void EditorPage::BuildButtons(QWidget* row)
{
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    albumButtons_ = new QWidget(row);
    auto* albumLayout = new QHBoxLayout(albumButtons_);
    albumLayout->setContentsMargins(0, 0, 0, 0);
    albumLayout->setSpacing(kButtonStep - kButtonWidth);
    albumLayout->addWidget(AddButton(albumButtons_, EditorButton::NewAlbum, tr("New"), tr("New SlideShow"),
                                     tr("Create a new slideshow"), &EditorPage::NewAlbum));
    albumLayout->addWidget(AddButton(albumButtons_, EditorButton::DeleteAlbum, tr("Delete"), tr("Delete SlideShow"),
                                     tr("Delete Slideshow"), &EditorPage::DeleteAlbum));
    albumLayout->addWidget(AddButton(albumButtons_, EditorButton::AlbumProperties, tr("Properties"),
                                     tr("Slideshow Property"), tr("Slideshow Property"), &EditorPage::AlbumProperties));
    albumLayout->addStretch(1);
    albumButtons_->setFixedWidth(std::max(260, albumButtons_->minimumSizeHint().width()));
    layout->addWidget(albumButtons_);
    const QString addTip = tr("Add Pictures to Current Slideshow");
    layout->addWidget(
        AddButton(row, EditorButton::AddSelected, tr("Add"), addTip, addTip, &EditorPage::AddSelectedFiles));
    layout->addSpacing(kButtonStep - kButtonWidth);
    layout->addWidget(AddButton(row, EditorButton::AddAll, tr("Add All"), addTip, addTip, &EditorPage::AddAllFiles));
    layout->addSpacing(kButtonStep - kButtonWidth);
    layout->addWidget(AddButton(row, EditorButton::RemoveSlides, tr("Remove"), tr("Delete Selected Pictures"),
                                tr("Delete Selected Pictures"), &EditorPage::RemoveSelectedSlides));
    layout->addSpacing(kButtonStep - kButtonWidth);
    layout->addWidget(AddButton(row, EditorButton::RotateClockwise, QStringLiteral("↻ 90°"),
                                tr("Rotate 90 degrees clock-wise"), tr("Rotate 90 degrees clock-wise"),
                                &EditorPage::RotateClockwiseCommand));
    layout->addSpacing(kButtonStep - kButtonWidth);
    layout->addWidget(AddButton(row, EditorButton::RotateCounterClockwise, QStringLiteral("↺ 90°"),
                                tr("Rotate 90 degrees counter clock-wise"), tr("Rotate 90 degrees counter clock-wise"),
                                &EditorPage::RotateCounterClockwiseCommand));
    layout->addSpacing(kButtonStep - kButtonWidth);
    layout->addWidget(AddButton(row, EditorButton::ViewPicture, tr("View"), tr("View Pictures"), tr("View Pictures"),
                                &EditorPage::ViewSelectedSlide));
    layout->addStretch(1);
}

void EditorPage::SyncSplitters(QSplitter* from)
{
    // The album list is as wide as the folder tree above it.
    if (syncing_)
        return;
    syncing_ = true;
    QSplitter* other = from == topSplitter_ ? bottomSplitter_ : topSplitter_;
    other->setSizes(from->sizes());
    albumButtons_->setFixedWidth(
        std::max({from->sizes().value(0), kButtonStep * 3, albumButtons_->layout()->minimumSize().width()}));
    syncing_ = false;
}

// ----- Folder tree and file list -----

void EditorPage::ShowFolder(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    if (clean == fileModel_->Folder())
        return;
    fileModel_->SetFolder(clean);
    if (sortColumn_ >= 0)
        fileModel_->sort(sortColumn_, sortOrder_);
    const QModelIndex node = folders_->index(clean);
    if (node.isValid() && tree_->currentIndex() != node) {
        revealFolder_ = true;
        tree_->setCurrentIndex(node);
        tree_->scrollTo(node);
    }
}

QString EditorPage::Folder() const
{
    return fileModel_->Folder();
}

void EditorPage::SetListStyle(ListStyle style)
{
    style_ = style;
    services_.UserSettings().listStyle = static_cast<int>(style);
    if (style == ListStyle::Details) {
        fileStack_->setCurrentWidget(fileDetails_);
        return;
    }
    fileStack_->setCurrentWidget(fileIcons_);
    fileIcons_->setItemDelegate(plainDelegate_);
    fileIcons_->setWrapping(true);
    fileIcons_->setResizeMode(QListView::Adjust);
    fileIcons_->setMovement(QListView::Static);
    switch (style) {
    case ListStyle::Thumbnails:
        fileIcons_->setViewMode(QListView::IconMode);
        fileIcons_->setItemDelegate(thumbnailDelegate_);
        fileIcons_->setGridSize(kFileListFrame.cell);
        fileIcons_->setUniformItemSizes(true);
        break;
    case ListStyle::LargeIcons:
        fileIcons_->setViewMode(QListView::IconMode);
        fileIcons_->setIconSize(QSize(32, 32));
        fileIcons_->setGridSize(QSize(100, 70));
        fileIcons_->setUniformItemSizes(true);
        break;
    case ListStyle::SmallIcons:
        fileIcons_->setViewMode(QListView::ListMode);
        fileIcons_->setFlow(QListView::LeftToRight);
        fileIcons_->setIconSize(QSize(16, 16));
        fileIcons_->setGridSize(QSize(180, 22));
        break;
    default: // List
        fileIcons_->setViewMode(QListView::ListMode);
        fileIcons_->setFlow(QListView::TopToBottom);
        fileIcons_->setIconSize(QSize(16, 16));
        fileIcons_->setGridSize(QSize());
        break;
    }
    // The selection survives the style change: both views share one selection model.
    fileIcons_->setDragEnabled(true);
    fileIcons_->setDragDropMode(QAbstractItemView::DragOnly);
}

void EditorPage::SortFileList(int column)
{
    sortOrder_ = column == sortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortColumn_ = column;
    fileModel_->sort(column, sortOrder_);
    fileDetails_->header()->setSortIndicator(column, sortOrder_);
}

QAbstractItemView* EditorPage::FileView() const
{
    return style_ == ListStyle::Details ? static_cast<QAbstractItemView*>(fileDetails_) : fileIcons_;
}

QStringList EditorPage::SelectedFiles() const
{
    QStringList paths;
    for (int row : SortedRows(fileIcons_->selectionModel()->selectedIndexes()))
        paths << fileModel_->PathAt(row);
    return paths;
}

void EditorPage::SelectFiles(const QList<int>& rows)
{
    QItemSelection selection;
    for (int row : rows)
        selection.select(fileModel_->index(row, 0), fileModel_->index(row, FileListModel::ColumnCount - 1));
    fileIcons_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void EditorPage::SelectAll()
{
    fileIcons_->selectAll();
}

void EditorPage::SetPictureDecoder(PictureDecoder decoder)
{
    decoder_ = decoder;
    fileModel_->SetDecoder(std::move(decoder));
}

// ----- Adding -----

void EditorPage::AddSelectedFiles()
{
    AddFiles(SelectedFiles(), PictureSource::FileList);
}

void EditorPage::AddAllFiles()
{
    AddFiles(fileModel_->Paths(), PictureSource::FileList);
}

void EditorPage::AddPictures()
{
    AddFiles(services_.Files().OpenPictures(this), PictureSource::Path);
}

void EditorPage::DropUrls(const QList<QUrl>& urls, int insertAt)
{
    QStringList paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo file(url.toLocalFile());
        // Folders and files of other kinds are ignored.
        if (file.isFile() && IsEditorPictureName(file.fileName()))
            paths << file.absoluteFilePath();
    }
    AddFiles(paths, PictureSource::Path, insertAt);
}

void EditorPage::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls() && !event->mimeData()->hasFormat(QString::fromLatin1(kFileListMimeType)))
        event->acceptProposedAction();
}

void EditorPage::dropEvent(QDropEvent* event)
{
    event->acceptProposedAction();
    DropUrls(event->mimeData()->urls());
}

bool EditorPage::IsAdding() const
{
    return adder_->IsRunning();
}

void EditorPage::AddFiles(const QStringList& paths, PictureSource source, int insertAt)
{
    if (paths.isEmpty() || adder_->IsRunning())
        return;
    AlbumTable& project = services_.Project();
    // The first album is made only when a picture arrives for it: an add that fails
    // leaves no empty album behind.
    QString albumName = FirstAlbumName();
    if (project.AlbumCount() > 0) {
        addAlbum_ = project.EnsureAlbumForPicture(source);
        albumName = QString::fromStdString(project.Album(addAlbum_).name);
    } else {
        addAlbum_ = kAlbumToCreate;
    }
    addSource_ = source;
    addRequested_ = static_cast<int>(paths.size());
    addInsertAt_ = insertAt;
    const bool autoOrient = services_.UserSettings().AutoOrient();
    // Decoding runs on workers; the progress dialog keeps the project from being edited
    // meanwhile and shows itself only when adding takes a while.
    addProgress_ = new QProgressDialog(tr("Adding pictures to \"%1\"...").arg(albumName), tr("Cancel"), 0,
                                       static_cast<int>(paths.size()), this);
    addProgress_->setWindowTitle(tr("Add Pictures"));
    addProgress_->setWindowModality(Qt::WindowModal);
    addProgress_->setMinimumDuration(400);
    addProgress_->setAutoClose(false);
    addProgress_->setAutoReset(false);
    connect(addProgress_, &QProgressDialog::canceled, adder_, &PictureAdder::Cancel);
    connect(adder_, &PictureAdder::progress, addProgress_, [this](int done, int total) {
        addProgress_->setMaximum(total);
        addProgress_->setValue(done);
    });
    adder_->Start(paths, autoOrient, decoder_);
}

QString EditorPage::FirstAlbumName()
{
    return tr("Album %1").arg(1);
}

void EditorPage::OnAdded(const std::shared_ptr<DecodedProject>& decoded)
{
    if (addProgress_) {
        addProgress_->deleteLater();
        addProgress_ = nullptr;
    }
    AlbumTable& project = services_.Project();
    int added = 0;
    int refused = 0;
    int full = 0;
    QStringList problems;
    const auto fileName = [](const std::string& path) { return QFileInfo(QString::fromStdString(path)).fileName(); };
    const bool albumThere = addAlbum_ == kAlbumToCreate || (addAlbum_ >= 0 && addAlbum_ < project.AlbumCount());
    if (!decoded->cancelled && albumThere && !decoded->albums.empty()) {
        DecodedAlbum& album = decoded->albums.front();
        for (const SkippedPicture& skipped : album.skipped) {
            if (skipped.reason == kMsgPictureLimit)
                ++full;
            else
                problems << tr("%1 could not be read: %2")
                                .arg(fileName(skipped.path), QString::fromStdString(skipped.reason));
        }
        services_.Bridge().BeginEdit(tr("Add Pictures"));
        for (DecodedPicture& picture : album.pictures) {
            if (addAlbum_ == kAlbumToCreate) {
                if (!picture.error.empty() || !picture.picture) {
                    problems
                        << tr("%1 could not be read: %2").arg(fileName(picture.path), TranslateCoreText(picture.error));
                    continue;
                }
                addAlbum_ = project.AddAlbum(FirstAlbumName().toStdString());
                if (addAlbum_ < 0)
                    break;
            }
            const QString name = addSource_ == PictureSource::FileList ? fileName(picture.path) : QString();
            const std::string path = picture.path;
            std::string error;
            if (project.AddDecodedPictureToAlbum(addAlbum_, std::move(picture), name.toStdString(), &error))
                ++added;
            else if (project.PictureCount(addAlbum_) >= MAX_PICTURES_PER_ALBUM)
                ++full;
            else
                problems << tr("%1 could not be read: %2").arg(fileName(path), TranslateCoreText(error));
        }
        // Pictures dropped between slides land where they were dropped.
        if (added > 0 && addAlbum_ >= 0 && addInsertAt_ >= 0 &&
            addInsertAt_ < project.PictureCount(addAlbum_) - added) {
            std::vector<int> landed(static_cast<std::size_t>(added));
            for (int i = 0; i < added; ++i)
                landed[static_cast<std::size_t>(i)] = project.PictureCount(addAlbum_) - added + i;
            project.MovePictures(addAlbum_, landed, addInsertAt_);
        }
        services_.Bridge().EndEdit(added == 1 ? tr("Add 1 Picture") : tr("Add %1 Pictures").arg(added));
        refused = full + static_cast<int>(problems.size());
    }
    addAlbum_ = -1;
    // One message for everything left out, never a box per picture.
    if (full > 0 || !problems.isEmpty()) {
        QStringList lines;
        if (full > 0)
            lines << tr("%1 of %2 pictures were added: an album holds at most %3.")
                         .arg(added)
                         .arg(addRequested_)
                         .arg(MAX_PICTURES_PER_ALBUM);
        constexpr int kListed = 8;
        for (int i = 0; i < problems.size() && i < kListed; ++i)
            lines << problems[i];
        if (problems.size() > kListed)
            lines << tr("... and %1 more.").arg(problems.size() - kListed);
        Inform(lines.join('\n'));
    }
    emit picturesAdded(added, refused);
}

// ----- Slides -----

QList<int> EditorPage::SelectedSlides() const
{
    return SortedRows(slideList_->selectionModel()->selectedIndexes());
}

void EditorPage::SelectSlides(const QList<int>& rows)
{
    QItemSelection selection;
    for (int row : rows)
        selection.select(slideModel_->index(row), slideModel_->index(row));
    slideList_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void EditorPage::DeletePictures()
{
    RemoveSelectedSlides();
}

void EditorPage::RemoveSelectedSlides()
{
    const QList<int> rows = SelectedSlides();
    const QString text = rows.size() == 1 ? tr("Remove 1 Picture") : tr("Remove %1 Pictures").arg(rows.size());
    services_.Bridge().Edit(text, [&] { services_.Project().RemovePictures(slideModel_->Album(), ToVector(rows)); });
}

void EditorPage::RemoveAllSlides()
{
    const int album = slideModel_->Album();
    if (album < 0 || services_.Project().PictureCount(album) == 0)
        return;
    const int count = services_.Project().PictureCount(album);
    const QString name = QString::fromStdString(services_.Project().Album(album).name);
    const QString question = count == 1 ? tr("Remove the picture of \"%1\"?").arg(name)
                                        : tr("Remove all %1 pictures of \"%2\"?").arg(count).arg(name);
    if (!services_.Messages().Question(this, question + QLatin1Char(' ') + tr("You can undo this with Ctrl+Z.")))
        return;
    services_.Bridge().Edit(count == 1 ? tr("Remove 1 Picture") : tr("Remove %1 Pictures").arg(count),
                            [&] { services_.Project().RemoveAllPictures(album); });
    Note(tr("Removed the pictures of \"%1\". Undo with Ctrl+Z.").arg(name));
}

void EditorPage::RotateSelectedSlides(Rotation direction)
{
    const QList<int> rows = SelectedSlides();
    services_.Bridge().Edit(
        direction == Rotation::Clockwise ? tr("Rotate Clockwise") : tr("Rotate Counter-Clockwise"),
        [&] { services_.Project().RotatePictures(slideModel_->Album(), ToVector(rows), direction); });
    SelectSlides(rows);
}

void EditorPage::MoveSlides(const QList<int>& rows, int target)
{
    bool moved = false;
    services_.Bridge().Edit(rows.size() == 1 ? tr("Move 1 Picture") : tr("Move %1 Pictures").arg(rows.size()), [&] {
        moved = services_.Project().MovePictures(slideModel_->Album(), ToVector(rows), target);
    });
    if (moved) {
        // The moved slides stay selected where they landed.
        QList<int> landed;
        const int before =
            static_cast<int>(std::count_if(rows.begin(), rows.end(), [target](int r) { return r < target; }));
        for (int i = 0; i < rows.size(); ++i)
            landed << std::clamp(target - before, 0, slideModel_->rowCount() - static_cast<int>(rows.size())) + i;
        SelectSlides(landed);
    }
}

void EditorPage::ViewSelectedSlide()
{
    const QList<int> rows = SelectedSlides();
    const int album = slideModel_->Album();
    if (rows.isEmpty() || album < 0) {
        Inform(TranslateCoreText(kMsgSelectPicture));
        return;
    }
    const PictureItem& picture = services_.Project().Picture(album, rows.front());
    const int rotation = picture.rotated ? picture.rotation : 0;
    PictureViewer viewer(QString::fromStdString(picture.path), rotation, ViewerRotation::Allowed, this);
    if (Run(viewer) != QDialog::Accepted)
        return;
    // The viewer's angle becomes the picture's rotation, rebuilt as after the rotate
    // commands (each quarter turn clockwise).
    const int turns = ((viewer.Angle() - rotation) / 90 + 4) % 4;
    services_.Bridge().Edit(tr("Rotate Picture"), [&] {
        for (int i = 0; i < turns; ++i)
            services_.Project().RotatePictures(album, {rows.front()}, Rotation::Clockwise);
    });
}

void EditorPage::ViewSelectedFile()
{
    const QStringList files = SelectedFiles();
    if (files.isEmpty()) {
        Inform(TranslateCoreText(kMsgSelectPicture));
        return;
    }
    PictureViewer viewer(files.front(), 0, ViewerRotation::Hidden, this);
    Run(viewer);
}

// ----- Albums -----

int EditorPage::SelectedAlbumRow() const
{
    const QModelIndexList selected = albumList_->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void EditorPage::SelectAlbumRow(int row)
{
    if (row < 0 || row >= albumModel_->rowCount()) {
        albumList_->selectionModel()->clearSelection();
        return;
    }
    albumList_->selectionModel()->setCurrentIndex(albumModel_->index(row), QItemSelectionModel::ClearAndSelect);
}

void EditorPage::OnAlbumSelected(int row)
{
    if (syncing_ || row <= 0)
        return;
    syncing_ = true;
    services_.Project().SetCurrentAlbum(row - 1);
    syncing_ = false;
}

void EditorPage::ShowCurrentAlbum(int album)
{
    if (syncing_)
        return;
    syncing_ = true;
    if (album >= 0 && album < services_.Project().AlbumCount())
        albumList_->selectionModel()->setCurrentIndex(albumModel_->index(album + 1),
                                                      QItemSelectionModel::ClearAndSelect);
    else
        albumList_->selectionModel()->clearSelection();
    syncing_ = false;
}

void EditorPage::NewAlbum()
{
    AlbumTable& project = services_.Project();
    AlbumNameDialog dialog(tr("Album %1").arg(project.AlbumCount() + 1), this);
    if (Run(dialog) != QDialog::Accepted || dialog.Name().isEmpty())
        return;
    services_.Bridge().Edit(tr("New Album"), [&] { project.AddAlbum(dialog.Name().toStdString()); });
}

void EditorPage::DeleteAlbum()
{
    AlbumTable& project = services_.Project();
    const int row = SelectedAlbumRow();
    const int album = row > 0 ? row - 1 : -1;
    if (album < 0 || album >= project.AlbumCount()) {
        project.RemoveAlbum(album); // the project's own "select an album" messages
        return;
    }
    const QString name = QString::fromStdString(project.Album(album).name);
    const int count = project.PictureCount(album);
    const QString question = count == 0   ? tr("Delete the album \"%1\"?").arg(name)
                             : count == 1 ? tr("Delete the album \"%1\" and its picture?").arg(name)
                                          : tr("Delete the album \"%1\" and its %2 pictures?").arg(name).arg(count);
    if (!services_.Messages().Question(this, question + QLatin1Char(' ') + tr("You can undo this with Ctrl+Z.")))
        return;
    services_.Bridge().Edit(tr("Delete Album \"%1\"").arg(name), [&] { project.RemoveAlbum(album); });
    Note(tr("Deleted the album \"%1\". Undo with Ctrl+Z.").arg(name));
}

void EditorPage::Note(const QString& text)
{
    // A passing note in the window's status bar, beside the permanent drive and totals.
    if (auto* window = qobject_cast<QMainWindow*>(this->window()))
        window->statusBar()->showMessage(text, 8000);
}

void EditorPage::RenameAlbum()
{
    AlbumTable& project = services_.Project();
    const int row = SelectedAlbumRow();
    if (row <= 0) {
        project.RenameAlbum(-1, {}); // the project's "Please select an album."
        return;
    }
    AlbumNameDialog dialog(QString::fromStdString(project.Album(row - 1).name), this);
    if (Run(dialog) == QDialog::Accepted && !dialog.Name().isEmpty())
        services_.Bridge().Edit(tr("Rename Album"), [&] { project.RenameAlbum(row - 1, dialog.Name().toStdString()); });
}

void EditorPage::AlbumProperties()
{
    AlbumTable& project = services_.Project();
    const int row = SelectedAlbumRow();
    if (row <= 0) {
        project.SetAlbumWaitTime(-1, kMinAlbumWaitTime); // "Please select an album."
        return;
    }
    const AlbumInfo& album = project.Album(row - 1);
    AlbumPropertiesDialog dialog(QString::fromStdString(album.name), album.waitTime,
                                 QString::fromStdString(project.AlbumPropertiesText(row - 1)), this);
    if (Run(dialog) == QDialog::Accepted && dialog.WaitTime() != album.waitTime)
        services_.Bridge().Edit(tr("Album Properties"), [&] { project.SetAlbumWaitTime(row - 1, dialog.WaitTime()); });
}

// ----- Menus and dialogs -----

void EditorPage::ContextMenu(QWidget* over, const QPoint& at)
{
    QMenu menu(this);
    if (over == slideList_) {
        menu.addAction(tr("Remove"), this, &EditorPage::RemoveSelectedSlides);
        menu.addAction(tr("Remove All"), this, &EditorPage::RemoveAllSlides);
        menu.addSeparator();
        menu.addAction(tr("Rotate 90 Clockwise"), this, &EditorPage::RotateClockwiseCommand);
        menu.addAction(tr("Rotate 90 Counter-Clockwise"), this, &EditorPage::RotateCounterClockwiseCommand);
        menu.addSeparator();
        menu.addAction(tr("View Picture"), this, &EditorPage::ViewSelectedSlide);
    } else if (over == albumList_) {
        menu.addAction(tr("New Album"), this, &EditorPage::NewAlbum);
        menu.addAction(tr("Delete Album"), this, &EditorPage::DeleteAlbum);
        menu.addAction(tr("Rename Album"), this, &EditorPage::RenameAlbum);
        menu.addAction(tr("Album Properties"), this, &EditorPage::AlbumProperties);
    } else {
        QMenu* view = menu.addMenu(tr("View"));
        const struct {
            const char* text;
            ListStyle style;
        } styles[] = {{"Large Icons", ListStyle::LargeIcons},
                      {"Small Icons", ListStyle::SmallIcons},
                      {"List", ListStyle::List},
                      {"Details", ListStyle::Details},
                      {"Thumbnails", ListStyle::Thumbnails}};
        for (const auto& entry : styles) {
            QAction* action =
                view->addAction(tr(entry.text), this, [this, style = entry.style] { SetListStyle(style); });
            action->setCheckable(true);
            action->setChecked(style_ == entry.style);
        }
        QMenu* arrange = menu.addMenu(tr("Arrange Icons"));
        const char* const columns[] = {"By Name", "By Size", "By Type", "By Date"};
        for (int column = 0; column < FileListModel::ColumnCount; ++column)
            arrange->addAction(tr(columns[column]), this, [this, column] { SortFileList(column); });
        menu.addSeparator();
        menu.addAction(tr("Add to Album"), this, &EditorPage::AddSelectedFiles);
        menu.addAction(tr("Add All "), this, &EditorPage::AddAllFiles);
        menu.addAction(tr("Select All"), this, &EditorPage::SelectAll);
        menu.addAction(tr("View Picture"), this, &EditorPage::ViewSelectedFile);
    }
    menu.exec(over->mapToGlobal(at));
}

int EditorPage::Run(QDialog& dialog)
{
    return runDialog_ ? runDialog_(dialog) : dialog.exec();
}

void EditorPage::Inform(const QString& text)
{
    services_.Messages().Information(this, text);
}

} // namespace lumivox::ui

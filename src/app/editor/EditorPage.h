// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The album editor page: a folder tree and a file list (with thumbnails made on a worker
// thread) to browse for pictures, the album list and the slide list of the current album.
// Pictures are added by the buttons, the menu, a double click, dragging from the file list
// or dropping files from the desktop; slides are reordered by dragging. Every change goes
// through the project's operations; the lists are item models that follow the project.

#include "project/AlbumTable.h"
#include "project/ThumbnailCache.h"
#include "shell/Page.h"

#include <QUrl>

#include <functional>
#include <map>
#include <memory>

class QAbstractItemDelegate;
class QDialog;
class QFileSystemModel;
class QListView;
class QMenu;
class QProgressDialog;
class QSplitter;
class QStackedWidget;
class QToolButton;
class QTreeView;
class QAbstractItemView;

namespace lumivox::ui {

class AlbumListModel;
class FileListModel;
class PictureAdder;
class SlideListModel;
class SlideListView;

// File list view styles, as the setting "ListStyle" stores them.
enum class ListStyle { Thumbnails = 0, List = 1, Details = 2, SmallIcons = 3, LargeIcons = 4 };

// The buttons below the folder tree and the file list, by their command numbers.
enum class EditorButton {
    NewAlbum = 34001,
    DeleteAlbum = 34002,
    AlbumProperties = 34003,
    AddSelected = 35001,
    AddAll = 35006,
    RemoveSlides = 35002,
    RotateClockwise = 35003,
    RotateCounterClockwise = 35004,
    ViewPicture = 35005,
};

class EditorPage final : public Page {
    Q_OBJECT
public:
    EditorPage(AppServices& services, QWidget* parent);
    ~EditorPage() override;

    // The album commands of the main window's menu.
    void NewAlbum();
    void DeleteAlbum();
    void AlbumProperties();
    void AddPictures(); // "Add Pictures...": files chosen in a file dialog
    void DeletePictures(); // the selected slides
    void SelectAll(); // every file of the file list

    // Folder tree and file list.
    void ShowFolder(const QString& folder);
    QString Folder() const;
    void SetListStyle(ListStyle style);
    ListStyle CurrentListStyle() const { return style_; }
    // A click on a column header: the sort column again reverses, another sorts up.
    void SortFileList(int column);
    int SortColumn() const { return sortColumn_; }
    Qt::SortOrder SortOrder() const { return sortOrder_; }
    QStringList SelectedFiles() const;
    void SelectFiles(const QList<int>& rows);

    // Adding: every selected file / every file of the list / the files dropped from the
    // desktop (only names ending in a picture extension of the file list) / given paths.
    void AddSelectedFiles();
    void AddAllFiles();
    // insertAt: the slide the pictures go before (-1: after the last one).
    void DropUrls(const QList<QUrl>& urls, int insertAt = -1);
    void AddFiles(const QStringList& paths, PictureSource source, int insertAt = -1);
    bool IsAdding() const;

    // Slides of the current album.
    QList<int> SelectedSlides() const;
    void SelectSlides(const QList<int>& rows);
    void RemoveSelectedSlides();
    void RemoveAllSlides();
    void RotateSelectedSlides(Rotation direction);
    void MoveSlides(const QList<int>& rows, int target);
    void ViewSelectedSlide();
    void ViewSelectedFile();

    // Album list (row 0 is the heading row).
    int SelectedAlbumRow() const;
    void SelectAlbumRow(int row);
    void RenameAlbum();

    // Dialogs run through this (tests answer them); the default runs them modally.
    void SetDialogRunner(std::function<int(QDialog&)> runner) { runDialog_ = std::move(runner); }
    // Replaces the reduced-mode picture reader of the thumbnails and of adding (tests).
    void SetPictureDecoder(PictureDecoder decoder);

    FileListModel* FileModel() const { return fileModel_; }
    AlbumListModel* AlbumModel() const { return albumModel_; }
    SlideListModel* SlideModel() const { return slideModel_; }
    QAbstractItemView* FileView() const;
    QListView* AlbumView() const { return albumList_; }
    SlideListView* SlideView() const { return slideList_; }
    ThumbnailCache& Thumbnails() { return *cache_; }

signals:
    // Pictures given to AddFiles are in the project (or refused).
    void picturesAdded(int added, int refused);

protected:
    // Files dropped from the desktop anywhere on the page.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildFileViews();
    void BuildButtons(QWidget* row);
    QToolButton* AddButton(QWidget* parent, EditorButton id, const QString& text, const QString& tip,
                           const QString& status, void (EditorPage::*run)());
    void ContextMenu(QWidget* over, const QPoint& at);
    void OnAdded(const std::shared_ptr<DecodedProject>& decoded);
    void OnAlbumSelected(int row);
    void ShowCurrentAlbum(int album);
    void SyncSplitters(QSplitter* from);
    int Run(QDialog& dialog);
    void Inform(const QString& text);
    void Note(const QString& text);
    void UpdateButtons();
    // The name of the album made for pictures added to a project without one.
    static QString FirstAlbumName();
    void RotateClockwiseCommand() { RotateSelectedSlides(Rotation::Clockwise); }
    void RotateCounterClockwiseCommand() { RotateSelectedSlides(Rotation::CounterClockwise); }

    std::unique_ptr<ThumbnailCache> cache_;
    QFileSystemModel* folders_ = nullptr;
    QTreeView* tree_ = nullptr;
    FileListModel* fileModel_ = nullptr;
    QStackedWidget* fileStack_ = nullptr;
    QListView* fileIcons_ = nullptr;
    // The file list's two ways of drawing an item, made once with the list.
    QAbstractItemDelegate* thumbnailDelegate_ = nullptr;
    QAbstractItemDelegate* plainDelegate_ = nullptr;
    QTreeView* fileDetails_ = nullptr;
    AlbumListModel* albumModel_ = nullptr;
    QListView* albumList_ = nullptr;
    SlideListModel* slideModel_ = nullptr;
    SlideListView* slideList_ = nullptr;
    QSplitter* bandSplitter_ = nullptr;
    QSplitter* topSplitter_ = nullptr;
    QSplitter* bottomSplitter_ = nullptr;
    QWidget* albumButtons_ = nullptr;
    std::map<EditorButton, QToolButton*> buttons_;
    PictureAdder* adder_ = nullptr;
    QProgressDialog* addProgress_ = nullptr;
    // The album pictures being decoded go to; kAlbumToCreate makes the first album when
    // the first usable picture arrives.
    static constexpr int kAlbumToCreate = -2;
    int addAlbum_ = -1;
    int addRequested_ = 0;
    int addInsertAt_ = -1;
    PictureSource addSource_ = PictureSource::Path;
    ListStyle style_ = ListStyle::Thumbnails;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool syncing_ = false;
    bool revealFolder_ = false;
    std::function<int(QDialog&)> runDialog_;
    PictureDecoder decoder_;
};

} // namespace lumivox::ui

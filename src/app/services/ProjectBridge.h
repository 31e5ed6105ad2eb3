// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one observer of the program's project: turns the core's calls into Qt signals on
// the user-interface thread (the project is only changed there, so the signals are
// direct), and keeps the "modified" flag that the title and the unsaved-changes question
// read. Pages and item models connect to the signals instead of observing the project.

#include "logic/CoreText.h"
#include "project/AlbumTable.h"

#include <QObject>
#include <QString>
#include <QUndoStack>

#include <functional>
#include <optional>

namespace lumivox::ui {

class ProjectBridge final : public QObject, public ProjectObserver {
    Q_OBJECT
public:
    // Becomes project's observer until destroyed.
    explicit ProjectBridge(AlbumTable& project, QObject* parent = nullptr);
    ~ProjectBridge() override;

    AlbumTable& Project() const { return project_; }
    // Unsaved changes: the undo stack is away from its clean state, or a change was made
    // outside it.
    bool IsModified() const { return dirty_ || !undo_.isClean(); }
    // Saving marks the clean state (false); true marks a change that cannot be undone.
    void SetModified(bool modified);
    // A new or opened project: nothing to undo, nothing unsaved.
    void StartAfresh();

    // Every change to albums and slides, and to the disc design, is one command here.
    QUndoStack* UndoStack() { return &undo_; }
    // Changes made between BeginEdit and the matching EndEdit become one command named
    // text (EndEdit's text, when given, replaces it, for names that depend on the
    // outcome); nested pairs join the outer one. A pair that changes nothing pushes
    // nothing.
    void BeginEdit(const QString& text);
    void EndEdit(const QString& text = {});
    // Runs change as one command.
    void Edit(const QString& text, const std::function<void()>& change);
    // Pushes a change that is not the project's (the disc design), already made, as one
    // command.
    void PushCommand(const QString& text, std::function<void()> redo, std::function<void()> undo);

signals:
    void modifiedChanged(bool modified);
    void statusChanged(const QString& statusLine);
    void message(const QString& text);
    void albumListChanged();
    void currentAlbumChanged(int album);
    void albumChanged(int album);
    void picturesChanged(int album);
    void aboutToReset();
    void resetDone();
    void loadStarted();
    void loadFinished();
    // Row announcements for item models (begin.../end... calls), in the core's order.
    void aboutToInsertAlbums(int first, int last);
    void albumsInserted(int first, int last);
    void aboutToRemoveAlbums(int first, int last);
    void albumsRemoved(int first, int last);
    void aboutToInsertPictures(int album, int first, int last);
    void picturesInserted(int album, int first, int last);
    void aboutToRemovePictures(int album, int first, int last);
    void picturesRemoved(int album, int first, int last);
    void aboutToMovePictures(int album, int first, int last, int destination);
    void picturesMoved(int album, int first, int last, int destination);

private:
    void OnAboutToInsertAlbums(int first, int last) override { emit aboutToInsertAlbums(first, last); }
    void OnAlbumsInserted(int first, int last) override { emit albumsInserted(first, last); }
    void OnAboutToRemoveAlbums(int first, int last) override { emit aboutToRemoveAlbums(first, last); }
    void OnAlbumsRemoved(int first, int last) override { emit albumsRemoved(first, last); }
    void OnAboutToInsertPictures(int album, int first, int last) override
    {
        emit aboutToInsertPictures(album, first, last);
    }
    void OnPicturesInserted(int album, int first, int last) override { emit picturesInserted(album, first, last); }
    void OnAboutToRemovePictures(int album, int first, int last) override
    {
        emit aboutToRemovePictures(album, first, last);
    }
    void OnPicturesRemovedRange(int album, int first, int last) override { emit picturesRemoved(album, first, last); }
    void OnAboutToMovePictures(int album, int first, int last, int destination) override
    {
        emit aboutToMovePictures(album, first, last, destination);
    }
    void OnPicturesMoved(int album, int first, int last, int destination) override
    {
        emit picturesMoved(album, first, last, destination);
    }
    void OnModified() override;
    void OnMessage(const std::string& text) override;
    void OnAlbumListChanged() override;
    void OnCurrentAlbumChanged(int album) override;
    void OnAlbumChanged(int album) override;
    void OnPictureAdded(int album, int position) override;
    void OnPicturesRemoved(int album) override;
    void OnPictureChanged(int album, int position) override;
    void OnStatusChanged(const std::string& statusLine) override;
    void OnAboutToReset() override;
    void OnResetDone() override;
    void OnLoadStarted() override;
    void OnLoadFinished() override;

    void UpdateModified();

    AlbumTable& project_;
    QUndoStack undo_;
    bool dirty_ = false;
    bool lastModified_ = false;
    int editDepth_ = 0;
    int restoring_ = 0;
    QString editText_;
    std::optional<ProjectSnapshot> editBefore_;

    friend class ProjectEditCommand;
};

} // namespace lumivox::ui

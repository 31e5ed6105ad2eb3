#pragma once
// The album editor page. Until the full editor (folder tree, file list, album and slide
// lists) is in place it shows the project's albums with their covers and carries out the
// album commands of the main window's menu.

#include "ui/Page.h"

class QListWidget;

namespace lumivox::ui {

class EditorPage final : public Page {
    Q_OBJECT
public:
    EditorPage(const AppContext& context, QWidget* parent);

    // The album commands of the menu.
    void NewAlbum();
    void DeleteAlbum();
    void AlbumProperties();
    void AddPictures();
    void DeletePictures();
    void SelectAll();

    // Rows of the album overview (tests).
    QListWidget* AlbumView() const { return albums_; }

private:
    void Refresh();

    QListWidget* albums_ = nullptr;
};

} // namespace lumivox::ui

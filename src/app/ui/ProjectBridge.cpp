#include "ui/ProjectBridge.h"

namespace lumivox::ui {

ProjectBridge::ProjectBridge(AlbumTable& project, QObject* parent) : QObject(parent), project_(project)
{
    project_.SetObserver(this);
}

ProjectBridge::~ProjectBridge()
{
    project_.SetObserver(nullptr);
}

void ProjectBridge::SetModified(bool modified)
{
    if (modified_ == modified)
        return;
    modified_ = modified;
    emit modifiedChanged(modified_);
}

void ProjectBridge::OnModified() { SetModified(true); }
void ProjectBridge::OnMessage(const std::string& text) { emit message(QString::fromStdString(text)); }
void ProjectBridge::OnAlbumListChanged() { emit albumListChanged(); }
void ProjectBridge::OnCurrentAlbumChanged(int album) { emit currentAlbumChanged(album); }
void ProjectBridge::OnAlbumChanged(int album) { emit albumChanged(album); }
void ProjectBridge::OnPictureAdded(int album, int) { emit picturesChanged(album); }
void ProjectBridge::OnPicturesRemoved(int album) { emit picturesChanged(album); }
void ProjectBridge::OnPictureChanged(int album, int) { emit picturesChanged(album); }
void ProjectBridge::OnStatusChanged(const std::string& statusLine)
{
    emit statusChanged(QString::fromStdString(statusLine));
}
void ProjectBridge::OnAboutToReset() { emit aboutToReset(); }
void ProjectBridge::OnResetDone() { emit resetDone(); }
void ProjectBridge::OnLoadStarted() { emit loadStarted(); }
void ProjectBridge::OnLoadFinished()
{
    emit loadFinished();
    emit albumListChanged();
}

} // namespace lumivox::ui

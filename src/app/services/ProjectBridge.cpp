// SPDX-License-Identifier: GPL-2.0-or-later
#include "services/ProjectBridge.h"

#include <QCoreApplication>

namespace lumivox::ui {

// One undoable change of the project: the albums and pictures before and after it. The
// change itself is made before the command is pushed, so its first redo does nothing.
class ProjectEditCommand final : public QUndoCommand {
public:
    ProjectEditCommand(ProjectBridge& bridge, const QString& text, ProjectSnapshot before, ProjectSnapshot after)
        : QUndoCommand(text), bridge_(bridge), before_(std::move(before)), after_(std::move(after))
    { }
    void undo() override { Restore(before_); }
    void redo() override
    {
        if (first_) {
            first_ = false;
            return;
        }
        Restore(after_);
    }

private:
    void Restore(const ProjectSnapshot& snapshot)
    {
        ++bridge_.restoring_;
        bridge_.project_.RestoreSnapshot(snapshot);
        --bridge_.restoring_;
    }

    ProjectBridge& bridge_;
    ProjectSnapshot before_;
    ProjectSnapshot after_;
    bool first_ = true;
};

namespace {

// A change outside the project (the disc design): two functions.
class FunctionCommand final : public QUndoCommand {
public:
    FunctionCommand(const QString& text, std::function<void()> redo, std::function<void()> undo)
        : QUndoCommand(text), redo_(std::move(redo)), undo_(std::move(undo))
    { }
    void undo() override { undo_(); }
    void redo() override
    {
        // The change is made before the command is pushed.
        if (first_) {
            first_ = false;
            return;
        }
        redo_();
    }

private:
    std::function<void()> redo_;
    std::function<void()> undo_;
    bool first_ = true;
};

} // namespace

ProjectBridge::ProjectBridge(AlbumTable& project, QObject* parent) : QObject(parent), project_(project)
{
    project_.SetObserver(this);
    connect(&undo_, &QUndoStack::cleanChanged, this, &ProjectBridge::UpdateModified);
    connect(&undo_, &QUndoStack::indexChanged, this, &ProjectBridge::UpdateModified);
}

ProjectBridge::~ProjectBridge()
{
    project_.SetObserver(nullptr);
}

void ProjectBridge::SetModified(bool modified)
{
    dirty_ = modified;
    if (!modified)
        undo_.setClean();
    UpdateModified();
}

void ProjectBridge::StartAfresh()
{
    undo_.clear();
    SetModified(false);
}

void ProjectBridge::UpdateModified()
{
    const bool modified = IsModified();
    if (modified == lastModified_)
        return;
    lastModified_ = modified;
    emit modifiedChanged(modified);
}

void ProjectBridge::BeginEdit(const QString& text)
{
    if (editDepth_++ > 0)
        return;
    editText_ = text;
    editBefore_ = project_.TakeSnapshot();
}

void ProjectBridge::EndEdit(const QString& text)
{
    if (editDepth_ <= 0 || --editDepth_ > 0) {
        if (editDepth_ > 0 && !text.isEmpty())
            editText_ = text;
        return;
    }
    if (!text.isEmpty())
        editText_ = text;
    ProjectSnapshot before = std::move(*editBefore_);
    editBefore_.reset();
    ProjectSnapshot after = project_.TakeSnapshot();
    if (before.SameContent(after))
        return;
    undo_.push(new ProjectEditCommand(*this, editText_, std::move(before), std::move(after)));
}

void ProjectBridge::Edit(const QString& text, const std::function<void()>& change)
{
    BeginEdit(text);
    change();
    EndEdit();
}

void ProjectBridge::PushCommand(const QString& text, std::function<void()> redo, std::function<void()> undo)
{
    undo_.push(new FunctionCommand(text, std::move(redo), std::move(undo)));
}

void ProjectBridge::OnModified()
{
    // Changes inside an edit or an undo are the stack's; others cannot be undone.
    if (editDepth_ == 0 && restoring_ == 0)
        SetModified(true);
}
void ProjectBridge::OnMessage(const std::string& text)
{
    emit message(TranslateCoreText(text));
}
void ProjectBridge::OnAlbumListChanged()
{
    emit albumListChanged();
}
void ProjectBridge::OnCurrentAlbumChanged(int album)
{
    emit currentAlbumChanged(album);
}
void ProjectBridge::OnAlbumChanged(int album)
{
    emit albumChanged(album);
}
void ProjectBridge::OnPictureAdded(int album, int)
{
    emit picturesChanged(album);
}
void ProjectBridge::OnPicturesRemoved(int album)
{
    emit picturesChanged(album);
}
void ProjectBridge::OnPictureChanged(int album, int)
{
    emit picturesChanged(album);
}
void ProjectBridge::OnStatusChanged(const std::string& statusLine)
{
    emit statusChanged(QString::fromStdString(statusLine));
}
void ProjectBridge::OnAboutToReset()
{
    emit aboutToReset();
}
void ProjectBridge::OnResetDone()
{
    emit resetDone();
}
void ProjectBridge::OnLoadStarted()
{
    emit loadStarted();
}
void ProjectBridge::OnLoadFinished()
{
    emit loadFinished();
    emit albumListChanged();
}

} // namespace lumivox::ui

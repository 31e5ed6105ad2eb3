// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window: the command menu and its accelerators, the toolbar of page buttons,
// the four pages in a stack, the two-part status bar, the project file commands with the
// unsaved-changes question, the Options dialog, help and the about box.

#include "logic/DriveTasks.h"
#include "logic/OwnerLink.h"
#include "logic/ProjectGuard.h"
#include "project/AlbumTable.h"
#include "services/RecorderSetup.h"
#include "services/AppServices.h"

#include <QMainWindow>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QProgressDialog;
class QStackedWidget;
class QToolBar;

namespace lumivox::ui {

class BurnPage;
class EditorPage;
class MenuPage;
class Page;
class PreviewPage;
class ProjectOpener;

// The commands of the menu, the accelerators and the toolbar.
enum class Command {
    NewProject,
    Open,
    Save,
    SaveAs,
    Exit,
    NewAlbum,
    DeleteAlbum,
    AlbumProperties,
    AddPictures,
    DeletePictures,
    SelectAll,
    ShowEditor,
    ShowDiscMenu,
    ShowPreview,
    ShowBurn,
    Options,
    HelpContents,
    QuickStart,
    Website,
    About,
    SaveDiscImage,
    Undo,
    Redo,
    RenameAlbum,
    FindMissing,
};

enum class PageId { Editor = 0, DiscMenu = 1, Preview = 2, Burn = 3 };

// "Lumivox - [%s]" with the project file's name without folder and extension, or
// "New Project" for an empty path; a "*" follows the name while the project is modified.
QString WindowTitleFor(const QString& projectPath, bool modified);

// The program's web site, opened by "Website of Lumivox".
extern const char* const kWebsiteAddress;

class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // The services outlive the window.
    explicit MainWindow(AppServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs the recorder set-up (at start and after Options changes) and shows its status.
    // Looks for the recorders on a worker (at start, and when Options changed how the
    // drives are reached); the window shows the look and takes its result when it comes.
    // Asked again while a look is going, it looks once more after it.
    void SetUpRecorders();
    bool IsLookingForRecorders() const;
    // Applies the saved placement: maximised, or x, y, width, height when width > 0.
    void RestorePlacement();
    // Opens the project at path (from the command line or the Open command) on workers.
    void OpenProjectFile(const QString& path);

    void ShowPage(PageId page);
    PageId CurrentPage() const;
    QAction* Action(Command command) const { return actions_.at(command); }
    EditorPage* Editor() const { return editor_; }
    MenuPage* DiscMenu() const { return menu_; }
    PreviewPage* Preview() const { return preview_; }
    BurnPage* Burn() const { return burn_; }
    QString ProjectPath() const { return projectPath_; }
    QString DeviceStatusText() const;
    QString TotalsText() const;
    // True while a project is being opened (tests wait for it).
    bool IsOpening() const;

    // Replaces the picture reader of opened projects (tests); empty restores it.
    void SetOpenDecoder(PictureDecoder decoder) { openDecoder_ = std::move(decoder); }
    // Writes the settings when the window closes; false with the reason when they could
    // not be written (the user is told). Unset, nothing is written.
    void SetSettingsSaver(std::function<bool(std::string* error)> saver) { saveSettings_ = std::move(saver); }
    // The help pages and the web site open through this (tests replace it).
    void SetUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }

    // The commands, public so that the screenshot program and the tests can run them.
    void NewProject();
    void OpenProject();
    bool SaveProject();
    bool SaveProjectAs();
    void ShowOptions();
    void ShowAbout();
    // The program's own help window, for when no browser opens the help pages.
    void ShowHelpWindow(const QUrl& page);

    // Unsaved changes are copied into the autosave folder every kAutosaveInterval; a
    // program that ended without saving or dropping them leaves its copy there, and the
    // next start offers it back (OfferRecovery, called once the window shows).
    static constexpr std::chrono::seconds kAutosaveInterval{60};
    void SetAutosaveFolder(const std::string& folder) { autosave_ = std::make_unique<Autosave>(folder); }
    void AutosaveNow();
    void OfferRecovery();

signals:
    // A project file finished opening (successfully or not).
    void projectOpened(bool loaded);
    // The look for the recorders ended and the window took what it found.
    void recordersSetUp();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    QAction* AddAction(Command command, const QString& text, const QKeySequence& key = {}, const QString& icon = {});
    void UpdateTitle();
    void UpdateTotals();
    // Asks for a folder and takes from it, by file name, the pictures that are missing.
    void FindMissingPictures();
    // The unsaved-changes question; false when the user cancels (or saving fails).
    bool MaybeSaveChanges();
    bool SaveTo(const QString& path);
    void OpenFinished(const QString& path, const std::shared_ptr<DecodedProject>& decoded);
    void OpenHelp(const QString& page);
    // Delete and Select All act on the editor's list that has the focus, nowhere else.
    void DeleteInFocusedList();
    void SelectAllInFocusedList();
    // Applies the design stored in an opened project; missing files are reported.
    void ApplyDesign(const ProjectDesign& design);
    void RecordersFound(RecorderLook look);
    // The project at path is now the window's: its lock is held and its stamp kept.
    void AdoptProjectFile(const QString& path);

    AppServices& services_;
    ProjectLock lock_;
    ProjectLock pendingLock_; // of the project being opened, until it has opened
    FileStamp stamp_; // the project file as it was opened or last saved
    std::unique_ptr<Autosave> autosave_ = std::make_unique<Autosave>();
    QString recoverFor_; // while a recovered copy opens: the project it belongs to ("" untitled)
    bool recovering_ = false;
    std::map<Command, QAction*> actions_;
    QToolBar* toolBar_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    EditorPage* editor_ = nullptr;
    MenuPage* menu_ = nullptr;
    PreviewPage* preview_ = nullptr;
    BurnPage* burn_ = nullptr;
    QLabel* deviceLabel_ = nullptr;
    QLabel* totalsLabel_ = nullptr;
    QString projectPath_;
    ProjectOpener* opener_ = nullptr;
    QProgressDialog* openProgress_ = nullptr;
    std::function<void(const QUrl&)> openUrl_;
    PictureDecoder openDecoder_;
    std::function<bool(std::string*)> saveSettings_;
    QWidget* helpWindow_ = nullptr;
    bool lookAgain_ = false;
    OwnerLinkPtr link_ = MakeOwnerLink(this);
    DriveTasks recorderLook_; // the drives' scan, off the window's thread
};

} // namespace lumivox::ui

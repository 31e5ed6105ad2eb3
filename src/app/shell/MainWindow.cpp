// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/MainWindow.h"
#include "shell/Resources.h"

#include "base/Paths.h"
#include "burn/BurnPage.h"
#include "discmenu/MenuPage.h"
#include "editor/EditorPage.h"
#include "editor/EditorViews.h"
#include "logic/CoreText.h"
#include "logic/ProjectOpener.h"
#include "picture/MenuTemplate.h"
#include "preview/PreviewPage.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/QtWaveOutput.h"
#include "services/RecorderSetup.h"
#include "shell/AboutDialog.h"
#include "shell/OptionsDialog.h"

#include <QAbstractSpinBox>
#include <QActionGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <functional>

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollArea>
#include <QLocale>
#include <QDateTime>
#include <QTimer>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QUndoStack>
#include <QVBoxLayout>

namespace lumivox::ui {

const char* const kWebsiteAddress = "https://lumivox.org/";

namespace {

// Status part 1 is 235 pixels wide, and wider when a drive's name needs it: a name cut
// in the middle ("EMULATED CD-R" for "CD-RW") would name another drive.
constexpr int kDeviceStatusWidth = 235;
// The page area's margins inside the window.
constexpr int kPageMargin = 8;
enum class TextUndo { Undo, Redo };

// Gives undo or redo to the editable text field that has the focus (a line edit, also
// inside a spin box or an editable combo box, or a text edit); false when none has it.
bool UndoInTextField(QWidget* focus, TextUndo what)
{
    if (!focus)
        return false;
    QLineEdit* line = qobject_cast<QLineEdit*>(focus);
    if (!line && (qobject_cast<QAbstractSpinBox*>(focus) || qobject_cast<QComboBox*>(focus)))
        line = focus->findChild<QLineEdit*>();
    if (line) {
        if (line->isReadOnly())
            return false;
        what == TextUndo::Undo ? line->undo() : line->redo();
        return true;
    }
    if (auto* text = qobject_cast<QTextEdit*>(focus); text && !text->isReadOnly()) {
        what == TextUndo::Undo ? text->undo() : text->redo();
        return true;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus); plain && !plain->isReadOnly()) {
        what == TextUndo::Undo ? plain->undo() : plain->redo();
        return true;
    }
    return false;
}

// Pictures of a skipped-picture report listed by name before "and %d more".
constexpr int kSkippedListed = 8;

QString ProjectName(const QString& projectPath)
{
    return projectPath.isEmpty() ? QStringLiteral("New Project") : QFileInfo(projectPath).completeBaseName();
}

} // namespace

QString WindowTitleFor(const QString& projectPath, bool modified)
{
    return QStringLiteral("Lumivox - [%1%2]").arg(ProjectName(projectPath), modified ? QStringLiteral("*") : QString());
}

MainWindow::MainWindow(AppServices& services, QWidget* parent) : QMainWindow(parent), services_(services)
{
    EnsureResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/lumivox.svg")));
    openUrl_ = [this](const QUrl& url) {
        // Without a browser (a bare desktop) the help still shows, in a window of our own.
        if (!QDesktopServices::openUrl(url) && url.isLocalFile())
            ShowHelpWindow(url);
    };

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(kPageBackground));
    setPalette(palette);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(kPageMargin, kPageMargin, kPageMargin, 0);
    stack_ = new QStackedWidget(central);
    editor_ = new EditorPage(services_, stack_);
    menu_ = new MenuPage(services_, stack_);
    preview_ = new PreviewPage(services_, stack_);
    burn_ = new BurnPage(services_, stack_);
    // The capacity meter follows the template and the music the menu page chooses.
    connect(menu_, &MenuPage::discMenuChanged, burn_, &BurnPage::DiscMenuChanged);
    connect(burn_, &BurnPage::discTrackKnown, preview_, &PreviewPage::SetSlideshowTrackOnDisc);
    // Each page scrolls when the window is smaller than the page can be (a netbook's
    // 1024 x 600 screen); otherwise it fills the window.
    for (QWidget* page : std::initializer_list<QWidget*>{editor_, menu_, preview_, burn_}) {
        auto* scroller = new QScrollArea(stack_);
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidget(page);
        scroller->setBackgroundRole(QPalette::Window);
        // Tab goes from control to control; the container itself shows no focus and is no stop
        // (it still scrolls to the control that has the focus).
        scroller->setFocusPolicy(Qt::NoFocus);
        stack_->addWidget(scroller);
    }
    connect(burn_, &BurnPage::recorderSelected, this,
            [this] { deviceLabel_->setText(services_.Recorders().DeviceStatus()); });
    layout->addWidget(stack_);
    setCentralWidget(central);
    // The first size, before any placement is saved: roomy, but inside the screen.
    QSize size(1180, 760);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);

    // File dialogs start in the project's folder, else the one browsed in the editor.
    services_.Files().SetFolderHint(
        [this] { return projectPath_.isEmpty() ? editor_->Folder() : QFileInfo(projectPath_).absolutePath(); });

    opener_ = new ProjectOpener(this);
    connect(opener_, &ProjectOpener::finished, this, &MainWindow::OpenFinished);

    connect(&services_.Bridge(), &ProjectBridge::modifiedChanged, this, &MainWindow::UpdateTitle);
    connect(&services_.Bridge(), &ProjectBridge::statusChanged, this, &MainWindow::UpdateTotals);
    connect(&services_.Bridge(), &ProjectBridge::resetDone, this, &MainWindow::UpdateTotals);
    connect(&services_.Bridge(), &ProjectBridge::loadFinished, this, &MainWindow::UpdateTotals);
    connect(&services_.Bridge(), &ProjectBridge::message, this,
            [this](const QString& text) { services_.Messages().Information(this, text); });

    auto* autosaveTimer = new QTimer(this);
    autosaveTimer->setInterval(kAutosaveInterval);
    connect(autosaveTimer, &QTimer::timeout, this, &MainWindow::AutosaveNow);
    autosaveTimer->start();

    UpdateTitle();
    UpdateTotals();
    ShowPage(PageId::Editor);
}

void MainWindow::AutosaveNow()
{
    if (!services_.Bridge().IsModified())
        return;
    // A copy that cannot be written costs nothing of the project itself: the next look
    // tries again.
    std::string error;
    autosave_->Write(services_.Project(), menu_->Design(), projectPath_.toStdString(), &error);
}

void MainWindow::OfferRecovery()
{
    const std::vector<AutosaveCopy> copies = autosave_->Recoverable();
    if (copies.empty())
        return;
    const AutosaveCopy& copy = copies.front();
    const QString original = QString::fromStdString(copy.originalPath);
    const QString when =
        QLocale().toString(QDateTime::fromSecsSinceEpoch(std::chrono::duration_cast<std::chrono::seconds>(
                                                             copy.savedAt.time_since_epoch())
                                                             .count()),
                           QLocale::ShortFormat);
    const QString question =
        tr("Lumivox ended without saving the changes to %1. A copy of them was kept at %2.\n\nRecover them?")
            .arg(original.isEmpty() ? tr("a new project") : QFileInfo(original).fileName(), when);
    if (!services_.Messages().Question(this, question)) {
        Autosave::Remove(copy);
        return;
    }
    recoverFor_ = original;
    recovering_ = true;
    ShowPage(PageId::Editor);
    OpenProjectFile(QString::fromStdString(copy.copyPath));
}

MainWindow::~MainWindow()
{
    link_->Cut(); // a look still going finds no window to report to
    services_.Files().SetFolderHint({});
}

QAction* MainWindow::AddAction(Command command, const QString& text, const QKeySequence& key, const QString& icon)
{
    auto* action = new QAction(text, this);
    if (!key.isEmpty())
        action->setShortcut(key);
    if (!icon.isEmpty())
        action->setIcon(QIcon(icon));
    actions_[command] = action;
    addAction(action); // accelerators work whatever page or menu shows
    return action;
}

void MainWindow::CreateActions()
{
    connect(AddAction(Command::NewProject, tr("&New Project"), QKeySequence(Qt::CTRL | Qt::Key_N)), &QAction::triggered,
            this, &MainWindow::NewProject);
    connect(AddAction(Command::Open, tr("&Open..."), QKeySequence(Qt::CTRL | Qt::Key_O)), &QAction::triggered, this,
            &MainWindow::OpenProject);
    connect(AddAction(Command::Save, tr("&Save"), QKeySequence(Qt::CTRL | Qt::Key_S)), &QAction::triggered, this,
            &MainWindow::SaveProject);
    connect(AddAction(Command::SaveAs, tr("Save &As...")), &QAction::triggered, this, &MainWindow::SaveProjectAs);
    connect(AddAction(Command::SaveDiscImage, tr("Save Disc &Image...")), &QAction::triggered, this, [this] {
        ShowPage(PageId::Burn);
        burn_->SaveDiscImage();
    });
    connect(AddAction(Command::Exit, tr("&Exit")), &QAction::triggered, this, &MainWindow::close);

    // Undo and Redo name the change they act on ("Undo Remove 3 Pictures"). In a text
    // field they are the field's own: Ctrl+Z while typing a label takes back the typing,
    // never a change made on another page.
    QUndoStack* undo = services_.Bridge().UndoStack();
    QAction* undoAction = undo->createUndoAction(this, tr("&Undo"));
    undoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    disconnect(undoAction, &QAction::triggered, undo, &QUndoStack::undo);
    connect(undoAction, &QAction::triggered, this, [undo] {
        if (!UndoInTextField(QApplication::focusWidget(), TextUndo::Undo))
            undo->undo();
    });
    actions_[Command::Undo] = undoAction;
    addAction(undoAction);
    QAction* redoAction = undo->createRedoAction(this, tr("&Redo"));
    redoAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    disconnect(redoAction, &QAction::triggered, undo, &QUndoStack::redo);
    connect(redoAction, &QAction::triggered, this, [undo] {
        if (!UndoInTextField(QApplication::focusWidget(), TextUndo::Redo))
            undo->redo();
    });
    actions_[Command::Redo] = redoAction;
    addAction(redoAction);

    // The album commands show the editor page and leave the work to it.
    const struct {
        Command command;
        QString text;
        QKeySequence key;
        void (EditorPage::*run)();
    } albumCommands[] = {
        {Command::NewAlbum, tr("&New Album"), QKeySequence(Qt::CTRL | Qt::Key_B), &EditorPage::NewAlbum},
        {Command::DeleteAlbum, tr("&Delete Album"), {}, &EditorPage::DeleteAlbum},
        {Command::RenameAlbum, tr("&Rename Album..."), QKeySequence(Qt::Key_F2), &EditorPage::RenameAlbum},
        {Command::AlbumProperties, tr("Album &Properties..."), {}, &EditorPage::AlbumProperties},
        {Command::AddPictures, tr("&Add Pictures..."), {}, &EditorPage::AddPictures},
    };
    for (const auto& album : albumCommands) {
        QAction* action = AddAction(album.command, album.text, album.key);
        const auto run = album.run;
        connect(action, &QAction::triggered, this, [this, run] {
            ShowPage(PageId::Editor);
            std::invoke(run, editor_);
        });
    }
    // Delete and Select All are the focused list's: from any other page, or with the focus
    // on a check box, they do nothing.
    connect(AddAction(Command::DeletePictures, tr("Delete"), QKeySequence(Qt::Key_Delete)), &QAction::triggered, this,
            &MainWindow::DeleteInFocusedList);
    connect(AddAction(Command::SelectAll, tr("Select All"), QKeySequence(Qt::CTRL | Qt::Key_A)), &QAction::triggered,
            this, &MainWindow::SelectAllInFocusedList);

    struct PageCommand {
        Command command;
        PageId page;
        QString text;
        QString buttonText;
        QString tooltip;
        int key;
        QString icon;
    };
    const PageCommand pages[] = {
        {Command::ShowEditor, PageId::Editor, tr("Album Editor"), tr("Editor"), tr("View editor panel"), Qt::Key_E,
         QStringLiteral(":/icons/editor.svg")},
        {Command::ShowDiscMenu, PageId::DiscMenu, tr("Disc Menu Window"), tr("Disc Menu"), tr("View disc menu"),
         Qt::Key_M, QStringLiteral(":/icons/discmenu.svg")},
        {Command::ShowPreview, PageId::Preview, tr("&Preview Window"), tr("Preview"), tr("View preview panel"),
         Qt::Key_P, QStringLiteral(":/icons/preview.svg")},
        {Command::ShowBurn, PageId::Burn, tr("CD Recorder Window"), tr("Burn CD"), tr("View burn panel"), Qt::Key_R,
         QStringLiteral(":/icons/burn.svg")},
    };
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    for (const PageCommand& page : pages) {
        QAction* action = AddAction(page.command, page.text, QKeySequence(Qt::CTRL | page.key), page.icon);
        action->setCheckable(true);
        action->setIconText(page.buttonText);
        action->setToolTip(page.tooltip);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, id = page.page] { ShowPage(id); });
    }

    connect(AddAction(Command::FindMissing, tr("Find &Missing Pictures...")), &QAction::triggered, this,
            &MainWindow::FindMissingPictures);
    connect(AddAction(Command::Options, tr("Options...")), &QAction::triggered, this, &MainWindow::ShowOptions);
    QAction* contents =
        AddAction(Command::HelpContents, tr("Contents"), QKeySequence(Qt::Key_F1), QStringLiteral(":/icons/help.svg"));
    contents->setIconText(tr("Help"));
    contents->setToolTip(tr("Open online help document"));
    connect(contents, &QAction::triggered, this, [this] { OpenHelp(QStringLiteral("intro.html")); });
    connect(AddAction(Command::QuickStart, tr("&Quick Start")), &QAction::triggered, this,
            [this] { OpenHelp(QStringLiteral("start.html")); });
    connect(AddAction(Command::Website, tr("Website of Lumivox")), &QAction::triggered, this,
            [this] { openUrl_(QUrl(QString::fromLatin1(kWebsiteAddress))); });
    connect(AddAction(Command::About, tr("&About Lumivox")), &QAction::triggered, this, &MainWindow::ShowAbout);
}

void MainWindow::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(Action(Command::NewProject));
    file->addAction(Action(Command::Open));
    file->addAction(Action(Command::Save));
    file->addAction(Action(Command::SaveAs));
    file->addSeparator();
    file->addAction(Action(Command::SaveDiscImage));
    file->addSeparator();
    file->addAction(Action(Command::Exit));

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(Action(Command::Undo));
    edit->addAction(Action(Command::Redo));
    edit->addSeparator();
    edit->addAction(Action(Command::DeletePictures));
    edit->addAction(Action(Command::SelectAll));
    edit->addSeparator();
    edit->addAction(Action(Command::FindMissing));

    QMenu* album = menuBar()->addMenu(tr("&Album"));
    album->addAction(Action(Command::NewAlbum));
    album->addAction(Action(Command::RenameAlbum));
    album->addAction(Action(Command::DeleteAlbum));
    album->addAction(Action(Command::AlbumProperties));
    album->addSeparator();
    album->addAction(Action(Command::AddPictures));

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(Action(Command::ShowEditor));
    view->addAction(Action(Command::ShowDiscMenu));
    view->addAction(Action(Command::ShowPreview));
    view->addAction(Action(Command::ShowBurn));
    view->addSeparator();
    view->addAction(Action(Command::Options));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(Action(Command::HelpContents));
    help->addAction(Action(Command::QuickStart));
    help->addAction(Action(Command::Website));
    help->addSeparator();
    help->addAction(Action(Command::About));
}

void MainWindow::CreateToolBar()
{
    toolBar_ = addToolBar(tr("Pages"));
    toolBar_->setObjectName(QStringLiteral("pageBar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(32, 32));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar_->setStyleSheet(QStringLiteral(
        "QToolBar#pageBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #f1ede3);"
        " border: none; border-bottom: 1px solid #ddd6c6; padding: 4px 8px; spacing: 6px; }"
        "QToolBar#pageBar QToolButton { min-width: 76px; padding: 4px 6px; border-radius: 8px;"
        " border: 1px solid transparent; color: #2f2c26; }"
        "QToolBar#pageBar QToolButton:hover { background: #f4efe2; border-color: #e2dac6; }"
        "QToolBar#pageBar QToolButton:checked { background: #e6eefb; border-color: #9db8e6; color: #1b3f7a; }"
        "QToolBar#pageBar::separator { background: #ddd6c6; width: 1px; margin: 8px 6px; }"));
    toolBar_->addAction(Action(Command::ShowEditor));
    toolBar_->addAction(Action(Command::ShowDiscMenu));
    toolBar_->addAction(Action(Command::ShowPreview));
    toolBar_->addAction(Action(Command::ShowBurn));
    toolBar_->addSeparator();
    toolBar_->addAction(Action(Command::HelpContents));
}

void MainWindow::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    bar->setMinimumHeight(24);
    auto* device = new QWidget(bar);
    device->setMinimumWidth(kDeviceStatusWidth);
    auto* deviceLayout = new QHBoxLayout(device);
    deviceLayout->setContentsMargins(4, 0, 4, 0);
    deviceLayout->setSpacing(6);
    auto* icon = new QLabel(device);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/drive.svg")).pixmap(16, 16));
    deviceLayout->addWidget(icon);
    deviceLabel_ = new QLabel(device);
    deviceLayout->addWidget(deviceLabel_, 1);
    // The drive and the totals are permanent: status tips and notes show to their left
    // and never hide them.
    totalsLabel_ = new QLabel(bar);
    bar->addPermanentWidget(totalsLabel_);
    bar->addPermanentWidget(device);
    deviceLabel_->setText(TranslateCoreText(kMsgNoWriter));
}

QString MainWindow::DeviceStatusText() const
{
    return deviceLabel_->text();
}
QString MainWindow::TotalsText() const
{
    return totalsLabel_->text();
}
bool MainWindow::IsOpening() const
{
    return opener_->IsRunning();
}

void MainWindow::UpdateTitle()
{
    setWindowTitle(WindowTitleFor(projectPath_, services_.Bridge().IsModified()));
}

void MainWindow::FindMissingPictures()
{
    AlbumTable& project = services_.Project();
    const int missing = project.MissingPictureCount();
    if (missing == 0)
        return;
    const QString folder = services_.Files().Folder(this, services_.Files().StartFolder());
    if (folder.isEmpty())
        return;
    int found = 0;
    // One step of the undo stack, like every change of the albums.
    services_.Bridge().Edit(tr("Find Missing Pictures"),
                            [&] { found = project.FindMissingPictures(folder.toStdString()); });
    services_.Messages().Information(
        this, found == missing ? tr("All %n missing picture(s) were found in %1.", nullptr, missing).arg(folder)
                               : tr("%1 of %n missing picture(s) were found in %2.", nullptr, missing)
                                     .arg(found)
                                     .arg(folder));
}

void MainWindow::UpdateTotals()
{
    totalsLabel_->setText(QString::fromStdString(services_.Project().StatusText()));
    if (const auto find = actions_.find(Command::FindMissing); find != actions_.end())
        find->second->setEnabled(services_.Project().MissingPictureCount() > 0);
}

void MainWindow::SetUpRecorders()
{
    RecorderSetup* recorders = &services_.Recorders();
    if (recorders->IsLooking()) {
        lookAgain_ = true; // with the settings as they are now
        return;
    }
    recorders->BeginLook();
    deviceLabel_->setText(tr("Looking for CD recorders..."));
    burn_->RecordersChanged();
    // The window is reached only through the link, which it cuts when it goes.
    recorderLook_.Run([this, recorders, link = link_, wanted = services_.UserSettings().recorder,
                       mode = services_.UserSettings().driver] {
        auto look = std::make_shared<RecorderLook>(recorders->Look(wanted, mode));
        link->Post([this, look] { RecordersFound(std::move(*look)); });
    });
}

bool MainWindow::IsLookingForRecorders() const
{
    return services_.Recorders().IsLooking() || lookAgain_;
}

void MainWindow::RecordersFound(RecorderLook look)
{
    const RecorderSetupResult result = services_.Recorders().Adopt(std::move(look), services_.UserSettings());
    if (result == RecorderSetupResult::TransportFailed)
        services_.Messages().Information(this, TranslateCoreText(kMsgTransportFailed));
    else if (result == RecorderSetupResult::DriverFailed)
        services_.Messages().Information(this, TranslateCoreText(kMsgDriverFailed));
    deviceLabel_->setText(services_.Recorders().DeviceStatus());
    UpdateTotals();
    burn_->RecordersChanged();
    if (lookAgain_) {
        lookAgain_ = false;
        SetUpRecorders();
        return;
    }
    emit recordersSetUp();
}

void MainWindow::RestorePlacement()
{
    const WindowPlacement& placement = services_.UserSettings().window;
    if (placement.maximized == 1) {
        setWindowState(windowState() | Qt::WindowMaximized);
        return;
    }
    if (placement.width <= 0 || placement.height <= 0)
        return;
    // A place on a screen that is no longer attached would hide the window: it then
    // opens where the system puts it.
    const QRect saved(placement.x, placement.y, placement.width, placement.height);
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(saved)) {
            setGeometry(saved);
            return;
        }
    }
}

void MainWindow::ShowPage(PageId page)
{
    // Leaving the preview, or coming back to it, always stops its playback.
    preview_->StopPlayback();
    const Command commands[] = {Command::ShowEditor, Command::ShowDiscMenu, Command::ShowPreview, Command::ShowBurn};
    Action(commands[static_cast<int>(page)])->setChecked(true);
    Page* const pages[] = {editor_, menu_, preview_, burn_};
    Page* target = pages[static_cast<int>(page)];
    stack_->setCurrentIndex(static_cast<int>(page));
    target->OnShown();
}

PageId MainWindow::CurrentPage() const
{
    return static_cast<PageId>(stack_->currentIndex());
}

bool MainWindow::MaybeSaveChanges()
{
    if (!services_.Bridge().IsModified())
        return true;
    const QString question = QStringLiteral("Save changes to %1?").arg(ProjectName(projectPath_));
    switch (services_.Messages().AskSaveChanges(this, question)) {
    case SaveChoice::Save:
        return SaveProject();
    case SaveChoice::Discard:
        return true;
    case SaveChoice::Cancel:
        break;
    }
    return false;
}

void MainWindow::NewProject()
{
    if (!MaybeSaveChanges())
        return;
    ShowPage(PageId::Editor);
    services_.Project().ResetProject();
    projectPath_.clear();
    lock_.Release();
    stamp_ = {};
    autosave_->Discard();
    menu_->ApplyDesign(ProjectDesign{});
    services_.Bridge().StartAfresh();
    UpdateTitle();
    UpdateTotals();
}

void MainWindow::OpenProject()
{
    if (!MaybeSaveChanges())
        return;
    const QString path = services_.Files().OpenProject(this);
    if (path.isEmpty())
        return;
    ShowPage(PageId::Editor);
    OpenProjectFile(path);
}

void MainWindow::OpenProjectFile(const QString& path)
{
    // One window writes a project at a time: a project open elsewhere is not opened here.
    const QString owner = recovering_ ? recoverFor_ : path;
    if (!owner.isEmpty() && ProjectLock::Key(owner.toStdString()) != lock_.Path()) {
        std::string error;
        if (!pendingLock_.Take(owner.toStdString(), &error)) {
            recovering_ = false;
            services_.Messages().Warning(this, QString::fromStdString(error));
            emit projectOpened(false);
            return;
        }
    }
    if (!openProgress_) {
        openProgress_ = new QProgressDialog(this);
        openProgress_->setWindowTitle(tr("Opening Project"));
        openProgress_->setWindowModality(Qt::WindowModal);
        openProgress_->setMinimumDuration(300);
        openProgress_->setAutoReset(false);
        openProgress_->setAutoClose(false);
        connect(openProgress_, &QProgressDialog::canceled, opener_, &ProjectOpener::Cancel);
        connect(opener_, &ProjectOpener::progress, openProgress_, [this](int done, int total) {
            openProgress_->setMaximum(std::max(total, 1));
            openProgress_->setValue(done);
            openProgress_->setLabelText(tr("Reading pictures: %1 of %2").arg(done).arg(total));
        });
    }
    openProgress_->setLabelText(tr("Reading %1...").arg(QFileInfo(path).fileName()));
    openProgress_->setRange(0, 0);
    openProgress_->reset();
    openProgress_->setValue(0);
    // Everything of the old project is replaced, so the whole of 99 albums is free.
    opener_->Start(path, openDecoder_);
}

void MainWindow::OpenFinished(const QString& path, const std::shared_ptr<DecodedProject>& decoded)
{
    if (openProgress_) {
        openProgress_->reset();
        openProgress_->hide();
    }
    const bool recovered = std::exchange(recovering_, false);
    if (decoded->cancelled) {
        pendingLock_.Release();
        emit projectOpened(false);
        return;
    }
    if (decoded->status != ProjectLoadStatus::Loaded) {
        // The project on screen stays as it was: a file that is no project loses nothing.
        pendingLock_.Release();
        services_.Project().ApplyDecodedProject(std::move(*decoded));
        emit projectOpened(false);
        return;
    }
    services_.Project().ResetProject();
    const ProjectLoadResult result = services_.Project().ApplyDecodedProject(std::move(*decoded));
    autosave_->Discard();
    if (recovered) {
        // The copy's changes belong to the project it was made of, and are not saved there.
        const QString copy = path;
        AdoptProjectFile(recoverFor_);
        ApplyDesign(result.design);
        services_.Bridge().StartAfresh();
        services_.Bridge().SetModified(true);
        Autosave::Remove({copy.toStdString(), recoverFor_.toStdString(), {}});
    } else {
        AdoptProjectFile(path);
        ApplyDesign(result.design);
        services_.Bridge().StartAfresh();
    }
    UpdateTitle();
    UpdateTotals();
    if (!result.skipped.empty()) {
        QStringList lines;
        for (std::size_t i = 0; i < result.skipped.size() && i < kSkippedListed; ++i) {
            const SkippedPicture& skipped = result.skipped[i];
            lines << QStringLiteral("%1: %2").arg(QString::fromStdString(skipped.path),
                                                  QString::fromStdString(skipped.reason));
        }
        if (result.skipped.size() > kSkippedListed)
            lines << tr("and %1 more").arg(result.skipped.size() - kSkippedListed);
        services_.Messages().Information(this, tr("%1 pictures of this project could not be loaded:\n%2")
                                                   .arg(result.skipped.size())
                                                   .arg(lines.join('\n')));
    }
    if (!result.missing.empty()) {
        QStringList lines;
        for (std::size_t i = 0; i < result.missing.size() && i < kSkippedListed; ++i)
            lines << QString::fromStdString(result.missing[i].path);
        if (result.missing.size() > kSkippedListed)
            lines << tr("and %1 more").arg(result.missing.size() - kSkippedListed);
        // The pictures are kept: saving now loses nothing, and they come back once found.
        if (services_.Messages().Question(
                this, tr("%n picture(s) of this project could not be found (a moved folder, or a drive that is not "
                         "connected):\n%1\n\nThey stay in their albums, marked, and are left off a disc made "
                         "meanwhile. Look for them in another folder?",
                         nullptr, static_cast<int>(result.missing.size()))
                         .arg(lines.join('\n'))))
            FindMissingPictures();
    }
    emit projectOpened(true);
}

bool MainWindow::SaveProject()
{
    if (projectPath_.isEmpty())
        return SaveProjectAs();
    return SaveTo(projectPath_);
}

bool MainWindow::SaveProjectAs()
{
    QString path = services_.Files().SaveProject(this, projectPath_);
    if (path.isEmpty())
        return false;
    // "Trip.2002" is a name, not a file of kind "2002": only ".lvx" ends a project name.
    if (!path.endsWith(QStringLiteral(".lvx"), Qt::CaseInsensitive))
        path += QStringLiteral(".lvx");
    return SaveTo(path);
}

void MainWindow::AdoptProjectFile(const QString& path)
{
    if (pendingLock_.Holds() || path.isEmpty())
        lock_ = std::move(pendingLock_);
    projectPath_ = path;
    stamp_ = path.isEmpty() ? FileStamp{} : FileStamp::Of(path.toStdString());
}

bool MainWindow::SaveTo(const QString& path)
{
    const bool sameFile = !projectPath_.isEmpty() && ProjectLock::Key(path.toStdString()) == lock_.Path();
    if (sameFile && stamp_.exists && FileStamp::Of(path.toStdString()) != stamp_) {
        // Another program (or another copy of this one) wrote the file meanwhile: the last
        // save would win in silence.
        switch (services_.Messages().AskChangedOnDisk(
            this, tr("%1 was changed by another program since it was opened here.").arg(ProjectName(path)))) {
        case ChangedChoice::Reload:
            services_.Bridge().SetModified(false);
            OpenProjectFile(path);
            return false;
        case ChangedChoice::Overwrite:
            break;
        case ChangedChoice::Cancel:
            return false;
        }
    }
    if (!sameFile) {
        std::string lockError;
        if (!pendingLock_.Take(path.toStdString(), &lockError)) {
            services_.Messages().Warning(this, QString::fromStdString(lockError));
            return false;
        }
    }
    std::string error;
    const ProjectDesign design = menu_->Design();
    if (!services_.Project().SaveProject(path.toStdString(), &error, &design)) {
        pendingLock_.Release();
        services_.Messages().Warning(this, TranslateCoreText(error));
        return false;
    }
    AdoptProjectFile(path);
    autosave_->Discard();
    services_.Bridge().SetModified(false);
    UpdateTitle();
    return true;
}

void MainWindow::ShowOptions()
{
    OptionsDialog dialog(services_.UserSettings(), services_.Files(), services_.Messages(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const OptionsChanges changes = AcceptOptions(services_.UserSettings(), &services_.Project(), dialog.Values());
    services_.Project().SetDefaultWaitTime(services_.UserSettings().waitTime);
    if (changes.forceAspiChanged) {
        SetUpRecorders();
    } else if (changes.writingModeChanged && services_.Recorders().IsLooking()) {
        SetUpRecorders(); // looks once more when the look going now ends, in the new mode
    } else if (changes.writingModeChanged && !services_.Recorders().Drives().empty()) {
        // The selected drive's new driver is made off the window's thread; the burn page
        // is busy meanwhile and says when it could not be made.
        services_.Recorders().ChangeDriverLater(
            services_.UserSettings(), services_.Recorders().SelectedIndex(), true, burn_->Link(),
            [burn = burn_](RecorderSetupResult result) { burn->DriverMade(result); });
        burn_->RecordersChanged();
    }
}

void MainWindow::ShowAbout()
{
    AboutDialog about(this);
    about.exec();
}

void MainWindow::ShowHelpWindow(const QUrl& page)
{
    if (!helpWindow_) {
        helpWindow_ = new QDialog(this);
        helpWindow_->setObjectName(QStringLiteral("helpWindow"));
        helpWindow_->setWindowTitle(tr("Lumivox Help"));
        auto* layout = new QVBoxLayout(helpWindow_);
        auto* browser = new QTextBrowser(helpWindow_);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        browser->setOpenExternalLinks(true);
        layout->addWidget(browser);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, helpWindow_);
        connect(buttons, &QDialogButtonBox::rejected, helpWindow_, &QWidget::close);
        layout->addWidget(buttons);
        helpWindow_->resize(QSize(720, 560).boundedTo(size()));
    }
    helpWindow_->findChild<QTextBrowser*>(QStringLiteral("helpBrowser"))->setSource(page);
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void MainWindow::OpenHelp(const QString& page)
{
    const QString file =
        QString::fromStdString(services_.UserSettings().programFolder) + QStringLiteral("help/") + page;
    openUrl_(QUrl::fromLocalFile(file));
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!MaybeSaveChanges()) {
        event->ignore();
        return;
    }
    // Saved or dropped: nothing is left to recover, and the project is free for others.
    autosave_->Discard();
    lock_.Release();
    opener_->Cancel();
    preview_->StopPlayback();
    services_.Music().Stop();
    WindowPlacement& placement = services_.UserSettings().window;
    placement.maximized = isMaximized() ? 1 : 0;
    placement.x = geometry().x();
    placement.y = geometry().y();
    placement.width = geometry().width();
    placement.height = geometry().height();
    std::string error;
    if (saveSettings_ && !saveSettings_(&error))
        services_.Messages().Warning(this, tr("Your settings could not be saved; they will be lost when Lumivox "
                                              "ends:\n%1")
                                               .arg(TranslateCoreText(error)));
    event->accept();
}

void MainWindow::DeleteInFocusedList()
{
    if (CurrentPage() != PageId::Editor)
        return;
    QWidget* focus = QApplication::focusWidget();
    if (focus == editor_->SlideView())
        editor_->RemoveSelectedSlides();
    else if (focus == editor_->AlbumView())
        editor_->DeleteAlbum();
}

void MainWindow::SelectAllInFocusedList()
{
    if (CurrentPage() != PageId::Editor)
        return;
    QWidget* focus = QApplication::focusWidget();
    if (focus == editor_->SlideView())
        editor_->SlideView()->selectAll();
    else if (focus == editor_->FileView())
        editor_->SelectAll();
}

void MainWindow::ApplyDesign(const ProjectDesign& design)
{
    // A project of an older writer keeps the design on screen.
    if (!design.present)
        return;
    const QStringList missing = menu_->ApplyDesign(design);
    if (!missing.isEmpty())
        services_.Messages().Information(
            this, tr("Some files of this project's disc menu could not be found and are not used:\n%1")
                      .arg(missing.join('\n')));
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape never close the main window or act on it.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

} // namespace lumivox::ui

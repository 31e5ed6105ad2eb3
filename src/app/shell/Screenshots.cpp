// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/Screenshots.h"

#include "logic/CoreText.h"

#include "burn/BurnPage.h"
#include "burn/EraseDialog.h"
#include "burn/ProgressDialog.h"
#include "burn/TextProgressBar.h"
#include "discmenu/MenuPage.h"
#include "editor/EditorDialogs.h"
#include "editor/EditorModels.h"
#include "editor/EditorPage.h"
#include "preview/PreviewPage.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/RecorderSetup.h"
#include "shell/AboutDialog.h"
#include "services/AppServices.h"
#include "shell/MainWindow.h"

#include "project/AlbumTable.h"
#include "shell/OptionsDialog.h"

#include "base/Paths.h"
#include "recorder/DriveDatabase.h"
#include "recorder/RecorderDriver.h"
#include "recorder/Scsi.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace lumivox::ui {

namespace {

// Long enough for layouts, pixmaps and the window system to catch up.
constexpr int kSettleMilliseconds = 400;
// A project of the sample's size opens in well under this.
constexpr int kOpenTimeoutMilliseconds = 60000;
// The sample's menu and slides are made and a fifth of its disc written within this.
constexpr int kBurnTimeoutMilliseconds = 180000;

void Settle(int milliseconds = kSettleMilliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(QWidget& widget, const QString& outDir, const QString& name)
{
    const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
    const bool saved = widget.grab().save(path);
    std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// The progress dialog mid-burn: the project burnt to an emulated recorder that writes at
// twice the single speed, caught while it writes, then cancelled.
bool SaveProgressShot(MainWindow& window, const QString& outDir)
{
    QTemporaryDir folder;
    RecorderDrive drive;
    drive.vendor = "LUMIVOX ";
    drive.product = "EMULATED CD-RW";
    drive.device = "emulated:" + folder.path().toStdString() + "?speed=2";
    BurnPage* page = window.Burn();
    page->BurnOn(drive, RunKind::Burn);
    // The disc's size is measured and the disc checked on workers; the dialog opens after.
    QDeadlineTimer checked(kBurnTimeoutMilliseconds);
    while (!page->CurrentProgress() && (page->IsBusy() || page->IsEstimating() || page->HasDeferredRun()) &&
           !checked.hasExpired())
        Settle(20);
    ProgressDialog* dialog = page->CurrentProgress();
    if (!dialog) {
        std::fprintf(stderr, "could not start the burn of the progress shot\n");
        return false;
    }
    QDeadlineTimer deadline(kBurnTimeoutMilliseconds);
    while (!deadline.hasExpired() && !dialog->IsFinished() &&
           !(dialog->MessageText() == TranslateCoreText(kTextWriting) && dialog->Bar()->Position() >= 60))
        Settle(50);
    Settle(1100); // the elapsed time and the estimate catch up
    const bool saved = Save(*dialog, outDir, QStringLiteral("progress"));
    if (std::shared_ptr<BurnRun> run = page->LastRun())
        run->Cancel();
    while (!dialog->IsFinished() && !deadline.hasExpired())
        Settle(50);
    dialog->reject();
    while (page->IsBusy() && !deadline.hasExpired())
        Settle(20); // the run lets go of the drive
    return saved;
}

bool SaveEraseShot(MainWindow& window, const AppServices& services, const QString& outDir)
{
    QTemporaryDir folder;
    std::string error;
    auto transport = OpenTransport("emulated:" + folder.path().toStdString() + "?disc=cdrw", &error);
    if (!transport) {
        std::fprintf(stderr, "could not open the emulated recorder: %s\n", error.c_str());
        return false;
    }
    auto driver = MakeDriver(DriverKind::Mmc, *transport);
    EraseDialog erase(*driver, services.Messages(), nullptr, &window);
    erase.Methods()->setCurrentRow(1);
    erase.show();
    Settle();
    const bool saved = Save(erase, outDir, QStringLiteral("erase"));
    erase.close();
    return saved;
}

// The sample's three albums fit on one menu page: a few more, made in memory from the
// sample's pictures, give the menu page a second page to show.
void AddMenuAlbums(AlbumTable& project)
{
    if (project.AlbumCount() == 0 || project.PictureCount(0) == 0)
        return;
    const char* const names[] = {"Harbour Lights", "Autumn Market", "Garden Party", "Night Train", "Old Town"};
    int source = 0;
    for (const char* name : names) {
        const int album = project.AddAlbum(name);
        if (album < 0)
            return;
        const int from = source++ % project.AlbumCount();
        if (project.PictureCount(from) > 0)
            project.AddPictureToAlbum(album, project.Picture(from, project.PictureCount(from) - 1).path);
    }
}

// The disc menu's second page, once drawn (the page draws on its worker).
void ShowNextMenuPage(MenuPage& menu)
{
    menu.ShowNextPage();
    QEventLoop wait;
    QObject::connect(&menu, &MenuPage::pageDrawn, &wait, &QEventLoop::quit);
    QTimer::singleShot(kOpenTimeoutMilliseconds, &wait, &QEventLoop::quit);
    if (menu.IsDrawing())
        wait.exec();
}

// The preview in the middle of the first album's slide show.
void StartSlideShow(PreviewPage& preview)
{
    preview.StartPlayback();
    QEventLoop wait;
    QObject::connect(&preview, &PreviewPage::screenChanged, &wait, &QEventLoop::quit);
    QTimer::singleShot(kOpenTimeoutMilliseconds, &wait, &QEventLoop::quit);
    preview.PlayEntry(1);
    if (preview.IsShowingSlides())
        wait.exec();
}

// The preview with playback control off, showing the first album's title card of the
// slideshow track (as the burn page's estimate says the disc gets it).
void StartTrack(PreviewPage& preview)
{
    preview.StopPlayback();
    preview.SetPlaybackControl(false);
    QEventLoop wait;
    QObject::connect(&preview, &PreviewPage::screenChanged, &wait, [&] {
        if (!preview.ScreenImage().isNull())
            wait.quit();
    });
    QTimer::singleShot(kOpenTimeoutMilliseconds, &wait, &QEventLoop::quit);
    preview.StartPlayback();
    if (preview.IsShowingSlides())
        wait.exec();
}

// The bundled sample photos: the editor's file list shows them.
QString SamplesFolder()
{
    for (const QString& folder : {QStringLiteral(LUMIVOX_SOURCE_DIR "/samples"),
                                  QString::fromStdString(ProgramFolder()) + QStringLiteral("samples")})
        if (QDir(folder).exists())
            return folder;
    return {};
}

// The editor on the sample photos in thumbnails view, its thumbnails made, the current
// album's first slide selected.
void PrepareEditor(EditorPage& editor)
{
    editor.SetListStyle(ListStyle::Thumbnails);
    editor.ShowFolder(SamplesFolder());
    QEventLoop wait;
    QObject::connect(editor.FileModel(), &FileListModel::thumbnailsFinished, &wait, &QEventLoop::quit);
    QTimer::singleShot(kOpenTimeoutMilliseconds, &wait, &QEventLoop::quit);
    if (editor.FileModel()->IsMakingThumbnails())
        wait.exec();
    editor.SelectFiles({0});
    editor.SelectSlides({0});
}

} // namespace

QString WriteSampleProject(const QString& folder)
{
    QStringList candidates = {QStringLiteral(LUMIVOX_SOURCE_DIR "/samples"),
                              QString::fromStdString(ProgramFolder()) + QStringLiteral("samples")};
    for (const QString& samples : candidates) {
        QFile in(samples + QStringLiteral("/sample.lvx.in"));
        if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        QString text = QString::fromUtf8(in.readAll());
        text.replace(QStringLiteral("@SAMPLES@"), samples);
        const QString path = QDir(folder).filePath(QStringLiteral("sample.lvx"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return {};
        out.write(text.toUtf8());
        return path;
    }
    return {};
}

int RunScreenshots(MainWindow& window, const AppServices& services, const QString& outDir, const QString& project)
{
    QDir().mkpath(outDir);
    // The window fills the screen it is shown on (the script picks the screen's size), and
    // says so when it cannot: a window larger than the screen is cut on the user's desk.
    QRect screen(0, 0, 1280, 800);
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary && QGuiApplication::platformName() != QStringLiteral("offscreen"))
        screen = primary->availableGeometry();
    window.setGeometry(screen);
    window.show();
    Settle();
    if (window.width() > screen.width() || window.height() > screen.height())
        std::fprintf(stderr, "the window (%d x %d) does not fit the screen (%d x %d)\n", window.width(),
                     window.height(), screen.width(), screen.height());
    if (!project.isEmpty()) {
        QEventLoop wait;
        QObject::connect(&window, &MainWindow::projectOpened, &wait, &QEventLoop::quit);
        QTimer::singleShot(kOpenTimeoutMilliseconds, &wait, &QEventLoop::quit);
        window.OpenProjectFile(project);
        wait.exec();
        AddMenuAlbums(services.Project());
    }
    bool ok = true;
    const struct {
        PageId page;
        const char* name;
    } pages[] = {
        {PageId::Editor, "editor"}, {PageId::DiscMenu, "menu"}, {PageId::Preview, "preview"}, {PageId::Burn, "burn"}};
    for (const auto& page : pages) {
        window.ShowPage(page.page);
        if (page.page == PageId::Editor)
            PrepareEditor(*window.Editor());
        else if (page.page == PageId::DiscMenu)
            ShowNextMenuPage(*window.DiscMenu());
        else if (page.page == PageId::Preview)
            StartSlideShow(*window.Preview());
        Settle();
        ok = Save(window, outDir, QString::fromLatin1(page.name)) && ok;
    }

    window.ShowPage(PageId::Preview);
    StartTrack(*window.Preview());
    Settle();
    ok = Save(window, outDir, QStringLiteral("preview-track")) && ok;
    window.Preview()->SetPlaybackControl(true);

    if (const QList<int> slides = window.Editor()->SelectedSlides(); !slides.isEmpty()) {
        const AlbumTable& projectTable = services.Project();
        const PictureItem& picture = projectTable.Picture(projectTable.CurrentAlbum(), slides.front());
        PictureViewer viewer(QString::fromStdString(picture.path), picture.rotation, ViewerRotation::Allowed, &window);
        viewer.EnsureDecoded();
        viewer.show();
        Settle();
        ok = Save(viewer, outDir, QStringLiteral("viewer")) && ok;
        viewer.close();
    }

    OptionsDialog options(services.UserSettings(), services.Files(), services.Messages(), &window);
    options.show();
    Settle();
    ok = Save(options, outDir, QStringLiteral("options")) && ok;
    options.close();

    window.ShowPage(PageId::Burn);
    ok = SaveProgressShot(window, outDir) && ok;
    ok = SaveEraseShot(window, services, outDir) && ok;

    AboutDialog about(&window);
    about.show();
    Settle();
    ok = Save(about, outDir, QStringLiteral("about")) && ok;
    about.close();
    return ok ? 0 : 1;
}

} // namespace lumivox::ui

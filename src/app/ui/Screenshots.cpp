#include "ui/Screenshots.h"

#include "ui/AboutDialog.h"
#include "ui/AppContext.h"
#include "ui/MainWindow.h"
#include "ui/MenuPage.h"
#include "ui/MessageBoxes.h"
#include "ui/PreviewPage.h"

#include "project/AlbumTable.h"
#include "ui/OptionsDialog.h"

#include "base/Paths.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace lumivox::ui {

namespace {

// Long enough for layouts, pixmaps and the window system to catch up.
constexpr int kSettleMilliseconds = 400;
// A project of the sample's size opens in well under this.
constexpr int kOpenTimeoutMilliseconds = 60000;

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

int RunScreenshots(MainWindow& window, const AppContext& context, const QString& outDir, const QString& project)
{
    QDir().mkpath(outDir);
    window.setGeometry(0, 0, 1280, 800);
    window.show();
    Settle();
    if (!project.isEmpty()) {
        QEventLoop wait;
        QObject::connect(&window, &MainWindow::projectOpened, &wait, &QEventLoop::quit);
        QTimer::singleShot(kOpenTimeoutMilliseconds, &wait, &QEventLoop::quit);
        window.OpenProjectFile(project);
        wait.exec();
        AddMenuAlbums(*context.project);
    }
    bool ok = true;
    const struct {
        PageId page;
        const char* name;
    } pages[] = {{PageId::Editor, "editor"}, {PageId::DiscMenu, "menu"}, {PageId::Preview, "preview"}, {PageId::Burn, "burn"}};
    for (const auto& page : pages) {
        window.ShowPage(page.page);
        if (page.page == PageId::DiscMenu)
            window.DiscMenu()->ShowNextPage();
        else if (page.page == PageId::Preview)
            StartSlideShow(*window.Preview());
        Settle();
        ok = Save(window, outDir, QString::fromLatin1(page.name)) && ok;
    }

    OptionsDialog options(*context.settings, *context.files, *context.messages, &window);
    options.show();
    Settle();
    ok = Save(options, outDir, QStringLiteral("options")) && ok;
    options.close();

    AboutDialog about(&window);
    about.show();
    Settle();
    ok = Save(about, outDir, QStringLiteral("about")) && ok;
    about.close();
    return ok ? 0 : 1;
}

} // namespace lumivox::ui

#include "ui/Screenshots.h"

#include "ui/AboutDialog.h"
#include "ui/AppContext.h"
#include "ui/EditorDialogs.h"
#include "ui/EditorModels.h"
#include "ui/EditorPage.h"
#include "ui/MainWindow.h"
#include "ui/MessageBoxes.h"
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
    }
    bool ok = true;
    const struct {
        PageId page;
        const char* name;
    } pages[] = {{PageId::Editor, "editor"}, {PageId::DiscMenu, "menu"}, {PageId::Preview, "preview"}, {PageId::Burn, "burn"}};
    for (const auto& page : pages) {
        window.ShowPage(page.page);
        if (page.page == PageId::Editor)
            PrepareEditor(*window.Editor());
        Settle();
        ok = Save(window, outDir, QString::fromLatin1(page.name)) && ok;
    }

    if (const QList<int> slides = window.Editor()->SelectedSlides(); !slides.isEmpty()) {
        const AlbumTable& projectTable = *context.project;
        const PictureItem& picture = projectTable.Picture(projectTable.CurrentAlbum(), slides.front());
        PictureViewer viewer(QString::fromStdString(picture.path), picture.rotation, ViewerRotation::Allowed, &window);
        viewer.EnsureDecoded();
        viewer.show();
        Settle();
        ok = Save(viewer, outDir, QStringLiteral("viewer")) && ok;
        viewer.close();
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

// SPDX-License-Identifier: GPL-2.0-or-later
// How long the desktop program's window goes unserved while it works. The main window,
// offscreen, is driven through the heavy moments of a session, and a timer that should
// fire every 5 ms measures the longest gap of the window's event loop in each:
//
//   opening a project of 20 albums x 90 pictures (camera photos)
//   adding 90 pictures to a new album, and turning them
//   playing the preview for 5 s
//   looking for the recorders, ejecting and closing the tray of an emulated drive whose
//   every command takes 3 s (command-ms=3000)
//
// Each line prints the longest stall against the reference of 100 ms (target: a ratio of
// at most 1). Nothing is sent to a real drive.
//
// Usage: bench_window [PHOTO_FOLDER]   (default /tmp/lumivox-bench-photos, made by
//        bench/make_bench_photos.py; any folder of JPEG files will do)

#include "base/Parallel.h"
#include "base/Paths.h"
#include "burn/BurnPage.h"
#include "discmenu/MenuPage.h"
#include "editor/EditorPage.h"
#include "preview/PreviewPage.h"
#include "production/ProductionSetup.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/AppServices.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/MusicService.h"
#include "services/QtWaveOutput.h"
#include "services/RecorderSetup.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <functional>

using namespace lumivox;
using namespace lumivox::ui;

namespace {

constexpr double kReferenceMs = 100.0;

// Answers every box without showing it: a benchmark has no one to click.
class SilentBoxes final : public MessageBoxes {
public:
    void Information(QWidget*, const QString&) override { }
    void Warning(QWidget*, const QString&) override { }
    bool Question(QWidget*, const QString&) override { return true; }
    SaveChoice AskSaveChanges(QWidget*, const QString&) override { return SaveChoice::Discard; }
    ChangedChoice AskChangedOnDisk(QWidget*, const QString&) override { return ChangedChoice::Cancel; }
};

class NoFiles final : public FileChooser {
public:
    QString OpenProject(QWidget*) override { return {}; }
    QString SaveProject(QWidget*, const QString&) override { return {}; }
    QStringList OpenPictures(QWidget*) override { return {}; }
    QString Folder(QWidget*, const QString&) override { return {}; }
    QString SaveDiscImage(QWidget*, const QString&) override { return {}; }
};

// The longest time between two turns of the event loop, as a 5 ms timer sees it.
class StallMeter {
public:
    StallMeter()
    {
        tick_.setInterval(5);
        QObject::connect(&tick_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void Start()
    {
        longest_ = 0;
        last_ = 0;
        clock_.start();
        tick_.start();
    }
    qint64 Stop()
    {
        tick_.stop();
        return std::max(longest_, clock_.elapsed() - last_);
    }

private:
    QTimer tick_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
};

// Runs the event loop until done() holds or limitMs pass; false on the limit.
bool RunUntil(const std::function<bool()>& done, int limitMs)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    bool met = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        met = done();
        if (met || waited.elapsed() > limitMs)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    return met;
}

void Report(const char* phase, qint64 stallMs, bool finished, double seconds)
{
    std::printf("%-52s %6lld ms  ratio %.2f  (%.1f s%s)\n", phase, static_cast<long long>(stallMs),
                static_cast<double>(stallMs) / kReferenceMs, seconds, finished ? "" : ", did not finish");
}

// The processor time of the whole program so far (every thread), in seconds.
double ProcessorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    qputenv("LUMIVOX_SYSTEM_DRIVES", "0"); // the emulated drive only
    QTemporaryDir scratch;
    const QString driveFolder = scratch.filePath(QStringLiteral("drive"));
    QDir().mkpath(driveFolder);
    qputenv("LUMIVOX_EMULATED_RECORDER", ("emulated:" + driveFolder + "?command-ms=3000").toUtf8());
    QApplication app(argc, argv);

    const QString photoFolder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/lumivox-bench-photos");
    QStringList photos;
    for (const QString& name :
         QDir(photoFolder).entryList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")}, QDir::Files, QDir::Name))
        photos << QDir(photoFolder).filePath(name);
    if (photos.isEmpty()) {
        std::fprintf(stderr, "bench_window: no JPEG files in %s (make them with bench/make_bench_photos.py)\n",
                     qPrintable(photoFolder));
        return 1;
    }

    Settings settings;
    settings.programFolder = ProgramFolder();
    settings.tempDir = scratch.path().toStdString() + "/";
    AlbumTable project;
    project.ResetProject();
    AppServices::Parts parts;
    parts.messages = std::make_unique<SilentBoxes>();
    parts.files = std::make_unique<NoFiles>();
    parts.music = std::make_unique<MusicService>();
    parts.recorders = MakeSystemRecorderBackend();
    AppServices services(settings, project, std::move(parts));
    MainWindow window(services);
    window.Editor()->SetDialogRunner([](QDialog&) { return int(QDialog::Accepted); });
    window.resize(1280, 800);
    window.show();
    StallMeter meter;
    QElapsedTimer phase;

    std::printf("the window's longest stall per phase, against %.0f ms; photos: %lld from %s\n", kReferenceMs,
                static_cast<long long>(photos.size()), qPrintable(photoFolder));

    // Looking for the recorders: each one is asked what it is (3 s a command here).
    meter.Start();
    phase.start();
    window.SetUpRecorders();
    bool finished = RunUntil([&] { return !window.IsLookingForRecorders(); }, 120000);
    Report("looking for the recorders (3 s a command)", meter.Stop(), finished, phase.elapsed() / 1000.0);

    // Opening a project of 20 albums of 90 pictures.
    const QString projectPath = scratch.filePath(QStringLiteral("big.lvx"));
    {
        std::string text = "[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=20\n";
        int next = 0;
        for (int a = 1; a <= 20; ++a) {
            text += "[Album_" + std::string(a < 10 ? "0" : "") + std::to_string(a) + "]\nName=Album " +
                    std::to_string(a) + "\ninterval=5\nImage_Count=90\n";
            for (int i = 1; i <= 90; ++i)
                text += "Image_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "=" +
                        photos.at(next++ % photos.size()).toStdString() + "\n";
        }
        QFile file(projectPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.c_str()) < 0)
            return 1;
    }
    bool opened = false;
    QObject::connect(&window, &MainWindow::projectOpened, [&](bool) { opened = true; });
    meter.Start();
    phase.start();
    const double processorBefore = ProcessorSeconds();
    window.OpenProjectFile(projectPath);
    finished = RunUntil([&] { return opened; }, 600000);
    const double openingSeconds = phase.elapsed() / 1000.0;
    Report("opening a project of 20 x 90 pictures", meter.Stop(), finished, openingSeconds);
    // Its decodes run on every core: the cores kept busy on average while it opened.
    std::printf("%-52s %6.2f of %d\n", "  cores busy while it opened",
                (ProcessorSeconds() - processorBefore) / openingSeconds, WorkerBudget());

    // Adding 90 pictures to a new album.
    meter.Start();
    phase.start();
    window.ShowPage(PageId::Editor);
    window.Editor()->NewAlbum();
    const int album = project.AlbumCount() - 1;
    QStringList ninety;
    for (int i = 0; i < 90; ++i)
        ninety << photos.at(i % photos.size());
    window.Editor()->AddFiles(ninety, PictureSource::Path);
    finished = RunUntil([&] { return !window.Editor()->IsAdding() && project.PictureCount(album) == 90; }, 600000);
    Report("adding 90 pictures to a new album", meter.Stop(), finished, phase.elapsed() / 1000.0);

    // Turning the 90 new slides.
    meter.Start();
    phase.start();
    QList<int> all;
    for (int i = 0; i < project.PictureCount(album); ++i)
        all << i;
    window.Editor()->SelectSlides(all);
    window.Editor()->RotateSelectedSlides(Rotation::Clockwise);
    RunUntil([] { return false; }, 500);
    Report("turning 90 slides", meter.Stop(), true, phase.elapsed() / 1000.0);

    // The disc menu with a camera photo as its background, and the templates switched.
    window.ShowPage(PageId::DiscMenu);
    MenuPage* menu = window.DiscMenu();
    RunUntil([&] { return !menu->IsDrawing(); }, 60000);
    meter.Start();
    phase.start();
    menu->SetFileAsker([&](QWidget*, const QString&, const QString&) { return photos.front(); });
    menu->ChooseBackground();
    for (const char* name : {"slate.ini", "sunset.ini", "classic.ini"}) {
        menu->SelectTemplate(QString::fromLatin1(name));
        RunUntil([&] { return !menu->IsDrawing(); }, 60000);
        RunUntil([] { return false; }, 200);
    }
    Report("a 12 MP background, then three templates", meter.Stop(), true, phase.elapsed() / 1000.0);

    // Playing the preview.
    window.ShowPage(PageId::Preview);
    meter.Start();
    phase.start();
    window.Preview()->StartPlayback();
    RunUntil([] { return false; }, 5000);
    window.Preview()->StopPlayback();
    Report("playing the preview for 5 s", meter.Stop(), true, phase.elapsed() / 1000.0);

    // The burn page's drive commands.
    window.ShowPage(PageId::Burn);
    BurnPage* burn = window.Burn();
    for (const auto& [name, command] : std::initializer_list<std::pair<const char*, void (BurnPage::*)()>>{
             {"ejecting (3 s a command)", &BurnPage::Eject},
             {"closing the tray (3 s a command)", &BurnPage::CloseTray}}) {
        meter.Start();
        phase.start();
        (burn->*command)();
        finished = RunUntil([&] { return !burn->IsBusy(); }, 120000);
        Report(name, meter.Stop(), finished, phase.elapsed() / 1000.0);
    }
    window.close();
    return 0;
}

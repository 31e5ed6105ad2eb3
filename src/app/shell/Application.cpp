// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/Application.h"
#include "shell/Resources.h"

#include "base/Paths.h"
#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/AppServices.h"
#include "services/FileChooser.h"
#include "services/MessageBoxes.h"
#include "services/MusicService.h"
#include "services/RecorderSetup.h"
#include "shell/AboutDialog.h"
#include "shell/MainWindow.h"
#include "shell/Screenshots.h"
#include "shell/SplashWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>

namespace lumivox::ui {

int RunLumivox(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumivox"));
    QApplication::setApplicationVersion(QStringLiteral(LUMIVOX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("lumivox"));
    EnsureResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/lumivox.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Turns photo albums into a Video CD and burns it."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption screenshots(QStringLiteral("screenshots"),
                                   QStringLiteral("Save a picture of every page and dialog into OUTDIR and quit."),
                                   QStringLiteral("OUTDIR"));
    parser.addOption(screenshots);
    parser.addPositionalArgument(QStringLiteral("project"), QStringLiteral("A Lumivox project (.lvx) to open."),
                                 QStringLiteral("[PROJECT.lvx]"));
    parser.process(app);
    const QStringList arguments = parser.positionalArguments();
    const bool screenshotMode = parser.isSet(screenshots);

    Settings& settings = Settings::Instance();
    settings.Load(SettingsLocations::ForThisProgram());
    // The user's language, from the installed translations beside the program's data
    // ("translations/lumivox_<locale>.qm"), and Qt's own texts (the standard buttons).
    QTranslator qtTexts;
    QTranslator ownTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTexts);
    if (ownTexts.load(QLocale(), QStringLiteral("lumivox"), QStringLiteral("_"),
                      QString::fromStdString(settings.programFolder) + QStringLiteral("translations")))
        QCoreApplication::installTranslator(&ownTexts);
    AlbumTable& project = AlbumTable::Instance();
    project.SetDefaultWaitTime(settings.waitTime);
    project.InitialiseWaitTimes(settings.waitTime);
    AppServices::Parts parts;
    parts.messages = std::make_unique<QtMessageBoxes>();
    parts.files = std::make_unique<QtFileChooser>();
    parts.music = std::make_unique<MusicService>();
    parts.recorders = MakeSystemRecorderBackend();
    AppServices services(settings, project, std::move(parts));

    if (!screenshotMode)
        (new SplashWindow)->show();
    MainWindow window(services);
    window.SetUpRecorders();

    if (screenshotMode) {
        // The pictures show the drives as found: the event loop runs until the look ends.
        if (window.IsLookingForRecorders()) {
            QEventLoop look;
            QObject::connect(&window, &MainWindow::recordersSetUp, &look, &QEventLoop::quit);
            look.exec();
        }
        QString projectPath = arguments.value(0);
        QTemporaryDir scratch;
        if (projectPath.isEmpty() && scratch.isValid())
            projectPath = WriteSampleProject(scratch.path());
        // The screenshot program leaves the saved settings as they were.
        return RunScreenshots(window, services, parser.value(screenshots), projectPath);
    }

    // The settings are written as the window closes, so that a failure can still be told
    // to the user rather than only to standard error.
    window.SetSettingsSaver([&settings](std::string* error) {
        if (settings.Save(ConfigFilePath(), error))
            return true;
        std::fprintf(stderr, "lumivox: %s\n", error->c_str());
        return false;
    });
    window.RestorePlacement();
    window.show();
    // A settings file that could not be read leaves every setting at its default: the user
    // is told once, before anything is made with them.
    if (!settings.LoadWarning().empty())
        services.Messages().Warning(&window, QString::fromStdString(settings.LoadWarning()));
    if (!arguments.isEmpty())
        window.OpenProjectFile(arguments.constFirst());
    else
        window.OfferRecovery(); // changes a crash left unsaved (kept for a later start otherwise)
    return app.exec();
}

} // namespace lumivox::ui

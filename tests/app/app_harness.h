// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The one harness that builds the desktop program's services for every UI test: settings
// and a project of the test's own, the real project bridge, disc menu state and recorder
// set-up, and stand-ins for the message boxes, the file chooser, the sound output and the
// drives. Tests reach the stand-ins through the harness and the pages' widgets by object
// name (Find).

#include "app_fakes.h"

#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/AppServices.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/RecorderSetup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace lumivox::test {

inline const QString kInstalledTemplates = QStringLiteral(LUMIVOX_BIN_DIR "/template/");

struct HarnessOptions {
    // A program folder of the test's own holding the installed "Classic" template, for
    // tests that change or add templates; otherwise the build's program folder.
    bool ownProgramFolder = false;
    std::vector<ui::RecorderDrive> drives;
    bool transportOk = true;
    bool driverOk = true;
    bool audioOutput = true;
};

class UiHarness {
public:
    explicit UiHarness(HarnessOptions options = {})
    {
        programFolder = QStringLiteral(LUMIVOX_BIN_DIR "/");
        if (options.ownProgramFolder) {
            programFolder = work.path() + QStringLiteral("/program/");
            const QString classic = programFolder + QStringLiteral("template/classic/");
            QDir().mkpath(classic);
            for (const QString& file : QDir(kInstalledTemplates + QStringLiteral("classic")).entryList(QDir::Files))
                QFile::copy(kInstalledTemplates + QStringLiteral("classic/") + file, classic + file);
            QFile::copy(kInstalledTemplates + QStringLiteral("classic.ini"),
                        programFolder + QStringLiteral("template/classic.ini"));
        }
        settings.programFolder = programFolder.toStdString();
        settings.tempDir = work.path().toStdString() + "/temp/";
        output.open = options.audioOutput;

        ui::AppServices::Parts parts;
        auto fakeMessages = std::make_unique<FakeMessageBoxes>();
        auto fakeFiles = std::make_unique<FakeFileChooser>();
        auto fakeBackend = std::make_unique<FakeRecorderBackend>();
        fakeBackend->drives = std::move(options.drives);
        fakeBackend->transportOk = options.transportOk;
        fakeBackend->driverOk = options.driverOk;
        messages = fakeMessages.get();
        files = fakeFiles.get();
        backend = fakeBackend.get();
        parts.messages = std::move(fakeMessages);
        parts.files = std::move(fakeFiles);
        parts.recorders = std::move(fakeBackend);
        parts.music = std::make_unique<ui::MusicService>(&output, nullptr);
        services = std::make_unique<ui::AppServices>(settings, project, std::move(parts));
        bridge = &services->Bridge();
        discMenu = &services->DiscMenu();
        music = &services->Music();
        recorders = &services->Recorders();
    }
    virtual ~UiHarness() = default;
    UiHarness(const UiHarness&) = delete;
    UiHarness& operator=(const UiHarness&) = delete;

    QTemporaryDir work;
    QString programFolder; // with a trailing "/"
    Settings settings;
    AlbumTable project;
    FakeWaveOutput output;
    std::unique_ptr<ui::AppServices> services;
    // The services' parts, for the tests to answer and to look at.
    FakeMessageBoxes* messages = nullptr;
    FakeFileChooser* files = nullptr;
    FakeRecorderBackend* backend = nullptr;
    ui::ProjectBridge* bridge = nullptr;
    DiscMenuState* discMenu = nullptr;
    ui::MusicService* music = nullptr;
    ui::RecorderSetup* recorders = nullptr;
};

// The one object of the given type and object name under parent. None, or more than one,
// ends the test program at once: a renamed widget must not pass as a null pointer.
template <typename T>
T* Find(const QObject* parent, const char* name)
{
    const QList<T*> found = parent->findChildren<T*>(QString::fromLatin1(name));
    if (found.size() != 1)
        qFatal("%d objects named \"%s\" of the type asked for under %s", int(found.size()), name,
               parent->metaObject()->className());
    return found.front();
}
template <typename T>
T* Find(const QObject& parent, const char* name)
{
    return Find<T>(&parent, name);
}
template <typename T, typename Owner>
T* Find(const std::unique_ptr<Owner>& parent, const char* name)
{
    return Find<T>(parent.get(), name);
}

} // namespace lumivox::test

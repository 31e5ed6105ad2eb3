// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the disc menu and preview page tests share: a program folder of their own whose
// templates are the installed "Classic" and variants of it, a project, and the context
// of the pages with fake dialogs and wave output.

#include "app_fakes.h"

#include "picture/MenuTemplate.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/QtWaveOutput.h"
#include "shell/AppContext.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

namespace lumivox::test {

inline const QString kInstalledTemplates = QStringLiteral(LUMIVOX_BIN_DIR "/template/");

struct PagesHarness {
    PagesHarness()
    {
        programFolder = dir.path() + QStringLiteral("/program/");
        QDir().mkpath(programFolder + QStringLiteral("template/classic"));
        for (const QString& file : QDir(kInstalledTemplates + QStringLiteral("classic")).entryList(QDir::Files))
            QFile::copy(kInstalledTemplates + QStringLiteral("classic/") + file,
                        programFolder + QStringLiteral("template/classic/") + file);
        QFile::copy(kInstalledTemplates + QStringLiteral("classic.ini"),
                    programFolder + QStringLiteral("template/classic.ini"));
        settings.programFolder = programFolder.toStdString();
        settings.tempDir = dir.path().toStdString() + "/";
        bridge = std::make_unique<ui::ProjectBridge>(project);
        discMenu = std::make_unique<DiscMenuState>(settings.programFolder);
        music = std::make_unique<ui::MusicService>(&output, nullptr);
        context.settings = &settings;
        context.project = &project;
        context.bridge = bridge.get();
        context.discMenu = discMenu.get();
        context.music = music.get();
        context.messages = &messages;
        context.files = &files;
    }

    // A template file beside "classic.ini": the same with the given keys replaced (an
    // empty value removes the key).
    void AddTemplate(const QString& fileName, const std::map<QString, QString>& keys) const
    {
        QFile in(kInstalledTemplates + QStringLiteral("classic.ini"));
        QVERIFY(in.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList lines = QString::fromUtf8(in.readAll()).split('\n');
        for (QString& line : lines) {
            const QString key = line.section('=', 0, 0);
            if (auto it = keys.find(key); it != keys.end())
                line = it->second.isEmpty() ? QString() : key + '=' + it->second;
        }
        QFile out(programFolder + QStringLiteral("template/") + fileName);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text));
        out.write(lines.join('\n').toUtf8());
    }

    // A 160 x 120 picture of one colour (4:3, so that it fills the screen).
    QString Picture(const QString& name, const QColor& colour, QSize size = QSize(160, 120)) const
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = dir.filePath(name);
        image.save(path);
        return path;
    }

    // Appends an album of the given pictures; returns its index.
    int AddAlbum(const QString& name, const QStringList& pictures = {}, int waitTime = 4)
    {
        const int album = project.AddAlbum(name.toStdString());
        for (const QString& picture : pictures)
            project.AddPictureToAlbum(album, picture.toStdString());
        project.SetAlbumWaitTime(album, waitTime);
        return album;
    }
    // count albums with one picture each.
    void AddAlbums(int count)
    {
        const QString picture = Picture(QStringLiteral("cover.bmp"), QColor(200, 120, 40));
        for (int i = 0; i < count; ++i)
            AddAlbum(QStringLiteral("Album %1").arg(i + 1), {picture});
    }

    QTemporaryDir dir;
    QString programFolder;
    Settings settings;
    AlbumTable project;
    FakeWaveOutput output;
    std::unique_ptr<ui::ProjectBridge> bridge;
    std::unique_ptr<DiscMenuState> discMenu;
    std::unique_ptr<ui::MusicService> music;
    FakeMessageBoxes messages;
    FakeFileChooser files;
    ui::AppContext context;
};

// Where two pictures first differ, or empty when they are equal.
inline QString FirstDifference(const QImage& expected, const QImage& actual)
{
    if (expected.size() != actual.size())
        return QStringLiteral("sizes differ: %1 x %2 expected, %3 x %4 drawn")
            .arg(expected.width())
            .arg(expected.height())
            .arg(actual.width())
            .arg(actual.height());
    const QImage a = expected.convertToFormat(QImage::Format_RGB32);
    const QImage b = actual.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("first difference at (%1, %2): %3 expected, %4 drawn")
                    .arg(x)
                    .arg(y)
                    .arg(QColor(a.pixel(x, y)).name(), QColor(b.pixel(x, y)).name());
    return {};
}

} // namespace lumivox::test

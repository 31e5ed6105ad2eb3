// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the disc menu and preview page tests share: the services over a program folder of
// their own whose templates are the installed "Classic" and variants of it, and helpers
// that make pictures and albums.

#include "app_harness.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QtTest>

#include <map>

namespace lumivox::test {

struct PagesHarness : UiHarness {
    PagesHarness() : UiHarness(OwnProgramFolder()) { }
    static HarnessOptions OwnProgramFolder()
    {
        HarnessOptions options;
        options.ownProgramFolder = true;
        return options;
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
        const QString path = work.filePath(name);
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

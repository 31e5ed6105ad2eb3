// SPDX-License-Identifier: GPL-2.0-or-later
// The disc menu page: its page buttons, the template list (broken templates marked and
// refused), the background picture and music, title editing on the menu, and the menu
// drawn exactly as the disc's.

#include "app_pages_fixture.h"

#include "discmenu/MenuPage.h"
#include "picture/FrameRenderer.h"
#include "production/ProductionPlan.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

using namespace lumivox;
using namespace lumivox::ui;
using namespace lumivox::test;

namespace {

// The page, shown at a fixed size so that its preview area has room.
struct MenuHarness : PagesHarness {
    explicit MenuHarness(int albums = 0, const std::map<QString, QString>& classicKeys = {})
    {
        if (!classicKeys.empty())
            AddTemplate(QStringLiteral("classic.ini"), classicKeys);
        discMenu->SelectTemplate("classic.ini"); // reads the changed keys
        AddAlbums(albums);
        Rebuild();
    }
    // A new page (the template list is read when the page is made).
    void Rebuild()
    {
        page = std::make_unique<MenuPage>(*services, nullptr);
        page->SetFileAsker([this](QWidget*, const QString&, const QString& filter) {
            filters << filter;
            return fileAnswer;
        });
        page->SetNameAsker([this](QWidget*, QString& name) {
            asked << name;
            name = nameAnswer;
            return nameAccepted;
        });
        page->resize(1000, 700);
        page->show();
        page->OnShown();
    }
    // The menu as the disc draws it, at the preview's page size.
    QImage Expected(int firstAlbum) const
    {
        QImage image(page->PageRect().size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        const ProductionPlan plan = MakeProductionPlan(project);
        std::string error;
        if (!DrawMenuPage(image, image.rect(), *discMenu, plan.MenuAlbums(), firstAlbum, &error))
            qWarning("%s", error.c_str());
        return image;
    }
    // The page's menu once its newest drawing has arrived (it is drawn on a worker).
    QImage Drawn() const
    {
        QDeadlineTimer deadline(20000);
        while (page->IsDrawing() && !deadline.hasExpired())
            QTest::qWait(2);
        return page->PageImage();
    }
    QString Buttons() const
    {
        return QStringLiteral("%1 %2").arg(Find<QPushButton>(page, "previousMenu")->isEnabled() ? "prev" : "-",
                                           Find<QPushButton>(page, "nextMenu")->isEnabled() ? "next" : "-");
    }

    std::unique_ptr<MenuPage> page;
    QString fileAnswer;
    QStringList filters;
    QStringList asked;
    QString nameAnswer;
    bool nameAccepted = true;
};

} // namespace

class MenuPageTest : public QObject {
    Q_OBJECT
private slots:
    // The page buttons follow the first album and the entries per page; the next page
    // adds the entries per page, the previous page takes them away.
    void pageButtons_data()
    {
        QTest::addColumn<int>("albums");
        QTest::addColumn<QString>("steps"); // n = next, p = previous
        QTest::addColumn<int>("firstAlbum");
        QTest::addColumn<QString>("buttons");
        QTest::newRow("6 albums, 6 entries") << 6 << "" << 0 << "- -";
        QTest::newRow("6 albums, next refused") << 6 << "n" << 0 << "- -";
        QTest::newRow("7 albums") << 7 << "" << 0 << "- next";
        QTest::newRow("7 albums, second page") << 7 << "n" << 6 << "prev -";
        QTest::newRow("7 albums, back") << 7 << "np" << 0 << "- next";
        QTest::newRow("13 albums, third page") << 13 << "nn" << 12 << "prev -";
        QTest::newRow("13 albums, middle page") << 13 << "nnp" << 6 << "prev next";
        QTest::newRow("no albums") << 0 << "n" << 0 << "- -";
    }
    void pageButtons()
    {
        QFETCH(int, albums);
        QFETCH(QString, steps);
        QFETCH(int, firstAlbum);
        QFETCH(QString, buttons);
        MenuHarness h(albums);
        QCOMPARE(h.discMenu->EntriesPerPage(), 6);
        for (QChar step : steps)
            step == 'n' ? h.page->ShowNextPage() : h.page->ShowPreviousPage();
        QCOMPARE(h.page->FirstAlbum(), firstAlbum);
        QCOMPARE(h.Buttons(), buttons);
    }

    // Albums removed while the page shows a later page leave no empty page on screen.
    void removedAlbumsBringTheLastPage()
    {
        MenuHarness h(8);
        h.page->ShowNextPage();
        QCOMPARE(h.page->FirstAlbum(), 6);
        h.project.RemoveAlbum(7);
        h.project.RemoveAlbum(6);
        QCOMPARE(h.page->FirstAlbum(), 0);
        QCOMPARE(h.Buttons(), QStringLiteral("- -"));
    }

    // The preview shows exactly the disc's menu page, on every page.
    void previewEqualsTheDiscMenu_data()
    {
        QTest::addColumn<int>("albums");
        QTest::addColumn<int>("nexts");
        QTest::newRow("one page") << 4 << 0;
        QTest::newRow("second page") << 8 << 1;
        QTest::newRow("no albums") << 0 << 0;
    }
    void previewEqualsTheDiscMenu()
    {
        QFETCH(int, albums);
        QFETCH(int, nexts);
        MenuHarness h(albums);
        const QImage first = h.Drawn();
        for (int i = 0; i < nexts; ++i) {
            h.page->ShowNextPage();
            // Drawn on the page's worker: the first page stays on screen until it arrives.
            QVERIFY(h.page->IsDrawing());
            QCOMPARE(h.page->PageImage(), first);
        }
        QVERIFY(!h.Drawn().isNull());
        const QImage expected = h.Expected(h.page->FirstAlbum());
        QString difference = FirstDifference(expected, h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        // And on screen, where the page rectangle lies in the preview area.
        const QImage shown = Find<QWidget>(h.page, "menuPreview")->grab(h.page->PageRect()).toImage();
        difference = FirstDifference(expected, shown);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // The page rectangle: 4:3, 6 pixels inside the area, centred.
    void pageRectangle_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("page");
        QTest::newRow("wide") << QRect(0, 0, 800, 400) << QRect(141, 6, 517, 388);
        QTest::newRow("tall") << QRect(10, 20, 400, 800) << QRect(16, 274, 388, 291);
        // The centring's integer halves are taken of a negative difference here.
        QTest::newRow("4:3") << QRect(0, 0, 412, 309) << QRect(6, 5, 400, 300);
        QTest::newRow("too small") << QRect(0, 0, 10, 10) << QRect();
    }
    void pageRectangle()
    {
        QFETCH(QRect, area);
        QFETCH(QRect, page);
        QCOMPARE(MenuPageRect(area), page);
    }

    // Another template returns to the first page and clears the background override;
    // the preview then shows the new template's own background.
    void templateChangeReturnsToFirstPage()
    {
        MenuHarness h(8);
        h.AddTemplate(QStringLiteral("other.ini"), {{QStringLiteral("NAME"), QStringLiteral("Other")},
                                                    {QStringLiteral("Items_count"), QStringLiteral("4")}});
        h.Rebuild();
        h.page->ShowNextPage();
        h.fileAnswer = h.Picture(QStringLiteral("green.bmp"), Qt::green);
        h.page->ChooseBackground();
        QCOMPARE(QString::fromStdString(h.discMenu->BackgroundOverride()), h.fileAnswer);
        QCOMPARE(Find<QLabel>(h.page, "backgroundLabel")->text(), h.fileAnswer);
        QCOMPARE(h.filters, QStringList{QString::fromLatin1(kBackgroundFilter)});

        QVERIFY(h.page->SelectTemplate(QStringLiteral("other.ini")));
        QCOMPARE(h.page->FirstAlbum(), 0);
        QCOMPARE(h.discMenu->EntriesPerPage(), 4);
        // The background the user chose stays with the new template.
        QCOMPARE(QString::fromStdString(h.discMenu->BackgroundOverride()), h.fileAnswer);
        QCOMPARE(Find<QLabel>(h.page, "backgroundLabel")->text(), h.fileAnswer);
        QCOMPARE(h.Buttons(), QStringLiteral("- next"));
        QCOMPARE(Find<QListWidget>(h.page, "templateList")->currentItem()->text(), QStringLiteral("Other"));
        const QString difference = FirstDifference(h.Expected(0), h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Choosing a template in the list selects it.
    void templateChosenFromTheList()
    {
        MenuHarness h(2);
        h.AddTemplate(QStringLiteral("other.ini"), {{QStringLiteral("NAME"), QStringLiteral("Other")}});
        MenuPage fresh(*h.services, nullptr);
        QListWidget* list = Find<QListWidget>(&fresh, "templateList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Classic"));
        list->setCurrentRow(list->item(0)->text() == QStringLiteral("Other") ? 0 : 1);
        QCOMPARE(QString::fromStdString(h.discMenu->CurrentTemplate()), QStringLiteral("template/other.ini"));
        QVERIFY(h.messages->shown.isEmpty());
    }

    // A template whose files are broken is listed with the reason and refused, naming the
    // file; the current template stays.
    void brokenTemplateRefused_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("named");
        QTest::newRow("background missing") << "Bkground_image"
                                            << "gone.jpg"
                                            << "gone.jpg";
        QTest::newRow("no background") << "Bkground_image"
                                       << ""
                                       << "broken.ini";
        QTest::newRow("no entries") << "Items_count"
                                    << "0"
                                    << "broken.ini";
        QTest::newRow("more entries than number keys") << "Items_count"
                                                       << "12"
                                                       << "only 9 number keys";
        QTest::newRow("frame missing") << "Frame_image"
                                       << "gone.bmp"
                                       << "gone.bmp";
        QTest::newRow("button not a bitmap") << "Next_button"
                                             << "background.jpg"
                                             << "background.jpg";
    }
    void brokenTemplateRefused()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, named);
        MenuHarness h(3);
        h.AddTemplate(QStringLiteral("broken.ini"), {{QStringLiteral("NAME"), QStringLiteral("Broken")}, {key, value}});
        MenuPage page(*h.services, nullptr);
        QListWidget* list = Find<QListWidget>(&page, "templateList");
        QListWidgetItem* broken = nullptr;
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->text() == QStringLiteral("Broken"))
                broken = list->item(row);
        QVERIFY(broken);
        QVERIFY2(broken->toolTip().contains(named), qPrintable(broken->toolTip()));
        list->setCurrentItem(broken);
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY2(h.messages->shown[0].contains(named), qPrintable(h.messages->shown[0]));
        QCOMPARE(QString::fromStdString(h.discMenu->CurrentTemplate()), QStringLiteral("template/classic.ini"));
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Classic"));
    }

    // A double click on a title renames its album (the name trimmed, as the editor's
    // dialog does, and an empty one refused); on an entry without an album, or beside the
    // titles, nothing happens.
    void titleEditing_data()
    {
        QTest::addColumn<int>("entry"); // 1-based; 0 = a point on no title
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("names");
        QTest::newRow("first title") << 1 << true << "Renamed"
                                     << "Album 1"
                                     << "Renamed,Album 2";
        QTest::newRow("second title") << 2 << true << "Renamed"
                                      << "Album 2"
                                      << "Album 1,Renamed";
        QTest::newRow("trimmed") << 1 << true << "  Spaced  "
                                 << "Album 1"
                                 << "Spaced,Album 2";
        QTest::newRow("empty refused") << 1 << true << "   "
                                       << "Album 1"
                                       << "Album 1,Album 2";
        QTest::newRow("cancelled") << 2 << false << "Renamed"
                                   << "Album 2"
                                   << "Album 1,Album 2";
        QTest::newRow("entry without album") << 4 << true << "Renamed"
                                             << ""
                                             << "Album 1,Album 2";
        QTest::newRow("no title") << 0 << true << "Renamed"
                                  << ""
                                  << "Album 1,Album 2";
    }
    void titleEditing()
    {
        QFETCH(int, entry);
        QFETCH(bool, accepted);
        QFETCH(QString, answer);
        QFETCH(QString, asked);
        QFETCH(QString, names);
        MenuHarness h(2);
        h.nameAnswer = answer;
        h.nameAccepted = accepted;
        MenuTemplate menuTemplate;
        QVERIFY(h.discMenu->LoadCurrentTemplate(menuTemplate));
        const QRect page = h.page->PageRect();
        QPoint point = page.topLeft() + QPoint(2, 2); // the page's corner holds no title
        if (entry > 0) {
            const TemplatePoint text = menuTemplate.textPositions[static_cast<std::size_t>(entry - 1)];
            const double sx = double(page.width()) / menuTemplate.CanvasWidth();
            const double sy = double(page.height()) / menuTemplate.CanvasHeight();
            point = page.topLeft() + QPoint(int(sx * (text.x + menuTemplate.textWidth / 2)),
                                            int(sy * (text.y + menuTemplate.textHeight / 2)));
        }
        QTest::mouseDClick(Find<QWidget>(h.page, "menuPreview"), Qt::LeftButton, {}, point);
        QCOMPARE(h.asked.join(','), asked);
        QStringList actual;
        for (int album = 0; album < h.project.AlbumCount(); ++album)
            actual << QString::fromStdString(h.project.Album(album).name);
        QCOMPARE(actual.join(','), names);
        const QString difference = FirstDifference(h.Expected(0), h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Choosing a background redraws the menu with it; clearing it redraws the
    // template's own. A picture that cannot be decoded is refused, naming the file.
    void backgroundPicture()
    {
        MenuHarness h(3);
        const QImage own = h.Drawn();
        h.fileAnswer = h.Picture(QStringLiteral("green.bmp"), QColor(0, 255, 0));
        h.page->ChooseBackground();
        const QImage chosen = h.Drawn();
        QCOMPARE(QColor(chosen.pixel(2, 2)).green(), 255);
        QVERIFY(!FirstDifference(own, chosen).isEmpty());
        h.page->ClearBackground();
        QCOMPARE(Find<QLabel>(h.page, "backgroundLabel")->text(), QString::fromLatin1(kDefaultBackgroundImage));
        QString difference = FirstDifference(own, h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));

        QFile garbage(h.work.filePath(QStringLiteral("garbage.jpg")));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a picture at all");
        garbage.close();
        h.fileAnswer = garbage.fileName();
        h.page->ChooseBackground();
        QVERIFY(h.discMenu->BackgroundOverride().empty());
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY(h.messages->shown[0].contains(garbage.fileName()));
        difference = FirstDifference(own, h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // The music: its label, its filter, Play and Stop through the music player.
    void music()
    {
        MenuHarness h(1);
        QCOMPARE(Find<QLabel>(h.page, "musicLabel")->text(), QString::fromLatin1(kNoBackgroundMusic));
        h.page->PlayMusic(); // nothing chosen: nothing plays
        QVERIFY(!h.music->IsPlaying());
        // Music the disc cannot carry is refused when chosen, with the reason.
        QSignalSpy changed(h.page.get(), &MenuPage::discMenuChanged);
        h.fileAnswer = WriteWave(h.work.filePath(QStringLiteral("8bit.wav")), 8);
        h.page->ChooseMusic();
        QVERIFY(h.discMenu->BackgroundMusic().empty());
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY(h.messages->shown[0].contains(QStringLiteral("8bit.wav holds 8-bit sound")));
        QCOMPARE(changed.count(), 0);
        h.fileAnswer = WriteWave(h.work.filePath(QStringLiteral("menu.wav")), 16);
        h.page->ChooseMusic();
        QCOMPARE(changed.count(), 1); // the capacity meter follows at once
        QCOMPARE(h.filters.last(), QString::fromLatin1(kMusicFilter));
        QCOMPARE(Find<QLabel>(h.page, "musicLabel")->text(), h.fileAnswer);
        h.page->PlayMusic();
        QVERIFY(h.music->IsPlaying());
        h.page->StopMusic();
        QVERIFY(!h.music->IsPlaying());
        h.page->ClearMusic();
        QVERIFY(h.discMenu->BackgroundMusic().empty());
        QCOMPARE(Find<QLabel>(h.page, "musicLabel")->text(), QString::fromLatin1(kNoBackgroundMusic));
    }

    // The page follows its size: the page rectangle grows with the window and the menu
    // is drawn again at the new size.
    void relayoutOnResize()
    {
        MenuHarness h(2);
        const QRect before = h.page->PageRect();
        h.page->resize(1300, 900);
        QTRY_VERIFY(h.page->PageRect().width() > before.width());
        QTRY_COMPARE(h.Drawn().size(), h.page->PageRect().size());
        QVERIFY(Find<QPushButton>(h.page, "nextMenu")->geometry().top() >
                Find<QWidget>(h.page, "menuPreview")->geometry().bottom());
        QVERIFY(Find<QListWidget>(h.page, "templateList")->geometry().left() >
                Find<QWidget>(h.page, "menuPreview")->geometry().right());
    }
};

QTEST_MAIN(MenuPageTest)
#include "app_menupage_test.moc"

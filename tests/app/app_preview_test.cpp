// SPDX-License-Identifier: GPL-2.0-or-later
// The preview page: the remote's keys and their rules, the keyboard, and the timed slide
// show with its pictures as the disc shows them (with a slide timer fired by the test).

#include "app_pages_fixture.h"

#include "picture/FrameRenderer.h"
#include "preview/PreviewPage.h"
#include "preview/RemoteControl.h"
#include "production/ProductionPlan.h"

#include <QDeadlineTimer>

using namespace lumivox;
using namespace lumivox::ui;
using namespace lumivox::test;

namespace {

// The slide timer, fired by the test.
class FakeSlideTimer final : public SlideTimer {
public:
    explicit FakeSlideTimer(std::vector<int>& waits) : waits_(waits) { }
    void Start(std::chrono::milliseconds wait) override
    {
        waits_.push_back(static_cast<int>(wait.count()));
        active = true;
    }
    void Stop() override { active = false; }
    bool active = false;

private:
    std::vector<int>& waits_;
};

struct PreviewHarness : PagesHarness {
    explicit PreviewHarness(int entriesPerPage = 6)
    {
        if (entriesPerPage != 6) {
            AddTemplate(QStringLiteral("classic.ini"),
                        {{QStringLiteral("Items_count"), QString::number(entriesPerPage)}});
            discMenu->SelectTemplate("classic.ini"); // reads the changed entries per page
        }
    }
    void MakePage()
    {
        page = std::make_unique<PreviewPage>(*services, nullptr);
        auto fake = std::make_unique<FakeSlideTimer>(waits);
        timer = fake.get();
        page->SetSlideTimer(std::move(fake));
        page->show();
        page->OnShown();
    }
    // The screen once the menu page asked for has arrived (it is drawn on a worker).
    QImage Drawn() const
    {
        QDeadlineTimer deadline(20000);
        while (page->IsDrawingMenu() && !deadline.hasExpired())
            QTest::qWait(2);
        return page->ScreenImage();
    }
    // The colour in the middle of the screen.
    QString Centre() const
    {
        const QImage& screen = page->ScreenImage();
        return screen.isNull() ? QString() : QColor(screen.pixel(screen.width() / 2, screen.height() / 2)).name();
    }
    // Fires the slide timer once it runs.
    void Fire()
    {
        QTRY_VERIFY(timer->active);
        timer->active = false;
        page->SlideTimerFired();
    }
    // The menu page the screen shows at firstAlbum.
    QImage Menu(int firstAlbum) const
    {
        QImage image(kScreenSize, QImage::Format_RGB32);
        image.fill(QColor(0, 0, 255));
        const ProductionPlan plan = MakeProductionPlan(project);
        DrawMenuPage(image, image.rect(), *discMenu, plan.MenuAlbums(), firstAlbum);
        return image;
    }
    QString EnabledKeys() const
    {
        QStringList keys;
        for (int command = kRemoteAlbum1; command <= kRemoteNext; ++command)
            if (page->Remote()->Key(command)->isEnabled())
                keys << QString::number(command - 30000);
        return keys.join(',');
    }

    std::unique_ptr<PreviewPage> page;
    FakeSlideTimer* timer = nullptr;
    std::vector<int> waits;
};

} // namespace

class PreviewPageTest : public QObject {
    Q_OBJECT
private slots:
    // Which keys answer: number keys up to the entries per page, the menu keys by the
    // paging rules; while a slide show runs only stop.
    void keyRules_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("albums");
        QTest::addColumn<int>("nexts");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("enabled"); // 1-9 number keys, 10 start, 11 stop, 12 previous, 13 next
        QTest::newRow("5 entries") << 5 << 3 << 0 << false << "1,2,3,4,5,10,11";
        QTest::newRow("6 entries, 7 albums") << 6 << 7 << 0 << false << "1,2,3,4,5,6,10,11,13";
        QTest::newRow("second page") << 6 << 7 << 1 << false << "1,2,3,4,5,6,10,11,12";
        QTest::newRow("9 entries") << 9 << 9 << 0 << false << "1,2,3,4,5,6,7,8,9,10,11";
        QTest::newRow("slide show") << 6 << 7 << 0 << true << "11";
    }
    void keyRules()
    {
        QFETCH(int, entries);
        QFETCH(int, albums);
        QFETCH(int, nexts);
        QFETCH(bool, playing);
        QFETCH(QString, enabled);
        PreviewHarness h(entries);
        h.AddAlbums(albums);
        h.MakePage();
        for (int i = 0; i < nexts; ++i)
            h.page->ShowNextMenu();
        if (playing)
            h.page->PlayEntry(1);
        QCOMPARE(h.EnabledKeys(), enabled);
    }

    // Start shows the menu page and plays the music; the menu keys page through it.
    void startAndMenuKeys()
    {
        PreviewHarness h;
        h.AddAlbums(7);
        h.discMenu->SetBackgroundMusic(h.work.filePath(QStringLiteral("menu.wav")).toStdString());
        h.MakePage();
        QVERIFY(h.page->ScreenImage().isNull()); // the hint on blue until started
        QVERIFY(h.page->Remote()->Press(kRemoteStart));
        QVERIFY(h.page->IsPlaying());
        QVERIFY(h.music->IsPlaying());
        QString difference = FirstDifference(h.Menu(0), h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        const QImage first = h.page->ScreenImage();
        QVERIFY(h.page->Remote()->Press(kRemoteNext));
        QCOMPARE(h.page->FirstAlbum(), 6);
        // Drawn on the page's worker: the first page stays on the screen until it arrives.
        QVERIFY(h.page->IsDrawingMenu());
        QCOMPARE(h.page->ScreenImage(), first);
        difference = FirstDifference(h.Menu(6), h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QVERIFY(!h.page->Remote()->Press(kRemoteNext));
        QVERIFY(h.page->Remote()->Press(kRemotePrevious));
        QCOMPARE(h.page->FirstAlbum(), 0);
        QVERIFY(h.page->Remote()->Press(kRemoteStop));
        QVERIFY(!h.page->IsPlaying());
        QVERIFY(!h.music->IsPlaying());
    }

    // An album of 3 pictures with a wait time of 2 seconds shows each picture for 2
    // seconds, then the menu page again with the music stopped.
    void albumPlaysThenMenu()
    {
        PreviewHarness h;
        h.AddAlbum(QStringLiteral("Colours"),
                   {h.Picture(QStringLiteral("red.bmp"), Qt::red), h.Picture(QStringLiteral("green.bmp"), Qt::green),
                    h.Picture(QStringLiteral("blue.bmp"), Qt::blue)},
                   2);
        h.discMenu->SetBackgroundMusic(h.work.filePath(QStringLiteral("menu.wav")).toStdString());
        h.MakePage();
        h.page->StartPlayback();
        QVERIFY(h.music->IsPlaying());
        h.page->PlayEntry(1);
        QVERIFY(h.page->IsShowingSlides());
        QTRY_COMPARE(h.Centre(), QStringLiteral("#ff0000"));
        h.Fire();
        QTRY_COMPARE(h.Centre(), QStringLiteral("#00ff00"));
        h.Fire();
        QTRY_COMPARE(h.Centre(), QStringLiteral("#0000ff"));
        QVERIFY(h.music->IsPlaying());
        h.Fire();
        QTRY_VERIFY(!h.page->IsShowingSlides());
        QCOMPARE(h.waits, (std::vector<int>{2000, 2000, 2000}));
        QVERIFY(!h.music->IsPlaying());
        const QString difference = FirstDifference(h.Menu(0), h.Drawn());
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(h.EnabledKeys(), QStringLiteral("1,2,3,4,5,6,10,11"));
    }

    // A picture that no longer decodes is left out without a message.
    void undecodablePictureLeftOut()
    {
        PreviewHarness h;
        const QString broken = h.Picture(QStringLiteral("green.bmp"), Qt::green);
        h.AddAlbum(
            QStringLiteral("Colours"),
            {h.Picture(QStringLiteral("red.bmp"), Qt::red), broken, h.Picture(QStringLiteral("blue.bmp"), Qt::blue)},
            2);
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("BM and nothing else");
        file.close();
        h.MakePage();
        QStringList shown;
        connect(h.page.get(), &PreviewPage::screenChanged, this, [&] { shown << h.Centre(); });
        h.page->PlayEntry(1);
        QTRY_COMPARE(shown.size(), 1);
        h.Fire();
        QTRY_COMPARE(shown.size(), 2);
        h.Fire();
        QTRY_VERIFY(!h.page->IsShowingSlides());
        QCOMPARE(shown.mid(0, 2), (QStringList{QStringLiteral("#ff0000"), QStringLiteral("#0000ff")}));
        QVERIFY(h.messages->shown.isEmpty());
    }

    // Number keys for an entry without an album, or whose album has no pictures, do
    // nothing.
    void numberKeyWithoutPictures()
    {
        PreviewHarness h;
        h.AddAlbum(QStringLiteral("Empty"));
        h.AddAlbum(QStringLiteral("Full"), {h.Picture(QStringLiteral("red.bmp"), Qt::red)});
        h.MakePage();
        for (int key : {1, 3, 6}) {
            h.page->PlayEntry(key);
            QVERIFY2(!h.page->IsShowingSlides(), qPrintable(QString::number(key)));
        }
        h.page->PlayEntry(2);
        QVERIFY(h.page->IsShowingSlides());
    }

    // Stop in the middle of an album, then another album: no picture of the first one
    // shows.
    void stopThenAnotherAlbum()
    {
        PreviewHarness h;
        QStringList reds;
        for (int i = 0; i < 10; ++i)
            reds << h.Picture(QStringLiteral("red%1.bmp").arg(i), Qt::red);
        h.AddAlbum(QStringLiteral("Red"), reds, 2);
        h.AddAlbum(QStringLiteral("Blue"),
                   {h.Picture(QStringLiteral("blue0.bmp"), Qt::blue), h.Picture(QStringLiteral("blue1.bmp"), Qt::blue)},
                   3);
        h.MakePage();
        h.page->PlayEntry(1);
        QTRY_COMPARE(h.Centre(), QStringLiteral("#ff0000"));
        h.Fire();
        QVERIFY(h.page->Remote()->Press(kRemoteStop));
        QVERIFY(!h.page->IsShowingSlides());
        QStringList shown;
        connect(h.page.get(), &PreviewPage::screenChanged, this, [&] { shown << h.Centre(); });
        h.page->PlayEntry(2);
        QTRY_COMPARE(shown.size(), 1);
        h.Fire();
        QTRY_COMPARE(shown.size(), 2);
        h.Fire();
        QTRY_VERIFY(!h.page->IsShowingSlides());
        QCOMPARE(shown.mid(0, 2), (QStringList{QStringLiteral("#0000ff"), QStringLiteral("#0000ff")}));
        QCOMPARE(h.waits.back(), 3000);
    }

    // A picture the user turned shows turned, as on the disc.
    void rotatedPictureShowsRotated()
    {
        PreviewHarness h;
        QImage picture(200, 100, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                picture.setPixel(x, y, qRgb(255, 0, 0));
        const QString path = h.work.filePath(QStringLiteral("halves.bmp"));
        QVERIFY(picture.save(path));
        h.AddAlbum(QStringLiteral("Turned"), {path}, 2);
        QVERIFY(h.project.RotatePictures(0, {0}, Rotation::Clockwise));
        h.MakePage();
        h.page->PlayEntry(1);
        QTRY_VERIFY(!h.page->ScreenImage().isNull() && h.timer->active);
        const QImage& screen = h.page->ScreenImage();
        QCOMPARE(QColor(screen.pixel(230, 90)).name(), QStringLiteral("#ff0000"));
        QCOMPARE(QColor(screen.pixel(230, 260)).name(), QStringLiteral("#0000ff"));
        QCOMPARE(QColor(screen.pixel(30, 172)).name(), QStringLiteral("#000000"));
    }

    // Playback control off: the slideshow track plays album after album, each album's
    // title card first (albums without pictures left out), with the music; the number keys
    // are dead and Previous / Next jump between albums; the track's end leaves the screen
    // empty.
    void slideshowTrackWithoutPlaybackControl()
    {
        PreviewHarness h;
        h.settings.pal = 1; // whole frames at 25 Hz: the waits are exact milliseconds
        h.AddAlbum(QStringLiteral("Red"),
                   {h.Picture(QStringLiteral("red0.bmp"), Qt::red), h.Picture(QStringLiteral("red1.bmp"), Qt::red)}, 2);
        h.AddAlbum(QStringLiteral("Empty"));
        h.AddAlbum(QStringLiteral("Blue"), {h.Picture(QStringLiteral("blue.bmp"), Qt::blue)}, 4);
        h.discMenu->SetBackgroundMusic(h.work.filePath(QStringLiteral("menu.wav")).toStdString());
        h.MakePage();
        h.page->SetSlideshowTrackOnDisc(true);
        h.page->SetPlaybackControl(false);
        QCOMPARE(h.EnabledKeys(), QStringLiteral("10,11"));
        QVERIFY(h.page->Remote()->Press(kRemoteStart));
        QTRY_COMPARE(h.page->TrackChapter(), 0);
        QCOMPARE(h.page->TrackChapters(), 2);
        QVERIFY(h.music->IsPlaying());
        QTRY_VERIFY(!h.page->ScreenImage().isNull());
        const QString card = h.Centre();
        QVERIFY(card != QStringLiteral("#ff0000") && card != QStringLiteral("#0000ff"));
        QCOMPARE(h.EnabledKeys(), QStringLiteral("11,13"));
        h.Fire();
        QTRY_COMPARE(h.Centre(), QStringLiteral("#ff0000"));
        QVERIFY(h.page->Remote()->Press(kRemoteNext)); // to the second album's title card
        QTRY_COMPARE(h.page->TrackChapter(), 1);
        QTRY_VERIFY(h.Centre() != QStringLiteral("#ff0000"));
        QCOMPARE(h.EnabledKeys(), QStringLiteral("11,12"));
        h.Fire();
        QTRY_COMPARE(h.Centre(), QStringLiteral("#0000ff"));
        h.Fire();
        QTRY_VERIFY(!h.page->IsPlaying());
        QVERIFY(h.page->ScreenImage().isNull());
        QVERIFY(!h.music->IsPlaying());
        QCOMPARE(h.waits, (std::vector<int>{3000, 2000, 3000, 4000}));
        // Playback control on again: the menu as before.
        h.page->SetPlaybackControl(true);
        QCOMPARE(h.EnabledKeys(), QStringLiteral("1,2,3,4,5,6,10,11"));
    }

    // A disc without the slideshow track plays its fixed card for two seconds, silent.
    void fixedCardWithoutPlaybackControl()
    {
        PreviewHarness h;
        h.AddAlbum(QStringLiteral("Red"), {h.Picture(QStringLiteral("red.bmp"), Qt::red)}, 5);
        h.discMenu->SetBackgroundMusic(h.work.filePath(QStringLiteral("menu.wav")).toStdString());
        h.MakePage();
        h.page->SetPlaybackControl(false);
        h.page->StartPlayback();
        QTRY_VERIFY(!h.page->ScreenImage().isNull());
        QCOMPARE(h.page->ScreenImage().pixel(2, 2), DrawFixedCard(kScreenSize).pixel(2, 2));
        QVERIFY(!h.music->IsPlaying());
        QCOMPARE(h.EnabledKeys(), QStringLiteral("11"));
        h.Fire();
        QTRY_VERIFY(!h.page->IsPlaying());
        QCOMPARE(h.waits, (std::vector<int>{2000}));
    }

    // The keyboard: 1-9 play, space starts, Escape stops, Page Up / Page Down page.
    void keyboard()
    {
        PreviewHarness h;
        h.AddAlbums(7);
        h.MakePage();
        h.page->activateWindow();
        QTest::keyClick(h.page.get(), Qt::Key_Space);
        QVERIFY(h.page->IsPlaying());
        QTest::keyClick(h.page.get(), Qt::Key_PageDown);
        QCOMPARE(h.page->FirstAlbum(), 6);
        QTest::keyClick(h.page.get(), Qt::Key_PageUp);
        QCOMPARE(h.page->FirstAlbum(), 0);
        QTest::keyClick(h.page.get(), Qt::Key_7); // no seventh entry on a page of six
        QVERIFY(!h.page->IsShowingSlides());
        QTest::keyClick(h.page.get(), Qt::Key_2);
        QVERIFY(h.page->IsShowingSlides());
        QTest::keyClick(h.page.get(), Qt::Key_PageDown); // paging waits for the show's end
        QCOMPARE(h.page->FirstAlbum(), 0);
        QTest::keyClick(h.page.get(), Qt::Key_Escape);
        QVERIFY(!h.page->IsShowingSlides());
        QVERIFY(!h.page->IsPlaying());
    }
};

QTEST_MAIN(PreviewPageTest)
#include "app_preview_test.moc"

// SPDX-License-Identifier: GPL-2.0-or-later
// The album editor page: the file list's filter, sorting and thumbnail worker, the album
// and slide lists as models of the project (checked by QAbstractItemModelTester), adding,
// dropping, dragging slides, the heading row, rotation through save and reopen, the
// picture viewer, EXIF orientation, and a window that keeps answering while a folder of
// 2,000 pictures gets its thumbnails.

#include "app_harness.h"

#include "editor/EditorDialogs.h"
#include "editor/EditorModels.h"
#include "editor/EditorPage.h"
#include "editor/EditorViews.h"
#include "picture/PLTextException.h"
#include "picture/PicReader.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/ProjectBridge.h"
#include "app_harness.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QSpinBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <stdexcept>

#include <atomic>
#include <memory>
#include <mutex>

using namespace lumivox;
using namespace lumivox::ui;
using namespace lumivox::test;

namespace {

// A small JPEG whose colour tells pictures apart; width x height as stored.
void WriteJpeg(const QString& path, int width = 40, int height = 30, QColor colour = QColor(120, 140, 160))
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY2(image.save(path, "JPG"), qPrintable(path));
}

// The same with an APP1 EXIF block whose IFD0 holds only the orientation.
void WriteJpegWithOrientation(const QString& path, int orientation, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(90, 90, 90));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    const QByteArray tiff = QByteArray::fromHex("4d4d002a00000008" // "MM", 42, IFD0 at 8
                                                "0001" // one entry
                                                "011200030000000100") // Orientation, SHORT, 1
                            + char(orientation) +
                            QByteArray::fromHex("0000"
                                                "00000000");
    QByteArray app1 = QByteArray::fromHex("ffe1") + QByteArray(2, 0) + QByteArray("Exif", 4) + QByteArray(2, 0) + tiff;
    const int length = app1.size() - 2;
    app1[2] = char(length >> 8);
    app1[3] = char(length & 0xff);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(jpeg.left(2) + app1 + jpeg.mid(2));
}

// What the window system delivers for a drop at point: enter, move, drop (the drop goes
// to the widget that accepted the enter).
void SendDrop(QWidget* target, const QPoint& point, const QMimeData* mime, Qt::DropAction action)
{
    QDragEnterEvent enter(point, action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(point, action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(point, action, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

struct Harness : UiHarness {
    explicit Harness(int listStyle = 0, int autoOrient = 1)
    {
        settings.listStyle = listStyle;
        settings.autoOrient = autoOrient;
        QObject::connect(bridge, &ProjectBridge::message, [this](const QString& text) { messages->shown << text; });
        page = std::make_unique<EditorPage>(*services, nullptr);
        page->SetDialogRunner([this](QDialog& dialog) {
            ++dialogs;
            return answer ? answer(dialog) : int(QDialog::Rejected);
        });
        using Mode = QAbstractItemModelTester::FailureReportingMode;
        testers.emplace_back(std::make_unique<QAbstractItemModelTester>(page->AlbumModel(), Mode::QtTest));
        testers.emplace_back(std::make_unique<QAbstractItemModelTester>(page->SlideModel(), Mode::QtTest));
        testers.emplace_back(std::make_unique<QAbstractItemModelTester>(page->FileModel(), Mode::QtTest));
        page->resize(1100, 760);
    }
    ~Harness() override { testers.clear(); }
    // Adds paths and waits until they are in the project.
    bool Add(const QStringList& paths, PictureSource source = PictureSource::FileList)
    {
        QSignalSpy added(page.get(), &EditorPage::picturesAdded);
        page->AddFiles(paths, source);
        return added.count() > 0 || added.wait(30000);
    }
    QStringList SlideNames() const
    {
        QStringList names;
        const int album = project.CurrentAlbum();
        for (int i = 0; album >= 0 && i < project.PictureCount(album); ++i)
            names << QFileInfo(QString::fromStdString(project.Picture(album, i).path)).baseName();
        return names;
    }
    QStringList SlideLabels() const
    {
        QStringList labels;
        for (int row = 0; row < page->SlideModel()->rowCount(); ++row)
            labels << page->SlideModel()->index(row).data(LabelRole).toString();
        return labels;
    }

    std::unique_ptr<EditorPage> page;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;
    int dialogs = 0;
    std::function<int(QDialog&)> answer;
};

QStringList ListedNames(const FileListModel& model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.index(row, FileListModel::NameColumn).data().toString();
    return names;
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    void fileFilter_data();
    void fileFilter();
    void sizeAndDateTexts();
    void sortingToggles();
    void listStyleIsStored();
    void refillStopsTheWorkerAndDropsOldResults();
    void dropsAddOnlyPictureFiles_data();
    void dropsAddOnlyPictureFiles();
    void fileListAddsByDragDoubleClickAndAddAll();
    void albumRemovedWhileAddingGetsNothing();
    void draggingSlidesMovesThemInListAndProject_data();
    void draggingSlidesMovesThemInListAndProject();
    void headingRowRefusesAlbumCommands_data();
    void headingRowRefusesAlbumCommands();
    void albumDialogsChangeTheSelectedAlbum();
    void rotationSurvivesSaveAndReopen();
    void viewerCancelChangesNothing();
    void addingManyKeepsTheChosenOrder();
    void removingAndStatusTotals();
    void skippedPicturesOneMessage();
    void exifOrientation_data();
    void exifOrientation();
    void splittersKeep160Pixels();
    void bigFolderKeepsTheWindowAnswering();
};

void EditorTest::fileFilter_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("jpeg, JPG, txt") << QStringList{"one.jpeg", "two.JPG", "three.txt"}
                                    << QStringList{"one.jpeg", "two.JPG"};
    QTest::newRow("every listed extension in any case")
        << QStringList{"a.Tif", "b.TIFF", "c.bmp",  "d.PCX",  "e.jpg", "f.JPEG",
                       "g.png", "h.WebP", "i.HEIC", "j.heif", "k.HIF"}
        << QStringList{"a.Tif", "b.TIFF", "c.bmp",  "d.PCX",  "e.jpg", "f.JPEG",
                       "g.png", "h.WebP", "i.HEIC", "j.heif", "k.HIF"};
    QTest::newRow("others are left out") << QStringList{"a.gif", "b.avif", "c.eps", "d.jpg.txt", "jpg", "e.jpgx"}
                                         << QStringList{};
}

void EditorTest::fileFilter()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, listed);
    QTemporaryDir folder;
    for (const QString& name : files) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not really a picture");
    }
    QDir(folder.path()).mkdir(QStringLiteral("sub.jpg")); // a folder is never listed
    Harness h;
    h.page->ShowFolder(folder.path());
    QStringList names = ListedNames(*h.page->FileModel());
    names.sort();
    listed.sort();
    QCOMPARE(names, listed);
    // Files that do not decode keep their rows, marked as unreadable.
    QTRY_VERIFY(!h.page->FileModel()->IsMakingThumbnails());
    for (int row = 0; row < h.page->FileModel()->rowCount(); ++row) {
        const QModelIndex index = h.page->FileModel()->index(row, 0);
        QVERIFY(index.data(UnreadableRole).toBool());
        QVERIFY(index.data(Qt::ToolTipRole).toString().contains(QStringLiteral("cannot be read")));
    }
}

void EditorTest::sizeAndDateTexts()
{
    const struct {
        qint64 bytes;
        const char* text;
    } sizes[] = {{0, "0 KB"},
                 {1, "1 KB"},
                 {1024, "1 KB"},
                 {1025, "2 KB"},
                 {999 * 1024, "999 KB"},
                 {1000 * 1024, "1,000 KB"},
                 {1234567LL * 1024 - 5, "1,234,567 KB"}};
    for (const auto& size : sizes)
        QCOMPARE(FileSizeText(size.bytes), QString::fromLatin1(size.text));
    const QDateTime time(QDate(2009, 3, 7), QTime(8, 5, 59));
    QCOMPARE(FileDateText(time), QStringLiteral("2009-03-07 08:05"));
}

void EditorTest::sortingToggles()
{
    QTemporaryDir folder;
    const struct {
        const char* name;
        int bytes;
    } files[] = {{"b.jpg", 900}, {"A.jpg", 20000}, {"c.JPG", 3000}};
    for (const auto& f : files) {
        QFile file(folder.filePath(QString::fromLatin1(f.name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(f.bytes, 'x'));
    }
    Harness h;
    h.page->ShowFolder(folder.path());
    const struct {
        int column;
        Qt::SortOrder order;
        const char* names;
    } clicks[] = {
        {FileListModel::NameColumn, Qt::AscendingOrder, "A.jpg b.jpg c.JPG"},
        {FileListModel::NameColumn, Qt::DescendingOrder, "c.JPG b.jpg A.jpg"},
        {FileListModel::SizeColumn, Qt::AscendingOrder, "b.jpg c.JPG A.jpg"}, // by value, not text
        {FileListModel::SizeColumn, Qt::DescendingOrder, "A.jpg c.JPG b.jpg"},
        {FileListModel::NameColumn, Qt::AscendingOrder, "A.jpg b.jpg c.JPG"},
    };
    for (const auto& click : clicks) {
        h.page->SortFileList(click.column);
        QCOMPARE(h.page->SortOrder(), click.order);
        QCOMPARE(ListedNames(*h.page->FileModel()).join(' '), QString::fromLatin1(click.names));
    }
}

void EditorTest::listStyleIsStored()
{
    Harness h(3);
    QCOMPARE(h.page->CurrentListStyle(), ListStyle::SmallIcons);
    h.page->SetListStyle(ListStyle::Details);
    QCOMPARE(h.settings.listStyle, 2);
    QCOMPARE(h.page->FileView()->model(), h.page->FileModel());
    h.page->SetListStyle(ListStyle::Thumbnails);
    QCOMPARE(h.settings.listStyle, 0);
    // Switching back and forth draws with the same delegate every time.
    QAbstractItemDelegate* thumbnails = h.page->FileView()->itemDelegate();
    for (ListStyle other : {ListStyle::List, ListStyle::LargeIcons, ListStyle::Thumbnails}) {
        h.page->SetListStyle(other);
        h.page->SetListStyle(ListStyle::Thumbnails);
    }
    QCOMPARE(h.page->FileView()->itemDelegate(), thumbnails);
    QCOMPARE(h.page->FileView()->findChildren<ThumbnailDelegate*>(Qt::FindDirectChildrenOnly).size(), 1);
    Harness fresh;
    QCOMPARE(fresh.page->CurrentListStyle(), ListStyle::Thumbnails);
}

void EditorTest::refillStopsTheWorkerAndDropsOldResults()
{
    QTemporaryDir a;
    QTemporaryDir b;
    for (int i = 0; i < 40; ++i)
        WriteJpeg(a.filePath(QStringLiteral("a%1.jpg").arg(i)));
    for (int i = 0; i < 3; ++i)
        WriteJpeg(b.filePath(QStringLiteral("b%1.jpg").arg(i)));
    Harness h;
    // A slow reader that paints each thumbnail red for folder a and blue for folder b; the
    // fourth file of a takes until the test lets it go (a large file on a slow disc).
    std::atomic<int> decodedA{0};
    std::atomic<bool> hold{true};
    const std::string aPath = a.path().toStdString();
    h.page->SetPictureDecoder([&decodedA, &hold, aPath](const std::string& path, PicBitmap& target) {
        const bool fromA = path.rfind(aPath, 0) == 0;
        if (fromA && ++decodedA == 4)
            while (hold.load())
                QThread::msleep(1);
        QThread::msleep(5);
        target.Create(40, 30, 32, false);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                std::uint8_t* p = target.Row(y) + 4 * x;
                p[0] = fromA ? 0 : 255, p[1] = 0, p[2] = fromA ? 255 : 0, p[3] = 255;
            }
    });
    h.page->ShowFolder(a.path());
    QDeadlineTimer deadline(10000);
    while (decodedA < 3 && !deadline.hasExpired())
        QThread::msleep(1); // results of a are now queued, not yet delivered
    QVERIFY(decodedA >= 3);
    // Leaving the folder does not wait for the file the worker is on.
    h.page->ShowFolder(b.path());
    hold = false;
    const int decodedWhenLeft = decodedA;
    QThread::msleep(30);
    QCOMPARE(decodedA.load(), decodedWhenLeft); // the worker of a has stopped
    QSignalSpy finished(h.page->FileModel(), &FileListModel::thumbnailsFinished);
    QVERIFY(finished.wait(10000));
    QVERIFY2(h.page->FileModel()->DroppedResults() >= 3,
             qPrintable(QStringLiteral("%1 late results dropped").arg(h.page->FileModel()->DroppedResults())));
    QCOMPARE(h.page->FileModel()->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const QImage thumbnail = h.page->FileModel()->index(row, 0).data(ThumbnailRole).value<QImage>();
        QVERIFY(!thumbnail.isNull());
        QCOMPARE(QColor(thumbnail.pixel(10, 10)), QColor(0, 0, 255));
    }
    // The cache holds what was made of both folders.
    QVERIFY(h.page->Thumbnails().EntryCount() >= 6);
}

void EditorTest::dropsAddOnlyPictureFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("added");
    QTest::newRow("a JPEG") << "photo.jpg" << 1;
    QTest::newRow("a JPEG in capitals") << "PHOTO.JPEG" << 1;
    QTest::newRow("a PNG in capitals") << "SHOT.PNG" << 1;
    QTest::newRow("a folder") << "folder.jpg" << 0;
    QTest::newRow("a GIF") << "anim.gif" << 0;
    QTest::newRow("a text file") << "notes.txt" << 0;
    QTest::newRow("a PCX file, refused on decoding") << "old.pcx" << 0;
    QTest::newRow("a web address") << "http" << 0;
}

void EditorTest::dropsAddOnlyPictureFiles()
{
    QFETCH(QString, name);
    QFETCH(int, added);
    QTemporaryDir folder;
    const QString path = folder.filePath(name);
    QUrl url = QUrl::fromLocalFile(path);
    if (name == "folder.jpg") {
        QDir(folder.path()).mkdir(name);
    } else if (name == "http") {
        url = QUrl(QStringLiteral("https://example.org/photo.jpg"));
    } else if (name.endsWith("jpg", Qt::CaseInsensitive) || name.endsWith("jpeg", Qt::CaseInsensitive)) {
        WriteJpeg(path);
    } else if (name.endsWith("png", Qt::CaseInsensitive)) {
        QImage image(40, 30, QImage::Format_ARGB32);
        image.fill(QColor(255, 0, 0, 128));
        QVERIFY(image.save(path, "PNG"));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name.endsWith("gif") ? QByteArray("GIF89a\x01\x00\x01\x00", 10) : QByteArray("\x0a\x05\x01\x08", 4));
    }
    Harness h;
    h.page->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.page.get()));
    QSignalSpy spy(h.page.get(), &EditorPage::picturesAdded);
    auto* mime = new QMimeData;
    mime->setUrls({url});
    SendDrop(h.page->SlideView()->viewport(), QPoint(20, 20), mime, Qt::CopyAction);
    if (spy.isEmpty())
        spy.wait(added ? 10000 : 300);
    QCOMPARE(h.project.TotalPictures(), added);
    // A picture dropped into an empty project makes the album of pictures from paths.
    if (added) {
        QCOMPARE(QString::fromStdString(h.project.Album(0).name), QString::fromLatin1(kFirstAlbumFromPath));
    } else {
        QVERIFY(!h.page->IsAdding());
    }
    delete mime;
}

void EditorTest::fileListAddsByDragDoubleClickAndAddAll()
{
    QTemporaryDir folder;
    for (int i = 1; i <= 4; ++i)
        WriteJpeg(folder.filePath(QStringLiteral("%1.jpg").arg(i)));
    Harness h;
    h.page->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.page.get()));
    h.page->ShowFolder(folder.path());
    h.page->SortFileList(FileListModel::NameColumn);
    // Dragged from the file list onto the slide list: the selected files in list order,
    // into the album made for pictures of the file list.
    std::unique_ptr<QMimeData> mime(
        h.page->FileModel()->mimeData({h.page->FileModel()->index(2, 0), h.page->FileModel()->index(0, 0)}));
    QSignalSpy added(h.page.get(), &EditorPage::picturesAdded);
    SendDrop(h.page->SlideView()->viewport(), QPoint(20, 20), mime.get(), Qt::CopyAction);
    QVERIFY(added.wait(10000));
    QCOMPARE(h.SlideNames().join(' '), QStringLiteral("1 3"));
    QCOMPARE(QString::fromStdString(h.project.Album(0).name), QString::fromLatin1(kFirstAlbumFromFileList));
    QCOMPARE(QString::fromStdString(h.project.Picture(0, 1).displayName), QStringLiteral("3.jpg"));
    // A double click adds the file under the pointer.
    QAbstractItemView* view = h.page->FileView();
    view->doItemsLayout();
    const QRect second = view->visualRect(h.page->FileModel()->index(1, 0));
    QVERIFY(second.isValid());
    QSignalSpy doubleClicked(view, &QAbstractItemView::doubleClicked);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(doubleClicked.count(), 1);
    QVERIFY(added.wait(10000));
    QCOMPARE(h.SlideNames().join(' '), QStringLiteral("1 3 2"));
    // "Add All " adds every file of the list, "Add to Album" the selected ones.
    h.page->AddAllFiles();
    QVERIFY(added.wait(10000));
    QCOMPARE(h.SlideNames().join(' '), QStringLiteral("1 3 2 1 2 3 4"));
    h.page->SelectFiles({3});
    QCOMPARE(h.page->SelectedFiles(), QStringList{folder.filePath(QStringLiteral("4.jpg"))});
    h.page->AddSelectedFiles();
    QVERIFY(added.wait(10000));
    QCOMPARE(h.project.PictureCount(0), 8);
    // Dropped on the first slide, a file lands before it.
    std::unique_ptr<QMimeData> one(h.page->FileModel()->mimeData({h.page->FileModel()->index(3, 0)}));
    h.page->SlideView()->doItemsLayout();
    const QRect first = h.page->SlideView()->visualRect(h.page->SlideModel()->index(0));
    SendDrop(h.page->SlideView()->viewport(), first.center(), one.get(), Qt::CopyAction);
    QVERIFY(added.wait(10000));
    QCOMPARE(h.SlideNames().join(' '), QStringLiteral("4 1 3 2 1 2 3 4 4"));
}

void EditorTest::albumRemovedWhileAddingGetsNothing()
{
    QTemporaryDir folder;
    const QString picture = folder.filePath(QStringLiteral("late.jpg"));
    WriteJpeg(picture);
    Harness h;
    h.project.AddAlbum("First");
    h.project.AddAlbum("Second");
    h.page->SelectAlbumRow(1);
    QSignalSpy added(h.page.get(), &EditorPage::picturesAdded);
    h.page->AddFiles({picture}, PictureSource::FileList); // to "First", still decoding
    h.project.RemoveAlbum(0);
    if (added.isEmpty())
        QVERIFY(added.wait(10000));
    QCOMPARE(h.project.AlbumCount(), 1);
    QCOMPARE(h.project.TotalPictures(), 0); // not into "Second", which took its index
}

void EditorTest::draggingSlidesMovesThemInListAndProject_data()
{
    QTest::addColumn<QList<int>>("dragged");
    QTest::addColumn<int>("dropOn"); // slide row under the drop point, -1 below every slide
    QTest::addColumn<QString>("order");
    QTest::newRow("first two to the end") << QList<int>{0, 1} << -1 << "3 4 5 1 2";
    QTest::newRow("last two onto the first") << QList<int>{3, 4} << 0 << "4 5 1 2 3";
    QTest::newRow("first onto the fourth") << QList<int>{0} << 3 << "2 3 1 4 5";
    QTest::newRow("second and fifth onto the fourth") << QList<int>{1, 4} << 3 << "1 3 2 5 4";
}

void EditorTest::draggingSlidesMovesThemInListAndProject()
{
    QFETCH(QList<int>, dragged);
    QFETCH(int, dropOn);
    QFETCH(QString, order);
    QTemporaryDir folder;
    QStringList paths;
    for (int i = 1; i <= 5; ++i) {
        paths << folder.filePath(QStringLiteral("%1.jpg").arg(i));
        WriteJpeg(paths.back());
    }
    Harness h;
    h.project.AddAlbum("Trip");
    QVERIFY(h.Add(paths));
    h.page->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.page.get()));
    SlideListView* view = h.page->SlideView();
    QCOMPARE(view->model()->rowCount(), 5);
    // The drop point: 10 pixels above the slide it means, or below every slide.
    const QPoint at = dropOn >= 0 ? view->visualRect(view->model()->index(dropOn, 0)).topLeft() + QPoint(5, -5)
                                  : QPoint(5, view->viewport()->height() - 5);
    QModelIndexList indexes;
    for (int row : dragged)
        indexes << view->model()->index(row, 0);
    std::unique_ptr<QMimeData> mime(view->model()->mimeData(indexes));
    SendDrop(view->viewport(), at, mime.get(), Qt::MoveAction);
    QCOMPARE(h.SlideNames().join(' '), order);
    QCOMPARE(h.SlideLabels().join(' '), QStringLiteral("01 02 03 04 05"));
    QCOMPARE(h.project.Album(0).Cover(), &h.project.Picture(0, 0));
    QCOMPARE(h.page->SelectedSlides().size(), dragged.size());

    const QString saved = folder.filePath(QStringLiteral("trip.lvx"));
    QVERIFY(h.project.SaveProject(saved.toStdString()));
    AlbumTable reopened;
    QVERIFY(reopened.LoadProject(saved.toStdString()).Loaded());
    QStringList reopenedNames;
    for (int i = 0; i < reopened.PictureCount(0); ++i)
        reopenedNames << QFileInfo(QString::fromStdString(reopened.Picture(0, i).path)).baseName();
    QCOMPARE(reopenedNames.join(' '), order);
}

void EditorTest::headingRowRefusesAlbumCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("albums");
    QTest::addColumn<QString>("message");
    QTest::newRow("delete") << "delete" << 2 << kMsgSelectAlbumToRemove;
    QTest::newRow("delete without albums") << "delete" << 0 << kMsgNoAlbumToRemove;
    QTest::newRow("rename") << "rename" << 2 << kMsgSelectAlbum;
    QTest::newRow("properties") << "properties" << 2 << kMsgSelectAlbum;
}

void EditorTest::headingRowRefusesAlbumCommands()
{
    QFETCH(QString, command);
    QFETCH(int, albums);
    QFETCH(QString, message);
    Harness h;
    for (int i = 0; i < albums; ++i)
        h.project.AddAlbum("Album " + std::to_string(i));
    h.page->SelectAlbumRow(0);
    QCOMPARE(h.page->SelectedAlbumRow(), 0);
    h.answer = [](QDialog&) { return int(QDialog::Accepted); };
    if (command == "delete")
        h.page->DeleteAlbum();
    else if (command == "rename")
        h.page->RenameAlbum();
    else
        h.page->AlbumProperties();
    QCOMPARE(h.messages->shown, QStringList{message});
    QCOMPARE(h.dialogs, 0);
    QCOMPARE(h.project.AlbumCount(), albums);
    // The heading row's list text; it shows only its bitmap.
    QCOMPARE(h.page->AlbumModel()->HeadingText(), QStringLiteral("Slide No.1"));
    h.project.ResetProject();
    QCOMPARE(h.page->AlbumModel()->HeadingText(), QStringLiteral("Album Title"));
}

void EditorTest::albumDialogsChangeTheSelectedAlbum()
{
    Harness h;
    h.answer = [](QDialog& dialog) {
        if (auto* name = qobject_cast<AlbumNameDialog*>(&dialog))
            Find<QLineEdit>(name, "albumNameEdit")->setText(QStringLiteral("Summer"));
        if (auto* properties = qobject_cast<AlbumPropertiesDialog*>(&dialog)) {
            // The dialog holds the wait time within 2 to 120 seconds.
            Find<QSpinBox>(properties, "waitTimeBox")->setValue(500);
            if (Find<QSpinBox>(properties, "waitTimeBox")->value() != 120)
                return int(QDialog::Rejected);
            Find<QSpinBox>(properties, "waitTimeBox")->setValue(17);
        }
        return int(QDialog::Accepted);
    };
    h.page->NewAlbum();
    h.page->NewAlbum();
    QCOMPARE(h.project.AlbumCount(), 2);
    QCOMPARE(h.page->SelectedAlbumRow(), 2);
    h.page->SelectAlbumRow(1);
    QCOMPARE(h.project.CurrentAlbum(), 0);
    h.answer = [](QDialog& dialog) {
        if (auto* name = qobject_cast<AlbumNameDialog*>(&dialog))
            Find<QLineEdit>(name, "albumNameEdit")->setText(QStringLiteral("Winter"));
        if (auto* properties = qobject_cast<AlbumPropertiesDialog*>(&dialog))
            Find<QSpinBox>(properties, "waitTimeBox")->setValue(17);
        return int(QDialog::Accepted);
    };
    h.page->RenameAlbum();
    h.page->AlbumProperties();
    QCOMPARE(QString::fromStdString(h.project.Album(0).name), QStringLiteral("Winter"));
    QCOMPARE(h.project.Album(0).waitTime, 17);
    QCOMPARE(h.page->AlbumModel()->index(1).data().toString(), QStringLiteral("Winter"));
    h.messages->questionAnswer = true;
    h.page->DeleteAlbum();
    QCOMPARE(h.project.AlbumCount(), 1);
    QCOMPARE(QString::fromStdString(h.project.Album(0).name), QStringLiteral("Summer"));
    QCOMPARE(h.page->SelectedAlbumRow(), 1);
}

void EditorTest::rotationSurvivesSaveAndReopen()
{
    QTemporaryDir folder;
    const QString picture = folder.filePath(QStringLiteral("wide.jpg"));
    WriteJpeg(picture, 60, 20);
    Harness h;
    QVERIFY(h.Add({picture}));
    h.page->SelectSlides({0});
    h.page->RotateSelectedSlides(Rotation::Clockwise);
    QCOMPARE(h.project.Picture(0, 0).rotation, 90);
    QCOMPARE(h.project.Picture(0, 0).picture->Width(), 20);
    QCOMPARE(h.page->SelectedSlides(), QList<int>{0});
    h.page->RotateSelectedSlides(Rotation::Clockwise);
    h.page->RotateSelectedSlides(Rotation::CounterClockwise);
    h.page->RotateSelectedSlides(Rotation::CounterClockwise);
    h.page->RotateSelectedSlides(Rotation::CounterClockwise);
    QCOMPARE(h.project.Picture(0, 0).rotation, 270);
    const QString saved = folder.filePath(QStringLiteral("turned.lvx"));
    QVERIFY(h.project.SaveProject(saved.toStdString()));
    h.project.ResetProject();
    QVERIFY(h.project.LoadProject(saved.toStdString()).Loaded());
    QCOMPARE(h.project.Picture(0, 0).rotation, 270);
    QCOMPARE(h.page->SlideModel()->rowCount(), 1);
    // With nothing selected the rotate commands ask for a picture.
    h.page->SelectSlides({});
    h.page->RotateSelectedSlides(Rotation::Clockwise);
    QCOMPARE(h.messages->shown, QStringList{kMsgSelectPicture});
}

void EditorTest::viewerCancelChangesNothing()
{
    QTemporaryDir folder;
    const QString picture = folder.filePath(QStringLiteral("tall.jpg"));
    WriteJpeg(picture, 20, 60);
    Harness h;
    QVERIFY(h.Add({picture}));
    h.bridge->SetModified(false);
    h.page->SelectSlides({0});
    QSize shownSize;
    h.answer = [&shownSize](QDialog& dialog) {
        auto& viewer = static_cast<PictureViewer&>(dialog);
        viewer.EnsureDecoded();
        viewer.RotateClockwise();
        viewer.RotateClockwise();
        viewer.RotateClockwise();
        shownSize = viewer.Shown().size();
        return int(QDialog::Rejected);
    };
    h.page->ViewSelectedSlide();
    QCOMPARE(h.dialogs, 1);
    QCOMPARE(shownSize, QSize(60, 20)); // the viewer turned what it shows
    QCOMPARE(h.project.Picture(0, 0).rotation, 0);
    QVERIFY(!h.bridge->IsModified());
    // "Close the dialog" stores the viewer's angle as the rotation.
    h.answer = [](QDialog& dialog) {
        auto& viewer = static_cast<PictureViewer&>(dialog);
        viewer.RotateCounterClockwise();
        return int(QDialog::Accepted);
    };
    h.page->ViewSelectedSlide();
    QCOMPARE(h.project.Picture(0, 0).rotation, 270);
    QVERIFY(h.bridge->IsModified());
    QCOMPARE(h.project.Picture(0, 0).slideThumbnail->Width(), 104);
    // Without a selected slide the viewer does not open.
    h.page->SelectSlides({});
    h.page->ViewSelectedSlide();
    QCOMPARE(h.dialogs, 2);
    QCOMPARE(h.messages->shown, QStringList{kMsgSelectPicture});
}

void EditorTest::addingManyKeepsTheChosenOrder()
{
    QTemporaryDir folder;
    QStringList paths;
    // Larger and smaller files decode in different times; the order is the one chosen.
    for (int i = 0; i < 99; ++i) {
        paths << folder.filePath(QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
        WriteJpeg(paths.back(), i % 3 == 0 ? 640 : 40, i % 3 == 0 ? 480 : 30, QColor(i, 255 - i, 100));
    }
    std::reverse(paths.begin(), paths.end());
    Harness h;
    QVERIFY(h.Add(paths, PictureSource::FileList));
    QCOMPARE(h.project.AlbumCount(), 1);
    QCOMPARE(QString::fromStdString(h.project.Album(0).name), QString::fromLatin1(kFirstAlbumFromFileList));
    QCOMPARE(h.project.PictureCount(0), 99);
    for (int i = 0; i < 99; ++i)
        QCOMPARE(QString::fromStdString(h.project.Picture(0, i).path), paths[i]);
    QCOMPARE(QString::fromStdString(h.project.Picture(0, 0).displayName), QStringLiteral("p98.jpg"));
    // The album is full: one more is refused, and the user is told why.
    QSignalSpy added(h.page.get(), &EditorPage::picturesAdded);
    h.page->AddFiles({paths[0]}, PictureSource::FileList);
    QVERIFY(added.wait(10000));
    QCOMPARE(added.front().at(0).toInt(), 0);
    QCOMPARE(h.project.PictureCount(0), 99);
    QCOMPARE(h.messages->shown, QStringList{QStringLiteral("0 of 1 pictures were added: an album holds at most 99.")});
}

void EditorTest::removingAndStatusTotals()
{
    QTemporaryDir folder;
    QStringList paths;
    for (int i = 1; i <= 4; ++i) {
        paths << folder.filePath(QStringLiteral("%1.jpg").arg(i));
        WriteJpeg(paths.back());
    }
    Harness h;
    QSignalSpy status(h.bridge, &ProjectBridge::statusChanged);
    QVERIFY(h.Add(paths));
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Total Album : 01  Total Photos: 4"));
    h.page->SelectSlides({0, 2});
    h.page->RemoveSelectedSlides();
    QCOMPARE(h.SlideNames().join(' '), QStringLiteral("2 4"));
    QCOMPARE(h.SlideLabels().join(' '), QStringLiteral("01 02"));
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Total Album : 01  Total Photos: 2"));
    h.page->SelectSlides({});
    h.page->RemoveSelectedSlides();
    QCOMPARE(h.messages->shown, QStringList{kMsgSelectItem});
    h.messages->questionAnswer = true;
    h.page->RemoveAllSlides();
    QCOMPARE(h.page->SlideModel()->rowCount(), 0);
    QCOMPARE(status.last().at(0).toString(), QStringLiteral("Total Album : 01  Total Photos: 0"));
    QCOMPARE(h.page->AlbumModel()->index(1).data(PictureCountRole).toInt(), 0);
}

// Pictures left out are told once, in one message; an add that brings no picture makes
// no empty album.
void EditorTest::skippedPicturesOneMessage()
{
    QTemporaryDir folder;
    const QString good = folder.filePath(QStringLiteral("p.jpg")),
                  broken = folder.filePath(QStringLiteral("broken.jpg"));
    WriteJpeg(good);
    WriteJpeg(broken);
    Harness h;
    h.page->SetPictureDecoder([](const std::string& path, PicBitmap& target) {
        if (path.find("broken") != std::string::npos)
            throw std::runtime_error("bad data");
        target.Create(8, 6, 32, false);
    });
    QVERIFY(h.Add({broken}, PictureSource::Path));
    QCOMPARE(h.project.AlbumCount(), 0);
    QCOMPARE(h.messages->shown.size(), 1);
    QVERIFY2(h.messages->shown[0].startsWith(QStringLiteral("broken.jpg could not be read: ")),
             qPrintable(h.messages->shown[0]));
    h.messages->shown.clear();
    QStringList paths{broken};
    for (int i = 0; i < 600; ++i)
        paths << good;
    QVERIFY(h.Add(paths, PictureSource::Path));
    QCOMPARE(h.project.AlbumCount(), 1);
    QCOMPARE(h.project.Album(0).name, std::string("Album 1"));
    QCOMPARE(h.project.PictureCount(0), 99);
    QCOMPARE(h.messages->shown.size(), 1);
    const QStringList lines = h.messages->shown[0].split('\n');
    QCOMPARE(lines.value(0), QStringLiteral("99 of 601 pictures were added: an album holds at most 99."));
    QVERIFY(lines.value(1).startsWith(QStringLiteral("broken.jpg could not be read: ")));
    QCOMPARE(lines.size(), 2);
}

void EditorTest::exifOrientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("autoOrient");
    QTest::addColumn<int>("rotation");
    const int turns[] = {0, 0, 0, 180, 180, 90, 90, 270, 270};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        QTest::addRow("orientation %d", orientation) << orientation << 1 << turns[orientation];
        QTest::addRow("orientation %d, AutoOrient=0", orientation) << orientation << 0 << 0;
    }
}

void EditorTest::exifOrientation()
{
    QFETCH(int, orientation);
    QFETCH(int, autoOrient);
    QFETCH(int, rotation);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("camera.jpg"));
    WriteJpegWithOrientation(path, orientation, 48, 32);
    Harness h(0, autoOrient);
    QVERIFY(h.Add({path}));
    QCOMPARE(h.project.PictureCount(0), 1);
    const PictureItem& picture = h.project.Picture(0, 0);
    QCOMPARE(picture.rotation, rotation);
    QCOMPARE(picture.rotated, rotation != 0);
    const bool quarter = rotation == 90 || rotation == 270;
    QCOMPARE(picture.picture->Width(), quarter ? 32 : 48);
    // The folder's list shows the file standing as the camera held it, whatever the setting.
    QSignalSpy listed(h.page->FileModel(), &FileListModel::thumbnailsFinished);
    h.page->ShowFolder(folder.path());
    QVERIFY(listed.wait(10000));
    const QRect placed = h.page->FileModel()->index(0, 0).data(PlacementRole).toRect();
    const bool standing = orientation >= 5;
    QVERIFY2(standing ? placed.height() > placed.width() : placed.width() > placed.height(),
             qPrintable(QStringLiteral("%1 x %2").arg(placed.width()).arg(placed.height())));
    // Saved and reopened, the turn is applied once: the project file carries it.
    const QString saved = folder.filePath(QStringLiteral("camera.lvx"));
    QVERIFY(h.project.SaveProject(saved.toStdString()));
    AlbumTable reopened;
    QVERIFY(reopened.LoadProject(saved.toStdString()).Loaded());
    QCOMPARE(reopened.Picture(0, 0).rotation, rotation);
}

void EditorTest::splittersKeep160Pixels()
{
    Harness h;
    h.page->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.page.get()));
    for (QSplitter* splitter : {Find<QSplitter>(h.page, "topSplitter"), Find<QSplitter>(h.page, "bottomSplitter"),
                                Find<QSplitter>(h.page, "bandSplitter")}) {
        splitter->setSizes({1, 5000});
        QVERIFY2(splitter->sizes().front() >= 160, qPrintable(QString::number(splitter->sizes().front())));
        splitter->setSizes({5000, 1});
        QVERIFY2(splitter->sizes().back() >= 160, qPrintable(QString::number(splitter->sizes().back())));
    }
    // Every button has its tooltip.
    const QList<QToolButton*> buttons = h.page->findChildren<QToolButton*>(QRegularExpression("Button$"));
    QCOMPARE(buttons.size(), 9);
    for (const QToolButton* button : buttons)
        QVERIFY2(!button->toolTip().isEmpty(), qPrintable(button->objectName()));
    QCOMPARE(Find<QToolButton>(h.page, "newAlbumButton")->toolTip(), QStringLiteral("New SlideShow"));
    QCOMPARE(Find<QToolButton>(h.page, "viewPictureButton")->size(), QSize(80, 26));
}

// A big folder is listed at once and its thumbnails are made on the worker: the listing
// does not wait for a single decode, and no picture is read on the window's thread.
// (How long the event loop goes unserved is measured by the benchmarks, not here.)
void EditorTest::bigFolderKeepsTheWindowAnswering()
{
    QTemporaryDir folder;
    for (int i = 0; i < 2000; ++i)
        WriteJpeg(folder.filePath(QStringLiteral("img_%1.jpg").arg(i, 4, 10, QLatin1Char('0'))), 48, 36,
                  QColor(i % 256, 80, 160));
    Harness h;
    std::mutex gate;
    std::atomic<int> decodes{0};
    std::atomic<bool> onWindowThread{false};
    QThread* const windowThread = QThread::currentThread();
    h.page->SetPictureDecoder([&](const std::string& path, PicBitmap& target) {
        if (QThread::currentThread() == windowThread)
            onWindowThread = true;
        {
            std::lock_guard wait(gate);
        } // the disc is slow: nothing decodes until the test says so
        ++decodes;
        PicReader reader;
        reader.DecodeFile(path, target, 32);
    });
    h.page->show();
    QVERIFY(QTest::qWaitForWindowExposed(h.page.get()));
    gate.lock();
    h.page->ShowFolder(folder.path());
    QCOMPARE(h.page->FileModel()->rowCount(), 2000); // listed while no thumbnail could be made
    QCOMPARE(decodes.load(), 0);
    QSignalSpy finished(h.page->FileModel(), &FileListModel::thumbnailsFinished);
    gate.unlock();
    QVERIFY(finished.wait(120000));
    QVERIFY(!onWindowThread.load());
    QCOMPARE(decodes.load(), 2000);
    int withThumbnail = 0;
    for (int row = 0; row < 2000; ++row)
        withThumbnail += !h.page->FileModel()->index(row, 0).data(ThumbnailRole).value<QImage>().isNull();
    QCOMPARE(withThumbnail, 2000);
}

QTEST_MAIN(EditorTest)
#include "app_editor_test.moc"

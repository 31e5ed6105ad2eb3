// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: pages and their buttons, accelerators, title, status bar, placement,
// the project commands with the unsaved-changes question, the Options dialog, the
// recorder set-up's messages and opening a project on workers.

#include "app_harness.h"

#include "burn/BurnPage.h"
#include "discmenu/MenuPage.h"
#include "editor/EditorModels.h"
#include "editor/EditorPage.h"
#include "editor/EditorViews.h"
#include "logic/ProjectOpener.h"
#include "picture/MenuTemplate.h"
#include "preview/PreviewPage.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/QtWaveOutput.h"
#include "services/RecorderSetup.h"
#include "shell/AboutDialog.h"
#include "app_harness.h"
#include "shell/MainWindow.h"
#include "shell/OptionsDialog.h"
#include "shell/SplashWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolBar>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTranslator>
#include <QToolButton>
#include <QUndoStack>
#include <QtTest>

#include <memory>
#include <mutex>

using namespace lumivox;
using namespace lumivox::ui;
using namespace lumivox::test;

namespace {

const QString kSamplePicture = QStringLiteral(LUMIVOX_SOURCE_DIR "/samples/mountain_lakes_01.jpg");
const QString kSamplePicture2 = QStringLiteral(LUMIVOX_SOURCE_DIR "/samples/sunset_coast_01.jpg");

// Everything a main window needs, made for one test.
struct Harness : UiHarness {
    explicit Harness(std::vector<RecorderDrive> drives = {}, bool transportOk = true, bool driverOk = true,
                     bool audioOutput = true)
        : UiHarness({.drives = std::move(drives),
                     .transportOk = transportOk,
                     .driverOk = driverOk,
                     .audioOutput = audioOutput})
    {
        window = std::make_unique<MainWindow>(*services);
        window->SetUrlOpener([this](const QUrl& url) { opened << url; });
        // The editor's dialogs are answered as their defaults ("Album n" for a new album).
        window->Editor()->SetDialogRunner([](QDialog&) { return int(QDialog::Accepted); });
        SetUpRecordersAndWait(*window);
    }
    bool ShowActive()
    {
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowActive(window.get());
    }
    QString CheckedPageButtons() const
    {
        QStringList checked;
        for (QAction* action : Find<QToolBar>(window, "pageBar")->actions())
            if (action->isChecked())
                checked << action->iconText();
        return checked.join(',');
    }

    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened;
};

// A project file with one album of the given pictures.
QString WriteProject(const QString& path, const QStringList& pictures)
{
    AlbumTable table;
    table.AddAlbum("Trip");
    for (const QString& picture : pictures)
        table.AddPictureToAlbum(0, picture.toStdString());
    std::string error;
    if (!table.SaveProject(path.toStdString(), &error))
        qWarning("%s", error.c_str());
    return path;
}

// What the user made: albums with their pictures and the disc design, in one line.
QString Describe(const Harness& h)
{
    QStringList parts;
    for (int i = 0; i < h.project.AlbumCount(); ++i) {
        const AlbumInfo& album = h.project.Album(i);
        QStringList pictures;
        for (const auto& picture : album.pictures)
            pictures << QFileInfo(QString::fromStdString(picture->path)).baseName() + "@" +
                            QString::number(picture->rotated ? picture->rotation : 0);
        parts << QStringLiteral("%1/%2[%3]")
                     .arg(QString::fromStdString(album.name))
                     .arg(album.waitTime)
                     .arg(pictures.join(','));
    }
    parts << QString::fromStdString(h.discMenu->CurrentTemplate())
          << QFileInfo(QString::fromStdString(h.discMenu->BackgroundOverride())).fileName()
          << QFileInfo(QString::fromStdString(h.discMenu->BackgroundMusic())).fileName();
    return parts.join(' ');
}

// An opened project of one album "Trip" with three pictures, nothing to undo or save.
void MakeTrip(Harness& h)
{
    const int album = h.project.AddAlbum("Trip");
    for (const QString& picture : {kSamplePicture, kSamplePicture2, kSamplePicture})
        h.project.AddPictureToAlbum(album, picture.toStdString());
    h.bridge->StartAfresh();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void pageSwitching_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("checked");
        QTest::newRow("Ctrl+E") << "Ctrl+E" << int(PageId::Editor) << "Editor";
        QTest::newRow("Ctrl+M") << "Ctrl+M" << int(PageId::DiscMenu) << "Disc Menu";
        QTest::newRow("Ctrl+P") << "Ctrl+P" << int(PageId::Preview) << "Preview";
        QTest::newRow("Ctrl+R") << "Ctrl+R" << int(PageId::Burn) << "Burn CD";
    }
    // Each page key shows its page with only its button checked, and stops the preview.
    void pageSwitching()
    {
        QFETCH(QString, keys);
        QFETCH(int, page);
        QFETCH(QString, checked);
        Harness h;
        QVERIFY(h.ShowActive());
        h.window->ShowPage(PageId::Preview);
        h.window->Preview()->StartPlayback();
        QVERIFY(h.window->Preview()->IsPlaying());
        QTest::keySequence(h.window.get(), QKeySequence(keys));
        QCOMPARE(int(h.window->CurrentPage()), page);
        QCOMPARE(h.CheckedPageButtons(), checked);
        QVERIFY(!h.window->Preview()->IsPlaying());
    }

    // The toolbar: four page buttons, a separator, then Help; text under large icons.
    void toolbarLayout()
    {
        Harness h;
        QStringList items;
        for (QAction* action : Find<QToolBar>(h.window, "pageBar")->actions())
            items << (action->isSeparator() ? QStringLiteral("|") : action->iconText());
        QCOMPARE(items.join(','), QStringLiteral("Editor,Disc Menu,Preview,Burn CD,|,Help"));
        QCOMPARE(Find<QToolBar>(h.window, "pageBar")->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(h.window->Action(Command::ShowBurn)->toolTip(), QStringLiteral("View burn panel"));
        QCOMPARE(h.window->Action(Command::HelpContents)->toolTip(), QStringLiteral("Open online help document"));
    }

    void accelerators_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("command");
        QTest::newRow("new project") << "Ctrl+N" << int(Command::NewProject);
        QTest::newRow("open") << "Ctrl+O" << int(Command::Open);
        QTest::newRow("save") << "Ctrl+S" << int(Command::Save);
        QTest::newRow("new album") << "Ctrl+B" << int(Command::NewAlbum);
        QTest::newRow("delete pictures") << "Del" << int(Command::DeletePictures);
        QTest::newRow("select all") << "Ctrl+A" << int(Command::SelectAll);
        QTest::newRow("editor") << "Ctrl+E" << int(Command::ShowEditor);
        QTest::newRow("disc menu") << "Ctrl+M" << int(Command::ShowDiscMenu);
        QTest::newRow("preview") << "Ctrl+P" << int(Command::ShowPreview);
        QTest::newRow("burn") << "Ctrl+R" << int(Command::ShowBurn);
        QTest::newRow("help") << "F1" << int(Command::HelpContents);
    }
    void accelerators()
    {
        QFETCH(QString, keys);
        QFETCH(int, command);
        Harness h;
        QVERIFY(h.ShowActive());
        QSignalSpy triggered(h.window->Action(Command(command)), &QAction::triggered);
        QTest::keySequence(h.window.get(), QKeySequence(keys));
        QCOMPARE(triggered.count(), 1);
    }

    void acceleratorEffects()
    {
        Harness h;
        QVERIFY(h.ShowActive());
        QTest::keySequence(h.window.get(), QKeySequence("Ctrl+B"));
        QCOMPARE(h.project.AlbumCount(), 1);
        QTest::keySequence(h.window.get(), QKeySequence("F1"));
        QCOMPARE(h.opened.size(), 1);
        QCOMPARE(h.opened.front().toLocalFile(), QStringLiteral(LUMIVOX_BIN_DIR "/help/intro.html"));
        QVERIFY(QFile::exists(h.opened.front().toLocalFile()));
        h.window->Action(Command::QuickStart)->trigger();
        QVERIFY(QFile::exists(h.opened.back().toLocalFile()));
        QVERIFY(h.opened.back().toLocalFile().endsWith("help/start.html"));
    }

    void enterAndEscapeDoNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Escape") << int(Qt::Key_Escape);
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
    }
    void enterAndEscapeDoNothing()
    {
        QFETCH(int, key);
        Harness h;
        QVERIFY(h.ShowActive());
        h.window->ShowPage(PageId::DiscMenu);
        QTest::keyClick(h.window.get(), Qt::Key(key));
        QTest::qWait(20);
        QVERIFY(h.window->isVisible());
        QCOMPARE(int(h.window->CurrentPage()), int(PageId::DiscMenu));
        QVERIFY(h.messages->shown.isEmpty());
        QVERIFY(h.messages->asked.isEmpty());
    }

    void titleRules_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("modified");
        QTest::addColumn<QString>("title");
        QTest::newRow("new project") << "" << false << "Lumivox - [New Project]";
        QTest::newRow("new project modified") << "" << true << "Lumivox - [New Project*]";
        QTest::newRow("dots in the name") << "/home/ann/Trip.2002.lvx" << false << "Lumivox - [Trip.2002]";
        QTest::newRow("dots in the folder") << "/home/ann/my.photos/Summer.lvx" << false << "Lumivox - [Summer]";
        QTest::newRow("no extension") << "/home/ann/my.photos/Summer" << true << "Lumivox - [Summer*]";
    }
    void titleRules()
    {
        QFETCH(QString, path);
        QFETCH(bool, modified);
        QFETCH(QString, title);
        QCOMPARE(WindowTitleFor(path, modified), title);
    }

    // Every kind of change is one command on the undo stack, named in the Edit menu;
    // undoing it comes back to the saved state, which is then not "modified".
    void undoEveryKindOfChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("undoText");
        const char* const rows[][2] = {{"new album", "Undo New Album"},
                                       {"delete album", "Undo Delete Album \"Trip\""},
                                       {"rename", "Undo Rename Album"},
                                       {"properties", "Undo Album Properties"},
                                       {"add", "Undo Add 1 Picture"},
                                       {"remove", "Undo Remove 2 Pictures"},
                                       {"remove all", "Undo Remove 3 Pictures"},
                                       {"reorder", "Undo Move 1 Picture"},
                                       {"rotate", "Undo Rotate Clockwise"},
                                       {"menu title", "Undo Rename Album"},
                                       {"template", "Undo Change Template"},
                                       {"background", "Undo Choose Background"},
                                       {"music", "Undo Choose Music"}};
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }
    void undoEveryKindOfChange()
    {
        QFETCH(QString, change);
        QFETCH(QString, undoText);
        QTemporaryDir dir;
        Harness h;
        QVERIFY(h.ShowActive());
        MakeTrip(h);
        h.messages->questionAnswer = true;
        EditorPage* editor = h.window->Editor();
        MenuPage* menu = h.window->DiscMenu();
        editor->SelectAlbumRow(1);
        editor->SetDialogRunner([](QDialog& dialog) {
            if (auto* name = dialog.findChild<QLineEdit*>())
                name->setText(QStringLiteral("Renamed"));
            if (auto* wait = dialog.findChild<QSpinBox*>())
                wait->setValue(9);
            return int(QDialog::Accepted);
        });
        const QString before = Describe(h);
        if (change == "new album") {
            editor->NewAlbum();
        } else if (change == "delete album") {
            editor->DeleteAlbum();
        } else if (change == "rename") {
            h.window->Action(Command::RenameAlbum)->trigger();
        } else if (change == "properties") {
            editor->AlbumProperties();
        } else if (change == "add") {
            QSignalSpy added(editor, &EditorPage::picturesAdded);
            editor->AddFiles({kSamplePicture2}, PictureSource::Path);
            QVERIFY(added.wait(20000));
        } else if (change == "remove") {
            editor->SelectSlides({0, 2});
            editor->RemoveSelectedSlides();
        } else if (change == "remove all") {
            editor->RemoveAllSlides();
        } else if (change == "reorder") {
            editor->MoveSlides({0}, 3);
        } else if (change == "rotate") {
            editor->SelectSlides({1});
            editor->RotateSelectedSlides(Rotation::Clockwise);
        } else if (change == "menu title") {
            h.window->ShowPage(PageId::DiscMenu);
            menu->RedrawMenu();
            MenuTemplate menuTemplate;
            QVERIFY(h.discMenu->LoadCurrentTemplate(menuTemplate));
            const std::vector<QRect> boxes = TitleHitBoxes(menu->PageRect(), menuTemplate, 0, 1);
            QCOMPARE(boxes.size(), std::size_t(1));
            menu->SetNameAsker([](QWidget*, QString& name) {
                name = QStringLiteral("Renamed");
                return true;
            });
            menu->EditTitleAt(boxes.front().center());
        } else if (change == "template") {
            QVERIFY(menu->SelectTemplate(QStringLiteral("slate.ini")));
        } else if (change == "background") {
            menu->SetFileAsker([](QWidget*, const QString&, const QString&) { return kSamplePicture2; });
            menu->ChooseBackground();
        } else if (change == "music") {
            const QString wave = WriteWave(dir.filePath("tune.wav"), 16);
            menu->SetFileAsker([wave](QWidget*, const QString&, const QString&) { return wave; });
            menu->ChooseMusic();
        }
        const QString after = Describe(h);
        QVERIFY2(after != before, qPrintable(after));
        QUndoStack* stack = h.bridge->UndoStack();
        QCOMPARE(stack->count(), 1);
        QCOMPARE(h.window->Action(Command::Undo)->text().remove(QLatin1Char('&')), undoText);
        QVERIFY(h.bridge->IsModified());
        QVERIFY(h.window->windowTitle().endsWith("*]"));
        QTest::keySequence(h.window.get(), QKeySequence(QStringLiteral("Ctrl+Z")));
        QCOMPARE(Describe(h), before);
        QVERIFY(!h.bridge->IsModified());
        QCOMPARE(h.window->TotalsText(), QStringLiteral("Total Album : 01  Total Photos: 3"));
        QTest::keySequence(h.window.get(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
        QCOMPARE(Describe(h), after);
        QVERIFY(h.bridge->IsModified());
        // Saving marks the clean state: undoing after it is a change again.
        h.files->saveAnswer = dir.filePath("trip");
        QVERIFY(h.window->SaveProject());
        QVERIFY(!h.bridge->IsModified());
        stack->undo();
        QVERIFY(h.bridge->IsModified());
    }

    // Delete and Select All act on the editor's focused list only: from the burn page,
    // with a check box focused, the slides stay.
    void deleteActsOnFocusedListOnly()
    {
        Harness h;
        QVERIFY(h.ShowActive());
        MakeTrip(h);
        EditorPage* editor = h.window->Editor();
        editor->SelectSlides({0});
        h.window->ShowPage(PageId::Burn);
        auto* box = h.window->Burn()->findChild<QCheckBox*>();
        QVERIFY(box);
        box->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), box);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QTest::keySequence(h.window.get(), QKeySequence(QStringLiteral("Ctrl+A")));
        QCOMPARE(int(h.window->CurrentPage()), int(PageId::Burn));
        QCOMPARE(h.project.PictureCount(0), 3);
        QCOMPARE(editor->SelectedSlides(), QList<int>{0});
        // On the editor, the focused file list loses nothing to Delete either.
        h.window->ShowPage(PageId::Editor);
        editor->FileView()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor->FileView()));
        QTest::keyClick(editor->FileView(), Qt::Key_Delete);
        QCOMPARE(h.project.PictureCount(0), 3);
        // The focused slide list: Select All, then Delete removes every slide.
        editor->SlideView()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(editor->SlideView()));
        QTest::keySequence(h.window.get(), QKeySequence(QStringLiteral("Ctrl+A")));
        QCOMPARE(editor->SelectedSlides(), (QList<int>{0, 1, 2}));
        QTest::keyClick(editor->SlideView(), Qt::Key_Delete);
        QCOMPARE(h.project.PictureCount(0), 0);
    }

    // Delete Album and Remove All ask first; done, they leave a note that Undo brings
    // the album back.
    void destructiveCommandsAskFirst_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("delete album") << "delete album";
        QTest::newRow("remove all") << "remove all";
    }
    void destructiveCommandsAskFirst()
    {
        QFETCH(QString, command);
        Harness h;
        MakeTrip(h);
        EditorPage* editor = h.window->Editor();
        editor->SelectAlbumRow(1);
        const QString before = Describe(h);
        const auto run = [&] { command == "delete album" ? editor->DeleteAlbum() : editor->RemoveAllSlides(); };
        h.messages->questionAnswer = false;
        run();
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY(h.messages->shown.front().contains(QStringLiteral("\"Trip\"")));
        QVERIFY(h.messages->shown.front().contains(QStringLiteral("3 pictures")));
        QCOMPARE(Describe(h), before);
        h.messages->questionAnswer = true;
        run();
        QVERIFY(Describe(h) != before);
        QVERIFY(h.window->statusBar()->currentMessage().contains(QStringLiteral("Undo")));
        h.window->Action(Command::Undo)->trigger();
        QCOMPARE(Describe(h), before);
    }

    // The design is saved in the project, restored on open (missing files reported),
    // counted as a change; a new project starts from the default design.
    void designSavedAndRestored()
    {
        QTemporaryDir dir;
        Harness h;
        MenuPage* menu = h.window->DiscMenu();
        QString asked = kSamplePicture2;
        menu->SetFileAsker([&asked](QWidget*, const QString&, const QString&) { return asked; });
        menu->ChooseBackground();
        // Another template keeps the chosen background.
        QVERIFY(menu->SelectTemplate(QStringLiteral("sunset.ini")));
        QCOMPARE(QString::fromStdString(h.discMenu->BackgroundOverride()), kSamplePicture2);
        asked = WriteWave(dir.filePath("tune.wav"), 16);
        menu->ChooseMusic();
        QVERIFY(h.bridge->IsModified());
        const QString design = Describe(h);
        h.files->saveAnswer = dir.filePath("design");
        QVERIFY(h.window->SaveProject());
        h.window->NewProject();
        QCOMPARE(Describe(h), QStringLiteral("template/classic.ini  "));
        QSignalSpy opened(h.window.get(), &MainWindow::projectOpened);
        h.window->OpenProjectFile(dir.filePath("design.lvx"));
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 30000);
        QCOMPARE(Describe(h), design);
        QVERIFY(!h.bridge->IsModified());
        QVERIFY(h.messages->shown.isEmpty());
        // The music went away: reported like a missing picture, and not used.
        QVERIFY(QFile::remove(dir.filePath("tune.wav")));
        h.window->OpenProjectFile(dir.filePath("design.lvx"));
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 2, 30000);
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY(h.messages->shown.front().contains(dir.filePath("tune.wav")));
        QVERIFY(h.discMenu->BackgroundMusic().empty());
    }

    // One window writes a project at a time; a file another program changed is not
    // overwritten in silence; changes a crash left unsaved come back at the next start.
    void projectKeptSafe()
    {
        QTemporaryDir dir, autosaves;
        const QString path = dir.filePath("trip.lvx");
        auto first = std::make_unique<Harness>();
        first->window->SetAutosaveFolder(autosaves.path().toStdString());
        first->window->Editor()->NewAlbum();
        first->files->saveAnswer = path;
        QVERIFY(first->window->SaveProject());
        {
            Harness second;
            QSignalSpy opened(second.window.get(), &MainWindow::projectOpened);
            second.window->OpenProjectFile(path);
            QCOMPARE(opened.count(), 1);
            QCOMPARE(opened.front().front().toBool(), false);
            QVERIFY(second.messages->shown.join('\n').contains(QStringLiteral("open in another Lumivox window")));
            QVERIFY(second.window->ProjectPath().isEmpty());
        }

        // Another program rewrites the file: Cancel keeps it, Overwrite replaces it.
        QFile::remove(path);
        WriteProject(path, {kSamplePicture2});
        const QByteArray theirs = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        first->window->Editor()->NewAlbum();
        first->messages->changedAnswer = ChangedChoice::Cancel;
        QVERIFY(!first->window->SaveProject());
        QCOMPARE(first->messages->asked.size(), 1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), theirs);
        file.close();
        first->messages->changedAnswer = ChangedChoice::Overwrite;
        QVERIFY(first->window->SaveProject());
        QVERIFY(!first->bridge->IsModified());

        // Unsaved changes, a copy made, then the program dies without closing its window.
        first->window->Editor()->NewAlbum();
        const int albums = first->project.AlbumCount();
        first->window->AutosaveNow();
        first.reset();
        Harness next;
        next.window->SetAutosaveFolder(autosaves.path().toStdString());
        next.messages->questionAnswer = true;
        QSignalSpy opened(next.window.get(), &MainWindow::projectOpened);
        next.window->OfferRecovery();
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 30000);
        QCOMPARE(next.project.AlbumCount(), albums);
        QCOMPARE(next.window->ProjectPath(), path);
        QVERIFY(next.bridge->IsModified());
        QCOMPARE(QDir(autosaves.path()).entryList(QDir::Files), QStringList{}); // the copy was taken
    }

    // A picture whose folder moved stays in its album, marked; opening offers to look for
    // it, and what is found comes back as one step that undo takes back.
    void missingPicturesAreKeptAndFound()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("moved")));
        const QString moved = dir.filePath(QStringLiteral("moved/b.jpg"));
        QVERIFY(QFile::copy(kSamplePicture2, moved));
        const QString path = dir.filePath("trip.lvx");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("[GENERAL]\nDescription=Lumivox Project\nAlbum_Count=1\n[Album_01]\nName=Trip\n"
                                      "Image_Count=2\nImage_01=%1\nImage_02=%2\n")
                           .arg(kSamplePicture2, dir.filePath("gone/b.jpg"))
                           .toUtf8());
        }
        Harness h;
        h.messages->questionAnswer = true;
        h.files->folderAnswer = dir.filePath(QStringLiteral("moved"));
        QSignalSpy opened(h.window.get(), &MainWindow::projectOpened);
        h.window->OpenProjectFile(path);
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 30000);
        QVERIFY(h.messages->shown.join('\n').contains(dir.filePath("gone/b.jpg")));
        QCOMPARE(h.project.PictureCount(0), 2);
        QCOMPARE(h.project.MissingPictureCount(), 0);
        QCOMPARE(QString::fromStdString(h.project.Picture(0, 1).path), moved);
        h.window->Action(Command::Undo)->trigger();
        QCOMPARE(h.project.MissingPictureCount(), 1);
        QVERIFY(h.window->Action(Command::FindMissing)->isEnabled());
        QVERIFY(!h.bridge->IsModified());
    }

    // Ctrl+Z while typing in a text field takes back the typing, not a change of the albums.
    void undoInATextFieldIsTheFields()
    {
        Harness h;
        QVERIFY(h.ShowActive());
        h.window->Editor()->NewAlbum();
        const int albums = h.project.AlbumCount();
        h.window->ShowPage(PageId::Burn);
        auto* label = Find<QLineEdit>(h.window, "discLabelEdit");
        label->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(label));
        label->selectAll();
        QTest::keyClicks(label, QStringLiteral("SUMMER"));
        QTest::keySequence(h.window.get(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        h.window->Action(Command::Undo)->trigger();
        QCOMPARE(h.project.AlbumCount(), albums);
        h.window->Editor()->AlbumView()->setFocus();
        h.window->Action(Command::Undo)->trigger();
        QCOMPARE(h.project.AlbumCount(), albums - 1);
    }

    // Save As ends the name in ".lvx" unless it already does.
    void saveAsSuffix_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("dotted name") << "Trip.2002"
                                     << "Trip.2002.lvx";
        QTest::newRow("plain") << "Trip"
                               << "Trip.lvx";
        QTest::newRow("with suffix") << "Trip.lvx"
                                     << "Trip.lvx";
        QTest::newRow("upper-case suffix") << "Trip.LVX"
                                           << "Trip.LVX";
    }
    void saveAsSuffix()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QTemporaryDir dir;
        Harness h;
        h.files->saveAnswer = dir.filePath(typed);
        QVERIFY(h.window->SaveProjectAs());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{saved});
        QCOMPARE(h.window->ProjectPath(), dir.filePath(saved));
    }

    // File dialogs start in the last folder used, else the project's, else the editor's;
    // Save Disc Image suggests a file named after the CD label.
    void dialogFoldersAndImageName()
    {
        QTemporaryDir dir, other;
        Harness h;
        h.window->Editor()->ShowFolder(other.path());
        QCOMPARE(h.files->StartFolder(), other.path());
        h.files->saveAnswer = dir.filePath("trip");
        QVERIFY(h.window->SaveProject());
        QCOMPARE(h.files->StartFolder(), dir.path());
        h.files->Remember(other.filePath("picture.jpg"));
        QCOMPARE(h.files->StartFolder(), other.path());
        QCOMPARE(DiscImageName(QStringLiteral(" My Photo VideoCD ")), QStringLiteral("My Photo VideoCD.cue"));
        QCOMPARE(DiscImageName(QStringLiteral("../a/b:c")), QStringLiteral("_a_b_c.cue"));
        QCOMPARE(DiscImageName(QString()), QStringLiteral("disc.cue"));
    }

    // Lists, their items, the buttons, the menu preview, the television and the remote
    // are named for assistive technology.
    void accessibleNames()
    {
        Harness h;
        MakeTrip(h);
        EditorPage* editor = h.window->Editor();
        for (QWidget* widget : std::initializer_list<QWidget*>{
                 Find<QListView>(editor, "albumView"), editor->SlideView(), editor->FileView(),
                 Find<QTreeView>(editor, "folderTree"), Find<QToolButton>(editor, "removeSlidesButton"),
                 Find<QWidget>(h.window->DiscMenu(), "menuPreview"),
                 h.window->Preview()->findChild<QWidget*>(QStringLiteral("television")),
                 h.window->Preview()->findChild<QWidget*>(QStringLiteral("remoteControl"))}) {
            QVERIFY(widget);
            QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
        }
        QCOMPARE(editor->AlbumModel()->index(1).data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Album 1 of 1: Trip, 3 pictures"));
        QCOMPARE(editor->SlideModel()->index(1).data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Slide 2 of 3: sunset_coast_01.jpg"));
    }

    // Each page can be worked from the keyboard: Tab reaches every control of the page
    // that takes focus, with the focus shown, and comes round again (no trap).
    void tabReachesEveryControlAndComesRound()
    {
        Harness h;
        MakeTrip(h);
        h.window->resize(1280, 800);
        QVERIFY(h.ShowActive());
        for (PageId page : {PageId::Editor, PageId::DiscMenu, PageId::Preview, PageId::Burn}) {
            h.window->ShowPage(page);
            QApplication::processEvents();
            QWidget* const pages[] = {h.window->Editor(), h.window->DiscMenu(), h.window->Preview(), h.window->Burn()};
            QWidget* pageWidget = pages[int(page)];
            QList<QWidget*> wanted;
            // The preview page takes the keys itself (the remote's numbers, Space, Escape, Page Up/Down).
            QList<QWidget*> candidates = pageWidget->findChildren<QWidget*>();
            candidates.prepend(pageWidget);
            for (QWidget* w : candidates)
                if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
                    wanted << w;
            QVERIFY2(!wanted.isEmpty(), qPrintable(QString::number(int(page))));
            wanted.first()->setFocus(Qt::TabFocusReason);
            QWidget* start = QApplication::focusWidget();
            QSet<QWidget*> reached;
            bool cameRound = false;
            for (int i = 0; i < 400 && !cameRound; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QWidget* now = QApplication::focusWidget();
                QVERIFY(now);
                reached.insert(now);
                cameRound = now == start;
            }
            QVERIFY2(cameRound, qPrintable(QStringLiteral("page %1: Tab does not come round").arg(int(page))));
            QStringList missed;
            for (QWidget* w : wanted)
                if (!reached.contains(w))
                    missed << QStringLiteral("%1 (%2)").arg(w->objectName(),
                                                            QString::fromLatin1(w->metaObject()->className()));
            QVERIFY2(missed.isEmpty(),
                     qPrintable(QStringLiteral("page %1 misses: %2").arg(int(page)).arg(missed.join(", "))));
            // No stop where nothing shows the focus (the page's scroll container).
            QStringList hidden;
            for (QWidget* w : reached)
                if (!wanted.contains(w))
                    hidden << QString::fromLatin1(w->metaObject()->className());
            QVERIFY2(hidden.isEmpty(),
                     qPrintable(QStringLiteral("page %1 stops at: %2").arg(int(page)).arg(hidden.join(", "))));
        }
    }

    // A pseudo-translation that doubles every text: no button of any page cuts its text.
    void pseudoTranslationFits()
    {
        class Doubling final : public QTranslator {
        public:
            bool isEmpty() const override { return false; }
            QString translate(const char*, const char* source, const char*, int) const override
            {
                const QString text = QString::fromUtf8(source);
                return text + QLatin1Char(' ') + text;
            }
        } doubling;
        QCoreApplication::installTranslator(&doubling);
        QStringList cut;
        {
            Harness h;
            h.window->resize(1280, 800);
            h.window->show();
            QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
            for (PageId page : {PageId::Editor, PageId::DiscMenu, PageId::Preview, PageId::Burn}) {
                h.window->ShowPage(page);
                QApplication::processEvents();
                for (QAbstractButton* button : h.window->findChildren<QAbstractButton*>()) {
                    if (!button->isVisible() || button->text().isEmpty() ||
                        (qobject_cast<QToolButton*>(button) && button->parent() == Find<QToolBar>(h.window, "pageBar")))
                        continue;
                    if (button->width() < button->sizeHint().width() - 1)
                        cut << QStringLiteral("%1 (%2 < %3)")
                                   .arg(button->text())
                                   .arg(button->width())
                                   .arg(button->sizeHint().width());
                }
            }
        }
        QCoreApplication::removeTranslator(&doubling);
        cut.removeDuplicates();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
    }

    // Settings that cannot be written at exit are reported.
    void unsavedSettingsReported()
    {
        Harness h;
        h.window->show();
        h.window->SetSettingsSaver([](std::string* error) {
            *error = "/etc/lumivox/config.ini: Permission denied";
            return false;
        });
        h.window->close();
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY(h.messages->shown.front().contains(QStringLiteral("settings could not be saved")));
        QVERIFY(h.messages->shown.front().contains(QStringLiteral("Permission denied")));
    }

    // Help without a browser opens in the program's own window.
    void helpWindowShowsPage()
    {
        Harness h;
        h.window->ShowHelpWindow(QUrl::fromLocalFile(QStringLiteral(LUMIVOX_BIN_DIR "/help/intro.html")));
        auto* browser = Find<QDialog>(h.window, "helpWindow")->findChild<QTextBrowser*>();
        QVERIFY(Find<QDialog>(h.window, "helpWindow")->isVisible());
        QVERIFY(!browser->toPlainText().isEmpty());
    }

    void saveAsCancelledWritesNothing()
    {
        QTemporaryDir dir;
        Harness h;
        h.files->saveAnswer.clear();
        QVERIFY(!h.window->SaveProject());
        QCOMPARE(h.files->saveCalls, 1);
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [New Project]"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 0);
    }

    void saveClearsModifiedAndAddsSuffix()
    {
        QTemporaryDir dir;
        Harness h;
        h.window->Editor()->NewAlbum();
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [New Project*]"));
        h.files->saveAnswer = dir.filePath("Holiday");
        QVERIFY(h.window->SaveProject());
        QVERIFY(QFile::exists(dir.filePath("Holiday.lvx")));
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [Holiday]"));
        // Save again goes to the same file without asking.
        h.window->Editor()->NewAlbum();
        QVERIFY(h.window->SaveProject());
        QCOMPARE(h.files->saveCalls, 1);
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [Holiday]"));
    }

    // Opening runs on workers; the title names the file, the totals count its pictures.
    void openShowsProject()
    {
        QTemporaryDir dir;
        const QString path = WriteProject(dir.filePath("Trip.2002.lvx"), {kSamplePicture, kSamplePicture2});
        Harness h;
        h.window->ShowPage(PageId::Burn);
        h.files->openAnswer = path;
        QSignalSpy opened(h.window.get(), &MainWindow::projectOpened);
        h.window->Action(Command::Open)->trigger();
        QCOMPARE(int(h.window->CurrentPage()), int(PageId::Editor));
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 30000);
        QCOMPARE(opened.front().front().toBool(), true);
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [Trip.2002]"));
        QCOMPARE(h.window->TotalsText(), QStringLiteral("Total Album : 01  Total Photos: 2"));
        QCOMPARE(h.project.PictureCount(0), 2);
        QVERIFY(!h.bridge->IsModified());
    }

    // A file that is no project leaves the open project as it was.
    void openForeignFileKeepsProject()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("notes.lvx");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[GENERAL]\nDescription=Shopping list\n");
        file.close();
        Harness h;
        h.window->Editor()->NewAlbum();
        h.bridge->SetModified(false);
        QSignalSpy opened(h.window.get(), &MainWindow::projectOpened);
        h.window->OpenProjectFile(path);
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 30000);
        QCOMPARE(opened.front().front().toBool(), false);
        QCOMPARE(h.messages->shown, QStringList{QString::fromLatin1(kMsgInvalidProject)});
        QCOMPARE(h.project.AlbumCount(), 1);
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [New Project]"));
    }

    void unsavedChangesQuestion_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<int>("albumsAfter");
        QTest::addColumn<int>("openDialogs");
        QTest::addColumn<bool>("windowOpen");
        const int save = int(SaveChoice::Save), discard = int(SaveChoice::Discard), cancel = int(SaveChoice::Cancel);
        QTest::newRow("new, save") << "new" << save << true << 0 << 0 << true;
        QTest::newRow("new, discard") << "new" << discard << false << 0 << 0 << true;
        QTest::newRow("new, cancel") << "new" << cancel << false << 1 << 0 << true;
        QTest::newRow("open, save") << "open" << save << true << 1 << 1 << true;
        QTest::newRow("open, discard") << "open" << discard << false << 1 << 1 << true;
        QTest::newRow("open, cancel") << "open" << cancel << false << 1 << 0 << true;
        QTest::newRow("close, save") << "close" << save << true << 1 << 0 << false;
        QTest::newRow("close, discard") << "close" << discard << false << 1 << 0 << false;
        QTest::newRow("close, cancel") << "close" << cancel << false << 1 << 0 << true;
    }
    void unsavedChangesQuestion()
    {
        QFETCH(QString, command);
        QFETCH(int, answer);
        QFETCH(bool, saved);
        QFETCH(int, albumsAfter);
        QFETCH(int, openDialogs);
        QFETCH(bool, windowOpen);
        QTemporaryDir dir;
        Harness h;
        h.window->show();
        h.window->Editor()->NewAlbum();
        h.messages->saveAnswer = SaveChoice(answer);
        h.files->saveAnswer = dir.filePath("kept.lvx");
        h.files->openAnswer.clear(); // the open dialog is then cancelled
        if (command == "new")
            h.window->Action(Command::NewProject)->trigger();
        else if (command == "open")
            h.window->Action(Command::Open)->trigger();
        else
            h.window->close();
        QCOMPARE(h.messages->asked, QStringList{QStringLiteral("Save changes to New Project?")});
        QCOMPARE(QFile::exists(dir.filePath("kept.lvx")), saved);
        QCOMPARE(h.project.AlbumCount(), albumsAfter);
        QCOMPARE(h.files->openCalls, openDialogs);
        QCOMPARE(h.window->isVisible(), windowOpen);
    }

    void noQuestionWithoutChanges()
    {
        Harness h;
        h.window->show();
        h.window->Action(Command::NewProject)->trigger();
        h.window->close();
        QVERIFY(h.messages->asked.isEmpty());
        QVERIFY(!h.window->isVisible());
    }

    void statusTexts_data()
    {
        QTest::addColumn<int>("drives");
        QTest::addColumn<bool>("transportOk");
        QTest::addColumn<bool>("driverOk");
        QTest::addColumn<int>("storedRecorder");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("recorderAfter");
        QTest::newRow("no writer") << 0 << true << true << 0 << "No CD-Writer is Found" << QStringList() << 0;
        QTest::newRow("one writer") << 1 << true << true << 0 << "Device: ACME  Writer 0" << QStringList() << 0;
        QTest::newRow("second writer") << 2 << true << true << 1 << "Device: ACME  Writer 1" << QStringList() << 1;
        QTest::newRow("stored index beyond the drives")
            << 2 << true << true << 5 << "Device: ACME  Writer 0" << QStringList() << 0;
        QTest::newRow("negative stored index")
            << 1 << true << true << -3 << "Device: ACME  Writer 0" << QStringList() << 0;
        QTest::newRow("no transport") << 1 << false << true << 0 << "No CD-Writer is Found"
                                      << QStringList{"Error while new SCSIDriver"} << 0;
        QTest::newRow("no driver") << 1 << true << false << 0 << "No CD-Writer is Found"
                                   << QStringList{"Error while new CDRDriver."} << 0;
    }
    void statusTexts()
    {
        QFETCH(int, drives);
        QFETCH(bool, transportOk);
        QFETCH(bool, driverOk);
        QFETCH(int, storedRecorder);
        QFETCH(QString, device);
        QFETCH(QStringList, messages);
        QFETCH(int, recorderAfter);
        std::vector<RecorderDrive> list;
        for (int i = 0; i < drives; ++i)
            list.push_back({"ACME", "Writer " + std::to_string(i), "1.0", 0, i, 0, "/dev/sr" + std::to_string(i)});
        // The harness runs the set-up once with default settings; run it again with the row's.
        Harness h(list, transportOk, driverOk);
        h.messages->shown.clear();
        h.settings.recorder = storedRecorder;
        QVERIFY(SetUpRecordersAndWait(*h.window));
        QCOMPARE(h.window->DeviceStatusText(), device);
        QCOMPARE(h.messages->shown, messages);
        QCOMPARE(h.settings.recorder, recorderAfter);
        QCOMPARE(h.window->TotalsText(), QStringLiteral("Total Album : 00  Total Photos: 0"));
        if (drives > 0 && transportOk)
            QCOMPARE(Find<QComboBox>(h.window->Burn(), "driveList")->itemText(0),
                     QStringLiteral("ACMEWriter 0(0:0:0)"));
    }

    // The drives are looked for on a worker: the window answers meanwhile, says that it is
    // looking, refuses drive changes, and a second request looks once more afterwards.
    void recordersAreLookedForOffTheWindowsThread()
    {
        Harness h({RecorderDrive{"ACME", "Writer 0", "1.0", 0, 0, 0, "/dev/sr0"}});
        std::mutex gate;
        gate.lock();
        h.backend->onScan = [&gate] { std::lock_guard wait(gate); };
        h.window->SetUpRecorders(); // returns at once though the drive has not answered
        QVERIFY(h.window->IsLookingForRecorders());
        QCOMPARE(h.window->DeviceStatusText(), QStringLiteral("Looking for CD recorders..."));
        QVERIFY(!Find<QComboBox>(h.window->Burn(), "driveList")->isEnabled());
        QVERIFY(!h.recorders->ChangeDriverLater(h.settings, 0, true, MakeOwnerLink(h.window.get()), {}));
        h.window->SetUpRecorders(); // asked again while looking: once more afterwards
        QApplication::processEvents();
        gate.unlock();
        QTRY_VERIFY_WITH_TIMEOUT(!h.window->IsLookingForRecorders(), 20000);
        QCOMPARE(h.backend->scans.load(), 3); // the harness's own, then two
        QCOMPARE(h.window->DeviceStatusText(), QStringLiteral("Device: ACME  Writer 0"));
        QVERIFY(Find<QComboBox>(h.window->Burn(), "driveList")->isEnabled());
    }

    void totalsFollowTheProject()
    {
        Harness h;
        h.window->Editor()->NewAlbum();
        h.window->Editor()->NewAlbum();
        QVERIFY(h.project.AddPictureToAlbum(1, kSamplePicture.toStdString()));
        QCOMPARE(h.window->TotalsText(), QStringLiteral("Total Album : 02  Total Photos: 1"));
    }

    void optionsValidation_data()
    {
        QTest::addColumn<int>("waitTime");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("1 refused") << 1 << false;
        QTest::newRow("2 accepted") << 2 << true;
        QTest::newRow("1200 accepted") << 1200 << true;
        QTest::newRow("1201 refused") << 1201 << false;
    }
    void optionsValidation()
    {
        QFETCH(int, waitTime);
        QFETCH(bool, accepted);
        Settings settings;
        settings.tempDir = "/tmp/";
        FakeFileChooser files;
        FakeMessageBoxes messages;
        OptionsDialog dialog(settings, files, messages);
        QVERIFY(!Find<QCheckBox>(&dialog, "forceAspiBox")->isVisibleTo(&dialog));
        QCOMPARE(Find<QComboBox>(&dialog, "writingModeList")->count(), 3);
        Find<QSpinBox>(&dialog, "waitTimeBox")->setValue(waitTime);
        dialog.accept();
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(messages.shown.isEmpty(), accepted);
        if (!accepted)
            QCOMPARE(messages.shown.front(), QStringLiteral("Please enter an integer between 2 and 1200."));
    }

    void optionsBrowseDropsTrailingSlash()
    {
        Settings settings;
        settings.tempDir = "/var/tmp/work/";
        FakeFileChooser files;
        FakeMessageBoxes messages;
        files.folderAnswer = "/home/ann/vcd-work";
        OptionsDialog dialog(settings, files, messages);
        dialog.BrowseTempFolder();
        QCOMPARE(files.folderStart, QStringLiteral("/var/tmp/work"));
        QCOMPARE(Find<QLineEdit>(&dialog, "tempFolderEdit")->text(), QStringLiteral("/home/ann/vcd-work"));
    }

    // Accepting Options stores the folder with its separator and carries the new default
    // wait time to the albums that had the old one.
    void optionsAcceptedThroughTheWindow()
    {
        Harness h;
        h.settings.waitTime = 4;
        h.project.SetDefaultWaitTime(4);
        h.window->Editor()->NewAlbum();
        h.window->Editor()->NewAlbum();
        QVERIFY(h.project.SetAlbumWaitTime(1, 10));
        h.window->show();
        bool answered = false;
        QTimer::singleShot(0, h.window.get(), [&] {
            auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            Find<QSpinBox>(dialog, "waitTimeBox")->setValue(6);
            Find<QLineEdit>(dialog, "tempFolderEdit")->setText("/tmp/lumivox-work");
            Find<QComboBox>(dialog, "writingModeList")->setCurrentIndex(2);
            answered = true;
            dialog->accept();
        });
        h.window->ShowOptions();
        QVERIFY(answered);
        QCOMPARE(h.settings.waitTime, 6);
        QCOMPARE(h.settings.tempDir, std::string("/tmp/lumivox-work/"));
        QCOMPARE(h.settings.driver, 2);
        QCOMPARE(h.project.Album(0).waitTime, 6);
        QCOMPARE(h.project.Album(1).waitTime, 10);
        QCOMPARE(h.project.DefaultWaitTime(), 6);
    }

    void placement_data()
    {
        QTest::addColumn<int>("maximized");
        QTest::addColumn<QRect>("saved");
        QTest::addColumn<bool>("restored");
        QTest::newRow("width 0 keeps the default") << 0 << QRect(40, 30, 0, 500) << false;
        QTest::newRow("saved rectangle") << 0 << QRect(40, 30, 900, 640) << true;
        QTest::newRow("maximised ignores the rectangle") << 1 << QRect(40, 30, 900, 640) << false;
        QTest::newRow("on no screen") << 0 << QRect(-30000, -30000, 900, 640) << false;
    }
    void placement()
    {
        QFETCH(int, maximized);
        QFETCH(QRect, saved);
        QFETCH(bool, restored);
        Harness h;
        const QSize defaultSize = h.window->size();
        h.settings.window = {maximized, saved.x(), saved.y(), saved.width(), saved.height()};
        h.window->RestorePlacement();
        QCOMPARE(bool(h.window->windowState() & Qt::WindowMaximized), maximized == 1);
        if (restored)
            QCOMPARE(h.window->geometry(), saved);
        else if (maximized == 0)
            QCOMPARE(h.window->size(), defaultSize);
    }

    void closeStoresPlacement()
    {
        Harness h;
        h.window->setGeometry(50, 60, 820, 610);
        h.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        const QRect geometry = h.window->geometry();
        h.window->close();
        QCOMPARE(h.settings.window.maximized, 0);
        QCOMPARE(QRect(h.settings.window.x, h.settings.window.y, h.settings.window.width, h.settings.window.height),
                 geometry);
    }

    // Without an audio output the window starts fully and the music commands say that
    // music cannot be played.
    void musicWithoutAudioOutput()
    {
        Harness h({}, true, true, false);
        QVERIFY(!h.music->Available());
        h.settings.window = {0, 20, 30, 700, 500};
        h.window->RestorePlacement();
        QCOMPARE(h.window->geometry(), QRect(20, 30, 700, 500));
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [New Project]"));
        h.discMenu->SetBackgroundMusic("/music/menu.mp3");
        h.window->DiscMenu()->PlayMusic();
        QCOMPARE(h.messages->shown, QStringList{QString::fromLatin1(kMsgNoAudioOutput)});
        // The preview plays its menu without music.
        h.window->ShowPage(PageId::Preview);
        h.window->Preview()->StartPlayback();
        QVERIFY(h.window->Preview()->IsPlaying());
        QVERIFY(!h.music->IsPlaying());
    }

    // With an audio output, Play Music starts the player and a page switch stops it.
    void musicStopsWithThePreview()
    {
        QTemporaryDir dir;
        Harness h;
        h.discMenu->SetBackgroundMusic(dir.filePath("missing.wav").toStdString());
        h.window->ShowPage(PageId::Preview);
        h.window->Preview()->StartPlayback();
        QVERIFY(h.music->IsPlaying());
        h.window->ShowPage(PageId::Burn);
        QVERIFY(!h.music->IsPlaying());
        QVERIFY(h.output.resets > 0);
    }

    // A new writing mode in Options makes a new driver for the selected drive.
    void optionsWritingModeReplacesDriver()
    {
        Harness h({{"ACME", "Writer", "1.0", 1, 2, 0, "/dev/sr0"}});
        QCOMPARE(h.backend->driverModes, std::vector<int>{0});
        h.window->show();
        QTimer::singleShot(0, h.window.get(), [&] {
            if (auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget())) {
                Find<QComboBox>(dialog, "writingModeList")->setCurrentIndex(1);
                dialog->accept();
            }
        });
        h.window->ShowOptions();
        // The new driver is made on a worker and taken over by the window afterwards.
        QTRY_VERIFY(!h.recorders->IsMakingDriver());
        QCOMPARE(h.backend->driverModes, (std::vector<int>{0, 1}));
        QCOMPARE(h.window->DeviceStatusText(), QStringLiteral("Device: ACME  Writer"));
    }

    // The program's own backend finds the emulated recorder that LUMIVOX_EMULATED_RECORDER
    // names, makes its driver, and shows it in the status bar; without it, no writer.
    void systemBackendFindsTheEmulatedRecorder()
    {
        QTemporaryDir folder;
        const QByteArray device = "emulated:" + folder.path().toUtf8() + "?vendor=EMUL&product=BURNER 52X";
        qputenv("LUMIVOX_EMULATED_RECORDER", device);
        Settings settings;
        RecorderSetup setup(MakeSystemRecorderBackend());
        QCOMPARE(setup.SetUp(settings), RecorderSetupResult::Ready);
        QVERIFY(setup.HasDriver());
        QVERIFY(!setup.Drives().empty());
        QCOMPARE(QString::fromStdString(setup.Drives().back().device), QString::fromUtf8(device));
        QVERIFY2(setup.DeviceStatus().contains(QStringLiteral("EMUL")), qPrintable(setup.DeviceStatus()));
        qunsetenv("LUMIVOX_EMULATED_RECORDER");
        RecorderSetup none(MakeSystemRecorderBackend());
        QCOMPARE(none.SetUp(settings), RecorderSetupResult::NoWriter); // no drive on a build machine
        QCOMPARE(none.DeviceStatus(), QString::fromLatin1(kMsgNoWriter));
    }

    // The splash closes at the first key press or click anywhere; the about box at a
    // left click.
    void splashAndAboutClose_data()
    {
        QTest::addColumn<bool>("click");
        QTest::newRow("key") << false;
        QTest::newRow("click") << true;
    }
    void splashAndAboutClose()
    {
        QFETCH(bool, click);
        Harness h;
        h.window->show();
        QPointer<SplashWindow> splash = new SplashWindow(0);
        splash->show();
        QVERIFY(QTest::qWaitForWindowExposed(splash.data()));
        if (click)
            QTest::mouseClick(h.window->centralWidget(), Qt::LeftButton);
        else
            QTest::keyClick(h.window.get(), Qt::Key_Shift);
        QTRY_VERIFY(splash.isNull() || !splash->isVisible());

        AboutDialog about(h.window.get());
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::mouseClick(&about, Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    // Cancel in the progress dialog leaves the project on screen as it was, and the
    // window answers while the pictures are read.
    void openCancelledFromProgressDialog()
    {
        QTemporaryDir dir;
        const QString path = WriteProject(dir.filePath("Big.lvx"), {kSamplePicture, kSamplePicture2});
        Harness h;
        h.window->show();
        h.window->Editor()->NewAlbum();
        QVERIFY(h.project.AddPictureToAlbum(0, kSamplePicture.toStdString()));
        h.bridge->SetModified(false);
        std::atomic<bool> release{false};
        h.window->SetOpenDecoder([&](const std::string&, PicBitmap&) {
            while (!release.load())
                std::this_thread::yield();
            throw std::runtime_error("stopped");
        });
        QSignalSpy opened(h.window.get(), &MainWindow::projectOpened);
        h.window->OpenProjectFile(path);
        QVERIFY(h.window->IsOpening());
        // The event loop runs while the worker is busy: the progress dialog comes up.
        QProgressDialog* progress = nullptr;
        QTRY_VERIFY((progress = h.window->findChild<QProgressDialog*>()) && progress->isVisible());
        auto* cancel = progress->findChild<QPushButton*>();
        QVERIFY(cancel);
        QTest::mouseClick(cancel, Qt::LeftButton);
        release = true;
        QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 30000);
        QCOMPARE(opened.front().front().toBool(), false);
        QVERIFY(!progress->isVisible());
        QCOMPARE(h.project.AlbumCount(), 1);
        QCOMPARE(h.project.Album(0).name, std::string("Album 1"));
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Lumivox - [New Project]"));
        QVERIFY(h.messages->shown.isEmpty());
    }

    // The opener: cancelling gives a cancelled result that nobody applies.
    void openerCancel()
    {
        QTemporaryDir dir;
        const QString path = WriteProject(dir.filePath("slow.lvx"), {kSamplePicture, kSamplePicture2});
        std::atomic<bool> release{false};
        std::atomic<int> decodes{0};
        ProjectOpener opener;
        QSignalSpy finished(&opener, &ProjectOpener::finished);
        opener.Start(path, [&](const std::string&, PicBitmap&) {
            ++decodes;
            while (!release.load())
                std::this_thread::yield();
            throw std::runtime_error("stopped");
        });
        QVERIFY(opener.IsRunning());
        QTRY_VERIFY(decodes.load() >= 1);
        opener.Cancel();
        release = true;
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        const auto result = finished.front().at(1).value<std::shared_ptr<DecodedProject>>();
        QVERIFY(result->cancelled);
        QVERIFY(!opener.IsRunning());
    }
};

QTEST_MAIN(MainWindowTest)
#include "app_mainwindow_test.moc"

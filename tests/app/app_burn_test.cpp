// SPDX-License-Identifier: GPL-2.0-or-later
// The burn page, its progress dialog and its erase dialog, driven against the emulated
// recorder (a folder per drive) and, for the erase timing, a scripted drive with a clock
// whose seconds pass at once.

#include "app_harness.h"

#include "burn/BurnPage.h"
#include "burn/EraseDialog.h"
#include "burn/PictureButton.h"
#include "burn/ProgressDialog.h"
#include "burn/TextProgressBar.h"
#include "discmenu/MenuPage.h"
#include "logic/BurnRun.h"
#include "logic/MusicPlayer.h"
#include "picture/MenuTemplate.h"
#include "preview/PreviewPage.h"
#include "project/AlbumTable.h"
#include "project/Settings.h"
#include "recorder/DiscUtilities.h"
#include "recorder/DriveDatabase.h"
#include "recorder/RecorderDriver.h"
#include "recorder/Scsi.h"
#include "services/MusicService.h"
#include "services/ProjectBridge.h"
#include "services/QtWaveOutput.h"
#include "services/RecorderSetup.h"
#include "shell/MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTranslator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <mutex>

using namespace lumivox;
using namespace lumivox::ui;
using namespace lumivox::test;

namespace {

// A run can take a while on a loaded machine; the limit only stops a hung test.
constexpr int kRunLimitMs = 240000;

const QString kSamples = QStringLiteral(LUMIVOX_SOURCE_DIR "/samples/");
const char* const kPictures[] = {"mountain_lakes_01.jpg", "sunset_coast_01.jpg", "winter_forest_01.jpg",
                                 "mountain_lakes_02.jpg", "sunset_coast_02.jpg", "winter_forest_02.jpg"};

RecorderDrive EmulatedDrive(const QString& folder, const QString& options = {}, const char* product = "EMULATED CD-RW")
{
    RecorderDrive drive;
    drive.vendor = "LUMIVOX ";
    drive.product = product;
    drive.device =
        (QStringLiteral("emulated:") + folder + (options.isEmpty() ? QString() : QStringLiteral("?") + options))
            .toStdString();
    return drive;
}

// A main window whose recorder set-up finds the given drives.
struct Harness : UiHarness {
    explicit Harness(std::vector<RecorderDrive> drives = {}) : UiHarness({.drives = std::move(drives)})
    {
        window = std::make_unique<MainWindow>(*services);
        SetUpRecordersAndWait(*window);
        window->ShowPage(PageId::Burn);
        Page()->SetWorkerCount(1);
        Settle();
    }
    BurnPage* Page() const { return window->Burn(); }
    // Albums of the given picture counts, pictures taken from the sample in turn.
    void MakeAlbums(const std::vector<int>& counts)
    {
        int next = 0;
        for (std::size_t a = 0; a < counts.size(); ++a) {
            project.AddAlbum("Album " + std::to_string(a + 1));
            for (int p = 0; p < counts[a]; ++p)
                project.AddPictureToAlbum(static_cast<int>(a),
                                          (kSamples + QString::fromLatin1(kPictures[next++ % 6])).toStdString());
        }
        QCoreApplication::processEvents();
        Settle();
    }
    // Chooses a drive in the list and waits until its driver is made.
    void Choose(int drive)
    {
        QComboBox* list = Find<QComboBox>(Page(), "driveList");
        list->setCurrentIndex(drive);
        emit list->activated(drive);
        Settle();
    }
    // Waits until the disc's size is measured and the drive's worker has answered the
    // page's last command (a burn's dialog opens once the disc has been checked).
    bool Settle() const
    {
        QDeadlineTimer deadline(kRunLimitMs);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            if (Page()->CurrentProgress() ||
                (!Page()->IsBusy() && !Page()->IsEstimating() && !Page()->HasDeferredRun()))
                return true;
            QTest::qWait(5);
        }
        return false;
    }
    // Waits for the run under way to end; its dialog stays open.
    bool WaitForEnd() const
    {
        if (!Settle())
            return false;
        QDeadlineTimer deadline(kRunLimitMs);
        while (!deadline.hasExpired()) {
            ProgressDialog* dialog = Page()->CurrentProgress();
            if (!dialog || dialog->IsFinished())
                return dialog != nullptr;
            QTest::qWait(20);
        }
        return false;
    }
    QString Dir(const QString& name) const { return work.filePath(name); }

    std::unique_ptr<MainWindow> window;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The first offset at which a and b differ, or -1.
qsizetype FirstDifference(const QByteArray& a, const QByteArray& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i)
        if (a[i] != b[i])
            return i;
    return a.size() == b.size() ? -1 : n;
}

// A WAVE file of silence: 44,100 Hz, 16-bit stereo.
bool WriteSilentWave(const QString& path, int seconds)
{
    const quint32 bytes = 44100u * 4u * static_cast<quint32>(seconds);
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(44100) << quint32(44100 * 4) << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << bytes;
    data.append(QByteArray(static_cast<qsizetype>(bytes), '\0'));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

BlankState DiscState(const RecorderDrive& drive)
{
    std::string error;
    auto transport = OpenTransport(drive.device, &error);
    if (!transport)
        return BlankState::NotReady;
    auto driver = MakeDriver(DriverKind::Mmc, *transport);
    driver->StartStopUnit(false); // a burn ejects the disc when it is done
    return CheckBlankDisc(*driver).state;
}

// A drive that answers TEST UNIT READY and BLANK from a script.
class ScriptedEraseDrive final : public ScsiTransport {
public:
    int ExecuteCommand(const std::uint8_t* cdb, std::size_t, const std::uint8_t*, std::size_t, std::uint8_t*,
                       std::size_t) override
    {
        commands.push_back(cdb[0]);
        if (cdb[0] == kOpBlank) {
            blankByte1 = cdb[1];
            if (refuseBlank) {
                sense_ = SenseData::Make(kSenseIllegalRequest, 0x30, 0x05);
                return kScsiCheckCondition;
            }
            blanked = true;
            return kScsiSuccess;
        }
        if (cdb[0] == kOpTestUnitReady) {
            if (busyBefore || (blanked && busyAfterBlank-- > 0)) {
                sense_ = SenseData::Make(kSenseNotReady, 0x04, 0x07);
                return kScsiCheckCondition;
            }
            return kScsiSuccess;
        }
        return kScsiSuccess;
    }
    int Count(std::uint8_t opcode) const
    {
        return static_cast<int>(std::count(commands.begin(), commands.end(), opcode));
    }

    bool busyBefore = false;
    bool refuseBlank = false;
    int busyAfterBlank = 0;
    bool blanked = false;
    int blankByte1 = -1;
    std::vector<std::uint8_t> commands;
};

// Seconds pass the moment they are waited for.
class InstantClock final : public RecorderClock {
public:
    std::chrono::milliseconds Now() override { return now_.load(); }
    bool Wait(std::chrono::milliseconds delay, const ManualResetEvent& cancel) override
    {
        if (cancel.IsSet())
            return true;
        now_.store(now_.load() + delay);
        return false;
    }

private:
    std::atomic<std::chrono::milliseconds> now_{std::chrono::milliseconds(1'000'000)};
};

} // namespace

Q_DECLARE_METATYPE(lumivox::ProgressMessage)

class BurnPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Each message of a run as the dialog shows it: text, bar text, position.
    void progressMessages_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("message");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("barText");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("finished");
        const int burn = int(RunKind::Burn);
        const QString wait = QStringLiteral("Please Wait...");
        QTest::newRow("menu begin") << burn << int(UM_MENU_ENCODE_BEGIN) << 0LL << 0LL << "Encoding disc menu...."
                                    << wait << 0 << false;
        QTest::newRow("menu end leaves the bar")
            << burn << int(UM_MENU_ENCODE_END) << 0LL << 0LL << "Encoding disc menu end."
            << "" << 0 << false;
        QTest::newRow("first of 8 slides") << burn << int(UM_SLIDE_PROGRESS) << 0LL << 8LL << "Encoding album photos..."
                                           << "12.5%" << 12 << false;
        QTest::newRow("last of 8 slides") << burn << int(UM_SLIDE_PROGRESS) << 7LL << 8LL << "Encoding album photos..."
                                          << "100.0%" << 100 << false;
        QTest::newRow("slides of no total")
            << burn << int(UM_SLIDE_PROGRESS) << 0LL << 0LL << "Encoding album photos..."
            << " 1.0%" << 1 << false;
        QTest::newRow("recorder init") << burn << int(UM_RECORDER_INIT) << 0LL << 0LL << "Initializing CD recorder..."
                                       << wait << 0 << false;
        QTest::newRow("lead in") << burn << int(UM_LEAD_IN) << 0LL << 0LL << "Writing lead in..." << wait << 0 << false;
        QTest::newRow("write 0 of 1000") << burn << int(UM_WRITE_PROGRESS) << 0LL << 1000LL << "Writing CD..."
                                         << "0.1%" << 0 << false;
        QTest::newRow("write 999 of 1000") << burn << int(UM_WRITE_PROGRESS) << 999LL << 1000LL << "Writing CD..."
                                           << "100.0%" << 100 << false;
        QTest::newRow("write all of 1000 stays at 100.0")
            << burn << int(UM_WRITE_PROGRESS) << 1000LL << 1000LL << "Writing CD..."
            << "100.0%" << 100 << false;
        QTest::newRow("write of no total") << burn << int(UM_WRITE_PROGRESS) << 5LL << 0LL << "Writing CD..."
                                           << "6.0%" << 6 << false;
        QTest::newRow("image writing") << int(RunKind::DiscImage) << int(UM_WRITE_PROGRESS) << 500LL << 1000LL
                                       << "Writing the disc image..."
                                       << "50.1%" << 50 << false;
        QTest::newRow("lead out") << burn << int(UM_LEAD_OUT) << 0LL << 0LL << "Writing lead out..." << wait << 0
                                  << false;
        QTest::newRow("drive wait keeps the text") << burn << int(UM_DRIVE_WAIT) << 0LL << 0LL << "Writing data..."
                                                   << "Please wait..." << 0 << false;
        QTest::newRow("flush cache") << burn << int(UM_FLUSH_CACHE) << 0LL << 0LL << "Flush cache..." << wait << 0
                                     << false;
        QTest::newRow("burn done") << burn << int(UM_BURN_DONE) << 0LL << 0LL << kTextBurnDone << "" << 0 << true;
        QTest::newRow("test burn done") << int(RunKind::TestBurn) << int(UM_BURN_DONE) << 0LL << 0LL
                                        << kTextSimulationDone << "" << 0 << true;
    }
    void progressMessages()
    {
        QFETCH(int, kind);
        QFETCH(int, message);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(QString, text);
        QFETCH(QString, barText);
        QFETCH(int, position);
        QFETCH(bool, finished);
        FakeMessageBoxes messages;
        auto run = std::make_shared<BurnRun>(RunKind(kind), ProductionParameters{}, nullptr);
        ProgressDialog dialog(run, messages);
        dialog.HandleProgress(MakeProgressEvent(ProgressMessage(message), done, total));
        QCOMPARE(dialog.MessageText(), text);
        QCOMPARE(dialog.IsFinished(), finished);
        if (finished) {
            QVERIFY(dialog.Bar()->isHidden());
            QCOMPARE(Find<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("&Close"));
        } else {
            QCOMPARE(dialog.Bar()->Text(), barText);
            QCOMPARE(dialog.Bar()->Position(), position);
            QCOMPARE(Find<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("Cancel"));
        }
    }

    void failedBurnShowsTheDriversText()
    {
        FakeMessageBoxes messages;
        auto run = std::make_shared<BurnRun>(RunKind::Burn, ProductionParameters{}, nullptr);
        ProgressDialog dialog(run, messages);
        dialog.HandleProgress(MakeProgressEvent(UM_WRITE_PROGRESS, 10, 100));
        dialog.HandleProgress(MakeProgressEvent(
            UM_BURN_FAILED, 0, 0,
            "Error while writing cd: sense 03/0C/00 (write error) The disc was partly written and is unusable."));
        // The drive's answer is set apart from the headline.
        QCOMPARE(dialog.MessageText(),
                 QStringLiteral("The burning process failed. Error message :\nError while writing cd. "
                                "The disc was partly written and is unusable."));
        QCOMPARE(dialog.DetailsText(), QStringLiteral("The drive answered: sense 03/0C/00 (write error)"));
        QVERIFY(dialog.IsFinished());
        QVERIFY(dialog.Bar()->isHidden());
        // Messages after the end change nothing.
        dialog.HandleProgress(MakeProgressEvent(UM_LEAD_OUT));
        QVERIFY(dialog.MessageText().startsWith(QStringLiteral("The burning process failed.")));
    }

    // The fixed texts, the core's included, meet the translations under one context.
    void fixedTextsAreTranslated()
    {
        class CoreOnly final : public QTranslator {
        public:
            bool isEmpty() const override { return false; }
            QString translate(const char* context, const char* source, const char*, int) const override
            {
                return qstrcmp(context, "lumivox::core") == 0 ? QStringLiteral("[t] ") + QString::fromUtf8(source)
                                                              : QString();
            }
        } translator;
        QCoreApplication::installTranslator(&translator);
        FakeMessageBoxes messages;
        auto run = std::make_shared<BurnRun>(RunKind::Burn, ProductionParameters{}, nullptr);
        ProgressDialog dialog(run, messages);
        const QString first = dialog.MessageText();
        dialog.HandleProgress(MakeProgressEvent(UM_LEAD_IN));
        const QString leadIn = dialog.MessageText();
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(first, QStringLiteral("[t] ") + QString::fromLatin1(kTextWritingData));
        QCOMPARE(leadIn, QStringLiteral("[t] ") + QString::fromLatin1(kTextLeadIn));
        QCOMPARE(TranslateCoreText(kNotEmptyCdrText), QString::fromLatin1(kNotEmptyCdrText)); // none installed
    }

    void driveAnswersLeaveTheHeadline_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("details");
        QTest::newRow("at the end")
            << QStringLiteral("The disc could not be erased: sense 05/30/05 (cannot write medium, incompatible format)")
            << QStringLiteral("The disc could not be erased.")
            << QStringLiteral("The drive answered: sense 05/30/05 (cannot write medium, incompatible format)");
        QTest::newRow("bracketed, deferred")
            << QStringLiteral(
                   "/dev/sr0: the drive could not write data it had taken (deferred sense 03/0C/00 (write error))")
            << QStringLiteral("/dev/sr0: the drive could not write data it had taken.")
            << QStringLiteral("The drive answered: deferred sense 03/0C/00 (write error)");
        QTest::newRow("none") << QStringLiteral("This template cannot be used:\nit has no pages")
                              << QStringLiteral("This template cannot be used:\nit has no pages") << QString();
    }

    void driveAnswersLeaveTheHeadline()
    {
        QFETCH(QString, text);
        QFETCH(QString, headline);
        QFETCH(QString, details);
        const MessageParts parts = SplitDriveDetails(text);
        QCOMPARE(parts.headline, headline);
        QCOMPARE(parts.details, details);
    }

    void clockText()
    {
        QCOMPARE(ClockText(0), QStringLiteral("00:00"));
        QCOMPARE(ClockText(725), QStringLiteral("12:05"));
        QCOMPARE(ClockText(3725), QStringLiteral("62:05"));
        QCOMPARE(ClockText(-4), QStringLiteral("00:00"));
    }

    void barShowsPercentOrItsTextInTwoColours()
    {
        TextProgressBar bar;
        bar.resize(200, 20);
        bar.SetPosition(42);
        QCOMPARE(bar.ShownText(), QStringLiteral("42%"));
        bar.SetText(QStringLiteral("Please Wait..."));
        QCOMPARE(bar.ShownText(), QStringLiteral("Please Wait..."));
        bar.SetPosition(250);
        QCOMPARE(bar.Position(), 100);
        bar.SetPosition(25);
        const QImage image = bar.grab().toImage();
        const QColor done = image.pixelColor(image.width() / 10, 3);
        const QColor rest = image.pixelColor(image.width() * 9 / 10, 3);
        QCOMPARE(done.rgb() & 0xFFFFFF, QColor::fromRgb(kProgressDoneColour).rgb() & 0xFFFFFF);
        QCOMPARE(rest.rgb() & 0xFFFFFF, QColor::fromRgb(kProgressRestColour).rgb() & 0xFFFFFF);
    }

    void pageStoresItsChoicesAtOnce()
    {
        Harness h({EmulatedDrive(QDir::tempPath() + QStringLiteral("/unused"))});
        BurnPage* page = h.Page();
        QCOMPARE(Find<QLineEdit>(page, "discLabelEdit")->text(), QStringLiteral("My Photo VideoCD"));
        QCOMPARE(Find<QRadioButton>(page, "ntscButton")->isChecked(), true);
        QCOMPARE(Find<QLabel>(page, "normNote")->text(), QString::fromLatin1(kNtscNote));
        Find<QRadioButton>(page, "palButton")->click();
        QCOMPARE(h.settings.pal, 1);
        QCOMPARE(Find<QLabel>(page, "normNote")->text(), QString::fromLatin1(kPalNote));
        Find<QRadioButton>(page, "ntscButton")->click();
        QCOMPARE(h.settings.pal, 0);
        QCOMPARE(Find<QComboBox>(page, "speedList")->count(), 7);
        QCOMPARE(Find<QComboBox>(page, "speedList")->itemText(6), QStringLiteral("Max. Speed"));
        Find<QComboBox>(page, "speedList")->setCurrentIndex(3);
        emit Find<QComboBox>(page, "speedList")->activated(3);
        QCOMPARE(h.settings.burnSpeed, 3);
        Find<QCheckBox>(page, "burnProofBox")->setChecked(true);
        QCOMPARE(h.settings.burnProof, 1);
        QVERIFY(Find<QCheckBox>(page, "verifyBox")->isChecked());
        const QStringList tips = {QStringLiteral("Erase CD-RW disc"), QStringLiteral("Eject CD"),
                                  QStringLiteral("Close CD-ROM"),
                                  QStringLiteral("Test burning CD. No data will be written to the CD-R/RW disc and "
                                                 "the CD-R/RW disc will remain blank."),
                                  QStringLiteral("Burn the CD")};
        const char* const names[] = {"eraseCommand", "ejectCommand", "closeTrayCommand", "testBurnCommand",
                                     "burnCommand"};
        for (int i = 0; i < 5; ++i) {
            const PictureButton* button = Find<PictureButton>(page, names[i]);
            QCOMPARE(button->toolTip(), tips[i]);
            QCOMPARE(button->size(), QSize(126, 26));
            QVERIFY(button->isEnabled());
        }
        Find<PictureButton>(page, "burnCommand")->setEnabled(false);
        QCOMPARE(Find<PictureButton>(page, "burnCommand")->PictureIndex(), 3);
    }

    void withoutRecorderBurningIsDisabledAndTheImageOffered()
    {
        Harness h;
        BurnPage* page = h.Page();
        const QList<PictureButton*> commands = page->findChildren<PictureButton*>();
        QCOMPARE(commands.size(), 5);
        for (const PictureButton* button : commands)
            QVERIFY(!button->isEnabled());
        QVERIFY(Find<QPushButton>(page, "imageButton")->isEnabled());
        QVERIFY2(page->RecorderNote().contains(QStringLiteral("Save Disc Image...")), qPrintable(page->RecorderNote()));
        QCOMPARE(Find<QComboBox>(page, "driveList")->itemText(0), QStringLiteral("No CD-Writer is Found"));
        page->Burn();
        QVERIFY(h.messages->shown.isEmpty());
        QVERIFY(!page->LastRun());
    }

    void sameDriveDoesNothingAnotherReplacesTheDriver()
    {
        Harness h({EmulatedDrive(QDir::tempPath() + QStringLiteral("/a")),
                   EmulatedDrive(QDir::tempPath() + QStringLiteral("/b"))});
        QCOMPARE(h.backend->driverModes.size(), std::size_t(1));
        QSignalSpy selected(h.Page(), &BurnPage::recorderSelected);
        h.Choose(0);
        QCOMPARE(h.backend->driverModes.size(), std::size_t(1));
        QCOMPARE(selected.count(), 0);
        h.Choose(1);
        QCOMPARE(h.backend->driverModes.size(), std::size_t(2));
        QCOMPARE(h.settings.recorder, 1);
        QCOMPARE(h.recorders->SelectedIndex(), 1);
        QCOMPARE(selected.count(), 1);
        h.Choose(1);
        QCOMPARE(h.backend->driverModes.size(), std::size_t(2));
    }

    // A drive chosen in the list is asked for its driver on a worker: the page is busy
    // until the drive has answered, and says so when no driver could be made.
    void driveChangeMakesTheDriverOffTheWindowsThread()
    {
        Harness h({EmulatedDrive(QDir::tempPath() + QStringLiteral("/a")),
                   EmulatedDrive(QDir::tempPath() + QStringLiteral("/b"))});
        h.MakeAlbums({1});
        std::mutex gate;
        gate.lock();
        h.backend->onCreateDriver = [&gate] { std::lock_guard wait(gate); };
        h.backend->driverOk = false;
        QComboBox* list = Find<QComboBox>(h.Page(), "driveList");
        list->setCurrentIndex(1);
        emit list->activated(1); // returns while the drive has not answered
        QVERIFY(h.Page()->IsBusy());
        QVERIFY(!Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
        gate.unlock();
        QTRY_VERIFY(!h.Page()->IsBusy());
        QCOMPARE(h.messages->shown.value(0), QStringLiteral("Error while new CDRDriver."));
        QVERIFY(!Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
        h.backend->driverOk = true;
        h.Choose(0);
        QVERIFY(Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
    }

    void discCheckRefusesAndStartsNothing_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("no disc") << "disc=none"
                                 << "CD-R/RW disc is not ready. Please insert a blank CD-R/RW disc.";
        QTest::newRow("written disc") << "disc=written" << kNotEmptyCdrText;
    }
    void discCheckRefusesAndStartsNothing()
    {
        QFETCH(QString, options);
        QFETCH(QString, message);
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path(), options)});
        h.Page()->Burn();
        QVERIFY(h.Page()->IsBusy()); // the disc is checked on the drive's worker
        QVERIFY(!Find<PictureButton>(h.Page(), "ejectCommand")->isEnabled());
        QVERIFY(h.Settle());
        QCOMPARE(h.messages->shown.size(), 1);
        QVERIFY2(h.messages->shown[0].endsWith(message), qPrintable(h.messages->shown[0]));
        QVERIFY(Find<PictureButton>(h.Page(), "ejectCommand")->isEnabled());
        QVERIFY(!h.Page()->LastRun());
        QVERIFY(!h.Page()->CurrentProgress());
    }

    void testBurnAnsweredNoStartsNothing()
    {
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path())});
        h.messages->questionAnswer = false;
        Find<PictureButton>(h.Page(), "testBurnCommand")->click();
        QCOMPARE(h.messages->shown, QStringList{QString::fromLatin1(kTestBurnQuestion)});
        QVERIFY(!h.Page()->LastRun());
        QVERIFY(!h.Page()->CurrentProgress());
        QVERIFY(!QFile::exists(drive.filePath(QStringLiteral("commands.log"))));
    }

    void testBurnAnsweredYesLeavesTheDiscBlank()
    {
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path())});
        h.MakeAlbums({1});
        h.messages->questionAnswer = true;
        Find<PictureButton>(h.Page(), "testBurnCommand")->click();
        QVERIFY(h.Settle());
        QVERIFY(h.Page()->CurrentProgress());
        QVERIFY(h.WaitForEnd());
        ProgressDialog* dialog = h.Page()->CurrentProgress();
        QCOMPARE(dialog->MessageText(), QString::fromLatin1(kTextSimulationDone));
        QCOMPARE(DiscState(h.backend->drives[0]), BlankState::Blank);
        QVERIFY(!QFile::exists(drive.filePath(QStringLiteral("disc.bin"))));
    }

    // The whole road: every stage in order, success, "&Close" without a question, and
    // the disc equal to the image of the same project.
    void fullBurnEqualsTheDiscImage_data()
    {
        QTest::addColumn<int>("writingMode");
        QTest::newRow("session-at-once") << int(kWritingModeMmc);
        QTest::newRow("raw") << int(kWritingModeMmcRaw);
    }
    void fullBurnEqualsTheDiscImage()
    {
        QFETCH(int, writingMode);
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path())});
        h.settings.driver = writingMode;
        h.MakeAlbums({2});
        Find<PictureButton>(h.Page(), "burnCommand")->click();
        QVERIFY(h.WaitForEnd());
        ProgressDialog* dialog = h.Page()->CurrentProgress();
        QVERIFY2(dialog->MessageText().startsWith(QString::fromLatin1(kTextBurnDone)),
                 qPrintable(dialog->MessageText()));
        QTRY_VERIFY(dialog->MessageText().contains(QString::fromLatin1(kTextVerified)));
        QVERIFY(dialog->Bar()->isHidden());
        QCOMPARE(Find<QPushButton>(dialog, "cancelButton")->text(), QStringLiteral("&Close"));
        const QStringList stages = {kTextMenuBegin, kTextMenuEnd, kTextSlides,  kTextAuthoring, kTextRecorderInit,
                                    kTextLeadIn,    kTextWriting, kTextLeadOut, kTextVerifying, kTextBurnDone};
        qsizetype at = 0;
        for (const QString& stage : stages) {
            at = dialog->ShownTexts().indexOf(stage, at);
            QVERIFY2(at >= 0, qPrintable(QStringLiteral("\"%1\" missing or out of order in: %2")
                                             .arg(stage, dialog->ShownTexts().join(QStringLiteral(" | ")))));
        }
        const int shownBefore = h.messages->shown.size();
        Find<QPushButton>(dialog, "cancelButton")->click();
        QTRY_VERIFY(!h.Page()->CurrentProgress());
        QCOMPARE(h.messages->shown.size(), shownBefore); // no question once finished
        QVERIFY(h.Settle()); // the run lets go of the drive

        h.files->imageAnswer = h.Dir(QStringLiteral("same.cue"));
        h.window->Action(Command::SaveDiscImage)->trigger();
        QVERIFY(h.WaitForEnd());
        dialog = h.Page()->CurrentProgress();
        QCOMPARE(dialog->MessageText(), QString::fromLatin1(kTextImageDone)
                                            .arg(h.Dir(QStringLiteral("same.cue")), h.Dir(QStringLiteral("same.bin"))));
        const QByteArray image = ReadAll(h.Dir(QStringLiteral("same.bin")));
        const QByteArray disc = ReadAll(drive.filePath(QStringLiteral("disc.bin")));
        QVERIFY(!image.isEmpty());
        QVERIFY2(FirstDifference(image, disc) < 0,
                 qPrintable(QStringLiteral("the disc (%1 bytes) differs from the image (%2 bytes) at byte %3")
                                .arg(disc.size())
                                .arg(image.size())
                                .arg(FirstDifference(image, disc))));
        Find<QPushButton>(dialog, "cancelButton")->click();
        // The writing mode chose the driver.
        const QByteArray commands = ReadAll(drive.filePath(QStringLiteral("commands.log")));
        QCOMPARE(commands.contains("\n5D "), writingMode == kWritingModeMmc); // SEND CUE SHEET
    }

    void warningsAreShownOnce()
    {
        FakeMessageBoxes messages;
        auto run = std::make_shared<BurnRun>(RunKind::Burn, ProductionParameters{}, nullptr);
        ProgressDialog dialog(run, messages);
        dialog.HandleProgress(MakeProgressEvent(UM_LEAD_IN));
        dialog.HandleProgress(MakeProgressEvent(UM_RECORDER_INIT, 0, 0, "Power calibration failed.\n"));
        QCOMPARE(dialog.MessageText(), QString::fromLatin1(kTextLeadIn)); // no stage change
        dialog.HandleProgress(MakeProgressEvent(UM_RECORDER_INIT, 0, 0, "Power calibration failed.\n"));
        QCOMPARE(dialog.WarningText(), QStringLiteral("Power calibration failed."));
    }

    void cancelDuringSlides()
    {
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path())});
        h.MakeAlbums({12});
        h.Page()->Burn();
        QVERIFY(h.Settle());
        ProgressDialog* dialog = h.Page()->CurrentProgress();
        QVERIFY(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->MessageText() == QString::fromLatin1(kTextSlides), kRunLimitMs);
        std::shared_ptr<BurnRun> run = h.Page()->LastRun();
        h.messages->questionAnswer = false;
        Find<QPushButton>(dialog, "cancelButton")->click();
        // Cancelling during the slides: the question says the disc is not touched yet.
        QVERIFY(h.messages->shown.last().startsWith(QString::fromLatin1(kTextCancelQuestion)));
        QVERIFY(h.messages->shown.last().contains(QStringLiteral("it stays blank")));
        QVERIFY(h.Page()->CurrentProgress());
        QVERIFY(!run->IsCancelled());
        h.messages->questionAnswer = true;
        const int begun = run->SlidesBegun();
        Find<QPushButton>(dialog, "cancelButton")->click();
        QVERIFY(!h.Page()->CurrentProgress()); // the dialog closes at once
        QVERIFY(run->IsCancelled());
        // The cancelled run holds the drive until it ends: Burn at once starts nothing.
        QVERIFY(h.Page()->IsBusy());
        QVERIFY(!Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
        QVERIFY(!Find<PictureButton>(h.Page(), "ejectCommand")->isEnabled());
        h.Page()->Burn();
        QCOMPARE(h.Page()->LastRun(), run);
        QVERIFY(!h.Page()->CurrentProgress());
        QTRY_VERIFY_WITH_TIMEOUT(!h.Page()->IsBusy(), kRunLimitMs);
        QVERIFY(Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
        run->Wait();
        QCOMPARE(run->Result()->status, ProductionStatus::Cancelled);
        // At most the slide that began while the answer was being given.
        QVERIFY2(run->SlidesBegun() <= begun + 1,
                 qPrintable(QStringLiteral("%1 slides begun, %2 when cancelled").arg(run->SlidesBegun()).arg(begun)));
        QVERIFY(!run->WroteSectors());
        QCOMPARE(DiscState(h.backend->drives[0]), BlankState::Blank);
    }

    void failedWriteShowsTheSenseAndTheWindowGoesOn()
    {
        QTemporaryDir failing;
        QTemporaryDir good;
        Harness h({EmulatedDrive(failing.path(), QStringLiteral("fail-write=40")), EmulatedDrive(good.path())});
        h.MakeAlbums({1});
        h.Page()->Burn();
        QVERIFY(h.WaitForEnd());
        ProgressDialog* dialog = h.Page()->CurrentProgress();
        QVERIFY2(dialog->MessageText().startsWith(QStringLiteral("The burning process failed. Error message :\n")),
                 qPrintable(dialog->MessageText()));
        QVERIFY2(dialog->MessageText().contains(QStringLiteral("The disc was partly written and is unusable.")),
                 qPrintable(dialog->MessageText()));
        QVERIFY2(dialog->DetailsText().contains(QStringLiteral("03/0C/00")), qPrintable(dialog->DetailsText()));
        Find<QPushButton>(dialog, "cancelButton")->click();
        QTRY_VERIFY(!h.Page()->CurrentProgress());
        QTRY_VERIFY(Find<PictureButton>(h.Page(), "burnCommand")->isEnabled()); // once the run let go of the drive

        h.Choose(1);
        h.Page()->Burn();
        QVERIFY(h.WaitForEnd());
        QVERIFY2(h.Page()->CurrentProgress()->MessageText().startsWith(QString::fromLatin1(kTextBurnDone)),
                 qPrintable(h.Page()->CurrentProgress()->MessageText()));
        Find<QPushButton>(h.Page()->CurrentProgress(), "cancelButton")->click();
    }

    // A disc too small for the project: without music the size is known to the sector and
    // the burn is refused before anything is made; with music it is found when the disc is
    // laid out, and the run ends with the failure text (the burn thread never started, so
    // no burn message came).
    void discTooSmall_data()
    {
        QTest::addColumn<bool>("music");
        QTest::newRow("without music: refused at once") << false;
        QTest::newRow("with music: the run fails") << true;
    }
    void discTooSmall()
    {
        QFETCH(bool, music);
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path(), QStringLiteral("capacity=00:12:00"))});
        h.MakeAlbums({1});
        if (music) {
            const QString wave = h.Dir(QStringLiteral("menu.wav"));
            QVERIFY(WriteSilentWave(wave, 2));
            h.discMenu->SetBackgroundMusic(wave.toStdString());
        }
        h.Page()->OnShown();
        QVERIFY(h.Settle());
        h.Page()->Burn();
        QVERIFY(h.Settle());
        if (!music) {
            QCOMPARE(h.messages->shown.size(), 1);
            QVERIFY2(h.messages->shown[0].contains(QStringLiteral(" MB")), qPrintable(h.messages->shown[0]));
            QVERIFY(!h.Page()->CurrentProgress());
            return;
        }
        QVERIFY2(h.WaitForEnd(), qPrintable(h.messages->shown.join(QLatin1Char('\n'))));
        ProgressDialog* dialog = h.Page()->CurrentProgress();
        QVERIFY2(dialog->MessageText().startsWith(QStringLiteral("The burning process failed. Error message :\n")),
                 qPrintable(dialog->ShownTexts().join(QStringLiteral(" | "))));
        QVERIFY2(dialog->MessageText().contains(QStringLiteral(" MB")), qPrintable(dialog->MessageText()));
        QCOMPARE(Find<QPushButton>(dialog, "cancelButton")->text(), QStringLiteral("&Close"));
        Find<QPushButton>(dialog, "cancelButton")->click();
        QCOMPARE(DiscState(h.backend->drives[0]), BlankState::Blank);
    }

    // The meter's sectors are the sectors of the image then made.
    void capacityMeterEqualsTheImage_data()
    {
        QTest::addColumn<QList<int>>("albums");
        QTest::addColumn<int>("pal");
        QTest::newRow("no albums") << QList<int>{} << 0;
        QTest::newRow("one album of two") << QList<int>{2} << 0;
        QTest::newRow("three albums, one empty, PAL") << QList<int>{1, 0, 2} << 1;
    }
    void capacityMeterEqualsTheImage()
    {
        QFETCH(QList<int>, albums);
        QFETCH(int, pal);
        Harness h;
        (pal ? Find<QRadioButton>(h.Page(), "palButton") : Find<QRadioButton>(h.Page(), "ntscButton"))->click();
        h.MakeAlbums(std::vector<int>(albums.begin(), albums.end()));
        h.Page()->OnShown();
        QVERIFY(h.Settle());
        const std::uint32_t estimated = h.Page()->Estimate().sectors;
        QVERIFY(h.Page()->Estimate().Fits());
        const double minutes = estimated / 4500.0;
        QCOMPARE(h.Page()->CapacityText(),
                 QString::asprintf("%.1f of 80 minutes (%d %%)", minutes, int(std::lround(minutes * 100 / 80))));
        h.files->imageAnswer = h.Dir(QStringLiteral("disc"));
        h.Page()->SaveDiscImage();
        QVERIFY(h.WaitForEnd());
        const ProductionResult* result = h.Page()->LastRun()->Result();
        QTRY_VERIFY(result = h.Page()->LastRun()->Result());
        QCOMPARE(result->status, ProductionStatus::Finished);
        QCOMPARE(std::uint32_t(result->totalSectors), estimated);
        QCOMPARE(QFileInfo(h.Dir(QStringLiteral("disc.bin"))).size(), qint64(estimated) * 2352);
        QVERIFY(QFile::exists(h.Dir(QStringLiteral("disc.cue"))));
        Find<QPushButton>(h.Page()->CurrentProgress(), "cancelButton")->click();
    }

    // The slideshow track is chosen on this page: the setting and the meter follow.
    void slideshowTrackChoiceSizesTheDisc()
    {
        Harness h;
        h.MakeAlbums({2});
        h.Page()->OnShown();
        const DiscEstimate with = h.Page()->Estimate();
        QVERIFY(with.slideshowTrack);
        QVERIFY(h.window->Preview()->SlideshowTrackOnDisc()); // what the preview plays without menus
        QComboBox* list = Find<QComboBox>(h.Page(), "slideshowTrackList");
        const int never = list->findData(QStringLiteral("never"));
        list->setCurrentIndex(never);
        emit list->activated(never);
        QCOMPARE(h.settings.slideshowTrack, std::string("never"));
        QTRY_VERIFY(!h.Page()->Estimate().slideshowTrack);
        QVERIFY(h.Page()->Estimate().sectors < with.sectors);
        QVERIFY(!h.window->Preview()->SlideshowTrackOnDisc());
    }

    void capacityFollowsTheAlbums()
    {
        Harness h;
        h.Page()->OnShown();
        QVERIFY(h.Settle());
        const QString empty = h.Page()->CapacityText();
        h.MakeAlbums({3});
        QTRY_VERIFY(h.Page()->CapacityText() != empty);
        QVERIFY(h.Page()->Estimate().segmentUnits > 3);
    }

    // Music chosen on the disc menu page makes every menu page as long as the music: the
    // meter takes it in at once, and again when the music is cleared.
    void capacityFollowsTheMenuMusic()
    {
        Harness h;
        h.MakeAlbums({1});
        h.Page()->OnShown();
        QVERIFY(h.Settle());
        const std::uint32_t without = h.Page()->Estimate().segmentUnits;
        const QString wave = h.Dir(QStringLiteral("tune.wav"));
        {
            // 30 s of silence, 44.1 kHz stereo: a 44-byte header and the samples.
            const std::uint32_t bytes = 44100 * 4 * 30;
            auto put32 = [](QByteArray& into, std::uint32_t value) {
                for (int i = 0; i < 4; ++i)
                    into.append(char(value >> (8 * i)));
            };
            auto put16 = [](QByteArray& into, std::uint16_t value) {
                into.append(char(value));
                into.append(char(value >> 8));
            };
            QByteArray file = "RIFF";
            put32(file, 36 + bytes);
            file += "WAVEfmt ";
            put32(file, 16);
            put16(file, 1);
            put16(file, 2);
            put32(file, 44100);
            put32(file, 44100 * 4);
            put16(file, 4);
            put16(file, 16);
            file += "data";
            put32(file, bytes);
            file.append(QByteArray(int(bytes), '\0'));
            QFile out(wave);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file);
        }
        MenuPage* menu = h.window->DiscMenu();
        menu->SetFileAsker([&](QWidget*, const QString&, const QString&) { return wave; });
        menu->ChooseMusic();
        QTRY_VERIFY(h.Page()->Estimate().segmentUnits > without);
        menu->ClearMusic();
        QTRY_COMPARE(h.Page()->Estimate().segmentUnits, without);
    }

    // A project of more slides than INFO.VCD has segment units for: the limit by name, and
    // neither burning nor an image.
    void projectOverALimitCannotBeBurnt()
    {
        QTemporaryDir drive;
        Harness h({EmulatedDrive(drive.path())});
        const QString tiny = h.Dir(QStringLiteral("tiny.jpg"));
        QImage picture(16, 12, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(tiny));
        h.Page()->OnShown();
        QVERIFY(h.Settle());
        QVERIFY(Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
        for (int a = 0; a < 21; ++a) {
            h.project.AddAlbum("Album " + std::to_string(a + 1));
            for (int p = 0; p < 95; ++p)
                QVERIFY(h.project.AddPictureToAlbum(a, tiny.toStdString()));
        }
        h.Page()->OnShown();
        QVERIFY(h.Settle());
        QVERIFY(!h.Page()->Estimate().Fits());
        QVERIFY2(h.Page()->LimitText().contains(QStringLiteral("segment units")), qPrintable(h.Page()->LimitText()));
        QVERIFY(!Find<PictureButton>(h.Page(), "burnCommand")->isEnabled());
        QVERIFY(!Find<PictureButton>(h.Page(), "testBurnCommand")->isEnabled());
        QVERIFY(!Find<QPushButton>(h.Page(), "imageButton")->isEnabled());
        QVERIFY(Find<PictureButton>(h.Page(), "ejectCommand")->isEnabled());
        h.Page()->Burn();
        QVERIFY(!h.Page()->LastRun());
    }

    void eraseDescriptionsFollowTheMethod()
    {
        ScriptedEraseDrive transport;
        auto driver = MakeDriver(DriverKind::Mmc, transport);
        FakeMessageBoxes messages;
        EraseDialog dialog(*driver, messages);
        QCOMPARE(Find<QListWidget>(&dialog, "eraseMethods")->count(), 2);
        QCOMPARE(Find<QListWidget>(&dialog, "eraseMethods")->item(0)->text(),
                 QStringLiteral("Quick-erase rewritable media"));
        QCOMPARE(Find<QListWidget>(&dialog, "eraseMethods")->item(1)->text(),
                 QStringLiteral("Full-erase rewritable media"));
        QCOMPARE(dialog.Description(), QString::fromLatin1(kEraseQuickText));
        Find<QListWidget>(&dialog, "eraseMethods")->setCurrentRow(1);
        QCOMPARE(dialog.Description(), QString::fromLatin1(kEraseFullText));
        Find<QListWidget>(&dialog, "eraseMethods")->setCurrentRow(0);
        QCOMPARE(dialog.Description(), QString::fromLatin1(kEraseQuickText));
    }

    void eraseFullShowsEverySecondAndClosesWhenReady()
    {
        ScriptedEraseDrive transport;
        transport.busyAfterBlank = 725; // ready at the look 725 seconds after the start
        auto driver = MakeDriver(DriverKind::Mmc, transport);
        FakeMessageBoxes messages;
        EraseDialog dialog(*driver, messages, std::make_shared<InstantClock>());
        QSignalSpy elapsed(&dialog, &EraseDialog::elapsedShown);
        QSignalSpy closed(&dialog, &QDialog::accepted);
        dialog.show();
        Find<QListWidget>(&dialog, "eraseMethods")->setCurrentRow(1);
        dialog.StartErase();
        QVERIFY(!Find<QPushButton>(&dialog, "eraseButton")->isEnabled());
        dialog.reject(); // cannot be left while erasing
        QVERIFY(dialog.isVisible() || closed.count() == 1);
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 60000);
        QCOMPARE(transport.blankByte1, 0x10); // immediate, whole disc
        QCOMPARE(elapsed.count(), 726);
        for (int i = 0; i < elapsed.count(); ++i)
            QCOMPARE(elapsed.at(i).at(0).toLongLong(), qint64(i) * 1000);
        QCOMPARE(dialog.Description(), QStringLiteral("Erasing ReWritable, Please wait...\nElapsed time: 12:05 min"));
        QCOMPARE(messages.shown, QStringList{QStringLiteral("The disc was erased.")});
    }

    void eraseRefusals_data()
    {
        QTest::addColumn<bool>("busyBefore");
        QTest::addColumn<bool>("refuseBlank");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("blanks");
        // A drive busy before the erase is waited for (not taken for "no disc"); one that
        // stays busy is given up on.
        QTest::newRow("stays busy") << true << false << QStringLiteral("The drive stayed busy") << 0;
        QTest::newRow("BLANK refused") << false << true
                                       << QStringLiteral("The disc could not be erased: sense 05/30/05") << 1;
    }
    void eraseRefusals()
    {
        QFETCH(bool, busyBefore);
        QFETCH(bool, refuseBlank);
        QFETCH(QString, message);
        QFETCH(int, blanks);
        ScriptedEraseDrive transport;
        transport.busyBefore = busyBefore;
        transport.refuseBlank = refuseBlank;
        auto driver = MakeDriver(DriverKind::Mmc, transport);
        FakeMessageBoxes messages;
        EraseDialog dialog(*driver, messages, std::make_shared<InstantClock>());
        QSignalSpy closed(&dialog, &QDialog::finished);
        dialog.show();
        dialog.StartErase();
        QTRY_COMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown[0].startsWith(message), qPrintable(messages.shown[0]));
        QCOMPARE(transport.Count(kOpBlank), blanks);
        QTRY_VERIFY(Find<QPushButton>(&dialog, "eraseButton")->isEnabled());
        QVERIFY(Find<QListWidget>(&dialog, "eraseMethods")->isEnabled());
        QCOMPARE(closed.count(), 0);
        QVERIFY(!dialog.IsErasing());
    }
};

QTEST_MAIN(BurnPageTest)
#include "app_burn_test.moc"

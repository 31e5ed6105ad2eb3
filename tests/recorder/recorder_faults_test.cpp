// SPDX-License-Identifier: GPL-2.0-or-later
// A drive's rarer answers at the moments that matter, injected into the emulated recorder:
// no burn may ruin a disc that a cancel could have saved, call a bad disc good or a good disc
// bad, hang on an answer that waiting cannot mend, or keep the drive once it has ended.

#include "recorder_fixtures.h"

#include "recorder/DiscUtilities.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace lumivox;
using namespace lumivox::rectest;
namespace fs = std::filesystem;

namespace {

struct Burn {
    BurnResult result;
    int written = -1;
    std::string openError;
    std::vector<std::string> commands; // commands.log
};

struct Attempt {
    const char* options;
    DriverChoice driver = DriverChoice::Mmc;
    bool verify = true;
    int cancelAt = 0; // the message whose first report cancels (0: none)
};

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0;
}

bool AnyCommand(const std::vector<std::string>& commands, const char* opcode)
{
    return std::any_of(commands.begin(), commands.end(), [&](const std::string& c) { return StartsWith(c, opcode); });
}

Burn BurnWith(SmallDisc& disc, const TempFolder& drive, const Attempt& run, EventLog* log = nullptr)
{
    EventLog own;
    if (!log)
        log = &own;
    ManualResetEvent cancel;
    std::thread late; // cancels while the held command is under way
    if (run.cancelAt)
        log->onEvent = [&](const ProgressEvent& e) {
            if (e.message != run.cancelAt || cancel.IsSet() || late.joinable())
                return;
            late = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                cancel.Set();
            });
        };
    BurnOptions options;
    options.device = Emulated(drive, run.options);
    options.driver = run.driver;
    options.eject = false;
    options.verify = run.verify;
    Burn burn;
    const auto started = std::chrono::steady_clock::now();
    if (auto feed = OpenRecorderFeed(options, disc.total, log, &cancel, &burn.openError)) {
        burn.written = WriteImage(*disc.layout, *feed);
        burn.result = feed->Result();
    }
    if (late.joinable())
        late.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60)) << "no wait without end";
    burn.commands = ReadLines(drive.Path() / "commands.log");
    if (burn.openError.empty()) {
        // Every way out lets go of the drive and of its tray.
        std::string error;
        EXPECT_TRUE(OpenTransport(Emulated(drive, "ua=0"), &error, DriveAccess::Exclusive)) << error;
        std::string lastLock;
        for (const std::string& c : burn.commands)
            if (StartsWith(c, "1E "))
                lastLock = c;
        EXPECT_TRUE(StartsWith(lastLock, "1E 00 00 00 00 00")) << "tray left locked: " << lastLock;
    }
    return burn;
}

std::string ImageOf(SmallDisc& disc, const TempFolder& folder)
{
    disc.WriteBinCue(folder.Slash());
    return folder.Slash() + "disc.bin";
}

} // namespace

TEST(RecorderFaults, ACancelLeavesTheDiscBlankBeforeTheFirstWriteAndFinishesItAfterTheLast)
{
    SmallDisc disc;
    TempFolder images;
    const Bytes image = ReadFile(ImageOf(disc, images));
    const char* const kBlank = "Nothing was written: the disc is still blank.";
    const char* const kClosed = "The disc was written and closed; it was not verified.";
    struct Case {
        Attempt run;
        const char* discState;
    } cases[] = {
        // Session-at-once: the cancel comes while power calibration or the write parameters
        // are under way; neither cue sheet nor WRITE may follow.
        {{"inject=54@1:hold=1500", DriverChoice::Mmc, true, UM_LEAD_IN}, kBlank},
        {{"inject=55@1:hold=1500", DriverChoice::Mmc, true, UM_LEAD_IN}, kBlank},
        {{"inject=55@1:hold=1500", DriverChoice::Raw, true, UM_RECORDER_INIT}, kBlank},
        // Every data block handed over: the drive finishes the disc, only the read-back goes.
        {{"", DriverChoice::Mmc, true, UM_LEAD_OUT}, kClosed},
        {{"", DriverChoice::Raw, true, UM_LEAD_OUT}, kClosed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.run.options) + (c.run.driver == DriverChoice::Raw ? " raw " : " mmc ") +
                     std::to_string(c.run.cancelAt));
        TempFolder drive;
        EventLog log;
        const Burn burn = BurnWith(disc, drive, c.run, &log);
        ASSERT_EQ(burn.openError, "");
        if (std::string(c.discState) == kBlank) {
            EXPECT_EQ(burn.result.status, BurnStatus::Cancelled) << burn.result.text;
            EXPECT_EQ(burn.result.discState, kBlank);
            EXPECT_EQ(burn.result.disc, DiscOutcome::Untouched);
            EXPECT_FALSE(AnyCommand(burn.commands, "2A ")) << "a WRITE after the cancel";
            EXPECT_FALSE(AnyCommand(burn.commands, "5D ")) << "a cue sheet after the cancel";
            OpenedDrive opened;
            std::string error;
            ASSERT_TRUE(OpenDrive(Emulated(drive, "ua=0&settle-ms=0"), DriverChoice::Mmc, &opened, &error)) << error;
            EXPECT_EQ(CheckBlankDisc(*opened.driver).state, BlankState::Blank);
        } else {
            EXPECT_EQ(burn.result.status, BurnStatus::Cancelled) << burn.result.text;
            EXPECT_EQ(burn.result.discState, kClosed);
            EXPECT_EQ(burn.result.disc, DiscOutcome::Closed);
            EXPECT_EQ(burn.result.verify, VerifyStatus::NotRun);
            EXPECT_FALSE(log.Has(UM_BURN_DONE));
            EXPECT_EQ(FirstDifference(ReadFile(drive.Path() / "disc.bin"), image), "equal");
            EXPECT_TRUE(fs::exists(drive.Path() / "disc.cue")) << "the session was closed";
        }
    }
}

TEST(RecorderFaults, ACancelDuringTheReadBackIsNoSuccess)
{
    SmallDisc disc;
    TempFolder drive;
    EventLog log;
    ManualResetEvent cancel;
    log.onEvent = [&](const ProgressEvent& e) {
        if (e.stage == ProgressStage::Verifying && e.done > 0)
            cancel.Set();
    };
    BurnOptions options;
    options.device = Emulated(drive);
    options.eject = false;
    std::string error;
    auto feed = OpenRecorderFeed(options, disc.total, &log, &cancel, &error);
    ASSERT_TRUE(feed) << error;
    EXPECT_NE(WriteImage(*disc.layout, *feed), 0);
    EXPECT_EQ(feed->Result().status, BurnStatus::Cancelled);
    EXPECT_EQ(feed->Result().discState, "The disc was written and closed; it was not verified.");
    EXPECT_FALSE(log.Has(UM_BURN_DONE));
}

TEST(RecorderFaults, AResetOrADiscChangeOnceWritingBeganEndsTheRun)
{
    SmallDisc disc;
    TempFolder images;
    const Bytes image = ReadFile(ImageOf(disc, images));
    struct Case {
        Attempt run;
        BurnStatus status;
        const char* text; // start of the failure text
    } cases[] = {
        {{"inject=2A@50:06/29/00"}, BurnStatus::Failed, "The drive was reset while writing (06/29/00)."},
        {{"inject=2A@50:06/28/00"}, BurnStatus::Failed, "The disc may have been changed while writing (06/28/00)."},
        {{"inject=2A@50:06/2A/01"}, BurnStatus::Failed, "The drive's settings changed while writing (06/2A/01)."},
        {{"inject=2A@50:02/04/01"}, BurnStatus::Failed, "The drive was reset while writing (02/04/01)."},
        {{"inject=2A@600:reset", DriverChoice::Raw}, BurnStatus::Failed, "The drive was reset while writing"},
        // Between the last WRITE and the flush, unverified: the drive that answers the flush
        // has forgotten the session.
        {{"inject=00@1:reset", DriverChoice::Mmc, false}, BurnStatus::Failed, "The drive was reset while writing"},
        {{"inject=35@1:reset", DriverChoice::Raw, false}, BurnStatus::Failed, "The drive was reset while writing"},
        // Before the drive holds anything of the run the everyday retry stands.
        {{"inject=5D@1:06/29/00"}, BurnStatus::Succeeded, ""},
        {{"inject=55@1:06/29/00", DriverChoice::Raw}, BurnStatus::Succeeded, ""},
        // ABORTED COMMAND: not carried out, sent once more; twice is the end.
        {{"inject=2A@40:0B/47/00"}, BurnStatus::Succeeded, ""},
        {{"inject=2A@40:0B/47/00", DriverChoice::Raw}, BurnStatus::Succeeded, ""},
        {{"inject=2A@40:0B/47/00|2A@41:0B/47/00"}, BurnStatus::Failed,
         "Error while writing cd: sense 0B/47/00 (SCSI parity error)"},
        // A drive that refuses the chosen speed writes at its own.
        {{"inject=BB@1+:05/24/00"}, BurnStatus::Succeeded, ""},
        // NOT READY for a reason that waiting does not mend ends the final wait at once.
        {{"inject=00@1+:02/3A/00"}, BurnStatus::Failed,
         "Error while writing cd: the drive is not ready (sense 02/3A/00 (medium not present))."},
        // A refused MODE SELECT says why and that the disc is untouched.
        {{"inject=55@1+:05/26/00"}, BurnStatus::Failed,
         "Error while setting write parameters: sense 05/26/00 (invalid field in parameter list) The drive refuses "
         "session-at-once writing of this disc; raw writing may work. Nothing was written: the disc is still blank."},
        {{"inject=55@1+:05/26/00", DriverChoice::Raw}, BurnStatus::Failed,
         "Error while setting write parameters: sense 05/26/00 (invalid field in parameter list) The drive refuses "
         "raw writing of this disc; session-at-once writing may work. Nothing was written: the disc is still blank."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.run.options) + (c.run.driver == DriverChoice::Raw ? " raw" : " mmc"));
        TempFolder drive;
        EventLog log;
        const Burn burn = BurnWith(disc, drive, c.run, &log);
        ASSERT_EQ(burn.openError, "");
        EXPECT_EQ(burn.result.status, c.status) << burn.result.text;
        EXPECT_TRUE(StartsWith(burn.result.text, c.text)) << burn.result.text;
        if (c.status == BurnStatus::Succeeded) {
            EXPECT_EQ(burn.written, 0);
            EXPECT_EQ(burn.result.verify, VerifyStatus::Passed) << burn.result.verifyText;
            EXPECT_EQ(FirstDifference(ReadFile(drive.Path() / "disc.bin"), image), "equal");
            if (std::string(c.run.options).find("BB@") != std::string::npos) {
                ASSERT_FALSE(burn.result.warnings.empty());
                EXPECT_NE(burn.result.warnings[0].find("did not take the chosen writing speed"), std::string::npos);
            }
            continue;
        }
        EXPECT_NE(burn.written, 0);
        EXPECT_TRUE(log.Has(UM_BURN_FAILED));
        EXPECT_FALSE(log.Has(UM_BURN_DONE)) << "no congratulations after a failure";
        const bool touched = burn.result.text.find("still blank") == std::string::npos;
        EXPECT_EQ(burn.result.discUnusable, touched);
        if (touched) {
            EXPECT_NE(burn.result.text.find("The disc was partly written and is unusable."), std::string::npos);
        }
    }
}

TEST(RecorderFaults, ReadBackTellsADriveThatCannotReadFromADiscThatReadsWrong)
{
    SmallDisc disc;
    ASSERT_GT(disc.total, 100);
    const std::string last = std::to_string(disc.total - 1);
    struct Case {
        std::string options;
        VerifyStatus verify;
        std::string text; // verifyText's start
        long mismatch;
    } cases[] = {
        {"ideal=1&inject=BE@1+:05/64/00", VerifyStatus::Unsupported,
         "The drive cannot read the disc back whole (it refuses to: sense 05/64/00", -1},
        {"ideal=1&inject=BE@1+:05/24/00", VerifyStatus::Unsupported, "The drive cannot read the disc back whole", -1},
        {"ideal=1&inject=BE@1:short=62748", VerifyStatus::Unsupported,
         "The drive cannot read the disc back whole (it gives only 2324 of 2,352 bytes a sector)", -1},
        {"ideal=1&inject=BE@2:short=1000", VerifyStatus::Failed,
         "The disc was written, but the drive returned only 1000 of 63504 bytes when sectors 27-53 were read back.",
         27},
        {"ideal=1&inject=BE@3:03/11/00", VerifyStatus::Failed,
         "The disc was written, but sectors 54-80 could not be read back: sense 03/11/00 (unrecovered read error)",
         54},
        // The last sector of a read and of the disc are compared like every other.
        {"corrupt=26", VerifyStatus::Failed, "The disc was written, but sector 26 reads back differently", 26},
        {"corrupt=" + last, VerifyStatus::Failed, "The disc was written, but sector " + last + " reads back", -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TempFolder drive;
        const Burn burn = BurnWith(disc, drive, {c.options.c_str()});
        ASSERT_EQ(burn.openError, "");
        EXPECT_EQ(burn.result.status, BurnStatus::Succeeded) << "the disc was written: " << burn.result.text;
        EXPECT_EQ(burn.result.verify, c.verify);
        EXPECT_TRUE(StartsWith(burn.result.verifyText, c.text)) << burn.result.verifyText;
        EXPECT_EQ(burn.result.Succeeded(), c.verify != VerifyStatus::Failed);
        EXPECT_EQ(burn.written == 0, c.verify != VerifyStatus::Failed);
        if (c.mismatch != -1) {
            EXPECT_EQ(burn.result.firstMismatch, c.mismatch == -2 ? disc.total - 1 : c.mismatch);
        }
        if (c.verify == VerifyStatus::Unsupported) {
            EXPECT_FALSE(burn.result.warnings.empty()) << "a drive that cannot verify is told";
        }
    }
}

TEST(RecorderFaults, OnlyABlankCdInACdDriveIsWritten)
{
    SmallDisc disc;
    struct Case {
        const char* options;
        const char* error; // part of the open error; "" opens
    } cases[] = {
        {"type=disk", "is not a CD/DVD drive (peripheral device type 00h, a disk)"},
        {"profile=cdrom", "the drive holds a CD-ROM (a pressed disc, which cannot be written)"},
        {"profile=cdrom&inject=46@1+:05/20/00", kPressedDiscText},
        {"disc=appendable", kNotEmptyCdrText},
        {"caps=no-cdr-write", "the drive cannot write CD-R discs"},
        // The disc's size from the ATIP when the disc information leaves it out.
        {"di-capacity=none&capacity=00:05:00", "The disc holds 0 MB; this Video CD needs"},
        {"di-capacity=none", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TempFolder drive;
        const Burn burn = BurnWith(disc, drive, {c.options});
        EXPECT_NE(burn.openError.find(c.error), std::string::npos) << burn.openError;
        if (!*c.error) {
            EXPECT_EQ(burn.result.status, BurnStatus::Succeeded) << burn.result.text;
            continue;
        }
        EXPECT_FALSE(AnyCommand(burn.commands, "2A ")) << "nothing is written";
        if (std::string(c.options) == "type=disk") {
            for (const std::string& command : burn.commands) {
                EXPECT_TRUE(StartsWith(command, "12 ")) << "a disk was sent " << command;
            }
        }
    }
    // Raw writing needs the disc's size; without it the drive is written session-at-once.
    TempFolder drive;
    EventLog log;
    const Burn burn = BurnWith(disc, drive, {"di-capacity=none&inject=43@1+:05/24/00", DriverChoice::Raw}, &log);
    ASSERT_EQ(burn.openError, "");
    EXPECT_EQ(burn.result.status, BurnStatus::Succeeded) << burn.result.text;
    EXPECT_FALSE(fs::exists(drive.Path() / "subchannel.bin")) << "written session-at-once";
    bool told = false;
    for (const ProgressEvent& e : log.Events())
        told = told || e.text.find("writing session-at-once instead") != std::string::npos;
    EXPECT_TRUE(told);
}

TEST(RecorderFaults, AnEraseEndsWhenTheDiscIsGone)
{
    TempFolder rw;
    OpenedDrive drive;
    std::string error;
    ASSERT_TRUE(OpenDrive(Emulated(rw, "disc=cdrw&ua=0&settle-ms=0&erase-seconds=600&inject=00@2+:02/3A/00"),
                          DriverChoice::Mmc, &drive, &error))
        << error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(EraseDisc(*drive.driver, false, nullptr, {}, &error));
    EXPECT_EQ(error, "The drive stopped erasing: sense 02/3A/00 (medium not present). The disc is unusable until it "
                     "has been erased again.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    drive = {};
    // An erase that was left running is still under way for the next program.
    ASSERT_TRUE(OpenDrive(Emulated(rw, "ua=0&settle-ms=0"), DriverChoice::Mmc, &drive, &error, DriveAccess::Exclusive))
        << "the erase let go of the drive: " << error;
    EXPECT_EQ(drive.driver->TestUnitReady(), kUnitNotReady);
}

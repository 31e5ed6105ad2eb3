// SPDX-License-Identifier: GPL-2.0-or-later
// Disc utilities, the transport's answers for bad device names, the emulated recorder's own
// checks, and the recorder commands of lumivox-cli.

#include "recorder_fixtures.h"

#include "recorder/DiscUtilities.h"
#include "recorder/Scsi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

using namespace lumivox;
using namespace lumivox::rectest;
namespace fs = std::filesystem;

namespace {

struct Drive {
    std::unique_ptr<ScsiTransport> transport;
    std::unique_ptr<BaseDriver> driver;
    explicit Drive(const std::string& name)
    {
        std::string error;
        transport = OpenTransport(name, &error);
        EXPECT_TRUE(transport) << error;
        if (transport)
            driver = std::make_unique<MmcDriver>(*transport);
    }
};

struct CliRun {
    int status = -1;
    std::string output;
};

CliRun Cli(const std::string& arguments, const std::string& environment = "")
{
    CliRun run;
    const std::string command =
        environment + " " + std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

TEST(RecorderUtilities, DeviceNamesThatAreNoDrive)
{
    struct Case {
        std::string name;
        std::string error;
    } cases[] = {
        {"/dev/lumivox-no-such-drive", "/dev/lumivox-no-such-drive: No such file or directory"},
        {"/etc/hostname", "/etc/hostname: is not a CD/DVD drive device node"},
        {"emulated:", "emulated:: no folder given for the emulated recorder"},
        {"", "no recorder given (a device node such as /dev/sr0, or emulated:FOLDER)"},
        {"emulated:/tmp/x?speed=fast", "emulated:/tmp/x?speed=fast: unknown or bad option \"speed=fast\""},
        {"emulated:/tmp/x?disc=dvd", "emulated:/tmp/x?disc=dvd: disc must be cdr, cdrw, none, written or appendable"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(OpenTransport(c.name, &error), nullptr) << c.name;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(RecorderUtilities, DriveManagerListsTheEmulatedWriter)
{
    TempFolder folder;
    const std::string name = Emulated(folder, "vendor=ACME&product=BURNER 52");
    ::setenv("LUMIVOX_EMULATED_RECORDER", name.c_str(), 1);
    DriveManager manager;
    const bool opened = manager.OpenDevices(7); // beyond the list: writer 0
    ::unsetenv("LUMIVOX_EMULATED_RECORDER");
    ASSERT_TRUE(opened);
    ASSERT_FALSE(manager.Writers().empty());
    EXPECT_EQ(manager.SelectedWriter(), 0);
    const DeviceRecord& emulated = manager.Writers().back();
    EXPECT_EQ(emulated.devicePath, name);
    EXPECT_EQ(DeviceLine(emulated), "ACME    BURNER 52       (0:0:0)");
    ASSERT_NE(manager.Transport(), nullptr);
    std::string error;
    EXPECT_FALSE(manager.SelectDevice(static_cast<int>(manager.Writers().size()), &error));
    EXPECT_EQ(manager.SelectedWriter(), 0) << "the old selection stays";
}

TEST(RecorderUtilities, EmulatedDriveAnswersLikeARealOne)
{
    TempFolder folder;
    // ideal=1: the refusals below, without the UNIT ATTENTION and spin-up of a fresh drive.
    Drive drive(Emulated(folder, "ideal=1&busy=2&product=CELERUS"));
    ASSERT_TRUE(drive.driver);
    EXPECT_EQ(drive.transport->Device().product, "CELERUS         ");
    EXPECT_TRUE(drive.transport->Device().writer);
    EXPECT_EQ(LookupDriverKind(drive.transport->Device().product), DriverKind::Raw);
    EXPECT_EQ(drive.driver->TestUnitReady(), 2);
    EXPECT_EQ(drive.driver->TestUnitReady(), 2);
    EXPECT_EQ(drive.driver->TestUnitReady(), 0);
    // Each refusal comes with its sense.
    struct Case {
        std::vector<std::uint8_t> cdb;
        std::size_t out;
        const char* sense;
    } cases[] = {
        {{0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 2336, "05/64/00"}, // WRITE before a write mode is set
        {{0xBE, 0, 0, 0, 0, 0, 0, 0, 1, 0xF8, 0, 0}, 0, "05/21/00"}, // READ CD of a blank disc
        {{0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, "05/30/05"}, // BLANK of a CD-R
        {{0xEE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, "05/20/00"}, // unknown command
        {{0x5D, 0, 0, 0, 0, 0, 0, 0, 8, 0}, 8, "05/2C/00"}, // cue sheet before write type 2
    };
    std::vector<std::uint8_t> out(4096, 0), in(4096);
    for (const Case& c : cases) {
        const int result = drive.transport->ExecuteCommand(c.cdb.data(), c.cdb.size(), c.out ? out.data() : nullptr,
                                                           c.out, c.out ? nullptr : in.data(), c.out ? 0 : 2352);
        EXPECT_EQ(result, kScsiCheckCondition);
        char text[16];
        const SenseData sense = drive.transport->GetSenseData();
        std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense.Key(), sense.Asc(), sense.Ascq());
        EXPECT_EQ(std::string(text), c.sense) << "command " << int(c.cdb[0]);
    }
    // Every command is in commands.log with its result.
    const std::vector<std::string> log = ReadLines(folder.Path() / "commands.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "5D 00 00 00 00 00 00 00 08 00 out=8 result=2 sense=05/2C/00");
}

TEST(RecorderUtilities, BlankCheckEjectLoadAndErase)
{
    TempFolder folder;
    {
        Drive drive(Emulated(folder, "disc=written"));
        // A closed session fails the blank check; a CD-R cannot be erased, and says so.
        EXPECT_EQ(CheckBlankDisc(*drive.driver).state, BlankState::NotEmpty);
        std::string error;
        bool elapsedSeen = false;
        EXPECT_FALSE(EraseDisc(
            *drive.driver, false, nullptr, [&](std::int64_t) { elapsedSeen = true; }, &error));
        EXPECT_EQ(error, kCdrCannotBeErasedText);
        EXPECT_FALSE(elapsedSeen);
    }
    TempFolder rw;
    fs::create_directories(rw.Path());
    {
        std::FILE* state = std::fopen((rw.Path() / "drive.ini").c_str(), "w");
        ASSERT_NE(state, nullptr);
        std::fputs("[DRIVE]\ndisc=cdrw\nstatus=complete\ntray=closed\n", state);
        std::fclose(state);
    }
    {
        Drive drive(Emulated(rw, "erase-seconds=1.2"));
        // A written CD-RW is sent to the erase button; a CD-R (above) is not.
        const BlankCheckResult written = CheckBlankDisc(*drive.driver);
        EXPECT_EQ(written.state, BlankState::NotEmpty);
        EXPECT_EQ(written.message, NotEmptyText(true));
        EXPECT_NE(written.message.find("\"Erase CD-RW\""), std::string::npos) << written.message;
        std::vector<std::int64_t> elapsed;
        std::string error;
        ManualResetEvent cancel;
        ASSERT_TRUE(EraseDisc(
            *drive.driver, true, &cancel, [&](std::int64_t ms) { elapsed.push_back(ms); }, &error))
            << error;
        ASSERT_GE(elapsed.size(), 2u);
        EXPECT_LT(elapsed.front(), 500);
        EXPECT_GE(elapsed.back(), 1000);
        const BlankCheckResult blank = CheckBlankDisc(*drive.driver);
        EXPECT_EQ(blank.state, BlankState::Blank);
        EXPECT_TRUE(blank.info.erasable);
        // Eject: no disc to read, the message asks for one; load: blank again. The tray's
        // state outlives the process.
        EXPECT_TRUE(drive.driver->StartStopUnit(true));
    }
    {
        Drive drive(Emulated(rw));
        EXPECT_EQ(drive.driver->TestUnitReady(), 2);
        std::string error;
        EXPECT_FALSE(EraseDisc(*drive.driver, false, nullptr, {}, &error));
        EXPECT_EQ(error, kNoRewritableDiscText);
        const BlankCheckResult open = CheckBlankDisc(*drive.driver);
        EXPECT_EQ(open.state, BlankState::NotReady);
        EXPECT_EQ(open.message, "CD-R/RW disc is not ready. Please insert a blank CD-R/RW disc.");
        EXPECT_TRUE(drive.driver->StartStopUnit(false));
        EXPECT_EQ(CheckBlankDisc(*drive.driver).state, BlankState::Blank);
    }
    {
        // Cancel ends the wait of a long erase at once.
        Drive drive(Emulated(rw, "erase-seconds=600"));
        ManualResetEvent cancel;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(EraseDisc(
            *drive.driver, false, &cancel, [&](std::int64_t) { cancel.Set(); }, &error));
        EXPECT_EQ(error, kEraseLeftRunningText) << "the drive goes on erasing";
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_EQ(ErasingText(15 * 60000), "Erasing ReWritable, Please wait...\nElapsed time: 15:00 min");
    EXPECT_EQ(ErasingText(61999), "Erasing ReWritable, Please wait...\nElapsed time: 01:01 min");
}

TEST(RecorderUtilities, CueImageReading)
{
    TempFolder folder;
    const std::string bin = folder.Slash() + "x.bin";
    authortest::WriteFile(bin, Bytes(2352 * 1000, 0));
    struct Case {
        const char* name;
        std::string cue;
        const char* error; // part of the message; empty: accepted
    } cases[] = {
        {"ours",
         "FILE \"x.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n  TRACK 02 MODE2/2352\n"
         "    INDEX 00 00:08:00\n    INDEX 01 00:10:00\n    INDEX 02 00:11:00\n",
         ""},
        {"mode 1", "FILE \"x.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n", "only MODE2/2352"},
        {"two files", "FILE \"x.bin\" BINARY\nFILE \"x.bin\" BINARY\n", "more than one FILE"},
        {"missing bin", "FILE \"y.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n", "y.bin"},
        {"beyond the end",
         "FILE \"x.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n  TRACK 02 MODE2/2352\n"
         "    INDEX 01 20:00:00\n",
         "beyond the end"},
        {"backwards",
         "FILE \"x.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n  TRACK 02 MODE2/2352\n"
         "    INDEX 01 00:00:00\n",
         "must increase"},
        {"track 3 after 1",
         "FILE \"x.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:00:00\n  TRACK 03 MODE2/2352\n", "numbered"},
        {"bad time", "FILE \"x.bin\" BINARY\n  TRACK 01 MODE2/2352\n    INDEX 01 00:61:00\n", "bad INDEX"},
        {"empty", "", "no FILE"},
    };
    for (const Case& c : cases) {
        const std::string cue = folder.Slash() + "x.cue";
        authortest::WriteFile(cue, Bytes(c.cue.begin(), c.cue.end()));
        CueImage image;
        std::string error;
        const bool ok = ReadCueImage(cue, &image, &error);
        EXPECT_EQ(ok, std::string(c.error).empty()) << c.name << ": " << error;
        if (!ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        }
        if (ok) {
            const std::vector<CueRecord> expected = {{0, CueKind::TrackStart},
                                                     {600, CueKind::PregapStart},
                                                     {750, CueKind::TrackStart},
                                                     {825, CueKind::IndexMark},
                                                     {1000, CueKind::LeadOutStart}};
            EXPECT_EQ(image.cues, expected);
            EXPECT_EQ(image.totalSectors, 1000u);
        }
    }
}

TEST(RecorderCli, BurnBlankCheckDrivesAndErrors)
{
    if (!fs::exists(std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli"))
        GTEST_SKIP() << "lumivox-cli is not built";
    SmallDisc disc;
    TempFolder images, drive;
    const std::string cue = disc.WriteBinCue(images.Slash());
    const std::string device = Emulated(drive);

    CliRun run = Cli("blank-check '" + device + "'");
    EXPECT_EQ(run.status, 0) << run.output;

    run = Cli("burn '" + cue + "' --device '" + device + "?product=CELERUS' --speed 9");
    EXPECT_EQ(run.status, 2) << run.output;
    run = Cli("burn '" + cue + "' --device '" + device + "?product=CELERUS' --no-eject");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Writing lead in..."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Writing CD... 100.0%"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Congratulations!"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Verified"), std::string::npos) << run.output;
    EXPECT_EQ(FirstDifference(ReadFile(drive.Path() / "disc.bin"), ReadFile(images.Path() / "disc.bin")), "equal");
    EXPECT_TRUE(fs::exists(drive.Path() / "subchannel.bin")) << "CELERUS is written raw";

    run = Cli("blank-check '" + device + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, std::string(kNotEmptyCdrText) + "\n");

    // A second burn on the written disc: one line naming the device and the reason.
    run = Cli("burn '" + cue + "' --device '" + device + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "lumivox-cli burn: " + device + ": " + kNotEmptyCdrText + "\n");

    run = Cli("burn '" + cue + "' --device /dev/lumivox-no-such-drive");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "lumivox-cli burn: /dev/lumivox-no-such-drive: No such file or directory\n");

    run = Cli("drives", "LUMIVOX_EMULATED_RECORDER='" + device + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("LUMIVOX EMULATED CD-RW  (0:0:0)  " + device), std::string::npos) << run.output;

    run = Cli("eject '" + device + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    run = Cli("blank-check '" + device + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "CD-R/RW disc is not ready. Please insert a blank CD-R/RW disc.\n");
    run = Cli("load '" + device + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    run = Cli("erase '" + device + "'");
    EXPECT_EQ(run.status, 1) << "a CD-R cannot be erased";
    EXPECT_NE(run.output.find("a CD-R cannot be erased"), std::string::npos) << run.output;

    TempFolder simulated;
    run = Cli("burn '" + cue + "' --device '" + Emulated(simulated) + "' --simulate --driver mmc");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("The simulation is successfully finished"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(simulated.Path() / "disc.bin"));

    TempFolder failing;
    run = Cli("burn '" + cue + "' --device '" + Emulated(failing, "fail-write=300") + "' --driver mmc");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("lumivox-cli burn: " + Emulated(failing, "fail-write=300") +
                              ": Error while writing cd: sense 03/0C/00 (write error) The disc was partly written "
                              "and is unusable.\n"),
              std::string::npos)
        << run.output;

    // A disc that fails its read-back was still written and closed: --json tells it apart
    // from one that was never finished.
    TempFolder unreadable;
    const std::string badRead = Emulated(unreadable, "ideal=1&inject=BE@3:03/11/00");
    run = Cli("burn '" + cue + "' --device '" + badRead + "' --driver mmc --json --quiet");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find(": The disc was written, but sectors 54-80 could not be read back"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("\"status\": \"failed\", \"verified\": false, \"verify\": \"failed\", \"disc\": "
                              "\"closed\""),
              std::string::npos)
        << run.output;
    TempFolder failing2;
    run = Cli("burn '" + cue + "' --device '" + Emulated(failing2, "fail-write=300") + "' --driver mmc --json --quiet");
    EXPECT_NE(run.output.find("\"verify\": \"not-run\", \"disc\": \"partly-written\""), std::string::npos)
        << run.output;
}

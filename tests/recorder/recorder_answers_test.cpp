// SPDX-License-Identifier: GPL-2.0-or-later
// The answers real drives give every day — both sense formats, deferred and recovered
// errors, UNIT ATTENTION, becoming ready, BUSY — and what the driver, the erase and the
// emulated recorder make of them.

#include "recorder_fixtures.h"

#include "recorder/DiscUtilities.h"
#include "recorder/SgIoTransport.h"
#include "recorder/SubChannel.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <cstdio>
#include <deque>

using namespace lumivox;
using namespace lumivox::rectest;
namespace fs = std::filesystem;

namespace {

// A drive that gives scripted answers, one per command, then success.
class ScriptedDrive final : public ScsiTransport {
public:
    struct Answer {
        int result;
        SenseData sense;
    };
    std::deque<Answer> answers;
    std::vector<std::uint8_t> sent; // operation codes
    int ExecuteCommand(const std::uint8_t* cdb, std::size_t, const std::uint8_t*, std::size_t, std::uint8_t*,
                       std::size_t) override
    {
        sent.push_back(cdb[0]);
        if (answers.empty())
            return kScsiSuccess;
        const Answer answer = answers.front();
        answers.pop_front();
        sense_ = answer.sense;
        if (answer.result == kScsiFailure)
            failure_ = "the drive vanished";
        return answer.result;
    }
    void Add(int count, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, bool descriptor = false,
             bool deferred = false)
    {
        for (int i = 0; i < count; ++i)
            answers.push_back({kScsiCheckCondition, SenseData::Make(key, asc, ascq, descriptor, deferred)});
    }
};

// A clock that never sleeps: each wait moves it on.
class TestClock final : public RecorderClock {
public:
    std::chrono::milliseconds now{0};
    std::chrono::milliseconds Now() override { return now; }
    bool Wait(std::chrono::milliseconds delay, const ManualResetEvent& cancel) override
    {
        now += delay;
        return cancel.IsSet();
    }
};

std::string Triple(const SenseData& sense)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense.Key(), sense.Asc(), sense.Ascq());
    return text;
}

} // namespace

TEST(RecorderAnswers, SenseFormatsTimeoutsAndHostAnswers)
{
    struct SenseCase {
        std::vector<std::uint8_t> bytes;
        const char* triple;
        bool deferred, recovered;
    } senses[] = {
        {{0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x08}, "02/04/08", false, false},
        {{0xF1, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x0C, 0x00}, "03/0C/00", true, false}, // valid bit set
        {{0x72, 0x02, 0x04, 0x08, 0, 0, 0, 0}, "02/04/08", false, false},
        {{0x73, 0x03, 0x0C, 0x00, 0, 0, 0, 0}, "03/0C/00", true, false},
        {{0x72, 0x01, 0x17, 0x01}, "01/17/01", false, true},
        {{0x70, 0, 0x01, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x17, 0x01}, "01/17/01", false, true},
    };
    for (const SenseCase& c : senses) {
        SenseData sense;
        std::copy(c.bytes.begin(), c.bytes.end(), sense.bytes.begin());
        EXPECT_EQ(Triple(sense), c.triple) << int(c.bytes[0]);
        EXPECT_EQ(sense.Deferred(), c.deferred) << c.triple;
        EXPECT_EQ(sense.Recovered(), c.recovered) << c.triple;
    }
    EXPECT_EQ(SenseText(SenseData::Make(3, 0x0C, 0, true, true)), "deferred sense 03/0C/00 (write error)");

    // Time-outs by kind: short commands do not hold a cancel for minutes.
    using std::chrono::seconds;
    const std::uint8_t tur[6]{}, write[10]{kOpWrite10}, sync[10]{kOpSynchronizeCache},
        syncImmediate[10]{kOpSynchronizeCache, 0x02}, blankImmediate[12]{kOpBlank, 0x11}, blank[12]{kOpBlank, 0x01},
        toc[10]{kOpReadToc};
    EXPECT_EQ(CommandTimeout(tur, 6), seconds(30));
    EXPECT_EQ(CommandTimeout(toc, 10), seconds(30));
    // A WRITE may be held for the whole lead-in: 153 s at 1× once the buffer is full.
    EXPECT_EQ(CommandTimeout(write, 10, WriteTimeoutFor(0)), WriteTimeoutFor(0));
    EXPECT_GE(WriteTimeoutFor(0), seconds(230));
    for (int speed = 1; speed <= 6; ++speed)
        EXPECT_EQ(WriteTimeoutFor(speed), seconds(200)) << speed;
    EXPECT_GE(CommandTimeout(sync, 10), seconds(600));
    EXPECT_EQ(CommandTimeout(syncImmediate, 10), seconds(60)) << "the cancel path's flush is bounded";
    EXPECT_EQ(CommandTimeout(blankImmediate, 12), seconds(60));
    EXPECT_GE(CommandTimeout(blank, 12), seconds(3600));

    using Outcome = SgIoTransport::Outcome;
    struct HostCase {
        unsigned status, host, driver;
        Outcome outcome;
    } hosts[] = {
        {0, 0, 0, Outcome::Success},    {2, 0, 0x08, Outcome::CheckCondition}, {0x08, 0, 0, Outcome::Retry},
        {0x28, 0, 0, Outcome::Retry},   {0, 0x02, 0, Outcome::Retry},          {0, 0x0B, 0, Outcome::Retry},
        {0, 0x0C, 0, Outcome::Retry},   {0, 0x03, 0, Outcome::TimedOut},       {0, 0x01, 0, Outcome::Failure},
        {0x18, 0, 0, Outcome::Failure},
    };
    for (const HostCase& c : hosts)
        EXPECT_EQ(SgIoTransport::Classify(c.status, c.host, c.driver), c.outcome) << c.status << "/" << c.host;

    // A mounted disc is found in the mount table by its device number (octal escapes too).
    TempFolder folder;
    const std::string mounts = folder.Slash() + "mounts";
    authortest::WriteFile(mounts, Bytes{});
    {
        std::FILE* file = std::fopen(mounts.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("proc /proc proc rw 0 0\n/dev/null /media/my\\040disc iso9660 ro 0 0\n", file);
        std::fclose(file);
    }
    EXPECT_EQ(SgIoTransport::MountPointOf("/dev/null", mounts), "/media/my disc");
    EXPECT_EQ(SgIoTransport::MountPointOf("/dev/zero", mounts), "");
    std::filesystem::create_symlink("/dev/null", folder.Path() / "cdrw");
    EXPECT_EQ(SgIoTransport::MountPointOf(folder.Slash() + "cdrw", mounts), "/media/my disc") << "a link to the node";

    // A drive that a desktop daemon holds for a moment is opened once it lets go; past the
    // limit (or without one, for a shared open) EBUSY is the answer.
    int calls = 0;
    auto busyTwice = [&] { return ++calls <= 2 ? -EBUSY : 7; };
    EXPECT_EQ(OpenRetryingWhileBusy(busyTwice, std::chrono::seconds(5), std::chrono::milliseconds(1)), 7);
    EXPECT_EQ(calls, 3);
    calls = 0;
    EXPECT_EQ(OpenRetryingWhileBusy(busyTwice, std::chrono::milliseconds(0)), -EBUSY);
    EXPECT_EQ(calls, 1);
    calls = 0;
    EXPECT_EQ(OpenRetryingWhileBusy([&] { return ++calls, -EACCES; }, std::chrono::seconds(5)), -EACCES);
    EXPECT_EQ(calls, 1) << "only EBUSY is waited out";
}

TEST(RecorderAnswers, RetriesUnitAttentionAndWaitsOutBecomingReady)
{
    const std::uint8_t readDisc[10]{kOpReadDiscInformation};
    struct Case {
        const char* name;
        std::function<void(ScriptedDrive&)> script;
        int result;
        std::size_t sends;
    } cases[] = {
        {"unit attention twice",
         [](ScriptedDrive& d) {
             d.Add(1, 6, 0x28, 0);
             d.Add(1, 6, 0x29, 0);
         },
         kScsiSuccess, 3},
        {"unit attention without end", [](ScriptedDrive& d) { d.Add(10, 6, 0x29, 0); }, kScsiCheckCondition, 4},
        {"becoming ready, then busy",
         [](ScriptedDrive& d) {
             d.Add(3, 2, 4, 1);
             d.Add(2, 2, 4, 8, true);
         },
         kScsiSuccess, 6},
        {"no disc is not waited for", [](ScriptedDrive& d) { d.Add(3, 2, 0x3A, 0); }, kScsiCheckCondition, 1},
        {"recovered is success", [](ScriptedDrive& d) { d.Add(1, 1, 0x17, 1, true); }, kScsiSuccess, 1},
        {"deferred is not retried", [](ScriptedDrive& d) { d.Add(3, 2, 4, 1, false, true); }, kScsiCheckCondition, 1},
        {"system failure",
         [](ScriptedDrive& d) {
             d.answers.push_back({kScsiFailure, {}});
         },
         kScsiFailure, 1},
    };
    for (const Case& c : cases) {
        ScriptedDrive drive;
        c.script(drive);
        std::vector<std::string> notes;
        RetryPolicy policy;
        policy.poll = std::chrono::milliseconds(1);
        policy.notes = &notes;
        EXPECT_EQ(ExecuteRetrying(drive, readDisc, sizeof readDisc, nullptr, 0, nullptr, 0, policy), c.result)
            << c.name;
        EXPECT_EQ(drive.sent.size(), c.sends) << c.name;
        EXPECT_EQ(notes.size(), std::string(c.name).rfind("recovered", 0) == 0 ? 1u : 0u) << c.name;
    }
    // Cancel ends a wait for a drive that stays busy.
    ScriptedDrive busy;
    busy.Add(1000, 2, 4, 7);
    ManualResetEvent cancel(true);
    RetryPolicy policy;
    policy.cancel = &cancel;
    EXPECT_EQ(ExecuteRetrying(busy, readDisc, sizeof readDisc, nullptr, 0, nullptr, 0, policy), kScsiCancelled);

    // TEST UNIT READY has three answers; only "ready" ends a wait.
    struct Tur {
        const char* name;
        std::function<void(ScriptedDrive&)> script;
        int answer;
    } turs[] = {
        {"unit attention, then ready", [](ScriptedDrive& d) { d.Add(1, 6, 0x28, 0); }, kUnitReady},
        {"becoming ready", [](ScriptedDrive& d) { d.Add(1, 2, 4, 1); }, kUnitNotReady},
        {"long write, descriptor", [](ScriptedDrive& d) { d.Add(1, 2, 4, 8, true); }, kUnitNotReady},
        {"deferred write error", [](ScriptedDrive& d) { d.Add(1, 3, 0x0C, 0, false, true); }, kUnitFailed},
        {"hardware error", [](ScriptedDrive& d) { d.Add(1, 4, 0x44, 0); }, kUnitFailed},
        {"vanished",
         [](ScriptedDrive& d) {
             d.answers.push_back({kScsiFailure, {}});
         },
         kUnitFailed},
    };
    for (const Tur& c : turs) {
        ScriptedDrive drive;
        c.script(drive);
        MmcDriver driver(drive);
        EXPECT_EQ(driver.TestUnitReady(), c.answer) << c.name;
    }
}

TEST(RecorderAnswers, EraseWaitsForABusyDriveAndEndsOnlyWhenReady)
{
    struct Case {
        const char* name;
        std::function<void(ScriptedDrive&)> script;
        bool ok;
        const char* error;
    } cases[] = {
        {"busy before, erasing, ready",
         [](ScriptedDrive& d) {
             d.Add(3, 2, 4, 7); // busy: waited for
             d.answers.push_back({kScsiSuccess, {}}); // ready
             d.answers.push_back({kScsiSuccess, {}}); // READ DISC INFORMATION (tells nothing)
             d.answers.push_back({kScsiSuccess, {}}); // BLANK
             d.Add(5, 2, 4, 4); // format in progress
         },
         true, ""},
        {"no disc", [](ScriptedDrive& d) { d.Add(1, 2, 0x3A, 1); }, false, kNoRewritableDiscText},
        {"failure while erasing",
         [](ScriptedDrive& d) {
             d.answers.push_back({kScsiSuccess, {}});
             d.answers.push_back({kScsiSuccess, {}});
             d.answers.push_back({kScsiSuccess, {}});
             d.Add(2, 2, 4, 4);
             d.Add(1, 4, 0x44, 0);
         },
         false, "The drive reported a failure while erasing: sense 04/44/00"},
        {"drive vanished while erasing",
         [](ScriptedDrive& d) {
             d.answers.push_back({kScsiSuccess, {}});
             d.answers.push_back({kScsiSuccess, {}});
             d.answers.push_back({kScsiSuccess, {}});
             d.answers.push_back({kScsiFailure, {}});
         },
         false, "The drive reported a failure while erasing: the drive vanished"},
    };
    for (const Case& c : cases) {
        ScriptedDrive drive;
        c.script(drive);
        MmcDriver driver(drive);
        TestClock clock;
        std::string error;
        EXPECT_EQ(EraseDisc(driver, false, nullptr, {}, &error, &clock), c.ok) << c.name;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.name << ": " << error;
    }
    // The emulated recorder: busy=3 on a CD-RW is waited for, then erased.
    TempFolder folder;
    std::string error;
    auto transport = OpenTransport(Emulated(folder, "disc=cdrw&busy=3"), &error);
    ASSERT_TRUE(transport) << error;
    MmcDriver driver(*transport);
    EXPECT_TRUE(EraseDisc(driver, false, nullptr, {}, &error)) << error;
    EXPECT_NE(ReadFile(folder.Path() / "commands.log").size(), 0u);
    bool blanked = false;
    for (const std::string& line : ReadLines(folder.Path() / "commands.log"))
        blanked = blanked || line.rfind("A1 ", 0) == 0;
    EXPECT_TRUE(blanked);
}

TEST(RecorderAnswers, EmulatedDriveStartsLikeARealOneAndIsUsedByOneAtATime)
{
    TempFolder folder;
    std::string error;
    auto first = OpenTransport(Emulated(folder), &error, DriveAccess::Exclusive);
    ASSERT_TRUE(first) << error;
    EXPECT_TRUE(first->Device().writer) << "identification survives the power-on UNIT ATTENTION";
    // Spinning up after the open: NOT READY 04/01 until it settles; the blank check waits.
    MmcDriver driver(*first);
    EXPECT_EQ(driver.TestUnitReady(), kUnitNotReady);
    EXPECT_EQ(Triple(first->GetSenseData()), "02/04/01");
    EXPECT_EQ(CheckBlankDisc(driver).state, BlankState::Blank);
    // A disc change: UNIT ATTENTION 06/28/00 on the next command, which is retried, not
    // taken for a missing disc (the tray stays closed).
    ASSERT_TRUE(driver.StartStopUnit(true));
    ASSERT_TRUE(driver.StartStopUnit(false));
    EXPECT_EQ(CheckBlankDisc(driver).state, BlankState::Blank);
    const std::vector<std::string> log = ReadLines(folder.Path() / "commands.log");
    bool attention = false;
    for (const std::string& line : log)
        attention = attention || line.find("sense=06/28/00") != std::string::npos;
    EXPECT_TRUE(attention);

    // A second user is refused while the first holds the drive; a shared open (listing) is not.
    std::string busy;
    EXPECT_FALSE(OpenTransport(Emulated(folder), &busy, DriveAccess::Exclusive));
    EXPECT_EQ(busy, "The drive " + Emulated(folder) + " is in use.");
    EXPECT_TRUE(OpenTransport(Emulated(folder), &error));

    // Writing has begun: the disc is marked written at once, so a burn killed now leaves a
    // disc that the next blank check refuses.
    driver.SetRun(RunSettings{}, nullptr, nullptr);
    SmallDisc disc;
    std::vector<std::uint8_t> sheet;
    std::vector<CueRecord> cues = {{0, CueKind::TrackStart},
                                   {static_cast<std::uint32_t>(disc.total), CueKind::LeadOutStart}};
    ASSERT_EQ(BuildCueSheet(cues, &sheet), 0);
    driver.SetCueSheet(sheet.data(), sheet.size());
    ASSERT_TRUE(driver.PrepareDisc(&error)) << error;
    ASSERT_TRUE(driver.StartDisc(&error)) << error;
    {
        auto other = OpenTransport(Emulated(folder), &error);
        ASSERT_TRUE(other) << error;
        MmcDriver reader(*other);
        EXPECT_EQ(CheckBlankDisc(reader).state, BlankState::NotEmpty);
    }
    // The tray stays locked while the session is open, and one cue sheet is all it takes.
    EXPECT_FALSE(driver.StartStopUnit(true));
    SendCueSheetCdb again;
    again.length.Set(static_cast<std::uint32_t>(sheet.size()));
    EXPECT_EQ(Execute(*first, again, sheet.data(), sheet.size()), kScsiCheckCondition);
    EXPECT_EQ(Triple(first->GetSenseData()), "05/2C/00");
    first.reset();
    EXPECT_TRUE(OpenTransport(Emulated(folder), &error, DriveAccess::Exclusive)) << error;
}

TEST(RecorderAnswers, ForeignCueWithIndex00OnTrack1BurnsAsItsImage)
{
    SmallDisc disc;
    TempFolder images;
    const std::string cue = disc.WriteBinCue(images.Slash());
    const Bytes image = ReadFile(images.Slash() + "disc.bin");
    // The same BIN, its first 150 sectors declared the pregap of track 1.
    Bytes text = ReadFile(cue);
    std::string foreign(text.begin(), text.end());
    const std::size_t at = foreign.find("INDEX 01 00:00:00");
    ASSERT_NE(at, std::string::npos) << foreign;
    foreign.replace(at, 17, "INDEX 00 00:00:00\n    INDEX 01 00:02:00");
    authortest::WriteFile(images.Slash() + "foreign.cue", Bytes(foreign.begin(), foreign.end()));
    for (DriverChoice driver : {DriverChoice::Mmc, DriverChoice::Raw}) {
        TempFolder drive;
        BurnOptions options;
        options.device = Emulated(drive);
        options.driver = driver;
        options.eject = false;
        BurnResult result;
        std::string error;
        ASSERT_TRUE(BurnImageFile(images.Slash() + "foreign.cue", options, nullptr, nullptr, &result, &error)) << error;
        EXPECT_EQ(result.verify, VerifyStatus::Passed);
        EXPECT_EQ(FirstDifference(ReadFile(drive.Path() / "disc.bin"), image), "equal");
        if (driver == DriverChoice::Mmc) {
            // Times never go back: track 1 index 0 at 00:00:00, index 1 at 00:04:00.
            const Bytes sheet = ReadFile(drive.Path() / "cuesheet.bin");
            ASSERT_GE(sheet.size(), 24u);
            EXPECT_EQ(sheet[8 + 1], 1);
            EXPECT_EQ(sheet[8 + 2], 0);
            EXPECT_EQ(sheet[16 + 1], 1);
            EXPECT_EQ(sheet[16 + 2], 1);
            EXPECT_EQ(sheet[16 + 6], 4); // seconds
        }
    }
}

TEST(RecorderAnswers, EmulatedDriveRefusesRawWritesADriveRefuses)
{
    // Raw writing must begin at the reported lead-in start with a sound Q channel.
    struct Case {
        const char* name;
        std::int32_t address; // relative to the reported start
        bool badCrc;
        const char* sense;
    } cases[] = {
        {"lead-in elsewhere", 75, false, "05/21/02"},
        {"bad Q CRC", 0, true, "05/24/00"},
        {"sound", 0, false, "00/00/00"},
    };
    SmallDisc disc;
    std::vector<std::uint8_t> sheet;
    ASSERT_EQ(BuildCueSheet({{0, CueKind::TrackStart}, {static_cast<std::uint32_t>(disc.total), CueKind::LeadOutStart}},
                            &sheet),
              0);
    for (const Case& c : cases) {
        TempFolder folder;
        std::string error;
        auto transport = OpenTransport(Emulated(folder, "ideal=1&raw-types=1"), &error);
        ASSERT_TRUE(transport) << error;
        RawDriver driver(*transport);
        driver.SetRun(RunSettings{}, nullptr, nullptr);
        driver.SetCueSheet(sheet.data(), sheet.size());
        ASSERT_TRUE(driver.PrepareDisc(&error)) << error;
        const std::int32_t address = driver.LeadInFirstAddress() + c.address;
        std::vector<std::uint8_t> block(2352 + 16, 0);
        MakeRawZeroSector(block.data(), 0);
        PQChannelEncoder encoder;
        PqSubcode16 format;
        ASSERT_TRUE(encoder.Start(&format, 32, sheet.data(), sheet.size(), driver.LeadInFirstAddress(), &error));
        encoder.Encode(address, block.data() + 2352);
        if (c.badCrc)
            block[2352 + 11] ^= 1;
        Write10Cdb cdb;
        cdb.address.SetSigned(address);
        cdb.blocks.Set(1);
        Execute(*transport, cdb, block.data(), block.size());
        EXPECT_EQ(Triple(transport->GetSenseData()), c.sense) << c.name;
    }
}

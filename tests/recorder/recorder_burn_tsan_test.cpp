// SPDX-License-Identifier: GPL-2.0-or-later
// Burning through the recorder feed to the emulated recorder: the written disc must read
// back exactly as the image file the BIN/CUE sink writes, in both writing modes, and every
// fault must end the run with its message instead of a hang or a false success.

#include "recorder_fixtures.h"

#include "recorder/DiscUtilities.h"
#include "recorder/SubChannel.h"
#include "recorder/TeeSink.h"
#include "vcd/Sector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace lumivox;
using namespace lumivox::rectest;
namespace fs = std::filesystem;

namespace {

struct Burn {
    BurnResult result;
    int written = -1; // WriteImage's result
    std::string openError;
};

Burn BurnDisc(SmallDisc& disc, BurnOptions options, EventLog* log, ManualResetEvent* cancel)
{
    Burn burn;
    auto feed = OpenRecorderFeed(options, disc.total, log, cancel, &burn.openError);
    if (!feed)
        return burn;
    burn.written = WriteImage(*disc.layout, *feed);
    burn.result = feed->Result();
    return burn;
}

BurnOptions Options(const std::string& device, DriverChoice driver)
{
    BurnOptions options;
    options.device = device;
    options.driver = driver;
    options.eject = false;
    return options;
}

// P and Q of every block in subchannel.bin, checked against their CRC.
void CheckSubchannelFile(const fs::path& path, std::size_t size, std::size_t blocks)
{
    const Bytes bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), blocks * size);
    PqSubcode16 pq;
    PwSubcode96 pw;
    const SubchannelFormat& format = size == 16 ? static_cast<const SubchannelFormat&>(pq) : pw;
    for (std::size_t b = 0; b < blocks; ++b) {
        bool p = false;
        std::uint8_t q[12];
        format.Decode(bytes.data() + b * size, &p, q);
        const std::uint16_t crc = QCrc(q);
        ASSERT_EQ(q[10] << 8 | q[11], crc) << "Q CRC of block " << b;
    }
}

} // namespace

TEST(RecorderBurn, DiscReadsBackAsTheImageFileInEveryMode)
{
    SmallDisc disc;
    ASSERT_GT(disc.total, 0) << disc.layout->errorText;
    TempFolder images;
    const std::string cue = disc.WriteBinCue(images.Slash());
    const Bytes image = ReadFile(images.Slash() + "disc.bin");
    const Bytes imageCue = ReadFile(cue);
    struct Case {
        const char* name;
        DriverChoice driver;
        const char* options;
        std::size_t subchannel; // 0: session-at-once
        std::int32_t leadIn; // lead-in blocks written by the host
        std::int32_t leadOut;
        int piece = 27; // blocks per WRITE
        bool fallsBack = false; // raw asked for, session-at-once written
    } cases[] = {
        {"session-at-once", DriverChoice::Mmc, "", 0, 0, 0},
        {"raw P-Q", DriverChoice::Raw, "", 16, 11475, 6750},
        {"raw P-W", DriverChoice::Raw, "raw-types=3", 96, 11475, 6750},
        // Answers real drives give every day.
        {"descriptor sense, busy cue sheet and flush", DriverChoice::Mmc, "sense=descriptor&cue-busy=2&sync-busy=2", 0,
         0, 0},
        {"raw P-W under a 64 KiB transfer limit", DriverChoice::Raw, "raw-types=3&max-transfer=65536", 96, 11475, 6750,
         26},
        {"raw, lead-in start from the ATIP", DriverChoice::Raw, "lead-in=none&atip=97:27:00", 16, 11475, 6750},
        {"raw, recovered error on a WRITE", DriverChoice::Raw, "recovered=40", 16, 11475, 6750},
        // No lead-in start from either source: written session-at-once, and said so.
        {"raw without a lead-in start", DriverChoice::Raw, "lead-in=none", 0, 0, 0, 27, true},
        {"raw, lead-in below 90 min", DriverChoice::Raw, "lead-in=79:00:00&atip=79:00:00", 0, 0, 0, 27, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder drive;
        EventLog log;
        ManualResetEvent cancel;
        const Burn burn = BurnDisc(disc, Options(Emulated(drive, c.options), c.driver), &log, &cancel);
        ASSERT_EQ(burn.openError, "");
        EXPECT_EQ(burn.written, 0) << disc.layout->errorText;
        EXPECT_EQ(burn.result.status, BurnStatus::Succeeded) << burn.result.text;
        EXPECT_EQ(burn.result.verify, VerifyStatus::Passed) << burn.result.verifyText;
        bool fellBack = false;
        for (const ProgressEvent& e : log.Events())
            fellBack = fellBack || e.text.find("writing session-at-once instead") != std::string::npos;
        EXPECT_EQ(fellBack, c.fallsBack);
        EXPECT_EQ(burn.result.notes.size(), std::string(c.options).find("recovered") == 0 ? 1u : 0u);
        const Bytes written = ReadFile(drive.Path() / "disc.bin");
        EXPECT_EQ(FirstDifference(written, image), "equal");
        const Bytes writtenCue = ReadFile(drive.Path() / "disc.cue");
        EXPECT_EQ(std::string(writtenCue.begin(), writtenCue.end()), std::string(imageCue.begin(), imageCue.end()));

        const std::vector<int> sequence = log.Sequence();
        const std::vector<int> start = {UM_RECORDER_INIT, UM_LEAD_IN, UM_WRITE_PROGRESS, UM_LEAD_OUT};
        ASSERT_GE(sequence.size(), start.size() + 1);
        EXPECT_TRUE(std::equal(start.begin(), start.end(), sequence.begin()));
        EXPECT_EQ(sequence.back(), UM_BURN_DONE);
        const std::vector<ProgressEvent> events = log.Events();
        std::int64_t lastWrite = 0;
        bool verified = false;
        for (const ProgressEvent& e : events) {
            if (e.message == UM_WRITE_PROGRESS && e.stage == ProgressStage::Writing) {
                EXPECT_EQ(e.total, disc.total);
                lastWrite = e.done;
            }
            if (e.stage == ProgressStage::Verifying && e.done == disc.total)
                verified = true;
        }
        EXPECT_EQ(lastWrite, disc.total);
        EXPECT_TRUE(verified);

        // Every data write but the last carries 27 blocks, in order, from address 0.
        const std::vector<std::string> writes = ReadLines(drive.Path() / "writes.log");
        long long expected = LLONG_MIN;
        long dataBlocks = 0;
        for (const std::string& line : writes) {
            long long address = 0;
            unsigned count = 0, size = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lld %u %u", &address, &count, &size), 3) << line;
            if (expected != LLONG_MIN) {
                EXPECT_EQ(address, expected) << line;
            }
            expected = address + count;
            EXPECT_EQ(size, c.subchannel ? 2352 + c.subchannel : 2336);
            if (address >= 0 && address < disc.total)
                dataBlocks += count;
        }
        EXPECT_EQ(dataBlocks, disc.total);
        if (c.subchannel == 0) {
            EXPECT_EQ(writes.front(), "-150 10 2336");
            const Bytes sheet = ReadFile(drive.Path() / "cuesheet.bin");
            EXPECT_EQ(sheet.size(), 6u * 8);
            // MODE SELECT sends the header's reserved bytes as zero.
            bool modeSelect = false;
            for (const std::string& line : ReadLines(drive.Path() / "commands.log"))
                if (line.rfind("55 ", 0) == 0) {
                    modeSelect = true;
                    EXPECT_NE(line.find(" data=0000000000000000"), std::string::npos) << line;
                }
            EXPECT_TRUE(modeSelect);
        } else {
            EXPECT_EQ(writes.front(), std::to_string(-150 - c.leadIn) + " " + std::to_string(c.piece) + " " +
                                          std::to_string(2352 + c.subchannel));
            EXPECT_EQ(expected, disc.total + c.leadOut);
            CheckSubchannelFile(drive.Path() / "subchannel.bin", c.subchannel,
                                static_cast<std::size_t>(c.leadIn + 150 + disc.total + c.leadOut));
            EXPECT_FALSE(fs::exists(drive.Path() / "cuesheet.bin"));
        }

        // The burned disc is written for the next blank check.
        std::string error;
        auto transport = OpenTransport(Emulated(drive), &error);
        ASSERT_TRUE(transport) << error;
        MmcDriver driver(*transport);
        EXPECT_EQ(CheckBlankDisc(driver).state, BlankState::NotEmpty);
    }
}

TEST(RecorderBurn, StagingCountsSectorsInBuffersOf27)
{
    // A synthetic image of n sectors; the writes show how the buffers were cut.
    struct Case {
        std::uint32_t sectors;
        DriverChoice driver;
        std::vector<unsigned> tail; // the last data writes' block counts
    } cases[] = {
        {27 * 4, DriverChoice::Mmc, {27, 27}},
        {1000, DriverChoice::Mmc, {27, 1}},
        {1000, DriverChoice::Raw, {27, 1}},
        {5, DriverChoice::Mmc, {5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sectors) + (c.driver == DriverChoice::Raw ? " raw" : " mmc"));
        TempFolder drive;
        std::string error;
        auto feed = OpenRecorderFeed(Options(Emulated(drive), c.driver), c.sectors, nullptr, nullptr, &error);
        ASSERT_TRUE(feed) << error;
        ASSERT_EQ(feed->SetCueList({{0, CueKind::TrackStart}, {c.sectors, CueKind::LeadOutStart}}), 0);
        RawSector sector;
        for (std::uint32_t s = 0; s < c.sectors; ++s) {
            MakeMode2Sector(sector, nullptr, s, 1, 1, kSubmodeForm2, 0);
            sector[100] = static_cast<std::uint8_t>(s);
            ASSERT_EQ(feed->WriteSector(sector.data(), s), 0) << feed->ErrorText();
        }
        ASSERT_EQ(feed->CloseSink(), 0) << feed->ErrorText();
        std::vector<unsigned> data;
        for (const std::string& line : ReadLines(drive.Path() / "writes.log")) {
            long long address = 0;
            unsigned count = 0, size = 0;
            std::sscanf(line.c_str(), "%lld %u %u", &address, &count, &size);
            if (address >= 0 && address < c.sectors)
                data.push_back(count);
        }
        ASSERT_GE(data.size(), c.tail.size());
        EXPECT_EQ(std::vector<unsigned>(data.end() - static_cast<long>(c.tail.size()), data.end()), c.tail);
        // The disc's first sector reads 00:02:00 and the addresses count on without gaps.
        const Bytes disc = ReadFile(drive.Path() / "disc.bin");
        ASSERT_EQ(disc.size(), std::size_t(c.sectors) * 2352);
        for (std::uint32_t s = 0; s < c.sectors; ++s) {
            std::uint8_t bcd[3];
            WriteBcdAddress(bcd, s);
            ASSERT_EQ(std::memcmp(disc.data() + s * 2352 + 12, bcd, 3), 0) << "sector " << s;
            ASSERT_EQ(disc[s * 2352 + 100], static_cast<std::uint8_t>(s)) << "sector " << s;
        }
    }
}

TEST(RecorderBurn, DriveFaultsEndWithTheirMessage)
{
    SmallDisc disc;
    ASSERT_GT(disc.total, 1000);
    struct Case {
        const char* options;
        DriverChoice driver;
        BurnStatus status;
        const char* text; // start of the failure text
    } cases[] = {
        {"not-ready=50", DriverChoice::Mmc, BurnStatus::Succeeded, ""},
        {"not-ready=10", DriverChoice::Raw, BurnStatus::Succeeded, ""},
        {"fail-write=1000", DriverChoice::Mmc, BurnStatus::Failed,
         "Error while writing cd: sense 03/0C/00 (write error)"},
        {"fail-write=1000", DriverChoice::Raw, BurnStatus::Failed,
         "Error while writing cd: sense 03/0C/00 (write error)"},
        {"disc=cdrw&fail-write=1000", DriverChoice::Mmc, BurnStatus::Failed,
         "Error while writing cd: sense 03/0C/00 (write error)"},
        {"fail-opc=1", DriverChoice::Mmc, BurnStatus::Succeeded, ""},
        {"capacity=00:05:00", DriverChoice::Mmc, BurnStatus::Failed, "The disc holds 0 MB; this Video CD needs"},
        // A failure the drive reports for data it had already taken, on the final wait
        // (session-at-once) or the flush (raw), is a failed burn, not a success.
        {"deferred=1", DriverChoice::Mmc, BurnStatus::Failed,
         "Error while writing cd: the drive could not write data it had taken (deferred sense 03/0C/00"},
        {"deferred=1&sense=descriptor", DriverChoice::Raw, BurnStatus::Failed,
         "Error while writing cd: the drive could not write data it had taken (deferred sense 03/0C/00"},
        {"profile=dvdr", DriverChoice::Mmc, BurnStatus::Failed, "the drive holds a DVD-R; a Video CD is burned"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TempFolder drive;
        EventLog log;
        ManualResetEvent cancel;
        const auto started = std::chrono::steady_clock::now();
        const Burn burn = BurnDisc(disc, Options(Emulated(drive, c.options), c.driver), &log, &cancel);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
        if (std::string(c.options).rfind("capacity", 0) == 0 || std::string(c.options).rfind("profile", 0) == 0) {
            EXPECT_NE(burn.openError.find(c.text), std::string::npos) << burn.openError;
            EXPECT_FALSE(fs::exists(drive.Path() / "writes.log")) << "nothing is written";
            continue;
        }
        ASSERT_EQ(burn.openError, "");
        EXPECT_EQ(burn.result.status, c.status) << burn.result.text;
        EXPECT_EQ(burn.result.text.rfind(c.text, 0), 0u) << burn.result.text;
        if (c.status == BurnStatus::Failed) {
            EXPECT_NE(burn.written, 0);
            EXPECT_TRUE(log.Has(UM_BURN_FAILED));
            EXPECT_FALSE(log.Has(UM_BURN_DONE));
            // The drive is left idle: right after the refused command SYNCHRONIZE CACHE (with
            // the immediate bit), so that it ends the session, and last of all the tray is
            // unlocked; the message says what that means for the disc.
            const std::vector<std::string> commands = ReadLines(drive.Path() / "commands.log");
            const auto refused = std::find_if(commands.begin(), commands.end(), [](const std::string& line) {
                return line.find("sense=03/0C/00") != std::string::npos;
            });
            ASSERT_TRUE(refused != commands.end() && refused + 1 != commands.end());
            EXPECT_EQ(refused[1].rfind("35 02 ", 0), 0u) << refused[1];
            EXPECT_EQ(commands.back().rfind("1E 00 00 00 00 00", 0), 0u) << commands.back();
            EXPECT_TRUE(burn.result.discUnusable);
            // A CD-R is lost; a CD-RW is sent to the erase button.
            const std::string state =
                std::string(c.options).find("cdrw") != std::string::npos
                    ? "The disc was partly written; erase it with \"Erase CD-RW\" on the Burn page to use it again."
                    : "The disc was partly written and is unusable.";
            EXPECT_EQ(burn.result.discState, state);
            EXPECT_NE(burn.result.text.find(state), std::string::npos) << burn.result.text;
        } else {
            EXPECT_EQ(burn.written, 0);
            EXPECT_EQ(burn.result.verify, VerifyStatus::Passed) << burn.result.verifyText;
        }
        if (std::string(c.options) == "fail-opc=1") {
            ASSERT_EQ(burn.result.warnings.size(), 1u);
            EXPECT_EQ(burn.result.warnings[0], "Power calibration failed.\n");
        }
    }
}

TEST(RecorderBurn, BlankCheckRefusesBeforeAnythingStarts)
{
    SmallDisc disc;
    struct Case {
        const char* options;
        const char* message;
        bool ejected;
    } cases[] = {
        {"disc=none", "CD-R/RW disc is not ready. Please insert a blank CD-R/RW disc.", true},
        {"disc=written", kNotEmptyCdrText, false},
    };
    for (const Case& c : cases) {
        TempFolder drive;
        const Burn burn = BurnDisc(disc, Options(Emulated(drive, c.options), DriverChoice::Auto), nullptr, nullptr);
        EXPECT_EQ(burn.openError, Emulated(drive, c.options) + ": " + c.message);
        EXPECT_FALSE(fs::exists(drive.Path() / "writes.log"));
        const std::vector<std::string> commands = ReadLines(drive.Path() / "commands.log");
        bool ejected = false;
        for (const std::string& line : commands)
            ejected = ejected || line.rfind("1B 00 00 00 02", 0) == 0;
        EXPECT_EQ(ejected, c.ejected) << c.options;
    }
}

TEST(RecorderBurn, CancelAtEveryStageStopsWithinOneBuffer)
{
    SmallDisc disc;
    ASSERT_GT(disc.total, 600);
    const int stages[] = {UM_RECORDER_INIT, UM_LEAD_IN, UM_WRITE_PROGRESS, UM_LEAD_OUT};
    for (DriverChoice driver : {DriverChoice::Mmc, DriverChoice::Raw})
        for (int stage : stages) {
            SCOPED_TRACE(std::string(ProgressMessageName(stage)) + (driver == DriverChoice::Raw ? " raw" : " mmc"));
            TempFolder drive;
            EventLog log;
            ManualResetEvent cancel;
            std::atomic<long> cancelledAt{-1};
            log.onEvent = [&](const ProgressEvent& e) {
                if (e.message == stage && (stage != UM_WRITE_PROGRESS || e.done >= 270) && !cancel.IsSet()) {
                    cancelledAt = static_cast<long>(e.done);
                    cancel.Set();
                }
            };
            const Burn burn = BurnDisc(disc, Options(Emulated(drive), driver), &log, &cancel);
            ASSERT_EQ(burn.openError, "");
            EXPECT_NE(burn.written, 0);
            EXPECT_EQ(burn.result.status, BurnStatus::Cancelled) << burn.result.text;
            EXPECT_FALSE(log.Has(UM_BURN_FAILED));
            EXPECT_FALSE(log.Has(UM_BURN_DONE));
            if (stage == UM_WRITE_PROGRESS) {
                long lastData = 0;
                for (const std::string& line : ReadLines(drive.Path() / "writes.log")) {
                    long long address = 0;
                    unsigned count = 0;
                    std::sscanf(line.c_str(), "%lld %u", &address, &count);
                    if (address >= 0)
                        lastData = static_cast<long>(address + count);
                }
                EXPECT_LE(lastData, cancelledAt + 27);
            }
        }
}

TEST(RecorderBurn, BufferUnderrunWithoutBurnProofFailsAndWithItSurvives)
{
    // The drive drains at 52× (3,900 blocks a second) once its buffer is full; the image
    // comes at 40×, so the buffer runs dry after about a second.
    constexpr std::uint32_t kSectors = 6000;
    for (bool burnProof : {false, true}) {
        SCOPED_TRACE(burnProof ? "Burn-Proof" : "no Burn-Proof");
        TempFolder drive;
        BurnOptions options = Options(Emulated(drive, "speed=52"), DriverChoice::Mmc);
        options.burnProof = burnProof;
        std::string error;
        auto feed = OpenRecorderFeed(options, kSectors, nullptr, nullptr, &error);
        ASSERT_TRUE(feed) << error;
        ASSERT_EQ(feed->SetCueList({{0, CueKind::TrackStart}, {kSectors, CueKind::LeadOutStart}}), 0);
        RawSector sector;
        const auto start = std::chrono::steady_clock::now();
        int result = 0;
        for (std::uint32_t s = 0; s < kSectors && result == 0; ++s) {
            MakeMode2Sector(sector, nullptr, s, 1, 1, kSubmodeForm2, 0);
            result = feed->WriteSector(sector.data(), s);
            if (s % 27 == 26)
                std::this_thread::sleep_until(start + std::chrono::microseconds((s + 1) * 1000000LL / (40 * 75)));
        }
        if (result == 0)
            result = feed->CloseSink();
        const auto* emulated = dynamic_cast<EmulatedRecorder*>(&feed->Transport());
        ASSERT_NE(emulated, nullptr);
        if (burnProof) {
            EXPECT_EQ(result, 0) << feed->ErrorText();
            EXPECT_GT(emulated->BufferRecoveries(), 0);
        } else {
            EXPECT_EQ(result, -1);
            feed->CloseSink();
            EXPECT_EQ(feed->Result().status, BurnStatus::Failed);
            EXPECT_NE(feed->Result().text.find("sense 03/0C/09 (loss of streaming)"), std::string::npos)
                << feed->Result().text;
        }
    }
}

TEST(RecorderBurn, SimulationWritesNothingToTheDisc)
{
    SmallDisc disc;
    TempFolder drive;
    BurnOptions options = Options(Emulated(drive), DriverChoice::Raw);
    options.mode = DiscMode::Simulate;
    options.eject = true;
    EventLog log;
    const Burn burn = BurnDisc(disc, options, &log, nullptr);
    ASSERT_EQ(burn.openError, "");
    EXPECT_EQ(burn.result.status, BurnStatus::Succeeded) << burn.result.text;
    EXPECT_EQ(burn.result.verify, VerifyStatus::NotRun);
    EXPECT_FALSE(fs::exists(drive.Path() / "disc.bin"));
    std::string error;
    auto transport = OpenTransport(Emulated(drive), &error);
    ASSERT_TRUE(transport);
    MmcDriver driver(*transport);
    EXPECT_EQ(CheckBlankDisc(driver).state, BlankState::Blank) << "ejected and loaded again, still blank";
}

TEST(RecorderBurn, VerificationNamesTheFirstSectorThatReadsBackDifferently)
{
    SmallDisc disc;
    ASSERT_GT(disc.total, 700);
    for (DriverChoice driver : {DriverChoice::Mmc, DriverChoice::Raw}) {
        TempFolder drive;
        EventLog log;
        const Burn burn = BurnDisc(disc, Options(Emulated(drive, "corrupt=700"), driver), &log, nullptr);
        ASSERT_EQ(burn.openError, "");
        EXPECT_NE(burn.written, 0);
        EXPECT_EQ(burn.result.status, BurnStatus::Succeeded) << burn.result.text;
        EXPECT_EQ(burn.result.verify, VerifyStatus::Failed);
        EXPECT_EQ(burn.result.firstMismatch, 700);
        EXPECT_EQ(burn.result.verifyText,
                  "The disc was written, but sector 700 reads back differently from the image.");
        EXPECT_TRUE(log.Has(UM_BURN_FAILED));
        EXPECT_FALSE(log.Has(UM_BURN_DONE));
    }
}

TEST(RecorderBurn, ADriveThatStaysBusyIsLeftOnASecondCancel)
{
    // TEST UNIT READY answers NOT READY for ever. Every block is on its way: a first cancel
    // lets the drive finish the disc; a second one stops waiting for it.
    SmallDisc disc;
    TempFolder drive;
    EventLog log;
    ManualResetEvent cancel, leaveNow;
    std::thread second;
    log.onEvent = [&](const ProgressEvent& e) {
        if (e.message == UM_DRIVE_WAIT && !cancel.IsSet()) {
            cancel.Set();
            second = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                leaveNow.Set();
            });
        }
    };
    BurnOptions options = Options(Emulated(drive, "busy=1000000"), DriverChoice::Mmc);
    options.leaveNow = &leaveNow;
    const auto start = std::chrono::steady_clock::now();
    const Burn burn = BurnDisc(disc, options, &log, &cancel);
    if (second.joinable())
        second.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(burn.openError, "");
    EXPECT_EQ(burn.result.status, BurnStatus::Cancelled) << burn.result.text;
    EXPECT_EQ(burn.result.disc, DiscOutcome::Unknown);
    EXPECT_NE(burn.result.discState.find("stopped waiting while the drive was finishing"), std::string::npos)
        << burn.result.discState;
    EXPECT_TRUE(log.Has(UM_DRIVE_WAIT));
    EXPECT_FALSE(log.Has(UM_FLUSH_CACHE));
}

TEST(RecorderBurn, OneRunBurnsAndWritesTheImageFile)
{
    SmallDisc disc;
    TempFolder drive, images;
    std::string error;
    auto feed = OpenRecorderFeed(Options(Emulated(drive), DriverChoice::Raw), disc.total, nullptr, nullptr, &error);
    ASSERT_TRUE(feed) << error;
    {
        BinCueSink file(images.Slash() + "disc.bin");
        TeeSink both(*feed, file);
        ASSERT_EQ(WriteImage(*disc.layout, both), 0) << disc.layout->errorText;
    }
    EXPECT_TRUE(feed->Result().Succeeded()) << feed->Result().text;
    EXPECT_EQ(FirstDifference(ReadFile(drive.Path() / "disc.bin"), ReadFile(images.Path() / "disc.bin")), "equal");

    // The burn fails half way: the run stops with the drive's message, and the file sink,
    // closed without its last sectors, leaves no image behind.
    TempFolder failing, noImage;
    feed = OpenRecorderFeed(Options(Emulated(failing, "fail-write=200"), DriverChoice::Mmc), disc.total, nullptr,
                            nullptr, &error);
    ASSERT_TRUE(feed) << error;
    {
        BinCueSink file(noImage.Slash() + "disc.bin");
        TeeSink both(*feed, file);
        EXPECT_EQ(WriteImage(*disc.layout, both), 1);
        EXPECT_NE(disc.layout->errorText.find("Error while writing cd: sense 03/0C/00"), std::string::npos)
            << disc.layout->errorText;
    }
    EXPECT_FALSE(fs::exists(noImage.Path() / "disc.bin"));
}

TEST(RecorderBurn, AFeedLeftUnfinishedStopsItsBurnAtOnce)
{
    // The drive answers every data WRITE with "long write in progress"; the image writer
    // gives up half way and drops the feed, which must not wait for the drive.
    for (DriverChoice driver : {DriverChoice::Mmc, DriverChoice::Raw}) {
        TempFolder drive;
        std::string error;
        auto feed =
            OpenRecorderFeed(Options(Emulated(drive, "not-ready=100000000"), driver), 1000, nullptr, nullptr, &error);
        ASSERT_TRUE(feed) << error;
        ASSERT_EQ(feed->SetCueList({{0, CueKind::TrackStart}, {1000, CueKind::LeadOutStart}}), 0);
        RawSector sector;
        for (std::uint32_t s = 0; s < 100; ++s) {
            MakeMode2Sector(sector, nullptr, s, 1, 1, kSubmodeForm2, 0);
            ASSERT_EQ(feed->WriteSector(sector.data(), s), 0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // let the drive refuse a few times
        const auto start = std::chrono::steady_clock::now();
        feed.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}

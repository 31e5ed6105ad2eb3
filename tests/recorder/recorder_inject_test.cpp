// SPDX-License-Identifier: GPL-2.0-or-later
// The emulated recorder's injected answers (a sense, a reset, a short transfer at the N-th
// command), the discs and devices it can pretend to be, and the state it leaves behind.

#include "recorder_fixtures.h"

#include "recorder/SubChannel.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace lumivox;
using namespace lumivox::rectest;

namespace {

// Sends a command block; "KK/AA/QQ" of the answer, "00/00/00" for GOOD.
std::string Send(ScsiTransport& drive, std::vector<std::uint8_t> cdb, const void* out = nullptr,
                 std::size_t outLength = 0, void* in = nullptr, std::size_t inLength = 0)
{
    const int result = drive.ExecuteCommand(cdb.data(), cdb.size(), static_cast<const std::uint8_t*>(out), outLength,
                                            static_cast<std::uint8_t*>(in), inLength);
    const SenseData sense = drive.GetSenseData();
    char text[16];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense.Key(), sense.Asc(), sense.Ascq());
    return result == kScsiFailure ? "failure" : text;
}
const std::vector<std::uint8_t> kTur(6, 0), kEject = {0x1B, 0, 0, 0, 0x02, 0}, kFlush = {0x35, 0, 0, 0, 0,
                                                                                         0,    0, 0, 0, 0};

std::unique_ptr<ScsiTransport> Open(const TempFolder& folder, const std::string& options)
{
    std::string error;
    auto drive = OpenTransport(Emulated(folder, options), &error);
    EXPECT_TRUE(drive) << error;
    return drive;
}
// MODE SELECT of page 05 with byte 2 as given (02: session-at-once; 40h: BUFE); MODE SENSE of it.
std::string SelectWriteType(ScsiTransport& drive, std::uint8_t byte2)
{
    std::uint8_t data[8 + kWriteParametersLength]{0, 0, 0, 0, 0, 0, 0, 0, 0x05, kWriteParametersLength - 2, byte2};
    return Send(drive, {0x55, 0x10, 0, 0, 0, 0, 0, 0, sizeof data, 0}, data, sizeof data);
}
int WriteType(ScsiTransport& drive)
{
    std::uint8_t data[8 + kWriteParametersLength]{};
    EXPECT_EQ(Send(drive, {0x5A, 0, 0x05, 0, 0, 0, 0, 0, sizeof data, 0}, nullptr, 0, data, sizeof data), "00/00/00");
    return data[10] & 0x0F;
}
std::string SendCueSheet(ScsiTransport& drive)
{
    std::vector<std::uint8_t> sheet;
    EXPECT_EQ(BuildCueSheet({{0, CueKind::TrackStart}, {1000, CueKind::LeadOutStart}}, &sheet), 0);
    return Send(drive, {0x5D, 0, 0, 0, 0, 0, 0, 0, std::uint8_t(sheet.size()), 0}, sheet.data(), sheet.size());
}
std::string WriteBlock(ScsiTransport& drive, std::int32_t a) // one session-at-once block
{
    const std::vector<std::uint8_t> block(2336);
    using B = std::uint8_t;
    return Send(drive, {0x2A, 0, B(a >> 24), B(a >> 16), B(a >> 8), B(a), 0, 0, 1, 0}, block.data(), block.size());
}

} // namespace

TEST(RecorderInject, ParserTakesRulesAndRefusesBadOnes)
{
    EmulatedOptions options;
    std::string error;
    ASSERT_TRUE(ParseEmulatedName("emulated:/tmp/x?inject=2A@50:06/29/00|BE@1+:05/64/00", &options, &error)) << error;
    ASSERT_EQ(options.inject.size(), 2u);
    const InjectedAnswer &first = options.inject[0], &second = options.inject[1];
    EXPECT_EQ(std::vector<int>({first.opcode, int(first.nth), first.onward, first.key, first.asc, first.ascq}),
              std::vector<int>({0x2A, 50, false, 0x06, 0x29, 0x00}));
    EXPECT_EQ(std::vector<int>({second.opcode, int(second.nth), second.onward, second.key, second.asc}),
              std::vector<int>({0xBE, 1, true, 0x05, 0x64}));
    const std::string prefix = "emulated:/tmp/x?";
    for (const std::string bad :
         {"inject=2A@0:reset", "inject=2A@1", "inject=2G@1:reset", "inject=2A1:reset", "inject=2A@1:5/24/00",
          "inject=2A@1:10/24/00", "inject=2A@1:short=-1", "inject=2A@1:hold=x", "inject=2A@1:resets",
          "inject=2A@1:reset|", "caps=no-burnproof", "di-capacity=0", "type=tape", "disc=pressed", "profile=bd"}) {
        EmulatedOptions refused;
        EXPECT_FALSE(ParseEmulatedName(prefix + bad, &refused, &error)) << bad;
        EXPECT_NE(error.find(bad.substr(0, bad.find('=')), prefix.size() + bad.size()), std::string::npos) << error;
    }
}

TEST(RecorderInject, AnswersAtTheNthCommandOfAnOpcode)
{
    TempFolder folder;
    // The opening sent INQUIRY and MODE SENSE once each: 5A@2 is the first one sent here.
    auto drive = Open(folder, "ideal=1&inject=00@2:0B/47/00|00@4+:02/3A/00|00@3:hold=1|5A@2:short=10");
    ASSERT_TRUE(drive);
    for (const char* expected : {"00/00/00", "0B/47/00", "00/00/00", "02/3A/00", "02/3A/00"})
        EXPECT_EQ(Send(*drive, kTur), expected);
    std::uint8_t page[40];
    EXPECT_EQ(Send(*drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, sizeof page, 0}, nullptr, 0, page, sizeof page), "00/00/00");
    EXPECT_EQ(drive->LastResidual(), sizeof page - 10);
    EXPECT_EQ(page[8], kPageCapabilities) << "what arrived is the drive's answer";
    EXPECT_EQ(std::count(page + 10, page + sizeof page, 0), 30) << "the rest of page 2A never arrived";
    EXPECT_EQ(ReadLines(folder.Path() / "commands.log")[3], "00 00 00 00 00 00 out=0 result=2 sense=0B/47/00");
}

TEST(RecorderInject, ResetForgetsSettingsAndSessionButNotTheDisc)
{
    {
        // A large settle time: page 05 and the lock are seen before and after; the disc spins up again.
        TempFolder folder;
        auto drive = Open(folder, "ua=0&settle-ms=600000&inject=1B@2:reset");
        ASSERT_TRUE(drive);
        ASSERT_EQ(SelectWriteType(*drive, 0x02), "00/00/00");
        EXPECT_EQ(WriteType(*drive), 2);
        EXPECT_EQ(Send(*drive, {0x1E, 0, 0, 0, 0x01, 0}), "00/00/00"); // prevent removal
        EXPECT_EQ(Send(*drive, kEject), "05/53/02");
        EXPECT_EQ(Send(*drive, kEject), "06/29/00");
        EXPECT_EQ(WriteType(*drive), 1) << "page 05 as at power-on";
        EXPECT_EQ(Send(*drive, kTur), "02/04/01");
        EXPECT_EQ(Send(*drive, kEject), "00/00/00") << "the reset released the lock";
    }
    struct Case {
        const char* name;
        const char* inject; // the reset, at the WRITE or TEST UNIT READY after the writes
        std::vector<std::int32_t> writes; // pregap blocks written before it
        const char* status; // after the flush
    } cases[] = {
        {"reset before writing", "00@1:reset", {}, "blank"},
        {"reset after a pregap block", "2A@2:reset", {-150}, "complete"},
        {"flush after the cue sheet alone", "", {}, "blank"},
        {"flush after pregap blocks", "", {-150, -149}, "complete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        auto drive = Open(folder, std::string("ideal=1") + (*c.inject ? "&inject=" : "") + c.inject);
        ASSERT_TRUE(drive);
        ASSERT_EQ(SelectWriteType(*drive, 0x02), "00/00/00");
        ASSERT_EQ(SendCueSheet(*drive), "00/00/00");
        for (std::int32_t address : c.writes)
            EXPECT_EQ(WriteBlock(*drive, address), "00/00/00");
        if (*c.inject) {
            const std::int32_t next = c.writes.empty() ? -150 : c.writes.back() + 1;
            EXPECT_EQ(c.writes.empty() ? Send(*drive, kTur) : WriteBlock(*drive, next), "06/29/00");
            ASSERT_EQ(SelectWriteType(*drive, 0x02), "00/00/00");
            EXPECT_EQ(WriteBlock(*drive, next), "05/2C/00") << "no cue sheet, or no longer a blank disc";
        }
        EXPECT_EQ(Send(*drive, kFlush), "00/00/00");
        const Bytes ini = ReadFile(folder.Path() / "drive.ini");
        EXPECT_NE(std::string(ini.begin(), ini.end()).find(std::string("status=") + c.status), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(folder.Path() / "disc.cue"));
    }
}

TEST(RecorderInject, DisksPressedDiscsAndPartialDrives)
{
    TempFolder disk;
    std::string error;
    EXPECT_FALSE(OpenTransport(Emulated(disk, "type=disk"), &error));
    EXPECT_EQ(error, Emulated(disk, "type=disk") + ": is not a CD/DVD drive (peripheral device type 00h, a disk)");
    const std::vector<std::string> log = ReadLines(disk.Path() / "commands.log");
    ASSERT_EQ(log.size(), 1u) << "nothing but INQUIRY reaches a disk";
    EXPECT_EQ(log[0].substr(0, 3), "12 ");

    struct Case {
        const char* options;
        const char* ready; // TEST UNIT READY, READ DISC INFORMATION
        std::uint8_t status; // disc information byte 2
        Bytes lastLeadOut; // disc information bytes 21-23
        const char* atip; // READ TOC format 4
        Bytes atipLeadOut; // its bytes 12-14
        int profile;
    } cases[] = {
        {"profile=cdrom", "00/00/00", 0x0E, {0xFF, 0xFF, 0xFF}, "05/24/00", {0, 0, 0}, 0x0008},
        {"di-capacity=none&capacity=74:00:00", "00/00/00", 0x00, {0xFF, 0xFF, 0xFF}, "00/00/00", {74, 0, 0}, 0x0009},
        {"disc=appendable", "00/00/00", 0x01, {79, 59, 74}, "00/00/00", {79, 59, 74}, 0x0009},
        {"disc=none", "02/3A/00", 0x00, {0, 0, 0}, "02/3A/00", {0, 0, 0}, 0x0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        TempFolder folder;
        auto drive = Open(folder, std::string("ideal=1&") + c.options);
        ASSERT_TRUE(drive);
        EXPECT_EQ(Send(*drive, kTur), c.ready);
        std::uint8_t info[kDiscInfoLength]{}, atip[28]{}, config[8]{};
        EXPECT_EQ(Send(*drive, {0x51, 0, 0, 0, 0, 0, 0, 0, sizeof info, 0}, nullptr, 0, info, sizeof info), c.ready);
        EXPECT_EQ(info[2], c.status);
        EXPECT_EQ(Bytes(info + 21, info + 24), c.lastLeadOut);
        EXPECT_EQ(Send(*drive, {0x43, 0x02, 0x04, 0, 0, 0, 0, 0, sizeof atip, 0}, nullptr, 0, atip, sizeof atip),
                  c.atip);
        EXPECT_EQ(Bytes(atip + 12, atip + 15), c.atipLeadOut);
        Send(*drive, {0x46, 0x01, 0, 0, 0, 0, 0, 0, sizeof config, 0}, nullptr, 0, config, sizeof config);
        EXPECT_EQ(config[6] << 8 | config[7], c.profile);
    }
    TempFolder pressed, reader, plain;
    auto cdrom = Open(pressed, "ideal=1&profile=cdrom");
    EXPECT_EQ(SelectWriteType(*cdrom, 0x02), "00/00/00");
    EXPECT_EQ(SendCueSheet(*cdrom), "05/30/05") << "a pressed disc cannot be written";
    auto noWriter = Open(reader, "ideal=1&caps=no-cdr-write,no-burn-proof");
    EXPECT_FALSE(noWriter->Device().writer);
    EXPECT_EQ(SelectWriteType(*noWriter, 0x02), "05/26/00") << "no page 05 on a reader";
    auto writer = Open(plain, "ideal=1&caps=no-burn-proof");
    EXPECT_EQ(SelectWriteType(*writer, 0x42), "05/26/00") << "no BUFE without Burn-Proof";
    EXPECT_EQ(SelectWriteType(*writer, 0x02), "00/00/00");
}

TEST(RecorderInject, AnEraseKeepsTheDriveBusyForTheNextUser)
{
    TempFolder folder;
    auto first = Open(folder, "ideal=1&disc=cdrw&erase-seconds=600");
    ASSERT_TRUE(first);
    EXPECT_EQ(Send(*first, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "00/00/00"); // minimal, immediate
    EXPECT_EQ(Send(*first, kTur), "02/04/07");
    auto second = Open(folder, "ideal=1");
    ASSERT_TRUE(second);
    EXPECT_EQ(Send(*second, kTur), "02/04/07") << "another process meets the erase still running";
}

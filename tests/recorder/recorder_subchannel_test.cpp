// SPDX-License-Identifier: GPL-2.0-or-later
// Cue sheet, scrambler and P/Q sub-channel: the bytes the recorder is given besides the
// sectors themselves.

#include "recorder/DriveDatabase.h"
#include "recorder/SubChannel.h"
#include "vcd/Sector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace lumivox;

namespace {

std::vector<std::uint8_t> Entry(std::uint8_t ca, std::uint8_t track, std::uint8_t index, std::uint8_t form,
                                std::uint8_t m, std::uint8_t s, std::uint8_t f)
{
    return {ca, track, index, form, 0, m, s, f};
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> entries)
{
    std::vector<std::uint8_t> sheet;
    for (const auto& e : entries)
        sheet.insert(sheet.end(), e.begin(), e.end());
    return sheet;
}

// The cue sheet of a one-MPEG-track Video CD: ISO track of 600 sectors, pregap at 600,
// track 2 at 750, lead-out at 1000.
std::vector<std::uint8_t> ProgramSheet()
{
    std::vector<std::uint8_t> sheet;
    EXPECT_EQ(BuildCueSheet({{0, CueKind::TrackStart},
                             {600, CueKind::PregapStart},
                             {750, CueKind::TrackStart},
                             {1000, CueKind::LeadOutStart}},
                            &sheet),
              0);
    return sheet;
}

std::string Hex(const std::uint8_t* p, std::size_t n)
{
    std::string text;
    char part[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(part, sizeof part, "%02X", p[i]);
        text += (i ? " " : "") + std::string(part);
    }
    return text;
}

} // namespace

TEST(RecorderCueSheet, ProgramDiscHasTheSixEntries)
{
    const std::vector<std::uint8_t> sheet = ProgramSheet();
    const std::vector<std::uint8_t> expected = Join({
        Entry(0x41, 0, 0, 0x24, 0, 0, 0), // lead-in
        Entry(0x61, 1, 0, 0x20, 0, 0, 0), // track 1 index 0 at 00:00:00
        Entry(0x61, 1, 1, 0x20, 0, 2, 0), // track 1 index 1 at 00:02:00
        Entry(0x61, 2, 0, 0x20, 0, 10, 0), // pregap 600 + 150 = 750 = 00:10:00
        Entry(0x61, 2, 1, 0x20, 0, 12, 0), // 750 + 150 = 900 = 00:12:00
        Entry(0x41, 0xAA, 1, 0x24, 0, 15, 25), // 1000 + 150 = 1150 = 00:15:25
    });
    EXPECT_EQ(Hex(sheet.data(), sheet.size()), Hex(expected.data(), expected.size()));
}

TEST(RecorderCueSheet, IndexMarksAndRefusedLists)
{
    std::vector<std::uint8_t> sheet;
    ASSERT_EQ(BuildCueSheet({{0, CueKind::TrackStart},
                             {100, CueKind::PregapStart},
                             {250, CueKind::TrackStart},
                             {400, CueKind::IndexMark},
                             {500, CueKind::IndexMark},
                             {900, CueKind::LeadOutStart}},
                            &sheet),
              0);
    ASSERT_EQ(sheet.size(), 8u * 8);
    EXPECT_EQ(Hex(sheet.data() + 40, 16),
              Hex(Join({Entry(0x61, 2, 2, 0x20, 0, 7, 25), Entry(0x61, 2, 3, 0x20, 0, 8, 50)}).data(), 16));
    // No lead-out at the end: a partial sheet and −1.
    EXPECT_EQ(BuildCueSheet({{0, CueKind::TrackStart}, {100, CueKind::PregapStart}}, &sheet), -1);
    EXPECT_EQ(sheet.size(), 3u * 8);
    // More than 300 entries are not supported.
    std::vector<CueRecord> tracks;
    for (std::uint32_t t = 0; t < 99; ++t) {
        tracks.push_back({t * 1000 + 500, CueKind::PregapStart});
        tracks.push_back({t * 1000 + 650, CueKind::TrackStart});
        for (std::uint32_t i = 1; i < 3; ++i)
            tracks.push_back({t * 1000 + 650 + i * 10, CueKind::IndexMark});
    }
    tracks.push_back({200000, CueKind::LeadOutStart});
    EXPECT_EQ(BuildCueSheet(tracks, &sheet), -1);
}

TEST(RecorderCueSheet, EncoderRejectsEachFaultWithItsText)
{
    const auto leadIn = Entry(0x41, 0, 0, 0x24, 0, 0, 0);
    const auto t1i0 = Entry(0x61, 1, 0, 0x20, 0, 0, 0);
    const auto t1i1 = Entry(0x61, 1, 1, 0x20, 0, 2, 0);
    const auto leadOut = Entry(0x41, 0xAA, 1, 0x24, 0, 20, 0);
    const auto catalog = Entry(0x02, '1', '2', '3', '4', '5', '6');
    struct Case {
        const char* name;
        std::vector<std::uint8_t> sheet;
        int discType;
        const char* text;
    } cases[] = {
        {"accepted", Join({leadIn, t1i0, t1i1, leadOut}), 32, ""},
        {"disc type", Join({leadIn, t1i0, t1i1, leadOut}), 8, "Illegal disc type."},
        {"7 bytes", std::vector<std::uint8_t>(7, 0), 32, "Illegal cue sheet length."},
        {"time", Join({leadIn, t1i0, Entry(0x61, 1, 1, 0x20, 0, 60, 0), leadOut}), 32,
         "Illegal time field value at cue sheet entry: 2"},
        {"frames", Join({leadIn, t1i0, Entry(0x61, 1, 1, 0x20, 0, 2, 75), leadOut}), 32,
         "Illegal time field value at cue sheet entry: 2"},
        {"track number", Join({leadIn, t1i0, Entry(0x61, 100, 1, 0x20, 0, 2, 0), leadOut}), 32,
         "Illegal track number at cue sheet entry: 2"},
        {"tracks 1, 3", Join({leadIn, t1i0, t1i1, Entry(0x61, 3, 1, 0x20, 0, 9, 0), leadOut}), 32,
         "Wrong track number sequence at cue sheet entry: 3"},
        {"time not increasing", Join({leadIn, t1i0, t1i1, Entry(0x61, 2, 1, 0x20, 0, 2, 0), leadOut}), 32,
         "Time field does not increase at cue sheet entry: 3"},
        {"no lead-in", Join({t1i0, t1i1, leadOut}), 32, "Cue sheet contains no lead-in entry."},
        {"lead-out not last", Join({leadIn, t1i0, t1i1, leadOut, Entry(0x61, 2, 1, 0x20, 0, 30, 0)}), 32,
         "Cue sheet contains no lead-out entry."},
        {"no lead-out", Join({leadIn, t1i0, t1i1}), 32, "Cue sheet contains no lead-out entry."},
        {"no track", Join({leadIn, leadOut}), 32, "Cue sheet contains no data track."},
        {"catalog later", Join({leadIn, catalog, catalog, t1i0, t1i1, leadOut}), 32,
         "Catalog number must be first cue sheet entry."},
        {"catalog half", Join({catalog, leadIn, t1i0, t1i1, leadOut}), 32, "Missing second catalog number entry."},
        {"catalog pair", Join({catalog, catalog, leadIn, t1i0, t1i1, leadOut}), 32, ""},
        {"isrc half", Join({leadIn, Entry(0x03, 1, 'A', 'B', 'C', 'D', 'E'), t1i0, t1i1, leadOut}), 32,
         "Missing second ISRC code entry."},
        {"adr", Join({leadIn, Entry(0x65, 1, 0, 0x20, 0, 0, 0), t1i1, leadOut}), 32,
         "Illegal adr field at cue sheet entry: 1."},
    };
    PqSubcode16 format;
    for (const Case& c : cases) {
        PQChannelEncoder encoder;
        std::string text;
        const bool accepted = encoder.Start(&format, c.discType, c.sheet.data(), c.sheet.size(), -11625, &text);
        EXPECT_EQ(accepted, std::string(c.text).empty()) << c.name << ": " << text;
        if (!accepted) {
            EXPECT_EQ(text, c.text) << c.name;
        }
    }
}

TEST(RecorderScrambler, SequenceMatchesEcma130AndRoundTrips)
{
    // ECMA-130 Annex B: the first bytes of the scrambler sequence.
    const std::uint8_t start[] = {0x01, 0x80, 0x00, 0x60, 0x00, 0x28, 0x00, 0x1E,
                                  0x80, 0x08, 0x60, 0x06, 0xA8, 0x02, 0xFE, 0x81};
    EXPECT_EQ(Hex(ScramblerSequence().data(), sizeof start), Hex(start, sizeof start));
    // x^15 + x + 1 taken bit by bit, least significant first: s[n+15] = s[n] ^ s[n+1].
    const auto& seq = ScramblerSequence();
    auto bit = [&](std::size_t n) { return (seq[n / 8] >> (n % 8)) & 1; };
    for (std::size_t n = 0; n + 15 < seq.size() * 8; ++n)
        ASSERT_EQ(bit(n + 15), bit(n) ^ bit(n + 1)) << "bit " << n;
    // Scrambling touches the sector's 2,352 bytes and nothing beyond.
    std::vector<std::uint8_t> guarded(2352 + 16, 0xEE);
    ScrambleSector(guarded.data());
    for (std::size_t i = 2352; i < guarded.size(); ++i)
        ASSERT_EQ(guarded[i], 0xEE) << "byte " << i;
    EXPECT_EQ(guarded[2351], 0xEE ^ ScramblerSequence()[2339]);
    RawSector sector;
    MakeMode2Sector(sector, nullptr, 4321, 1, 1, kSubmodeForm2 | kSubmodeData, 0);
    RawSector copy = sector;
    ScrambleSector(copy.data());
    EXPECT_EQ(0, std::memcmp(copy.data(), sector.data(), 12)) << "the sync stays as it is";
    EXPECT_NE(0, std::memcmp(copy.data() + 12, sector.data() + 12, 2340));
    ScrambleSector(copy.data());
    EXPECT_EQ(0, std::memcmp(copy.data(), sector.data(), sector.size()));
    // Raw preparation rewrites the header address and scrambles.
    PrepareRawSector(copy.data(), 150);
    ScrambleSector(copy.data());
    EXPECT_EQ(Hex(copy.data() + 12, 4), "00 02 00 02");
    // The raw lead-in, pregap and lead-out fillers are Form 2 sectors with a good EDC.
    MakeRawZeroSector(copy.data(), 449000);
    ScrambleSector(copy.data());
    EXPECT_EQ(Hex(copy.data() + 12, 8), "99 46 50 02 00 00 20 00");
    std::uint32_t edc = 0;
    std::memcpy(&edc, copy.data() + 2348, 4);
    EXPECT_EQ(edc, ComputeEdc(copy.data() + 16, 2332));
}

TEST(RecorderSubchannel, CrcAndBothLayouts)
{
    const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16(check, sizeof check), 0x31C3); // CRC-16, x^16 + x^12 + x^5 + 1, register 0
    const std::uint8_t q[10] = {0x41, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00};
    const std::uint16_t crc = QCrc(q);
    std::uint8_t pq[16], pw[96], back[12];
    bool p = false;
    PqSubcode16().Encode(q, true, pq);
    EXPECT_EQ(pq[10], crc >> 8);
    EXPECT_EQ(pq[11], crc & 0xFF);
    EXPECT_EQ(pq[15], 0x80);
    PwSubcode96().Encode(q, false, pw);
    // Q bits MSB first in bit 6, CRC complemented; P clear in bit 7 of all 96.
    for (int i = 0; i < 96; ++i)
        EXPECT_EQ(pw[i] & 0x80, 0);
    std::uint8_t rebuilt[12]{};
    for (int i = 0; i < 96; ++i)
        rebuilt[i / 8] |= static_cast<std::uint8_t>(((pw[i] >> 6) & 1) << (7 - i % 8));
    EXPECT_EQ(Hex(rebuilt, 10), Hex(q, 10));
    EXPECT_EQ(rebuilt[10], static_cast<std::uint8_t>(~(crc >> 8)));
    EXPECT_EQ(rebuilt[11], static_cast<std::uint8_t>(~crc));
    PwSubcode96().Decode(pw, &p, back);
    EXPECT_FALSE(p);
    EXPECT_EQ(Hex(back, 12), Hex(pq, 12));
}

TEST(RecorderSubchannel, LeadInCarriesEveryTocItemThreeTimesInARow)
{
    const std::vector<std::uint8_t> sheet = ProgramSheet();
    PqSubcode16 format;
    PQChannelEncoder encoder;
    std::string text;
    const std::int32_t first = 97 * 4500 + 27 * 75 - 450150;
    ASSERT_EQ(first, -11625);
    ASSERT_TRUE(encoder.Start(&format, 32, sheet.data(), sheet.size(), first, &text)) << text;
    ASSERT_EQ(encoder.Toc().size(), 5u); // tracks 1 and 2, A0, A1, A2
    std::map<int, int> seen;
    int run = 0, previous = -1;
    std::uint8_t q[10];
    bool p = true;
    for (std::int32_t address = first; address < -150; ++address) {
        encoder.Compute(address, &p, q);
        ASSERT_FALSE(p) << "P is clear in the lead-in";
        ASSERT_EQ(q[1], 0) << "TNO 0 at " << address;
        const std::int32_t running = address - first;
        ASSERT_EQ(q[3], ToBcd(unsigned(running / 4500))) << address;
        ASSERT_EQ(q[5], ToBcd(unsigned(running % 75))) << address;
        if (q[2] != previous) {
            if (previous >= 0) {
                ASSERT_EQ(run, 3) << "item " << previous << " before " << address;
            }
            run = 0;
            previous = q[2];
        }
        ++run;
        ++seen[q[2]];
    }
    EXPECT_EQ(seen.size(), 5u);
    // A0: first track 1, disc type CD-ROM XA (20); A2: the lead-out at 00:15:25.
    for (std::int32_t address = first;; ++address) {
        encoder.Compute(address, &p, q);
        if (q[2] == 0xA0) {
            EXPECT_EQ(Hex(q + 7, 3), "01 20 00");
            break;
        }
    }
    for (std::int32_t address = first;; ++address) {
        encoder.Compute(address, &p, q);
        if (q[2] == 0xA2) {
            EXPECT_EQ(Hex(q + 7, 3), "00 15 25");
            EXPECT_EQ(q[0], 0x41);
            break;
        }
    }
}

TEST(RecorderSubchannel, ProgramAreaPositionAndPFlag)
{
    const std::vector<std::uint8_t> sheet = ProgramSheet();
    PqSubcode16 format;
    PQChannelEncoder encoder;
    std::string text;
    ASSERT_TRUE(encoder.Start(&format, 32, sheet.data(), sheet.size(), -4650, &text)) << text;
    struct Case {
        std::int32_t address;
        const char* q; // control/ADR, TNO, INDEX, relative MSF, zero, absolute MSF
        bool p;
    } cases[] = {
        {-150, "61 01 00 00 02 00 00 00 00 00", true}, // track 1 pregap counts down from 2 s
        {-1, "61 01 00 00 00 01 00 00 01 74", true},
        {0, "61 01 01 00 00 00 00 00 02 00", true}, // index 1: relative 0, P still set
        {1, "61 01 01 00 00 01 00 00 02 01", false},
        {449, "61 01 01 00 05 74 00 00 07 74", false},
        {450, "61 01 01 00 06 00 00 00 08 00", false},
        {600, "61 02 00 00 02 00 00 00 10 00", true}, // track 2 pregap
        {750, "61 02 01 00 00 00 00 00 12 00", true},
        {751, "61 02 01 00 00 01 00 00 12 01", false},
        {849, "61 02 01 00 01 24 00 00 13 24", false},
        {850, "61 02 01 00 01 25 00 00 13 25", true}, // 150 before the lead-out
        {1000, "41 AA 01 00 00 00 00 00 15 25", true},
        {1001, "41 AA 01 00 00 01 00 00 15 26", false},
        {1150, "41 AA 01 00 02 00 00 00 17 25", true}, // from lead-out + 150: 19 on, 19 off
        {1168, "41 AA 01 00 02 18 00 00 17 43", true},
        {1169, "41 AA 01 00 02 19 00 00 17 44", false},
        {1187, "41 AA 01 00 02 37 00 00 17 62", false},
        {1188, "41 AA 01 00 02 38 00 00 17 63", true},
    };
    for (const Case& c : cases) {
        std::uint8_t q[10];
        bool p = false;
        encoder.Compute(c.address, &p, q);
        EXPECT_EQ(Hex(q, 10), c.q) << "address " << c.address;
        EXPECT_EQ(p, c.p) << "P at address " << c.address;
    }
}

TEST(RecorderDriveDatabase, AutomaticChoiceSettingsAndSpeeds)
{
    struct Case {
        DriverChoice choice;
        const char* product;
        DriverKind kind;
    } cases[] = {
        {DriverChoice::Auto, "CELERUS         ", DriverKind::Raw},
        {DriverChoice::Auto, "CELERUS\t \t", DriverKind::Raw},
        {DriverChoice::Auto, "celerus", DriverKind::Mmc}, // compared case-sensitively
        {DriverChoice::Auto, "CELERUS X", DriverKind::Mmc}, // and whole
        {DriverChoice::Auto, "CDRW 4432", DriverKind::Mmc}, // an earlier list wins
        {DriverChoice::Auto, "CDRW-4420", DriverKind::Mmc},
        {DriverChoice::Auto, "CRW2100E", DriverKind::Mmc},
        {DriverChoice::Auto, " CDRW2260+", DriverKind::Raw}, // a leading blank belongs to the name
        {DriverChoice::Auto, "CD-Writer+ 9600", DriverKind::Raw},
        {DriverChoice::Auto, "BCE 62*", DriverKind::Raw},
        {DriverChoice::Auto, "DVDRAM GH24NSD1", DriverKind::Mmc}, // unknown
        {DriverChoiceFromSetting(2), "DVDRAM GH24NSD1", DriverKind::Raw},
        {DriverChoiceFromSetting(1), "CELERUS", DriverKind::Mmc},
        {DriverChoiceFromSetting(7), "CELERUS", DriverKind::Raw}, // 7 behaves as automatic
        {DriverChoiceFromSetting(-1), "CRW2100E", DriverKind::Mmc},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseDriverKind(c.choice, c.product), c.kind) << "\"" << c.product << "\"";
    EXPECT_EQ(DriveDatabase::Instance().RawNameCount(), 235u);
    EXPECT_EQ(SpeedIndexFromSetting(9), 0);
    EXPECT_EQ(SpeedIndexFromSetting(-1), 0);
    EXPECT_EQ(WriteSpeedOfIndex(9), 177);
    const std::uint16_t speeds[] = {177, 354, 708, 1416, 2124, 4248, 0xFFFF};
    for (int i = 0; i <= 6; ++i)
        EXPECT_EQ(WriteSpeedOfIndex(i), speeds[i]) << "index " << i;
}

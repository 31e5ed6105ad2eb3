// SPDX-License-Identifier: GPL-2.0-or-later
// Control file bytes: descriptor sizes and offsets, the PSD / LOT words of a small disc,
// time encoding, INFO.VCD fields and segment content bytes, ENTRIES.VCD.
#include "vcd/ControlFiles.h"
#include "vcd/IsoWriter.h"

#include "vcd/vcd_author_fixtures.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lumivox;
using namespace lumivox::authortest;

namespace {

std::string Hex(const std::uint8_t* p, std::size_t n)
{
    std::ostringstream out;
    for (std::size_t i = 0; i < n; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X", p[i]);
        out << (i ? " " : "") << b;
    }
    return out.str();
}

std::uint16_t Word(const std::vector<std::uint8_t>& v, std::size_t i)
{
    return static_cast<std::uint16_t>(v[2 * i] << 8 | v[2 * i + 1]);
}

std::unique_ptr<VideoCdLayout> TwoAlbumDisc(TempFolder& work, TempFolder& program)
{
    WriteProjectFiles(work.Slash(), program.Slash(), {3, 2}, 4, false);
    LayoutProject project;
    project.albumPictureCounts = {3, 2};
    project.workFolder = work.Slash();
    project.programFolder = program.Slash();
    return BuildProjectLayout(project);
}

} // namespace

TEST(VcdControl, TimeEncoding)
{
    struct Case {
        int seconds;
        std::uint8_t code;
    };
    const Case cases[] = {{-1, 0xFF}, {-100, 0xFF}, {0, 0},      {10, 0x0A},   {60, 60},      {61, 60},
                          {70, 61},   {300, 84},    {2000, 254}, {2001, 0xFE}, {100000, 0xFE}};
    for (const Case& c : cases)
        EXPECT_EQ(EncodeWaitTime(c.seconds), c.code) << c.seconds << " s";
}

TEST(VcdControl, DescriptorSizes)
{
    PbcNode menu;
    menu.selections = {"a", "b", "c", "d"};
    EXPECT_EQ(DescriptorSize(menu, false), 28u);
    EXPECT_EQ(DescriptorSize(menu, true), 60u);
    PbcNode slide;
    EXPECT_EQ(DescriptorSize(slide, false), 20u);
    EXPECT_EQ(DescriptorSize(slide, true), 36u);
    PbcNode play;
    play.kind = PbcKind::PlayList;
    play.playItems = {"x", "y", "z"};
    EXPECT_EQ(DescriptorSize(play, false), 20u);
    EXPECT_EQ(DescriptorSize(play, true), 20u);
    PbcNode end;
    end.kind = PbcKind::EndList;
    EXPECT_EQ(DescriptorSize(end, true), 8u);

    // Rounded to 8 in the offsets: a menu page of 4 selections takes 32 and 64 bytes.
    auto layout = CreateLayout();
    menu.identifier = "m";
    slide.identifier = "s";
    ASSERT_EQ(AddPbcNode(*layout, menu), 0);
    ASSERT_EQ(AddPbcNode(*layout, slide), 0);
    AssignPsdOffsets(*layout);
    EXPECT_EQ(layout->lists[1].psdOffset, 32u);
    EXPECT_EQ(layout->lists[1].psdExtendedOffset, 64u);
    EXPECT_EQ(layout->placement.psdSize, 56u);
    EXPECT_EQ(layout->placement.psdExtendedSize, 104u);
}

TEST(VcdControl, DescriptorsNeverCrossABlockBoundary)
{
    auto layout = CreateLayout();
    for (int i = 0; i < 86; ++i) {
        PbcNode node;
        node.identifier = "L" + std::to_string(i);
        node.selections = {"x", "y"}; // 24 bytes in PSD.VCD, 48 in PSD_X.VCD
        ASSERT_EQ(AddPbcNode(*layout, node), 0);
    }
    AssignPsdOffsets(*layout);
    EXPECT_EQ(layout->lists[84].psdOffset, 84u * 24);
    EXPECT_EQ(layout->lists[85].psdOffset, 2048u) << "85 descriptors fill 2,040 bytes; the 86th starts a new block";
    EXPECT_EQ(layout->placement.psdSize, 2072u);
    EXPECT_EQ(layout->lists[41].psdExtendedOffset, 41u * 48);
    EXPECT_EQ(layout->lists[42].psdExtendedOffset, 2048u);
    for (std::size_t i = 0; i < 86; ++i)
        EXPECT_EQ(layout->lists[i].lid, i + 1);
}

TEST(VcdControl, TwoAlbumDiscPsdAndLot)
{
    TempFolder work, program;
    auto layout = TwoAlbumDisc(work, program);
    ASSERT_EQ(layout->lists.size(), 6u);
    ASSERT_GT(ComputeLayout(*layout), 0) << layout->errorText;

    const std::vector<std::uint32_t> psd = {0, 24, 48, 72, 96, 120};
    const std::vector<std::uint32_t> psdX = {0, 48, 88, 128, 168, 208};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(layout->lists[i].lid, i + 1);
        EXPECT_EQ(layout->lists[i].psdOffset, psd[i]) << "LID " << i + 1;
        EXPECT_EQ(layout->lists[i].psdExtendedOffset, psdX[i]) << "LID " << i + 1;
    }
    EXPECT_EQ(layout->placement.psdSize, 144u);
    EXPECT_EQ(layout->placement.psdExtendedSize, 248u);

    std::vector<std::uint8_t> file(layout->placement.psdSize);
    WritePsdFile(*layout, false, file.data());
    EXPECT_EQ(Hex(file.data(), 24), "18 00 02 01 00 01 FF FF FF FF FF FF 00 00 00 00 FF 01 03 E8 00 03 00 0C");
    EXPECT_EQ(Hex(file.data() + 24, 24), "18 00 00 01 00 02 FF FF 00 06 00 00 FF FF 00 06 0A 81 03 E9 00 00 00 00");
    // The album's last slide: next to the first menu page, no timeout target.
    EXPECT_EQ(Hex(file.data() + 72, 20), "18 00 00 01 00 04 00 06 00 00 00 00 FF FF FF FF 0A 81 03 EB");

    std::vector<std::uint8_t> extended(layout->placement.psdExtendedSize);
    WritePsdFile(*layout, true, extended.data());
    EXPECT_EQ(Hex(extended.data(), 24), "1A 00 02 01 00 01 FF FF FF FF FF FF 00 00 00 00 FF 01 03 E8 00 06 00 15");
    for (std::size_t i = 24; i < 48; ++i)
        EXPECT_EQ(extended[i], 0) << "extended area byte " << i;
    EXPECT_EQ(Hex(extended.data() + 48, 20), "1A 00 00 01 00 02 FF FF 00 0B 00 00 FF FF 00 0B 0A 81 03 E9");

    std::vector<std::uint8_t> lot(kLotFileSize);
    WriteLotFile(*layout, false, lot.data());
    EXPECT_EQ(Word(lot, 0), 0);
    const std::uint16_t words[] = {0, 3, 6, 9, 12, 15};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Word(lot, i + 1), words[i]) << "LOT word " << i + 1;
    for (std::size_t i = 7; i < 32768; ++i)
        ASSERT_EQ(Word(lot, i), 0xFFFF) << "LOT word " << i;
    WriteLotFile(*layout, true, lot.data());
    const std::uint16_t wordsX[] = {0, 6, 11, 16, 21, 26};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Word(lot, i + 1), wordsX[i]) << "LOT_X word " << i + 1;
}

TEST(VcdControl, RejectedListKeepsNoLotEntryButItsDescriptor)
{
    auto layout = CreateLayout();
    for (const char* id : {"a", "b", "c"}) {
        PbcNode node;
        node.identifier = id;
        node.rejected = std::string(id) == "b";
        node.next = "missing";
        ASSERT_EQ(AddPbcNode(*layout, node), 0);
    }
    AssignPsdOffsets(*layout);
    std::vector<std::uint8_t> lot(kLotFileSize), psd(layout->placement.psdSize);
    WriteLotFile(*layout, false, lot.data());
    WritePsdFile(*layout, false, psd.data());
    EXPECT_EQ(Word(lot, 1), 0);
    EXPECT_EQ(Word(lot, 2), 0xFFFF);
    EXPECT_EQ(Word(lot, 3), 6);
    EXPECT_EQ(Hex(psd.data() + 24, 10), "18 00 00 01 80 02 FF FF FF FF") << "LID with 0x8000, unknown next is no list";
}

TEST(VcdControl, PlayAndEndListDescriptors)
{
    TempFolder folder;
    WriteFile(folder.Slash() + "s.mpg", MakeSegment({}));
    auto layout = CreateLayout();
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "s.mpg", "seg"), 0);
    PbcNode play;
    play.kind = PbcKind::PlayList;
    play.identifier = "play";
    play.playItems = {"seg", "unknown"};
    play.playingTime = 2.5;
    play.waitTime = 300;
    play.autoPauseWaitTime = 0;
    play.next = "end";
    PbcNode end;
    end.kind = PbcKind::EndList;
    end.identifier = "end";
    ASSERT_EQ(AddPbcNode(*layout, play), 0);
    ASSERT_EQ(AddPbcNode(*layout, end), 0);
    AssignPsdOffsets(*layout);
    std::vector<std::uint8_t> psd(layout->placement.psdSize);
    WritePsdFile(*layout, false, psd.data());
    EXPECT_EQ(layout->placement.psdSize, 32u);
    EXPECT_EQ(Hex(psd.data(), 18), "10 02 00 01 FF FF 00 03 FF FF 00 25 54 00 03 E8 00 00");
    EXPECT_EQ(Hex(psd.data() + 24, 8), "1F 00 00 00 00 00 00 00");
}

TEST(VcdControl, SegmentContentBytes)
{
    struct Case {
        SegmentSpec spec;
        std::vector<std::uint8_t> bytes;
        const char* what;
    };
    SegmentSpec palStill;
    palStill.pal = true;
    SegmentSpec ntscStill;
    SegmentSpec palMusic;
    palMusic.pal = true;
    palMusic.audioPackets = 320; // 323 packets: three units
    palMusic.audioMode = 1; // joint stereo
    SegmentSpec mono;
    mono.audioPackets = 1;
    mono.audioMode = 3;
    SegmentSpec dual;
    dual.audioPackets = 1;
    dual.audioMode = 2;
    SegmentSpec motion;
    motion.motionPackets = 3;
    const Case cases[] = {
        {palStill, {0x1C}, "PAL still without music"},
        {ntscStill, {0x0C}, "NTSC still without music"},
        {palMusic, {0x1E, 0x3E, 0x3E}, "PAL menu with stereo music over 3 units"},
        {mono, {0x0D}, "single channel"},
        {dual, {0x0F}, "dual channel"},
        {motion, {0x04}, "NTSC motion video"},
    };
    TempFolder folder;
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = folder.Slash() + std::to_string(n++) + ".mpg";
        WriteFile(path, MakeSegment(c.spec));
        auto source = CreateMpegSource(path);
        ASSERT_TRUE(source);
        ASSERT_EQ(ScanMpegSource(*source), 0);
        const std::uint32_t units = (source->PacketCount() + 149) / 150;
        ASSERT_EQ(units, c.bytes.size()) << c.what;
        for (std::uint32_t u = 0; u < units; ++u)
            EXPECT_EQ(SegmentContentByte(source->StreamInfo(), u == 0), c.bytes[u]) << c.what << ", unit " << u;
    }
}

TEST(VcdControl, InfoAndEntriesOfASmallDisc)
{
    TempFolder work, program;
    WriteProjectFiles(work.Slash(), program.Slash(), {2}, 4, true);
    LayoutProject project;
    project.cdLabel = "ALBUM";
    project.albumPictureCounts = {2};
    project.workFolder = work.Slash();
    project.programFolder = program.Slash();
    project.norm = TvNorm::Pal;
    auto layout = BuildProjectLayout(project);
    SetLayoutNumber(*layout, LayoutNumber::Restriction, 2);
    ASSERT_GT(ComputeLayout(*layout), 0) << layout->errorText;
    EXPECT_EQ(layout->placement.segmentAreaStart, 225u);

    std::vector<std::uint8_t> info(kInfoFileSize);
    WriteInfoFile(*layout, info.data());
    EXPECT_EQ(Hex(info.data(), 10), "56 49 44 45 4F 5F 43 44 02 00"); // "VIDEO_CD", version 2
    EXPECT_EQ(std::string(info.begin() + 10, info.begin() + 26), "ALBUM           ");
    EXPECT_EQ(Hex(info.data() + 26, 4), "00 01 00 01");
    EXPECT_EQ(info[30], 0x01) << "track 0 is PAL";
    EXPECT_EQ(info[43], 0x84) << "playback control and restriction 2";
    EXPECT_EQ(Hex(info.data() + 44, 4), "00 00 00 48"); // PSD.VCD: menu 24 + two slides 24
    EXPECT_EQ(Hex(info.data() + 48, 4), "00 05 00 08") << "segment area at sector 225, multiplier 8";
    EXPECT_EQ(Hex(info.data() + 52, 4), "00 03 00 03");
    EXPECT_EQ(Hex(info.data() + 56, 4), "1C 1C 1C 00");

    std::vector<std::uint8_t> entries(kEntriesFileSize);
    WriteEntriesFile(*layout, entries.data());
    EXPECT_EQ(std::string(entries.begin(), entries.begin() + 8), "ENTRYVCD");
    EXPECT_EQ(Hex(entries.data() + 8, 4), "02 00 00 01");
    // ISO area: segments 225 … 674, LOT_X 675 … 706, PSD_X 707. Track 2 starts after the
    // pregap at sector 858, address 1,008 = 00:13:33.
    EXPECT_EQ(layout->placement.isoAreaSize, 708u);
    EXPECT_EQ(Hex(entries.data() + 12, 4), "02 00 13 33");
    EXPECT_EQ(entries[16], 0);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The disc layout: parameters and their limits, identifiers and play item numbers, the
// refusals of every add operation, and the playback control graph built from a project.
#include "vcd/VideoCdLayout.h"

#include "vcd/VolumeLabel.h"
#include "vcd/vcd_author_fixtures.h"

#include <gtest/gtest.h>

using namespace lumivox;
using namespace lumivox::authortest;

namespace {

std::string Describe(const PbcNode& n)
{
    std::string s = n.identifier + " item=" + n.playItem + " prev=" + n.previous + " next=" + n.next +
                    " ret=" + n.returnTarget + " def=" + n.defaultTarget + " tmo=" + n.timeoutTarget +
                    " t=" + std::to_string(n.timeoutTime) + (n.jumpDelayed ? " jd" : "") + " sel=";
    for (const std::string& sel : n.selections)
        s += sel + ",";
    return s;
}

} // namespace

TEST(VcdLayout, DefaultsAndParameterLimits)
{
    auto layout = CreateLayout();
    EXPECT_EQ(layout->volumeCount, 1);
    EXPECT_EQ(layout->volumeNumber, 1);
    EXPECT_EQ(layout->leadOutPregap, 150u);
    EXPECT_EQ(layout->trackPregap, 150u);
    EXPECT_EQ(layout->trackFrontMargin, 30u);
    EXPECT_EQ(layout->trackRearMargin, 45u);

    struct Case {
        LayoutNumber parameter;
        long value;
        long expected;
    };
    const Case cases[] = {
        {LayoutNumber::VolumeCount, 0, 1},          {LayoutNumber::VolumeCount, 70000, 65535},
        {LayoutNumber::VolumeNumber, 65535, 65534}, {LayoutNumber::Restriction, 7, 3},
        {LayoutNumber::LeadOutPregap, 301, 300},    {LayoutNumber::TrackPregap, 0, 1},
        {LayoutNumber::TrackPregap, 400, 300},      {LayoutNumber::TrackFrontMargin, 151, 150},
        {LayoutNumber::TrackRearMargin, 999, 150},  {LayoutNumber::TrackRearMargin, 0, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(SetLayoutNumber(*layout, c.parameter, c.value), 0);
        long got = 0;
        switch (c.parameter) {
        case LayoutNumber::VolumeCount:
            got = layout->volumeCount;
            break;
        case LayoutNumber::VolumeNumber:
            got = layout->volumeNumber;
            break;
        case LayoutNumber::Restriction:
            got = layout->restriction;
            break;
        case LayoutNumber::LeadOutPregap:
            got = layout->leadOutPregap;
            break;
        case LayoutNumber::TrackPregap:
            got = layout->trackPregap;
            break;
        case LayoutNumber::TrackFrontMargin:
            got = layout->trackFrontMargin;
            break;
        case LayoutNumber::TrackRearMargin:
            got = layout->trackRearMargin;
            break;
        }
        EXPECT_EQ(got, c.expected) << "value " << c.value;
    }

    // The label's identifiers hold what ISO 9660 allows, whatever reaches them.
    SetLayoutText(*layout, LayoutText::AlbumIdentifier, "A very long album label here");
    EXPECT_EQ(layout->albumIdentifier, "A_VERY_LONG_ALBU");
    SetLayoutText(*layout, LayoutText::VolumeIdentifier, std::string(40, 'v'));
    EXPECT_EQ(layout->volumeIdentifier, std::string(32, 'V'));
    SetLayoutText(*layout, LayoutText::AlbumIdentifier, "abcdefghijklmno\xC3\xA9");
    EXPECT_EQ(layout->albumIdentifier, "ABCDEFGHIJKLMNOE");
    SetLayoutText(*layout, LayoutText::PublisherIdentifier, "lower case kept");
    EXPECT_EQ(layout->publisherIdentifier, "lower case kept");
}

// A CD label becomes a volume identifier of d-characters, the same under every locale,
// and the caller learns whether it changed.
TEST(VolumeLabel, MapsTheLabelOntoWhatAVolumeIdentifierHolds)
{
    const struct {
        const char* wanted;
        const char* text;
        bool changed;
    } cases[] = {
        {"MY_TRIP_2024", "MY_TRIP_2024", false},
        {"my trip 2024", "MY_TRIP_2024", true},
        {"pictures", "PICTURES", true}, // "i" capitalised as ASCII, never as the locale's
        {"a/b\\c:d*e?f", "A_B_C_D_E_F", true},
        {"  __tab\tand\x01" "bell__  ", "TAB_AND_BELL", true},
        {"Caf\xC3\xA9 \xC3\x86sir Stra\xC3\x9F\x65 \xC5\x81\xC3\xB3" "d\xC5\xBA", "CAFE_AESIR_STRASSE_LODZ", true},
        {"Cafe\xCC\x81", "CAFE", true}, // a combining accent, as some file systems write it
        {"\xC4\xB0stanbul \xC4\xB1rmak", "ISTANBUL_IRMAK", true},
        {"bad\xFF\xC3(utf-8", "BAD_UTF_8", true},
        {"\xE6\x97\xA5\xE6\x9C\xAC 2024", "2024", true},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", true},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 6", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", true},
        {"", "FALLBACK", true},
        {" \t ", "FALLBACK", true},
        {"\xE6\x97\xA5", "FALLBACK", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted);
        const VolumeLabel label = MapVolumeLabel(c.wanted, "fallback");
        EXPECT_EQ(label.text, c.text);
        EXPECT_EQ(label.changed, c.changed);
    }
    EXPECT_EQ(MapVolumeLabel("", "").text, "LUMIVOX");
}

TEST(VcdLayout, AddOperationsRefuseAndLeaveTheLayoutUnchanged)
{
    TempFolder folder;
    const std::string good = folder.Slash() + "good.mpg";
    WriteFile(good, MakeSegment({}));
    WriteFile(folder.Slash() + "empty.mpg", {});
    WriteFile(folder.Slash() + "text.mpg", Bytes(5000, 'x'));
    Bytes truncated = MakeSegment({});
    truncated.resize(kPack + 100);
    WriteFile(folder.Slash() + "truncated.mpg", truncated);

    auto layout = CreateLayout();
    ASSERT_EQ(AddSegmentItem(*layout, good, "seg-a"), 0);
    struct Case {
        std::string path, identifier, why;
    };
    const Case refused[] = {
        {good, "", "no identifier"},
        {good, "seg-a", "identifier in use"},
        {folder.Slash() + "missing.mpg", "seg-b", "missing file"},
        {folder.Slash() + "empty.mpg", "seg-c", "empty file"},
        {folder.Slash() + "text.mpg", "seg-d", "not a program stream"},
        {folder.Path().string(), "seg-e", "a folder"},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(AddSegmentItem(*layout, c.path, c.identifier), -1) << c.why;
        EXPECT_EQ(layout->segments.size(), 1u) << c.why;
        EXPECT_EQ(layout->segmentUnitTotal, 1u) << c.why;
    }
    // A truncated file keeps the packets it still holds.
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "truncated.mpg", "seg-t"), 0);
    EXPECT_EQ(layout->segments.back().packetCount, 2u);

    PbcNode node;
    node.identifier = "seg-a";
    EXPECT_EQ(AddPbcNode(*layout, node), -1);
    node.identifier = "";
    EXPECT_EQ(AddPbcNode(*layout, node), -1);
    EXPECT_TRUE(layout->lists.empty());

    EXPECT_EQ(AddSegmentPause(*layout, "nope", 1.0), -1);
    EXPECT_EQ(AddSegmentPause(*layout, "seg-a", 7.0), 0);
    EXPECT_EQ(AddSegmentPause(*layout, "seg-a", 2.0), 0);
    EXPECT_EQ(AddSegmentPause(*layout, "", 3.0), 0); // the last segment
    ASSERT_EQ(layout->segments[0].pausePoints.size(), 2u);
    EXPECT_EQ(layout->segments[0].pausePoints[0].time, 2.0);
    EXPECT_EQ(layout->segments[0].pausePoints[1].time, 7.0);
    EXPECT_EQ(layout->segments[1].pausePoints.size(), 1u);
    EXPECT_EQ(AddSegmentPause(*CreateLayout(), "", 1.0), -1) << "no segment at all";

    EXPECT_EQ(AddSequenceItem(*layout, good, "same", "same"), -1);
    EXPECT_EQ(AddSequenceItem(*layout, good, "seg-a", "entry"), -1);
    EXPECT_EQ(AddSequenceItem(*layout, good, "seq", "seg-a"), -1);
    EXPECT_EQ(AddSequenceItem(*layout, folder.Slash() + "missing.mpg", "seq", "entry"), -1);
    EXPECT_TRUE(layout->sequences.empty());
    EXPECT_EQ(layout->sequenceRunningTotal, 0u);
    EXPECT_EQ(LookupIdentifier(*layout, "seq").kind, IdentifierKind::None);
    ASSERT_EQ(AddSequenceItem(*layout, good, "seq", "entry"), 0);
    EXPECT_EQ(AddSequenceEntry(*layout, "seq", "entry", 0), -1) << "identifier in use";
    EXPECT_EQ(AddSequenceEntry(*layout, "seq", "late", 3), -1) << "beyond the packets";
    EXPECT_EQ(AddSequenceEntry(*layout, "seg-a", "x", 0), -1) << "not a track";
    // Entries ascend through the track, so ENTRIES.VCD and the index marks stay in disc order.
    ASSERT_EQ(AddSequenceEntry(*layout, "seq", "second", 1), 0);
    EXPECT_EQ(AddSequenceEntry(*layout, "seq", "again", 1), -1) << "same place as the last entry";
    EXPECT_EQ(AddSequenceEntry(*layout, "seq", "earlier", 0), -1) << "before the last entry";
    EXPECT_EQ(layout->sequences[0].entries.size(), 1u);
    EXPECT_EQ(LookupIdentifier(*layout, "earlier").kind, IdentifierKind::None);
}

TEST(VcdLayout, PlayItemNumbersFollowUnitsTracksAndEntries)
{
    TempFolder folder;
    WriteFile(folder.Slash() + "one.mpg", MakeSegment({}));
    SegmentSpec long_;
    long_.audioPackets = 300; // 303 packets: three 150-sector units
    WriteFile(folder.Slash() + "three.mpg", MakeSegment(long_));

    auto layout = CreateLayout();
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "one.mpg", "s0"), 0);
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "three.mpg", "s1"), 0);
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "one.mpg", "s2"), 0);
    EXPECT_EQ(layout->segments[1].units, 3u);
    ASSERT_EQ(AddSequenceItem(*layout, folder.Slash() + "one.mpg", "t1", "e1"), 0);
    ASSERT_EQ(AddSequenceItem(*layout, folder.Slash() + "one.mpg", "t2", "e2"), 0);
    ASSERT_EQ(AddSequenceEntry(*layout, "t1", "e1b", 1), 0);

    struct Case {
        const char* id;
        IdentifierKind kind;
        std::uint32_t number;
    };
    const Case cases[] = {
        {"s0", IdentifierKind::Segment, 1000}, {"s1", IdentifierKind::Segment, 1001},
        {"s2", IdentifierKind::Segment, 1004}, {"t1", IdentifierKind::Sequence, 2},
        {"t2", IdentifierKind::Sequence, 3},   {"e1", IdentifierKind::Entry, 100},
        {"e1b", IdentifierKind::Entry, 101},   {"e2", IdentifierKind::Entry, 102},
        {"nothing", IdentifierKind::None, 0},
    };
    for (const Case& c : cases) {
        const IdentifierInfo info = LookupIdentifier(*layout, c.id);
        EXPECT_EQ(info.kind, c.kind) << c.id;
        EXPECT_EQ(info.playItemNumber, c.number) << c.id;
    }
    // Relative starts: pregap, then front margin + packets + rear margin per track.
    EXPECT_EQ(layout->sequences[0].relativeStart, 150u);
    EXPECT_EQ(layout->sequences[1].relativeStart, 150u + 30 + 3 + 45 + 150);
}

TEST(VcdLayout, FiveAlbumsOnTwoMenuPages)
{
    LayoutProject project;
    project.albumsPerPage = 4;
    project.albumPictureCounts = {3, 0, 2, 1, 4};
    auto layout = BuildProjectLayout(project); // no files: the lists are built all the same
    ASSERT_EQ(layout->lists.size(), 12u);
    const std::vector<std::string> expected = {
        "Selection-001 item=segment-0000 prev= next=Selection-002 ret= def=Selection-001 tmo=Selection-001 t=-1 "
        "sel=Selection-003,Selection-006,Selection-006,Selection-008,",
        "Selection-002 item=segment-0001 prev=Selection-001 next= ret= def=Selection-002 tmo=Selection-002 t=-1 "
        "sel=Selection-009,",
        "Selection-003 item=segment-0002 prev= next=Selection-004 ret=Selection-001 def= tmo=Selection-004 t=10 jd "
        "sel=",
        "Selection-004 item=segment-0003 prev=Selection-003 next=Selection-005 ret=Selection-001 def= "
        "tmo=Selection-005 t=10 jd sel=",
        "Selection-005 item=segment-0004 prev=Selection-004 next=Selection-001 ret=Selection-001 def= tmo= t=10 jd "
        "sel=",
        "Selection-006 item=segment-0005 prev= next=Selection-007 ret=Selection-001 def= tmo=Selection-007 t=10 jd "
        "sel=",
        "Selection-007 item=segment-0006 prev=Selection-006 next=Selection-001 ret=Selection-001 def= tmo= t=10 jd "
        "sel=",
        "Selection-008 item=segment-0007 prev= next=Selection-001 ret=Selection-001 def= tmo= t=10 jd sel=",
        "Selection-009 item=segment-0008 prev= next=Selection-010 ret=Selection-001 def= tmo=Selection-010 t=10 jd "
        "sel=",
        "Selection-010 item=segment-0009 prev=Selection-009 next=Selection-011 ret=Selection-001 def= "
        "tmo=Selection-011 t=10 jd sel=",
        "Selection-011 item=segment-0010 prev=Selection-010 next=Selection-012 ret=Selection-001 def= "
        "tmo=Selection-012 t=10 jd sel=",
        "Selection-012 item=segment-0011 prev=Selection-011 next=Selection-001 ret=Selection-001 def= tmo= t=10 jd "
        "sel=",
    };
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(Describe(layout->lists[i]), expected[i]);
    for (const PbcNode& node : layout->lists) {
        EXPECT_EQ(node.baseSelectionNumber, 1);
        EXPECT_EQ(node.loopCount, 1);
        EXPECT_EQ(node.selectionType, 0);
    }
    EXPECT_TRUE(layout->segments.empty()) << "no segment files exist";
    EXPECT_TRUE(layout->sequences.empty());
}

TEST(VcdLayout, OneAlbumOfOnePictureWithFiles)
{
    TempFolder work, program;
    WriteProjectFiles(work.Slash(), program.Slash(), {1}, 4, true);
    LayoutProject project;
    project.cdLabel = "Holiday pictures 2024 by the sea";
    project.albumPictureCounts = {1};
    project.workFolder = work.Slash();
    project.programFolder = program.Slash();
    project.norm = TvNorm::Pal;
    auto layout = BuildProjectLayout(project);
    ASSERT_EQ(layout->lists.size(), 2u);
    EXPECT_EQ(
        Describe(layout->lists[0]),
        "Selection-001 item=segment-0000 prev= next= ret= def=Selection-001 tmo=Selection-001 t=-1 sel=Selection-002,");
    EXPECT_EQ(Describe(layout->lists[1]),
              "Selection-002 item=segment-0001 prev= next=Selection-001 ret=Selection-001 def= tmo= t=10 jd sel=");
    ASSERT_EQ(layout->segments.size(), 2u);
    EXPECT_EQ(layout->segments[0].source->Path(), work.Slash() + "menu_01.mpg");
    EXPECT_EQ(layout->segments[1].source->Path(), work.Slash() + "menu_01_pic_01.mpg");
    for (const SegmentItem& item : layout->segments) {
        ASSERT_EQ(item.pausePoints.size(), 1u);
        EXPECT_EQ(item.pausePoints[0].time, 5.0);
    }
    ASSERT_EQ(layout->sequences.size(), 1u);
    EXPECT_EQ(layout->sequences[0].identifier, "Sequence-0001-01");
    EXPECT_EQ(layout->sequences[0].defaultEntryIdentifier, "Chapter-0001-01");
    EXPECT_EQ(layout->sequences[0].source->Path(), program.Slash() + "avseq01.npal");
    EXPECT_EQ(layout->albumIdentifier, "HOLIDAY_PICTURES");
    EXPECT_EQ(layout->volumeIdentifier, "HOLIDAY_PICTURES_2024_BY_THE_SEA");
    EXPECT_EQ(layout->publisherIdentifier, "LV_VCD 1.0");
    EXPECT_EQ(layout->applicationIdentifier, "");
}

TEST(VcdLayout, IdentifiersGetFourDigitsFromTheHundredthList)
{
    LayoutProject project;
    project.albumPictureCounts = {99, 99};
    auto layout = BuildProjectLayout(project);
    ASSERT_EQ(layout->lists.size(), 199u);
    EXPECT_EQ(layout->lists[98].identifier, "Selection-099");
    EXPECT_EQ(layout->lists[99].identifier, "Selection-0100");
    EXPECT_EQ(layout->lists[99].playItem, "segment-0099");
    EXPECT_EQ(layout->lists[100].playItem, "segment-00100");
    EXPECT_EQ(layout->lists[0].selections, (std::vector<std::string>{"Selection-002", "Selection-0101"}));
    EXPECT_EQ(SelectionIdentifier(1000), "Selection-01000");
}

TEST(VcdLayout, MissingSlideFilesAreSkippedAndLaterItemsStillNumbered)
{
    TempFolder work, program;
    WriteProjectFiles(work.Slash(), program.Slash(), {2}, 4, false);
    std::filesystem::remove(work.Slash() + "menu_01_pic_01.mpg");
    LayoutProject project;
    project.albumPictureCounts = {2};
    project.workFolder = work.Slash();
    project.programFolder = program.Slash();
    auto layout = BuildProjectLayout(project);
    ASSERT_EQ(layout->segments.size(), 2u);
    EXPECT_EQ(layout->segments[1].identifier, "segment-0002");
    EXPECT_EQ(PlayItemNumber(*layout, "segment-0002"), 1001u);
    EXPECT_EQ(PlayItemNumber(*layout, "segment-0001"), 0u);
    EXPECT_EQ(layout->sequences[0].source->Path(), program.Slash() + "avseq01.ntsc");
}

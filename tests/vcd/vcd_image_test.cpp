// SPDX-License-Identifier: GPL-2.0-or-later
// The written image: sector placement and subheaders, the worked examples of the file system,
// the cue list, the limits refused before any sector is written, early stops, the BIN/CUE
// file sink, and a round trip through an independent ISO 9660 reader (pycdlib).
#include "vcd/BinCueSink.h"
#include "vcd/ControlFiles.h"
#include "vcd/IsoWriter.h"

#include "vcd/vcd_author_fixtures.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

using namespace lumivox;
using namespace lumivox::authortest;
namespace fs = std::filesystem;

namespace {

// Keeps every sector in memory.
class MemorySink : public ImageSink {
public:
    int SetCueList(const std::vector<CueRecord>& list) override
    {
        cues = list;
        return list.empty() || list.back().kind != CueKind::LeadOutStart ? -1 : 0;
    }
    int WriteSector(const std::uint8_t* sector, std::uint32_t number) override
    {
        if (number != sectors.size())
            order = false;
        if (failAt >= 0 && number == static_cast<std::uint32_t>(failAt))
            return -1;
        sectors.emplace_back();
        std::memcpy(sectors.back().data(), sector, kRawSectorSize);
        return 0;
    }
    int CloseSink() override
    {
        closed = true;
        return 0;
    }
    std::string ErrorText() const override { return failAt >= 0 ? "memory sink refused the sector" : ""; }

    std::vector<CueRecord> cues;
    std::vector<RawSector> sectors;
    bool closed = false;
    bool order = true;
    long failAt = -1;
};

std::uint32_t Submode(const RawSector& s)
{
    return s[18];
}

std::string SubheaderText(const RawSector& s)
{
    char text[64];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", s[16], s[17], s[18], s[19]);
    return text;
}

// Identifiers of a directory's records, in order.
std::vector<std::string> DirectoryIdentifiers(const std::vector<RawSector>& image, std::uint32_t extent,
                                              std::uint32_t size)
{
    std::vector<std::string> names;
    for (std::uint32_t s = 0; s < size / 2048; ++s) {
        const std::uint8_t* d = image[extent + s].data() + 24;
        for (std::size_t p = 0; p < 2048 && d[p] != 0; p += d[p]) {
            const std::uint8_t length = d[p + 32];
            std::string name(reinterpret_cast<const char*>(d + p + 33), length);
            if (length == 1 && name[0] == 0)
                name = ".";
            if (length == 1 && name[0] == 1)
                name = "..";
            names.push_back(name);
        }
    }
    return names;
}

std::uint32_t Le32(const std::uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
}

struct SmallDisc {
    TempFolder work, program;
    std::unique_ptr<VideoCdLayout> layout;
    long total = 0;
    SmallDisc(std::vector<int> pictures, bool pal = false)
    {
        WriteProjectFiles(work.Slash(), program.Slash(), pictures, 4, pal);
        LayoutProject project;
        project.cdLabel = "test disc \xC3\xA9t\xC3\xA9";
        project.albumPictureCounts = pictures;
        project.workFolder = work.Slash();
        project.programFolder = program.Slash();
        project.norm = pal ? TvNorm::Pal : TvNorm::Ntsc;
        layout = BuildProjectLayout(project);
        total = ComputeLayout(*layout);
    }
};

std::string RunCommand(const std::string& command)
{
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    ::pclose(pipe);
    return output;
}

} // namespace

TEST(VcdImage, SmallDiscFileSystemWorkedExamples)
{
    SmallDisc disc({2, 1});
    ASSERT_GT(disc.total, 0) << disc.layout->errorText;
    VideoCdLayout& layout = *disc.layout;
    MemorySink sink;
    ASSERT_EQ(WriteImage(layout, sink), 0) << layout.errorText;
    ASSERT_TRUE(sink.closed);
    ASSERT_TRUE(sink.order);
    ASSERT_EQ(sink.sectors.size(), static_cast<std::size_t>(disc.total));
    const ImagePlacement& p = layout.placement;

    // Segment area at 225 (one sector of PSD), four one-unit segments, then LOT_X and PSD_X.
    EXPECT_EQ(p.segmentAreaStart, 225u);
    for (std::size_t i = 0; i < layout.segments.size(); ++i)
        EXPECT_EQ(layout.segments[i].firstSector, 225 + 150 * i);
    EXPECT_EQ(p.isoAreaSize, 225u + 4 * 150 + 32 + 1);

    // Addresses 00 02 00 and 00 02 16; descriptor and control file end flags.
    EXPECT_EQ(sink.sectors[0][12], 0x00);
    EXPECT_EQ(sink.sectors[0][13], 0x02);
    EXPECT_EQ(sink.sectors[0][14], 0x00);
    EXPECT_EQ(sink.sectors[16][13], 0x02);
    EXPECT_EQ(sink.sectors[16][14], 0x16);
    struct Expect {
        std::uint32_t sector;
        const char* subheader;
    };
    const Expect expects[] = {
        {0, "00 00 08 00"},         {15, "00 00 08 00"},
        {16, "00 00 89 00"},        {17, "00 00 89 00"},
        {18, "00 00 89 00"},        {100, "00 00 08 00"},
        {150, "00 00 88 00"},       {151, "00 00 88 00"},
        {152, "00 00 08 00"},       {183, "00 00 88 00"},
        {184, "00 00 88 00"},       {224, "00 00 08 00"},
        {225 + 600, "01 00 08 00"}, {225 + 600 + 31, "01 00 88 00"},
        {225 + 632, "01 00 88 00"},
    };
    for (const Expect& e : expects)
        EXPECT_EQ(SubheaderText(sink.sectors[e.sector]), e.subheader) << "sector " << e.sector;

    // Root directory order and the SEGMENT directory.
    const std::uint8_t* pvd = sink.sectors[16].data() + 24;
    const std::uint32_t rootExtent = Le32(pvd + 156 + 2), rootSize = Le32(pvd + 156 + 10);
    EXPECT_EQ(rootExtent, 18u);
    EXPECT_EQ(DirectoryIdentifiers(sink.sectors, rootExtent, rootSize),
              (std::vector<std::string>{".", "..", "EXT", "MPEGAV", "SEGMENT", "VCD"}));
    const DirectoryNode* segmentDirectory = nullptr;
    for (const DirectoryNode& d : p.root.children)
        if (d.name == "SEGMENT")
            segmentDirectory = &d;
    ASSERT_NE(segmentDirectory, nullptr);
    EXPECT_EQ(
        DirectoryIdentifiers(sink.sectors, segmentDirectory->extent, segmentDirectory->size),
        (std::vector<std::string>{".", "..", "ITEM0001.DAT;1", "ITEM0002.DAT;1", "ITEM0003.DAT;1", "ITEM0004.DAT;1"}));
    EXPECT_EQ(segmentDirectory->extent, 21u) << "root, EXT, MPEGAV, then SEGMENT";

    // Cue list: track 1 at 0, the MPEG track's pregap and start, the lead-out.
    const std::uint32_t trackStart = p.isoAreaSize + 150;
    const std::vector<CueRecord> cues = {{0, CueKind::TrackStart},
                                         {trackStart - 150, CueKind::PregapStart},
                                         {trackStart, CueKind::TrackStart},
                                         {static_cast<std::uint32_t>(disc.total), CueKind::LeadOutStart}};
    EXPECT_EQ(sink.cues, cues);
    EXPECT_EQ(static_cast<std::uint32_t>(disc.total),
              p.isoAreaSize + 150 + 30 + layout.sequences[0].packetCount + 45 + 150);

    // MPEG track: pregap, front margin, packets, rear margin, lead-out pregap.
    const std::uint32_t packets = layout.sequences[0].packetCount;
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart - 150]), "00 00 20 00");
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart - 1]), "00 00 20 00");
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart]), "01 00 60 00");
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart + 30]), "01 01 62 0F");
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart + 30 + 20]), "01 01 64 7F") << "first audio packet";
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart + 30 + packets - 1]), "01 01 65 7F")
        << "last packet: end of record";
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart + 30 + packets]), "01 00 60 00");
    EXPECT_EQ(SubheaderText(sink.sectors[trackStart + 30 + packets + 44]), "01 00 E0 00");
    EXPECT_EQ(SubheaderText(sink.sectors[disc.total - 150]), "00 00 20 00");
    EXPECT_EQ(SubheaderText(sink.sectors[disc.total - 1]), "00 00 20 00");
    // Every sector's header carries its own address.
    for (std::uint32_t n = 0; n < sink.sectors.size(); n += 97) {
        std::uint8_t expected[3];
        WriteBcdAddress(expected, n);
        ASSERT_EQ(std::memcmp(sink.sectors[n].data() + 12, expected, 3), 0) << "sector " << n;
    }
}

TEST(VcdImage, DiscWithoutSegmentsIsPaddedTo300Sectors)
{
    TempFolder program;
    SegmentSpec track;
    track.motionPackets = 5;
    WriteFile(program.Slash() + "avseq01.ntsc", MakeSegment(track));
    auto layout = CreateLayout();
    PbcNode node;
    node.identifier = "only";
    ASSERT_EQ(AddPbcNode(*layout, node), 0);
    ASSERT_EQ(AddSequenceItem(*layout, program.Slash() + "avseq01.ntsc", "seq", "entry"), 0);
    ASSERT_GT(ComputeLayout(*layout), 0);
    EXPECT_EQ(layout->placement.extensionEnd, 258u);
    EXPECT_EQ(layout->placement.isoAreaSize, 300u);
    MemorySink sink;
    ASSERT_EQ(WriteImage(*layout, sink), 0) << layout->errorText;
    for (std::uint32_t s = 258; s < 300; ++s) {
        EXPECT_EQ(SubheaderText(sink.sectors[s]), "00 00 08 00") << s;
        EXPECT_TRUE(std::all_of(sink.sectors[s].begin() + 24, sink.sectors[s].begin() + 2072,
                                [](std::uint8_t b) { return b == 0; }));
    }
    const std::uint8_t* root = sink.sectors[18].data() + 24;
    EXPECT_EQ(DirectoryIdentifiers(sink.sectors, 18, 2048),
              (std::vector<std::string>{".", "..", "EXT", "MPEGAV", "VCD"}));
    (void)root;
}

TEST(VcdImage, SegmentOf151PacketsAndItsSubheaders)
{
    TempFolder folder;
    SegmentSpec spec;
    spec.normalStillPackets = 1;
    spec.highStillPackets = 150;
    const Bytes big = MakeSegment(spec);
    SegmentSpec music;
    music.normalStillPackets = 2;
    music.highStillPackets = 2;
    music.audioPackets = 8; // one a second: relative times 0 … 7
    music.paddingPackets = 1;
    WriteFile(folder.Slash() + "big.mpg", big);
    WriteFile(folder.Slash() + "music.mpg", MakeSegment(music));

    auto layout = CreateLayout();
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "big.mpg", "big"), 0);
    ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "music.mpg", "music"), 0);
    ASSERT_EQ(AddSegmentPause(*layout, "music", 5.0), 0);
    EXPECT_EQ(layout->segments[0].units, 2u);
    ASSERT_GT(ComputeLayout(*layout), 0) << layout->errorText;
    MemorySink sink;
    ASSERT_EQ(WriteImage(*layout, sink), 0) << layout->errorText;

    const std::uint32_t first = layout->segments[0].firstSector;
    EXPECT_EQ(first, 75u * 3) << "no playback control: segment area right after ENTRIES at 225";
    EXPECT_EQ(layout->segments[1].firstSector, first + 300);
    EXPECT_EQ(SubheaderText(sink.sectors[first]), "01 02 63 1F")
        << "the only normal still packet holds the sequence end";
    EXPECT_EQ(SubheaderText(sink.sectors[first + 1]), "01 03 62 3F");
    EXPECT_EQ(SubheaderText(sink.sectors[first + 150]), "01 03 E3 3F") << "last packet: end of file";
    for (std::uint32_t s = first + 151; s < first + 300; ++s)
        ASSERT_EQ(SubheaderText(sink.sectors[s]), "01 00 60 00") << s;

    // Music segment: stills, audio with the trigger at the 5-second pause, padding last.
    const std::uint32_t m = layout->segments[1].firstSector;
    const std::vector<std::string> expected = {
        "01 02 62 1F", "01 02 63 1F", "01 03 62 3F", "01 03 63 3F", "01 01 64 7F", "01 01 64 7F", "01 01 64 7F",
        "01 01 64 7F", "01 01 64 7F", "01 01 74 7F", "01 01 64 7F", "01 01 64 7F", "01 00 E0 00", "01 00 60 00"};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(SubheaderText(sink.sectors[m + i]), expected[i]) << "packet " << i;

    // The segment's sectors hold the file's packets byte for byte.
    Bytes extracted;
    for (std::uint32_t i = 0; i < layout->segments[0].packetCount; ++i)
        extracted.insert(extracted.end(), sink.sectors[first + i].begin() + 24,
                         sink.sectors[first + i].begin() + 24 + 2324);
    EXPECT_TRUE(extracted == big) << "segment data differs from its file";
}

TEST(VcdImage, LimitsAreRefusedBeforeAnySectorIsWritten)
{
    TempFolder folder;
    WriteFile(folder.Slash() + "one.mpg", MakeSegment({}));
    SegmentSpec longTrack;
    longTrack.motionPackets = 520;
    WriteFile(folder.Slash() + "long.mpg", MakeSegment(longTrack));
    {
        // A track of zero packets (sparse) longer than a CD.
        std::ofstream make(folder.Slash() + "huge.mpg", std::ios::binary);
    }
    fs::resize_file(folder.Slash() + "huge.mpg", 360001ull * 2324);

    struct Case {
        const char* what;
        std::function<void(VideoCdLayout&)> build;
        const char* mention;
    };
    const Case cases[] = {
        {"1,981 segment units",
         [&](VideoCdLayout& l) {
             for (int i = 0; i < 1981; ++i)
                 ASSERT_EQ(AddSegmentItem(l, folder.Slash() + "one.mpg", "s" + std::to_string(i)), 0);
         },
         "1,980"},
        {"510 entries",
         [&](VideoCdLayout& l) {
             ASSERT_EQ(AddSequenceItem(l, folder.Slash() + "long.mpg", "t", "e"), 0);
             for (int i = 0; i < 509; ++i)
                 ASSERT_EQ(AddSequenceEntry(l, "t", "e" + std::to_string(i), i + 1), 0);
         },
         "509"},
        {"32,768 lists",
         [&](VideoCdLayout& l) {
             for (int i = 0; i < 32768; ++i) {
                 PbcNode node;
                 node.identifier = "L" + std::to_string(i);
                 ASSERT_EQ(AddPbcNode(l, std::move(node)), 0);
             }
         },
         "32,767"},
        {"more than 360,000 sectors",
         [&](VideoCdLayout& l) { ASSERT_EQ(AddSequenceItem(l, folder.Slash() + "huge.mpg", "t", "e"), 0); }, "360,000"},
    };
    for (const Case& c : cases) {
        auto layout = CreateLayout();
        c.build(*layout);
        EXPECT_EQ(ComputeLayout(*layout), -1) << c.what;
        EXPECT_NE(layout->errorText.find(c.mention), std::string::npos) << c.what << ": " << layout->errorText;
        MemorySink sink;
        EXPECT_EQ(WriteImage(*layout, sink), -1) << c.what;
        EXPECT_TRUE(sink.sectors.empty()) << c.what;
        EXPECT_TRUE(sink.cues.empty()) << c.what;
    }
    // Exactly at the limits the disc is made.
    auto layout = CreateLayout();
    for (int i = 0; i < 1980; ++i)
        ASSERT_EQ(AddSegmentItem(*layout, folder.Slash() + "one.mpg", "s" + std::to_string(i)), 0);
    EXPECT_GT(ComputeLayout(*layout), 0) << layout->errorText;
    // 1,980 items need more directory sectors than 18 … 74 hold; they move after the items.
    EXPECT_GT(layout->placement.root.extent, layout->placement.extensionEnd - 1);
}

TEST(VcdImage, ChangedSourceOrSinkFailureOrCancelStopsTheWriting)
{
    SmallDisc disc({2});
    ASSERT_GT(disc.total, 0);
    {
        MemorySink sink;
        sink.failAt = 500;
        EXPECT_EQ(WriteImage(*disc.layout, sink), 1);
        EXPECT_EQ(disc.layout->errorText, "memory sink refused the sector");
        EXPECT_FALSE(sink.closed);
        EXPECT_EQ(sink.sectors.size(), 500u);
    }
    {
        MemorySink sink;
        int calls = 0;
        EXPECT_EQ(WriteImage(*disc.layout, sink, [&](std::uint64_t, std::uint64_t) { return ++calls == 1 ? 1 : 0; }),
                  1);
        EXPECT_NE(disc.layout->errorText.find("cancelled"), std::string::npos);
        EXPECT_FALSE(sink.closed);
    }
    {
        // A slide file cut short after it was scanned.
        const std::string slide = disc.work.Slash() + "menu_01_pic_02.mpg";
        fs::resize_file(slide, 2324);
        MemorySink sink;
        EXPECT_EQ(WriteImage(*disc.layout, sink), 1);
        EXPECT_NE(disc.layout->errorText.find(slide), std::string::npos) << disc.layout->errorText;
        EXPECT_FALSE(sink.closed);
    }
}

TEST(VcdImage, CueSheetText)
{
    const std::vector<CueRecord> cues = {{0, CueKind::TrackStart},
                                         {1000, CueKind::PregapStart},
                                         {1150, CueKind::TrackStart},
                                         {1500, CueKind::IndexMark},
                                         {2000, CueKind::LeadOutStart}};
    EXPECT_EQ(BinCueSink::CueSheetText("disc.bin", cues), "FILE \"disc.bin\" BINARY\n"
                                                          "  TRACK 01 MODE2/2352\n"
                                                          "    INDEX 01 00:00:00\n"
                                                          "  TRACK 02 MODE2/2352\n"
                                                          "    INDEX 00 00:13:25\n"
                                                          "    INDEX 01 00:15:25\n"
                                                          "    INDEX 02 00:20:00\n");
}

TEST(VcdImage, BinCueSinkWritesUnderTheFinalNameOnlyWhenComplete)
{
    SmallDisc disc({1});
    ASSERT_GT(disc.total, 0);
    TempFolder out;
    const std::string bin = out.Slash() + "disc.bin";
    {
        BinCueSink sink(bin);
        ASSERT_EQ(WriteImage(*disc.layout, sink), 0) << disc.layout->errorText;
    }
    EXPECT_EQ(fs::file_size(bin), static_cast<std::uintmax_t>(disc.total) * 2352);
    EXPECT_TRUE(fs::exists(out.Slash() + "disc.cue"));
    const Bytes cue = ReadFile(out.Slash() + "disc.cue");
    EXPECT_EQ(std::string(cue.begin(), cue.end()),
              BinCueSink::CueSheetText("disc.bin", disc.layout->placement.cueList));

    // Cancelled half way: nothing under either name.
    const std::string other = out.Slash() + "other.bin";
    {
        BinCueSink sink(other);
        EXPECT_EQ(WriteImage(*disc.layout, sink, [](std::uint64_t done, std::uint64_t) { return done >= 512 ? 1 : 0; }),
                  1);
    }
    EXPECT_FALSE(fs::exists(other));
    EXPECT_FALSE(fs::exists(out.Slash() + "other.cue"));
    // No pending file is left beside them either.
    std::size_t names = 0;
    for (const auto& entry : fs::directory_iterator(out.Path())) {
        (void)entry;
        ++names;
    }
    EXPECT_EQ(names, 2u); // disc.bin, disc.cue
}

TEST(VcdImage, BinCueSinkReportsUnwritableAndFullFolders)
{
    SmallDisc disc({1});
    ASSERT_GT(disc.total, 0);
    // A folder that refuses new files: a read-only folder, or /proc when running as root.
    TempFolder out;
    fs::path readOnly = out.Path() / "ro";
    fs::create_directory(readOnly);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(readOnly.c_str(), W_OK) == 0)
        readOnly = "/proc";
    {
        const std::string bin = (readOnly / "disc.bin").string();
        BinCueSink sink(bin);
        EXPECT_EQ(WriteImage(*disc.layout, sink), 1);
        EXPECT_NE(disc.layout->errorText.find((readOnly / "disc.cue").string()), std::string::npos)
            << disc.layout->errorText;
    }
    EXPECT_TRUE(fs::is_empty(out.Path() / "ro"));

    // A full disc, simulated with a file size limit: the write fails, the partial file goes.
    const std::string bin = out.Slash() + "full.bin";
    {
        struct rlimit old { };
        ::getrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 1 << 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        BinCueSink sink(bin);
        const int result = WriteImage(*disc.layout, sink);
        ::setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(result, 1);
        EXPECT_NE(disc.layout->errorText.find(bin + "\": File too large"), std::string::npos) << disc.layout->errorText;
    }
    // Nothing is left: neither the image nor a pending file beside it.
    for (const auto& entry : fs::directory_iterator(out.Path()))
        EXPECT_EQ(entry.path().filename(), "ro");
}

TEST(VcdImage, RoundTripThroughAnIndependentIsoReader)
{
    if (!fs::exists("/usr/bin/python3") ||
        RunCommand("/usr/bin/python3 -c 'import pycdlib; print(1)' 2>/dev/null") != "1\n")
        GTEST_SKIP() << "pycdlib is not installed";
    SmallDisc disc({2, 1}, true);
    ASSERT_GT(disc.total, 0);
    TempFolder out;
    const std::string bin = out.Slash() + "disc.bin";
    {
        BinCueSink sink(bin);
        ASSERT_EQ(WriteImage(*disc.layout, sink), 0) << disc.layout->errorText;
    }
    // The 2,048-byte view of every sector, as a drive reading the disc in Mode 2 Form 1 gives it.
    const Bytes image = ReadFile(bin);
    Bytes iso;
    for (std::size_t s = 0; s < image.size() / 2352; ++s)
        iso.insert(iso.end(), image.begin() + s * 2352 + 24, image.begin() + s * 2352 + 24 + 2048);
    WriteFile(out.Slash() + "disc.iso", iso);

    const std::string script = R"PY(
import sys, struct, pycdlib
iso = pycdlib.PyCdlib()
iso.open(sys.argv[1])
p = iso.pvd
def t(x): return x.text.decode() if hasattr(x, 'text') else x.decode()
print('system', p.system_identifier.decode().rstrip())
print('volume', p.volume_identifier.decode().rstrip())
# pycdlib widens the volume space to cover the MPEG track files (which lie beyond the ISO
# area on a Video CD), so the recorded size is read from the descriptor itself.
raw = open(sys.argv[1], 'rb').read(17 * 2048)
space = struct.unpack('<I', raw[16 * 2048 + 80:16 * 2048 + 84])[0]
print('space', space, 'block', p.log_block_size, 'pathsize', p.path_tbl_size)
print('paths', p.path_table_location_le, p.path_table_location_be)
print('publisher', t(p.publisher_identifier).rstrip())
print('preparer', t(p.preparer_identifier).rstrip())
print('application', '[' + t(p.application_identifier).rstrip() + ']')
print('created', p.volume_creation_date.record()[:16].decode())
print('xa', p.application_use[141:149].decode())
import io
info = io.BytesIO()
iso.get_file_from_iso_fp(info, iso_path='/VCD/INFO.VCD;1')
print('album', info.getvalue()[10:26].decode())
for d in ['/', '/EXT', '/MPEGAV', '/SEGMENT', '/VCD']:
    for c in iso.list_children(iso_path=d):
        name = c.file_identifier().decode()
        if name in ('.', '..'):
            continue
        xa = c.xa_record.record()
        attr, num = struct.unpack('>H', xa[4:6])[0], xa[8]
        print('entry', d, name, c.extent_location(), c.get_data_length(), '%04X' % attr, num)
)PY";
    WriteFile(out.Slash() + "read.py", Bytes(script.begin(), script.end()));
    const std::string got = RunCommand("/usr/bin/python3 " + out.Slash() + "read.py " + out.Slash() + "disc.iso 2>&1");

    const VideoCdLayout& layout = *disc.layout;
    const ImagePlacement& p = layout.placement;
    std::string expected = "system CD-RTOS CD-BRIDGE\nvolume TEST_DISC_ETE\n";
    expected +=
        "space " + std::to_string(p.isoAreaSize) + " block 2048 pathsize 64\n"; // path records 10 + 12 + 14 + 16 + 12
    expected += "paths " + std::to_string(p.blocks[p.pathLittleBlock].firstSector) + " " +
                std::to_string(p.blocks[p.pathBigBlock].firstSector) + "\n";
    expected +=
        "publisher LV_VCD 1.0\npreparer LV_VCD VERSION 1.0\napplication []\ncreated 1978071400000000\nxa CD-XA001\n"
        "album TEST_DISC_ETE   \n";
    auto entry = [&](const std::string& dir, const std::string& name, std::uint32_t extent, std::uint64_t size,
                     const char* attr, int number) {
        expected += "entry " + dir + " " + name + " " + std::to_string(extent) + " " + std::to_string(size) + " " +
                    attr + " " + std::to_string(number) + "\n";
    };
    entry("/", "EXT", 19, 2048, "8D55", 0);
    entry("/", "MPEGAV", 20, 2048, "8D55", 0);
    entry("/", "SEGMENT", 21, 2048, "8D55", 0);
    entry("/", "VCD", 22, 2048, "8D55", 0);
    entry("/EXT", "LOT_X.VCD;1", p.blocks[p.lotExtendedBlock].firstSector, 65536, "0D55", 1);
    entry("/EXT", "PSD_X.VCD;1", p.blocks[p.psdExtendedBlock].firstSector, p.psdExtendedSize, "0D55", 1);
    entry("/MPEGAV", "AVSEQ01.DAT;1", p.isoAreaSize + 150, (30 + layout.sequences[0].packetCount + 45) * 2048ull,
          "1555", 1);
    for (std::size_t i = 0; i < layout.segments.size(); ++i)
        entry("/SEGMENT", "ITEM000" + std::to_string(i + 1) + ".DAT;1", layout.segments[i].firstSector,
              layout.segments[i].packetCount * 2048ull, "1555", 1);
    entry("/VCD", "ENTRIES.VCD;1", 151, 2048, "0D55", 0);
    entry("/VCD", "INFO.VCD;1", 150, 2048, "0D55", 0);
    entry("/VCD", "LOT.VCD;1", 152, 65536, "0D55", 0);
    entry("/VCD", "PSD.VCD;1", 184, p.psdSize, "0D55", 0);
    EXPECT_EQ(got, expected);

    // Each segment's Form 2 sectors hold its file's packets byte for byte.
    for (const SegmentItem& item : layout.segments) {
        const Bytes source = ReadFile(item.source->Path());
        Bytes extracted;
        for (std::uint32_t i = 0; i < item.packetCount; ++i) {
            const std::size_t at = (std::size_t(item.firstSector) + i) * 2352 + 24;
            extracted.insert(extracted.end(), image.begin() + at, image.begin() + at + 2324);
        }
        EXPECT_TRUE(extracted == source) << item.source->Path();
    }
}

TEST(VcdImage, SegmentMadeByFfmpegIsReadableAfterTheRoundTrip)
{
    if (RunCommand("which ffmpeg ffprobe 2>/dev/null | wc -l") != "2\n")
        GTEST_SKIP() << "ffmpeg is not installed";
    TempFolder folder;
    const std::string made = folder.Slash() + "clip.mpg";
    RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=352x240:rate=30000/1001 -f lavfi -i "
               "sine=frequency=440:sample_rate=44100 "
               "-t 1 -target ntsc-vcd -y " +
               made + " 2>&1");
    ASSERT_TRUE(fs::exists(made)) << "ffmpeg made no file";
    auto layout = CreateLayout();
    ASSERT_EQ(AddSegmentItem(*layout, made, "clip"), 0);
    ASSERT_GT(ComputeLayout(*layout), 0) << layout->errorText;
    MemorySink sink;
    ASSERT_EQ(WriteImage(*layout, sink), 0) << layout->errorText;
    const SegmentItem& item = layout->segments[0];
    Bytes extracted;
    for (std::uint32_t i = 0; i < item.packetCount; ++i)
        extracted.insert(extracted.end(), sink.sectors[item.firstSector + i].begin() + 24,
                         sink.sectors[item.firstSector + i].begin() + 24 + 2324);
    Bytes source = ReadFile(made);
    source.resize(std::size_t(item.packetCount) * 2324, 0);
    EXPECT_TRUE(extracted == source);
    WriteFile(folder.Slash() + "extracted.mpg", extracted);
    const std::string probe = RunCommand("ffprobe -v error -show_entries stream=codec_type,width,height -of csv=p=0 " +
                                         folder.Slash() + "extracted.mpg");
    EXPECT_NE(probe.find("video,352,240"), std::string::npos) << probe;
    EXPECT_NE(probe.find("audio"), std::string::npos) << probe;
    // Motion video packets: coding 0x0F on channel 1.
    bool sawVideo = false;
    for (std::uint32_t i = 0; i < item.packetCount; ++i)
        if (Submode(sink.sectors[item.firstSector + i]) & 0x02) {
            EXPECT_EQ(SubheaderText(sink.sectors[item.firstSector + i]).substr(0, 5), "01 01");
            sawVideo = true;
        }
    EXPECT_TRUE(sawVideo);
}

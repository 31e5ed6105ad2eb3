// SPDX-License-Identifier: GPL-2.0-or-later
// The program-stream scanner on streams built byte by byte: packet cutting, flags and
// kinds, stream information, access points, presentation times, norms, reading with
// restart, and hostile input.

#include <gtest/gtest.h>

#include "vcd/MpegSource.h"
#include "vcd/vcd_scan_stream.h"

#include <dirent.h>

#include <cstring>
#include <random>

namespace lumivox {
namespace {

using test::Append;
using test::Bytes;

constexpr std::uint64_t kSecond = 90000;

std::unique_ptr<MpegSource> ScanBytes(const std::string& name, const Bytes& bytes)
{
    auto source = CreateMpegSource(test::WriteTempFile(name, bytes));
    EXPECT_TRUE(source) << name;
    if (source) {
        EXPECT_EQ(ScanMpegSource(*source), 0) << name;
    }
    return source;
}

std::string Kinds(MpegSource& source)
{
    std::string kinds;
    std::uint8_t buffer[kMpegPacketSize];
    PacketInfo info;
    for (std::uint32_t i = 0; ReadPacket(source, i, buffer, &info) == 0; ++i) {
        if (!kinds.empty())
            kinds += ",";
        kinds += PacketKindName(GetPacketKind(info));
    }
    return kinds;
}

// A still segment as the multiplexer lays it out: a system-header pack per stream,
// the normal-resolution still (0xE1), the high-resolution still (0xE2) spread over two
// packs, and two music packs (0xC0); the last pack ends with the program end code.
Bytes SegmentStream()
{
    Bytes stream;
    auto pack = [&](std::uint64_t scr, const Bytes& body) {
        Bytes p = test::PackHeader(scr);
        Append(p, body);
        test::FillPack(p);
        Append(stream, p);
    };
    pack(0, test::SystemHeader({0xE1, 0xE2})); // 0
    pack(100, test::SystemHeader({0xC0})); // 1
    Bytes still = test::SequenceHeader(352, 288, 3, 2875, 20);
    Append(still, test::GroupHeader());
    Append(still, test::Picture(1, 300));
    pack(200, test::Pes(0xE1, still, true, kSecond)); // 2
    Bytes high = test::SequenceHeader(704, 576, 3, 0x3FFFF, 112);
    Append(high, test::GroupHeader());
    Append(high, test::Picture(1, 1000));
    pack(300, test::Pes(0xE2, high, true, kSecond + 3600)); // 3
    pack(400, test::Pes(0xE2, Bytes(2000, 0x11))); // 4
    pack(500, test::Pes(0xC0, test::AudioFrame(1, 600), true, kSecond / 2)); // 5
    Bytes last = test::Pes(0xC0, test::AudioFrame(1, 600), true, 3 * kSecond);
    Append(last, {0, 0, 1, 0xB9});
    pack(600, last); // 6
    return stream;
}

TEST(VcdScan, SegmentPacketsFlagsAndStreams)
{
    auto source = ScanBytes("segment.mpg", SegmentStream());
    ASSERT_TRUE(source);
    EXPECT_EQ(source->FileSize(), 7u * kMpegPacketSize);
    EXPECT_EQ(source->PacketCount(), 7u);
    // System-header packs carry the flags of the streams they list.
    EXPECT_EQ(Kinds(*source), "video,audio,video,video,video,audio,audio");

    const MpegStreamInfo& info = source->StreamInfo();
    EXPECT_FALSE(info.mpeg2);
    EXPECT_EQ(info.multiplexRate, 3528u * 400u);
    EXPECT_FALSE(info.video[kMotionVideo].present);
    const MpegVideoStreamInfo& normal = info.video[kNormalResolutionStill];
    ASSERT_TRUE(normal.present);
    EXPECT_EQ(normal.packetCount, 1u);
    EXPECT_EQ(normal.horizontalSize, 352u);
    EXPECT_EQ(normal.verticalSize, 288u);
    EXPECT_EQ(normal.frameRateCode, 3);
    EXPECT_DOUBLE_EQ(normal.frameRate, 25.0);
    EXPECT_EQ(normal.bitRate, 2875u * 400u);
    EXPECT_EQ(normal.bufferSize, 20u * 2048u);
    EXPECT_EQ(GetNorm(normal), MpegNorm::PalSif);
    const MpegVideoStreamInfo& high = info.video[kHighResolutionStill];
    ASSERT_TRUE(high.present);
    EXPECT_EQ(high.packetCount, 2u);
    EXPECT_EQ(high.horizontalSize, 704u);
    EXPECT_EQ(high.verticalSize, 576u);
    EXPECT_EQ(high.bitRate, 0x3FFFFu * 400u);
    EXPECT_EQ(high.bufferSize, 112u * 2048u);
    EXPECT_EQ(GetNorm(high), MpegNorm::Unknown); // no row of the table is 704 × 576

    const MpegAudioStreamInfo& music = info.audio[0];
    ASSERT_TRUE(music.present);
    EXPECT_EQ(music.packetCount, 2u);
    EXPECT_EQ(music.version, 1);
    EXPECT_EQ(music.layer, 2);
    EXPECT_EQ(music.samplingRate, 44100);
    EXPECT_EQ(music.bitRate, 224000);
    EXPECT_EQ(music.mode, MpegAudioMode::JointStereo);
    EXPECT_FALSE(info.audio[1].present);

    // Presentation times run from the earliest (the music at 0.5 s) to the latest (3 s).
    EXPECT_DOUBLE_EQ(source->FirstPresentationTime(), 0.5);
    EXPECT_DOUBLE_EQ(source->PlayingTime(), 2.5);
    EXPECT_EQ(source->PacketsWithPresentationTime(), 4u);
    ASSERT_EQ(normal.accessPoints.size(), 1u);
    EXPECT_EQ(normal.accessPoints[0].packet, 2u);
    EXPECT_DOUBLE_EQ(normal.accessPoints[0].presentationTime, 0.5);
    EXPECT_TRUE(normal.accessPoints[0].sequenceHeader);
    EXPECT_TRUE(normal.accessPoints[0].groupOfPictures);
    ASSERT_EQ(high.accessPoints.size(), 1u);
    EXPECT_EQ(high.accessPoints[0].packet, 3u);
    EXPECT_DOUBLE_EQ(high.accessPoints[0].presentationTime, 0.54);

    EXPECT_EQ(source->PacketKindCount(PacketKind::Video), 4u);
    EXPECT_EQ(source->PacketKindCount(PacketKind::Audio), 3u);
}

TEST(VcdScan, ReadPacketIsSequentialWithRestart)
{
    const Bytes stream = SegmentStream();
    auto source = ScanBytes("restart.mpg", stream);
    ASSERT_TRUE(source);
    std::uint8_t buffer[kMpegPacketSize];
    PacketInfo info;
    auto expectPacket = [&](std::uint32_t n) {
        SCOPED_TRACE(n);
        ASSERT_EQ(ReadPacket(*source, n, buffer, &info), 0);
        EXPECT_EQ(info.length, kMpegPacketSize);
        EXPECT_EQ(std::memcmp(buffer, stream.data() + n * kMpegPacketSize, kMpegPacketSize), 0);
    };
    expectPacket(0);
    expectPacket(1);
    expectPacket(5); // skipping forward reads on
    EXPECT_TRUE(info.hasPresentationTime);
    EXPECT_DOUBLE_EQ(info.presentationTime, 0.0); // relative to the first presentation time
    expectPacket(2); // an earlier packet restarts from the beginning
    EXPECT_TRUE(info.video[kNormalResolutionStill]);
    EXPECT_FALSE(info.video[kHighResolutionStill]);
    EXPECT_DOUBLE_EQ(info.presentationTime, 0.5);
    expectPacket(2); // the same packet again also restarts
    expectPacket(6);
    EXPECT_TRUE(info.programEnd);
    EXPECT_DOUBLE_EQ(info.presentationTime, 2.5);
    EXPECT_EQ(ReadPacket(*source, 7, buffer, &info), -1);
    expectPacket(0); // reopens after the file was closed at the last packet
    EXPECT_TRUE(info.systemHeader);
    EXPECT_FALSE(info.hasPresentationTime);
}

TEST(VcdScan, ReadPacketScansFirstWhenNeeded)
{
    auto source = CreateMpegSource(test::WriteTempFile("unscanned.mpg", SegmentStream()));
    ASSERT_TRUE(source);
    std::uint8_t buffer[kMpegPacketSize];
    PacketInfo info;
    ASSERT_EQ(ReadPacket(*source, 3, buffer, &info), 0);
    EXPECT_TRUE(source->Scanned());
    EXPECT_DOUBLE_EQ(info.presentationTime, 0.54);
}

// Cutting at pack boundaries and the trailing zero run, for streams whose packs are
// shorter than a sector or followed by zeros.
TEST(VcdScan, PacketBoundariesAndZeroPackets)
{
    struct Case {
        const char* name;
        std::size_t packSize;
        std::size_t zeros; // zero bytes appended after the packs
        std::string kinds;
        std::vector<std::size_t> lengths;
    };
    const Case cases[] = {
        {"sector packs", 2324, 0, "video,video,video", {2324, 2324, 2324}},
        {"short zero run", 2324, 1000, "video,video,video,zero", {2324, 2324, 2324, 1000}},
        {"long zero run", 2324, 2324 + 10, "video,video,video,zero,zero", {2324, 2324, 2324, 2324, 10}},
        {"short packs", 2048, 0, "video,video,video", {2048, 2048, 2048}},
        // After the last pack's own packets the walk finds no further start code, so
        // the packet runs on to the end of the bytes read: zeros fill up its sector.
        {"short packs, zeros", 2048, 1000, "video,video,video,zero", {2048, 2048, 2324, 724}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream;
        for (int i = 0; i < 3; ++i) {
            Bytes pack = test::PackHeader(i * 100);
            Append(pack, test::Pes(0xE0, Bytes(500, 0x22), true, kSecond * i));
            test::FillPack(pack, c.packSize);
            Append(stream, pack);
        }
        stream.resize(stream.size() + c.zeros, 0);
        auto source = ScanBytes("bounds.mpg", stream);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->PacketCount(), c.lengths.size());
        EXPECT_EQ(Kinds(*source), c.kinds);
        std::uint8_t buffer[kMpegPacketSize];
        PacketInfo info;
        std::size_t offset = 0;
        for (std::uint32_t i = 0; i < c.lengths.size(); ++i) {
            ASSERT_EQ(ReadPacket(*source, i, buffer, &info), 0) << "packet " << i;
            EXPECT_EQ(info.length, c.lengths[i]) << "packet " << i;
            EXPECT_EQ(std::memcmp(buffer, stream.data() + offset, info.length), 0) << "packet " << i;
            for (std::size_t b = info.length; b < kMpegPacketSize; ++b)
                ASSERT_EQ(buffer[b], 0) << "packet " << i << " not zero-padded at " << b;
            offset += info.length;
        }
        EXPECT_EQ(offset, stream.size());
        EXPECT_DOUBLE_EQ(source->PlayingTime(), 2.0);
    }
}

TEST(VcdScan, KindsFollowTheirOrder)
{
    struct Case {
        const char* name;
        void (*set)(PacketInfo&);
        PacketKind kind;
    };
    const Case cases[] = {
        {"nothing", [](PacketInfo&) {}, PacketKind::Invalid},
        {"video beats audio", [](PacketInfo& i) { i.video[2] = i.audio[0] = true; }, PacketKind::Video},
        {"audio beats padding", [](PacketInfo& i) { i.audio[1] = i.padding = true; }, PacketKind::Audio},
        {"zero", [](PacketInfo& i) { i.allZero = true; }, PacketKind::Zero},
        {"zero beats overlay", [](PacketInfo& i) { i.allZero = i.overlayGraphics[3] = true; }, PacketKind::Zero},
        {"overlay beats padding", [](PacketInfo& i) { i.overlayGraphics[1] = i.padding = true; },
         PacketKind::OverlayGraphics},
        {"padding", [](PacketInfo& i) { i.padding = true; }, PacketKind::Empty},
        {"system header", [](PacketInfo& i) { i.systemHeader = true; }, PacketKind::Empty},
        {"program end only", [](PacketInfo& i) { i.programEnd = true; }, PacketKind::Invalid},
    };
    for (const Case& c : cases) {
        PacketInfo info;
        c.set(info);
        EXPECT_EQ(PacketKindName(GetPacketKind(info)), std::string(PacketKindName(c.kind))) << c.name;
    }
}

TEST(VcdScan, NormTable)
{
    struct Case {
        unsigned width, height;
        int rateCode;
        const char* norm;
    };
    const Case cases[] = {
        {352, 240, 1, "FILM SIF"},    {352, 288, 3, "PAL SIF"},      {352, 240, 4, "NTSC SIF"},
        {480, 576, 3, "PAL 2/3 D-1"}, {480, 480, 4, "NTSC 2/3 D-1"}, {704, 576, 3, "unknown"},
        {704, 480, 4, "unknown"},     {352, 288, 4, "unknown"},      {352, 240, 5, "unknown"}, // 30 is not 29.97
        {352, 240, 2, "unknown"},     {480, 576, 6, "unknown"},
    };
    for (const Case& c : cases) {
        Bytes pack = test::PackHeader(0);
        Append(pack, test::Pes(0xE0, test::SequenceHeader(c.width, c.height, c.rateCode)));
        test::FillPack(pack);
        auto source = ScanBytes("norm.mpg", pack);
        ASSERT_TRUE(source);
        const MpegVideoStreamInfo& video = source->StreamInfo().video[kMotionVideo];
        EXPECT_EQ(video.horizontalSize, c.width);
        EXPECT_EQ(std::string(MpegNormName(GetNorm(video))), c.norm)
            << c.width << "x" << c.height << " rate code " << c.rateCode;
    }
    MpegVideoStreamInfo none; // no sequence header seen
    EXPECT_EQ(GetNorm(none), MpegNorm::Unknown);
}

TEST(VcdScan, FrameRatesAndAudioHeaders)
{
    const double rates[] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
    for (int code = 1; code <= 8; ++code) {
        Bytes pack = test::PackHeader(0);
        Append(pack, test::Pes(0xE0, test::SequenceHeader(352, 240, code)));
        auto source = ScanBytes("rate.mpg", pack);
        EXPECT_DOUBLE_EQ(source->StreamInfo().video[0].frameRate, rates[code - 1]) << "code " << code;
    }

    struct AudioCase {
        Bytes header;
        int version, layer, samplingRate, bitRate;
        MpegAudioMode mode;
    };
    const AudioCase cases[] = {
        {{0xFF, 0xFD, 0xB0, 0xC4}, 1, 2, 44100, 224000, MpegAudioMode::SingleChannel},
        {{0xFF, 0xFD, 0xA4, 0x84}, 1, 2, 48000, 192000, MpegAudioMode::DualChannel},
        {{0xFF, 0xFB, 0x98, 0x04}, 1, 3, 32000, 128000, MpegAudioMode::Stereo},
        {{0xFF, 0xFF, 0x10, 0x44}, 1, 1, 44100, 32000, MpegAudioMode::JointStereo},
        {{0xFF, 0xF5, 0xA4, 0x44}, 2, 2, 24000, 96000, MpegAudioMode::JointStereo},
        {{0xFF, 0xE3, 0x58, 0xC4}, 25, 3, 8000, 40000, MpegAudioMode::SingleChannel},
    };
    for (const AudioCase& c : cases) {
        // Junk before the first header, and a header that is not valid (layer 0).
        Bytes payload = {0x12, 0xFF, 0x00, 0xFF, 0xF9, 0x00, 0x00};
        Append(payload, c.header);
        payload.resize(payload.size() + 50, 0);
        Bytes pack = test::PackHeader(0);
        Append(pack, test::Pes(0xC1, payload, true, 0));
        auto source = ScanBytes("audio.mpg", pack);
        const MpegAudioStreamInfo& audio = source->StreamInfo().audio[1];
        SCOPED_TRACE(c.samplingRate);
        ASSERT_TRUE(audio.frameHeaderSeen);
        EXPECT_EQ(audio.version, c.version);
        EXPECT_EQ(audio.layer, c.layer);
        EXPECT_EQ(audio.samplingRate, c.samplingRate);
        EXPECT_EQ(audio.bitRate, c.bitRate);
        EXPECT_EQ(audio.mode, c.mode);
    }
}

// Access points: I pictures in packets with a time stamp, at times that do not go back.
TEST(VcdScan, AccessPoints)
{
    struct Picture {
        bool withTime;
        std::uint64_t pts;
        int type;
        bool sequence;
    };
    const Picture pictures[] = {
        {true, 10 * kSecond, 1, true}, // 0: access point with sequence header and GOP
        {true, 11 * kSecond, 2, false}, // 1: P picture
        {false, 0, 1, false}, // 2: no time stamp
        {true, 12 * kSecond, 1, false}, // 3: access point without headers
        {true, 11 * kSecond, 1, true}, // 4: earlier than the previous access point
        {true, 12 * kSecond, 1, true}, // 5: as late as the previous one: kept
    };
    Bytes stream;
    for (const Picture& picture : pictures) {
        Bytes es;
        if (picture.sequence) {
            es = test::SequenceHeader(352, 240, 4);
            Append(es, test::GroupHeader());
        }
        Append(es, test::Picture(picture.type));
        Bytes pack = test::PackHeader(0);
        Append(pack, test::Pes(0xE0, es, picture.withTime, picture.pts));
        test::FillPack(pack);
        Append(stream, pack);
    }
    auto source = ScanBytes("access.mpg", stream);
    const MpegVideoStreamInfo& video = source->StreamInfo().video[0];
    ASSERT_EQ(video.accessPoints.size(), 3u);
    EXPECT_EQ(video.accessPointCount, 3u);
    const std::uint32_t packets[] = {0, 3, 5};
    const double times[] = {0.0, 2.0, 2.0};
    const bool headers[] = {true, false, true};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(video.accessPoints[i].packet, packets[i]) << i;
        EXPECT_DOUBLE_EQ(video.accessPoints[i].presentationTime, times[i]) << i;
        EXPECT_EQ(video.accessPoints[i].sequenceHeader, headers[i]) << i;
        EXPECT_EQ(video.accessPoints[i].groupOfPictures, headers[i]) << i;
    }
    EXPECT_EQ(GetNorm(video), MpegNorm::NtscSif);
}

// Headers split between two packets of the same stream are put back together, also
// behind zero stuffing that runs over the packet boundary.
TEST(VcdScan, HeadersAcrossPackets)
{
    for (std::size_t stuffing : {0, 1, 2, 40}) {
        Bytes es = test::SequenceHeader(480, 480, 4);
        es.resize(es.size() + stuffing, 0);
        const std::size_t codeByte = es.size() + 3; // the picture start code's last byte
        Append(es, test::Picture(1));
        for (std::size_t split = 1; split < codeByte + 3; ++split) {
            SCOPED_TRACE(testing::Message() << "stuffing " << stuffing << ", split at " << split);
            Bytes stream;
            Bytes first = test::PackHeader(0);
            Append(first, test::Pes(0xE0, Bytes(es.begin(), es.begin() + split), true, kSecond));
            Append(stream, first);
            Bytes second = test::PackHeader(0);
            Append(second, test::Pes(0xE0, Bytes(es.begin() + split, es.end()), true, 2 * kSecond));
            Append(stream, second);
            auto source = ScanBytes("split.mpg", stream);
            const MpegVideoStreamInfo& video = source->StreamInfo().video[0];
            EXPECT_EQ(GetNorm(video), MpegNorm::Ntsc2_3D1);
            ASSERT_EQ(video.accessPoints.size(), 1u);
            // The picture belongs to the packet in which its start code is complete.
            EXPECT_EQ(video.accessPoints[0].packet, split <= codeByte ? 1u : 0u);
        }
    }
}

TEST(VcdScan, Mpeg2PackHeaders)
{
    Bytes stream;
    for (int stuffing : {0, 3}) {
        Bytes pack = test::Mpeg2PackHeader(25200, stuffing);
        Bytes pes = {0, 0, 1, 0xE0, 0, 0, 0x81, 0x80, 0x05};
        Append(pes, test::TimeStamp(0x2, stuffing * kSecond));
        Append(pes, test::SequenceHeader(720, 576, 3));
        pes[4] = static_cast<std::uint8_t>((pes.size() - 6) >> 8);
        pes[5] = static_cast<std::uint8_t>(pes.size() - 6);
        Append(pack, pes);
        test::FillPack(pack);
        Append(stream, pack);
    }
    auto source = ScanBytes("mpeg2.mpg", stream);
    EXPECT_EQ(source->PacketCount(), 2u);
    EXPECT_TRUE(source->StreamInfo().mpeg2);
    EXPECT_EQ(source->StreamInfo().multiplexRate, 25200u * 400u);
    EXPECT_EQ(source->StreamInfo().video[0].horizontalSize, 720u);
    EXPECT_DOUBLE_EQ(source->PlayingTime(), 3.0);
}

// Input that is not a program stream, or is damaged, ends cutting cleanly.
TEST(VcdScan, DamagedInput)
{
    Bytes good = test::PackHeader(0);
    Append(good, test::Pes(0xE0, test::SequenceHeader(352, 288, 3), true, 0));
    test::FillPack(good);

    struct Case {
        const char* name;
        Bytes bytes;
        std::uint32_t packets;
        std::string kinds;
    };
    std::vector<Case> cases;
    cases.push_back({"empty file", {}, 0, ""});
    cases.push_back({"text", Bytes{'h', 'e', 'l', 'l', 'o'}, 0, ""});
    {
        Bytes b = {0, 0, 0, 1, 0xBA};
        Append(b, good);
        cases.push_back({"zero byte before the pack", b, 0, ""});
    }
    cases.push_back({"truncated pack header", Bytes{0, 0, 1, 0xBA, 0x21, 0}, 1, "invalid"});
    cases.push_back({"pack start code only", Bytes{0, 0, 1, 0xBA}, 1, "invalid"});
    {
        Bytes b = good;
        Append(b, {0x47, 0x40, 0x11, 0x10});
        b.resize(b.size() + 3000, 0xAB);
        cases.push_back({"garbage after a pack", b, 1, "video"});
    }
    {
        Bytes b = test::PackHeader(0);
        Append(b, test::Pes(0xE0, Bytes(100, 0x33), true, 0, 4000)); // claims 4,000 bytes
        Append(b, test::PackHeader(0));
        b.resize(5000, 0x44);
        cases.push_back({"PES length running past the pack", b, 1, "video"});
    }
    {
        Bytes b = test::PackHeader(0);
        Append(b, test::Pes(0xE0, Bytes(100, 0x33)));
        Append(b, {0x12, 0x34}); // not a start code: the packet runs to the next pack
        Append(b, Bytes(50, 0));
        Append(b, good);
        cases.push_back({"junk between packets", b, 2, "video,video"});
    }
    {
        Bytes b = test::PackHeader(0);
        Bytes header = test::SequenceHeader(352, 288, 3);
        header.resize(7);
        Append(b, test::Pes(0xE0, header));
        cases.push_back({"sequence header cut in the middle", b, 1, "video"});
    }
    {
        Bytes b = {0, 0, 1, 0xBA, 0x00}; // neither MPEG-1 nor MPEG-2
        Append(b, good);
        cases.push_back({"unknown pack header", b, 2, "invalid,video"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = ScanBytes("damaged.mpg", c.bytes);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->PacketCount(), c.packets);
        EXPECT_EQ(Kinds(*source), c.kinds);
    }
}

// Random bytes behind a pack start code: cutting always ends, and every packet holds
// at least one byte of the file.
TEST(VcdScan, RandomBytesEnd)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        Bytes b = {0, 0, 1, 0xBA};
        const std::size_t size = random() % 20000;
        for (std::size_t i = 0; i < size; ++i) {
            // Many start-code prefixes so that the walk meets every kind of header.
            const unsigned r = random() % 16;
            b.push_back(r < 3 ? 0 : r == 3 ? 1 : r == 4 ? 0xBA : r == 5 ? 0xE0 : static_cast<std::uint8_t>(random()));
        }
        auto source = ScanBytes("random.mpg", b);
        ASSERT_TRUE(source);
        ASSERT_GE(source->PacketCount(), 1u);
        ASSERT_LE(source->PacketCount(), b.size());
        std::uint8_t buffer[kMpegPacketSize];
        PacketInfo info;
        std::size_t total = 0;
        for (std::uint32_t i = 0; i < source->PacketCount(); ++i) {
            ASSERT_EQ(ReadPacket(*source, i, buffer, &info), 0) << "round " << round << " packet " << i;
            ASSERT_GE(info.length, 1u);
            total += info.length;
        }
        EXPECT_LE(total, b.size());
    }
}

TEST(VcdScan, MissingFilesGiveNoSource)
{
    EXPECT_FALSE(CreateMpegSource(""));
    EXPECT_FALSE(CreateMpegSource(std::string(::testing::TempDir()) + "no-such-file.mpg"));
    EXPECT_FALSE(CreateMpegSource(::testing::TempDir())); // a folder

    // A file deleted after its source was created cannot be scanned.
    const std::string path = test::WriteTempFile("vanishing.mpg", SegmentStream());
    auto source = CreateMpegSource(path);
    ASSERT_TRUE(source);
    std::remove(path.c_str());
    EXPECT_EQ(ScanMpegSource(*source), -1);
    EXPECT_FALSE(source->Scanned());
    std::uint8_t buffer[kMpegPacketSize];
    EXPECT_EQ(ReadPacket(*source, 0, buffer, nullptr), -1);
}

// A file that shrinks between scanning and writing gives −1 instead of made-up packets.
TEST(VcdScan, FileChangedAfterScan)
{
    const Bytes stream = SegmentStream();
    const std::string path = test::WriteTempFile("changing.mpg", stream);
    auto source = CreateMpegSource(path);
    ASSERT_EQ(ScanMpegSource(*source), 0);
    test::WriteTempFile("changing.mpg", Bytes(stream.begin(), stream.begin() + 3 * kMpegPacketSize));
    std::uint8_t buffer[kMpegPacketSize];
    EXPECT_EQ(ReadPacket(*source, 2, buffer, nullptr), 0);
    EXPECT_EQ(ReadPacket(*source, 5, buffer, nullptr), -1);
}

int OpenDescriptors()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

// A layout holds one source per segment, thousands of them: scanned sources and
// sources read to their end keep no file open.
TEST(VcdScan, SourcesDoNotKeepFilesOpen)
{
    const std::string path = test::WriteTempFile("many.mpg", SegmentStream());
    const int before = OpenDescriptors();
    std::vector<std::unique_ptr<MpegSource>> sources;
    std::uint8_t buffer[kMpegPacketSize];
    for (int i = 0; i < 50; ++i) {
        sources.push_back(CreateMpegSource(path));
        ASSERT_EQ(ScanMpegSource(*sources.back()), 0);
        for (std::uint32_t p = 0; p < sources.back()->PacketCount(); ++p)
            ASSERT_EQ(ReadPacket(*sources.back(), p, buffer, nullptr), 0);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    ASSERT_EQ(ReadPacket(*sources[0], 0, buffer, nullptr), 0);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    CloseMpegSource(*sources[0]);
    EXPECT_EQ(OpenDescriptors(), before);
}

} // namespace
} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
// The scanner on real Video CD program streams: made by ffmpeg when it is installed,
// and the MPEG track files installed beside the program. ffprobe is the independent
// reader the playing time is checked against.

#include <gtest/gtest.h>

#include "vcd/MpegSource.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace lumivox {
namespace {

bool HaveTool(const char* tool)
{
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// ffprobe's duration of the file in seconds, or a negative value when it has none.
double ProbeDuration(const std::string& path)
{
    const std::string command =
        "ffprobe -v error -show_entries format=duration -of default=noprint_wrappers=1:nokey=1 '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char line[128] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    return read ? std::atof(line) : -1;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Expectation {
    unsigned width, height;
    double frameRate;
    MpegNorm norm;
};

// Checks what every Video CD sequence of the norm must give: packs of a sector each,
// no packet that the image writer could not classify, the video stream and its norm,
// Layer II audio, a playing time within one frame of ffprobe's, and packets read back
// byte for byte.
void CheckVideoCdSequence(const std::string& path, const Expectation& expected)
{
    SCOPED_TRACE(path);
    auto source = CreateMpegSource(path);
    ASSERT_TRUE(source);
    ASSERT_EQ(ScanMpegSource(*source), 0);
    const std::uint64_t size = source->FileSize();
    // Every pack is one sector; a trailing part (zeros) would be one more packet.
    EXPECT_EQ(source->PacketCount(), size / kMpegPacketSize + (size % kMpegPacketSize ? 1 : 0));
    EXPECT_EQ(source->PacketKindCount(PacketKind::Invalid), 0u);
    EXPECT_GT(source->PacketKindCount(PacketKind::Video), 0u);
    EXPECT_GT(source->PacketKindCount(PacketKind::Audio), 0u);

    const MpegStreamInfo& info = source->StreamInfo();
    EXPECT_FALSE(info.mpeg2);
    const MpegVideoStreamInfo& video = info.video[kMotionVideo];
    ASSERT_TRUE(video.present);
    EXPECT_EQ(video.horizontalSize, expected.width);
    EXPECT_EQ(video.verticalSize, expected.height);
    EXPECT_NEAR(video.frameRate, expected.frameRate, 1e-9);
    EXPECT_EQ(MpegNormName(GetNorm(video)), std::string(MpegNormName(expected.norm)));
    EXPECT_GE(video.accessPoints.size(), 1u);
    for (std::size_t i = 1; i < video.accessPoints.size(); ++i)
        EXPECT_GE(video.accessPoints[i].presentationTime, video.accessPoints[i - 1].presentationTime);
    EXPECT_FALSE(info.video[kNormalResolutionStill].present);
    const MpegAudioStreamInfo& audio = info.audio[0];
    ASSERT_TRUE(audio.present);
    EXPECT_EQ(audio.layer, 2);
    EXPECT_GT(audio.samplingRate, 0);

    if (HaveTool("ffprobe")) {
        const double duration = ProbeDuration(path);
        ASSERT_GT(duration, 0);
        // ffprobe counts the last frame's own duration; ours ends at its presentation time.
        EXPECT_NEAR(source->PlayingTime(), duration, 1.0 / expected.frameRate + 1e-3)
            << "ffprobe says " << duration << " s";
    }

    const std::vector<std::uint8_t> bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), size);
    std::uint8_t buffer[kMpegPacketSize];
    PacketInfo packet;
    std::uint64_t offset = 0;
    for (std::uint32_t i = 0; i < source->PacketCount(); ++i) {
        ASSERT_EQ(ReadPacket(*source, i, buffer, &packet), 0) << "packet " << i;
        ASSERT_EQ(std::memcmp(buffer, bytes.data() + offset, packet.length), 0) << "packet " << i;
        offset += packet.length;
    }
    EXPECT_EQ(offset, size);
    EXPECT_EQ(ReadPacket(*source, source->PacketCount(), buffer, &packet), -1);
}

TEST(VcdScanReal, FfmpegVideoCdStreams)
{
    if (!HaveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    struct Case {
        const char* target;
        const char* size;
        const char* rate;
        Expectation expected;
    };
    const Case cases[] = {
        {"pal-vcd", "352x288", "25", {352, 288, 25.0, MpegNorm::PalSif}},
        {"ntsc-vcd", "352x240", "30000/1001", {352, 240, 30000.0 / 1001, MpegNorm::NtscSif}},
        {"film-vcd", "352x240", "24000/1001", {352, 240, 24000.0 / 1001, MpegNorm::FilmSif}},
    };
    for (const Case& c : cases) {
        const std::string path = std::string(::testing::TempDir()) + "scan-" + c.target + ".mpg";
        const std::string command = std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=") + c.size +
                                    ":rate=" + c.rate + " -f lavfi -i sine -t 2 -target " + c.target + " '" + path +
                                    "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        CheckVideoCdSequence(path, c.expected);
        std::remove(path.c_str());
    }
}

TEST(VcdScanReal, InstalledTrackFiles)
{
    const struct {
        const char* name;
        Expectation expected;
    } tracks[] = {
        {"avseq01.npal", {352, 288, 25.0, MpegNorm::PalSif}},
        {"avseq01.ntsc", {352, 240, 30000.0 / 1001, MpegNorm::NtscSif}},
    };
    int checked = 0;
    for (const auto& track : tracks) {
        const std::string path = std::string(LUMIVOX_BIN_DIR) + "/" + track.name;
        if (!CreateMpegSource(path))
            continue;
        CheckVideoCdSequence(path, track.expected);
        auto source = CreateMpegSource(path);
        ASSERT_EQ(ScanMpegSource(*source), 0);
        EXPECT_GE(source->PlayingTime(), 0.9) << track.name << " is a one to three second sequence";
        EXPECT_LE(source->PlayingTime(), 3.1) << track.name << " is a one to three second sequence";
        EXPECT_EQ(source->FileSize() % kMpegPacketSize, 0u) << track.name << " is made of whole sector packs";
        ++checked;
    }
    if (!checked)
        GTEST_SKIP() << "the MPEG track files are not installed in " << LUMIVOX_BIN_DIR;
}

} // namespace
} // namespace lumivox

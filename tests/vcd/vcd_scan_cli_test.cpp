// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli scan: the report, its JSON form and its errors.

#include <gtest/gtest.h>

#include "vcd/MpegSource.h"
#include "vcd/vcd_scan_stream.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace lumivox {
namespace {

using test::Append;
using test::Bytes;

struct CliRun {
    int status = -1;
    std::string output; // standard output and standard error
};

CliRun RunCli(const std::string& arguments)
{
    CliRun run;
    const std::string command = std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        run.output.append(chunk, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class VcdScanCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (FILE* cli = std::fopen((std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli").c_str(), "rb"))
            std::fclose(cli);
        else
            GTEST_SKIP() << "lumivox-cli is not built in " << LUMIVOX_BIN_DIR;
    }
};

// Two sector packs: a still of 352 × 288 at 25 frames/s with a time stamp, and a music
// pack 1.5 s later.
Bytes SmallSegment()
{
    Bytes stream;
    Bytes video = test::PackHeader(0);
    Bytes es = test::SequenceHeader(352, 288, 3);
    Append(es, test::GroupHeader());
    Append(es, test::Picture(1));
    Append(video, test::Pes(0xE1, es, true, 90000));
    test::FillPack(video);
    Append(stream, video);
    Bytes audio = test::PackHeader(100);
    Append(audio, test::Pes(0xC0, test::AudioFrame(3), true, 90000 + 135000));
    test::FillPack(audio);
    Append(stream, audio);
    return stream;
}

TEST_F(VcdScanCli, JsonReport)
{
    // Each test has a file of its own: ctest runs the tests of a program at the same time.
    const std::string path = test::WriteTempFile("cli-segment-json.mpg", SmallSegment());
    const CliRun run = RunCli("scan '" + path + "' --json");
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* expected :
         {"\"packets\": 2", "\"kinds\": {\"video\": 1, \"audio\": 1, \"zero\": 0", "\"stream\": \"0xE1\"",
          "\"width\": 352, \"height\": 288, \"frame_rate\": 25.000000", "\"norm\": \"PAL SIF\"", "\"stream\": \"0xC0\"",
          "\"layer\": 2, \"sampling_rate\": 44100, \"bit_rate\": 224000", "\"mode\": \"single channel\"",
          "\"playing_time\": 1.500000"})
        EXPECT_NE(run.output.find(expected), std::string::npos) << "missing " << expected << " in\n" << run.output;
    EXPECT_EQ(run.output.front(), '{');
    EXPECT_EQ(run.output.substr(run.output.size() - 2), "}\n");
}

TEST_F(VcdScanCli, TextReport)
{
    const std::string path = test::WriteTempFile("cli-segment-text.mpg", SmallSegment());
    const CliRun run = RunCli("scan '" + path + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    for (const char* expected :
         {"Packets: 2", "Video stream 0xE1 (normal-resolution still)", "352 x 288 at 25.000 frames/s, norm PAL SIF",
          "MPEG-1 Layer II, 44100 Hz", "Playing time: 1.500000 s"})
        EXPECT_NE(run.output.find(expected), std::string::npos) << "missing " << expected << " in\n" << run.output;
}

TEST_F(VcdScanCli, Errors)
{
    const std::string missing = std::string(::testing::TempDir()) + "cli-missing.mpg";
    const std::string text = test::WriteTempFile("cli-text.mpg", Bytes{'h', 'i', '\n'});
    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"scan '" + missing + "'", 1, missing + ": no such file"},
        {"scan '" + text + "'", 1, text + ": not an MPEG program stream"},
        {"scan", 2, "no file given"},
        {"scan a.mpg b.mpg", 2, "only one file"},
        {"scan --xml a.mpg", 2, "unknown option '--xml'"},
    };
    for (const Case& c : cases) {
        const CliRun run = RunCli(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n" << run.output;
    }
    // A file without packets still gets its JSON report.
    const CliRun run = RunCli("scan '" + text + "' --json");
    EXPECT_NE(run.output.find("\"packets\": 0"), std::string::npos) << run.output;
}

// Our own still segments as the scanner sees them: one sector per pack, the companion
// still (0xE1) of the norm and the high-resolution still (0xE2), and the music (0xC0)
// when there is some. Needs the "still" command, which writes whole segments.
TEST_F(VcdScanCli, OwnStillSegments)
{
    if (RunCli("help still").status != 0)
        GTEST_SKIP() << "lumivox-cli has no still command in this build";
    const std::string picture = std::string(LUMIVOX_SOURCE_DIR) + "/samples/mountain_lakes_01.jpg";
    const std::string music = std::string(::testing::TempDir()) + "scan-music.mp2";
    const bool haveMusic =
        std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=3 -ac 2 -ar 44100 "
                     "-c:a mp2 -b:a 192k '" +
                     music + "' 2>/dev/null")
                        .c_str()) == 0;
    struct Case {
        const char* norm;
        bool withMusic;
        unsigned width, height;
        MpegNorm companionNorm;
    };
    const Case cases[] = {
        {"--pal", false, 352, 288, MpegNorm::PalSif},
        {"--ntsc", false, 352, 240, MpegNorm::NtscSif},
        {"--pal", true, 352, 288, MpegNorm::PalSif},
    };
    for (const Case& c : cases) {
        if (c.withMusic && !haveMusic)
            continue;
        SCOPED_TRACE(std::string(c.norm) + (c.withMusic ? " with music" : ""));
        const std::string segment = std::string(::testing::TempDir()) + "scan-own-segment.mpg";
        std::string arguments = "still '" + picture + "' -o '" + segment + "' " + c.norm;
        if (c.withMusic)
            arguments += " --music '" + music + "'";
        const CliRun run = RunCli(arguments);
        ASSERT_EQ(run.status, 0) << arguments << "\n" << run.output;
        auto source = CreateMpegSource(segment);
        ASSERT_TRUE(source);
        ASSERT_EQ(ScanMpegSource(*source), 0);
        if (source->PacketCount() == 0)
            GTEST_SKIP() << "the still command writes no program stream yet";
        EXPECT_EQ(source->FileSize() % kMpegPacketSize, 0u);
        EXPECT_EQ(source->PacketCount(), source->FileSize() / kMpegPacketSize);
        EXPECT_EQ(source->PacketKindCount(PacketKind::Invalid), 0u);
        const MpegStreamInfo& info = source->StreamInfo();
        EXPECT_FALSE(info.video[kMotionVideo].present);
        const MpegVideoStreamInfo& companion = info.video[kNormalResolutionStill];
        const MpegVideoStreamInfo& high = info.video[kHighResolutionStill];
        ASSERT_TRUE(companion.present);
        ASSERT_TRUE(high.present);
        EXPECT_EQ(companion.horizontalSize, c.width);
        EXPECT_EQ(companion.verticalSize, c.height);
        EXPECT_EQ(GetNorm(companion), c.companionNorm);
        EXPECT_EQ(high.horizontalSize, 704u);
        EXPECT_EQ(high.verticalSize, 2 * c.height);
        EXPECT_EQ(GetNorm(high), MpegNorm::Unknown);
        EXPECT_EQ(info.audio[0].present, c.withMusic);
        if (c.withMusic) {
            EXPECT_EQ(info.audio[0].layer, 2);
            EXPECT_GT(source->PlayingTime(), 2.0) << "the music lasts 3 s";
        }
        EXPECT_FALSE(info.audio[1].present);
        std::remove(segment.c_str());
    }
    std::remove(music.c_str());
}

} // namespace
} // namespace lumivox

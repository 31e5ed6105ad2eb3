// SPDX-License-Identifier: GPL-2.0-or-later
// Still segments: our encoder's still, the installed companion and the music multiplexed
// into Video CD packs, read back by our own pack walk and by ffprobe; the installed MPEG
// files; and inputs the multiplexer must refuse without ending the program.

#include "encoder/encoder_helpers.h"
#include "production/MjpegLog.h"
#include "production/Multiplexer.h"
#include "production/StillEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace lumivox {
namespace {
using namespace lumivox::test;
namespace fs = std::filesystem;

struct Norm {
    const char* name;
    TvNorm norm;
    int height;
    int companionHeight;
    const char* companion;
    const char* track;
    const char* trackRate;
};
const Norm kNorms[] = {
    {"NTSC", TvNorm::Ntsc, 480, 240, "temp_x.ntsc", "avseq01.ntsc", "30000/1001"},
    {"PAL", TvNorm::Pal, 576, 288, "temp_x.npal", "avseq01.npal", "25/1"},
};

fs::path EncodeHighResolution(const TempFolder& folder, const Norm& norm)
{
    fs::path file = folder / (std::string("temp_d_") + norm.name + ".m1v");
    int h = norm.height;
    DibFrame frame = MakeFrame(704, h, 32, [h](int x, int y) { return PhotoLikeColour(x, y, 704, h); });
    StillEncoder encoder;
    encoder.SetStillFrame(frame.header.data(), nullptr, frame.pixels.data());
    std::string error;
    EXPECT_TRUE(encoder.PrepareStillEncoder(&error)) << error;
    EXPECT_TRUE(encoder.EncodeStill(file.string(), norm.norm, &error)) << error;
    return file;
}

// Two seconds of a soft tone as MPEG-1 Layer II, made by ffmpeg.
fs::path MakeMusic(const TempFolder& folder, double seconds = 2.0)
{
    fs::path file = folder / "bkmusic.mp2";
    int status = 0;
    RunCommand("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
                   " -ac 2 -ar 44100 -c:a mp2 -b:a 192k " + Quote(file.string()) + " 2>&1",
               &status);
    EXPECT_EQ(status, 0);
    return file;
}

std::string Ids(const std::vector<int>& ids)
{
    std::ostringstream text;
    for (int id : ids)
        text << std::hex << id << ' ';
    return text.str();
}

TEST(InstalledMpegFiles, CompanionStillsAreNormalResolutionVcdStills)
{
    for (const Norm& norm : kNorms) {
        std::vector<std::uint8_t> bytes = ReadFile(InstalledFile(norm.companion));
        SequenceHeader header = ParseSequenceHeader(bytes);
        ASSERT_TRUE(header.found) << norm.companion;
        EXPECT_EQ(header.width, 352) << norm.companion;
        EXPECT_EQ(header.height, norm.companionHeight) << norm.companion;
        // 4:3 on the norm's pixel grid (ISO/IEC 11172-2 pel aspect: 8 = 625-line, 12 = 525-line).
        EXPECT_EQ(header.aspectCode, norm.norm == TvNorm::Pal ? 8 : 12) << norm.companion;
        EXPECT_LE(bytes.size(), 46u * 1024u) << norm.companion << ": fits the normal-resolution buffer";
    }
}

TEST(InstalledMpegFiles, TracksAreShortVcdProgramStreamsThatPlay)
{
    for (const Norm& norm : kNorms) {
        fs::path file = InstalledFile(norm.track);
        std::vector<std::uint8_t> bytes = ReadFile(file);
        PackWalk walk = WalkPacks(bytes, kVcdPackBytes);
        EXPECT_EQ(walk.firstProblem, "") << norm.track;
        EXPECT_TRUE(std::find(walk.streamIds.begin(), walk.streamIds.end(), 0xE0) != walk.streamIds.end())
            << norm.track << ": " << Ids(walk.streamIds);
        EXPECT_TRUE(std::find(walk.streamIds.begin(), walk.streamIds.end(), 0xC0) != walk.streamIds.end())
            << norm.track << ": " << Ids(walk.streamIds);
        if (!HaveFfmpeg())
            continue;
        auto streams = ProbeStreams(file);
        ASSERT_EQ(streams.size(), 2u) << norm.track;
        EXPECT_EQ(streams[0].rfind("mp2,audio,44100,2", 0), 0u) << streams[0];
        EXPECT_EQ(
            streams[1].rfind("mpeg1video,video,352," + std::to_string(norm.companionHeight) + "," + norm.trackRate, 0),
            0u)
            << streams[1];
        double duration = std::atof(
            RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(file.string())).c_str());
        EXPECT_GE(duration, 1.0) << norm.track;
        EXPECT_LE(duration, 3.0) << norm.track;
        int status = 0;
        RunCommand("ffmpeg -v error -i " + Quote(file.string()) + " -f null - 2>&1", &status);
        EXPECT_EQ(status, 0) << norm.track << " does not decode cleanly";
    }
}

TEST(StillSegments, MenuPageWithoutMusicHoldsBothStillsOnly)
{
    TempFolder folder;
    for (const Norm& norm : kNorms) {
        fs::path still = EncodeHighResolution(folder, norm);
        fs::path segment = folder / (std::string("menu_01_") + norm.name + ".mpg");
        std::string companion = InstalledFile(norm.companion).string();
        std::vector<std::string> argv{"mplex", segment.string(), still.string(), companion};
        std::string error;
        ASSERT_EQ(MultiplexMain(argv, &error), 0) << norm.name << ": " << error;

        PackWalk walk = WalkPacks(ReadFile(segment), kVcdPackBytes);
        EXPECT_EQ(walk.firstProblem, "") << norm.name;
        std::vector<int> ids = walk.streamIds;
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, (std::vector<int>{0xE1, 0xE2})) << norm.name << ": " << Ids(walk.streamIds);

        if (!HaveFfmpeg())
            continue;
        auto streams = ProbeStreams(segment);
        ASSERT_EQ(streams.size(), 2u) << norm.name;
        EXPECT_EQ(streams[0].rfind("mpeg1video,video,352," + std::to_string(norm.companionHeight), 0), 0u)
            << streams[0];
        EXPECT_EQ(streams[1].rfind("mpeg1video,video,704," + std::to_string(norm.height), 0), 0u) << streams[1];
    }
}

TEST(StillSegments, MenuPageWithMusicCarriesTheAudioForItsWholeLength)
{
    if (!HaveFfmpeg())
        GTEST_SKIP() << "ffmpeg is needed to make the Layer II music";
    TempFolder folder;
    fs::path music = MakeMusic(folder);
    std::uintmax_t musicBytes = fs::file_size(music);
    for (const Norm& norm : kNorms) {
        fs::path still = EncodeHighResolution(folder, norm);
        fs::path segment = folder / (std::string("menu_02_") + norm.name + ".mpg");
        std::vector<std::string> argv{"mplex", segment.string(), still.string(), InstalledFile(norm.companion).string(),
                                      music.string()};
        std::string error;
        ASSERT_EQ(MultiplexMain(argv, &error), 0) << norm.name << ": " << error;

        PackWalk walk = WalkPacks(ReadFile(segment), kVcdPackBytes);
        EXPECT_EQ(walk.firstProblem, "") << norm.name;
        std::vector<int> ids = walk.streamIds;
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, (std::vector<int>{0xC0, 0xE1, 0xE2})) << norm.name << ": " << Ids(walk.streamIds);
        EXPECT_EQ(walk.audioPayloadBytes, musicBytes) << norm.name << ": every byte of the music is carried";

        auto streams = ProbeStreams(segment);
        ASSERT_EQ(streams.size(), 3u) << norm.name;
        EXPECT_EQ(streams[0].rfind("mp2,audio,44100,2", 0), 0u) << streams[0];
        EXPECT_EQ(streams[1].rfind("mpeg1video,video,352," + std::to_string(norm.companionHeight), 0), 0u)
            << streams[1];
        EXPECT_EQ(streams[2].rfind("mpeg1video,video,704," + std::to_string(norm.height), 0), 0u) << streams[2];
        int status = 0;
        std::string decodeErrors =
            RunCommand("ffmpeg -v error -i " + Quote(segment.string()) + " -map 0:a -f null - 2>&1", &status);
        EXPECT_EQ(status, 0) << decodeErrors;
    }
}

TEST(StillSegments, SlideSegmentFromMultiplexStill)
{
    TempFolder folder;
    const Norm& norm = kNorms[1];
    fs::path still = EncodeHighResolution(folder, norm);
    fs::path segment = folder / "menu_01_pic_01.mpg";
    std::string error;
    ASSERT_EQ(MultiplexStill(segment.string(), still.string(), InstalledFile(norm.companion).string(), &error), 0)
        << error;
    PackWalk walk = WalkPacks(ReadFile(segment), kVcdPackBytes);
    EXPECT_EQ(walk.firstProblem, "");
    std::vector<int> ids = walk.streamIds;
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int>{0xE1, 0xE2})) << Ids(walk.streamIds);
}

// Collects every message of the jobs run while it lives.
class LogCapture {
public:
    LogCapture()
    {
        SetMjpegLogSink([this](const MjpegLogMessage& message) { messages.push_back(message); });
    }
    ~LogCapture() { SetMjpegLogSink({}); }
    bool Has(MjpegLogLevel level, const std::string& text) const
    {
        for (const auto& message : messages)
            if (message.level == level && message.text == text)
                return true;
        return false;
    }
    std::vector<MjpegLogMessage> messages;
};

TEST(StillSegments, TheLogHookReceivesTheBannerClassificationAndPadding)
{
    TempFolder folder;
    LogCapture log;
    const Norm& norm = kNorms[0];
    fs::path still = EncodeHighResolution(folder, norm);
    bool padded = false;
    for (const auto& message : log.messages)
        padded |= message.text.rfind("Padding still to size: ", 0) == 0 && message.text.back() == '\n';
    EXPECT_TRUE(padded);

    fs::path text = folder / "readme.txt";
    WriteFile(text, std::vector<std::uint8_t>(3000, 'a'));
    std::string companion = InstalledFile(norm.companion).string();
    std::string error;
    ASSERT_EQ(MultiplexStill((folder / "a.mpg").string(), still.string(), companion, &error), 0) << error;
    EXPECT_NE(MultiplexMain({"mplex", (folder / "b.mpg").string(), text.string()}, &error), 0);

    using L = MjpegLogLevel;
    EXPECT_TRUE(log.Has(L::Information, "mplex version 2.2.1 ($Date: 2002/02/04 19:06:14 $)\n"));
    EXPECT_TRUE(log.Has(L::Information, "File " + still.string() + " looks like an MPEG Video stream.\n"));
    EXPECT_TRUE(log.Has(L::Information, "Found 2 video streams 0 MPEG audio streams and 0 AC3 streams\n"));
    EXPECT_TRUE(log.Has(L::Information, "Multiplexing stills stream!\n"));
    EXPECT_TRUE(log.Has(L::Error, "File " + text.string() + " unrecogniseable!\n"));
    EXPECT_TRUE(log.Has(L::Error, "Unrecogniseable file(s)... exiting.\n"));
}

TEST(MjpegLogLevels, VerbosityChoosesTheLowestShownLevel)
{
    // Absent: nothing shown; 0: warnings and errors; 1: also information; 2: also debug.
    EXPECT_EQ(MjpegLowestShownLevel(-1), 5);
    EXPECT_EQ(MjpegLowestShownLevel(0), static_cast<int>(MjpegLogLevel::Warning));
    EXPECT_EQ(MjpegLowestShownLevel(1), static_cast<int>(MjpegLogLevel::Information));
    EXPECT_EQ(MjpegLowestShownLevel(2), static_cast<int>(MjpegLogLevel::Debug));
}

TEST(StillSegments, FewerThanThreeArgumentsDoNothing)
{
    TempFolder folder;
    std::string error;
    fs::path out = folder / "never.mpg";
    EXPECT_EQ(MultiplexMain({"mplex", out.string()}, &error), 0);
    EXPECT_EQ(MultiplexMain({"mplex"}, &error), 0);
    EXPECT_EQ(MultiplexMain(0, nullptr, &error), 0);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(error.empty());
}

TEST(StillSegments, RefusedInputsFailTheCallAndTheNextMultiplexSucceeds)
{
    TempFolder folder;
    const Norm& norm = kNorms[0];
    fs::path still = EncodeHighResolution(folder, norm);
    std::string companion = InstalledFile(norm.companion).string();
    fs::path text = folder / "notes.txt";
    WriteFile(text, std::vector<std::uint8_t>(5000, 'x'));
    fs::path empty = folder / "empty.m1v";
    WriteFile(empty, {});
    fs::path truncated = folder / "truncated.m1v";
    {
        std::vector<std::uint8_t> bytes = ReadFile(still);
        bytes.resize(5);
        WriteFile(truncated, bytes);
    }

    struct Case {
        const char* name;
        std::vector<std::string> inputs;
        std::string expected; // the error text, or its start
    } cases[] = {
        {"unrecognisable input", {still.string(), companion, text.string()}, "Unrecogniseable file(s)... exiting.\n"},
        {"empty input", {still.string(), empty.string()}, "Unrecogniseable file(s)... exiting.\n"},
        {"cut-off still", {truncated.string(), companion}, "Illegal MPEG stream at offset"},
        {"missing input",
         {still.string(), (folder / "missing.m1v").string()},
         "Unable to open file " + (folder / "missing.m1v").string() + " for reading.\n"},
        {"two stills of one kind",
         {still.string(), still.string()},
         "VCD mixed stills stream cannot contain two streams of the same type!"},
        {"three stills",
         {still.string(), companion, companion},
         "VCD stills: no more than two streams (one normal one hi-res) possible\n"},
    };
    fs::path segment = folder / "segment.mpg";
    for (const auto& c : cases) {
        std::vector<std::string> argv{"mplex", segment.string()};
        argv.insert(argv.end(), c.inputs.begin(), c.inputs.end());
        std::string error;
        EXPECT_NE(MultiplexMain(argv, &error), 0) << c.name;
        // Our own texts are whole; for the library's parse errors the start is enough.
        EXPECT_EQ(error.substr(0, c.expected.size()), c.expected) << c.name << ": " << error;

        // The program goes on: the next segment is made in the same process.
        fs::path next = folder / "next.mpg";
        std::string nextError;
        ASSERT_EQ(MultiplexStill(next.string(), still.string(), companion, &nextError), 0)
            << c.name << ": " << nextError;
        EXPECT_EQ(WalkPacks(ReadFile(next), kVcdPackBytes).firstProblem, "") << c.name;
    }

    std::string error;
    fs::path unwritable = folder / "no-such-folder" / "menu_01.mpg";
    EXPECT_NE(MultiplexStill(unwritable.string(), still.string(), companion, &error), 0);
    EXPECT_EQ(error, "Could not open for writing: " + unwritable.string() + "\n");
}

TEST(StillSegments, HighResolutionStillSmallerThanTheCompanionIsRefused)
{
    TempFolder folder;
    // A normal-resolution still standing in as the "high-resolution" one, and a bulky
    // companion: the multiplexer refuses the pair.
    fs::path smallHighRes = folder / "small.m1v";
    fs::copy_file(InstalledFile("temp_x.ntsc"), smallHighRes);
    std::string error;
    EXPECT_NE(MultiplexStill((folder / "x.mpg").string(), smallHighRes.string(), InstalledFile("temp_x.npal").string(),
                             &error),
              0);
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace lumivox

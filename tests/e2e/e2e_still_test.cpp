// SPDX-License-Identifier: GPL-2.0-or-later
// lumivox-cli still: the bare high-resolution still and the whole still segment, read
// back with ffprobe/ffmpeg and compared with the slide frame the renderer makes.

#include <gtest/gtest.h>

#include "e2e/e2e_helpers.h"
#include "picture/FrameRenderer.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace lumivox::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPackBytes = 2324;
constexpr double kMinimumPsnr = 35.0;

std::string SamplePicture(const char* name)
{
    return std::string(LUMIVOX_SOURCE_DIR) + "/samples/" + name;
}

class E2eStill : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(CliPath()))
            GTEST_SKIP() << "lumivox-cli is not built in " << LUMIVOX_BIN_DIR;
        if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed to read the stills back";
        // The default norm comes from the settings: keep the user's own out of the test.
        setenv("LUMIVOX_CONFIG_DIR", folder_.Path().c_str(), 1);
    }

    // Luminance of the decoded still against the frame the renderer makes of the picture.
    void ExpectMatchesRenderedFrame(const fs::path& file, int streamId, const std::string& picture, int rotation,
                                    TvNorm norm)
    {
        PicBitmap frame;
        RenderSlideFrame(picture, rotation, norm, frame);
        const std::vector<std::uint8_t> rendered = FrameLuma(frame);
        const std::vector<std::uint8_t> decoded = DecodeLuma(file, streamId, kFrameWidth, FrameHeight(norm));
        ASSERT_FALSE(decoded.empty()) << "ffmpeg cannot decode a 704 x " << FrameHeight(norm) << " picture from "
                                      << file;
        EXPECT_GT(Psnr(rendered, decoded), kMinimumPsnr) << file;
    }

    TempFolder folder_;
};

std::string Contains(const std::vector<std::string>& lines, const std::string& wanted)
{
    for (const std::string& line : lines)
        if (line.find(wanted) != std::string::npos)
            return line;
    return {};
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "  " + line + "\n";
    return text;
}

TEST_F(E2eStill, ElementaryStillIsTheRenderedSlide)
{
    struct Case {
        const char* options;
        TvNorm norm;
        int rotation;
        const char* picture;
    };
    const Case cases[] = {
        {"--ntsc", TvNorm::Ntsc, 0, "mountain_lakes_01.jpg"},
        {"--pal", TvNorm::Pal, 0, "sunset_coast_02.jpg"},
        {"--pal --rotate 90", TvNorm::Pal, 90, "winter_forest_01.jpg"},
        {"--ntsc --rotate 270", TvNorm::Ntsc, 270, "winter_forest_04_portrait.jpg"},
        {"--rotate 180", TvNorm::Ntsc, 180, "sunset_coast_01.jpg"}, // no settings: NTSC
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.picture) + " " + c.options);
        const fs::path out = folder_ / "still.m1v";
        const CommandResult run =
            RunCli("still " + Quote(SamplePicture(c.picture)) + " -o " + Quote(out.string()) + " " + c.options);
        ASSERT_EQ(run.status, 0) << run.output;
        const std::vector<std::string> streams = ProbeStreams(out);
        ASSERT_EQ(streams.size(), 1u) << Joined(streams);
        const std::string size = "width=704|height=" + std::to_string(FrameHeight(c.norm));
        EXPECT_NE(streams[0].find("codec_name=mpeg1video"), std::string::npos) << streams[0];
        EXPECT_NE(streams[0].find(size), std::string::npos) << streams[0];
        // The stills profile pads every still to its 200 KB target.
        EXPECT_GE(fs::file_size(out), 204800u);
        ExpectMatchesRenderedFrame(out, 0, SamplePicture(c.picture), c.rotation, c.norm);
    }
}

// A 24-bit Windows bitmap, white with a black disc of the given radius in its centre.
void WriteDiscPicture(const fs::path& path, int width, int height, int radius)
{
    const int stride = (width * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> file(54 + static_cast<std::size_t>(stride) * height, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<std::uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    file[26] = 1;
    file[28] = 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = x + 0.5 - width / 2.0;
            const double dy = y + 0.5 - height / 2.0;
            const std::uint8_t level = dx * dx + dy * dy <= double(radius) * radius ? 0 : 255;
            std::uint8_t* pixel = &file[54 + static_cast<std::size_t>(y) * stride + x * 3];
            pixel[0] = pixel[1] = pixel[2] = level;
        }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

// The television shows a still as a 4:3 picture: its pixels are 10:11 (NTSC) or 12:11
// (PAL) as wide as high. A disc in a photo must come out of ffmpeg's decode of the still
// as an ellipse that this pixel aspect turns back into a circle (within 1 %), and a 4:3
// photo must fill the frame without bars.
TEST_F(E2eStill, CircleStaysACircleOnTheTelevision)
{
    struct Case {
        const char* name;
        int width, height, radius;
        bool fillsFrame;
    };
    const Case pictures[] = {{"4:3", 2000, 1500, 600, true}, {"3:2", 1800, 1200, 450, false}};
    for (const Case& c : pictures) {
        const fs::path picture = folder_ / "disc.bmp";
        WriteDiscPicture(picture, c.width, c.height, c.radius);
        for (const TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
            const bool pal = norm == TvNorm::Pal;
            SCOPED_TRACE(std::string(c.name) + (pal ? " PAL" : " NTSC"));
            const fs::path out = folder_ / "disc.m1v";
            const CommandResult run = RunCli("still " + Quote(picture.string()) + " -o " + Quote(out.string()) +
                                             (pal ? " --pal" : " --ntsc"));
            ASSERT_EQ(run.status, 0) << run.output;
            const int height = FrameHeight(norm);
            const std::vector<std::uint8_t> luma = DecodeLuma(out, 0, kFrameWidth, height);
            ASSERT_EQ(luma.size(), static_cast<std::size_t>(kFrameWidth) * height);
            auto dark = [&](int x, int y) { return luma[static_cast<std::size_t>(y) * kFrameWidth + x] < 128; };
            // The disc's extent, counted in the rows of the picture (a bar row is dark
            // from edge to edge).
            std::vector<bool> pictureRow(static_cast<std::size_t>(height));
            int widest = 0;
            for (int y = 0; y < height; ++y) {
                int run = 0;
                for (int x = 0; x < kFrameWidth; ++x)
                    run += dark(x, y);
                pictureRow[static_cast<std::size_t>(y)] = run < kFrameWidth;
                if (run < kFrameWidth)
                    widest = std::max(widest, run);
            }
            int tallest = 0;
            for (int x = 0; x < kFrameWidth; ++x) {
                int run = 0;
                for (int y = 0; y < height; ++y)
                    run += pictureRow[static_cast<std::size_t>(y)] && dark(x, y);
                tallest = std::max(tallest, run);
            }
            const double pixelAspect = pal ? 12.0 / 11.0 : 10.0 / 11.0;
            const double shownWidth = widest * pixelAspect;
            EXPECT_NEAR(shownWidth / tallest, 1.0, 0.01)
                << "disc " << widest << " x " << tallest << " pixels, shown " << shownWidth << " wide";
            // No black bars around a 4:3 photo; thin ones above and below a 3:2 photo.
            int barPixels = 0;
            for (int x = 0; x < kFrameWidth; ++x)
                barPixels += dark(x, 0) + dark(x, height - 1);
            for (int y = 0; y < height; ++y)
                barPixels += dark(0, y) + dark(kFrameWidth - 1, y);
            if (c.fillsFrame)
                EXPECT_EQ(barPixels, 0);
            else
                EXPECT_GE(barPixels, 2 * kFrameWidth);
        }
    }
}

TEST_F(E2eStill, SegmentHoldsBothStillsAndTheMusic)
{
    const fs::path mp2 = folder_ / "music.mp2";
    const fs::path wav = folder_ / "music.wav";
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=330:duration=4 -ac 2 -ar 44100 "
                       "-c:a mp2 -b:a 192k " +
                       Quote(mp2.string()))
                  .status,
              0);
    ASSERT_EQ(RunShell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=3 -ac 2 -ar 44100 " +
                       Quote(wav.string()))
                  .status,
              0);
    struct Case {
        const char* options;
        TvNorm norm;
        std::string music;
    };
    const Case cases[] = {
        {"--ntsc", TvNorm::Ntsc, ""},
        {"--pal", TvNorm::Pal, ""},
        {"--ntsc", TvNorm::Ntsc, mp2.string()},
        {"--pal", TvNorm::Pal, wav.string()}, // converted to Layer II first
    };
    const std::string picture = SamplePicture("mountain_lakes_02.jpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options) + (c.music.empty() ? "" : " with " + c.music));
        const fs::path out = folder_ / "segment.mpg";
        std::string arguments = "still " + Quote(picture) + " -o " + Quote(out.string()) + " " + c.options;
        if (!c.music.empty())
            arguments += " --music " + Quote(c.music);
        const CommandResult run = RunCli(arguments);
        ASSERT_EQ(run.status, 0) << run.output;

        const PackLayout packs = CheckPacks(ReadFile(out), kPackBytes);
        EXPECT_EQ(packs.firstProblem, "");
        EXPECT_GT(packs.packs, 0u);

        const int height = FrameHeight(c.norm);
        const std::vector<std::string> streams = ProbeStreams(out);
        const std::string companion = Contains(streams, "id=0x1e1");
        const std::string high = Contains(streams, "id=0x1e2");
        EXPECT_NE(companion.find("codec_name=mpeg1video"), std::string::npos) << Joined(streams);
        EXPECT_NE(companion.find("width=352|height=" + std::to_string(height / 2)), std::string::npos)
            << Joined(streams);
        EXPECT_NE(high.find("codec_name=mpeg1video"), std::string::npos) << Joined(streams);
        EXPECT_NE(high.find("width=704|height=" + std::to_string(height)), std::string::npos) << Joined(streams);
        const std::string audio = Contains(streams, "codec_type=audio");
        if (c.music.empty()) {
            EXPECT_EQ(streams.size(), 2u) << Joined(streams);
        } else {
            EXPECT_EQ(streams.size(), 3u) << Joined(streams);
            EXPECT_NE(audio.find("id=0x1c0"), std::string::npos) << Joined(streams);
            EXPECT_NE(audio.find("codec_name=mp2"), std::string::npos) << Joined(streams);
            EXPECT_NE(audio.find("sample_rate=44100"), std::string::npos) << Joined(streams);
        }
        ExpectMatchesRenderedFrame(out, 0x1E2, picture, 0, c.norm);
    }
}

// Without --pal or --ntsc the norm is the settings' "PAL" key.
TEST_F(E2eStill, DefaultNormFollowsTheSettings)
{
    std::ofstream(folder_ / "config.ini") << "[GENERAL]\nPAL=1\n";
    const fs::path out = folder_ / "default.m1v";
    const CommandResult run =
        RunCli("still " + Quote(SamplePicture("sunset_coast_03.jpg")) + " -o " + Quote(out.string()));
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<std::string> streams = ProbeStreams(out);
    ASSERT_EQ(streams.size(), 1u) << Joined(streams);
    EXPECT_NE(streams[0].find("width=704|height=576"), std::string::npos) << streams[0];
}

// Every refusal names the file and the reason on one line, and leaves nothing under the
// output name — an older file there survives.
TEST_F(E2eStill, ErrorsNameTheFileAndLeaveTheOutputAlone)
{
    const std::string picture = SamplePicture("mountain_lakes_01.jpg");
    const std::string missing = (folder_ / "missing.jpg").string();
    const std::string garbage = (folder_ / "garbage.jpg").string();
    std::ofstream(garbage) << "this is not a JPEG file at all";
    const std::string truncated = (folder_ / "truncated.jpg").string();
    {
        const std::vector<std::uint8_t> bytes = ReadFile(picture);
        std::ofstream(truncated, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 300);
    }
    const std::string textMusic = (folder_ / "notes.mp2").string();
    std::ofstream(textMusic) << "la la la\n";
    const std::string output = (folder_ / "kept.mpg").string();
    const std::string elementary = (folder_ / "kept.m1v").string();
    const std::string noFolder = (folder_ / "no-such-folder" / "x.mpg").string();

    struct Case {
        std::string arguments;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {Quote(missing) + " -o " + Quote(output), 1, missing + ": no such file"},
        {Quote(garbage) + " -o " + Quote(output), 1, garbage + ": "},
        {Quote(truncated) + " -o " + Quote(output), 1, truncated + ": "},
        {Quote(picture) + " -o " + Quote(output) + " --music " + Quote(textMusic), 1,
         textMusic + ": not MPEG audio Layer II"},
        {Quote(picture) + " -o " + Quote(output) + " --music " + Quote(missing), 1, missing + ": no such file"},
        {Quote(picture) + " -o " + Quote(elementary) + " --music " + Quote(textMusic), 2, "cannot carry music"},
        {Quote(picture) + " -o " + Quote(noFolder), 1, "does not exist"},
        {Quote(folder_.Path().string()) + " -o " + Quote(output), 1, "a folder, not a picture"},
        {Quote(picture) + " -o " + Quote(folder_.Path().string()), 1, "a folder; give the file name"},
        {Quote(picture) + " -o " + Quote(output) + " --rotate 45", 2, "90, 180 or 270"},
        {Quote(picture), 2, "no output given"},
        {"-o " + Quote(output), 2, "no picture given"},
        {Quote(picture) + " " + Quote(picture) + " -o " + Quote(output), 2, "only one picture"},
        {Quote(picture) + " -o " + Quote(output) + " --sepia", 2, "unknown option '--sepia'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        std::ofstream(output) << "older file";
        std::ofstream(elementary) << "older file";
        const CommandResult run = RunCli("still " + c.arguments);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_EQ(ReadFile(output), std::vector<std::uint8_t>({'o', 'l', 'd', 'e', 'r', ' ', 'f', 'i', 'l', 'e'}));
        EXPECT_EQ(ReadFile(elementary).size(), 10u);
        for (const auto& entry : fs::directory_iterator(folder_.Path()))
            EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
    }
}

TEST_F(E2eStill, HelpDescribesBothOutputs)
{
    const CommandResult run = RunCli("help still");
    EXPECT_EQ(run.status, 0);
    for (const char* expected : {"OUT.m1v", "--music", "--rotate", "--pal, --ntsc", "2,324"})
        EXPECT_NE(run.output.find(expected), std::string::npos) << "missing " << expected << "\n" << run.output;
}

} // namespace
} // namespace lumivox::e2e

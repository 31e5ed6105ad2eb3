// SPDX-License-Identifier: GPL-2.0-or-later
// "lumivox-cli music" as a user runs it: the converted file on success, one line naming
// the file and the reason on failure, and no temporary files left behind.

#include <gtest/gtest.h>

#include <filesystem>

#include "music/music_tools.h"

namespace lumivox {
namespace {

std::string Cli()
{
    return std::string(LUMIVOX_BIN_DIR) + "/lumivox-cli";
}

class MusicCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(Cli()))
            GTEST_SKIP() << "lumivox-cli is not built";
        LUMIVOX_REQUIRE_FFMPEG();
    }
    int Run(const std::string& arguments, std::string* output)
    {
        return test::RunCommand(
            "TMPDIR=" + test::ShellQuote(scratch_ / "tmp") + " " + Cli() + " music " + arguments + " 2>&1", output);
    }
    test::ScratchDir scratch_;
};

TEST_F(MusicCommand, ConvertsAndCleansUp)
{
    std::filesystem::create_directory(scratch_ / "tmp");
    const std::string source = scratch_ / "song.mp3";
    test::Ffmpeg(test::TestSignal(48000, 2.0) + " -ac 2 -c:a libmp3lame " + test::ShellQuote(source));
    std::string output;
    ASSERT_EQ(Run(test::ShellQuote(source) + " -o " + test::ShellQuote(scratch_ / "out.mp2"), &output), 0) << output;
    const test::ProbedAudio probed = test::Probe(scratch_ / "out.mp2");
    EXPECT_EQ(probed.codec, "mp2");
    EXPECT_EQ(probed.bitRate, 192000);
    EXPECT_TRUE(std::filesystem::is_empty(scratch_ / "tmp")) << "the intermediate file was left behind";
}

TEST_F(MusicCommand, SaysWhyItCannot)
{
    std::filesystem::create_directory(scratch_ / "tmp");
    test::WriteBytes(scratch_ / "song.ogg", {1, 2, 3, 4});
    test::WriteBytes(scratch_ / "empty.mp3", {});
    const std::string wave = scratch_ / "song.wav";
    test::Ffmpeg(test::TestSignal(44100, 0.5) + " -ac 1 -c:a pcm_s16le " + test::ShellQuote(wave));
    std::filesystem::create_hard_link(wave, scratch_ / "same.mp2");
    const auto waveSize = std::filesystem::file_size(wave);
    struct Case {
        std::string arguments;
        int status;
        const char* message;
    } cases[] = {
        {test::ShellQuote(scratch_ / "song.ogg") + " -o x.mp2", 1, "song.ogg: menu music must be an MP3"},
        {test::ShellQuote(scratch_ / "empty.mp3") + " -o x.mp2", 1, "empty.mp3: no MPEG audio Layer III frame"},
        {test::ShellQuote(scratch_ / "song.ogg"), 2, "usage"},
        {"-o x.mp2 --loud " + test::ShellQuote(scratch_ / "song.ogg"), 2, "unknown option '--loud'"},
        // An output that is the source (by name or by another link) would replace it.
        {test::ShellQuote(wave) + " -o " + test::ShellQuote(wave), 1, "is the source file itself"},
        {test::ShellQuote(wave) + " -o " + test::ShellQuote(scratch_ / "same.mp2"), 1, "is the source file itself"},
        {test::ShellQuote(wave) + " -o " + test::ShellQuote(scratch_ / "tmp") + "/", 1, "names a folder"},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(Run(c.arguments, &output), c.status) << c.arguments;
        EXPECT_NE(output.find(c.message), std::string::npos) << c.arguments << "\n" << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }
    EXPECT_EQ(std::filesystem::file_size(wave), waveSize);
}

} // namespace
} // namespace lumivox

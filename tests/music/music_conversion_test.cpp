// SPDX-License-Identifier: GPL-2.0-or-later
// ConvertBackgroundMusic end to end on MP3 and WAVE files made by ffmpeg, with ffprobe and
// our own frame walk as the readers of the Layer II result.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "mpadec/MpegAudioDecoder.h"
#include "music/music_tools.h"
#include "production/MusicConversion.h"

namespace lumivox {
namespace {

using test::ScratchDir;

// Walks the Layer II file frame by frame with our own header reader; every frame must
// be Layer II of one version and rate, without CRC or emphasis.
struct LayerTwoWalk {
    int frames = 0;
    int versionBit = -1;
    int sampleRate = 0;
    int kbps = 0;
    bool monoEverywhere = true;
    bool stereoOrJointEverywhere = true;
    std::string problem;
};

LayerTwoWalk WalkLayerTwo(const std::vector<std::uint8_t>& bytes)
{
    LayerTwoWalk walk;
    std::size_t at = 0;
    while (at + 4 <= bytes.size()) {
        MpegFrameHeader header;
        const int length = ParseFrameHeader(bytes.data() + at, bytes.size() - at, nullptr, &header);
        if (length <= 0) {
            walk.problem = "no frame header at offset " + std::to_string(at);
            return walk;
        }
        if (header.layerCode != kMpegLayerCodeII || header.protection != 1 || header.emphasis != 0 ||
            header.copyright != 0 || header.original != 0) {
            walk.problem = "frame at offset " + std::to_string(at) + " is not plain Layer II";
            return walk;
        }
        if (walk.frames == 0) {
            walk.versionBit = header.versionBit;
            walk.sampleRate = MpegSampleRate(header);
            walk.kbps = MpegBitrateKbps(header);
        } else if (walk.versionBit != header.versionBit || walk.sampleRate != MpegSampleRate(header) ||
                   walk.kbps != MpegBitrateKbps(header)) {
            walk.problem = "frame at offset " + std::to_string(at) + " changes the stream";
            return walk;
        }
        walk.monoEverywhere &= header.channelMode == kMpegChannelModeMono;
        walk.stereoOrJointEverywhere &= header.channelMode == 0 || header.channelMode == 1;
        ++walk.frames;
        at += static_cast<std::size_t>(length);
    }
    if (at != bytes.size())
        walk.problem = "trailing bytes after the last frame";
    return walk;
}

class MusicConversion : public ::testing::Test {
protected:
    void SetUp() override { LUMIVOX_REQUIRE_FFMPEG(); }

    std::string Make(const std::string& name, int rate, int channels, double seconds, const std::string& output)
    {
        const std::string path = scratch_ / name;
        test::Ffmpeg(test::TestSignal(rate, seconds) + " -ac " + std::to_string(channels) + " " + output + " " +
                     test::ShellQuote(path));
        return path;
    }

    ScratchDir scratch_;
};

struct SourceCase {
    const char* name;
    int rate;
    int channels;
    const char* encoding; // ffmpeg output options
    int expectedKbps;
    int expectedVersionBit;
    bool isMp3;
};

TEST_F(MusicConversion, LayerTwoFollowsTheSourceRateAndChannels)
{
    const SourceCase cases[] = {
        {"stereo48.mp3", 48000, 2, "-c:a libmp3lame -b:a 192k", 192, 1, true},
        {"mono22.mp3", 22050, 1, "-c:a libmp3lame -b:a 48k", 96, 0, true},
        {"vbr44.MP3", 44100, 2, "-c:a libmp3lame -q:a 3", 192, 1, true},
        {"stereo44.wav", 44100, 2, "-c:a pcm_s16le", 192, 1, false},
        {"mono16.WAV", 16000, 1, "-c:a pcm_s16le", 96, 0, false},
        {"stereo32.wav", 32000, 2, "-c:a pcm_s16le", 192, 1, false},
        {"stereo24.wav", 24000, 2, "-c:a pcm_s16le", 96, 0, false},
    };
    for (const SourceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = Make(c.name, c.rate, c.channels, 3.0, c.encoding);
        const std::string output = scratch_ / (std::string(c.name) + ".mp2");
        std::string error;
        ASSERT_TRUE(ConvertBackgroundMusic(output, source, scratch_.Folder(), &error)) << error;
        EXPECT_EQ(std::filesystem::exists(scratch_ / "tmpwav.~av"),
                  c.isMp3 || std::filesystem::exists(scratch_ / "tmpwav.~av"));

        const test::ProbedAudio probed = test::Probe(output);
        EXPECT_EQ(probed.codec, "mp2") << probed.raw;
        EXPECT_EQ(probed.sampleRate, c.rate) << probed.raw;
        EXPECT_EQ(probed.channels, c.channels) << probed.raw;
        EXPECT_EQ(probed.bitRate, c.expectedKbps * 1000L) << probed.raw;

        const LayerTwoWalk walk = WalkLayerTwo(test::ReadBytes(output));
        EXPECT_EQ(walk.problem, "");
        EXPECT_EQ(walk.versionBit, c.expectedVersionBit);
        EXPECT_EQ(walk.kbps, c.expectedKbps);
        if (c.channels == 1)
            EXPECT_TRUE(walk.monoEverywhere);
        else
            EXPECT_TRUE(walk.stereoOrJointEverywhere);

        // Duration within one Layer II frame of the source. An MP3 source counts with all
        // its frames, as decoded without gapless trimming; a WAVE source by its samples.
        const test::ProbedAudio sourceProbe = test::Probe(source);
        double sourceSeconds = sourceProbe.duration;
        if (c.isMp3) {
            const int samplesPerFrame = c.rate >= 32000 ? 1152 : 576;
            sourceSeconds = double(sourceProbe.packets) * samplesPerFrame / c.rate;
        }
        const double outputSeconds = double(walk.frames) * 1152 / c.rate;
        EXPECT_NEAR(outputSeconds, sourceSeconds, 1152.0 / c.rate) << "frames " << walk.frames;
        // (ffprobe's own packet count is not used: its reader passes over leading frames
        // of near silence, which an MP3 source's encoder delay gives, as junk.)
    }
}

TEST_F(MusicConversion, IntermediateWaveHeaderIsCompleted)
{
    const std::string source = Make("song.mp3", 48000, 2, 2.0, "-c:a libmp3lame -b:a 128k");
    const std::string wave = scratch_ / "tmpwav.~av";
    std::string error;
    ASSERT_TRUE(DecodeMp3ToWave(source, wave, &error)) << error;
    const auto bytes = test::ReadBytes(wave);
    ASSERT_GT(bytes.size(), 44u);
    const std::uint32_t n = static_cast<std::uint32_t>(bytes.size() - 44);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(test::LittleEndian32(bytes, 4), 36 + n);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(test::LittleEndian32(bytes, 16), 16u);
    EXPECT_EQ(test::LittleEndian16(bytes, 20), 1);
    EXPECT_EQ(test::LittleEndian16(bytes, 22), 2);
    EXPECT_EQ(test::LittleEndian32(bytes, 24), 48000u);
    EXPECT_EQ(test::LittleEndian32(bytes, 28), 48000u * 4);
    EXPECT_EQ(test::LittleEndian16(bytes, 32), 4);
    EXPECT_EQ(test::LittleEndian16(bytes, 34), 16);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(test::LittleEndian32(bytes, 40), n);
    // Every frame but the leading Info frame is there: whole frames of 1152 stereo samples.
    const test::ProbedAudio probed = test::Probe(source);
    EXPECT_EQ(n, static_cast<std::uint32_t>(probed.packets) * 1152 * 4);
    EXPECT_EQ(std::filesystem::status(wave).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(MusicConversion, Id3v2TagIsSkippedWhateverItsSize)
{
    const std::string plain =
        Make("plain.mp3", 44100, 2, 2.0, "-c:a libmp3lame -b:a 160k -write_xing 0 -id3v2_version 0");
    // The same audio behind a tag of several kilobytes: text frames and a cover picture.
    const std::string cover = scratch_ / "cover.png";
    test::Ffmpeg("-f lavfi -i testsrc=size=64x64:duration=1 -frames:v 1 " + test::ShellQuote(cover));
    const std::string tagged = scratch_ / "tagged.mp3";
    test::Ffmpeg("-i " + test::ShellQuote(plain) + " -i " + test::ShellQuote(cover) +
                 " -map 0:a -map 1:v -c copy -id3v2_version 3 -write_xing 0 -metadata title=\"" +
                 std::string(6000, 'T') + "\" -metadata artist=Lumivox -metadata:s:v comment=\"Cover (front)\" " +
                 test::ShellQuote(tagged));
    const auto taggedBytes = test::ReadBytes(tagged);
    ASSERT_GT(taggedBytes.size(), 10u);
    ASSERT_EQ(std::string(taggedBytes.begin(), taggedBytes.begin() + 3), "ID3");
    const std::size_t tagSize = 10 + ((taggedBytes[6] & 0x7F) << 21 | (taggedBytes[7] & 0x7F) << 14 |
                                      (taggedBytes[8] & 0x7F) << 7 | (taggedBytes[9] & 0x7F));
    EXPECT_GT(tagSize, 6000u);

    std::string error;
    ASSERT_TRUE(DecodeMp3ToWave(plain, scratch_ / "plain.wav", &error)) << error;
    ASSERT_TRUE(DecodeMp3ToWave(tagged, scratch_ / "tagged.wav", &error)) << error;
    const auto plainPcm = test::ReadBytes(scratch_ / "plain.wav");
    const auto taggedPcm = test::ReadBytes(scratch_ / "tagged.wav");
    EXPECT_EQ(plainPcm.size(), taggedPcm.size());
    EXPECT_TRUE(plainPcm == taggedPcm) << "the tagged file decodes differently";
}

TEST_F(MusicConversion, HostileTagsAreSkippedByTheirHeaderAlone)
{
    const std::string plain =
        Make("plain.mp3", 44100, 2, 1.0, "-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0");
    const auto audio = test::ReadBytes(plain);
    std::string error;
    ASSERT_TRUE(DecodeMp3ToWave(plain, scratch_ / "plain.wav", &error)) << error;
    const auto plainPcm = test::ReadBytes(scratch_ / "plain.wav");

    auto withTag = [&](const std::string& name, std::vector<std::uint8_t> tag) {
        tag.insert(tag.end(), audio.begin(), audio.end());
        const std::string path = scratch_ / name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(tag.data(), 1, tag.size(), file);
        std::fclose(file);
        return path;
    };
    // A version 2.3 tag of 42 bytes whose one frame claims zlib compression with a forged
    // length (the input that made id3lib free a wild pointer), and a version 2.4 tag with
    // a footer: the audio behind either decodes exactly as without them.
    std::vector<std::uint8_t> forged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 32, 'T', 'S', 'S', 'G', 0, 0, 0, 15, 0, 0xE6};
    forged.resize(10 + 32, 0x5B);
    std::vector<std::uint8_t> footed = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 20};
    footed.resize(10 + 20, 0);
    const std::uint8_t footer[10] = {'3', 'D', 'I', 4, 0, 0x10, 0, 0, 0, 20};
    footed.insert(footed.end(), footer, footer + 10);
    for (const auto& [name, tag] : {std::pair{"forged.mp3", forged}, std::pair{"footed.mp3", footed}}) {
        SCOPED_TRACE(name);
        const std::string path = withTag(name, tag);
        ASSERT_TRUE(DecodeMp3ToWave(path, scratch_ / (std::string(name) + ".wav"), &error)) << error;
        EXPECT_TRUE(test::ReadBytes(scratch_ / (std::string(name) + ".wav")) == plainPcm);
    }

    // The fuzzer's input itself: no crash, and no audio to be had from it.
    const std::string fuzzed = std::string(LUMIVOX_SOURCE_DIR) + "/fuzz/corpus/mpadec/id3-forged-compressed-frame.mp3";
    EXPECT_FALSE(DecodeMp3ToWave(fuzzed, scratch_ / "fuzzed.wav", &error));
}

TEST_F(MusicConversion, LeadingXingFrameGivesNoAudio)
{
    const std::string source = Make("vbr.mp3", 48000, 2, 2.0, "-c:a libmp3lame -q:a 2");
    const auto bytes = test::ReadBytes(source);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t xing = text.find("Xing");
    ASSERT_NE(xing, std::string::npos) << "ffmpeg wrote no Xing frame";
    ASSERT_LT(xing, 2000u);

    const std::string wave = scratch_ / "vbr.wav";
    std::string error;
    ASSERT_TRUE(DecodeMp3ToWave(source, wave, &error)) << error;
    const test::ProbedAudio probed = test::Probe(source);
    // ffprobe counts only the audio frames: the Xing frame added nothing, and the last
    // (often small) frames of the VBR stream are all there.
    EXPECT_EQ(test::ReadBytes(wave).size() - 44, static_cast<std::size_t>(probed.packets) * 1152 * 4);
}

TEST_F(MusicConversion, RefusedSources)
{
    const std::string layerTwo = Make("layer2.mp3", 44100, 2, 1.0, "-c:a mp2 -b:a 192k -f mp2");
    const std::string eightBit = Make("eight.wav", 44100, 2, 1.0, "-c:a pcm_u8");
    const std::string eightBitMono = Make("eightmono.wav", 44100, 1, 1.0, "-c:a pcm_u8");
    const std::string rate11k = Make("rate11k.wav", 11025, 2, 1.0, "-c:a pcm_s16le");
    const std::string ogg = Make("song.ogg", 44100, 2, 1.0, "-c:a pcm_s16le -f wav");
    const std::string mp2 = Make("song.mp2", 44100, 2, 1.0, "-c:a mp2 -f mp2");
    struct Case {
        std::string source;
        const char* reason; // part of the error text
    } cases[] = {
        {layerTwo, "Layer III"},
        {eightBit, "8-bit"},
        {eightBitMono, "8-bit"},
        {rate11k, "11025 Hz"},
        {ogg, "MP3 (.mp3) or WAVE (.wav)"},
        {mp2, "MP3 (.mp3) or WAVE (.wav)"},
        {"a.w", "MP3 (.mp3) or WAVE (.wav)"},
        {scratch_ / "missing.wav", "No such file"},
        {scratch_ / "missing.mp3", "No such file"},
    };
    for (const Case& c : cases) {
        const std::string output = scratch_ / "out.mp2";
        std::string error;
        EXPECT_FALSE(ConvertBackgroundMusic(output, c.source, scratch_.Folder(), &error)) << c.source;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.source << ": " << error;
        EXPECT_FALSE(std::filesystem::exists(output)) << c.source;
    }
}

TEST_F(MusicConversion, UnwritableOutputIsReported)
{
    const std::string source = Make("s.wav", 44100, 2, 1.0, "-c:a pcm_s16le");
    const std::string mp3 = Make("s.mp3", 44100, 2, 1.0, "-c:a libmp3lame");
    std::string error;
    EXPECT_FALSE(ConvertBackgroundMusic(scratch_ / "no/such/folder/bkmusic.mp2", source, scratch_.Folder(), &error));
    EXPECT_NE(error.find("no/such/folder/bkmusic.mp2"), std::string::npos) << error;
    // The temporary folder is missing: the intermediate file cannot be made.
    error.clear();
    EXPECT_FALSE(ConvertBackgroundMusic(scratch_ / "out.mp2", mp3, scratch_ / "missing/", &error));
    EXPECT_NE(error.find("tmpwav.~av"), std::string::npos) << error;
    // The output is a folder.
    error.clear();
    EXPECT_FALSE(ConvertBackgroundMusic(scratch_.Folder(), source, scratch_.Folder(), &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(MusicConversion, TruncatedMp3KeepsTheWholeFramesAndTooShortFails)
{
    const std::string source =
        Make("full.mp3", 44100, 2, 3.0, "-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0");
    const auto bytes = test::ReadBytes(source);
    struct Case {
        std::size_t keep;
        bool converts;
    } cases[] = {{bytes.size() / 2 + 123, true}, {300, false}, {3, false}, {0, false}};
    for (const Case& c : cases) {
        const std::string cut = scratch_ / "cut.mp3";
        test::WriteBytes(cut, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(c.keep)));
        std::string error;
        EXPECT_EQ(ConvertBackgroundMusic(scratch_ / "cut.mp2", cut, scratch_.Folder(), &error), c.converts)
            << c.keep << " bytes: " << error;
        if (!c.converts) {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST_F(MusicConversion, CancelStopsTheConversion)
{
    const std::string source = Make("c.mp3", 44100, 2, 2.0, "-c:a libmp3lame");
    std::atomic<bool> cancel{true};
    std::string error;
    EXPECT_FALSE(ConvertBackgroundMusic(scratch_ / "c.mp2", source, scratch_.Folder(), &error, &cancel));
    EXPECT_EQ(error, "cancelled");
    cancel = false;
    EXPECT_TRUE(ConvertBackgroundMusic(scratch_ / "c.mp2", source, scratch_.Folder(), &error, &cancel)) << error;
}

} // namespace
} // namespace lumivox

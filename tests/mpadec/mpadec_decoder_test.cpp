// SPDX-License-Identifier: GPL-2.0-or-later
// MpegAudioDecoder against MP3 files made by ffmpeg (libmp3lame), with ffmpeg's own decoder
// as the independent reference.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "mpadec/MpegAudioDecoder.h"
#include "music/music_tools.h"

namespace lumivox {
namespace {

using test::ScratchDir;

struct Decoded {
    DecodedStreamInfo info;
    std::vector<std::int16_t> pcm;
    int frames = 0;
    int framesWithoutOutput = 0;
};

std::size_t FindFirstHeader(const std::vector<std::uint8_t>& bytes)
{
    std::size_t at = 0;
    // Skip an ID3v2 tag (10-byte header, syncsafe size) the way a player would.
    if (bytes.size() > 10 && !std::memcmp(bytes.data(), "ID3", 3))
        at = 10 + ((bytes[6] & 0x7F) << 21 | (bytes[7] & 0x7F) << 14 | (bytes[8] & 0x7F) << 7 | (bytes[9] & 0x7F));
    while (at + 4 <= bytes.size() && !(bytes[at] == 0xFF && (bytes[at + 1] & 0xE0) == 0xE0))
        ++at;
    return at;
}

// Decodes a whole file frame by frame with the given settings and output room per call.
Decoded DecodeAll(const std::vector<std::uint8_t>& bytes, int reduction = 0, int convert = 0,
                  int frequencyLimit = 24000, std::size_t room = 8192)
{
    Decoded decoded;
    MpegAudioDecoder decoder;
    std::size_t at = FindFirstHeader(bytes);
    MpegFrameHeader header;
    const int frameBytes = ParseFrameHeader(bytes.data() + at, bytes.size() - at, nullptr, &header);
    EXPECT_GT(frameBytes, 0);
    if (!decoder.InitDecoder(header, frameBytes, reduction, 0, convert, frequencyLimit)) {
        ADD_FAILURE() << "InitDecoder refused the stream";
        return decoded;
    }
    decoded.info = decoder.GetStreamInfo();
    std::vector<std::uint8_t> out(room);
    while (at + 4 <= bytes.size()) {
        const DecodeFrameResult result =
            decoder.DecodeFrame(bytes.data() + at, bytes.size() - at, out.data(), out.size());
        if (result.consumed <= 0)
            break;
        at += static_cast<std::size_t>(result.consumed);
        ++decoded.frames;
        if (result.produced == 0)
            ++decoded.framesWithoutOutput;
        const auto* samples = reinterpret_cast<const std::int16_t*>(out.data());
        decoded.pcm.insert(decoded.pcm.end(), samples, samples + result.produced / 2);
    }
    return decoded;
}

std::vector<std::int16_t> FfmpegDecode(const std::string& path)
{
    std::string raw;
    test::RunCommand("ffmpeg -nostdin -loglevel error -i " + test::ShellQuote(path) + " -f s16le -", &raw);
    std::vector<std::int16_t> pcm(raw.size() / 2);
    std::memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    return pcm;
}

// Signal-to-difference ratio in dB of ours against the reference, at the best alignment
// (ffmpeg drops the encoder delay that our frame-by-frame decoding keeps).
double BestAlignedSnr(const std::vector<std::int16_t>& ours, const std::vector<std::int16_t>& reference, int channels)
{
    double best = -1e9;
    for (std::size_t shift = 0; shift <= 2400 * static_cast<std::size_t>(channels);
         shift += static_cast<std::size_t>(channels)) {
        if (shift + reference.size() > ours.size() + 2304 * channels)
            break;
        double signal = 0, noise = 0;
        const std::size_t n = std::min(reference.size(), ours.size() - std::min(ours.size(), shift));
        for (std::size_t i = 0; i < n; ++i) {
            const double r = reference[i];
            const double d = r - ours[i + shift];
            signal += r * r;
            noise += d * d;
        }
        if (n > 0 && signal > 0)
            best = std::max(best, 10 * std::log10(signal / std::max(noise, 1.0)));
    }
    return best;
}

class MpegAudioDecoderFiles : public ::testing::Test {
protected:
    void SetUp() override { LUMIVOX_REQUIRE_FFMPEG(); }
    std::string MakeMp3(const std::string& name, int rate, int channels, const std::string& codecOptions)
    {
        const std::string path = scratch_ / name;
        test::Ffmpeg(test::TestSignal(rate, 2.0) + " -ac " + std::to_string(channels) + " -c:a libmp3lame " +
                     codecOptions + " " + test::ShellQuote(path));
        return path;
    }
    ScratchDir scratch_;
};

TEST_F(MpegAudioDecoderFiles, DecodesLikeAnIndependentDecoder)
{
    struct Case {
        const char* name;
        int rate;
        int channels;
        const char* options;
        int samplesPerFrame;
    } cases[] = {
        {"mpeg1-48k-stereo.mp3", 48000, 2, "-b:a 192k", 1152},
        {"mpeg1-44k-vbr.mp3", 44100, 2, "-q:a 2", 1152},
        {"mpeg2-22k-mono.mp3", 22050, 1, "-b:a 64k", 576},
        {"mpeg2-16k-stereo.mp3", 16000, 2, "-b:a 48k", 576},
    };
    for (const Case& c : cases) {
        const std::string path = MakeMp3(c.name, c.rate, c.channels, c.options);
        const auto bytes = test::ReadBytes(path);
        const Decoded decoded = DecodeAll(bytes);
        EXPECT_EQ(decoded.info.sampleRate, c.rate) << c.name;
        EXPECT_EQ(decoded.info.channels, c.channels) << c.name;
        EXPECT_EQ(decoded.info.bitsPerSample, 16) << c.name;
        EXPECT_EQ(decoded.info.outputType, kDecodedOutputLinearPcm) << c.name;
        EXPECT_EQ(decoded.info.samplesPerFrame, c.samplesPerFrame * c.channels) << c.name;

        // Every audio frame gives one frame of PCM; only the leading Info/Xing frame gives none.
        const test::ProbedAudio probed = test::Probe(path);
        EXPECT_EQ(decoded.frames, probed.packets + 1) << c.name << "\n" << probed.raw;
        EXPECT_EQ(decoded.framesWithoutOutput, 1) << c.name;
        EXPECT_EQ(decoded.pcm.size(), static_cast<std::size_t>(probed.packets) * c.samplesPerFrame * c.channels)
            << c.name;

        const double snr = BestAlignedSnr(decoded.pcm, FfmpegDecode(path), c.channels);
        EXPECT_GT(snr, 50.0) << c.name << ": decoded PCM differs from ffmpeg's decode";
    }
}

TEST_F(MpegAudioDecoderFiles, FreeFormatStreamDecodesLikeItsTableRateTwin)
{
    // 320 kbit/s at 48 kHz has 960-byte frames without padding; setting every bit-rate
    // index to 0 turns the file into a valid free-format stream with the same audio.
    const std::string path = MakeMp3("cbr320.mp3", 48000, 2, "-b:a 320k -write_xing 0 -id3v2_version 0");
    auto bytes = test::ReadBytes(path);
    const Decoded reference = DecodeAll(bytes);
    for (std::size_t at = FindFirstHeader(bytes); at + 4 <= bytes.size(); at += 960) {
        ASSERT_EQ(bytes[at], 0xFF) << "frame expected at " << at;
        bytes[at + 2] &= 0x0F;
    }
    int bitrate = 0;
    EXPECT_EQ(ParseFrameHeader(bytes.data(), bytes.size(), &bitrate, nullptr), 960);
    EXPECT_EQ(bitrate, 320000);
    const Decoded free = DecodeAll(bytes);
    EXPECT_EQ(free.frames, reference.frames);
    ASSERT_EQ(free.pcm.size(), reference.pcm.size());
    EXPECT_TRUE(free.pcm == reference.pcm);
}

TEST_F(MpegAudioDecoderFiles, TwoDecodersRunAtTheSameTime)
{
    const auto bytes = test::ReadBytes(MakeMp3("a.mp3", 44100, 2, "-b:a 128k"));
    const auto other = test::ReadBytes(MakeMp3("b.mp3", 22050, 1, "-b:a 32k"));
    const Decoded aloneA = DecodeAll(bytes);
    const Decoded aloneB = DecodeAll(other);
    Decoded togetherA[2], togetherB[2];
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([&, i] { togetherA[i] = DecodeAll(bytes); });
            threads.emplace_back([&, i] { togetherB[i] = DecodeAll(other); });
        }
        for (auto& thread : threads)
            thread.join();
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(togetherA[i].pcm == aloneA.pcm) << "thread " << i;
        EXPECT_TRUE(togetherB[i].pcm == aloneB.pcm) << "thread " << i;
    }
}

TEST_F(MpegAudioDecoderFiles, SettingsChangeTheOutput)
{
    const auto bytes = test::ReadBytes(MakeMp3("s.mp3", 48000, 2, "-b:a 192k"));
    const Decoded full = DecodeAll(bytes);

    const Decoded mono = DecodeAll(bytes, 0, static_cast<int>(DecoderConvert::MonoMix));
    EXPECT_EQ(mono.info.channels, 1);
    EXPECT_EQ(mono.pcm.size(), full.pcm.size() / 2);

    const Decoded half = DecodeAll(bytes, static_cast<int>(DecoderReduction::Half));
    EXPECT_EQ(half.info.sampleRate, 24000);
    EXPECT_EQ(half.info.samplesPerFrame, 576 * 2);
    EXPECT_EQ(half.pcm.size(), full.pcm.size() / 2);

    // A 3 kHz limit removes most of white noise: the sample-to-sample differences (a
    // measure of high-frequency energy) shrink a lot.
    const std::string noise = scratch_ / "noise.mp3";
    test::Ffmpeg("-f lavfi -i anoisesrc=c=white:r=48000:a=0.3:d=2 -c:a libmp3lame -b:a 192k " +
                 test::ShellQuote(noise));
    const auto noiseBytes = test::ReadBytes(noise);
    const Decoded noiseFull = DecodeAll(noiseBytes);
    const Decoded limited = DecodeAll(noiseBytes, 0, 0, 3000);
    ASSERT_EQ(limited.pcm.size(), noiseFull.pcm.size());
    auto roughness = [](const std::vector<std::int16_t>& pcm) {
        double sum = 0;
        for (std::size_t i = 2; i < pcm.size(); i += 2)
            sum += std::pow(double(pcm[i]) - pcm[i - 2], 2);
        return sum;
    };
    EXPECT_LT(roughness(limited.pcm), roughness(noiseFull.pcm) * 0.1);

    // Less room than a frame's PCM: what does not fit is held back and comes first in
    // the next call; a caller that never gives enough room is stopped (consumed 0)
    // before the held-back PCM grows without bound. What came is the start of the song.
    const Decoded trickle = DecodeAll(bytes, 0, 0, 24000, 3000);
    EXPECT_LT(trickle.frames, full.frames);
    EXPECT_GT(trickle.frames, 10);
    ASSERT_LE(trickle.pcm.size(), full.pcm.size());
    EXPECT_TRUE(std::equal(trickle.pcm.begin(), trickle.pcm.end(), full.pcm.begin()));
}

TEST_F(MpegAudioDecoderFiles, DamagedFramesAreConsumedWithoutOutputAndDecodingGoesOn)
{
    auto bytes = test::ReadBytes(MakeMp3("d.mp3", 44100, 2, "-b:a 128k -write_xing 0 -id3v2_version 0"));
    const Decoded clean = DecodeAll(bytes);
    // Scribble over the bodies of frames 10 to 14, keeping their headers.
    std::mt19937 random(7);
    std::size_t at = 0;
    for (int frame = 0; frame < 15 && at + 4 < bytes.size(); ++frame) {
        MpegFrameHeader header;
        const int length = ParseFrameHeader(bytes.data() + at, bytes.size() - at, nullptr, &header);
        ASSERT_GT(length, 0);
        if (frame >= 10)
            for (int i = 4; i < length; ++i)
                bytes[at + i] = static_cast<std::uint8_t>(random());
        at += static_cast<std::size_t>(length);
    }
    const Decoded damaged = DecodeAll(bytes);
    EXPECT_EQ(damaged.frames, clean.frames);
    // The undamaged frames after the scribbled ones still decode.
    EXPECT_GT(damaged.pcm.size(), clean.pcm.size() * 8 / 10);
}

TEST(MpegAudioDecoder, RefusesWhatItCannotDecode)
{
    const std::uint8_t layer3[] = {0xFF, 0xFB, 0x90, 0x40};
    const std::uint8_t layer2[] = {0xFF, 0xFD, 0x90, 0x40};
    MpegFrameHeader good, layerTwo;
    ReadMpegFrameHeader(layer3, &good);
    ReadMpegFrameHeader(layer2, &layerTwo);
    struct Case {
        const char* name;
        MpegFrameHeader header;
        int frameBytes, reduction, transform, convert, limit;
    } cases[] = {
        {"Layer II", layerTwo, 417, 0, 0, 0, 24000},
        {"no frame length", good, 0, 0, 0, 0, 24000},
        {"reduction 3", good, 417, 3, 0, 0, 24000},
        {"transform 1", good, 417, 0, 1, 0, 24000},
        {"convert 4 (8-bit)", good, 417, 0, 0, 4, 24000},
        {"no frequency limit", good, 417, 0, 0, 0, 0},
        {"no header", MpegFrameHeader{}, 417, 0, 0, 0, 24000},
    };
    for (const Case& c : cases) {
        MpegAudioDecoder decoder;
        EXPECT_FALSE(decoder.InitDecoder(c.header, c.frameBytes, c.reduction, c.transform, c.convert, c.limit))
            << c.name;
        EXPECT_EQ(decoder.GetStreamInfo().sampleRate, 0) << c.name;
    }
    MpegAudioDecoder decoder;
    ASSERT_TRUE(decoder.InitDecoder(good, 417, 0, 0, 0, 24000));
    EXPECT_EQ(decoder.GetStreamInfo().frameBytes, 417);
    std::uint8_t out[4608];
    // A frame that is not all there, or not Layer III, is not consumed.
    EXPECT_EQ(decoder.DecodeFrame(layer3, sizeof layer3, out, sizeof out).consumed, 0);
    std::vector<std::uint8_t> layerTwoFrame(417, 0);
    std::memcpy(layerTwoFrame.data(), layer2, 4);
    EXPECT_EQ(decoder.DecodeFrame(layerTwoFrame.data(), layerTwoFrame.size(), out, sizeof out).consumed, 0);
    // A whole frame of zeros after a good header: consumed, no crash.
    std::vector<std::uint8_t> silentFrame(417, 0);
    std::memcpy(silentFrame.data(), layer3, 4);
    EXPECT_EQ(decoder.DecodeFrame(silentFrame.data(), silentFrame.size(), out, sizeof out).consumed, 417);
}

} // namespace
} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
// The encoder's input rules and the first-frame scan, on hand-built files: WAVE files
// whose chunks lie, AIFF, headerless PCM, and MP3 byte layouts around "Xing" frames.

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "mpadec/MpegAudioDecoder.h"
#include "music/music_tools.h"
#include "production/MusicConversion.h"
#include "production/WaveFile.h"

namespace lumivox {
namespace {

using test::ScratchDir;

void Put16(std::vector<std::uint8_t>& out, unsigned v, bool big = false)
{
    if (big) {
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    } else {
        out.push_back(static_cast<std::uint8_t>(v));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v, bool big = false)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (big ? 24 - 8 * i : 8 * i)));
}
void PutText(std::vector<std::uint8_t>& out, const char* text)
{
    out.insert(out.end(), text, text + std::strlen(text));
}

// Interleaved 16-bit samples of a 440 Hz tone.
std::vector<std::uint8_t> Tone(std::size_t frames, int channels, int rate, bool big = false)
{
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < frames; ++i) {
        const int value = static_cast<int>(8000 * std::sin(2 * M_PI * 440 * double(i) / rate));
        for (int c = 0; c < channels; ++c)
            Put16(out, static_cast<unsigned>(value) & 0xFFFF, big);
    }
    return out;
}

struct WaveSpec {
    int channels = 2;
    int rate = 44100;
    int bits = 16;
    int formatTag = 1;
    int blockAlign = -1; // computed when -1
    std::uint32_t riffSize = 0; // computed when 0
    std::uint32_t dataSize = 0xFFFFFFFE; // computed when 0xFFFFFFFE
    std::size_t listChunkBytes = 0; // a "LIST" chunk before "data"
};

std::vector<std::uint8_t> Wave(const WaveSpec& spec, const std::vector<std::uint8_t>& pcm)
{
    std::vector<std::uint8_t> out;
    PutText(out, "RIFF");
    Put32(out, 0);
    PutText(out, "WAVEfmt ");
    Put32(out, 16);
    Put16(out, static_cast<unsigned>(spec.formatTag));
    Put16(out, static_cast<unsigned>(spec.channels));
    Put32(out, static_cast<std::uint32_t>(spec.rate));
    const int align = spec.blockAlign >= 0 ? spec.blockAlign : spec.channels * spec.bits / 8;
    Put32(out, static_cast<std::uint32_t>(spec.rate * align));
    Put16(out, static_cast<unsigned>(align));
    Put16(out, static_cast<unsigned>(spec.bits));
    if (spec.listChunkBytes) {
        PutText(out, "LIST");
        Put32(out, static_cast<std::uint32_t>(spec.listChunkBytes));
        out.resize(out.size() + spec.listChunkBytes, 0x7F);
    }
    PutText(out, "data");
    Put32(out, spec.dataSize == 0xFFFFFFFE ? static_cast<std::uint32_t>(pcm.size()) : spec.dataSize);
    out.insert(out.end(), pcm.begin(), pcm.end());
    const std::uint32_t riff = spec.riffSize ? spec.riffSize : static_cast<std::uint32_t>(out.size() - 8);
    std::memcpy(out.data() + 4, &riff, 4);
    return out;
}

// Frames of a Layer II file, counted by walking its headers.
int CountFrames(const std::vector<std::uint8_t>& bytes, int* rate = nullptr, int* mode = nullptr)
{
    std::size_t at = 0;
    int frames = 0;
    while (at + 4 <= bytes.size()) {
        MpegFrameHeader header;
        const int length = ParseFrameHeader(bytes.data() + at, bytes.size() - at, nullptr, &header);
        if (length <= 0)
            return -1;
        if (rate)
            *rate = MpegSampleRate(header);
        if (mode)
            *mode = header.channelMode;
        at += static_cast<std::size_t>(length);
        ++frames;
    }
    return at == bytes.size() ? frames : -1;
}

TEST(EncodeWaveToMp2, WaveFilesWhoseChunksLieOrWander)
{
    ScratchDir scratch;
    const std::size_t samples = 1152 * 40; // exactly 40 frames
    const auto pcm = Tone(samples, 2, 44100);
    struct Case {
        const char* name;
        WaveSpec spec;
        int expectedFrames;
    } cases[] = {
        {"canonical", {}, 40},
        {"RIFF size too large", {.riffSize = 0x7FFFFFF0}, 40},
        {"RIFF size too small", {.riffSize = 20}, 40},
        {"data size beyond the file", {.dataSize = 0xFFFFFFFF}, 40},
        {"data size half the samples", {.dataSize = static_cast<std::uint32_t>(pcm.size() / 2)}, 20},
        // The LIST chunk's 4,608 bytes would be an extra frame of noise if read as samples.
        {"LIST chunk before data", {.listChunkBytes = 4608}, 40},
    };
    for (const Case& c : cases) {
        const std::string wave = scratch / "in.wav";
        test::WriteBytes(wave, Wave(c.spec, pcm));
        std::string error;
        ASSERT_TRUE(EncodeWaveToMp2(wave, scratch / "out.mp2", &error)) << c.name << ": " << error;
        EXPECT_EQ(CountFrames(test::ReadBytes(scratch / "out.mp2")), c.expectedFrames) << c.name;
    }

    // A recording cut off by a crash: the writer never came back to fill in the RIFF and
    // data sizes, both 0. The samples run to the end of the file.
    auto unfinished = Wave({.dataSize = 0}, pcm);
    std::memset(unfinished.data() + 4, 0, 4);
    test::WriteBytes(scratch / "unfinished.wav", unfinished);
    {
        std::string error;
        ASSERT_TRUE(EncodeWaveToMp2(scratch / "unfinished.wav", scratch / "out.mp2", &error)) << error;
        EXPECT_EQ(CountFrames(test::ReadBytes(scratch / "out.mp2")), 40) << "sizes 0";
    }

    // A data chunk whose stated size runs past the end of a file cut mid-sample.
    auto cut = Wave({}, pcm);
    cut.resize(cut.size() - 4609);
    test::WriteBytes(scratch / "cut.wav", cut);
    std::string error;
    ASSERT_TRUE(EncodeWaveToMp2(scratch / "cut.wav", scratch / "out.mp2", &error)) << error;
    EXPECT_EQ(CountFrames(test::ReadBytes(scratch / "out.mp2")), 39);
}

TEST(EncodeWaveToMp2, RefusedInputsSayWhy)
{
    ScratchDir scratch;
    const auto pcm = Tone(4000, 2, 44100);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    } cases[] = {
        {"8-bit stereo (block align 2)", Wave({.bits = 8, .blockAlign = 2}, pcm), "8-bit"},
        {"8-bit mono (block align 1)", Wave({.channels = 1, .bits = 8, .blockAlign = 1}, pcm), "8-bit"},
        {"24-bit", Wave({.bits = 24}, pcm), "24-bit"},
        {"float", Wave({.bits = 32, .formatTag = 3}, pcm), "integer PCM"},
        {"three channels", Wave({.channels = 3}, pcm), "3 channels"},
        {"8 kHz", Wave({.rate = 8000}, pcm), "8000 Hz"},
        {"96 kHz", Wave({.rate = 96000}, pcm), "96000 Hz"},
        {"header only", Wave({}, {}), "no audio"},
        {"zero-length file", {}, "no audio"},
        {"RIFF cut inside the header",
         std::vector<std::uint8_t>{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm'}, "cut short"},
    };
    for (const Case& c : cases) {
        const std::string wave = scratch / "in.wav";
        test::WriteBytes(wave, c.bytes);
        std::string error;
        EXPECT_FALSE(EncodeWaveToMp2(wave, scratch / "out.mp2", &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_FALSE(std::filesystem::exists(scratch / "out.mp2")) << c.name;
    }
}

// A music path naming a FIFO, a device or a folder is refused without being opened for
// reading: opening a FIFO would wait for a writer that never comes.
TEST(EncodeWaveToMp2, MusicThatIsNoRegularFileIsRefusedAtOnce)
{
    ScratchDir scratch;
    const std::string fifo = scratch / "music.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), scratch.Folder()}) {
        std::string error;
        EXPECT_FALSE(EncodeWaveToMp2(path, scratch / "out.mp2", &error)) << path;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << path << ": " << error;
        error.clear();
        EXPECT_FALSE(DecodeMp3ToWave(path, scratch / "out.wav", &error, nullptr)) << path;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << path << ": " << error;
    }
}

TEST(EncodeWaveToMp2, AiffAndHeaderlessInput)
{
    ScratchDir scratch;
    // AIFF: 16-bit big-endian mono at 32 kHz, 10 frames' worth.
    std::vector<std::uint8_t> aiff;
    const auto samples = Tone(11520, 1, 32000, true);
    PutText(aiff, "FORM");
    Put32(aiff, 0, true);
    PutText(aiff, "AIFFCOMM");
    Put32(aiff, 18, true);
    Put16(aiff, 1, true);
    Put32(aiff, 11520, true);
    Put16(aiff, 16, true);
    // 32000 as an 80-bit extended number: exponent 16383 + 14, mantissa 32000 << 49.
    const std::uint8_t rate[10] = {0x40, 0x0D, 0xFA, 0x00, 0, 0, 0, 0, 0, 0};
    aiff.insert(aiff.end(), rate, rate + 10);
    PutText(aiff, "SSND");
    Put32(aiff, static_cast<std::uint32_t>(samples.size() + 8), true);
    Put32(aiff, 0, true);
    Put32(aiff, 0, true);
    aiff.insert(aiff.end(), samples.begin(), samples.end());
    test::WriteBytes(scratch / "aiff.wav", aiff);
    std::string error;
    ASSERT_TRUE(EncodeWaveToMp2(scratch / "aiff.wav", scratch / "aiff.mp2", &error)) << error;
    int sampleRate = 0, mode = -1;
    EXPECT_EQ(CountFrames(test::ReadBytes(scratch / "aiff.mp2"), &sampleRate, &mode), 10);
    EXPECT_EQ(sampleRate, 32000);
    EXPECT_EQ(mode, kMpegChannelModeMono);

    // No recognised header: 16-bit stereo at 44.1 kHz. 1152 × 5 + 100 samples → 6 frames.
    test::WriteBytes(scratch / "raw.wav", Tone(1152 * 5 + 100, 2, 44100));
    ASSERT_TRUE(EncodeWaveToMp2(scratch / "raw.wav", scratch / "raw.mp2", &error)) << error;
    EXPECT_EQ(CountFrames(test::ReadBytes(scratch / "raw.mp2"), &sampleRate, &mode), 6);
    EXPECT_EQ(sampleRate, 44100);
    EXPECT_NE(mode, kMpegChannelModeMono);
}

TEST(EncodeWaveToMp2, PartsOnThreadsMakeTheSameStreamAsOnePass)
{
    ScratchDir scratch;
    struct Case {
        int rate;
        int channels;
    } cases[] = {{44100, 2}, {22050, 1}, {48000, 2}, {16000, 2}};
    for (const Case& c : cases) {
        std::mt19937 random(static_cast<unsigned>(c.rate));
        auto pcm = Tone(static_cast<std::size_t>(c.rate) * 30 + 777, c.channels, c.rate);
        for (std::size_t i = 0; i < pcm.size(); i += 2)
            pcm[i] ^= static_cast<std::uint8_t>(random() & 0x3F); // some noise in the low bits
        test::WriteBytes(scratch / "in.wav", Wave({.channels = c.channels, .rate = c.rate}, pcm));
        std::string error;
        ASSERT_TRUE(EncodeWaveToMp2(scratch / "in.wav", scratch / "one.mp2", &error, nullptr, 1)) << error;
        const auto one = test::ReadBytes(scratch / "one.mp2");
        for (int threads : {2, 3}) {
            ASSERT_TRUE(EncodeWaveToMp2(scratch / "in.wav", scratch / "parts.mp2", &error, nullptr, threads)) << error;
            const auto parts = test::ReadBytes(scratch / "parts.mp2");
            ASSERT_EQ(one.size(), parts.size()) << c.rate << " Hz, " << threads << " threads";
            const auto differ = std::mismatch(one.begin(), one.end(), parts.begin());
            EXPECT_TRUE(differ.first == one.end())
                << c.rate << " Hz, " << threads << " threads: first difference at byte "
                << (differ.first - one.begin());
        }
    }
}

TEST(LayerTwoEncoding, AFailingPartFailsTheCallAndLeavesTheProgramRunning)
{
    // Part 0 runs on whichever thread takes it, the calling one included: an exception
    // there used to end the program while the other parts' threads were still joinable.
    ScratchDir scratch;
    test::WriteBytes(scratch / "in.wav", Wave({.channels = 2, .rate = 44100}, Tone(44100 * 30, 2, 44100)));
    for (std::size_t failing : {std::size_t{0}, std::size_t{1}, std::size_t{2}}) {
        mp2_testing::partHook = [failing](std::size_t part) {
            if (part == failing)
                throw std::runtime_error("part " + std::to_string(part) + " broke");
        };
        std::string error;
        EXPECT_FALSE(EncodeWaveToMp2(scratch / "in.wav", scratch / "out.mp2", &error, nullptr, 3))
            << "part " << failing;
        EXPECT_NE(error.find("part " + std::to_string(failing) + " broke"), std::string::npos) << error;
    }
    mp2_testing::partHook = nullptr;
    std::string error;
    EXPECT_TRUE(EncodeWaveToMp2(scratch / "in.wav", scratch / "out.mp2", &error, nullptr, 3)) << error;
}

TEST(MakeWaveHeader, SizesAndRoundedFields)
{
    const auto header = MakeWaveHeader(kWaveFormatPcm, 2, 44100, 16, 1000);
    const std::vector<std::uint8_t> bytes(header.begin(), header.end());
    EXPECT_EQ(test::LittleEndian32(bytes, 4), 1036u);
    EXPECT_EQ(test::LittleEndian32(bytes, 28), 176400u);
    EXPECT_EQ(test::LittleEndian16(bytes, 32), 4);
    EXPECT_EQ(test::LittleEndian32(bytes, 40), 1000u);
    const auto odd = MakeWaveHeader(kWaveFormatMuLaw, 1, 8000, 12, 0);
    const std::vector<std::uint8_t> oddBytes(odd.begin(), odd.end());
    EXPECT_EQ(test::LittleEndian16(oddBytes, 20), 7);
    EXPECT_EQ(test::LittleEndian32(oddBytes, 28), 12000u); // (8000 × 12 + 7) / 8
    EXPECT_EQ(test::LittleEndian16(oddBytes, 32), 2); // (12 + 7) / 8
}

// --- FirstFrameScan --------------------------------------------------------------------

// An in-memory file for the scan.
class MemoryFile {
public:
    explicit MemoryFile(const std::vector<std::uint8_t>& bytes) : fd_(memfd_create("scan", 0))
    {
        EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        lseek(fd_, 0, SEEK_SET);
    }
    ~MemoryFile() { close(fd_); }
    int fd() const { return fd_; }
    off_t Position() const { return lseek(fd_, 0, SEEK_CUR); }

private:
    int fd_;
};

// Puts a frame header at `at`; with `xing`, the "Xing" tag at the frame's tag offset.
void PutFrame(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint8_t byte1, std::uint8_t byte2,
              std::uint8_t byte3, bool xing)
{
    bytes[at] = 0xFF;
    bytes[at + 1] = byte1;
    bytes[at + 2] = byte2;
    bytes[at + 3] = byte3;
    if (xing) {
        const bool mono = (byte3 >> 6) == 3;
        const std::size_t offset = (byte1 & 0x08) ? (mono ? 21 : 36) : (mono ? 13 : 21);
        std::memcpy(bytes.data() + at + offset, "Xing", 4);
    }
}

TEST(FirstFrameScan, StopsAtTheFirstFrameWithoutAVbrTag)
{
    // MPEG-1 Layer III 128 kbit/s 44.1 kHz: 417 bytes; 0x92 is the padded 418-byte form.
    constexpr std::uint8_t kMpeg1 = 0xFB, kMpeg2 = 0xF3;
    struct Frame {
        std::size_t at;
        std::uint8_t byte1, byte2, byte3;
        bool xing;
    };
    struct Case {
        const char* name;
        std::size_t fileBytes;
        std::vector<Frame> frames;
        off_t expected;
    } cases[] = {
        {"plain frame after junk", 5000, {{100, kMpeg1, 0x90, 0x40, false}}, 100},
        {"Xing frame skipped by its length",
         5000,
         {{10, kMpeg1, 0x90, 0x40, true}, {427, kMpeg1, 0x90, 0x40, false}},
         427},
        {"padded mono Xing frame", 5000, {{0, kMpeg1, 0x92, 0xC0, true}, {418, kMpeg1, 0x90, 0xC0, false}}, 418},
        // MPEG-2 64 kbit/s 22.05 kHz: the scan's table has no length; the standard 208 is used.
        {"MPEG-2 Xing frame", 5000, {{0, kMpeg2, 0x80, 0x40, true}, {208, kMpeg2, 0x80, 0x40, false}}, 208},
        {"MPEG-2 mono Xing frame", 5000, {{0, kMpeg2, 0x80, 0xC0, true}, {208, kMpeg2, 0x80, 0xC0, false}}, 208},
        // A free-format Xing frame counts 4 bytes; the scan goes on after its header.
        {"free-format Xing frame", 5000, {{0, kMpeg1, 0x00, 0x40, true}, {700, kMpeg1, 0x90, 0x40, false}}, 700},
        // Candidates from 1400 on are left to the next block, which then starts there.
        {"frame near the end of the first block", 5000, {{1420, kMpeg1, 0x90, 0x40, false}}, 1420},
        // A Xing frame reaching past the first block: the next block starts after it.
        {"Xing frame across the block end",
         5000,
         {{1300, kMpeg1, 0xE0, 0x40, true}, {2345, kMpeg1, 0x90, 0x40, false}},
         2345},
        {"nothing in a short file", 1000, {}, 0},
        {"frame in a short file", 1000, {{200, kMpeg1, 0x90, 0x40, false}}, 0},
        // Blocks start at 0, 1440 and 2880; the last one is short, and stays to be decoded.
        {"nothing at all", 4000, {}, 2880},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes(c.fileBytes, 0);
        for (const Frame& f : c.frames)
            PutFrame(bytes, f.at, f.byte1, f.byte2, f.byte3, f.xing);
        MemoryFile file(bytes);
        ASSERT_TRUE(FirstFrameScan(file.fd())) << c.name;
        EXPECT_EQ(file.Position(), c.expected) << c.name;
    }
}

TEST(FirstFrameScan, StartsFromTheCurrentPositionAndAlwaysEnds)
{
    std::vector<std::uint8_t> bytes(6000, 0);
    PutFrame(bytes, 50, 0xFB, 0x90, 0x40, false);
    PutFrame(bytes, 600, 0xFB, 0x90, 0x40, false);
    MemoryFile file(bytes);
    lseek(file.fd(), 300, SEEK_SET);
    ASSERT_TRUE(FirstFrameScan(file.fd()));
    EXPECT_EQ(file.Position(), 600);

    // A file full of Xing-tagged headers whose length cannot be computed still ends.
    std::vector<std::uint8_t> tagged(20000, 0);
    for (std::size_t at = 0; at + 40 < tagged.size(); at += 40)
        PutFrame(tagged, at, 0xFB, 0xF0, 0x40, true); // bit-rate index 15
    MemoryFile taggedFile(tagged);
    ASSERT_TRUE(FirstFrameScan(taggedFile.fd()));
}

} // namespace
} // namespace lumivox

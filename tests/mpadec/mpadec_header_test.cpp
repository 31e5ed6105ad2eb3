// SPDX-License-Identifier: GPL-2.0-or-later
// ParseFrameHeader and the header helpers against hand-built header bytes. Expected frame
// lengths follow ISO/IEC 11172-3 2.4.3.1 and ISO/IEC 13818-3 (Layer I: 4 × (12 × rate /
// fs + padding); Layer II: 144 × rate / fs + padding; Layer III: the same, 72 for MPEG-2).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "mpadec/MpegAudioDecoder.h"

namespace lumivox {
namespace {

// Byte 1 of the header for a version and layer: 0xF? is MPEG-1/2, 0xE? MPEG-2.5.
// Bit 3 = MPEG-1, bits 2-1 = layer code, bit 0 = protection (1: no CRC).
constexpr std::uint8_t kMpeg1LayerI = 0xFF; // 1111 1 11 1
constexpr std::uint8_t kMpeg1LayerII = 0xFD; // 1111 1 10 1
constexpr std::uint8_t kMpeg1LayerIII = 0xFB; // 1111 1 01 1
constexpr std::uint8_t kMpeg2LayerIII = 0xF3; // 1111 0 01 1
constexpr std::uint8_t kMpeg2LayerII = 0xF5; // 1111 0 10 1
constexpr std::uint8_t kMpeg25LayerIII = 0xE3;

std::array<std::uint8_t, 4> Header(std::uint8_t byte1, int bitrateIndex, int rateIndex, int padding,
                                   int channelMode = 1)
{
    return {0xFF, byte1, static_cast<std::uint8_t>((bitrateIndex << 4) | (rateIndex << 2) | (padding << 1)),
            static_cast<std::uint8_t>(channelMode << 6)};
}

struct LengthCase {
    const char* name;
    std::uint8_t byte1;
    int bitrateIndex;
    int rateIndex;
    int padding;
    int expectedLength;
    int expectedBitrate;
};

TEST(ParseFrameHeader, FrameLengthsAndBitRatesFromTheStandardTables)
{
    const LengthCase cases[] = {
        {"MPEG-1 L3 128k 44.1k", kMpeg1LayerIII, 9, 0, 0, 417, 128000},
        {"MPEG-1 L3 128k 44.1k padded", kMpeg1LayerIII, 9, 0, 1, 418, 128000},
        {"MPEG-1 L3 32k 32k", kMpeg1LayerIII, 1, 2, 0, 144, 32000},
        {"MPEG-1 L3 320k 48k", kMpeg1LayerIII, 14, 1, 0, 960, 320000},
        {"MPEG-1 L3 320k 32k padded", kMpeg1LayerIII, 14, 2, 1, 1441, 320000},
        {"MPEG-1 L3 192k 48k", kMpeg1LayerIII, 11, 1, 0, 576, 192000},
        {"MPEG-1 L2 192k 48k", kMpeg1LayerII, 10, 1, 0, 576, 192000},
        {"MPEG-1 L2 384k 44.1k", kMpeg1LayerII, 14, 0, 0, 1253, 384000},
        {"MPEG-1 L2 32k 32k", kMpeg1LayerII, 1, 2, 0, 144, 32000},
        {"MPEG-1 L1 448k 32k", kMpeg1LayerI, 14, 2, 0, 672, 448000},
        {"MPEG-1 L1 32k 44.1k padded", kMpeg1LayerI, 1, 0, 1, 4 * (8 + 1), 32000},
        {"MPEG-2 L3 64k 22.05k", kMpeg2LayerIII, 8, 0, 0, 208, 64000},
        {"MPEG-2 L3 160k 16k", kMpeg2LayerIII, 14, 2, 0, 720, 160000},
        {"MPEG-2 L3 8k 24k padded", kMpeg2LayerIII, 1, 1, 1, 25, 8000},
        {"MPEG-2 L2 96k 22.05k", kMpeg2LayerII, 10, 0, 0, 626, 96000},
        {"MPEG-2.5 L3 32k 8k", kMpeg25LayerIII, 4, 2, 0, 288, 32000},
        {"MPEG-2.5 L3 64k 11.025k", kMpeg25LayerIII, 8, 0, 0, 417, 64000},
    };
    for (const LengthCase& c : cases) {
        const auto bytes = Header(c.byte1, c.bitrateIndex, c.rateIndex, c.padding);
        int bitrate = -1;
        MpegFrameHeader header;
        EXPECT_EQ(ParseFrameHeader(bytes.data(), bytes.size(), &bitrate, &header), c.expectedLength) << c.name;
        EXPECT_EQ(bitrate, c.expectedBitrate) << c.name;
        EXPECT_EQ(header.padding, c.padding) << c.name;
        EXPECT_EQ(MpegFrameLength(header), c.expectedLength) << c.name;
    }
}

TEST(ParseFrameHeader, ReadsEveryFieldFromItsBits)
{
    // FF FA: MPEG-1 Layer III with CRC; 0x93: index 9, rate 0, no padding, private bit;
    // 0x6E: joint stereo (01), extension 10, copyright, original, emphasis 10.
    const std::uint8_t bytes[] = {0xFF, 0xFA, 0x91, 0x6E};
    MpegFrameHeader header;
    ASSERT_EQ(ParseFrameHeader(bytes, sizeof bytes, nullptr, &header), 417);
    EXPECT_EQ(header.syncKind, 1);
    EXPECT_EQ(header.versionBit, 1);
    EXPECT_EQ(header.layerCode, kMpegLayerCodeIII);
    EXPECT_EQ(header.protection, 0);
    EXPECT_EQ(header.bitrateIndex, 9);
    EXPECT_EQ(header.sampleRateIndex, 0);
    EXPECT_EQ(header.padding, 0);
    EXPECT_EQ(header.privateBit, 1);
    EXPECT_EQ(header.channelMode, 1);
    EXPECT_EQ(header.modeExtension, 2);
    EXPECT_EQ(header.copyright, 1);
    EXPECT_EQ(header.original, 1);
    EXPECT_EQ(header.emphasis, 2);
    EXPECT_EQ(MpegSampleRate(header), 44100);
    EXPECT_EQ(MpegSamplesPerFrame(header), 1152);

    const auto mpeg25 = Header(kMpeg25LayerIII, 8, 1, 0, kMpegChannelModeMono);
    ASSERT_GT(ParseFrameHeader(mpeg25.data(), 4, nullptr, &header), 0);
    EXPECT_EQ(header.syncKind, 2);
    EXPECT_EQ(header.channelMode, kMpegChannelModeMono);
    EXPECT_EQ(MpegSampleRate(header), 12000);
    EXPECT_EQ(MpegSamplesPerFrame(header), 576);
}

TEST(ParseFrameHeader, UnusableBytesGiveZero)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"no sync", {0xFE, 0xFB, 0x90, 0x40}},
        {"second byte without sync bits", {0xFF, 0x1B, 0x90, 0x40}},
        {"layer code 0", {0xFF, 0xF9, 0x90, 0x40}},
        {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x40}},
        {"reserved sample rate", {0xFF, 0xFB, 0x9C, 0x40}},
        {"MPEG-2.5 with the version bit (reserved)", {0xFF, 0xEB, 0x90, 0x40}},
        {"three bytes only", {0xFF, 0xFB, 0x90}},
        {"nothing", {}},
    };
    for (const Case& c : cases) {
        int bitrate = -1;
        EXPECT_EQ(ParseFrameHeader(c.bytes.data(), c.bytes.size(), &bitrate, nullptr), 0) << c.name;
        EXPECT_EQ(bitrate, 0) << c.name;
    }
    EXPECT_EQ(ParseFrameHeader(nullptr, 4, nullptr, nullptr), 0);
}

// A free-format stream of frames of `length` bytes: the next header of the same kind
// tells the length. The bodies are filled with bytes that are no sync.
std::vector<std::uint8_t> FreeFormatStream(std::uint8_t byte1, int rateIndex, int length, int frames)
{
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < frames; ++i) {
        const auto header = Header(byte1, 0, rateIndex, 0);
        stream.insert(stream.end(), header.begin(), header.end());
        stream.resize(stream.size() + static_cast<std::size_t>(length - 4), 0x55);
    }
    return stream;
}

TEST(ParseFrameHeader, FreeFormatLengthIsTheDistanceToTheNextHeader)
{
    // 48 kHz Layer III at 448 kbit/s (beyond the table): 144 × 448000 / 48000 = 1344.
    auto stream = FreeFormatStream(kMpeg1LayerIII, 1, 1344, 3);
    int bitrate = 0;
    MpegFrameHeader header;
    EXPECT_EQ(ParseFrameHeader(stream.data(), stream.size(), &bitrate, &header), 1344);
    EXPECT_EQ(header.bitrateIndex, 0);
    EXPECT_EQ(bitrate, 448000);

    // A sync-like byte pair of another kind (Layer II, other rate) inside the body is not
    // taken for the next header.
    stream[100] = 0xFF;
    stream[101] = kMpeg1LayerII;
    stream[102] = 0x04;
    EXPECT_EQ(ParseFrameHeader(stream.data(), stream.size(), nullptr, nullptr), 1344);

    // The next header only beyond the first 10000 bytes: not found.
    auto big = FreeFormatStream(kMpeg1LayerIII, 1, 10400, 2);
    EXPECT_EQ(ParseFrameHeader(big.data(), big.size(), nullptr, nullptr), 0);
    // ... and a single frame with nothing after it.
    EXPECT_EQ(ParseFrameHeader(stream.data(), 1344, nullptr, nullptr), 0);
}
TEST(ParseFrameHeader, LayerTwoBitRateTableEleventhEntries)
{
    // The encoder's default rates are the eleventh entries (index 10) of both tables.
    MpegFrameHeader header;
    auto mpeg1 = Header(kMpeg1LayerII, 10, 0, 0);
    ReadMpegFrameHeader(mpeg1.data(), &header);
    EXPECT_EQ(MpegBitrateKbps(header), 192);
    auto mpeg2 = Header(kMpeg2LayerII, 10, 0, 0);
    ReadMpegFrameHeader(mpeg2.data(), &header);
    EXPECT_EQ(MpegBitrateKbps(header), 96);
}

} // namespace
} // namespace lumivox

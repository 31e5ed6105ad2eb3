// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The PCM files of the menu-music conversion: the 44-byte WAVE header written for the
// decoded MP3, and the reader that gives the Layer II encoder its samples from a WAVE file,
// an AIFF file or headerless PCM.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lumivox {

inline constexpr std::size_t kWaveHeaderBytes = 44;
// "RIFF" size field of a header whose data chunk is still empty: the bytes after it.
inline constexpr std::uint32_t kWaveRiffSizeBase = 36;
// WAVE format tags (Microsoft RIFF specification, "fmt " chunk).
inline constexpr int kWaveFormatPcm = 1;
inline constexpr int kWaveFormatMuLaw = 7;
inline constexpr int kWaveFormatExtensible = 0xFFFE;

// The canonical 44-byte header: RIFF size 36 + dataBytes, one "fmt " chunk of 16 bytes and
// the "data" chunk header. Block align and byte rate are rounded up to whole bytes.
std::array<std::uint8_t, kWaveHeaderBytes> MakeWaveHeader(int formatTag, int channels, int sampleRate,
                                                          int bitsPerSample, std::uint32_t dataBytes);

// Sample rates the Layer II encoder takes: MPEG-1 and the MPEG-2 low sampling rates.
bool IsLayerTwoSampleRate(int sampleRate);

enum class PcmContainer { Wave, Aiff, Headerless };

// A PCM input opened for the encoder. Samples come out as interleaved native 16-bit values.
class PcmInput {
public:
    PcmInput() = default;
    ~PcmInput();
    PcmInput(const PcmInput&) = delete;
    PcmInput& operator=(const PcmInput&) = delete;

    // Opens the file and reads its format. A RIFF file with "WAVE" at offset 8 is a WAVE
    // file; one starting with "FORM" and "AIFF" an AIFF file; anything else headerless
    // 16-bit stereo little-endian PCM at 44100 Hz. False with a reason in *error when the
    // file cannot be read or holds something the encoder cannot take: not 16-bit (8-bit
    // is recognised by a block align of 1, or 2 with two channels), not one or two
    // channels, not integer PCM, a sample rate outside the six Layer II rates, no samples.
    bool Open(const std::string& path, std::string* error);

    PcmContainer Container() const { return container_; }
    int Channels() const { return channels_; }
    int SampleRate() const { return sampleRate_; }
    // Sample frames still to come when the length is known from the file.
    std::uint64_t FramesRemaining() const { return bytesRemaining_ / (2u * channels_); }

    // Moves to sample frame `frame` counted from the start of the samples (used to encode
    // parts of one input in parallel). False when it lies beyond the samples.
    bool SeekToFrame(std::uint64_t frame);

    // Reads up to maxFrames sample frames into samples (channels values each). Returns the
    // frames read, 0 at the end, -1 on a read error.
    long Read(std::int16_t* samples, std::size_t maxFrames);

private:
    bool ParseWave(std::string* error);
    bool ParseAiff(std::string* error);

    std::FILE* file_ = nullptr;
    std::string path_;
    PcmContainer container_ = PcmContainer::Headerless;
    int channels_ = 2;
    int sampleRate_ = 44100;
    bool bigEndian_ = false;
    std::uint64_t bytesRemaining_ = 0;
    std::uint64_t dataOffset_ = 0;
    std::uint64_t dataBytes_ = 0;
    std::vector<std::uint8_t> raw_;
};

} // namespace lumivox

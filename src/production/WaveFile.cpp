// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/WaveFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/FileDescriptor.h"
#include "base/TextUtil.h"

namespace lumivox {

namespace {

constexpr int kLayerTwoRates[] = {16000, 22050, 24000, 32000, 44100, 48000};
// Offsets of the canonical 44-byte WAVE header, used when a file's chunk list cannot be
// followed: the encoder's front end always read the format there and the samples after it.
constexpr std::size_t kWaveChannelsOffset = 22;
constexpr std::size_t kWaveRateOffset = 24;
constexpr std::size_t kWaveBlockAlignOffset = 32;
constexpr std::size_t kWaveBitsOffset = 34;
// A RIFF or AIFF file with more chunks than this before its samples is not followed further.
constexpr int kMaxChunks = 4096;
constexpr std::size_t kReadBufferBytes = 1 << 16;

void PutLe16(std::uint8_t* at, unsigned value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

unsigned Le16(const std::uint8_t* at)
{
    return at[0] | (unsigned(at[1]) << 8);
}
std::uint32_t Le32(const std::uint8_t* at)
{
    return at[0] | (std::uint32_t(at[1]) << 8) | (std::uint32_t(at[2]) << 16) | (std::uint32_t(at[3]) << 24);
}
unsigned Be16(const std::uint8_t* at)
{
    return (unsigned(at[0]) << 8) | at[1];
}
std::uint32_t Be32(const std::uint8_t* at)
{
    return (std::uint32_t(at[0]) << 24) | (std::uint32_t(at[1]) << 16) | (std::uint32_t(at[2]) << 8) | at[3];
}

// The 80-bit IEEE extended sample rate of an AIFF "COMM" chunk.
double ReadExtended(const std::uint8_t* at)
{
    const int exponent = static_cast<int>(((at[0] & 0x7F) << 8) | at[1]) - 16383;
    std::uint64_t mantissa = 0;
    for (int i = 0; i < 8; ++i)
        mantissa = (mantissa << 8) | at[2 + i];
    if (exponent < -1000 || exponent > 1000)
        return 0;
    const double value = std::ldexp(static_cast<double>(mantissa), exponent - 63);
    return (at[0] & 0x80) ? -value : value;
}

bool ReadAt(std::FILE* file, std::uint64_t offset, void* into, std::size_t bytes)
{
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0)
        return false;
    return std::fread(into, 1, bytes, file) == bytes;
}

std::string Reason(const std::string& path, const std::string& what)
{
    return path + ": " + what;
}

} // namespace

std::array<std::uint8_t, kWaveHeaderBytes> MakeWaveHeader(int formatTag, int channels, int sampleRate,
                                                          int bitsPerSample, std::uint32_t dataBytes)
{
    std::array<std::uint8_t, kWaveHeaderBytes> header{};
    std::uint8_t* h = header.data();
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, kWaveRiffSizeBase + dataBytes);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, static_cast<unsigned>(formatTag));
    PutLe16(h + 22, static_cast<unsigned>(channels));
    PutLe32(h + 24, static_cast<std::uint32_t>(sampleRate));
    const std::uint64_t byteRate = (std::uint64_t(sampleRate) * channels * bitsPerSample + 7) / 8;
    PutLe32(h + 28, static_cast<std::uint32_t>(byteRate));
    PutLe16(h + 32, static_cast<unsigned>((channels * bitsPerSample + 7) / 8));
    PutLe16(h + 34, static_cast<unsigned>(bitsPerSample));
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, dataBytes);
    return header;
}

bool IsLayerTwoSampleRate(int sampleRate)
{
    return std::find(std::begin(kLayerTwoRates), std::end(kLayerTwoRates), sampleRate) != std::end(kLayerTwoRates);
}

PcmInput::~PcmInput()
{
    if (file_)
        std::fclose(file_);
}

bool PcmInput::Open(const std::string& path, std::string* error)
{
    path_ = path;
    // A FIFO or device named as music is refused, never opened for reading or waited on.
    std::string reason;
    FileDescriptor fd = OpenRegularFile(path, &reason);
    if (fd)
        file_ = ::fdopen(fd.Get(), "rb");
    if (!file_) {
        *error = Reason(path, fd ? std::strerror(errno) : reason);
        return false;
    }
    fd.Release(); // the stream owns it now
    std::uint8_t magic[12] = {};
    const std::size_t got = std::fread(magic, 1, sizeof magic, file_);
    bool ok = true;
    if (got == sizeof magic && !std::memcmp(magic, "RIFF", 4) && !std::memcmp(magic + 8, "WAVE", 4)) {
        container_ = PcmContainer::Wave;
        ok = ParseWave(error);
    } else if (got == sizeof magic && !std::memcmp(magic, "FORM", 4) && !std::memcmp(magic + 8, "AIFF", 4)) {
        container_ = PcmContainer::Aiff;
        ok = ParseAiff(error);
    } else {
        container_ = PcmContainer::Headerless;
        if (fseeko(file_, 0, SEEK_END) != 0) {
            *error = Reason(path, "cannot be read");
            return false;
        }
        bytesRemaining_ = static_cast<std::uint64_t>(std::max<off_t>(0, ftello(file_)));
        ok = fseeko(file_, 0, SEEK_SET) == 0;
        if (!ok)
            *error = Reason(path, "cannot be read");
    }
    if (!ok)
        return false;
    if (channels_ != 1 && channels_ != 2) {
        *error = Reason(path, Format("has %d channels; only mono or stereo can be encoded", channels_));
        return false;
    }
    if (!IsLayerTwoSampleRate(sampleRate_)) {
        *error = Reason(path, Format("has a sample rate of %d Hz; MPEG audio Layer II takes only "
                                     "16000, 22050, 24000, 32000, 44100 or 48000 Hz",
                                     sampleRate_));
        return false;
    }
    dataBytes_ = bytesRemaining_;
    dataOffset_ = static_cast<std::uint64_t>(std::max<off_t>(0, ftello(file_)));
    if (FramesRemaining() == 0) {
        *error = Reason(path, "contains no audio samples");
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kReadBufferBytes);
    return true;
}

bool PcmInput::ParseWave(std::string* error)
{
    if (fseeko(file_, 0, SEEK_END) != 0) {
        *error = Reason(path_, "cannot be read");
        return false;
    }
    const std::uint64_t fileSize = static_cast<std::uint64_t>(std::max<off_t>(0, ftello(file_)));

    // Follow the chunk list for "fmt " and "data". Writers put other chunks (LIST, fact)
    // in between, and a sample block that does not start at byte 44 would otherwise be
    // encoded from the middle of those chunks.
    std::uint8_t format[40] = {};
    bool haveFormat = false;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
    bool haveData = false;
    std::uint64_t at = 12;
    for (int chunk = 0; chunk < kMaxChunks && at + 8 <= fileSize; ++chunk) {
        std::uint8_t head[8];
        if (!ReadAt(file_, at, head, 8))
            break;
        const std::uint64_t size = Le32(head + 4);
        if (!std::memcmp(head, "fmt ", 4) && !haveFormat && size >= 16) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof format));
            if (!ReadAt(file_, at + 8, format, want))
                break;
            haveFormat = true;
        } else if (!std::memcmp(head, "data", 4)) {
            dataOffset = at + 8;
            dataSize = size;
            haveData = true;
            break;
        }
        at += 8 + size + (size & 1);
    }

    std::uint8_t canonical[kWaveHeaderBytes] = {};
    const bool haveCanonical = ReadAt(file_, 0, canonical, sizeof canonical);
    int formatTag = kWaveFormatPcm;
    int blockAlign = 0;
    int bits = 16;
    if (haveFormat) {
        formatTag = static_cast<int>(Le16(format));
        channels_ = static_cast<int>(Le16(format + 2));
        sampleRate_ = static_cast<int>(Le32(format + 4));
        blockAlign = static_cast<int>(Le16(format + 12));
        bits = static_cast<int>(Le16(format + 14));
        // WAVE_FORMAT_EXTENSIBLE carries the real format in its sub-format GUID.
        if (formatTag == kWaveFormatExtensible && Le16(format + 16) >= 22)
            formatTag = static_cast<int>(Le16(format + 24));
    } else if (haveCanonical) {
        channels_ = static_cast<int>(Le16(canonical + kWaveChannelsOffset));
        sampleRate_ = static_cast<int>(Le32(canonical + kWaveRateOffset));
        blockAlign = static_cast<int>(Le16(canonical + kWaveBlockAlignOffset));
        bits = static_cast<int>(Le16(canonical + kWaveBitsOffset));
    } else {
        *error = Reason(path_, "the WAVE header is cut short");
        return false;
    }
    // A data size of 0 is what a writer leaves before it fills in its sizes at the end (a
    // recording cut off by a crash): the samples then run to the end of the file.
    if (haveData && dataSize == 0)
        dataSize = UINT64_MAX;
    if (!haveData) {
        // No "data" chunk to be found: the samples follow the canonical header.
        dataOffset = kWaveHeaderBytes;
        dataSize = UINT64_MAX;
    }

    if (blockAlign == 1 || (blockAlign == 2 && channels_ == 2) || bits == 8) {
        *error = Reason(path_, "has 8-bit samples; only 16-bit PCM can be encoded");
        return false;
    }
    if (formatTag != kWaveFormatPcm) {
        *error =
            Reason(path_, Format("is not integer PCM (WAVE format %d); only 16-bit PCM can be encoded", formatTag));
        return false;
    }
    if (bits != 16) {
        *error = Reason(path_, Format("has %d-bit samples; only 16-bit PCM can be encoded", bits));
        return false;
    }
    // A "data" size beyond the end of the file (a writer that never completed its header,
    // or one that lies) is taken as "up to the end of the file".
    const std::uint64_t available = fileSize > dataOffset ? fileSize - dataOffset : 0;
    bytesRemaining_ = std::min(dataSize, available);
    if (fseeko(file_, static_cast<off_t>(dataOffset), SEEK_SET) != 0) {
        *error = Reason(path_, "cannot be read");
        return false;
    }
    return true;
}

bool PcmInput::ParseAiff(std::string* error)
{
    bigEndian_ = true;
    if (fseeko(file_, 0, SEEK_END) != 0) {
        *error = Reason(path_, "cannot be read");
        return false;
    }
    const std::uint64_t fileSize = static_cast<std::uint64_t>(std::max<off_t>(0, ftello(file_)));
    bool haveCommon = false;
    bool haveSound = false;
    int bits = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t at = 12;
    for (int chunk = 0; chunk < kMaxChunks && at + 8 <= fileSize && !(haveCommon && haveSound); ++chunk) {
        std::uint8_t head[8];
        if (!ReadAt(file_, at, head, 8))
            break;
        const std::uint64_t size = Be32(head + 4);
        if (!std::memcmp(head, "COMM", 4) && size >= 18) {
            std::uint8_t common[18];
            if (!ReadAt(file_, at + 8, common, sizeof common))
                break;
            channels_ = static_cast<int>(Be16(common));
            bits = static_cast<int>(Be16(common + 6));
            const double rate = ReadExtended(common + 8);
            sampleRate_ = rate > 0 && rate < 1e7 ? static_cast<int>(std::lround(rate)) : 0;
            haveCommon = true;
        } else if (!std::memcmp(head, "SSND", 4) && size >= 8) {
            std::uint8_t sound[8];
            if (!ReadAt(file_, at + 8, sound, sizeof sound))
                break;
            const std::uint64_t skip = Be32(sound);
            dataOffset = at + 16 + skip;
            dataSize = size >= 8 + skip ? size - 8 - skip : 0;
            haveSound = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!haveCommon || !haveSound) {
        *error =
            Reason(path_, !haveCommon ? "the AIFF file has no \"COMM\" chunk" : "the AIFF file has no \"SSND\" chunk");
        return false;
    }
    if (bits != 16) {
        *error = Reason(path_, Format("has %d-bit samples; only 16-bit PCM can be encoded", bits));
        return false;
    }
    const std::uint64_t available = fileSize > dataOffset ? fileSize - dataOffset : 0;
    bytesRemaining_ = std::min(dataSize, available);
    if (fseeko(file_, static_cast<off_t>(std::min(dataOffset, fileSize)), SEEK_SET) != 0) {
        *error = Reason(path_, "cannot be read");
        return false;
    }
    return true;
}

bool PcmInput::SeekToFrame(std::uint64_t frame)
{
    const std::uint64_t offset = frame * 2u * static_cast<std::uint64_t>(channels_);
    if (offset > dataBytes_ || fseeko(file_, static_cast<off_t>(dataOffset_ + offset), SEEK_SET) != 0)
        return false;
    bytesRemaining_ = dataBytes_ - offset;
    return true;
}

long PcmInput::Read(std::int16_t* samples, std::size_t maxFrames)
{
    const std::size_t frameBytes = 2u * static_cast<std::size_t>(channels_);
    const std::uint64_t wanted =
        std::min<std::uint64_t>(maxFrames * frameBytes, bytesRemaining_ / frameBytes * frameBytes);
    if (wanted == 0)
        return 0;
    raw_.resize(static_cast<std::size_t>(wanted));
    const std::size_t got = std::fread(raw_.data(), 1, raw_.size(), file_);
    if (got < raw_.size() && std::ferror(file_))
        return -1;
    const std::size_t frames = got / frameBytes;
    const std::size_t values = frames * static_cast<std::size_t>(channels_);
    const std::uint8_t* in = raw_.data();
    if (bigEndian_) {
        for (std::size_t i = 0; i < values; ++i)
            samples[i] = static_cast<std::int16_t>(Be16(in + 2 * i));
    } else {
        for (std::size_t i = 0; i < values; ++i)
            samples[i] = static_cast<std::int16_t>(Le16(in + 2 * i));
    }
    // A file that ends early (shorter than its header said) simply ends the samples.
    bytesRemaining_ = got < raw_.size() ? 0 : bytesRemaining_ - got;
    return static_cast<long>(frames);
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/MusicConversion.h"

#include "base/FileDescriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "base/TextUtil.h"
#include "mpadec/MpegAudioDecoder.h"
#include "production/WaveFile.h"

namespace lumivox {

namespace {

// --- First-frame scan -------------------------------------------------------------------
constexpr std::size_t kScanBlockBytes = 1441;
// Candidates are looked for at positions 0..1439; consecutive blocks overlap by one byte.
constexpr std::size_t kScanPositions = kScanBlockBytes - 1;
// A candidate this far into the block might not have its VBR tag inside it; it is left
// for the next block.
constexpr std::size_t kScanCandidateLimit = 1400;
// MPEG-1 Layer III bit rates in kbit/s by bit-rate index (ISO/IEC 11172-3 table 2.4.2.3).
constexpr int kLayerThreeKbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
// MPEG-1 sample rates in units of 100 Hz by sample-rate index.
constexpr int kMpeg1RateHundreds[3] = {441, 480, 320};
// Offset of the "Xing" VBR tag from the frame start: after the side information, which
// is 32 bytes for MPEG-1 stereo, 17 for MPEG-1 mono, 17 and 9 for MPEG-2, plus the header.
constexpr int kXingOffsetMpeg1 = 36;
constexpr int kXingOffsetMpeg1Mono = 21;
constexpr int kXingOffsetMpeg2 = 21;
constexpr int kXingOffsetMpeg2Mono = 13;

// --- MP3 decoding -----------------------------------------------------------------------
constexpr std::size_t kInputBufferBytes = 60000;
constexpr std::size_t kRefillThreshold = 2500;
constexpr std::size_t kOutputBufferBytes = 60000;
constexpr std::size_t kWriteThreshold = 55000;
// The fixed decoder settings: full rate, the one transform, channels as in the source at
// 16 bits, everything up to 24 kHz kept.
constexpr int kReductionFull = 0;
constexpr int kTransformCode = 0;
constexpr int kConvertAsSource = 0;
constexpr int kFrequencyLimitHz = 24000;
// A WAVE file cannot describe more PCM than its 32-bit "RIFF" size allows.
constexpr std::uint64_t kMaxWavePcmBytes = 0xFFFFFFFFull - kWaveRiffSizeBase;

const char* const kCancelled = "cancelled";

void SetError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

bool Cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Reads until count bytes came or the file ended; -1 on a read error.
long ReadFully(int fd, std::uint8_t* into, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, into + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

// Writes everything, retrying interrupted and would-block writes. Returns the bytes
// written, which is less than count only when the file refused more (disc full).
std::size_t WriteFully(int fd, const std::uint8_t* from, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(fd, from + done, count - done);
        if (put < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;
        }
        if (put == 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    return done;
}

// Length of a frame as the scan computes it: only MPEG-1 Layer III frames have one
// (free-format frames count as 4 bytes); 0 for every other frame.
int ScanFrameLength(const MpegFrameHeader& header)
{
    if (header.bitrateIndex == 0)
        return 4;
    if (header.syncKind != 1 || header.versionBit != 1 || header.layerCode != kMpegLayerCodeIII ||
        header.bitrateIndex >= 15 || header.sampleRateIndex >= 3)
        return 0;
    return header.padding + kLayerThreeKbps[header.bitrateIndex] * 1440 / kMpeg1RateHundreds[header.sampleRateIndex];
}

int XingOffset(const MpegFrameHeader& header)
{
    const bool mono = header.channelMode == kMpegChannelModeMono;
    if (header.versionBit)
        return mono ? kXingOffsetMpeg1Mono : kXingOffsetMpeg1;
    return mono ? kXingOffsetMpeg2Mono : kXingOffsetMpeg2;
}

// The header check of the decoding loop: MPEG-1 or MPEG-2 (not 2.5) Layer III with a
// table bit rate and a real sample rate.
bool IsAcceptableHeader(const std::uint8_t* bytes)
{
    if (bytes[0] != 0xFF || (bytes[1] & 0xF0) != 0xF0)
        return false;
    MpegFrameHeader header;
    ReadMpegFrameHeader(bytes, &header);
    // Bit-rate index 15 is forbidden by ISO/IEC 11172-3; such a pair of bytes is not a
    // header, and taking it for one would end the whole conversion at ParseFrameHeader.
    return header.layerCode == kMpegLayerCodeIII && header.bitrateIndex != 0 && header.bitrateIndex != 15 &&
           header.sampleRateIndex != 3;
}

// The first header is taken only when the frame after it starts with a header of the same
// stream (or the file ends first). Four bytes that merely look like a header turn up
// every few kilobytes of other data; decoding from one would turn a file that is not an
// MP3 at all into noise.
bool NextFrameAgrees(const std::uint8_t* bytes, std::size_t count)
{
    MpegFrameHeader first;
    const int length = ParseFrameHeader(bytes, count, nullptr, &first);
    if (length <= 0)
        return false;
    if (static_cast<std::size_t>(length) + 4 > count)
        return true;
    const std::uint8_t* next = bytes + length;
    if (!IsAcceptableHeader(next))
        return false;
    MpegFrameHeader second;
    ReadMpegFrameHeader(next, &second);
    return second.versionBit == first.versionBit && second.sampleRateIndex == first.sampleRateIndex;
}

// Size of the ID3v2 tag at the start of the file (Id3v2TagSize).
std::size_t MeasureId3v2Tag(int fd)
{
    std::uint8_t header[10];
    if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return 0;
    return Id3v2TagSize(header, sizeof header);
}

// The 60000-byte window over the MP3 that the decoding reads through.
class InputWindow {
public:
    InputWindow(int fd, const std::atomic<bool>* cancel) : fd_(fd), cancel_(cancel) { }

    bool Allocate()
    {
        try {
            buffer_.resize(kInputBufferBytes);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // Tops the window up when fewer than the threshold of unread bytes remain. False on a
    // read error or a cancel; the end of the file is not a failure.
    bool Refill()
    {
        if (Cancelled(cancel_)) {
            cancelled_ = true;
            return false;
        }
        if (unread_ >= kRefillThreshold || ended_)
            return true;
        std::memmove(buffer_.data(), buffer_.data() + position_, unread_);
        position_ = 0;
        const long got = ReadFully(fd_, buffer_.data() + unread_, buffer_.size() - unread_);
        if (got < 0)
            return false;
        if (static_cast<std::size_t>(got) < buffer_.size() - unread_)
            ended_ = true;
        unread_ += static_cast<std::size_t>(got);
        return true;
    }

    const std::uint8_t* Data() const { return buffer_.data() + position_; }
    std::size_t Unread() const { return unread_; }
    void Advance(std::size_t bytes)
    {
        position_ += bytes;
        unread_ -= bytes;
    }
    bool AtAcceptableHeader() const { return unread_ >= 4 && IsAcceptableHeader(Data()); }
    bool WasCancelled() const { return cancelled_; }
    bool Ended() const { return ended_; }

private:
    int fd_;
    const std::atomic<bool>* cancel_;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = 0;
    std::size_t unread_ = 0;
    bool ended_ = false;
    bool cancelled_ = false;
};

} // namespace

bool FirstFrameScan(int fd)
{
    off_t blockStart = ::lseek(fd, 0, SEEK_CUR);
    if (blockStart < 0)
        return false;
    std::uint8_t block[kScanBlockBytes];
    for (;;) {
        const long got = ReadFully(fd, block, kScanBlockBytes);
        if (got < 0)
            return false;
        if (static_cast<std::size_t>(got) < kScanBlockBytes) {
            // The stretch left is shorter than a block: it is not scanned, but the file
            // goes back to where it starts so that frames in it can still be decoded.
            return ::lseek(fd, blockStart, SEEK_SET) >= 0;
        }
        off_t nextStart = blockStart + static_cast<off_t>(kScanPositions);
        std::size_t at = 0;
        while (at < kScanPositions) {
            const bool candidate =
                block[at] == 0xFF && ((block[at + 1] & 0xF0) == 0xF0 || (block[at + 1] & 0xF0) == 0xE0);
            if (!candidate) {
                ++at;
                continue;
            }
            if (at >= kScanCandidateLimit) {
                // Too close to the block's end to look for its tag here: the next block
                // starts at this candidate, so it is looked at there rather than lost.
                nextStart = std::min(nextStart, blockStart + static_cast<off_t>(at));
                break;
            }
            MpegFrameHeader header;
            ReadMpegFrameHeader(block + at, &header);
            if (std::memcmp(block + at + XingOffset(header), "Xing", 4) != 0)
                return ::lseek(fd, blockStart + static_cast<off_t>(at), SEEK_SET) >= 0;
            // A frame that holds only the VBR header: step over it. The scan's own table
            // knows only MPEG-1 Layer III lengths; for any other frame the full standard
            // length is used, and a frame without a computable length (free format, or a
            // reserved field) is left one byte at a time, so the scan always moves on.
            int length = ScanFrameLength(header);
            if (length <= 4)
                length = std::max(MpegFrameLength(header), length);
            at += static_cast<std::size_t>(std::max(length, 1));
            if (at >= kScanPositions) {
                // The frame reaches past this block: the next block starts at its end.
                nextStart = std::max(nextStart, blockStart + static_cast<off_t>(at));
                break;
            }
        }
        blockStart = nextStart;
        if (::lseek(fd, blockStart, SEEK_SET) < 0)
            return false;
    }
}

bool DecodeMp3ToWave(const std::string& sourcePath, const std::string& wavePath, std::string* error,
                     const std::atomic<bool>* cancel)
{
    std::string reason;
    FileDescriptor source = OpenRegularFile(sourcePath, &reason);
    if (!source) {
        SetError(error, sourcePath + ": " + reason);
        return false;
    }
    const std::size_t tagBytes = MeasureId3v2Tag(source.Get());
    if (tagBytes > 0 && ::lseek(source.Get(), static_cast<off_t>(tagBytes), SEEK_SET) < 0) {
        SetError(error, sourcePath + ": cannot be read past its ID3v2 tag");
        return false;
    }
    if (!FirstFrameScan(source.Get())) {
        SetError(error, sourcePath + ": cannot be read");
        return false;
    }

    InputWindow input(source.Get(), cancel);
    if (!input.Allocate()) {
        SetError(error, sourcePath + ": not enough memory to read it");
        return false;
    }
    const auto readFailure = [&] {
        SetError(error, input.WasCancelled() ? kCancelled : sourcePath + ": cannot be read");
        return false;
    };

    // Find the first acceptable Layer III header.
    for (;;) {
        if (!input.Refill())
            return readFailure();
        if (input.Unread() < 4) {
            SetError(error, sourcePath + ": no MPEG audio Layer III frame found (not an MP3 file?)");
            return false;
        }
        if (input.AtAcceptableHeader() && NextFrameAgrees(input.Data(), input.Unread()))
            break;
        input.Advance(1);
    }
    int bitrate = 0;
    MpegFrameHeader header;
    const int firstFrameBytes = ParseFrameHeader(input.Data(), input.Unread(), &bitrate, &header);
    if (firstFrameBytes <= 0) {
        SetError(error, sourcePath + ": the first MPEG audio frame header is not usable");
        return false;
    }

    FileDescriptor wave(::open(wavePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (wave.Get() < 0) {
        SetError(error, wavePath + ": cannot be created: " + std::strerror(errno));
        return false;
    }
    std::vector<std::uint8_t> output;
    try {
        output.resize(kOutputBufferBytes);
    } catch (const std::bad_alloc&) {
        SetError(error, sourcePath + ": not enough memory to decode it");
        return false;
    }
    MpegAudioDecoder decoder;
    if (!decoder.InitDecoder(header, firstFrameBytes, kReductionFull, kTransformCode, kConvertAsSource,
                             kFrequencyLimitHz)) {
        SetError(error, sourcePath + ": the MP3 decoder cannot take this stream");
        return false;
    }
    const DecodedStreamInfo info = decoder.GetStreamInfo();
    if (info.outputType != kDecodedOutputLinearPcm && info.outputType != kDecodedOutputMuLaw) {
        SetError(error, sourcePath + ": the MP3 decoder delivers an unknown sample type");
        return false;
    }
    const int formatTag = info.outputType == kDecodedOutputLinearPcm ? kWaveFormatPcm : kWaveFormatMuLaw;
    const auto startHeader = MakeWaveHeader(formatTag, info.channels, info.sampleRate, info.bitsPerSample, 0);
    if (WriteFully(wave.Get(), startHeader.data(), startHeader.size()) != startHeader.size()) {
        SetError(error, wavePath + ": cannot be written: " + std::strerror(errno));
        return false;
    }

    std::size_t pending = 0;
    std::uint64_t total = 0;
    bool stoppedWriting = false;
    for (;;) {
        if (!input.Refill())
            return readFailure();
        // Inside the file a whole first-frame's worth of bytes is kept ahead. At its end
        // the frames left are still decoded, down to the last whole one: a VBR song's
        // closing frames are often smaller than its first, and would otherwise be lost.
        if (input.Unread() < static_cast<std::size_t>(firstFrameBytes) && !(input.Ended() && input.Unread() >= 4))
            break;
        if (input.AtAcceptableHeader()) {
            const DecodeFrameResult result =
                decoder.DecodeFrame(input.Data(), input.Unread(), output.data() + pending, output.size() - pending);
            if (result.consumed <= 0)
                break;
            input.Advance(static_cast<std::size_t>(result.consumed));
            pending += static_cast<std::size_t>(result.produced);
        } else {
            input.Advance(1);
        }
        if (pending > kWriteThreshold) {
            // A WAVE file ends at 4 GB; a longer song is cut there like a full disc cuts it.
            const std::size_t allowed =
                static_cast<std::size_t>(std::min<std::uint64_t>(pending, kMaxWavePcmBytes - total));
            const std::size_t written = WriteFully(wave.Get(), output.data(), allowed);
            total += written;
            if (written < pending) {
                stoppedWriting = true;
                break;
            }
            pending = 0;
        }
    }
    if (!stoppedWriting && pending > 0) {
        const std::size_t allowed =
            static_cast<std::size_t>(std::min<std::uint64_t>(pending, kMaxWavePcmBytes - total));
        total += WriteFully(wave.Get(), output.data(), allowed);
    }

    // Complete the sizes; the file position stays at the end of the samples.
    const auto finalHeader = MakeWaveHeader(formatTag, info.channels, info.sampleRate, info.bitsPerSample,
                                            static_cast<std::uint32_t>(total));
    if (::pwrite(wave.Get(), finalHeader.data(), finalHeader.size(), 0) != static_cast<ssize_t>(finalHeader.size()) ||
        !wave.Close()) {
        SetError(error, wavePath + ": cannot be written: " + std::strerror(errno));
        return false;
    }
    if (total == 0) {
        // Headers alone: there is no music to put on the disc.
        SetError(error, sourcePath + ": no audio could be decoded");
        return false;
    }
    return true;
}

bool ConvertBackgroundMusic(const std::string& outputPath, const std::string& sourcePath, const std::string& tempFolder,
                            std::string* error, const std::atomic<bool>* cancel)
{
    const std::string extension = sourcePath.size() >= 4 ? ToLowerAscii(sourcePath.substr(sourcePath.size() - 4)) : "";
    std::string input;
    if (extension == ".mp3") {
        std::string folder = tempFolder;
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        input = Format(kMusicIntermediateFormat, folder.c_str());
        if (!DecodeMp3ToWave(sourcePath, input, error, cancel))
            return false;
    } else if (extension == ".wav") {
        input = sourcePath;
    } else {
        SetError(error, sourcePath + ": menu music must be an MP3 (.mp3) or WAVE (.wav) file");
        return false;
    }
    return EncodeWaveToMp2(input, outputPath, error, cancel);
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
// The music player's readers: WAV files read chunk by chunk (RIFF), MP3 files through
// our MPEG audio decoder, both turned into one-second chunks of 44,100 Hz stereo by
// ChunkBuilder, which resamples with libresample when the source has another rate.

#include "logic/MusicPlayer.h"

#include "base/FileDescriptor.h"
#include "mpadec/MpegAudioDecoder.h"
#include "production/MusicConversion.h"

#include <libresample.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace lumivox::ui {

namespace {

// Rates a music file may have: the sample-rate converter's factor stays within 1/8..8
// of 44,100 Hz, and one second of source stays a small buffer whatever the file claims.
constexpr int kMinSourceRate = 5512;
constexpr int kMaxSourceRate = 352800;

struct ResamplerCloser {
    void operator()(void* handle) const { resample_close(handle); }
};
using Resampler = std::unique_ptr<void, ResamplerCloser>;

// Turns interleaved 16-bit source PCM (one or two channels, any supported rate) into
// one-second output chunks. The latest full chunk is held back until more sound follows,
// so that the song's final chunk can be marked as the last even when the song is a
// whole number of seconds long.
class ChunkBuilder {
public:
    ChunkBuilder(int rate, int channels, ChunkQueue& queue, std::stop_token stop)
        : rate_(rate), channels_(channels), factor_(static_cast<double>(kMusicSampleRate) / rate), queue_(queue),
          stop_(std::move(stop))
    {
        if (rate_ != kMusicSampleRate) {
            for (Resampler& resampler : resamplers_)
                resampler.reset(resample_open(1, factor_, factor_));
        }
    }

    bool Usable() const { return rate_ == kMusicSampleRate || (resamplers_[0] && resamplers_[1]); }

    // Takes frames source frames; false once the player stops the reader.
    bool Add(const std::int16_t* samples, std::size_t frames)
    {
        if (rate_ == kMusicSampleRate) {
            for (std::size_t i = 0; i < frames; ++i) {
                const std::int16_t left = samples[i * channels_];
                const std::int16_t right = channels_ == 2 ? samples[i * channels_ + 1] : left;
                output_.push_back(left);
                output_.push_back(right);
            }
            return Emit(false);
        }
        for (int channel = 0; channel < 2; ++channel) {
            source_[channel].resize(frames);
            for (std::size_t i = 0; i < frames; ++i)
                source_[channel][i] = samples[i * channels_ + (channels_ == 2 ? channel : 0)];
        }
        Convert(false);
        return Emit(false);
    }

    // The end of the song: the converter's tail, then the last chunk padded with silence.
    bool Finish()
    {
        if (rate_ != kMusicSampleRate) {
            source_[0].clear();
            source_[1].clear();
            Convert(true);
        }
        return Emit(true);
    }

private:
    void Convert(bool last)
    {
        for (int channel = 0; channel < 2; ++channel) {
            std::vector<float>& in = source_[channel];
            std::size_t offset = 0;
            float out[4096];
            for (;;) {
                int used = 0;
                const int made = resample_process(resamplers_[channel].get(), factor_, in.data() + offset,
                                                  static_cast<int>(in.size() - offset), last ? 1 : 0, &used, out,
                                                  static_cast<int>(std::size(out)));
                offset += static_cast<std::size_t>(std::max(used, 0));
                if (made > 0)
                    converted_[channel].insert(converted_[channel].end(), out, out + made);
                if (made <= 0 && (offset >= in.size() || used <= 0))
                    break;
            }
        }
        const std::size_t frames = std::min(converted_[0].size(), converted_[1].size());
        for (std::size_t i = 0; i < frames; ++i) {
            for (int channel = 0; channel < 2; ++channel) {
                const float value = std::clamp(std::round(converted_[channel][i]), -32768.0f, 32767.0f);
                output_.push_back(static_cast<std::int16_t>(value));
            }
        }
        for (auto& channel : converted_)
            channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(frames));
    }

    bool Emit(bool end)
    {
        constexpr std::size_t kChunkValues = kMusicChunkFrames * kMusicChannels;
        while (output_.size() >= kChunkValues || (end && !output_.empty())) {
            MusicChunk chunk;
            chunk.pcm.assign(kMusicChunkBytes, 0);
            const std::size_t values = std::min(output_.size(), kChunkValues);
            std::memcpy(chunk.pcm.data(), output_.data(), values * sizeof(std::int16_t));
            output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(values));
            if (held_ && !queue_.Push(std::move(*held_), stop_))
                return false;
            held_ = std::move(chunk);
        }
        if (end && held_) {
            held_->kind = ChunkKind::Last;
            const bool pushed = queue_.Push(std::move(*held_), stop_);
            held_.reset();
            return pushed;
        }
        return !stop_.stop_requested();
    }

    int rate_;
    int channels_;
    double factor_;
    ChunkQueue& queue_;
    std::stop_token stop_;
    Resampler resamplers_[2];
    std::vector<float> source_[2];
    std::vector<float> converted_[2];
    std::vector<std::int16_t> output_;
    std::optional<MusicChunk> held_;
};

std::uint32_t Le32(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

bool ReadFully(int fd, void* data, std::size_t bytes)
{
    auto* out = static_cast<std::uint8_t*>(data);
    while (bytes > 0) {
        const ssize_t got = ::read(fd, out, bytes);
        if (got <= 0)
            return false;
        out += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
}

// Reads up to bytes; the count read (short only at the end of the file or on an error).
std::size_t ReadSome(int fd, std::uint8_t* out, std::size_t bytes)
{
    std::size_t total = 0;
    while (total < bytes) {
        const ssize_t got = ::read(fd, out + total, bytes - total);
        if (got <= 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return total;
}

// Size of an ID3v2 tag at the start of the file (Id3v2TagSize), as the music conversion
// measures it.
std::size_t Id3v2TagBytes(int fd)
{
    std::uint8_t header[10];
    if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return 0;
    return Id3v2TagSize(header, sizeof header);
}

} // namespace

void ReadWaveMusic(const std::string& path, ChunkQueue& queue, std::stop_token stop)
{
    // Like every file a user names: a FIFO or a device is refused before anything waits on it.
    FileDescriptor file = OpenRegularFile(path);
    if (file.Get() < 0)
        return;
    std::uint8_t riff[12];
    if (!ReadFully(file.Get(), riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return;
    // The chunks run to the RIFF length (or the end of the file, when it is shorter).
    const std::uint64_t riffEnd = 8ull + Le32(riff + 4);
    std::uint64_t position = sizeof riff;
    std::unique_ptr<ChunkBuilder> builder;
    int channels = 0;
    std::vector<std::uint8_t> second;
    std::vector<std::int16_t> samples;
    while (position + 8 <= riffEnd && !stop.stop_requested()) {
        std::uint8_t header[8];
        if (!ReadFully(file.Get(), header, sizeof header))
            break;
        position += 8;
        const std::uint32_t length = Le32(header + 4);
        const std::uint64_t next = position + length + (length & 1); // RIFF pads chunks to even
        if (std::memcmp(header, "fmt ", 4) == 0) {
            // WAVEFORMATEX: tag, channels, rate, bytes per second, block align, bits.
            std::uint8_t format[16] = {};
            if (length < 14 || !ReadFully(file.Get(), format, std::min<std::uint32_t>(length, 16)))
                return;
            channels = Le16(format + 2);
            const int rate = static_cast<int>(Le32(format + 4));
            const int bits = length >= 16 ? Le16(format + 14) : 0;
            if (bits != 16 || channels < 1 || channels > 2 || rate < kMinSourceRate || rate > kMaxSourceRate)
                return;
            builder = std::make_unique<ChunkBuilder>(rate, channels, queue, stop);
            if (!builder->Usable())
                return;
            try {
                second.resize(static_cast<std::size_t>(rate) * channels * 2);
            } catch (const std::bad_alloc&) {
                return;
            }
        } else if (std::memcmp(header, "data", 4) == 0 && builder) {
            std::uint64_t left = length;
            while (left > 0 && !stop.stop_requested()) {
                const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, second.size()));
                const std::size_t got = ReadSome(file.Get(), second.data(), want);
                const std::size_t frames = got / (2u * channels);
                samples.resize(frames * channels);
                for (std::size_t i = 0; i < samples.size(); ++i)
                    samples[i] = static_cast<std::int16_t>(Le16(second.data() + 2 * i));
                if (!builder->Add(samples.data(), frames))
                    return;
                left -= got;
                if (got < want) {
                    left = 0;
                    position = riffEnd; // the file ended inside its data
                    break;
                }
            }
        }
        if (position >= riffEnd)
            break;
        position = next;
        if (::lseek(file.Get(), static_cast<off_t>(position), SEEK_SET) < 0)
            break;
    }
    if (builder && !stop.stop_requested())
        builder->Finish();
}

void ReadMp3Music(const std::string& path, ChunkQueue& queue, std::stop_token stop)
{
    constexpr std::size_t kWindowBytes = 60000;
    constexpr std::size_t kRefillBelow = 2500;
    constexpr std::size_t kPcmBytes = 200000;
    constexpr int kMaxSearchSteps = 409600;
    // The decoder settings of the music conversion: full rate, floating-point synthesis,
    // channels as in the source, no band limit below 24 kHz.
    constexpr int kFrequencyLimitHz = 24000;

    // Like every file a user names: a FIFO or a device is refused before anything waits on it.
    FileDescriptor file = OpenRegularFile(path);
    if (file.Get() < 0)
        return;
    const std::size_t tag = Id3v2TagBytes(file.Get());
    if (::lseek(file.Get(), static_cast<off_t>(tag), SEEK_SET) < 0 || !FirstFrameScan(file.Get()))
        return;

    std::vector<std::uint8_t> window(kWindowBytes);
    std::vector<std::uint8_t> pcm(kPcmBytes);
    std::size_t start = 0;
    std::size_t end = 0;
    bool fileEnded = false;
    const auto refill = [&] {
        if (end - start >= kRefillBelow || fileEnded)
            return;
        std::memmove(window.data(), window.data() + start, end - start);
        end -= start;
        start = 0;
        const std::size_t got = ReadSome(file.Get(), window.data() + end, window.size() - end);
        if (got < window.size() - end)
            fileEnded = true;
        end += got;
    };

    MpegAudioDecoder decoder;
    std::unique_ptr<ChunkBuilder> builder;
    int channels = 0;
    int searchSteps = 0;
    while (!stop.stop_requested()) {
        refill();
        if (end - start < 4)
            break;
        int bitrate = 0;
        MpegFrameHeader header;
        const std::uint8_t* at = window.data() + start;
        const bool sync = at[0] == 0xFF && at[1] >= 0xE0;
        const int frameBytes = sync ? ParseFrameHeader(at, end - start, &bitrate, &header) : 0;
        if (frameBytes <= 0 || header.layerCode != kMpegLayerCodeIII) {
            ++start;
            if (++searchSteps > kMaxSearchSteps)
                break;
            continue;
        }
        searchSteps = 0;
        if (!builder) {
            if (!decoder.InitDecoder(header, frameBytes, 0, 0, 0, kFrequencyLimitHz))
                return;
            const DecodedStreamInfo info = decoder.GetStreamInfo();
            channels = info.channels;
            if (channels < 1 || channels > 2 || info.sampleRate < kMinSourceRate || info.sampleRate > kMaxSourceRate)
                return;
            builder = std::make_unique<ChunkBuilder>(info.sampleRate, channels, queue, stop);
            if (!builder->Usable())
                return;
        }
        const DecodeFrameResult result = decoder.DecodeFrame(at, end - start, pcm.data(), pcm.size());
        if (result.consumed <= 0)
            break;
        start += static_cast<std::size_t>(result.consumed);
        const std::size_t frames = static_cast<std::size_t>(result.produced) / (2u * channels);
        if (frames > 0 && !builder->Add(reinterpret_cast<const std::int16_t*>(pcm.data()), frames))
            return;
    }
    if (builder && !stop.stop_requested())
        builder->Finish();
}

} // namespace lumivox::ui

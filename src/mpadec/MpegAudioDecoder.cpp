// SPDX-License-Identifier: GPL-2.0-or-later
// MPEG audio frame headers are read here; the Layer III decoding itself is libmpg123's,
// driven through its feeder interface one whole frame at a time.

#include "mpadec/MpegAudioDecoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace lumivox {

namespace {

// Bit rates in kbit/s, ISO/IEC 11172-3 table 2.4.2.3 and ISO/IEC 13818-3 table 2.4.2.3
// (the latter also serves MPEG-2.5). Index [lowSamplingRate][layer I, II, III][index].
constexpr int kBitrateTable[2][3][16] = {
    {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    },
    {
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    },
};

// Sample rates in Hz for MPEG-1, MPEG-2 and MPEG-2.5 by sample-rate index.
constexpr int kSampleRateTable[3][3] = {
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
};

constexpr int kInvalidBitrateIndex = 15;
constexpr int kReservedSampleRateIndex = 3;
constexpr int kOutputBitsPerSample = 16;
// A caller that keeps giving too little output room is refused rather than letting the
// held-back PCM grow: a few frames of the largest kind (1152 stereo samples) fit.
constexpr std::size_t kMaxHeldBackBytes = 8 * 1152 * 2 * 2;

// 0 = MPEG-1, 1 = MPEG-2, 2 = MPEG-2.5; -1 for the reserved version.
int VersionRow(const MpegFrameHeader& header)
{
    if (header.syncKind == 1)
        return header.versionBit ? 0 : 1;
    if (header.syncKind == 2)
        return header.versionBit ? -1 : 2;
    return -1;
}

bool IsUsable(const MpegFrameHeader& header)
{
    return VersionRow(header) >= 0 && header.layerCode != 0 && header.bitrateIndex != kInvalidBitrateIndex &&
           header.sampleRateIndex != kReservedSampleRateIndex;
}

// Bytes per frame for one bit per second: frame length = coefficient × bit rate / rate.
// Layer I counts 4-byte slots, so its coefficient is in slots.
int LengthCoefficient(const MpegFrameHeader& header)
{
    const bool lowSamplingRate = VersionRow(header) != 0;
    switch (header.layerCode) {
    case kMpegLayerCodeI:
        return 12;
    case kMpegLayerCodeII:
        return 144;
    case kMpegLayerCodeIII:
        return lowSamplingRate ? 72 : 144;
    default:
        return 0;
    }
}

std::uint32_t HeaderWord(const std::uint8_t* bytes)
{
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) |
           bytes[3];
}

// The fields that stay the same from frame to frame of one free-format stream: sync and
// version, layer, bit-rate index (0) and sample-rate index.
constexpr std::uint32_t kFreeFormatSameMask = 0xFFFE'FC00u;

void CallLibraryInitOnce()
{
    // Old libmpg123 versions require one mpg123_init() before any handle exists, made from
    // one thread; newer ones ignore it. call_once keeps both kinds safe.
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

} // namespace

bool ReadMpegFrameHeader(const std::uint8_t* bytes, MpegFrameHeader* header)
{
    *header = MpegFrameHeader{};
    if (bytes[0] != 0xFF)
        return false;
    if ((bytes[1] & 0xF0) == 0xF0)
        header->syncKind = 1;
    else if ((bytes[1] & 0xF0) == 0xE0)
        header->syncKind = 2;
    else
        return false;
    header->versionBit = (bytes[1] >> 3) & 1;
    header->layerCode = (bytes[1] >> 1) & 3;
    header->protection = bytes[1] & 1;
    header->bitrateIndex = bytes[2] >> 4;
    header->sampleRateIndex = (bytes[2] >> 2) & 3;
    header->padding = (bytes[2] >> 1) & 1;
    header->privateBit = bytes[2] & 1;
    header->channelMode = bytes[3] >> 6;
    header->modeExtension = (bytes[3] >> 4) & 3;
    header->copyright = (bytes[3] >> 3) & 1;
    header->original = (bytes[3] >> 2) & 1;
    header->emphasis = bytes[3] & 3;
    return true;
}

int MpegSampleRate(const MpegFrameHeader& header)
{
    const int row = VersionRow(header);
    if (row < 0 || header.sampleRateIndex < 0 || header.sampleRateIndex >= kReservedSampleRateIndex)
        return 0;
    return kSampleRateTable[row][header.sampleRateIndex];
}

int MpegBitrateKbps(const MpegFrameHeader& header)
{
    const int row = VersionRow(header);
    if (row < 0 || header.layerCode < 1 || header.layerCode > 3 || header.bitrateIndex < 0 || header.bitrateIndex > 15)
        return 0;
    return kBitrateTable[row == 0 ? 0 : 1][3 - header.layerCode][header.bitrateIndex];
}

int MpegSamplesPerFrame(const MpegFrameHeader& header)
{
    const int row = VersionRow(header);
    if (row < 0)
        return 0;
    switch (header.layerCode) {
    case kMpegLayerCodeI:
        return 384;
    case kMpegLayerCodeII:
        return 1152;
    case kMpegLayerCodeIII:
        return row == 0 ? 1152 : 576;
    default:
        return 0;
    }
}

int MpegFrameLength(const MpegFrameHeader& header)
{
    if (!IsUsable(header))
        return 0;
    const int kbps = MpegBitrateKbps(header);
    const int rate = MpegSampleRate(header);
    if (kbps == 0 || rate == 0)
        return 0;
    const int units = LengthCoefficient(header) * kbps * 1000 / rate + header.padding;
    return header.layerCode == kMpegLayerCodeI ? units * 4 : units;
}

int ParseFrameHeader(const std::uint8_t* bytes, std::size_t count, int* bitrateOut, MpegFrameHeader* headerOut)
{
    MpegFrameHeader header;
    if (bitrateOut)
        *bitrateOut = 0;
    if (headerOut)
        *headerOut = MpegFrameHeader{};
    if (!bytes || count < 4 || !ReadMpegFrameHeader(bytes, &header))
        return 0;
    if (headerOut)
        *headerOut = header;
    if (!IsUsable(header))
        return 0;

    const int rate = MpegSampleRate(header);
    if (header.bitrateIndex != 0) {
        if (bitrateOut)
            *bitrateOut = MpegBitrateKbps(header) * 1000;
        return MpegFrameLength(header);
    }

    // Free format: the frame ends where the next header of the same stream begins.
    const std::uint32_t first = HeaderWord(bytes) & kFreeFormatSameMask;
    const std::size_t limit = std::min(count, kFreeFormatSearchBytes);
    for (std::size_t at = 4; at + 4 <= limit; ++at) {
        if (bytes[at] != 0xFF || (HeaderWord(bytes + at) & kFreeFormatSameMask) != first)
            continue;
        const int length = static_cast<int>(at);
        if (bitrateOut) {
            const int slotBytes = header.layerCode == kMpegLayerCodeI ? 4 : 1;
            const long long units = length / slotBytes - header.padding;
            *bitrateOut = static_cast<int>(units * rate / LengthCoefficient(header));
        }
        return length;
    }
    return 0;
}

struct MpegAudioDecoder::Context {
    mpg123_handle* handle = nullptr;
    DecodedStreamInfo info;
    MpegFrameHeader firstHeader;
    int reductionCode = 0;
    int convertCode = 0;
    int frequencyLimitHz = 0;
    // PCM decoded but not yet delivered because the caller's room was too small.
    std::vector<std::uint8_t> heldBack;

    ~Context() { Close(); }

    void Close()
    {
        if (handle) {
            mpg123_close(handle);
            mpg123_delete(handle);
            handle = nullptr;
        }
    }

    // Creates and opens a fresh libmpg123 feeder with the settings of InitDecoder. Also
    // used to get back in step after a frame the library could not take.
    bool Open()
    {
        Close();
        CallLibraryInitOnce();
        int error = MPG123_OK;
        handle = mpg123_new(nullptr, &error);
        if (!handle)
            return false;
        // Whole frames are fed, so the library may decode each at once instead of waiting
        // for the next header; gapless trimming is off because every frame's PCM is wanted
        // exactly as decoded. Output is little-endian 16-bit on every host.
        long flags = MPG123_QUIET | MPG123_NO_READAHEAD | MPG123_FORCE_ENDIAN | MPG123_AUTO_RESAMPLE;
        if (convertCode == static_cast<int>(DecoderConvert::MonoMix))
            flags |= MPG123_MONO_MIX;
        else if (convertCode == static_cast<int>(DecoderConvert::LeftOnly))
            flags |= MPG123_MONO_LEFT;
        else if (convertCode == static_cast<int>(DecoderConvert::RightOnly))
            flags |= MPG123_MONO_RIGHT;
        if (mpg123_param(handle, MPG123_FLAGS, flags, 0) != MPG123_OK ||
            mpg123_param(handle, MPG123_DOWN_SAMPLE, reductionCode, 0) != MPG123_OK)
            return false;
        if (firstHeader.bitrateIndex == 0) {
            // The library counts a free-format frame without its 4 header bytes and padding.
            const int body = info.frameBytes - 4 - firstHeader.padding;
            if (body <= 0 || mpg123_param(handle, MPG123_FREEFORMAT_SIZE, body, 0) != MPG123_OK)
                return false;
        }
        if (mpg123_format_none(handle) != MPG123_OK ||
            mpg123_format(handle, info.sampleRate, info.channels == 1 ? MPG123_MONO : MPG123_STEREO,
                          MPG123_ENC_SIGNED_16) != MPG123_OK)
            return false;
        // Frequencies above the limit are silenced through the 32 equal-width sub-band
        // gains of the synthesis; only bands that lie wholly above it are cut.
        const int decodedRate = MpegSampleRate(firstHeader);
        if (frequencyLimitHz * 2 < decodedRate) {
            const double bandWidth = decodedRate / 64.0;
            for (int band = 0; band < 32; ++band)
                if (band * bandWidth >= frequencyLimitHz)
                    mpg123_eq2(handle, MPG123_LR, band, 0.0);
        }
        return mpg123_open_feed(handle) == MPG123_OK;
    }
};

MpegAudioDecoder::MpegAudioDecoder() : context_(std::make_unique<Context>())
{ }

MpegAudioDecoder::~MpegAudioDecoder() = default;

bool MpegAudioDecoder::InitDecoder(const MpegFrameHeader& header, int frameBytes, int reductionCode, int transformCode,
                                   int convertCode, int frequencyLimitHz)
{
    Context& context = *context_;
    context.Close();
    context.info = DecodedStreamInfo{};
    context.heldBack.clear();
    if (!IsUsable(header) || header.layerCode != kMpegLayerCodeIII || frameBytes < 4 || reductionCode < 0 ||
        reductionCode > 2 || transformCode != 0 || convertCode < 0 || convertCode > 3 || frequencyLimitHz <= 0)
        return false;

    context.firstHeader = header;
    context.reductionCode = reductionCode;
    context.convertCode = convertCode;
    context.frequencyLimitHz = frequencyLimitHz;
    DecodedStreamInfo info;
    info.channels = (convertCode == 0 && header.channelMode != kMpegChannelModeMono) ? 2 : 1;
    info.sampleRate = MpegSampleRate(header) >> reductionCode;
    info.samplesPerFrame = (MpegSamplesPerFrame(header) >> reductionCode) * info.channels;
    info.bitsPerSample = kOutputBitsPerSample;
    info.frameBytes = frameBytes;
    info.outputType = kDecodedOutputLinearPcm;
    context.info = info;
    if (!context.Open()) {
        context.Close();
        context.info = DecodedStreamInfo{};
        return false;
    }
    return true;
}

DecodedStreamInfo MpegAudioDecoder::GetStreamInfo() const
{
    return context_->info;
}

DecodeFrameResult MpegAudioDecoder::DecodeFrame(const std::uint8_t* input, std::size_t inputBytes, std::uint8_t* output,
                                                std::size_t outputCapacity)
{
    Context& context = *context_;
    DecodeFrameResult result;
    MpegFrameHeader header;
    if (!context.handle || !input || inputBytes < 4 || context.heldBack.size() > kMaxHeldBackBytes ||
        !ReadMpegFrameHeader(input, &header) || header.layerCode != kMpegLayerCodeIII)
        return result;

    int length = MpegFrameLength(header);
    if (length == 0 && header.bitrateIndex == 0 && IsUsable(header))
        length = context.info.frameBytes - context.firstHeader.padding + header.padding;
    if (length < 4 || static_cast<std::size_t>(length) > inputBytes)
        return result;

    if (mpg123_feed(context.handle, input, static_cast<std::size_t>(length)) != MPG123_OK) {
        context.Open();
        result.consumed = length;
        return result;
    }
    // One fed frame yields at most one decoded frame; the bound only guards against a
    // library that keeps answering without progress.
    for (int attempt = 0; attempt < 8; ++attempt) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int status = mpg123_decode_frame(context.handle, &frameNumber, &audio, &bytes);
        if (status == MPG123_OK || status == MPG123_NEW_FORMAT) {
            if (audio && bytes)
                context.heldBack.insert(context.heldBack.end(), audio, audio + bytes);
            continue;
        }
        if (status != MPG123_NEED_MORE && status != MPG123_DONE) {
            // The library lost its footing (a damaged frame): start afresh at the next frame
            // so that its reading stays in step with ours.
            context.Open();
        }
        break;
    }

    result.consumed = length;
    const std::size_t give = output ? std::min(outputCapacity, context.heldBack.size()) : 0;
    if (give) {
        std::memcpy(output, context.heldBack.data(), give);
        context.heldBack.erase(context.heldBack.begin(), context.heldBack.begin() + static_cast<long>(give));
    }
    result.produced = static_cast<int>(give);
    return result;
}

std::size_t Id3v2TagSize(const std::uint8_t* bytes, std::size_t count)
{
    constexpr std::size_t kHeaderBytes = 10;
    constexpr std::size_t kFooterBytes = 10;
    constexpr std::uint8_t kFooterFlag = 0x10;
    if (!bytes || count < kHeaderBytes || std::memcmp(bytes, "ID3", 3) != 0 || bytes[3] == 0xFF || bytes[4] == 0xFF)
        return 0;
    std::size_t size = 0;
    for (std::size_t i = 6; i < kHeaderBytes; ++i) {
        if (bytes[i] & 0x80)
            return 0;
        size = (size << 7) | bytes[i];
    }
    size += kHeaderBytes;
    if (bytes[3] >= 4 && (bytes[5] & kFooterFlag))
        size += kFooterBytes;
    return size;
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The MPEG audio decoder: decodes MPEG-1 and MPEG-2 Layer III frames to 16-bit PCM, frame
// by frame, for the menu-music conversion and the background music player.
//
// Four operations, called in this order by every user:
//   1. ParseFrameHeader  — our own reading of the four header bytes and the frame length;
//   2. MpegAudioDecoder::InitDecoder   — fixes the output for the stream;
//   3. MpegAudioDecoder::GetStreamInfo — what the decoder will deliver;
//   4. MpegAudioDecoder::DecodeFrame   — one frame in, its PCM out.
//
// Every user owns its own MpegAudioDecoder, so the conversion on the production thread and
// the music player may decode at the same time. One object must not be used from two
// threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumivox {

// The fields of a four-byte MPEG audio frame header (ISO/IEC 11172-3 clause 2.4.1.3, with
// the MPEG-2 low-sampling-rate and the MPEG-2.5 extensions). Bit 0 is the least
// significant bit of a byte.
struct MpegFrameHeader {
    int syncKind = 0; // 1: MPEG-1 or MPEG-2 (12 sync bits); 2: MPEG-2.5 (11 bits); 0: none
    int versionBit = 0; // byte 1 bit 3: 1 = MPEG-1, 0 = MPEG-2 / MPEG-2.5
    int layerCode = 0; // byte 1 bits 2-1: 3 = Layer I, 2 = Layer II, 1 = Layer III, 0 invalid
    int protection = 0; // byte 1 bit 0 (0 means a CRC follows the header)
    int bitrateIndex = 0; // byte 2 bits 7-4: 0 = free format, 15 = invalid
    int sampleRateIndex = 0; // byte 2 bits 3-2: 3 = reserved
    int padding = 0; // byte 2 bit 1
    int privateBit = 0; // byte 2 bit 0
    int channelMode = 0; // byte 3 bits 7-6: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExtension = 0; // byte 3 bits 5-4
    int copyright = 0; // byte 3 bit 3
    int original = 0; // byte 3 bit 2
    int emphasis = 0; // byte 3 bits 1-0
};

// Channel-mode value of a single-channel stream.
inline constexpr int kMpegChannelModeMono = 3;
// Layer codes as they stand in the header.
inline constexpr int kMpegLayerCodeI = 3;
inline constexpr int kMpegLayerCodeII = 2;
inline constexpr int kMpegLayerCodeIII = 1;
// A free-format stream's frame length is found within this many bytes of the first header.
inline constexpr std::size_t kFreeFormatSearchBytes = 10000;

// Sample rate in Hz of a header (0 when the index is reserved or there is no header).
int MpegSampleRate(const MpegFrameHeader& header);
// Bit rate in kbit/s from the standard tables (0 for free format or an invalid index).
int MpegBitrateKbps(const MpegFrameHeader& header);
// PCM samples per channel in one frame of this layer and version (0 when invalid).
int MpegSamplesPerFrame(const MpegFrameHeader& header);
// Byte length of a frame with a table bit rate, padding included; 0 for free format or an
// unusable header. Layer I lengths are whole 4-byte slots.
int MpegFrameLength(const MpegFrameHeader& header);
// Reads the header fields from four bytes; false when the bytes carry no sync word.
bool ReadMpegFrameHeader(const std::uint8_t* bytes, MpegFrameHeader* header);

// Size of an ID3v2 tag that starts at bytes[0] (id3.org, "ID3v2 header"): the 10-byte
// header, the tag's own size (four bytes of 7 bits) and, for version 4 with the footer
// flag, the 10-byte footer — the figure id3lib's ID3Tag_Link reports for a prepended
// tag. Read from the header alone: id3lib parses every frame to get there and crashes on
// hostile ones. 0 when the bytes (at least 10 are needed) hold no valid ID3v2 header.
std::size_t Id3v2TagSize(const std::uint8_t* bytes, std::size_t count);

// Reads the header at bytes[0..3] and computes the frame length. Returns the frame's byte
// count, padding included, or 0 when the bytes do not start with a usable header (no sync,
// invalid layer, bit-rate index 15, reserved sample rate, fewer than 4 bytes). For a
// free-format stream the length is the distance to the next header of the same kind found
// within the first kFreeFormatSearchBytes of `bytes` (0 when none is found there).
// *bitrateOut receives the bit rate in bits per second (for free format: the rate implied
// by the measured length); *headerOut the fields. Either pointer may be null.
int ParseFrameHeader(const std::uint8_t* bytes, std::size_t count, int* bitrateOut, MpegFrameHeader* headerOut);

// What the decoder delivers for one stream.
struct DecodedStreamInfo {
    int channels = 0; // output channels (1 or 2)
    int samplesPerFrame = 0; // output values per frame, all channels together (16-bit each)
    int sampleRate = 0; // output sample rate in Hz
    int bitsPerSample = 0; // 16
    int frameBytes = 0; // input bytes of the first frame, as given to InitDecoder
    int outputType = 0; // 0 = linear PCM; 10 = mu-law (never produced)
};

inline constexpr int kDecodedOutputLinearPcm = 0;
inline constexpr int kDecodedOutputMuLaw = 10;

// Reduction codes: full, half or quarter of the stream's sample rate.
enum class DecoderReduction { Full = 0, Half = 1, Quarter = 2 };
// Convert codes: channels as in the source, or mixed / left / right mono; always 16-bit.
enum class DecoderConvert { AsSource = 0, MonoMix = 1, LeftOnly = 2, RightOnly = 3 };

// Bytes consumed from the input and PCM bytes produced by one DecodeFrame call.
struct DecodeFrameResult {
    int consumed = 0;
    int produced = 0;
};

class MpegAudioDecoder {
public:
    MpegAudioDecoder();
    ~MpegAudioDecoder();
    MpegAudioDecoder(const MpegAudioDecoder&) = delete;
    MpegAudioDecoder& operator=(const MpegAudioDecoder&) = delete;

    // Prepares the decoder for a Layer III stream whose first header and frame length came
    // from ParseFrameHeader. reductionCode 0..2 (DecoderReduction), transformCode must be 0
    // (floating-point synthesis, the only one there is), convertCode 0..3 (DecoderConvert),
    // frequencyLimitHz: frequencies above it are silenced (a limit at or above half the
    // output rate changes nothing). Returns false for anything else or when the decoder
    // cannot be set up. May be called again to start a new stream.
    bool InitDecoder(const MpegFrameHeader& header, int frameBytes, int reductionCode, int transformCode,
                     int convertCode, int frequencyLimitHz);

    // The stream's output as fixed by InitDecoder (all zero before a successful InitDecoder).
    DecodedStreamInfo GetStreamInfo() const;

    // Decodes the frame that starts at input[0] (inputBytes are readable) and appends its
    // interleaved little-endian 16-bit PCM at output (outputCapacity bytes writable).
    // consumed is the frame's length, or 0 when no whole frame of the stream stands at
    // input (the caller stops). A damaged frame is consumed and produces nothing. PCM that
    // does not fit into outputCapacity is kept and delivered first by the next call.
    DecodeFrameResult DecodeFrame(const std::uint8_t* input, std::size_t inputBytes, std::uint8_t* output,
                                  std::size_t outputCapacity);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace lumivox

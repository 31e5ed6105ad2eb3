// SPDX-License-Identifier: GPL-2.0-or-later
// Cutting an MPEG-1 program stream (ISO/IEC 11172-1) into the packets that fill Form 2
// sectors, and learning what the Video CD control files and sector subheaders need.
//
// The same cutting runs twice: when the source is scanned (with the elementary-stream
// parsers attached, to learn picture sizes, rates, access points and audio modes) and
// when the sectors are written (flags and presentation times only). Every packet is cut
// from a window of at most 2,324 bytes, so the work per packet is bounded and every
// packet consumes at least one byte of the file: hostile files cannot make the scan
// loop or allocate without bound.

// Files may be larger than 2 GiB wherever off_t is not 64-bit by default.
#define _FILE_OFFSET_BITS 64

#include "vcd/MpegSource.h"

#include "base/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumivox {

namespace {

// Start codes of ISO/IEC 11172-1, 2.4.4 (system layer) and 11172-2, 2.4.2 (video).
constexpr std::uint8_t kPackStartCode = 0xBA;
constexpr std::uint8_t kSystemHeaderStartCode = 0xBB;
constexpr std::uint8_t kProgramEndCode = 0xB9;
constexpr std::uint8_t kPaddingStreamId = 0xBE;
constexpr std::uint8_t kPictureStartCode = 0x00;
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;
constexpr std::uint8_t kGroupStartCode = 0xB8;
// Picture coding type of an intra-coded picture (11172-2, 2.4.3.4).
constexpr int kIntraPicture = 1;
// Presentation time stamps count a 90 kHz clock (11172-1, 2.4.4.2).
constexpr double kSystemClockHz = 90000.0;
// Fixed fields of an MPEG-1 pack header: start code, SCR and multiplex rate.
constexpr std::size_t kMpeg1PackHeaderSize = 12;
// MPEG-2 pack header before its stuffing bytes (13818-1, 2.5.3.3).
constexpr std::size_t kMpeg2PackHeaderSize = 14;
// Bytes of a system header after its length field before the stream list (11172-1,
// 2.4.3.2): rate bound, audio bound and flags, video bound and flags, reserved byte.
constexpr std::size_t kSystemHeaderFixedSize = 6;
// Up to 16 stuffing bytes precede the MPEG-1 packet header fields (11172-1, 2.4.3.3).
constexpr int kMaxPesStuffing = 16;

// Frame rates by sequence-header code (11172-2, 2.4.3.2), as exact fractions.
struct FrameRate {
    int numerator;
    int denominator;
};
constexpr FrameRate kFrameRates[9] = {{0, 1},  {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                                      {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};

// Audio bit rates in kbit/s by version, layer and index (11172-3, 2.4.2.3; 13818-3,
// 2.4.2.3 for the lower sampling rates, whose layers II and III share one row).
constexpr int kMpeg1BitRates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};
constexpr int kMpeg2BitRates[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr int kSamplingRates[3][3] = {
    {44100, 48000, 32000}, // MPEG-1
    {22050, 24000, 16000}, // MPEG-2
    {11025, 12000, 8000}, // MPEG 2.5
};

std::uint64_t ReadTimeStamp(const std::uint8_t* b)
{
    return (static_cast<std::uint64_t>((b[0] >> 1) & 0x07) << 30) | (static_cast<std::uint64_t>(b[1]) << 22) |
           (static_cast<std::uint64_t>(b[2] >> 1) << 15) | (static_cast<std::uint64_t>(b[3]) << 7) |
           static_cast<std::uint64_t>(b[4] >> 1);
}

// Finds the next pack start code at or after `from`; returns `size` when there is none.
std::size_t FindPackStart(const std::uint8_t* bytes, std::size_t from, std::size_t size)
{
    while (from + 4 <= size) {
        const void* hit = std::memchr(bytes + from + 2, 0x01, size - from - 2);
        if (!hit)
            return size;
        std::size_t one = static_cast<const std::uint8_t*>(hit) - bytes;
        if (one + 1 < size && bytes[one - 1] == 0 && bytes[one - 2] == 0 && bytes[one + 1] == kPackStartCode)
            return one - 2;
        from = one - 1;
    }
    return size;
}

bool AllZero(const std::uint8_t* bytes, std::size_t size)
{
    // A pack starts with 00 00 01 BA: the common case leaves at the third byte.
    for (std::size_t i = 0; i < size; ++i)
        if (bytes[i])
            return false;
    return true;
}

// The payload of a PES packet after its header fields, and its presentation time.
struct PesPayload {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool hasTime = false;
    std::uint64_t time = 0;
};

// Parses the header fields of a PES packet whose bytes after the length field are
// bytes[begin, end). MPEG-1 fields (11172-1, 2.4.3.3) and MPEG-2 ones (13818-1,
// 2.4.3.6) are both understood; a header cut short leaves no payload.
PesPayload ParsePesHeader(const std::uint8_t* bytes, std::size_t begin, std::size_t end)
{
    PesPayload pes;
    std::size_t p = begin;
    if (p < end && (bytes[p] & 0xC0) == 0x80) {
        if (p + 3 > end)
            return pes;
        const std::uint8_t flags = bytes[p + 1];
        const std::size_t headerEnd = p + 3 + bytes[p + 2];
        if (headerEnd > end)
            return pes;
        if ((flags & 0x80) && p + 8 <= headerEnd) {
            pes.hasTime = true;
            pes.time = ReadTimeStamp(bytes + p + 3);
        }
        pes.begin = headerEnd;
        pes.end = end;
        return pes;
    }
    for (int i = 0; i < kMaxPesStuffing && p < end && bytes[p] == 0xFF; ++i)
        ++p;
    if (p < end && (bytes[p] & 0xC0) == 0x40)
        p += 2; // STD buffer scale and size
    if (p >= end)
        return pes;
    if ((bytes[p] & 0xF0) == 0x20) {
        if (p + 5 > end)
            return pes;
        pes.hasTime = true;
        pes.time = ReadTimeStamp(bytes + p);
        p += 5;
    } else if ((bytes[p] & 0xF0) == 0x30) {
        if (p + 10 > end)
            return pes;
        pes.hasTime = true;
        pes.time = ReadTimeStamp(bytes + p);
        p += 10;
    } else if (bytes[p] == 0x0F) {
        p += 1;
    } else {
        return pes; // not a valid MPEG-1 packet header
    }
    pes.begin = p;
    pes.end = end;
    return pes;
}

// What the packet cutter reports to the scan besides the packet's flags.
class StreamObserver {
public:
    virtual ~StreamObserver() = default;
    virtual void OnPackHeader(bool mpeg2, std::uint32_t multiplexRate) = 0;
    virtual void OnTimeStamp(std::uint64_t time) = 0;
    // Payload of a video or audio PES packet, with the presentation time that applies
    // to it: its own, or else the one the packet carried before it.
    virtual void OnVideo(int stream, bool hasTime, std::uint64_t time, const std::uint8_t* data, std::size_t size) = 0;
    virtual void OnAudio(int stream, const std::uint8_t* data, std::size_t size) = 0;
};

struct CutPacket {
    std::size_t length = 0; // 0: no packet, cutting ends here
    bool hasTime = false;
    std::uint64_t time = 0;
    // Streams with a PES packet of their own in the packet (video 0 … 2, then audio
    // 0 … 2), unlike the flags, which also count streams a system header lists.
    bool streamData[kMpegVideoStreamCount + kMpegAudioStreamCount] = {};
};

// Cuts one packet from the start of bytes[0, size) (size ≤ kMpegPacketSize) and marks
// its flags in `info`. Returns length 0 when no packet can start here: nothing left, or
// bytes that are neither all zero nor a pack.
CutPacket Cut(const std::uint8_t* bytes, std::size_t size, PacketInfo& info, StreamObserver* observer)
{
    CutPacket packet;
    info = PacketInfo{};
    if (size == 0)
        return packet;
    if (AllZero(bytes, size)) {
        info.allZero = true;
        info.length = packet.length = size;
        return packet;
    }
    if (size < 4 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1 || bytes[3] != kPackStartCode)
        return packet;

    // Pack header.
    bool* streamData = packet.streamData;
    std::size_t p = 4;
    bool resync = false;
    if (size < 5) {
        p = size;
    } else if ((bytes[4] & 0xF0) == 0x20) {
        p = kMpeg1PackHeaderSize;
        if (p <= size && observer) {
            std::uint32_t rate = ((bytes[9] & 0x7Fu) << 15) | (bytes[10] << 7) | (bytes[11] >> 1);
            observer->OnPackHeader(false, rate * 400u);
        }
    } else if ((bytes[4] & 0xC0) == 0x40) {
        p = kMpeg2PackHeaderSize;
        if (p <= size) {
            if (observer) {
                std::uint32_t rate = (bytes[10] << 14) | (bytes[11] << 6) | (bytes[12] >> 2);
                observer->OnPackHeader(true, rate * 400u);
            }
            p += bytes[13] & 0x07;
        }
    } else {
        resync = true; // an unknown pack header: the packet runs to the next pack
    }

    while (!resync && p < size) {
        if (p + 4 > size) {
            p = size;
            break;
        }
        if (bytes[p] != 0 || bytes[p + 1] != 0 || bytes[p + 2] != 1) {
            resync = true;
            break;
        }
        const std::uint8_t code = bytes[p + 3];
        if (code == kPackStartCode)
            break;
        if (code == kProgramEndCode) {
            info.programEnd = true;
            p += 4;
            continue;
        }
        if (code < kSystemHeaderStartCode) {
            resync = true;
            break;
        }
        if (p + 6 > size) {
            p = size;
            break;
        }
        const std::size_t begin = p + 6;
        const std::size_t declaredEnd = begin + ((bytes[p + 4] << 8) | bytes[p + 5]);
        const std::size_t end = std::min(declaredEnd, size);
        if (code == kSystemHeaderStartCode) {
            info.systemHeader = true;
            for (std::size_t e = begin + kSystemHeaderFixedSize; e + 3 <= end && (bytes[e] & 0x80); e += 3) {
                const std::uint8_t id = bytes[e];
                if (id >= kMpegFirstVideoStreamId && id < kMpegFirstVideoStreamId + kMpegVideoStreamCount)
                    info.video[id - kMpegFirstVideoStreamId] = true;
                else if (id >= kMpegFirstAudioStreamId && id < kMpegFirstAudioStreamId + kMpegAudioStreamCount)
                    info.audio[id - kMpegFirstAudioStreamId] = true;
                else if (id == kMpegPrivateStream1Id)
                    info.overlayGraphics[0] = true;
            }
        } else if (code == kPaddingStreamId) {
            info.padding = true;
        } else {
            const bool video =
                code >= kMpegFirstVideoStreamId && code < kMpegFirstVideoStreamId + kMpegVideoStreamCount;
            const bool audio =
                code >= kMpegFirstAudioStreamId && code < kMpegFirstAudioStreamId + kMpegAudioStreamCount;
            if (video || audio || code == kMpegPrivateStream1Id) {
                const PesPayload pes = ParsePesHeader(bytes, begin, end);
                if (pes.hasTime) {
                    if (!packet.hasTime) {
                        packet.hasTime = true;
                        packet.time = pes.time;
                    }
                    if (observer)
                        observer->OnTimeStamp(pes.time);
                }
                if (video) {
                    info.video[code - kMpegFirstVideoStreamId] = true;
                    streamData[code - kMpegFirstVideoStreamId] = true;
                    if (observer && pes.end > pes.begin)
                        observer->OnVideo(code - kMpegFirstVideoStreamId, packet.hasTime,
                                          pes.hasTime ? pes.time : packet.time, bytes + pes.begin, pes.end - pes.begin);
                } else if (audio) {
                    info.audio[code - kMpegFirstAudioStreamId] = true;
                    streamData[kMpegVideoStreamCount + code - kMpegFirstAudioStreamId] = true;
                    if (observer && pes.end > pes.begin)
                        observer->OnAudio(code - kMpegFirstAudioStreamId, bytes + pes.begin, pes.end - pes.begin);
                } else {
                    // Overlay graphics name their sub-stream in the first payload byte.
                    int subStream =
                        pes.end > pes.begin && bytes[pes.begin] < kMpegOverlayStreamCount ? bytes[pes.begin] : 0;
                    info.overlayGraphics[subStream] = true;
                }
            }
        }
        if (declaredEnd > size) {
            p = size;
            break;
        }
        p = declaredEnd;
    }
    if (resync)
        p = FindPackStart(bytes, std::max<std::size_t>(p, 4), size);
    info.length = packet.length = std::min(p, size);
    info.hasPresentationTime = packet.hasTime;
    return packet;
}

// Position of the first start-code prefix 00 00 01 that lies wholly in bytes[from,
// size), or `size`. Video payload is most of a Video CD stream and holds few zero bytes,
// so sixteen positions are tested at a time.
std::size_t FindStartCodePrefix(const std::uint8_t* bytes, std::size_t from, std::size_t size)
{
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    for (; i + 18 <= size; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 2));
        const __m128i hit =
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)), _mm_cmpeq_epi8(c, one));
        if (const int mask = _mm_movemask_epi8(hit))
            return i + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; i + 3 <= size; ++i)
        if (bytes[i + 2] == 1 && !bytes[i + 1] && !bytes[i])
            return i;
    return size;
}

// Start-code parser of one video elementary stream. Start codes and the header bytes
// after them may straddle packets, so the state carries over from one packet's payload
// to the next.
class VideoParser {
public:
    void Feed(MpegVideoStreamInfo& info, std::uint32_t packet, bool packetHasTime, std::uint64_t packetTime,
              const std::uint8_t* data, std::size_t size)
    {
        if (packet != packet_ || !packetStarted_) {
            packetStarted_ = true;
            packet_ = packet;
            sequenceInPacket_ = false;
            groupInPacket_ = false;
            accessPointInPacket_ = false;
        }
        hasTime_ = packetHasTime;
        time_ = packetTime;
        std::size_t i = 0;
        while (i < size) {
            if (need_) {
                std::size_t take = std::min<std::size_t>(need_ - have_, size - i);
                std::memcpy(header_ + have_, data + i, take);
                have_ += take;
                i += take;
                if (have_ == need_) {
                    need_ = 0;
                    Finish(info);
                }
                continue;
            }
            if (prefix_ == 3) {
                prefix_ = 0;
                StartCode(data[i++]);
                continue;
            }
            if (prefix_) {
                // Only a prefix completed by the first bytes needs the carried zeros;
                // any other start code lies wholly in this payload and the search
                // below finds it, also inside long runs of zero stuffing.
                if (prefix_ == 2 && data[i] == 1) {
                    prefix_ = 3;
                    ++i;
                    continue;
                }
                if (!data[i] && i + 1 == size) {
                    prefix_ = 2;
                    return;
                }
                if (!data[i] && data[i + 1] == 1) {
                    prefix_ = 3;
                    i += 2;
                    continue;
                }
                prefix_ = 0;
            }
            const std::size_t at = FindStartCodePrefix(data, i, size);
            if (at == size) {
                // Carry a trailing 00 or 00 00 over to the next payload.
                if (!data[size - 1])
                    prefix_ = size - i >= 2 && !data[size - 2] ? 2 : 1;
                return;
            }
            if (at + 3 == size) {
                prefix_ = 3;
                return;
            }
            i = at + 4;
            StartCode(data[at + 3]);
        }
    }

private:
    void StartCode(std::uint8_t code)
    {
        code_ = code;
        have_ = 0;
        if (code == kSequenceHeaderCode) {
            sequenceInPacket_ = true;
            need_ = 8;
        } else if (code == kGroupStartCode) {
            groupInPacket_ = true;
        } else if (code == kPictureStartCode) {
            // The picture belongs to the packet its start code is in, even when its
            // coding type arrives with the next one.
            picturePacket_ = packet_;
            pictureHasTime_ = hasTime_ && !accessPointInPacket_;
            pictureTime_ = time_;
            pictureSequence_ = sequenceInPacket_;
            pictureGroup_ = groupInPacket_;
            need_ = 2;
        }
    }

    void Finish(MpegVideoStreamInfo& info)
    {
        if (code_ == kSequenceHeaderCode) {
            // 11172-2, 2.4.2.3: 12-bit sizes, aspect ratio, rate code, 18-bit bit rate,
            // marker, 10-bit buffer size.
            const unsigned width = (header_[0] << 4) | (header_[1] >> 4);
            const unsigned height = ((header_[1] & 0x0F) << 8) | header_[2];
            const int rateCode = header_[3] & 0x0F;
            if (info.sequenceHeaderSeen || !width || !height || rateCode < 1 || rateCode > 8)
                return;
            info.sequenceHeaderSeen = true;
            info.horizontalSize = width;
            info.verticalSize = height;
            info.frameRateCode = rateCode;
            info.frameRate = static_cast<double>(kFrameRates[rateCode].numerator) / kFrameRates[rateCode].denominator;
            info.bitRate = ((header_[4] << 10) | (header_[5] << 2) | (header_[6] >> 6)) * 400u;
            info.bufferSize = (((header_[6] & 0x1F) << 5) | (header_[7] >> 3)) * 2048u;
        } else if (code_ == kPictureStartCode) {
            const int type = (header_[1] >> 3) & 0x07;
            if (type != kIntraPicture || !pictureHasTime_)
                return;
            if (pictureTime_ < lastAccessTime_ && anyAccessPoint_)
                return;
            if (picturePacket_ == packet_)
                accessPointInPacket_ = true;
            anyAccessPoint_ = true;
            lastAccessTime_ = pictureTime_;
            ++info.accessPointCount;
            if (info.accessPoints.size() < kMaxAccessPointsPerStream)
                info.accessPoints.push_back(
                    {picturePacket_, pictureTime_ / kSystemClockHz, pictureSequence_, pictureGroup_});
        }
    }

    int prefix_ = 0; // 00, 00 00 or 00 00 01 seen at the end of the previous payload
    std::uint8_t code_ = 0;
    std::uint8_t header_[8] = {};
    std::size_t need_ = 0;
    std::size_t have_ = 0;

    bool packetStarted_ = false;
    std::uint32_t packet_ = 0;
    bool hasTime_ = false;
    std::uint64_t time_ = 0;
    bool sequenceInPacket_ = false;
    bool groupInPacket_ = false;
    bool accessPointInPacket_ = false;

    std::uint32_t picturePacket_ = 0;
    bool pictureHasTime_ = false;
    std::uint64_t pictureTime_ = 0;
    bool pictureSequence_ = false;
    bool pictureGroup_ = false;

    bool anyAccessPoint_ = false;
    std::uint64_t lastAccessTime_ = 0;
};

// Finds the first frame header of an audio stream (11172-3, 2.4.1.3), which may
// straddle packets.
class AudioParser {
public:
    void Feed(MpegAudioStreamInfo& info, const std::uint8_t* data, std::size_t size)
    {
        // Byte by byte, but only until the first header: in a real stream it opens the
        // first audio packet's payload.
        for (std::size_t i = 0; i < size; ++i) {
            shift_ = (shift_ << 8) | data[i];
            if (++seen_ >= 4 && (shift_ >> 24) == 0xFF && Decode(info))
                return;
        }
    }

private:
    bool Decode(MpegAudioStreamInfo& info) const
    {
        const std::uint32_t h = shift_;
        if ((h >> 21) != 0x7FF)
            return false;
        const int versionBits = (h >> 19) & 3;
        const int layerBits = (h >> 17) & 3;
        const int rateIndex = (h >> 12) & 15;
        const int samplingIndex = (h >> 10) & 3;
        if (versionBits == 1 || layerBits == 0 || rateIndex == 15 || samplingIndex == 3)
            return false;
        const int layer = 4 - layerBits;
        info.frameHeaderSeen = true;
        info.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
        info.layer = layer;
        info.samplingRate = kSamplingRates[versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2][samplingIndex];
        info.bitRate = 1000 * (versionBits == 3 ? kMpeg1BitRates[layer - 1][rateIndex]
                                                : kMpeg2BitRates[layer == 1 ? 0 : 1][rateIndex]);
        info.mode = static_cast<MpegAudioMode>((h >> 6) & 3);
        return true;
    }

    std::uint32_t shift_ = 0;
    int seen_ = 0;
};

// Collects the stream information while a source is scanned.
class ScanObserver final : public StreamObserver {
public:
    explicit ScanObserver(MpegStreamInfo& info) : info_(info) { }

    void StartPacket(std::uint32_t packet) { packet_ = packet; }

    void OnPackHeader(bool mpeg2, std::uint32_t multiplexRate) override
    {
        if (packHeaderSeen_)
            return;
        packHeaderSeen_ = true;
        info_.mpeg2 = mpeg2;
        info_.multiplexRate = multiplexRate;
    }
    void OnTimeStamp(std::uint64_t time) override
    {
        if (!anyTime_ || time < firstTime_)
            firstTime_ = time;
        if (!anyTime_ || time > lastTime_)
            lastTime_ = time;
        anyTime_ = true;
    }
    void OnVideo(int stream, bool hasTime, std::uint64_t time, const std::uint8_t* data, std::size_t size) override
    {
        video_[stream].Feed(info_.video[stream], packet_, hasTime, time, data, size);
    }
    void OnAudio(int stream, const std::uint8_t* data, std::size_t size) override
    {
        if (!info_.audio[stream].frameHeaderSeen)
            audio_[stream].Feed(info_.audio[stream], data, size);
    }

    bool anyTime_ = false;
    std::uint64_t firstTime_ = 0;
    std::uint64_t lastTime_ = 0;

private:
    MpegStreamInfo& info_;
    VideoParser video_[kMpegVideoStreamCount];
    AudioParser audio_[kMpegAudioStreamCount];
    bool packHeaderSeen_ = false;
    std::uint32_t packet_ = 0;
};

// The first packet number that can no longer be counted.
constexpr std::uint32_t kPacketNumberLimit = 0xFFFFFFFFu;

} // namespace

struct MpegReader {
    // The file is read with plain read calls into one buffer, and packets are cut from it
    // in place; what is left of the buffer is moved to its front when less than a packet
    // remains.
    FileDescriptor file;
    int fd = -1; // file's descriptor, for the calls below
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t start = 0; // the current packet's first byte
    std::size_t end = 0; // end of the bytes read
    bool atEnd = false; // the end of the file was reached
    std::uint32_t nextPacket = 0; // number of the packet at `start`
    bool failed = false; // a read error

    MpegReader() = default;
    MpegReader(const MpegReader&) = delete;
    MpegReader& operator=(const MpegReader&) = delete;
    ~MpegReader() = default;

    // Opens the file for reading from its start; false when it cannot be opened.
    bool Open(const std::string& path)
    {
        // Not blocking: a segment path that names a pipe must not hang the run.
        file.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        fd = file.Get();
        if (fd < 0)
            return false;
        buffer.reset(new std::uint8_t[kMpegReadBufferSize]);
        start = end = 0;
        nextPacket = 0;
        atEnd = failed = false;
        return true;
    }

    bool Rewind()
    {
        if (::lseek(fd, 0, SEEK_SET) != 0)
            return false;
        start = end = 0;
        nextPacket = 0;
        atEnd = failed = false;
        return true;
    }

    // Makes the buffer hold up to one packet's worth of bytes from `start`; returns how
    // many (at most kMpegPacketSize) are there.
    std::size_t Fill()
    {
        if (end - start < kMpegPacketSize && !atEnd && !failed) {
            std::memmove(buffer.get(), buffer.get() + start, end - start);
            end -= start;
            start = 0;
            while (end < kMpegReadBufferSize) {
                const ssize_t got = ::read(fd, buffer.get() + end, kMpegReadBufferSize - end);
                if (got < 0) {
                    if (errno == EINTR)
                        continue;
                    failed = true;
                    break;
                }
                if (got == 0) {
                    atEnd = true;
                    break;
                }
                end += static_cast<std::size_t>(got);
            }
        }
        return std::min(end - start, kMpegPacketSize);
    }

    const std::uint8_t* Data() const { return buffer.get() + start; }

    CutPacket CutNext(PacketInfo& info, StreamObserver* observer)
    {
        const std::size_t available = Fill();
        return Cut(Data(), available, info, observer);
    }

    void Consume(std::size_t length)
    {
        start += length;
        ++nextPacket;
    }
};

MpegSource::MpegSource(std::string path, std::uint64_t size) : path_(std::move(path)), fileSize_(size)
{ }

MpegSource::~MpegSource() = default;

std::unique_ptr<MpegSource> CreateMpegSource(const std::string& path)
{
    struct stat status { };
    if (path.empty() || ::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return nullptr;
    return std::unique_ptr<MpegSource>(new MpegSource(path, static_cast<std::uint64_t>(status.st_size)));
}

int ScanMpegSource(MpegSource& source)
{
    if (source.scanned_)
        return 0;
    auto reader = std::make_unique<MpegReader>();
    if (!reader->Open(source.path_))
        return -1;

    MpegStreamInfo info;
    ScanObserver observer(info);
    std::uint32_t kinds[kPacketKindCount] = {};
    std::uint32_t timedPackets = 0;
    PacketInfo packet;
    while (reader->nextPacket < kPacketNumberLimit) {
        observer.StartPacket(reader->nextPacket);
        const CutPacket cut = reader->CutNext(packet, &observer);
        if (cut.length == 0)
            break;
        for (int s = 0; s < kMpegVideoStreamCount; ++s)
            if (cut.streamData[s]) {
                info.video[s].present = true;
                ++info.video[s].packetCount;
            }
        for (int s = 0; s < kMpegAudioStreamCount; ++s)
            if (cut.streamData[kMpegVideoStreamCount + s]) {
                info.audio[s].present = true;
                ++info.audio[s].packetCount;
            }
        ++kinds[static_cast<int>(GetPacketKind(packet))];
        if (packet.hasPresentationTime)
            ++timedPackets;
        reader->Consume(cut.length);
    }
    if (reader->failed)
        return -1;
    const std::uint32_t count = reader->nextPacket;
    reader.reset();

    const double first = observer.anyTime_ ? observer.firstTime_ / kSystemClockHz : 0.0;
    for (auto& video : info.video)
        for (auto& point : video.accessPoints)
            point.presentationTime -= first;
    source.streamInfo_ = std::move(info);
    source.packetCount_ = count;
    source.firstPresentationTime_ = first;
    source.playingTime_ = observer.anyTime_ ? (observer.lastTime_ - observer.firstTime_) / kSystemClockHz : 0.0;
    source.timedPackets_ = timedPackets;
    std::copy(std::begin(kinds), std::end(kinds), source.kindCounts_);
    source.scanned_ = true;
    return 0;
}

int ReadPacket(MpegSource& source, std::uint32_t packetNumber, std::uint8_t* buffer, PacketInfo* info)
{
    if (!source.scanned_ && ScanMpegSource(source) != 0)
        return -1;
    if (packetNumber >= source.packetCount_ || !buffer)
        return -1;
    if (!source.reader_) {
        auto reader = std::make_unique<MpegReader>();
        if (!reader->Open(source.path_))
            return -1;
        source.reader_ = std::move(reader);
    } else if (packetNumber < source.reader_->nextPacket && !source.reader_->Rewind()) {
        CloseMpegSource(source);
        return -1;
    }
    MpegReader& reader = *source.reader_;
    PacketInfo packet;
    while (reader.nextPacket <= packetNumber) {
        const CutPacket cut = reader.CutNext(packet, nullptr);
        if (cut.length == 0) {
            CloseMpegSource(source);
            return -1;
        }
        if (reader.nextPacket == packetNumber) {
            std::memcpy(buffer, reader.Data(), cut.length);
            std::memset(buffer + cut.length, 0, kMpegPacketSize - cut.length);
            if (cut.hasTime)
                packet.presentationTime = cut.time / kSystemClockHz - source.firstPresentationTime_;
            if (info)
                *info = packet;
        }
        reader.Consume(cut.length);
    }
    if (reader.nextPacket >= source.packetCount_)
        CloseMpegSource(source);
    return 0;
}

void CloseMpegSource(MpegSource& source)
{
    source.reader_.reset();
}

PacketKind GetPacketKind(const PacketInfo& info)
{
    auto any = [](const bool* flags, int count) { return std::any_of(flags, flags + count, [](bool f) { return f; }); };
    if (any(info.video, kMpegVideoStreamCount))
        return PacketKind::Video;
    if (any(info.audio, kMpegAudioStreamCount))
        return PacketKind::Audio;
    if (info.allZero)
        return PacketKind::Zero;
    if (any(info.overlayGraphics, kMpegOverlayStreamCount))
        return PacketKind::OverlayGraphics;
    if (info.padding || info.systemHeader)
        return PacketKind::Empty;
    return PacketKind::Invalid;
}

const char* PacketKindName(PacketKind kind)
{
    switch (kind) {
    case PacketKind::Video:
        return "video";
    case PacketKind::Audio:
        return "audio";
    case PacketKind::Zero:
        return "zero";
    case PacketKind::OverlayGraphics:
        return "overlay graphics";
    case PacketKind::Empty:
        return "empty";
    case PacketKind::Invalid:
        return "invalid";
    }
    return "invalid";
}

MpegNorm GetNorm(const MpegVideoStreamInfo& video)
{
    struct NormRow {
        MpegNorm norm;
        unsigned width;
        unsigned height;
        int rateCode;
    };
    // Rate codes 1, 3 and 4 are exactly 24000/1001, 25 and 30000/1001 frames per second.
    static constexpr NormRow kNorms[] = {
        {MpegNorm::FilmSif, 352, 240, 1},  {MpegNorm::PalSif, 352, 288, 3},    {MpegNorm::NtscSif, 352, 240, 4},
        {MpegNorm::Pal2_3D1, 480, 576, 3}, {MpegNorm::Ntsc2_3D1, 480, 480, 4},
    };
    if (!video.sequenceHeaderSeen)
        return MpegNorm::Unknown;
    for (const NormRow& row : kNorms)
        if (video.horizontalSize == row.width && video.verticalSize == row.height &&
            video.frameRateCode == row.rateCode)
            return row.norm;
    return MpegNorm::Unknown;
}

const char* MpegNormName(MpegNorm norm)
{
    switch (norm) {
    case MpegNorm::FilmSif:
        return "FILM SIF";
    case MpegNorm::PalSif:
        return "PAL SIF";
    case MpegNorm::NtscSif:
        return "NTSC SIF";
    case MpegNorm::Pal2_3D1:
        return "PAL 2/3 D-1";
    case MpegNorm::Ntsc2_3D1:
        return "NTSC 2/3 D-1";
    case MpegNorm::Unknown:
        return "unknown";
    }
    return "unknown";
}

const char* MpegAudioModeName(MpegAudioMode mode)
{
    switch (mode) {
    case MpegAudioMode::Stereo:
        return "stereo";
    case MpegAudioMode::JointStereo:
        return "joint stereo";
    case MpegAudioMode::DualChannel:
        return "dual channel";
    case MpegAudioMode::SingleChannel:
        return "single channel";
    }
    return "stereo";
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// MPEG-1 program streams (ISO/IEC 11172-1) as the authoring sees them: a file cut into
// packets of at most 2,324 bytes, each of which becomes the user data of one Form 2
// sector. The authoring reads every segment file and MPEG track twice: once to scan it
// (packet count, streams, presentation times) when the item is added to the layout,
// and once, packet by packet in ascending order, when its sectors are written.
//
// A source never holds its whole file in memory: reading goes through one 128 KiB
// buffer, from which packets are cut in place. The file is open only while it is being scanned
// or read, so a layout may hold thousands of sources without running out of file
// descriptors; reading the last packet closes it again.
//
// Sources are not shared between threads; one thread scans and reads a source.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace lumivox {

// Bytes of user data in a Form 2 sector: the largest packet, and the size of the
// buffer that `ReadPacket` fills.
inline constexpr std::size_t kMpegPacketSize = 2324;
// The buffer a source reads its file through.
inline constexpr std::size_t kMpegReadBufferSize = 128 * 1024;

// Stream numbers of a Video CD program stream. Video: 0xE0 motion video, 0xE1
// normal-resolution still, 0xE2 high-resolution still; audio: 0xC0 … 0xC2; overlay
// graphics travel in private stream 1 (0xBD) with sub-streams 0 … 3.
inline constexpr int kMpegVideoStreamCount = 3;
inline constexpr int kMpegAudioStreamCount = 3;
inline constexpr int kMpegOverlayStreamCount = 4;
inline constexpr std::uint8_t kMpegFirstVideoStreamId = 0xE0;
inline constexpr std::uint8_t kMpegFirstAudioStreamId = 0xC0;
inline constexpr std::uint8_t kMpegPrivateStream1Id = 0xBD;

// Index of the video streams in the arrays below.
enum MpegVideoStream : int {
    kMotionVideo = 0, // stream 0xE0
    kNormalResolutionStill = 1, // stream 0xE1
    kHighResolutionStill = 2, // stream 0xE2
};

// An access point of a video stream: an I picture that starts in a packet carrying a
// presentation time. Times are in seconds relative to the source's first presentation
// time once the scan has finished.
struct MpegAccessPoint {
    std::uint32_t packet = 0; // packet number from 0
    double presentationTime = 0.0; // seconds
    bool sequenceHeader = false; // a sequence header precedes the picture in the packet
    bool groupOfPictures = false; // a group-of-pictures header precedes it in the packet
};

// At most this many access points are kept per video stream, so that scanning keeps
// its memory bounded whatever the file; later I pictures are counted but not listed.
inline constexpr std::size_t kMaxAccessPointsPerStream = 65536;

struct MpegVideoStreamInfo {
    bool present = false; // at least one packet of the stream was seen
    bool sequenceHeaderSeen = false;
    // From the stream's first complete sequence header (ISO/IEC 11172-2, 2.4.2.3).
    unsigned horizontalSize = 0; // pixels
    unsigned verticalSize = 0; // lines
    int frameRateCode = 0; // 1 … 8; 0 when no sequence header was seen
    double frameRate = 0.0; // frames per second: 24000/1001, 24, 25, 30000/1001, 30,
        // 50, 60000/1001 or 60
    std::uint32_t bitRate = 0; // bits per second (rate field × 400); 0x3FFFF × 400 = variable
    std::uint32_t bufferSize = 0; // video buffering verifier size in bytes (field × 2,048)
    std::vector<MpegAccessPoint> accessPoints;
    std::uint64_t accessPointCount = 0; // all access points, including those not listed
    std::uint32_t packetCount = 0; // packets holding data of the stream
};

enum class MpegAudioMode { Stereo, JointStereo, DualChannel, SingleChannel };

struct MpegAudioStreamInfo {
    bool present = false; // at least one packet of the stream was seen
    bool frameHeaderSeen = false;
    // From the stream's first frame header (ISO/IEC 11172-3, 2.4.2.3; 13818-3 for the
    // lower sampling rates).
    int version = 0; // 1 = MPEG-1, 2 = MPEG-2 lower sampling rates, 25 = MPEG 2.5
    int layer = 0; // 1, 2 or 3
    int samplingRate = 0; // Hz
    int bitRate = 0; // bits per second; 0 for free format
    MpegAudioMode mode = MpegAudioMode::Stereo;
    std::uint32_t packetCount = 0; // packets holding data of the stream
};

struct MpegStreamInfo {
    MpegVideoStreamInfo video[kMpegVideoStreamCount];
    MpegAudioStreamInfo audio[kMpegAudioStreamCount];
    std::uint32_t multiplexRate = 0; // bits per second (mux rate field × 400), first pack header
    bool mpeg2 = false; // the first pack header is an MPEG-2 one
};

// What one packet holds. The flags say which streams have data (or, for a system
// header, are listed) in the packet.
struct PacketInfo {
    bool video[kMpegVideoStreamCount] = {};
    bool audio[kMpegAudioStreamCount] = {};
    bool overlayGraphics[kMpegOverlayStreamCount] = {};
    bool padding = false;
    bool systemHeader = false;
    bool allZero = false;
    bool programEnd = false; // the packet holds a program end code (00 00 01 B9)
    bool hasPresentationTime = false;
    double presentationTime = 0.0; // seconds, relative to the source's first presentation time
    std::size_t length = 0; // bytes of the file in the packet (1 … 2,324)
};

// Packet kinds, decided in this order: video, audio, zero, overlay graphics, empty
// (padding or system header), invalid.
enum class PacketKind { Video, Audio, Zero, OverlayGraphics, Empty, Invalid };
inline constexpr int kPacketKindCount = 6;

PacketKind GetPacketKind(const PacketInfo& info);
const char* PacketKindName(PacketKind kind); // "video", "audio", "zero", "overlay graphics", "empty", "invalid"

// Norms of a video stream: the first row that matches width, height and frame rate
// exactly.
//   FILM SIF      352 × 240 at 24000/1001
//   PAL SIF       352 × 288 at 25
//   NTSC SIF      352 × 240 at 30000/1001
//   PAL 2/3 D-1   480 × 576 at 25
//   NTSC 2/3 D-1  480 × 480 at 30000/1001
// Anything else, a stream without a sequence header included, is unknown.
enum class MpegNorm { Unknown, FilmSif, PalSif, NtscSif, Pal2_3D1, Ntsc2_3D1 };

MpegNorm GetNorm(const MpegVideoStreamInfo& video);
const char* MpegNormName(MpegNorm norm); // "FILM SIF", "PAL SIF", …, "unknown"
const char* MpegAudioModeName(MpegAudioMode mode); // "stereo", "joint stereo", "dual channel", "single channel"

struct MpegReader; // reading state while the file is open

// A program stream file. Created by `CreateMpegSource`; the scan fills in the rest.
class MpegSource {
public:
    ~MpegSource();
    MpegSource(const MpegSource&) = delete;
    MpegSource& operator=(const MpegSource&) = delete;

    const std::string& Path() const { return path_; }
    // Size of the file when the source was created.
    std::uint64_t FileSize() const { return fileSize_; }
    bool Scanned() const { return scanned_; }
    // Valid after scanning.
    std::uint32_t PacketCount() const { return packetCount_; }
    const MpegStreamInfo& StreamInfo() const { return streamInfo_; }
    // Earliest presentation time of the file, seconds (0 when the file has none).
    double FirstPresentationTime() const { return firstPresentationTime_; }
    // Latest minus earliest presentation time, seconds.
    double PlayingTime() const { return playingTime_; }
    // Packets that hold a presentation time (diagnostics).
    std::uint32_t PacketsWithPresentationTime() const { return timedPackets_; }
    // Packets of one kind, valid after scanning.
    std::uint32_t PacketKindCount(PacketKind kind) const { return kindCounts_[static_cast<int>(kind)]; }

private:
    explicit MpegSource(std::string path, std::uint64_t size);

    friend std::unique_ptr<MpegSource> CreateMpegSource(const std::string& path);
    friend int ScanMpegSource(MpegSource& source);
    friend int ReadPacket(MpegSource& source, std::uint32_t packetNumber, std::uint8_t* buffer, PacketInfo* info);
    friend void CloseMpegSource(MpegSource& source);

    std::string path_;
    std::uint64_t fileSize_ = 0;
    bool scanned_ = false;
    std::uint32_t packetCount_ = 0;
    MpegStreamInfo streamInfo_;
    double firstPresentationTime_ = 0.0;
    double playingTime_ = 0.0;
    std::uint32_t timedPackets_ = 0;
    std::uint32_t kindCounts_[kPacketKindCount] = {};
    std::unique_ptr<MpegReader> reader_; // open file, its 128 KiB buffer, next packet number
};

// Creates the source of a file; none when the path is not an existing regular file.
// The file is not opened yet.
std::unique_ptr<MpegSource> CreateMpegSource(const std::string& path);

// Reads the whole file once and fills in packet count, stream information, first
// presentation time and playing time. Does nothing when the source was scanned before.
// Returns 0, or −1 when the file cannot be opened or read (the source then stays
// unscanned with no packets). A file that does not start with a pack header scans
// successfully to no packets.
int ScanMpegSource(MpegSource& source);

// Copies packet `packetNumber` into `buffer` (kMpegPacketSize bytes, zero-padded after
// the packet's own bytes) and describes it in `*info` (may be null). Scans the source
// first when needed. Reading is sequential with a remembered position: asking for the
// next packet or a later one reads on; asking for an earlier one restarts from the
// beginning of the file. Returns 0, or −1 past the last packet, when the file can no
// longer be read, or when it no longer holds the packet (changed since the scan).
// Reading the last packet closes the file.
int ReadPacket(MpegSource& source, std::uint32_t packetNumber, std::uint8_t* buffer, PacketInfo* info);

// Closes the file and frees the read buffer; the next `ReadPacket` reopens it.
void CloseMpegSource(MpegSource& source);

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/SlideshowTrack.h"

#include "base/Event.h"
#include "base/FileDescriptor.h"
#include "production/BlockTransforms.h"
#include "production/MjpegJob.h"
#include "production/WaveFile.h"
#include "vcd/MpegSource.h"

#include <twolame.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace lumivox {

namespace {

constexpr int kTrackSampleRate = 44100;
constexpr int kTrackAudioKbps = 224;
constexpr double kPacksPerSecond = 75.0;
// The multiplexer's run-in before the first picture and its last packs, in packs: a
// measured track of either norm needs a dozen or so.
constexpr std::uint32_t kTrackRunInPacks = 75;

// Rounds a time in seconds at the timeline's rate to the nearest frame.
std::int64_t FrameAt(std::int64_t seconds, TvNorm norm)
{
    if (norm == TvNorm::Pal)
        return seconds * 25;
    return (seconds * 30000 + 500) / 1001; // 29.97 Hz
}

// Writes MPEG-1 video syntax bit by bit (ISO/IEC 11172-2).
class BitWriter {
public:
    void Put(std::uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            current_ = static_cast<std::uint8_t>(current_ << 1 | ((value >> i) & 1));
            if (++filled_ == 8) {
                bytes_.push_back(static_cast<char>(current_));
                current_ = 0;
                filled_ = 0;
            }
        }
    }
    // next_start_code: zero bits up to the byte boundary.
    void Align()
    {
        if (filled_)
            Put(0, 8 - filled_);
    }
    void StartCode(std::uint8_t code)
    {
        Align();
        bytes_.append("\0\0\1", 3);
        bytes_.push_back(static_cast<char>(code));
    }
    std::string Take()
    {
        Align();
        return std::move(bytes_);
    }

private:
    std::string bytes_;
    std::uint8_t current_ = 0;
    int filled_ = 0;
};

// macroblock_address_increment codes 1 … 33 (table B.1) and the escape (+33).
struct Vlc {
    std::uint32_t code;
    int bits;
};
constexpr Vlc kAddressIncrement[34] = {{0, 0},   {1, 1},   {3, 3},   {2, 3},   {3, 4},   {2, 4},   {3, 5},
                                       {2, 5},   {7, 7},   {6, 7},   {11, 8},  {10, 8},  {9, 8},   {8, 8},
                                       {7, 8},   {6, 8},   {23, 10}, {22, 10}, {21, 10}, {20, 10}, {19, 10},
                                       {18, 10}, {35, 11}, {34, 11}, {33, 11}, {32, 11}, {31, 11}, {30, 11},
                                       {29, 11}, {28, 11}, {27, 11}, {26, 11}, {25, 11}, {24, 11}};
constexpr Vlc kAddressEscape = {8, 11};

void PutAddressIncrement(BitWriter& out, int increment)
{
    while (increment > 33) {
        out.Put(kAddressEscape.code, kAddressEscape.bits);
        increment -= 33;
    }
    out.Put(kAddressIncrement[increment].code, kAddressIncrement[increment].bits);
}

// A predicted picture that repeats its reference: one slice over the picture whose first
// and last macroblocks are "motion compensated, not coded" with a zero vector (a slice
// must begin and end with a macroblock of its own) and every one between skipped.
std::string RepeatPicture(int temporalReference, TvNorm norm)
{
    const int macroblocks = (kTrackWidth / 16) * (TrackHeight(norm) / 16);
    BitWriter out;
    out.StartCode(0x00);
    out.Put(static_cast<std::uint32_t>(temporalReference) & 0x3FF, 10);
    out.Put(2, 3); // P picture
    out.Put(0xFFFF, 16); // vbv_delay: not given
    out.Put(0, 1); // full_pel_forward_vector
    out.Put(1, 3); // forward_f_code
    out.Put(0, 1); // extra_bit_picture
    out.StartCode(0x01); // slice of row 1
    out.Put(8, 5); // quantizer_scale (nothing is coded)
    out.Put(0, 1); // extra_bit_slice
    auto copiedMacroblock = [&] {
        out.Put(1, 3); // macroblock_type "001": forward motion, no coefficients
        out.Put(1, 1); // motion_horizontal_forward_code 0
        out.Put(1, 1); // motion_vertical_forward_code 0
    };
    PutAddressIncrement(out, 1);
    copiedMacroblock();
    PutAddressIncrement(out, macroblocks - 1);
    copiedMacroblock();
    return out.Take();
}

std::string GroupHeader(std::int64_t frame, TvNorm norm)
{
    const int nominal = norm == TvNorm::Pal ? 25 : 30;
    const std::int64_t seconds = frame / nominal;
    BitWriter out;
    out.StartCode(0xB8);
    out.Put(0, 1); // drop_frame_flag
    out.Put(static_cast<std::uint32_t>((seconds / 3600) % 24), 5);
    out.Put(static_cast<std::uint32_t>((seconds / 60) % 60), 6);
    out.Put(1, 1); // marker
    out.Put(static_cast<std::uint32_t>(seconds % 60), 6);
    out.Put(static_cast<std::uint32_t>(frame % nominal), 6);
    out.Put(1, 1); // closed_gop: nothing refers to the group before
    out.Put(0, 1); // broken_link
    out.Put(0, 5);
    return out.Take();
}

// Start code positions of a video elementary stream.
std::size_t FindStartCode(const std::string& s, std::size_t from, bool (*wanted)(std::uint8_t))
{
    for (std::size_t i = from; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && wanted(static_cast<std::uint8_t>(s[i + 3])))
            return i;
    return std::string::npos;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::size_t limit)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return false;
    char buffer[65536];
    bytes.clear();
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (bytes.size() + got > limit)
            return false;
        bytes.append(buffer, got);
    }
    return !std::ferror(file.get());
}

// The sequence header (with anything up to the group) and the first I picture of an
// encoded interval.
struct IntraPicture {
    std::string sequenceHeader;
    std::string picture;
};

bool SplitIntraPicture(const std::string& stream, IntraPicture& out)
{
    const std::size_t sequence = FindStartCode(stream, 0, [](std::uint8_t c) { return c == 0xB3; });
    const std::size_t group =
        FindStartCode(stream, sequence == std::string::npos ? 0 : sequence, [](std::uint8_t c) { return c == 0xB8; });
    const std::size_t picture =
        FindStartCode(stream, group == std::string::npos ? 0 : group, [](std::uint8_t c) { return c == 0x00; });
    if (sequence == std::string::npos || group == std::string::npos || picture == std::string::npos ||
        picture + 8 > stream.size())
        return false;
    // The picture ends at the next start code that is not one of its slices.
    std::size_t end = FindStartCode(stream, picture + 4, [](std::uint8_t c) { return c == 0x00 || c >= 0xB0; });
    if (end == std::string::npos)
        end = stream.size();
    out.sequenceHeader = stream.substr(sequence, group - sequence);
    out.picture = stream.substr(picture, end - picture);
    auto* p = reinterpret_cast<std::uint8_t*>(out.picture.data());
    if (((p[5] >> 3) & 7) != 1)
        return false; // not an I picture
    // temporal_reference 0 (first of its group), vbv_delay not given, as the repeats.
    p[4] = 0;
    p[5] = static_cast<std::uint8_t>((p[5] & 0x38) | 0x07);
    p[6] = 0xFF;
    p[7] = static_cast<std::uint8_t>(p[7] | 0xF8);
    return true;
}

} // namespace

const char* SlideshowTrackModeName(SlideshowTrackMode mode)
{
    switch (mode) {
    case SlideshowTrackMode::Always:
        return "always";
    case SlideshowTrackMode::Never:
        return "never";
    case SlideshowTrackMode::Auto:
        break;
    }
    return "auto";
}

bool ParseSlideshowTrackMode(const std::string& text, SlideshowTrackMode& mode)
{
    for (SlideshowTrackMode m : {SlideshowTrackMode::Auto, SlideshowTrackMode::Always, SlideshowTrackMode::Never})
        if (text == SlideshowTrackModeName(m)) {
            mode = m;
            return true;
        }
    return false;
}

int SlideshowTimeline::Chapters() const
{
    return static_cast<int>(
        std::count_if(intervals.begin(), intervals.end(), [](const SlideshowInterval& i) { return i.picture < 0; }));
}

SlideshowTimeline MakeSlideshowTimeline(const ProductionPlan& plan)
{
    SlideshowTimeline timeline;
    timeline.norm = plan.norm;
    timeline.frameRate = plan.norm == TvNorm::Pal ? 25.0 : 30000.0 / 1001.0;
    std::int64_t seconds = 0;
    auto add = [&](int album, int picture, int length) {
        SlideshowInterval interval;
        interval.album = album;
        interval.picture = picture;
        interval.firstFrame = FrameAt(seconds, plan.norm);
        seconds += length;
        interval.frames = FrameAt(seconds, plan.norm) - interval.firstFrame;
        timeline.intervals.push_back(interval);
    };
    for (int a = 0; a < plan.AlbumCount(); ++a) {
        const PlannedAlbum& album = plan.albums[static_cast<std::size_t>(a)];
        if (album.pictures.empty())
            continue;
        add(a, -1, kTitleCardSeconds);
        for (int p = 0; p < static_cast<int>(album.pictures.size()); ++p)
            add(a, p, std::max(album.waitTime, 1));
    }
    timeline.totalFrames = FrameAt(seconds, plan.norm);
    return timeline;
}

std::uint32_t SlideshowTrackPackets(const SlideshowTimeline& timeline)
{
    if (timeline.intervals.empty())
        return 0;
    // Whole frames at 30000/1001 Hz are not whole packs; the tolerance keeps a playing
    // time of whole seconds from taking a pack more than it needs.
    return static_cast<std::uint32_t>(std::ceil(timeline.Seconds() * kPacksPerSecond - 1e-6)) + kTrackRunInPacks;
}

bool TrackPlanesFromFrame(const PicBitmap& frame, StillPlanes& planes, std::string* error)
{
    StillPlanes full;
    return ReadStillFrame(frame.Header(), frame.Palette(), frame.Pixels(), full, error) &&
           TrackPlanesFromStill(full, planes, error);
}

bool TrackPlanesFromStill(const StillPlanes& full, StillPlanes& planes, std::string* error)
{
    if (full.width != 2 * kTrackWidth) {
        if (error)
            *error = "the track's frame is not 704 pixels wide";
        return false;
    }
    // Two by two samples become one: the track's 352 x 288 (240) samples show the same
    // 4:3 picture as the 704 x 576 (480) frame.
    auto halve = [](const std::vector<std::uint8_t>& in, int width, int height, std::vector<std::uint8_t>& out) {
        const int halfWidth = (width + 1) / 2;
        const int halfHeight = (height + 1) / 2;
        out.resize(static_cast<std::size_t>(halfWidth) * halfHeight);
        for (int y = 0; y < halfHeight; ++y) {
            const std::uint8_t* top = &in[static_cast<std::size_t>(2 * y) * width];
            const std::uint8_t* bottom = 2 * y + 1 < height ? top + width : top;
            for (int x = 0; x < halfWidth; ++x) {
                const int right = 2 * x + 1 < width ? 2 * x + 1 : 2 * x;
                const int sum = top[2 * x] + top[right] + bottom[2 * x] + bottom[right];
                out[static_cast<std::size_t>(y) * halfWidth + x] = static_cast<std::uint8_t>((sum + 2) / 4);
            }
        }
    };
    planes.width = kTrackWidth;
    planes.height = (full.height + 1) / 2;
    halve(full.y, full.width, full.height, planes.y);
    halve(full.cb, full.ChromaWidth(), full.ChromaHeight(), planes.cb);
    halve(full.cr, full.ChromaWidth(), full.ChromaHeight(), planes.cr);
    return true;
}

bool EncodeTrackPicture(const StillPlanes& planes, TvNorm norm, const std::string& outputPath, std::string* error)
{
    MjpegRequestWriter head;
    head.I32(planes.width);
    head.I32(planes.height);
    head.I32(static_cast<std::int32_t>(norm));
    head.I32(static_cast<std::int32_t>(StillTransforms::Fast));
    head.Text(outputPath);
    head.U32(static_cast<std::uint32_t>(planes.y.size()));
    head.U32(static_cast<std::uint32_t>(planes.cb.size()));
    head.U32(static_cast<std::uint32_t>(planes.cr.size()));
    auto view = [](const std::vector<std::uint8_t>& plane) {
        return std::string_view(reinterpret_cast<const char*>(plane.data()), plane.size());
    };
    const MjpegJobResult result =
        RunMjpegHelperJob("track-picture", {head.Bytes(), view(planes.y), view(planes.cb), view(planes.cr)});
    if (!result.ok && error)
        *error = result.error;
    return result.ok;
}

namespace {

// A track without music needs no encoder: a Layer II frame in which no subband is given
// any bits is silence, and holds nothing but its header (ISO/IEC 11172-3: MPEG-1 Layer II,
// 224 kbit/s, 44.1 kHz, stereo, no CRC, "original") and zeros. A frame is 144 x 224000 /
// 44100 = 731.43 bytes on average: 731, and 732 with the padding slot as often as it takes
// to keep the rate exact.
bool WriteSilentLayerTwo(std::uint64_t frames, const std::string& outputPath, std::string* error,
                         const ManualResetEvent* cancel)
{
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    static_assert(kTrackSampleRate == 44100 && kTrackAudioKbps == 224, "the silent frame's header is for these");
    constexpr std::uint32_t kBytesNumerator = 144 * 224000; // per frame, over the sample rate
    constexpr std::uint32_t kBaseBytes = kBytesNumerator / 44100; // 731
    constexpr std::uint32_t kRemainder = kBytesNumerator % 44100;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(outputPath.c_str(), "wb"), &std::fclose);
    if (!out)
        return fail(outputPath + ": " + std::strerror(errno));
    std::vector<std::uint8_t> frame(kBaseBytes + 1, 0);
    frame[0] = 0xFF; // sync
    frame[1] = 0xFD; // sync, MPEG-1, Layer II, no CRC
    frame[3] = 0x04; // stereo, original
    std::uint32_t carried = 0;
    for (std::uint64_t i = 0; i < frames; ++i) {
        if (cancel && cancel->IsSet())
            return fail("cancelled");
        carried += kRemainder;
        const bool padded = carried >= 44100;
        if (padded)
            carried -= 44100;
        frame[2] = static_cast<std::uint8_t>(0xB0 | (padded ? 0x02 : 0x00)); // 224 kbit/s, 44.1 kHz, padding
        const std::size_t size = kBaseBytes + (padded ? 1 : 0);
        if (std::fwrite(frame.data(), 1, size, out.get()) != size)
            return fail(outputPath + ": the track's sound could not be written");
    }
    if (std::fclose(out.release()) != 0)
        return fail(outputPath + ": the track's sound could not be written");
    return true;
}

} // namespace

bool EncodeTrackAudio(const std::string& pcmPath, double seconds, const std::string& outputPath, std::string* error,
                      const ManualResetEvent* cancel)
{
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    PcmInput input;
    bool music = false;
    if (!pcmPath.empty()) {
        std::string reason;
        if (!input.Open(pcmPath, &reason))
            return fail(pcmPath + ": " + reason);
        music = input.FramesRemaining() > 0;
    }
    constexpr int kFrameSamples = 1152;
    const auto frames = static_cast<std::uint64_t>(std::ceil(seconds * kTrackSampleRate / kFrameSamples));
    if (!music)
        return WriteSilentLayerTwo(frames, outputPath, error, cancel);

    std::unique_ptr<twolame_options, void (*)(twolame_options*)> encoder(twolame_init(),
                                                                         [](twolame_options* o) { twolame_close(&o); });
    if (!encoder)
        return fail("the Layer II encoder could not be started");
    twolame_options* options = encoder.get();
    twolame_set_verbosity(options, 0);
    twolame_set_num_channels(options, 2);
    twolame_set_in_samplerate(options, kTrackSampleRate);
    twolame_set_out_samplerate(options, kTrackSampleRate);
    twolame_set_version(options, TWOLAME_MPEG1);
    twolame_set_mode(options, TWOLAME_STEREO);
    twolame_set_bitrate(options, kTrackAudioKbps);
    twolame_set_psymodel(options, 1); // as for the menu music
    twolame_set_error_protection(options, 0);
    twolame_set_padding(options, TWOLAME_PAD_ALL);
    if (twolame_init_params(options) != 0)
        return fail("the Layer II encoder refused 44.1 kHz stereo at 224 kbit/s");

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(outputPath.c_str(), "wb"), &std::fclose);
    if (!out)
        return fail(outputPath + ": " + std::strerror(errno));

    const std::uint64_t total = frames * kFrameSamples;
    const int channels = input.Channels();
    const double step = static_cast<double>(input.SampleRate()) / kTrackSampleRate;
    // The source is read in blocks; `position` is where the next output sample lies in it.
    std::vector<std::int16_t> source; // interleaved, channels per frame
    std::vector<std::int16_t> block(static_cast<std::size_t>(4096) * 2);
    double position = 0.0;
    auto sourceFrames = [&] { return source.size() / static_cast<std::size_t>(channels); };
    auto refill = [&]() -> bool { // keeps at least two source frames beyond position
        while (sourceFrames() < static_cast<std::size_t>(position) + 2) {
            long got = input.Read(block.data(), 4096);
            if (got < 0)
                return false;
            if (got == 0) {
                if (!input.SeekToFrame(0))
                    return false;
                continue; // looped
            }
            source.insert(source.end(), block.begin(), block.begin() + got * channels);
        }
        return true;
    };
    std::vector<short> left(kFrameSamples), right(kFrameSamples);
    std::vector<unsigned char> mp2(16384);
    for (std::uint64_t done = 0; done < total; done += kFrameSamples) {
        if (cancel && cancel->IsSet())
            return fail("cancelled");
        for (int i = 0; i < kFrameSamples; ++i) {
            if (!refill())
                return fail(pcmPath + ": the music could not be read");
            const auto at = static_cast<std::size_t>(position);
            const double frac = position - static_cast<double>(at);
            auto sample = [&](int channel) {
                const double a = source[at * channels + static_cast<std::size_t>(channel)];
                const double b = source[(at + 1) * channels + static_cast<std::size_t>(channel)];
                return static_cast<short>(std::lround(a + (b - a) * frac));
            };
            left[static_cast<std::size_t>(i)] = sample(0);
            right[static_cast<std::size_t>(i)] = sample(channels > 1 ? 1 : 0);
            position += step;
        }
        // Drop what has been used, now and then.
        const auto used = static_cast<std::size_t>(position);
        if (used > 65536) {
            source.erase(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(used * channels));
            position -= static_cast<double>(used);
        }
        const int bytes = twolame_encode_buffer(options, left.data(), right.data(), kFrameSamples, mp2.data(),
                                                static_cast<int>(mp2.size()));
        if (bytes < 0 ||
            std::fwrite(mp2.data(), 1, static_cast<std::size_t>(bytes), out.get()) != static_cast<std::size_t>(bytes))
            return fail(outputPath + ": the track's sound could not be written");
    }
    const int bytes = twolame_encode_flush(options, mp2.data(), static_cast<int>(mp2.size()));
    if (bytes > 0 &&
        std::fwrite(mp2.data(), 1, static_cast<std::size_t>(bytes), out.get()) != static_cast<std::size_t>(bytes))
        return fail(outputPath + ": the track's sound could not be written");
    if (std::fclose(out.release()) != 0)
        return fail(outputPath + ": the track's sound could not be written");
    return true;
}

bool AssembleTrackVideo(const SlideshowTimeline& timeline, const std::vector<std::string>& pictureFiles,
                        const std::string& outputPath, std::vector<std::uint64_t>& chapterOffsets, std::string* error)
{
    auto fail = [&](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    if (pictureFiles.size() != timeline.intervals.size())
        return fail("the track's pictures do not match its intervals");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(outputPath.c_str(), "wb"), &std::fclose);
    if (!out)
        return fail(outputPath + ": " + std::strerror(errno));
    std::uint64_t written = 0;
    bool ok = true;
    auto put = [&](const std::string& bytes) {
        ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
        written += bytes.size();
    };
    const int group = TrackGroupFrames(timeline.norm);
    // The repeats differ only in their temporal reference.
    std::vector<std::string> repeats;
    for (int r = 1; r < group; ++r)
        repeats.push_back(RepeatPicture(r, timeline.norm));
    chapterOffsets.clear();
    for (std::size_t i = 0; i < timeline.intervals.size(); ++i) {
        const SlideshowInterval& interval = timeline.intervals[i];
        std::string stream;
        IntraPicture intra;
        if (!ReadWholeFile(pictureFiles[i], stream, std::size_t{16} << 20) || !SplitIntraPicture(stream, intra))
            return fail(pictureFiles[i] + ": not an encoded picture of the track");
        if (interval.picture < 0)
            chapterOffsets.push_back(written);
        for (std::int64_t f = 0; f < interval.frames; f += group) {
            put(intra.sequenceHeader);
            put(GroupHeader(interval.firstFrame + f, timeline.norm));
            put(intra.picture);
            const std::int64_t inGroup = std::min<std::int64_t>(group, interval.frames - f);
            for (std::int64_t r = 1; r < inGroup; ++r)
                put(repeats[static_cast<std::size_t>(r - 1)]);
        }
    }
    put(std::string("\0\0\1\xB7", 4)); // sequence end
    if (!ok || std::fclose(out.release()) != 0)
        return fail(outputPath + ": the track's video could not be written");
    return true;
}

bool MultiplexTrack(const std::string& outputPath, const std::string& videoPath, const std::string& audioPath,
                    std::string* error)
{
    MjpegRequestWriter request;
    request.Text(outputPath);
    request.Text(videoPath);
    request.Text(audioPath);
    const MjpegJobResult result = RunMjpegHelperJob("track-multiplex", {request.Bytes()});
    if (!result.ok && error)
        *error = result.error;
    return result.ok;
}

bool VideoBytePackets(const std::string& path, const std::vector<std::uint64_t>& offsets,
                      std::vector<std::uint32_t>& packets, std::string* error)
{
    packets.clear();
    std::unique_ptr<MpegSource> source = CreateMpegSource(path);
    if (!source || ScanMpegSource(*source) != 0) {
        if (error)
            *error = path + ": the track cannot be read";
        return false;
    }
    std::uint8_t packet[kMpegPacketSize];
    std::uint64_t videoBytes = 0; // of stream 0xE0 before the current packet
    std::size_t next = 0;
    for (std::uint32_t n = 0; n < source->PacketCount() && next < offsets.size(); ++n) {
        PacketInfo info;
        if (ReadPacket(*source, n, packet, &info) != 0)
            break;
        const std::size_t length = std::min(info.length, sizeof packet);
        std::size_t at = 0;
        // Pack header (MPEG-1: 12 bytes), then packets by their lengths.
        if (length >= 12 && packet[0] == 0 && packet[1] == 0 && packet[2] == 1 && packet[3] == 0xBA)
            at = 12;
        while (at + 6 <= length && packet[at] == 0 && packet[at + 1] == 0 && packet[at + 2] == 1) {
            const std::uint8_t id = packet[at + 3];
            if (id == 0xB9)
                break;
            const std::size_t size = static_cast<std::size_t>(packet[at + 4]) << 8 | packet[at + 5];
            const std::size_t end = std::min(length, at + 6 + size);
            if (id == 0xE0) {
                std::size_t h = at + 6;
                while (h < end && packet[h] == 0xFF)
                    ++h;
                if (h < end && (packet[h] & 0xC0) == 0x40)
                    h += 2;
                if (h < end && (packet[h] & 0xF0) == 0x20)
                    h += 5;
                else if (h < end && (packet[h] & 0xF0) == 0x30)
                    h += 10;
                else if (h < end)
                    h += 1;
                if (h < end)
                    videoBytes += end - h;
            }
            at = end;
        }
        while (next < offsets.size() && offsets[next] < videoBytes) {
            packets.push_back(n);
            ++next;
        }
    }
    CloseMpegSource(*source);
    if (packets.size() != offsets.size()) {
        if (error)
            *error = path + ": the track ends before its chapters";
        return false;
    }
    return true;
}

} // namespace lumivox

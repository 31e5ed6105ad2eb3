// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The slideshow track: the disc's MPEG track shows the whole project, so that a player
// with playback control off (a computer, a DVD player's default) shows every photo too.
// Album after album, a title card with the album's name (kTitleCardSeconds) and then
// every picture for its album's wait time, at the Video CD motion rates: 352 x 288 at
// 25 Hz or 352 x 240 at 29.97 Hz, MPEG-1 video at 1,150 kbit/s, Layer II audio at
// 224 kbit/s (the menu music looped, or silence), 2,324-byte packs.
//
// A picture on the track never moves, so it costs one intra picture: the encoder makes
// the I picture of each card and photo (in the helper process, like the stills), and the
// track repeats it with predicted pictures whose macroblocks all copy the previous
// picture (a few bytes each). Every group of pictures starts with a sequence header and
// the I picture, so a player can start at any group, and an album's entry point is the
// sector of its title card's first group.
//
// The track's size is known before anything is encoded: its playing time at the
// single-speed rate (SlideshowTrackPackets).

#include "base/TvNorm.h"
#include "production/ProductionPlan.h"
#include "production/StillEncoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumivox {

class ManualResetEvent;

inline constexpr int kTitleCardSeconds = 3;
inline constexpr int kTrackWidth = 352;
inline constexpr int TrackHeight(TvNorm norm)
{
    return norm == TvNorm::Pal ? 288 : 240;
}
// Pictures per group: half a second, as Video CD motion video usually has.
inline constexpr int TrackGroupFrames(TvNorm norm)
{
    return norm == TvNorm::Pal ? 12 : 15;
}

struct SlideshowInterval {
    int album = 0; // from 0
    int picture = -1; // from 0 within the album; -1 for the album's title card
    std::int64_t firstFrame = 0;
    std::int64_t frames = 0;
};

// What the track shows when. Albums without pictures are left out (no card either).
struct SlideshowTimeline {
    TvNorm norm = TvNorm::Ntsc;
    double frameRate = 0.0;
    std::vector<SlideshowInterval> intervals;
    std::int64_t totalFrames = 0;
    double Seconds() const { return frameRate > 0 ? static_cast<double>(totalFrames) / frameRate : 0.0; }
    int Chapters() const; // title cards
};

// The intervals of plan: a card of kTitleCardSeconds, then each picture for its album's
// wait time (at least one second). An interval's first frame is its start time rounded to
// the nearest frame, so the track's length is its playing time within a frame.
SlideshowTimeline MakeSlideshowTimeline(const ProductionPlan& plan);

// Packets of the track on the disc: its playing time and the multiplexer's run-in at 75
// packs a second (the multiplexed file is filled up to this with empty packets, so the
// disc is exactly as large as estimated). 0 for a timeline without intervals.
std::uint32_t SlideshowTrackPackets(const SlideshowTimeline& timeline);

// The frame of the track made from a 704 x 576 (480) TV frame of the same norm: halved
// both ways (the same 4:3 picture on fewer samples) into encoder planes.
bool TrackPlanesFromFrame(const PicBitmap& frame, StillPlanes& planes, std::string* error);
// The same from the frame's planes as the still encoder reads them (a slide's frame is
// converted to planes once, for its still and its track picture).
bool TrackPlanesFromStill(const StillPlanes& full, StillPlanes& planes, std::string* error);

// Encodes the I picture of one interval into outputPath (an MPEG-1 video elementary
// stream of the Video CD motion profile). Runs a helper job; false with its text.
bool EncodeTrackPicture(const StillPlanes& planes, TvNorm norm, const std::string& outputPath, std::string* error);

// The track's Layer II audio (44.1 kHz stereo at 224 kbit/s) for `seconds`: the music in
// pcmPath (a WAVE or AIFF file of 16-bit samples) looped, resampled to 44.1 kHz when
// needed; silence when pcmPath is empty.
bool EncodeTrackAudio(const std::string& pcmPath, double seconds, const std::string& outputPath, std::string* error,
                      const ManualResetEvent* cancel = nullptr);

// Puts the video elementary stream together from the intervals' I pictures (one file
// per interval, in timeline order) and writes it to outputPath. byteOffsets receives
// the offset in that stream of each title card's first sequence header.
bool AssembleTrackVideo(const SlideshowTimeline& timeline, const std::vector<std::string>& pictureFiles,
                        const std::string& outputPath, std::vector<std::uint64_t>& chapterOffsets, std::string* error);

// Multiplexes video and audio into the track (helper job, Video CD format).
bool MultiplexTrack(const std::string& outputPath, const std::string& videoPath, const std::string& audioPath,
                    std::string* error);

// The packet of the program stream in path holding byte `offset` of its video stream
// 0xE0, for each offset (ascending). False when the file cannot be read or ends first.
bool VideoBytePackets(const std::string& path, const std::vector<std::uint64_t>& offsets,
                      std::vector<std::uint32_t>& packets, std::string* error);

// The helper's job bodies.
void RunTrackPictureJobInThisProcess(class MjpegRequestReader& request);
void RunTrackMultiplexJobInThisProcess(class MjpegRequestReader& request);

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/DiscEstimate.h"

#include "base/MappedFile.h"
#include "base/TextUtil.h"
#include "mpadec/MpegAudioDecoder.h"
#include "production/Multiplexer.h"
#include "production/StillEncoder.h"
#include "production/SlideshowTrack.h"
#include "production/WaveFile.h"
#include "vcd/MpegSource.h"
#include "vcd/VideoCdLayout.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace lumivox {

namespace {

// A Video CD plays 75 sectors a second; a still segment's packs fill one sector each.
constexpr double kPacksPerSecond = 75.0;
// The packs of a still segment without music: the still padded to its 204,800-byte
// target and the companion still, run in at the single-speed rate.
constexpr std::uint32_t kStillSegmentPacks = 94;
// The multiplexer leads in with twice the stills' own time before the music plays.
constexpr double kRunInFactor = 2.0;
constexpr std::uint32_t kStillPacks = 91; // (204,800 + companion) / 2,324, rounded up

std::uint32_t UnitsOf(std::uint64_t packets)
{
    return static_cast<std::uint32_t>((packets + kSectorsPerSegmentUnit - 1) / kSectorsPerSegmentUnit);
}

// The MP3's playing time from its frames: each header gives its frame's length and
// samples. Damage is stepped over a byte at a time, as the decoder does.
double Mp3Seconds(const unsigned char* data, std::size_t size)
{
    std::size_t at = Id3v2TagSize(data, size);
    double seconds = 0.0;
    int frames = 0;
    while (at + 4 <= size) {
        MpegFrameHeader header;
        const int length = ParseFrameHeader(data + at, size - at, nullptr, &header);
        const int rate = length > 0 ? MpegSampleRate(header) : 0;
        const int samples = length > 0 ? MpegSamplesPerFrame(header) : 0;
        if (length <= 0 || rate <= 0 || samples <= 0) {
            ++at;
            continue;
        }
        seconds += static_cast<double>(samples) / rate;
        ++frames;
        at += static_cast<std::size_t>(length);
    }
    return frames > 0 ? seconds : -1.0;
}

} // namespace

std::uint32_t EstimateMenuPageUnits(double musicSeconds)
{
    if (musicSeconds <= 0.0)
        return UnitsOf(kStillSegmentPacks);
    const double runIn = kRunInFactor * kStillPacks / kPacksPerSecond;
    const double packs = std::ceil((musicSeconds + runIn) * kPacksPerSecond) + 3;
    return UnitsOf(static_cast<std::uint64_t>(std::max(packs, double(kStillSegmentPacks))));
}

double MusicPlayingSeconds(const std::string& path)
{
    // A WAVE or AIFF file tells its length in its header: three hours of it are not read
    // to learn that they do not fit.
    MappedFile file;
    if (!file.Open(path, nullptr, 12) || file.Size() < 4)
        return -1.0;
    const unsigned char* data = file.Data();
    const bool wave =
        file.Size() >= 12 && std::equal(data, data + 4, "RIFF") && std::equal(data + 8, data + 12, "WAVE");
    const bool aiff = file.Size() >= 12 && std::equal(data, data + 4, "FORM");
    if (!wave && !aiff) {
        if (!file.Open(path))
            return -1.0;
        const double seconds = Mp3Seconds(file.Data(), file.Size());
        if (seconds > 0.0)
            return seconds;
    }
    PcmInput input;
    std::string ignored;
    if (!input.Open(path, &ignored) || input.SampleRate() <= 0)
        return -1.0;
    return static_cast<double>(input.FramesRemaining()) / input.SampleRate();
}

DiscEstimate EstimateDisc(const ProductionPlan& plan, const std::string& programFolder)
{
    SegmentUnits units;
    if (!plan.musicPath.empty())
        units.menuPage = EstimateMenuPageUnits(MusicPlayingSeconds(plan.musicPath));
    return EstimateDisc(plan, programFolder, units);
}

namespace {

// The disc with the fixed track (trackPackets 0) or a slideshow track of that size with
// `chapters` entries.
DiscEstimate EstimateLayout(const ProductionPlan& plan, const std::string& programFolder, const SegmentUnits& units,
                            std::uint32_t trackPackets, int chapters)
{
    DiscEstimate estimate;
    estimate.unitsMeasured = units.measured;
    const int pages = plan.MenuPages();
    const int slides = plan.SlideCount();

    LayoutProject project;
    project.cdLabel = plan.cdLabel;
    project.albumsPerPage = plan.EntriesPerPage();
    project.albumPictureCounts = plan.PictureCounts();
    project.programFolder = programFolder;
    project.norm = plan.norm;
    project.segmentPackets.assign(static_cast<std::size_t>(pages), units.menuPage * kSectorsPerSegmentUnit);
    project.segmentPackets.insert(project.segmentPackets.end(), static_cast<std::size_t>(slides),
                                  units.slide * kSectorsPerSegmentUnit);
    project.trackPackets = trackPackets;
    for (int c = 1; c < chapters; ++c)
        project.trackEntryPackets.push_back(static_cast<std::uint32_t>(c)); // only their number counts
    estimate.trackPackets = trackPackets;
    estimate.slideshowTrack = trackPackets > 0;
    std::unique_ptr<VideoCdLayout> layout = BuildProjectLayout(project);
    estimate.segmentUnits = layout->segmentUnitTotal;
    estimate.entries = EntryCount(*layout);
    estimate.lists = static_cast<std::uint32_t>(layout->lists.size());
    const long total = ComputeLayout(*layout);
    if (total >= 0) {
        estimate.sectors = static_cast<std::uint32_t>(total);
        estimate.sectorsExact = true;
    } else {
        estimate.limitExceeded = layout->errorText;
        // At least the segment area and the track: enough to show how far over it is.
        std::uint64_t sectors = std::uint64_t(estimate.segmentUnits) * kSectorsPerSegmentUnit;
        for (const SequenceItem& track : layout->sequences)
            sectors += track.packetCount + layout->trackPregap;
        estimate.sectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, UINT32_MAX));
    }
    estimate.minutes = estimate.sectors / kPacksPerSecond / 60.0;
    if (layout->sequences.empty() && estimate.limitExceeded.empty())
        estimate.limitExceeded = programFolder + (plan.norm == TvNorm::Pal ? "avseq01.npal" : "avseq01.ntsc") +
                                 " is not a usable MPEG track; reinstall Lumivox!";
    return estimate;
}

std::string FormatThousands(std::uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text.push_back(',');
        text.push_back(digits[i]);
    }
    return text;
}

std::string MinutesText(std::uint64_t sectors)
{
    const std::uint64_t seconds = (sectors + 74) / 75;
    return Format("%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
}

} // namespace

DiscEstimate EstimateDisc(const ProductionPlan& plan, const std::string& programFolder, const SegmentUnits& units)
{
    const SlideshowTimeline timeline = MakeSlideshowTimeline(plan);
    const std::uint32_t trackPackets = SlideshowTrackPackets(timeline);
    if (plan.slideshowTrack == SlideshowTrackMode::Never || trackPackets == 0)
        return EstimateLayout(plan, programFolder, units, 0, 0);
    DiscEstimate with = EstimateLayout(plan, programFolder, units, trackPackets, timeline.Chapters());
    if (with.Fits())
        return with;
    DiscEstimate without = EstimateLayout(plan, programFolder, units, 0, 0);
    if (!without.Fits())
        return without; // the disc does not fit whatever its track
    const std::uint64_t missing = with.sectors > kMaxDiscSectors ? with.sectors - kMaxDiscSectors : 0;
    const std::string shortOf = missing > 0 ? Format("%s more (%s minutes) than a Video CD holds",
                                                     FormatThousands(missing).c_str(), MinutesText(missing).c_str())
                                            : with.limitExceeded;
    if (plan.slideshowTrack == SlideshowTrackMode::Always) {
        with.limitExceeded =
            Format("the slideshow track (%s) does not fit on the disc: it needs %s sectors, %s",
                   MinutesText(trackPackets).c_str(), FormatThousands(with.sectors).c_str(), shortOf.c_str());
        return with;
    }
    without.trackWarning =
        Format("The disc plays the fixed card instead of the slideshow track (%s): with it the "
               "disc needs %s sectors, %s.",
               MinutesText(trackPackets).c_str(), FormatThousands(with.sectors).c_str(), shortOf.c_str());
    return without;
}

bool MeasureSegmentUnits(const std::string& folder, const std::string& companionPath, const std::string& musicPath,
                         TvNorm norm, SegmentUnits& units, std::string* error)
{
    const std::string still = folder + "probe_still.m1v";
    const std::string menu = folder + "probe_menu.mpg";
    const std::string slide = folder + "probe_slide.mpg";
    struct Cleanup {
        std::vector<std::string> paths;
        ~Cleanup()
        {
            for (const std::string& path : paths) {
                std::error_code ignored;
                std::filesystem::remove(path, ignored);
            }
        }
    } cleanup{{still, menu, slide}};

    PicBitmap frame;
    frame.Create(kFrameWidth, FrameHeight(norm), 32, false); // black
    if (!EncodeStill(frame, norm, still, error))
        return false;
    auto packetsOf = [error](const std::string& path, std::uint32_t& packets) {
        std::unique_ptr<MpegSource> source = CreateMpegSource(path);
        if (!source || ScanMpegSource(*source) != 0 || source->PacketCount() == 0) {
            if (error)
                *error = path + ": the measuring segment could not be read";
            return false;
        }
        packets = source->PacketCount();
        return true;
    };
    std::uint32_t slidePackets = 0;
    if (MultiplexStill(slide, still, companionPath, error) != 0 || !packetsOf(slide, slidePackets))
        return false;
    units.slide = UnitsOf(slidePackets);
    units.menuPage = units.slide;
    if (!musicPath.empty()) {
        std::uint32_t menuPackets = 0;
        if (MultiplexMain({"mplex", menu, still, companionPath, musicPath}, error) != 0 ||
            !packetsOf(menu, menuPackets))
            return false;
        units.menuPage = UnitsOf(menuPackets);
    }
    units.measured = true;
    return true;
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The size of the disc a production plan makes, known before any frame is encoded.
//
// Every slide and every menu page without music is one still segment of a fixed size —
// the still is padded to the encoder's target, the companion still is a fixed file — so
// it takes one segment unit (150 sectors). A menu page with music lasts as long as the
// music at the single-speed rate and takes as many units as that needs. With those unit
// counts the disc layout is built exactly as the run builds it, with sized stand-ins for
// the segment files, and computed: the figures are the layout's own.

#include "production/ProductionPlan.h"

#include <cstdint>
#include <string>

namespace lumivox {

// Segment units of each kind of segment.
struct SegmentUnits {
    std::uint32_t slide = 1;
    std::uint32_t menuPage = 1;
    bool measured = false; // from segments actually multiplexed (exact), not an estimate
};

struct DiscEstimate {
    std::uint32_t segmentUnits = 0;
    std::uint32_t entries = 0;
    std::uint32_t lists = 0;
    // Sectors of the whole image; when a control-file limit is exceeded the layout cannot
    // be placed and this is a lower bound (sectorsExact false).
    std::uint32_t sectors = 0;
    bool sectorsExact = false;
    double minutes = 0.0; // sectors at 75 a second
    bool unitsMeasured = false; // the menu segment size was measured, not estimated
    // Empty when the disc can be made; otherwise the first limit it exceeds, as the
    // layout words it ("The disc needs 2,083 segment units; a Video CD holds at most
    // 1,980 (INFO.VCD).").
    std::string limitExceeded;

    // The MPEG track: the slideshow (its packets, at most) or the fixed card. When the
    // setting is automatic and the slideshow does not fit, trackWarning says how much
    // room is missing and the figures are those of the disc with the fixed card.
    bool slideshowTrack = false;
    std::uint32_t trackPackets = 0;
    std::string trackWarning;

    bool Fits() const { return limitExceeded.empty(); }
};

// The units of a menu page with music of this many seconds, estimated (the single-speed
// rate over the music's length plus the stills' run-in). One unit without music.
std::uint32_t EstimateMenuPageUnits(double musicSeconds);
// The playing time of a menu music file (MP3, WAVE, AIFF or headerless PCM), from its
// header and frames; negative when it cannot be read.
double MusicPlayingSeconds(const std::string& path);

// The disc of plan, with the slideshow track as plan.slideshowTrack decides or the norm's MPEG track from programFolder (with a trailing "/").
// units: the segment sizes; by default slides and pages take one unit, and a plan with
// music gets its pages' units estimated from the music file's length.
DiscEstimate EstimateDisc(const ProductionPlan& plan, const std::string& programFolder);
DiscEstimate EstimateDisc(const ProductionPlan& plan, const std::string& programFolder, const SegmentUnits& units);

// The units of a menu page and a slide, measured: a black still is encoded and
// multiplexed with the norm's companion still (and the Layer II music, when musicPath is
// not empty) in folder (trailing "/"); the files are removed afterwards. False with error
// when the still cannot be encoded or multiplexed.
bool MeasureSegmentUnits(const std::string& folder, const std::string& companionPath, const std::string& musicPath,
                         TvNorm norm, SegmentUnits& units, std::string* error);

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a player with playback control off shows: the disc's one MPEG track. It is either
// the slideshow track (album after album, the album's title card and then its pictures,
// each for its wait time) or, when the disc has no room for it or the user chose so, the
// fixed two-second card. The preview plays it with the slide show's worker, and a
// player's Next and Previous keys jump from album to album (the track's entry points).

#include "logic/SlideShow.h"
#include "picture/MenuTemplate.h"
#include "production/ProductionPlan.h"

#include <QImage>
#include <QSize>

#include <vector>

namespace lumivox::ui {

// How long the fixed card plays.
inline constexpr int kFixedCardSeconds = 2;

struct TrackPreview {
    std::vector<ShowItem> items; // positions count from 0 over the whole track
    std::vector<int> chapterStarts; // the position of each album's title card
};

// The slideshow track of plan (albums, waits and norm filled in; the menu template is
// read from menu when the first title card is drawn, on the worker). Albums without
// pictures are left out, as on the disc. screen is the picture size of the items.
TrackPreview MakeSlideshowTrackPreview(const ProductionPlan& plan, const DiscMenuState& menu, QSize screen);
// The fixed card, as the disc plays it for kFixedCardSeconds.
TrackPreview MakeFixedCardPreview(QSize screen);
// The fixed card's picture: the Lumivox wordmark on dark slate.
QImage DrawFixedCard(QSize screen);

// The items of track from its chapter's title card on (chapter from 0; clamped).
std::vector<ShowItem> TrackFromChapter(const TrackPreview& track, int chapter);
// The chapter holding the item at position (-1 before the first chapter).
int ChapterAt(const TrackPreview& track, int position);

} // namespace lumivox::ui

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The production plan: an immutable snapshot of everything a production run reads, taken
// on the thread that owns the project (the user-interface thread, or the command line's
// only thread) before the run starts. The run never looks at the live project again, so
// the user may go on editing albums while the disc is being made, and what goes on the
// disc is exactly what the project held when the run was started.

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/PicBitmap.h"

#include <memory>
#include <string>
#include <vector>

namespace lumivox {

class AlbumTable;
class DiscMenuState;

// The setting "Slideshow track": whether the disc's MPEG track shows the whole project.
enum class SlideshowTrackMode {
    Auto, // made when the whole disc fits, else the fixed card and a warning
    Always, // made, or the run is refused when the disc does not fit
    Never, // the fixed card
};
const char* SlideshowTrackModeName(SlideshowTrackMode mode); // "auto", "always", "never"
bool ParseSlideshowTrackMode(const std::string& text, SlideshowTrackMode& mode);

struct PlannedPicture {
    std::string path;
    int rotation = 0; // degrees clockwise: 0, 90, 180 or 270
};

struct PlannedAlbum {
    std::string name;
    int waitTime = 0;
    std::vector<PlannedPicture> pictures;
    // The slide thumbnail of the album's first picture as the project held it; shared
    // and never changed, so several runs and previews may hold the same one. Null when
    // the album has no pictures or its cover has no thumbnail.
    std::shared_ptr<const PicBitmap> coverThumbnail;
    // The cover's reduced-mode picture, which the menu fits into its image box; shared in
    // the same way. Null when the project holds none (loaded by headers only, or no
    // pictures); when the thumbnail is null too, the run takes the cover from the decode
    // of the cover's slide.
    std::shared_ptr<const PicBitmap> coverPicture;
};

struct ProductionPlan {
    std::vector<PlannedAlbum> albums;
    // Pictures of the project whose files were missing, left off the disc (the run names
    // them in a warning).
    std::vector<std::string> missingPictures;

    // The disc menu: the current template as read when the plan was taken, its entries
    // per page (0 = the template's "Items_count"; anything else must agree with it), the
    // background override and the menu music (empty = none).
    MenuTemplate menuTemplate;
    int itemsPerPage = 0;
    std::string backgroundOverride;
    std::string musicPath;

    TvNorm norm = TvNorm::Ntsc;
    // How slides are fitted into their frame (the setting "SquarePixelSlides").
    SlideGeometry slideGeometry = SlideGeometry::TvAspect;
    std::string cdLabel; // at most 259 bytes; the disc takes 32 and 16 of them
    SlideshowTrackMode slideshowTrack = SlideshowTrackMode::Auto;

    int AlbumCount() const { return static_cast<int>(albums.size()); }
    int SlideCount() const;
    // The entries per page the run uses (itemsPerPage, or the template's).
    int EntriesPerPage() const { return itemsPerPage == 0 ? menuTemplate.itemsCount : itemsPerPage; }
    int MenuPages() const;
    // The albums as the menu draws them; valid while the plan lives.
    std::vector<MenuAlbum> MenuAlbums() const;
    // Pictures per album, in album order (what the disc layout is built from).
    std::vector<int> PictureCounts() const;
};

// The snapshot of the first albumCount albums of project (-1 = all; more than the project
// has is clamped). Call on the thread that owns the project. Only the albums are taken:
// the menu, norm and label are filled in by the caller (SetMenuFromState, or
// PrepareProduction).
ProductionPlan MakeProductionPlan(const AlbumTable& project, int albumCount = -1);

// Fills the menu fields of plan from the disc-menu state (the current template read
// afresh, its entries per page, the background override and the music). False with error
// when the template cannot be read.
bool SetMenuFromState(const DiscMenuState& state, ProductionPlan& plan, std::string* error = nullptr);

// The number of menu pages of a run: albums / items per page, plus one for a remainder.
int ProductionMenuPages(int albumCount, int itemsPerPage);

} // namespace lumivox

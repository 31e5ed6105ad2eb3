// SPDX-License-Identifier: GPL-2.0-or-later
#include "production/ProductionPlan.h"

#include "project/AlbumTable.h"

#include <algorithm>

namespace lumivox {

int ProductionMenuPages(int albumCount, int itemsPerPage)
{
    if (albumCount <= 0 || itemsPerPage < 1)
        return 0;
    return albumCount / itemsPerPage + (albumCount % itemsPerPage ? 1 : 0);
}

int ProductionPlan::SlideCount() const
{
    int count = 0;
    for (const PlannedAlbum& album : albums)
        count += static_cast<int>(album.pictures.size());
    return count;
}

int ProductionPlan::MenuPages() const
{
    return ProductionMenuPages(AlbumCount(), EntriesPerPage());
}

std::vector<MenuAlbum> ProductionPlan::MenuAlbums() const
{
    std::vector<MenuAlbum> menu;
    menu.reserve(albums.size());
    for (const PlannedAlbum& album : albums)
        menu.push_back({album.name, !album.pictures.empty(), album.coverThumbnail.get(), album.coverPicture.get()});
    return menu;
}

std::vector<int> ProductionPlan::PictureCounts() const
{
    std::vector<int> counts;
    counts.reserve(albums.size());
    for (const PlannedAlbum& album : albums)
        counts.push_back(static_cast<int>(album.pictures.size()));
    return counts;
}

ProductionPlan MakeProductionPlan(const AlbumTable& project, int albumCount)
{
    ProductionPlan plan;
    const int count = albumCount < 0 ? project.AlbumCount() : std::min(albumCount, project.AlbumCount());
    plan.albums.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int a = 0; a < count; ++a) {
        const AlbumInfo& album = project.Album(a);
        PlannedAlbum& planned = plan.albums.emplace_back();
        planned.name = album.name;
        planned.waitTime = album.waitTime;
        planned.pictures.reserve(album.pictures.size());
        for (const auto& picture : album.pictures) {
            // A picture whose file is missing stays in the project but cannot go on a disc.
            if (picture->missing) {
                plan.missingPictures.push_back(picture->path);
                continue;
            }
            planned.pictures.push_back({picture->path, picture->rotated ? picture->rotation : 0});
        }
        if (const PictureItem* cover = album.Cover()) {
            planned.coverThumbnail = cover->slideThumbnail;
            planned.coverPicture = cover->picture;
        }
    }
    return plan;
}

bool SetMenuFromState(const DiscMenuState& state, ProductionPlan& plan, std::string* error)
{
    MenuTemplate menuTemplate;
    if (!state.LoadCurrentTemplate(menuTemplate, error))
        return false;
    plan.menuTemplate = std::move(menuTemplate);
    plan.itemsPerPage = state.EntriesPerPage();
    plan.backgroundOverride = state.BackgroundOverride();
    plan.musicPath = state.BackgroundMusic();
    return true;
}

} // namespace lumivox

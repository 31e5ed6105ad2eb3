// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/MenuPaging.h"

#include <algorithm>

namespace lumivox::ui {

bool CanShowPreviousMenu(int firstAlbumIndex)
{
    return firstAlbumIndex > 0;
}

bool CanShowNextMenu(int firstAlbumIndex, int entriesPerPage, int albumCount)
{
    return entriesPerPage > 0 && static_cast<long long>(firstAlbumIndex) + entriesPerPage < albumCount;
}

int PreviousMenuFirstAlbum(int firstAlbumIndex, int entriesPerPage)
{
    if (entriesPerPage < 1 || firstAlbumIndex < entriesPerPage)
        return firstAlbumIndex;
    return firstAlbumIndex - entriesPerPage;
}

int NextMenuFirstAlbum(int firstAlbumIndex, int entriesPerPage, int albumCount)
{
    return CanShowNextMenu(firstAlbumIndex, entriesPerPage, albumCount) ? firstAlbumIndex + entriesPerPage
                                                                        : firstAlbumIndex;
}

int ValidFirstAlbum(int firstAlbumIndex, int entriesPerPage, int albumCount)
{
    if (entriesPerPage < 1 || albumCount < 1 || firstAlbumIndex < 0)
        return 0;
    const int lastPageStart = (albumCount - 1) / entriesPerPage * entriesPerPage;
    // Keep the index on a page boundary as paging does.
    return std::min(firstAlbumIndex / entriesPerPage * entriesPerPage, lastPageStart);
}

RemoteKeyStates RemoteKeys(int firstAlbumIndex, int entriesPerPage, int albumCount, bool slideShowRunning)
{
    RemoteKeyStates keys;
    keys.stop = true;
    if (slideShowRunning)
        return keys;
    keys.start = true;
    keys.previous = CanShowPreviousMenu(firstAlbumIndex);
    keys.next = CanShowNextMenu(firstAlbumIndex, entriesPerPage, albumCount);
    for (int k = 1; k <= kRemoteNumberKeys; ++k)
        keys.number[static_cast<std::size_t>(k - 1)] = k <= entriesPerPage;
    return keys;
}

RemoteKeyStates TrackRemoteKeys(int chapter, int chapters, bool playing)
{
    RemoteKeyStates keys;
    keys.stop = true;
    keys.start = !playing;
    keys.previous = playing && chapter > 0;
    keys.next = playing && chapter + 1 < chapters;
    return keys;
}

} // namespace lumivox::ui

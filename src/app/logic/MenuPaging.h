// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The rules shared by the disc menu page and the preview's remote control: which menu
// page can be stepped to, and which keys of the remote answer.

#include <array>

namespace lumivox::ui {

// Number keys on the remote control.
inline constexpr int kRemoteNumberKeys = 9;

// The previous page exists when the page is not the first one.
bool CanShowPreviousMenu(int firstAlbumIndex);
// The next page exists when albums follow the entries of this page.
bool CanShowNextMenu(int firstAlbumIndex, int entriesPerPage, int albumCount);

// The first album of the page before / after the page starting at firstAlbumIndex, or
// firstAlbumIndex itself when there is none.
int PreviousMenuFirstAlbum(int firstAlbumIndex, int entriesPerPage);
int NextMenuFirstAlbum(int firstAlbumIndex, int entriesPerPage, int albumCount);

// A first album index that names a page of the project: albums removed since it was set
// would otherwise leave an empty page on screen (a page the disc never has). The index
// goes to the start of the last page, or 0.
int ValidFirstAlbum(int firstAlbumIndex, int entriesPerPage, int albumCount);

// The remote control's keys that answer.
struct RemoteKeyStates {
    std::array<bool, kRemoteNumberKeys> number{}; // keys 1 .. 9
    bool start = false;
    bool stop = false;
    bool previous = false;
    bool next = false;
    bool operator==(const RemoteKeyStates&) const = default;
};

// Outside a slide show: start, stop, the menu keys by the paging rules, number key k when
// the page has an entry k. While a slide show runs only stop answers.
RemoteKeyStates RemoteKeys(int firstAlbumIndex, int entriesPerPage, int albumCount, bool slideShowRunning);

// With playback control off the player plays the disc's MPEG track: start while it is
// not playing, stop always, and while it plays previous / next when there is an album
// (chapter, from 0) before / after the one playing. The number keys have no track to
// choose (the disc has one).
RemoteKeyStates TrackRemoteKeys(int chapter, int chapters, bool playing);

} // namespace lumivox::ui

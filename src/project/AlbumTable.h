// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The album project: an ordered list of albums, each with a name, a wait time and an
// ordered list of pictures, and the project file (".lvx", INI text) that stores it.
//
// The running program has one project, AlbumTable::Instance(), which the album editor
// changes on the user-interface thread. Nothing else reads it from another thread: a
// production run works from a snapshot taken on that thread (ProductionPlan), and
// loading a project file decodes its pictures on workers into a DecodedProject that is
// applied on the owning thread. Separate AlbumTable objects may be made for the command
// line and the tests. The album slots are a fixed array: emptying the project empties
// them in place.
//
// Everything the user interface must show (message boxes, list refreshes, the status
// line) goes through a ProjectObserver; the project itself knows nothing of windows.

#include "base/CoreText.h"
#include "picture/PicBitmap.h"

#include <atomic>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumivox {

class PicReader;

constexpr int MAX_ALBUMS = 99; // albums per project
constexpr int ALBUM_SLOTS = 100; // album slots; the hundredth is never filled
constexpr int MAX_PICTURES_PER_ALBUM = 99; // pictures per album

// Wait time of an album whose project-file section has no "interval" key.
constexpr int kIntervalWhenMissing = 4;
// The album properties dialog accepts wait times from 2 to 120 seconds.
constexpr int kMinAlbumWaitTime = 2;
constexpr int kMaxAlbumWaitTime = 120;
// Wait times read from a project file are held within the range the Options dialog
// allows for the default wait time: a negative or zero wait is meaningless and an
// enormous one freezes the preview.
constexpr int kMinStoredWaitTime = 2;
constexpr int kMaxStoredWaitTime = 1200;

// Thumbnail boxes: the slide list, album covers and menu entries use the slide box;
// the editor's file list the small box.
constexpr int kSlideThumbnailWidth = 104;
constexpr int kSlideThumbnailHeight = 78;
constexpr int kSmallThumbnailSize = 64;

// User-visible texts of the project operations.
inline constexpr const char* kMsgAlbumLimit =
    QT_TRANSLATE_NOOP("lumivox::core", "The max. album number has been reached. Cannot add more albums.");
inline constexpr const char* kMsgSelectAlbumToRemove =
    QT_TRANSLATE_NOOP("lumivox::core", "Please select an album to be removed.");
inline constexpr const char* kMsgNoAlbumToRemove =
    QT_TRANSLATE_NOOP("lumivox::core", "There is no album to be removed.");
inline constexpr const char* kMsgSelectAlbum = QT_TRANSLATE_NOOP("lumivox::core", "Please select an album.");
inline constexpr const char* kMsgSelectItem = QT_TRANSLATE_NOOP("lumivox::core", "Please select an item first!");
inline constexpr const char* kMsgSelectPicture = QT_TRANSLATE_NOOP("lumivox::core", "Please select a picture.");
inline constexpr const char* kMsgInvalidProject =
    QT_TRANSLATE_NOOP("lumivox::core", "This is not a valid lumivox project file.");
// Reason recorded for a picture that loading left out because its album was full.
inline constexpr const char* kMsgPictureMissing =
    QT_TRANSLATE_NOOP("lumivox::core", "The file is missing; the picture stays in its album, marked, until it is "
                                       "found, and is left off a disc made meanwhile.");
inline constexpr const char* kMsgPictureLimit =
    QT_TRANSLATE_NOOP("lumivox::core", "The album already holds 99 pictures.");

// Names of albums created implicitly when a picture is added to an empty project: the
// same however the picture came, and the name a new album is offered ("Album %d").
inline constexpr const char* kFirstAlbumFromFileList = "Album 1";
inline constexpr const char* kFirstAlbumFromPath = kFirstAlbumFromFileList;

// Where a thumbnail sits inside its box.
struct ThumbnailPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ThumbnailPlacement&) const = default;
};

// The size and offsets of a picture of width x height fitted into a boxWidth x
// boxHeight box with its aspect ratio kept. Sizes are computed in floating point and
// truncated, offsets are integer halves. A side that would truncate to 0 (a picture
// far wider than high) is given 1 pixel, so that a thumbnail can always be made.
ThumbnailPlacement FitThumbnail(int width, int height, int boxWidth, int boxHeight);

// Replaces thumbnail with picture (32 bits per pixel) resized to fit the box and
// stores where it sits. Throws PLTextException when the bitmap cannot be made.
void MakeThumbnail(const PicBitmap& picture, int boxWidth, int boxHeight, std::unique_ptr<PicBitmap>& thumbnail,
                   ThumbnailPlacement& placement);
void MakeThumbnail(const PicBitmap& picture, int boxWidth, int boxHeight, std::shared_ptr<const PicBitmap>& thumbnail,
                   ThumbnailPlacement& placement);

enum class Rotation { Clockwise, CounterClockwise };

// The rotation (0, 90, 180, 270 degrees clockwise) after one turn in direction.
int NextRotation(int rotation, Rotation direction);
// True for the rotations a picture can have other than 0 (90, 180, 270).
bool IsQuarterTurn(int rotation);

// One picture: of an album, or a row of the editor's file list.
class PictureItem {
public:
    // Full path, never cut: a cut path would name another file (or none) and the picture
    // would drop out of its album. Linux paths, more so with non-Latin names, often
    // exceed the 259 bytes of the stored formats' name fields.
    std::string path;
    std::string displayName; // file-list name; copied when added from the file list
    // The decoded bitmaps are never changed once made, only replaced (a rotation makes
    // new ones), so a production plan or a preview may share them with the project.
    std::shared_ptr<const PicBitmap> picture; // reduced-mode decode, turned by rotation
    std::unique_ptr<PicBitmap> smallThumbnail; // fits 64 x 64 (file list); may be absent
    std::shared_ptr<const PicBitmap> slideThumbnail; // fits 104 x 78
    bool rotated = false;
    int rotation = 0; // degrees clockwise: 0, 90, 180 or 270
    ThumbnailPlacement smallPlacement;
    ThumbnailPlacement slidePlacement;
    int listPosition = -1; // row in the editor's slide list
    // The file was not there when the project was opened (a moved folder, a USB stick not
    // plugged in): the picture stays in its album and in the saved project, shown as
    // missing, and is left off a disc made meanwhile.
    bool missing = false;
};

// One album. The pictures are owned here, in play order.
struct AlbumInfo {
    std::string name; // at most 259 bytes
    int waitTime = kIntervalWhenMissing;
    std::vector<std::unique_ptr<PictureItem>> pictures;

    // The album's cover: its first picture that is not missing, or none.
    PictureItem* Cover() const
    {
        for (const auto& picture : pictures)
            if (!picture->missing)
                return picture.get();
        return nullptr;
    }
    int PictureCount() const { return static_cast<int>(pictures.size()); }
    int MissingCount() const
    {
        int count = 0;
        for (const auto& picture : pictures)
            count += picture->missing ? 1 : 0;
        return count;
    }
};

// What the user interface does in answer to a change. Every call comes on the thread
// that changed the project (the user-interface thread). Default bodies do nothing.
//
// Structural changes are announced before and after, so that an item model can wrap
// them in its begin/end calls: OnAboutTo... comes while the project still shows the old
// state, the matching plain call once the change is made. Album rows are album indices;
// picture rows are positions within an album.
class ProjectObserver {
public:
    virtual ~ProjectObserver() = default;
    // Album rows first..last are about to be inserted / removed; the change follows
    // with OnAlbumsInserted / OnAlbumsRemoved.
    virtual void OnAboutToInsertAlbums(int first, int last)
    {
        (void)first;
        (void)last;
    }
    virtual void OnAlbumsInserted(int first, int last)
    {
        (void)first;
        (void)last;
    }
    virtual void OnAboutToRemoveAlbums(int first, int last)
    {
        (void)first;
        (void)last;
    }
    virtual void OnAlbumsRemoved(int first, int last)
    {
        (void)first;
        (void)last;
    }
    // Pictures first..last of album are about to be inserted / removed / moved so that
    // they come before position `destination` of the old order (Qt's convention).
    virtual void OnAboutToInsertPictures(int album, int first, int last)
    {
        (void)album;
        (void)first;
        (void)last;
    }
    virtual void OnPicturesInserted(int album, int first, int last)
    {
        (void)album;
        (void)first;
        (void)last;
    }
    virtual void OnAboutToRemovePictures(int album, int first, int last)
    {
        (void)album;
        (void)first;
        (void)last;
    }
    virtual void OnPicturesRemovedRange(int album, int first, int last)
    {
        (void)album;
        (void)first;
        (void)last;
    }
    virtual void OnAboutToMovePictures(int album, int first, int last, int destination)
    {
        (void)album;
        (void)first;
        (void)last;
        (void)destination;
    }
    virtual void OnPicturesMoved(int album, int first, int last, int destination)
    {
        (void)album;
        (void)first;
        (void)last;
        (void)destination;
    }
    // The whole project is about to be replaced (reset, load): models reset themselves.
    virtual void OnAboutToReset() { }
    virtual void OnResetDone() { }
    // Album row data changed (name, wait time, cover).
    virtual void OnAlbumChanged(int album) { (void)album; }
    // Anything the project file stores changed (the program keeps its "modified" flag
    // from this; saving and loading clear it themselves).
    virtual void OnModified() { }
    // A message box with an information icon.
    virtual void OnMessage(const std::string& text) { (void)text; }
    // Albums were added, removed, renamed or reordered: redraw the album list.
    virtual void OnAlbumListChanged() { }
    // Another album became the current one: show its pictures in the slide list.
    virtual void OnCurrentAlbumChanged(int album) { (void)album; }
    // A picture was appended at position of album: when album is the current one, the
    // slide list inserts a row labelled SlideLabel(position).
    virtual void OnPictureAdded(int album, int position)
    {
        (void)album;
        (void)position;
    }
    // Pictures of album were removed: rebuild its slide rows (renumbered).
    virtual void OnPicturesRemoved(int album) { (void)album; }
    // The picture at position of album was rebuilt (rotation): redraw its row.
    virtual void OnPictureChanged(int album, int position)
    {
        (void)album;
        (void)position;
    }
    // The project changed: refresh the status line with StatusText().
    virtual void OnStatusChanged(const std::string& statusLine) { (void)statusLine; }
    // A project file is being loaded: stop redrawing the lists and show a wait cursor
    // until OnLoadFinished.
    virtual void OnLoadStarted() { }
    virtual void OnLoadFinished() { }
};

// Decodes the file at path into target (32 bits per pixel), throwing PLTextException
// when it cannot. The project decodes in reduced mode by default.
using PictureDecoder = std::function<void(const std::string& path, PicBitmap& target)>;

// The disc design a project file keeps beside its albums: the menu template (as the
// disc-menu state names it), the menu's background picture and its music; empty values
// mean the template's own background and no music. Older readers ignore these keys.
struct ProjectDesign {
    bool present = false; // the file holds the keys (a file of older writers does not)
    std::string menuTemplate;
    std::string background;
    std::string music;
    bool operator==(const ProjectDesign&) const = default;
};

// A picture that loading a project left out.
struct SkippedPicture {
    int album = 0; // number of the loaded album, counting from 1
    std::string albumName;
    std::string path;
    std::string reason; // the decoder's text, or kMsgPictureLimit
};

enum class ProjectLoadStatus {
    Loaded, // the file is a Lumivox project; what was valid in it is loaded
    NotProject, // "Description" is not "Lumivox Project"
    Unreadable, // the file is missing or could not be read
};

struct ProjectLoadResult {
    ProjectLoadStatus status = ProjectLoadStatus::Loaded;
    std::string error; // why the file was not read (names the file), empty when Loaded
    std::vector<SkippedPicture> skipped;
    // Pictures whose files were not there: kept in their albums, marked missing.
    std::vector<SkippedPicture> missing;
    int albumsBeyondLimit = 0; // albums of the file past the 99th, not loaded
    ProjectDesign design; // the disc design the file stores
    bool Loaded() const { return status == ProjectLoadStatus::Loaded; }
};

// How a loaded project's pictures are read.
enum class PictureLoading {
    // Every picture is decoded in reduced mode and gets its thumbnails (the desktop
    // program, which shows them).
    Eager,
    // Only each album's cover is decoded (menu thumbnails); the other pictures are
    // checked by their header and decoded once, when their slide is made (the command
    // line). A picture whose data turns out to be broken then goes on the disc as the run
    // handles any picture that no longer decodes.
    Lazy,
    // Nothing is decoded, covers included: every picture is checked by its header (the
    // command line's make, whose run decodes each picture once for its slide and takes
    // the album's menu cover from that same decode).
    HeadersOnly,
};

// The decode step of loading a project: the file read and every picture it names
// decoded, without touching any AlbumTable, so that it can run on a worker thread.
// AlbumTable::ApplyDecodedProject adds it on the owning thread.
struct DecodedPicture {
    std::string path;
    int rotation = 0;
    std::unique_ptr<PicBitmap> picture; // reduced-mode decode, turned; null when lazy or failed
    std::unique_ptr<PicBitmap> slideThumbnail;
    ThumbnailPlacement slidePlacement;
    std::string error; // why it cannot be used; empty when it can
    bool missing = false; // the file is not there (error says so): kept, marked missing
};
struct DecodedAlbum {
    std::string name;
    int waitTime = kIntervalWhenMissing;
    std::vector<DecodedPicture> pictures; // at most 99 usable ones, in file order
    std::vector<SkippedPicture> skipped; // left out while decoding (album number unset)
};
struct DecodedProject {
    ProjectLoadStatus status = ProjectLoadStatus::Loaded;
    std::string error;
    ProjectDesign design;
    std::vector<DecodedAlbum> albums;
    int albumsBeyondLimit = 0;
    bool cancelled = false; // the decode was cancelled: apply nothing
};
struct ProjectDecodeOptions {
    PictureLoading loading = PictureLoading::Eager;
    // Albums the target project can still take; sections past them are counted only.
    int freeAlbumSlots = MAX_ALBUMS;
    // Replaces the reduced-mode picture reader; called on one thread only.
    PictureDecoder decoder;
    // Set by another thread to stop decoding early (DecodedProject::cancelled).
    const std::atomic<bool>* cancel = nullptr;
    // Called after each picture with pictures done and pictures to do; may come from any
    // decoding thread, never two at once.
    std::function<void(int done, int total)> progress;
};
// What a project file (or a set of folders) lists, before any picture is decoded.
struct ListedPicture {
    std::string path;
    int rotation = 0;
};
struct ListedAlbum {
    std::string name;
    int waitTime = kIntervalWhenMissing;
    std::vector<ListedPicture> pictures; // every listed one, also past the 99th
};
struct ProjectListing {
    std::vector<ListedAlbum> albums; // at most the free album slots
    int albumsBeyondLimit = 0;
};
// Decodes the pictures of a listing as DecodeProjectFile does (same rounds, same limits).
DecodedProject DecodeProjectListing(ProjectListing listing, const ProjectDecodeOptions& options = {});

// Reads and decodes the project file at path. Never throws for bad input: a missing or
// foreign file gives its status, a picture that cannot be used is listed as skipped.
// Never decodes more than 99 usable pictures per album (a picture past the 99th is
// decoded only to replace one that failed).
DecodedProject DecodeProjectFile(const std::string& path, const ProjectDecodeOptions& options = {});

// The albums and pictures of a project at one moment, for undoing changes: the records
// share the decoded bitmaps (which are never changed in place), so a snapshot is cheap.
struct ProjectSnapshot {
    struct Picture {
        std::string path;
        std::string displayName;
        std::shared_ptr<const PicBitmap> picture;
        std::shared_ptr<const PicBitmap> slideThumbnail;
        ThumbnailPlacement slidePlacement;
        int rotation = 0;
        bool missing = false;
        bool operator==(const Picture&) const = default;
    };
    struct Album {
        std::string name;
        int waitTime = kIntervalWhenMissing;
        std::vector<Picture> pictures;
        bool operator==(const Album&) const = default;
    };
    std::vector<Album> albums;
    int currentAlbum = -1;
    // The same albums and pictures (the current album does not count as a change).
    bool SameContent(const ProjectSnapshot& other) const { return albums == other.albums; }
};

// Where a picture comes from when it is added to a project without albums.
enum class PictureSource { FileList, Path };

class AlbumTable {
public:
    AlbumTable();
    ~AlbumTable();
    AlbumTable(const AlbumTable&) = delete;
    AlbumTable& operator=(const AlbumTable&) = delete;

    // The project of the running program.
    static AlbumTable& Instance();

    // The observer is not owned; nullptr turns notification off.
    void SetObserver(ProjectObserver* observer) { observer_ = observer; }
    // Replaces the picture decoder (tests, fuzzing); an empty function restores the
    // reduced-mode picture reader.
    void SetPictureDecoder(PictureDecoder decoder);

    // The default wait time of new albums (the setting "WaitTime").
    int DefaultWaitTime() const { return defaultWaitTime_; }
    void SetDefaultWaitTime(int seconds) { defaultWaitTime_ = seconds; }
    // Gives every album slot the default wait time (when the editor page is created).
    void InitialiseWaitTimes(int defaultWaitTime);
    // The default wait time changed from oldDefault to newDefault: every slot whose
    // wait time still equals oldDefault takes newDefault; others keep theirs.
    void ApplyDefaultWaitTimeChange(int oldDefault, int newDefault);

    int AlbumCount() const { return albumCount_; }
    int CurrentAlbum() const { return currentAlbum_; }
    // Makes album (below the album count, or -1) the current album.
    void SetCurrentAlbum(int album);
    // Album index must be below ALBUM_SLOTS; only those below AlbumCount() are in use.
    const AlbumInfo& Album(int album) const { return albums_.at(static_cast<std::size_t>(album)); }
    int PictureCount(int album) const { return Album(album).PictureCount(); }
    const PictureItem& Picture(int album, int position) const;
    int TotalPictures() const;
    // "Total Album : %02d  Total Photos: %d"
    std::string StatusText() const;
    // The slide-list label of a picture: its position counting from 01.
    static std::string SlideLabel(int position);

    // Frees every picture and empties every album; album count and current album 0.
    void ResetProject();
    // Appends an album with name (cut to 259 bytes) and the default wait time and makes
    // it current. Returns its index, or -1 with kMsgAlbumLimit when 99 albums exist.
    int AddAlbum(std::string_view name);
    // When the project has no album, creates the first one ("Album 1"). Returns the album pictures go to: the current one.
    int EnsureAlbumForPicture(PictureSource source);
    // Removes the selected album (-1 when no row is selected) and makes the last album
    // current. False with a message when nothing could be removed.
    bool RemoveAlbum(int selectedAlbum);
    // Renames the selected album (name cut to 259 bytes).
    bool RenameAlbum(int selectedAlbum, std::string_view name);
    // Sets the wait time of the selected album; refuses values outside 2..120.
    bool SetAlbumWaitTime(int selectedAlbum, int seconds);
    // "Total Photos: %d", shown by the album properties dialog.
    std::string AlbumPropertiesText(int album) const;

    // Adds the picture at path to album (an index below the album count). From the
    // file list, pass its record: its decoded picture and small thumbnail are copied
    // instead of decoding again. Fails (project unchanged) when the album is full or
    // the file cannot be decoded; the reason goes to *error when given. No message.
    bool AddPictureToAlbum(int album, const std::string& path, std::string_view displayName = {},
                           const PictureItem* fileListItem = nullptr, std::string* error = nullptr);
    // Removes the pictures at positions of album. False with kMsgSelectItem when
    // positions is empty.
    bool RemovePictures(int album, std::vector<int> positions);
    void RemoveAllPictures(int album);
    // Moves the pictures at positions of album (kept in their order) so that they come
    // before the picture now at target, or after the last one when target is at or past
    // the end; a target that is itself among the moved pictures puts them where the first
    // unmoved picture after it is. Announced as single-row moves. False with
    // kMsgSelectItem when positions is empty; false without a message when nothing moves.
    bool MovePictures(int album, std::vector<int> positions, int target);
    // Adds a picture decoded elsewhere (DecodeProjectListing on a worker), turned by its
    // rotation, to album as AddPictureToAlbum would. False with the reason in *error when
    // the album is full or the picture could not be decoded.
    bool AddDecodedPictureToAlbum(int album, DecodedPicture&& decoded, std::string_view displayName = {},
                                  std::string* error = nullptr);
    // Turns one picture and rebuilds its picture and slide thumbnail from its file. When
    // the file can no longer be decoded, the picture keeps its rotation and bitmaps and
    // false is returned.
    bool RotatePicture(PictureItem& picture, Rotation direction);
    // Turns the selected pictures of album; kMsgSelectPicture when none is selected.
    bool RotatePictures(int album, const std::vector<int>& positions, Rotation direction);

    // The albums and pictures as they are now, and the way back to them: restoring
    // replaces the whole project (models reset) and counts as a change.
    ProjectSnapshot TakeSnapshot() const;
    void RestoreSnapshot(const ProjectSnapshot& snapshot);

    // Writes the project into path (keys the save does not write stay in the file), with
    // the disc design when given. False with *error naming the file and the reason when
    // it cannot be written; the old file is then untouched. With replace, nothing of an
    // old file is kept: the new project takes its place whole once written.
    bool SaveProject(const std::string& path, std::string* error = nullptr, const ProjectDesign* design = nullptr,
                     bool replace = false) const;
    // Appends the albums of the project file at path (call ResetProject first); the
    // design it stores is in the returned result. Shows
    // kMsgInvalidProject when the file is not a project; pictures that cannot be
    // decoded are left out without a message and listed in the result. The same as
    // DecodeProjectFile followed by ApplyDecodedProject on the calling thread.
    ProjectLoadResult LoadProject(const std::string& path, PictureLoading loading = PictureLoading::Eager);
    // The apply step of loading: appends the decoded albums and pictures in file order
    // (a cancelled decode appends nothing). Call on the thread that owns the project.
    ProjectLoadResult ApplyDecodedProject(DecodedProject&& decoded);

    // Pictures of all albums whose files were missing when the project was opened.
    int MissingPictureCount() const;
    // Looks for every missing picture by its file name in folder (a moved picture folder,
    // a stick mounted elsewhere) and takes each one found there, decoded and turned as
    // before, in place of the missing one. Returns how many were found; the others stay
    // missing.
    int FindMissingPictures(const std::string& folder);

    // A picture's file list record: decoded in reduced mode, with its small and slide
    // thumbnails. Throws PLTextException when the file cannot be decoded.
    std::unique_ptr<PictureItem> MakeFileListItem(const std::string& path, std::string_view displayName);

private:
    AlbumInfo& MutableAlbum(int album) { return albums_.at(static_cast<std::size_t>(album)); }
    int AppendAlbum(std::string_view name, int waitTime);
    std::unique_ptr<PicBitmap> DecodePicture(const std::string& path, int rotation);
    bool AddDecodedPicture(int album, const std::string& path, std::string_view displayName, int rotation,
                           const PictureItem* fileListItem, std::string* error, DecodedPicture* predecoded = nullptr);
    void NotifyModified() const;
    void Message(const std::string& text) const;
    void StatusChanged() const;

    std::array<AlbumInfo, ALBUM_SLOTS> albums_;
    int albumCount_ = 0;
    int currentAlbum_ = -1;
    int defaultWaitTime_ = 4;
    ProjectObserver* observer_ = nullptr;
    // True while a loaded project is being applied: models are reset as a whole then,
    // and loading does not count as a change.
    bool bulk_ = false;
    PictureDecoder decoder_;
    std::unique_ptr<PicReader> reader_;
};

} // namespace lumivox

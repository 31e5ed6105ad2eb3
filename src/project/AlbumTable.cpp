// SPDX-License-Identifier: GPL-2.0-or-later
#include "project/AlbumTable.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

#include "base/IniFile.h"
#include "base/TextUtil.h"
#include "picture/PicReader.h"
#include "picture/PicResizer.h"

#include "base/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>

namespace lumivox {

namespace {

// Keys and values of the project file.
constexpr const char* kGeneralSection = "GENERAL";
constexpr const char* kDescriptionKey = "Description";
constexpr const char* kVersionKey = "Version";
constexpr const char* kAlbumCountKey = "Album_Count";
constexpr const char* kProjectDescription = "Lumivox Project";
constexpr const char* kProjectVersion = "1.0";
constexpr const char* kNameKey = "Name";
constexpr const char* kIntervalKey = "interval";
constexpr const char* kImageCountKey = "Image_Count";
// The disc design, in "GENERAL". Not part of the original file layout: readers that do
// not know them ignore them, as they do the rotation keys.
constexpr const char* kTemplateKey = "Template";
constexpr const char* kBackgroundKey = "Background";
constexpr const char* kMusicKey = "Music";
// "Description" is read into a 1,024-byte buffer.
constexpr std::size_t kMaxDescriptionBytes = 1023;
// Picture keys are looked at up to "Image_999", so that pictures past the album limit
// in a hand-made file are reported rather than silently ignored; an absurd count
// costs no more than this.
constexpr int kMaxPictureKeysRead = 999;
// Album sections are looked at up to "Album_999" for the same reason.
constexpr int kMaxAlbumSectionsRead = 999;

std::string AlbumSection(int number)
{
    return Format("Album_%02d", number);
}

// The number of an album section named exactly as AlbumSection writes it (any case), or
// 0 for another section.
int AlbumSectionNumber(const std::string& lowerName)
{
    constexpr std::string_view kPrefix = "album_";
    if (lowerName.size() <= kPrefix.size() || lowerName.size() > kPrefix.size() + 9 ||
        lowerName.compare(0, kPrefix.size(), kPrefix) != 0)
        return 0;
    int number = 0;
    for (std::size_t i = kPrefix.size(); i < lowerName.size(); ++i) {
        if (lowerName[i] < '0' || lowerName[i] > '9')
            return 0;
        number = number * 10 + (lowerName[i] - '0');
    }
    return ToLowerAscii(AlbumSection(number)) == lowerName ? number : 0;
}

std::string ImageKey(int number)
{
    return Format("Image_%02d", number);
}

// The rotation of picture number of an album section. Not part of the original file
// layout: readers that do not know it ignore it.
std::string RotateKey(int number)
{
    return Format("Rotate_%02d", number);
}

// The file decoded in reduced mode and turned by rotation (0 leaves it as it is).
std::unique_ptr<PicBitmap> DecodeTurned(PicReader& reader, const std::string& path, int rotation)
{
    auto decoded = std::make_unique<PicBitmap>();
    reader.SetMode(DecodeMode::Reduced);
    reader.DecodeFile(path, *decoded, 32);
    if (!IsQuarterTurn(rotation))
        return decoded;
    auto turned = std::make_unique<PicBitmap>();
    RotateBitmap(*decoded, rotation, *turned);
    return turned;
}

std::string ExceptionText(const std::exception& error)
{
    if (const auto* picture = dynamic_cast<const PLTextException*>(&error))
        return picture->GetText();
    return error.what();
}

} // namespace

ThumbnailPlacement FitThumbnail(int width, int height, int boxWidth, int boxHeight)
{
    ThumbnailPlacement placement;
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0)
        return placement;
    const double w = width, h = height;
    if (width > height) {
        placement.width = boxWidth;
        placement.height = static_cast<int>(boxWidth * (h / w));
        if (placement.height > boxHeight) {
            placement.width = static_cast<int>((boxHeight * w) / h);
            placement.height = boxHeight;
        }
    } else {
        placement.width = static_cast<int>((w / h) * boxHeight);
        placement.height = boxHeight;
    }
    placement.width = std::clamp(placement.width, 1, boxWidth);
    placement.height = std::clamp(placement.height, 1, boxHeight);
    placement.x = (boxWidth - placement.width) / 2;
    placement.y = (boxHeight - placement.height) / 2;
    return placement;
}

void MakeThumbnail(const PicBitmap& picture, int boxWidth, int boxHeight, std::shared_ptr<const PicBitmap>& thumbnail,
                   ThumbnailPlacement& placement)
{
    std::unique_ptr<PicBitmap> made;
    MakeThumbnail(picture, boxWidth, boxHeight, made, placement);
    thumbnail = std::move(made);
}

void MakeThumbnail(const PicBitmap& picture, int boxWidth, int boxHeight, std::unique_ptr<PicBitmap>& thumbnail,
                   ThumbnailPlacement& placement)
{
    thumbnail.reset();
    placement = FitThumbnail(picture.Width(), picture.Height(), boxWidth, boxHeight);
    auto resized = std::make_unique<PicBitmap>();
    PicResizer(placement.width, placement.height).Apply(picture, *resized);
    thumbnail = std::move(resized);
}

int NextRotation(int rotation, Rotation direction)
{
    if (!IsQuarterTurn(rotation))
        return direction == Rotation::Clockwise ? 90 : 270;
    if (direction == Rotation::Clockwise)
        return rotation + 90 >= 360 ? 0 : rotation + 90;
    return rotation < 90 ? 270 : rotation - 90;
}

bool IsQuarterTurn(int rotation)
{
    return rotation == 90 || rotation == 180 || rotation == 270;
}

AlbumTable::AlbumTable() = default;
AlbumTable::~AlbumTable() = default;

AlbumTable& AlbumTable::Instance()
{
    static AlbumTable project;
    return project;
}

void AlbumTable::SetPictureDecoder(PictureDecoder decoder)
{
    decoder_ = std::move(decoder);
}

void AlbumTable::InitialiseWaitTimes(int defaultWaitTime)
{
    defaultWaitTime_ = defaultWaitTime;
    for (AlbumInfo& album : albums_)
        album.waitTime = defaultWaitTime;
}

void AlbumTable::ApplyDefaultWaitTimeChange(int oldDefault, int newDefault)
{
    bool changed = false;
    for (int i = 0; i < ALBUM_SLOTS; ++i) {
        AlbumInfo& album = albums_[static_cast<std::size_t>(i)];
        if (album.waitTime != oldDefault || oldDefault == newDefault)
            continue;
        album.waitTime = newDefault;
        if (i < albumCount_) {
            changed = true;
            if (observer_)
                observer_->OnAlbumChanged(i);
        }
    }
    defaultWaitTime_ = newDefault;
    if (changed)
        NotifyModified();
}

void AlbumTable::SetCurrentAlbum(int album)
{
    if (album < -1 || album >= albumCount_)
        return;
    currentAlbum_ = album;
    if (observer_)
        observer_->OnCurrentAlbumChanged(album);
}

const PictureItem& AlbumTable::Picture(int album, int position) const
{
    return *Album(album).pictures.at(static_cast<std::size_t>(position));
}

int AlbumTable::TotalPictures() const
{
    int total = 0;
    for (int i = 0; i < albumCount_; ++i)
        total += Album(i).PictureCount();
    return total;
}

std::string AlbumTable::StatusText() const
{
    return Format("Total Album : %02d  Total Photos: %d", albumCount_, TotalPictures());
}

std::string AlbumTable::SlideLabel(int position)
{
    return Format("%02d", position + 1);
}

void AlbumTable::Message(const std::string& text) const
{
    if (observer_)
        observer_->OnMessage(text);
}

void AlbumTable::StatusChanged() const
{
    if (observer_)
        observer_->OnStatusChanged(StatusText());
}

void AlbumTable::NotifyModified() const
{
    if (observer_ && !bulk_)
        observer_->OnModified();
}

void AlbumTable::ResetProject()
{
    if (observer_)
        observer_->OnAboutToReset();
    for (AlbumInfo& album : albums_)
        album.pictures.clear();
    albumCount_ = 0;
    // No album exists, so none can be current.
    currentAlbum_ = -1;
    if (observer_) {
        observer_->OnResetDone();
        observer_->OnAlbumListChanged();
        observer_->OnCurrentAlbumChanged(-1);
    }
    StatusChanged();
}

int AlbumTable::AppendAlbum(std::string_view name, int waitTime)
{
    AlbumInfo& album = MutableAlbum(albumCount_);
    album.name = CutUtf8(name);
    album.waitTime = waitTime;
    album.pictures.clear();
    return albumCount_++;
}

int AlbumTable::AddAlbum(std::string_view name)
{
    if (albumCount_ >= MAX_ALBUMS) {
        Message(kMsgAlbumLimit);
        return -1;
    }
    if (observer_)
        observer_->OnAboutToInsertAlbums(albumCount_, albumCount_);
    const int index = AppendAlbum(name, defaultWaitTime_);
    if (observer_) {
        observer_->OnAlbumsInserted(index, index);
        observer_->OnAlbumListChanged();
    }
    SetCurrentAlbum(index);
    StatusChanged();
    NotifyModified();
    return index;
}

int AlbumTable::EnsureAlbumForPicture(PictureSource source)
{
    if (albumCount_ == 0)
        return AddAlbum(source == PictureSource::FileList ? kFirstAlbumFromFileList : kFirstAlbumFromPath);
    if (currentAlbum_ < 0 || currentAlbum_ >= albumCount_)
        SetCurrentAlbum(albumCount_ - 1);
    return currentAlbum_;
}

bool AlbumTable::RemoveAlbum(int selectedAlbum)
{
    if (albumCount_ == 0) {
        Message(kMsgNoAlbumToRemove);
        return false;
    }
    if (selectedAlbum < 0 || selectedAlbum >= albumCount_) {
        Message(kMsgSelectAlbumToRemove);
        return false;
    }
    if (observer_)
        observer_->OnAboutToRemoveAlbums(selectedAlbum, selectedAlbum);
    MutableAlbum(selectedAlbum).pictures.clear();
    for (int i = selectedAlbum; i + 1 < albumCount_; ++i) {
        AlbumInfo& to = MutableAlbum(i);
        AlbumInfo& from = MutableAlbum(i + 1);
        to.name = std::move(from.name);
        to.waitTime = from.waitTime;
        to.pictures = std::move(from.pictures);
        from.pictures.clear();
    }
    --albumCount_;
    AlbumInfo& freed = MutableAlbum(albumCount_);
    freed.name.clear();
    freed.pictures.clear();
    if (observer_) {
        observer_->OnAlbumsRemoved(selectedAlbum, selectedAlbum);
        observer_->OnAlbumListChanged();
    }
    SetCurrentAlbum(albumCount_ - 1);
    StatusChanged();
    NotifyModified();
    return true;
}

bool AlbumTable::RenameAlbum(int selectedAlbum, std::string_view name)
{
    if (selectedAlbum < 0 || selectedAlbum >= albumCount_) {
        Message(kMsgSelectAlbum);
        return false;
    }
    MutableAlbum(selectedAlbum).name = CutUtf8(name);
    if (observer_) {
        observer_->OnAlbumChanged(selectedAlbum);
        observer_->OnAlbumListChanged();
    }
    NotifyModified();
    return true;
}

bool AlbumTable::SetAlbumWaitTime(int selectedAlbum, int seconds)
{
    if (selectedAlbum < 0 || selectedAlbum >= albumCount_) {
        Message(kMsgSelectAlbum);
        return false;
    }
    if (seconds < kMinAlbumWaitTime || seconds > kMaxAlbumWaitTime) {
        Message(Format("Please enter an integer between %d and %d.", kMinAlbumWaitTime, kMaxAlbumWaitTime));
        return false;
    }
    if (MutableAlbum(selectedAlbum).waitTime != seconds) {
        MutableAlbum(selectedAlbum).waitTime = seconds;
        if (observer_)
            observer_->OnAlbumChanged(selectedAlbum);
        NotifyModified();
    }
    return true;
}

std::string AlbumTable::AlbumPropertiesText(int album) const
{
    return Format("Total Photos: %d", Album(album).PictureCount());
}

std::unique_ptr<PicBitmap> AlbumTable::DecodePicture(const std::string& path, int rotation)
{
    if (!decoder_) {
        if (!reader_)
            reader_ = std::make_unique<PicReader>();
        return DecodeTurned(*reader_, path, rotation);
    }
    auto decoded = std::make_unique<PicBitmap>();
    decoder_(path, *decoded);
    if (!IsQuarterTurn(rotation))
        return decoded;
    auto turned = std::make_unique<PicBitmap>();
    RotateBitmap(*decoded, rotation, *turned);
    return turned;
}

std::unique_ptr<PictureItem> AlbumTable::MakeFileListItem(const std::string& path, std::string_view displayName)
{
    auto item = std::make_unique<PictureItem>();
    item->path = path;
    item->displayName = CutUtf8(displayName);
    item->picture = DecodePicture(item->path, 0);
    MakeThumbnail(*item->picture, kSmallThumbnailSize, kSmallThumbnailSize, item->smallThumbnail, item->smallPlacement);
    MakeThumbnail(*item->picture, kSlideThumbnailWidth, kSlideThumbnailHeight, item->slideThumbnail,
                  item->slidePlacement);
    return item;
}

bool AlbumTable::AddDecodedPicture(int album, const std::string& path, std::string_view displayName, int rotation,
                                   const PictureItem* fileListItem, std::string* error, DecodedPicture* predecoded)
{
    if (album < 0 || album >= albumCount_) {
        if (error)
            *error = "No such album.";
        return false;
    }
    AlbumInfo& target = MutableAlbum(album);
    if (target.PictureCount() >= MAX_PICTURES_PER_ALBUM) {
        if (error)
            *error = kMsgPictureLimit;
        return false;
    }
    // The project file keeps one name per line: a line break in a name would make the
    // saved project name another file (or none).
    if (path.find_first_of("\r\n") != std::string::npos) {
        if (error)
            *error = "The file name " + EscapeControls(path) + " holds a line break, which a project cannot keep.";
        return false;
    }
    auto item = std::make_unique<PictureItem>();
    item->path = path;
    // A picture from the file list keeps the name the list shows; one from a path has none.
    if (!displayName.empty())
        item->displayName = CutUtf8(displayName);
    else if (fileListItem)
        item->displayName = fileListItem->displayName;
    item->rotation = IsQuarterTurn(rotation) ? rotation : 0;
    item->rotated = item->rotation != 0;
    try {
        if (fileListItem && fileListItem->picture && item->rotation == 0) {
            item->picture = fileListItem->picture; // never changed, so shared
            if (fileListItem->smallThumbnail) {
                item->smallThumbnail = std::make_unique<PicBitmap>(*fileListItem->smallThumbnail);
                item->smallPlacement = fileListItem->smallPlacement;
            }
        } else if (predecoded && predecoded->missing) {
            item->missing = true; // nothing to decode: kept as the project names it
        } else if (predecoded) {
            if (!predecoded->error.empty()) {
                if (error)
                    *error = predecoded->error;
                return false;
            }
            // A lazily loaded picture has neither: it is decoded when its slide is made.
            item->picture = std::move(predecoded->picture);
            item->slideThumbnail = std::move(predecoded->slideThumbnail);
            item->slidePlacement = predecoded->slidePlacement;
        } else {
            item->picture = DecodePicture(item->path, item->rotation);
        }
        if (item->picture && !item->slideThumbnail)
            MakeThumbnail(*item->picture, kSlideThumbnailWidth, kSlideThumbnailHeight, item->slideThumbnail,
                          item->slidePlacement);
    } catch (const std::exception& failure) {
        if (error)
            *error = ExceptionText(failure);
        return false;
    }
    const int position = target.PictureCount();
    item->listPosition = position;
    if (observer_ && !bulk_)
        observer_->OnAboutToInsertPictures(album, position, position);
    target.pictures.push_back(std::move(item));
    if (observer_) {
        if (!bulk_) {
            observer_->OnPicturesInserted(album, position, position);
            if (position == 0)
                observer_->OnAlbumChanged(album); // the album has its cover now
        }
        observer_->OnPictureAdded(album, position);
    }
    StatusChanged();
    NotifyModified();
    return true;
}

bool AlbumTable::AddPictureToAlbum(int album, const std::string& path, std::string_view displayName,
                                   const PictureItem* fileListItem, std::string* error)
{
    return AddDecodedPicture(album, path, displayName, 0, fileListItem, error);
}

bool AlbumTable::RemovePictures(int album, std::vector<int> positions)
{
    if (positions.empty()) {
        Message(kMsgSelectItem);
        return false;
    }
    if (album < 0 || album >= albumCount_)
        return false;
    AlbumInfo& target = MutableAlbum(album);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    // From the back, so that earlier positions stay valid.
    bool removedCover = false;
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
        if (*it < 0 || *it >= target.PictureCount())
            continue;
        if (observer_)
            observer_->OnAboutToRemovePictures(album, *it, *it);
        target.pictures.erase(target.pictures.begin() + *it);
        if (observer_)
            observer_->OnPicturesRemovedRange(album, *it, *it);
        removedCover |= *it == 0;
    }
    for (int i = 0; i < target.PictureCount(); ++i)
        target.pictures[static_cast<std::size_t>(i)]->listPosition = i;
    if (observer_) {
        if (removedCover)
            observer_->OnAlbumChanged(album);
        observer_->OnPicturesRemoved(album);
        observer_->OnAlbumListChanged(); // the cover may have changed
    }
    StatusChanged();
    NotifyModified();
    return true;
}

bool AlbumTable::MovePictures(int album, std::vector<int> positions, int target)
{
    if (positions.empty()) {
        Message(kMsgSelectItem);
        return false;
    }
    if (album < 0 || album >= albumCount_)
        return false;
    AlbumInfo& source = MutableAlbum(album);
    const int count = source.PictureCount();
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    positions.erase(std::remove_if(positions.begin(), positions.end(),
                                   [count](int position) { return position < 0 || position >= count; }),
                    positions.end());
    if (positions.empty())
        return false;
    target = std::clamp(target, 0, count);

    // The order wanted: the unmoved pictures before the target, the moved ones, the rest.
    std::vector<bool> moved(static_cast<std::size_t>(count), false);
    for (int position : positions)
        moved[static_cast<std::size_t>(position)] = true;
    std::vector<PictureItem*> order;
    order.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < target; ++i)
        if (!moved[static_cast<std::size_t>(i)])
            order.push_back(source.pictures[static_cast<std::size_t>(i)].get());
    for (int position : positions)
        order.push_back(source.pictures[static_cast<std::size_t>(position)].get());
    for (int i = target; i < count; ++i)
        if (!moved[static_cast<std::size_t>(i)])
            order.push_back(source.pictures[static_cast<std::size_t>(i)].get());

    // Reached one row at a time, each an upward move that an item model can follow.
    PictureItem* const oldCover = source.Cover();
    bool changed = false;
    for (int i = 0; i < count; ++i) {
        int from = i;
        while (source.pictures[static_cast<std::size_t>(from)].get() != order[static_cast<std::size_t>(i)])
            ++from;
        if (from == i)
            continue;
        if (observer_)
            observer_->OnAboutToMovePictures(album, from, from, i);
        auto first = source.pictures.begin();
        std::rotate(first + i, first + from, first + from + 1);
        if (observer_)
            observer_->OnPicturesMoved(album, from, from, i);
        changed = true;
    }
    if (!changed)
        return false;
    for (int i = 0; i < count; ++i)
        source.pictures[static_cast<std::size_t>(i)]->listPosition = i;
    if (observer_) {
        if (source.Cover() != oldCover)
            observer_->OnAlbumChanged(album);
        observer_->OnAlbumListChanged();
    }
    NotifyModified();
    return true;
}

bool AlbumTable::AddDecodedPictureToAlbum(int album, DecodedPicture&& decoded, std::string_view displayName,
                                          std::string* error)
{
    const std::string path = decoded.path;
    return AddDecodedPicture(album, path, displayName, decoded.rotation, nullptr, error, &decoded);
}

void AlbumTable::RemoveAllPictures(int album)
{
    if (album < 0 || album >= albumCount_)
        return;
    const int count = PictureCount(album);
    if (observer_ && count > 0)
        observer_->OnAboutToRemovePictures(album, 0, count - 1);
    MutableAlbum(album).pictures.clear();
    if (observer_) {
        if (count > 0) {
            observer_->OnPicturesRemovedRange(album, 0, count - 1);
            observer_->OnAlbumChanged(album);
        }
        observer_->OnPicturesRemoved(album);
        observer_->OnAlbumListChanged();
    }
    StatusChanged();
    if (count > 0)
        NotifyModified();
}

namespace {

// A picture turned: its new bitmaps, made before any of the item changes.
struct TurnedPicture {
    std::unique_ptr<PicBitmap> picture;
    std::unique_ptr<PicBitmap> thumbnail;
    ThumbnailPlacement placement;
};

// Whether the picture in memory can be turned on instead of decoded again.
bool CanTurnHeld(const PictureItem& item)
{
    return item.picture && item.picture->BitsPerPixel() == 32;
}

// The picture in memory turned to rotation: the same pixels as a new decode at that turn,
// without decoding a camera's photo again (tens of milliseconds each, and a selection may
// hold 99). The file's header is still read, so that a file gone or no longer a picture
// refuses the turn. Touches nothing but reader; throws on failure.
TurnedPicture TurnHeld(const PictureItem& item, int rotation, PicReader& reader)
{
    reader.ProbeFile(item.path);
    TurnedPicture turned;
    turned.picture = std::make_unique<PicBitmap>();
    const int was = item.rotated ? item.rotation : 0;
    RotateBitmap(*item.picture, (rotation - was + 360) % 360, *turned.picture);
    MakeThumbnail(*turned.picture, kSlideThumbnailWidth, kSlideThumbnailHeight, turned.thumbnail, turned.placement);
    return turned;
}

void TakeTurn(PictureItem& item, TurnedPicture&& turned, int rotation)
{
    item.picture = std::move(turned.picture);
    item.slideThumbnail = std::move(turned.thumbnail);
    item.slidePlacement = turned.placement;
    item.rotation = rotation;
    item.rotated = rotation != 0;
}

} // namespace

bool AlbumTable::RotatePicture(PictureItem& picture, Rotation direction)
{
    const int rotation = NextRotation(picture.rotated ? picture.rotation : 0, direction);
    try {
        TurnedPicture turned;
        if (!decoder_ && CanTurnHeld(picture)) {
            if (!reader_)
                reader_ = std::make_unique<PicReader>();
            turned = TurnHeld(picture, rotation, *reader_);
        } else {
            turned.picture = DecodePicture(picture.path, rotation);
            MakeThumbnail(*turned.picture, kSlideThumbnailWidth, kSlideThumbnailHeight, turned.thumbnail,
                          turned.placement);
        }
        TakeTurn(picture, std::move(turned), rotation);
    } catch (const std::exception&) {
        // The file is gone or no longer decodes: keep the picture as the user sees it
        // rather than store a rotation that nothing shows.
        return false;
    }
    return true;
}

bool AlbumTable::RotatePictures(int album, const std::vector<int>& positions, Rotation direction)
{
    if (positions.empty()) {
        Message(kMsgSelectPicture);
        return false;
    }
    if (album < 0 || album >= albumCount_)
        return false;
    AlbumInfo& target = MutableAlbum(album);
    // The pictures held in memory are turned on all cores (a selection of 99 is turned
    // while the user waits), each with its own reader; the results are taken in order
    // afterwards. The others are turned one by one as RotatePicture turns them, and so is
    // every picture of a selection that names one twice (it turns twice, in turn).
    std::vector<int> sorted = positions;
    std::sort(sorted.begin(), sorted.end());
    const bool repeats = std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
    struct Turn {
        PictureItem* item = nullptr;
        int rotation = 0;
        bool inParallel = false;
        std::optional<TurnedPicture> turned; // empty when the turn was refused
    };
    std::vector<Turn> turns;
    for (int position : positions) {
        if (position < 0 || position >= target.PictureCount())
            continue;
        PictureItem& item = *target.pictures[static_cast<std::size_t>(position)];
        turns.push_back({&item, NextRotation(item.rotated ? item.rotation : 0, direction),
                         !decoder_ && !repeats && CanTurnHeld(item), std::nullopt});
    }
    ParallelFor(turns.size(), 0, [&](std::size_t i) {
        Turn& turn = turns[i];
        if (!turn.inParallel)
            return;
        try {
            PicReader reader;
            turn.turned = TurnHeld(*turn.item, turn.rotation, reader);
        } catch (const std::exception&) {
            turn.turned.reset();
        }
    });
    bool allTurned = true;
    std::size_t next = 0;
    for (int position : positions) {
        if (position < 0 || position >= target.PictureCount())
            continue;
        Turn& turn = turns[next++];
        if (!turn.inParallel)
            allTurned &= RotatePicture(*turn.item, direction);
        else if (turn.turned)
            TakeTurn(*turn.item, std::move(*turn.turned), turn.rotation);
        else
            allTurned = false; // kept as the user sees it, as RotatePicture keeps it
        if (observer_)
            observer_->OnPictureChanged(album, position);
    }
    if (observer_) {
        observer_->OnAlbumChanged(album);
        observer_->OnAlbumListChanged(); // the cover may be among them
    }
    NotifyModified();
    return allTurned;
}

ProjectSnapshot AlbumTable::TakeSnapshot() const
{
    ProjectSnapshot snapshot;
    snapshot.currentAlbum = currentAlbum_;
    snapshot.albums.reserve(static_cast<std::size_t>(albumCount_));
    for (int i = 0; i < albumCount_; ++i) {
        const AlbumInfo& album = Album(i);
        ProjectSnapshot::Album& saved = snapshot.albums.emplace_back();
        saved.name = album.name;
        saved.waitTime = album.waitTime;
        saved.pictures.reserve(album.pictures.size());
        for (const auto& picture : album.pictures)
            saved.pictures.push_back({picture->path, picture->displayName, picture->picture, picture->slideThumbnail,
                                      picture->slidePlacement, picture->rotated ? picture->rotation : 0,
                                      picture->missing});
    }
    return snapshot;
}

void AlbumTable::RestoreSnapshot(const ProjectSnapshot& snapshot)
{
    if (observer_)
        observer_->OnAboutToReset();
    for (AlbumInfo& album : albums_) {
        album.pictures.clear();
        album.name.clear();
    }
    albumCount_ = 0;
    for (const ProjectSnapshot::Album& saved : snapshot.albums) {
        if (albumCount_ >= MAX_ALBUMS)
            break;
        AlbumInfo& album = MutableAlbum(AppendAlbum(saved.name, saved.waitTime));
        for (const ProjectSnapshot::Picture& picture : saved.pictures) {
            if (album.PictureCount() >= MAX_PICTURES_PER_ALBUM)
                break;
            auto item = std::make_unique<PictureItem>();
            item->path = picture.path;
            item->displayName = picture.displayName;
            item->picture = picture.picture;
            item->slideThumbnail = picture.slideThumbnail;
            item->slidePlacement = picture.slidePlacement;
            item->rotation = IsQuarterTurn(picture.rotation) ? picture.rotation : 0;
            item->rotated = item->rotation != 0;
            item->missing = picture.missing;
            item->listPosition = album.PictureCount();
            album.pictures.push_back(std::move(item));
        }
    }
    currentAlbum_ =
        snapshot.currentAlbum >= 0 && snapshot.currentAlbum < albumCount_ ? snapshot.currentAlbum : albumCount_ - 1;
    if (observer_) {
        observer_->OnResetDone();
        observer_->OnAlbumListChanged();
        observer_->OnCurrentAlbumChanged(currentAlbum_);
    }
    StatusChanged();
    NotifyModified();
}

bool AlbumTable::SaveProject(const std::string& path, std::string* error, const ProjectDesign* design,
                             bool replace) const
{
    IniFile file;
    const IniLoadStatus status = replace ? IniLoadStatus::Missing : file.Load(path);
    if (status != IniLoadStatus::Loaded && status != IniLoadStatus::Missing) {
        if (error)
            *error = file.LastError();
        return false;
    }
    file.SetString(kGeneralSection, kDescriptionKey, kProjectDescription);
    file.SetString(kGeneralSection, kVersionKey, kProjectVersion);
    file.SetInt(kGeneralSection, kAlbumCountKey, albumCount_);
    if (design) {
        const std::pair<const char*, const std::string*> keys[] = {
            {kTemplateKey, &design->menuTemplate}, {kBackgroundKey, &design->background}, {kMusicKey, &design->music}};
        for (const auto& [key, value] : keys)
            file.SetString(kGeneralSection, key, *value);
    }
    for (int i = 0; i < albumCount_; ++i) {
        const AlbumInfo& album = Album(i);
        const std::string section = AlbumSection(i + 1);
        file.SetString(section, kNameKey, StoredBytesForText(album.name, file.GetString(section, kNameKey)));
        file.SetInt(section, kIntervalKey, album.waitTime);
        file.SetInt(section, kImageCountKey, album.PictureCount());
        for (int j = 0; j < album.PictureCount(); ++j) {
            const PictureItem& picture = *album.pictures[static_cast<std::size_t>(j)];
            file.SetString(section, ImageKey(j + 1), picture.path);
            // A stale rotation left by an earlier save under this name must not turn
            // the picture that now has this number.
            if (picture.rotated && IsQuarterTurn(picture.rotation))
                file.SetInt(section, RotateKey(j + 1), picture.rotation);
            else
                file.DeleteKey(section, RotateKey(j + 1));
        }
    }
    if (!file.Save(path)) {
        if (error)
            *error = file.LastError();
        return false;
    }
    return true;
}

int AlbumTable::MissingPictureCount() const
{
    int count = 0;
    for (int a = 0; a < albumCount_; ++a)
        count += Album(a).MissingCount();
    return count;
}

int AlbumTable::FindMissingPictures(const std::string& folder)
{
    int found = 0;
    for (int a = 0; a < albumCount_; ++a) {
        AlbumInfo& album = MutableAlbum(a);
        const PictureItem* coverBefore = album.Cover();
        for (int p = 0; p < album.PictureCount(); ++p) {
            PictureItem& item = *album.pictures[static_cast<std::size_t>(p)];
            if (!item.missing)
                continue;
            const std::string candidate =
                (std::filesystem::path(folder) / std::filesystem::path(item.path).filename()).string();
            struct stat info { };
            if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            try {
                std::shared_ptr<const PicBitmap> picture = DecodePicture(candidate, item.rotation);
                std::unique_ptr<PicBitmap> thumbnail;
                ThumbnailPlacement placement;
                MakeThumbnail(*picture, kSlideThumbnailWidth, kSlideThumbnailHeight, thumbnail, placement);
                item.path = candidate;
                item.picture = std::move(picture);
                item.slideThumbnail = std::move(thumbnail);
                item.slidePlacement = placement;
                item.missing = false;
                ++found;
                if (observer_)
                    observer_->OnPictureChanged(a, p);
            } catch (const std::exception&) {
                // Found by name but not a picture this program reads: it stays missing.
            }
        }
        if (observer_ && album.Cover() != coverBefore)
            observer_->OnAlbumChanged(a);
    }
    if (found > 0) {
        StatusChanged();
        NotifyModified();
    }
    return found;
}

ProjectLoadResult AlbumTable::LoadProject(const std::string& path, PictureLoading loading)
{
    ProjectDecodeOptions options;
    options.loading = loading;
    options.freeAlbumSlots = MAX_ALBUMS - albumCount_;
    options.decoder = decoder_;
    return ApplyDecodedProject(DecodeProjectFile(path, options));
}

ProjectLoadResult AlbumTable::ApplyDecodedProject(DecodedProject&& decoded)
{
    ProjectLoadResult result;
    result.status = decoded.status;
    result.error = decoded.error;
    result.albumsBeyondLimit = decoded.albumsBeyondLimit;
    result.design = decoded.design;
    if (decoded.status != ProjectLoadStatus::Loaded) {
        Message(kMsgInvalidProject);
        return result;
    }
    if (decoded.cancelled)
        return result;

    if (observer_) {
        observer_->OnAboutToReset();
        observer_->OnLoadStarted();
    }
    bulk_ = true;
    int beyond = 0;
    for (DecodedAlbum& planned : decoded.albums) {
        if (albumCount_ >= MAX_ALBUMS) {
            ++beyond; // the project gained albums since the decode counted its free slots
            continue;
        }
        const int album = AppendAlbum(planned.name, planned.waitTime);
        for (SkippedPicture& skipped : planned.skipped) {
            skipped.album = album + 1;
            skipped.albumName = Album(album).name;
        }
        std::size_t nextSkipped = 0;
        for (DecodedPicture& picture : planned.pictures) {
            std::string reason;
            if (!AddDecodedPicture(album, picture.path, {}, picture.rotation, nullptr, &reason, &picture))
                result.skipped.push_back({album + 1, Album(album).name, picture.path, reason});
            else if (picture.missing)
                result.missing.push_back({album + 1, Album(album).name, picture.path, picture.error});
            picture.picture.reset(); // a picture past the album limit is not kept
        }
        for (; nextSkipped < planned.skipped.size(); ++nextSkipped)
            result.skipped.push_back(std::move(planned.skipped[nextSkipped]));
    }
    bulk_ = false;
    result.albumsBeyondLimit += beyond;
    if (result.albumsBeyondLimit > 0)
        Message(kMsgAlbumLimit);
    if (observer_) {
        observer_->OnResetDone();
        observer_->OnAlbumListChanged();
        observer_->OnLoadFinished();
    }
    SetCurrentAlbum(albumCount_ - 1);
    StatusChanged();
    return result;
}

namespace {

// One picture of the decode step: the usable turned picture with its slide thumbnail,
// or the reason it cannot be used. `full` false checks the file by its header only.
void DecodeForProject(const std::string& path, int rotation, bool full, const PictureDecoder& decoder,
                      DecodedPicture& out)
{
    try {
        std::unique_ptr<PicBitmap> decoded;
        if (decoder) {
            decoded = std::make_unique<PicBitmap>();
            decoder(path, *decoded);
            if (!full)
                return; // a caller's decoder has no header check; the decode stood for it
            if (IsQuarterTurn(rotation)) {
                auto turned = std::make_unique<PicBitmap>();
                RotateBitmap(*decoded, rotation, *turned);
                decoded = std::move(turned);
            }
        } else {
            // Each decoding thread keeps a reader of its own.
            thread_local PicReader reader;
            if (!full) {
                reader.ProbeFile(path);
                return;
            }
            decoded = DecodeTurned(reader, path, rotation);
        }
        MakeThumbnail(*decoded, kSlideThumbnailWidth, kSlideThumbnailHeight, out.slideThumbnail, out.slidePlacement);
        out.picture = std::move(decoded);
    } catch (const std::exception& failure) {
        out.picture.reset();
        out.slideThumbnail.reset();
        out.error = ExceptionText(failure);
        if (out.error.empty())
            out.error = "The picture could not be decoded.";
        // A file that is not there at all (its folder moved, its stick not plugged in) is
        // kept in the project; one that is there but cannot be read is left out.
        const auto* text = dynamic_cast<const PLTextException*>(&failure);
        struct stat info { };
        if (text && text->GetCode() == PL_ERRACCESS_DENIED && ::stat(path.c_str(), &info) != 0 &&
            (errno == ENOENT || errno == ENOTDIR)) {
            out.missing = true;
            out.error = kMsgPictureMissing;
        }
    }
}

} // namespace

DecodedProject DecodeProjectFile(const std::string& path, const ProjectDecodeOptions& options)
{
    DecodedProject result;
    IniFile file;
    const IniLoadStatus status = file.Load(path);
    if (status != IniLoadStatus::Loaded) {
        result.status = ProjectLoadStatus::Unreadable;
        result.error = file.LastError();
        return result;
    }
    const std::string description = CutUtf8(file.GetString(kGeneralSection, kDescriptionKey, ""), kMaxDescriptionBytes);
    if (description != kProjectDescription) {
        result.status = ProjectLoadStatus::NotProject;
        result.error = path + ": " + kMsgInvalidProject;
        return result;
    }
    ProjectDesign design;
    design.present = file.HasKey(kGeneralSection, kTemplateKey);
    design.menuTemplate = file.GetString(kGeneralSection, kTemplateKey, "");
    design.background = file.GetString(kGeneralSection, kBackgroundKey, "");
    design.music = file.GetString(kGeneralSection, kMusicKey, "");
    result.design = design;
    const int count = file.GetInt(kGeneralSection, kAlbumCountKey, 0);
    if (count <= 0)
        return result;

    // The file is read into a listing: every album with the pictures it lists.
    ProjectListing listing;
    const int sectionsToRead = std::min(count, kMaxAlbumSectionsRead);
    for (int i = 1; i <= sectionsToRead; ++i) {
        const std::string section = AlbumSection(i);
        // Every album the program saves has its section; a count that runs past the
        // sections is damage, and makes no nameless empty albums.
        if (!file.HasSection(section))
            continue;
        if (static_cast<int>(listing.albums.size()) >= options.freeAlbumSlots) {
            ++listing.albumsBeyondLimit;
            continue;
        }
        ListedAlbum& album = listing.albums.emplace_back();
        album.name = TextFromStoredBytes(file.GetString(section, kNameKey, ""));
        album.waitTime = std::clamp(file.GetInt(section, kIntervalKey, kIntervalWhenMissing), kMinStoredWaitTime,
                                    kMaxStoredWaitTime);
        const int images = std::min(file.GetInt(section, kImageCountKey, 0), kMaxPictureKeysRead);
        for (int j = 1; j <= images; ++j) {
            std::string picturePath = file.GetString(section, ImageKey(j), "");
            if (picturePath.empty())
                continue;
            int rotation = file.GetInt(section, RotateKey(j), 0);
            if (!IsQuarterTurn(rotation))
                rotation = 0;
            album.pictures.push_back({picturePath, rotation});
        }
    }
    // A hand-made count can run into the millions; the sections past the ones read are
    // counted from the file's own sections, so the number left out is exact.
    if (count > sectionsToRead)
        for (const std::string& name : file.SectionNames()) {
            const int number = AlbumSectionNumber(name);
            if (number > sectionsToRead && number <= count)
                ++listing.albumsBeyondLimit;
        }
    DecodedProject decoded = DecodeProjectListing(std::move(listing), options);
    decoded.design = std::move(design);
    return decoded;
}

DecodedProject DecodeProjectListing(ProjectListing listing, const ProjectDecodeOptions& options)
{
    DecodedProject result;
    result.albumsBeyondLimit = listing.albumsBeyondLimit;
    std::vector<std::vector<ListedPicture>> listed;
    for (ListedAlbum& album : listing.albums) {
        DecodedAlbum& decoded = result.albums.emplace_back();
        decoded.name = std::move(album.name);
        decoded.waitTime = album.waitTime;
        listed.push_back(std::move(album.pictures));
    }

    // Then the pictures are decoded in rounds, on every core (decoding dominates the load
    // of a project of large photos). A round takes, from each album, as many of its next
    // listed pictures as it still has free places, so an album never has more than 99
    // pictures decoded; a picture that fails frees its place for the next listed one,
    // exactly as adding them one after the other would. Lazy loading decodes each album's
    // cover (its first usable picture) and checks the others by their header; loading by
    // headers only checks every picture by its header.
    struct Candidate {
        std::size_t album;
        std::size_t listIndex;
        bool full;
    };
    std::vector<std::size_t> nextListed(listed.size(), 0);
    std::vector<int> usable(listed.size(), 0);
    std::vector<std::vector<DecodedPicture>> outcome(listed.size());
    for (std::size_t a = 0; a < listed.size(); ++a)
        outcome[a].resize(listed[a].size());
    int total = 0;
    for (const auto& pictures : listed)
        total += static_cast<int>(std::min<std::size_t>(pictures.size(), MAX_PICTURES_PER_ALBUM));
    int done = 0;
    std::mutex progressMutex;
    auto cancelled = [&] { return options.cancel && options.cancel->load(); };

    for (;;) {
        std::vector<Candidate> round;
        for (std::size_t a = 0; a < listed.size(); ++a) {
            const int free = MAX_PICTURES_PER_ALBUM - usable[a];
            const bool needCover = usable[a] == 0;
            for (int k = 0; k < free && nextListed[a] < listed[a].size(); ++k) {
                const bool full = options.loading == PictureLoading::Eager ||
                                  (options.loading == PictureLoading::Lazy && needCover && k == 0);
                round.push_back({a, nextListed[a]++, full});
                // Lazily, the cover must be known before the header checks can count:
                // one picture a round until the album has its cover.
                if (options.loading == PictureLoading::Lazy && needCover)
                    break;
            }
        }
        if (round.empty() || cancelled())
            break;
        auto decodeOne = [&](std::size_t i) {
            if (cancelled())
                return;
            const Candidate& c = round[i];
            const ListedPicture& picture = listed[c.album][c.listIndex];
            DecodedPicture& out = outcome[c.album][c.listIndex];
            out.path = picture.path;
            out.rotation = picture.rotation;
            DecodeForProject(picture.path, picture.rotation, c.full, options.decoder, out);
            if (options.progress) {
                std::lock_guard lock(progressMutex);
                options.progress(std::min(++done, total), total);
            }
        };
        // A file listed in several albums (one photo as every album's cover) is read once a
        // round; the others take copies of its outcome. A caller's decoder sees every one.
        std::vector<std::size_t> sameAs(round.size());
        std::vector<std::size_t> first;
        {
            std::map<std::tuple<std::string_view, int, bool>, std::size_t> seen;
            for (std::size_t i = 0; i < round.size(); ++i) {
                const ListedPicture& picture = listed[round[i].album][round[i].listIndex];
                const auto [at, added] = seen.try_emplace({picture.path, picture.rotation, round[i].full}, i);
                sameAs[i] = options.decoder ? i : at->second;
                if (sameAs[i] == i)
                    first.push_back(i);
            }
        }
        // A decoder given by the caller may not be safe to call from several threads.
        ParallelFor(first.size(), options.decoder ? 1 : 0, [&](std::size_t k) { decodeOne(first[k]); });
        for (std::size_t i = 0; i < round.size(); ++i) {
            if (sameAs[i] == i)
                continue;
            const DecodedPicture& from = outcome[round[sameAs[i]].album][round[sameAs[i]].listIndex];
            DecodedPicture& out = outcome[round[i].album][round[i].listIndex];
            out.path = from.path;
            out.rotation = from.rotation;
            out.error = from.error;
            out.missing = from.missing;
            out.slidePlacement = from.slidePlacement;
            if (from.picture)
                out.picture = std::make_unique<PicBitmap>(*from.picture);
            if (from.slideThumbnail)
                out.slideThumbnail = std::make_unique<PicBitmap>(*from.slideThumbnail);
            if (options.progress) {
                std::lock_guard lock(progressMutex);
                options.progress(std::min(++done, total), total);
            }
        }
        // A missing picture keeps its place in the album as a usable one would.
        for (const Candidate& c : round)
            if (outcome[c.album][c.listIndex].error.empty() || outcome[c.album][c.listIndex].missing)
                ++usable[c.album];
    }
    if (cancelled()) {
        result.cancelled = true;
        result.albums.clear();
        return result;
    }

    for (std::size_t a = 0; a < listed.size(); ++a) {
        DecodedAlbum& album = result.albums[a];
        for (std::size_t j = 0; j < nextListed[a]; ++j) {
            DecodedPicture& picture = outcome[a][j];
            if (picture.error.empty() || picture.missing)
                album.pictures.push_back(std::move(picture));
            else
                album.skipped.push_back({0, {}, picture.path, picture.error});
        }
        // Listed pictures past a full album are named, not decoded.
        for (std::size_t j = nextListed[a]; j < listed[a].size(); ++j)
            album.skipped.push_back({0, {}, listed[a][j].path, kMsgPictureLimit});
    }
    return result;
}

} // namespace lumivox

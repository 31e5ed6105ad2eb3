// SPDX-License-Identifier: GPL-2.0-or-later
#include "project/ThumbnailCache.h"

namespace lumivox {

std::size_t ThumbnailCache::EntryCost(const PicBitmap& thumbnail)
{
    const std::size_t pixels =
        static_cast<std::size_t>(thumbnail.Stride()) * static_cast<std::size_t>(thumbnail.Height());
    const std::size_t palette =
        thumbnail.BitsPerPixel() < 16 ? 4 * static_cast<std::size_t>(thumbnail.PaletteEntries()) : 0;
    return pixels + kHeaderBytes + palette + kEntryBytes;
}

std::optional<CachedThumbnail> ThumbnailCache::Lookup(const std::string& path) const
{
    std::lock_guard lock(mutex_);
    const auto found = index_.find(path);
    if (found == index_.end())
        return std::nullopt;
    return found->second->value;
}

void ThumbnailCache::Store(const std::string& path, std::shared_ptr<const PicBitmap> thumbnail,
                           ThumbnailPlacement placement)
{
    if (!thumbnail)
        return;
    const std::size_t cost = EntryCost(*thumbnail);
    std::lock_guard lock(mutex_);
    if (const auto found = index_.find(path); found != index_.end()) {
        // The same file again: the same size as a rule, so the count stays; a file that
        // changed shape since is counted at what it holds now.
        Entry& entry = *found->second;
        counted_ = counted_ - entry.cost + cost;
        entry.cost = cost;
        entry.value = {std::move(thumbnail), placement};
        return;
    }
    // Dropping only one entry would let the count creep past the budget whenever a
    // wide picture's small thumbnail makes way for a tall one's larger one.
    while (!entries_.empty() && counted_ + cost >= budget_) {
        counted_ -= entries_.front().cost;
        index_.erase(entries_.front().key);
        entries_.pop_front();
    }
    entries_.push_back({path, {std::move(thumbnail), placement}, cost});
    index_.emplace(path, std::prev(entries_.end()));
    counted_ += cost;
}

std::size_t ThumbnailCache::CountedBytes() const
{
    std::lock_guard lock(mutex_);
    return counted_;
}

std::size_t ThumbnailCache::EntryCount() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::vector<std::string> ThumbnailCache::Keys() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const Entry& entry : entries_)
        keys.push_back(entry.key);
    return keys;
}

} // namespace lumivox

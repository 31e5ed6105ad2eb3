// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The cache of the editor's small file-list thumbnails (64 x 64 box), keyed by path, so
// that going back to a folder shows its thumbnails without decoding the files again.
// One per program, owned by the main window, used by the file list's thumbnail worker.
//
// Memory is counted the way the bitmaps were once laid out: a thumbnail's pixel rows
// (stride x height) plus its 40-byte header and palette, plus 56 + 280 bytes of entry
// bookkeeping. When storing a new entry would reach the budget, the oldest entries go.
// Thread-safe: the worker stores while the user-interface thread may look up.

#include "picture/PicBitmap.h"
#include "project/AlbumTable.h"

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace lumivox {

struct CachedThumbnail {
    std::shared_ptr<const PicBitmap> thumbnail;
    ThumbnailPlacement placement;
};

class ThumbnailCache {
public:
    static constexpr std::size_t kBudgetBytes = 16'777'216; // 16 MB
    static constexpr std::size_t kHeaderBytes = 40; // the bitmap information header
    static constexpr std::size_t kEntryBytes = 56 + 280; // entry record and its key

    explicit ThumbnailCache(std::size_t budgetBytes = kBudgetBytes) : budget_(budgetBytes) { }

    // The thumbnail and placement stored for path (compared byte for byte), or none.
    std::optional<CachedThumbnail> Lookup(const std::string& path) const;
    // Stores thumbnail (not null) for path. An existing entry keeps its place in the
    // order and has its thumbnail and placement replaced. A new entry is appended after
    // the oldest entries are dropped until it fits under the budget.
    void Store(const std::string& path, std::shared_ptr<const PicBitmap> thumbnail, ThumbnailPlacement placement);

    // What an entry holding thumbnail is counted as.
    static std::size_t EntryCost(const PicBitmap& thumbnail);
    std::size_t CountedBytes() const;
    std::size_t EntryCount() const;
    std::size_t Budget() const { return budget_; }
    // Keys, oldest first (tests).
    std::vector<std::string> Keys() const;

private:
    struct Entry {
        std::string key;
        CachedThumbnail value;
        std::size_t cost = 0;
    };

    const std::size_t budget_;
    mutable std::mutex mutex_;
    std::list<Entry> entries_; // insertion order, oldest first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
    std::size_t counted_ = 0;
};

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
// The editor's thumbnail cache: what an entry costs, the 16 MB budget, the oldest entry
// going first, and a stored path replaced in place.

#include "project/ThumbnailCache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumivox::test {
namespace {

std::shared_ptr<const PicBitmap> Thumbnail(int width, int height, int bitsPerPixel = 32)
{
    auto bitmap = std::make_shared<PicBitmap>();
    bitmap->Create(width, height, bitsPerPixel, false);
    return bitmap;
}

std::string Joined(const std::vector<std::string>& keys)
{
    std::string text;
    for (const std::string& key : keys)
        text += (text.empty() ? "" : " ") + key;
    return text;
}

TEST(ThumbnailCache, AnEntryCostsItsRowsHeaderPaletteAndBookkeeping)
{
    const struct {
        int width, height, bits;
        std::size_t cost;
    } cases[] = {
        {64, 64, 32, 64 * 4 * 64 + 40 + 336},  {64, 10, 32, 64 * 4 * 10 + 40 + 336}, {3, 5, 32, 12 * 5 + 40 + 336},
        {5, 4, 8, 8 * 4 + 40 + 256 * 4 + 336}, // rows padded to 4 bytes, 256 palette entries
        {9, 2, 1, 4 * 2 + 40 + 2 * 4 + 336},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << " at " << c.bits);
        EXPECT_EQ(ThumbnailCache::EntryCost(*Thumbnail(c.width, c.height, c.bits)), c.cost);
    }
    EXPECT_EQ(ThumbnailCache::kBudgetBytes, 16u * 1024 * 1024);
}

TEST(ThumbnailCache, TheOldestEntriesMakeWayWhenTheBudgetWouldBeReached)
{
    const std::size_t cost = ThumbnailCache::EntryCost(*Thumbnail(64, 64)); // 16,760
    // Room for three entries: a fourth would bring the count to the budget.
    ThumbnailCache cache(4 * cost);
    for (const char* key : {"a", "b", "c"})
        cache.Store(key, Thumbnail(64, 64), {});
    EXPECT_EQ(Joined(cache.Keys()), "a b c");
    EXPECT_EQ(cache.CountedBytes(), 3 * cost);
    cache.Store("d", Thumbnail(64, 64), {});
    EXPECT_EQ(Joined(cache.Keys()), "b c d");
    EXPECT_EQ(cache.CountedBytes(), 3 * cost);
    EXPECT_FALSE(cache.Lookup("a"));
    // A looked-up entry is not made younger: insertion order decides.
    EXPECT_TRUE(cache.Lookup("b"));
    cache.Store("e", Thumbnail(64, 64), {});
    EXPECT_EQ(Joined(cache.Keys()), "c d e");
    // A large entry after small ones removes as many as it needs, never overshooting.
    ThumbnailCache mixed(4 * cost);
    const std::size_t small = ThumbnailCache::EntryCost(*Thumbnail(64, 8));
    for (int i = 0; i < 10; ++i)
        mixed.Store("s" + std::to_string(i), Thumbnail(64, 8), {});
    mixed.Store("big1", Thumbnail(64, 64), {});
    mixed.Store("big2", Thumbnail(64, 64), {});
    mixed.Store("big3", Thumbnail(64, 64), {});
    EXPECT_LT(mixed.CountedBytes(), mixed.Budget());
    EXPECT_EQ(mixed.CountedBytes(), 3 * cost + small * (mixed.EntryCount() - 3)) << Joined(mixed.Keys());
}

TEST(ThumbnailCache, StoringAPathAgainReplacesItInPlace)
{
    ThumbnailCache cache;
    cache.Store("/p/one.jpg", Thumbnail(64, 48), {0, 8, 64, 48});
    cache.Store("/p/two.jpg", Thumbnail(48, 64), {8, 0, 48, 64});
    const std::size_t counted = cache.CountedBytes();
    auto replacement = Thumbnail(64, 48);
    cache.Store("/p/one.jpg", replacement, {0, 9, 64, 48});
    EXPECT_EQ(cache.CountedBytes(), counted);
    EXPECT_EQ(Joined(cache.Keys()), "/p/one.jpg /p/two.jpg");
    const auto found = cache.Lookup("/p/one.jpg");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->thumbnail, replacement);
    EXPECT_EQ(found->placement, (ThumbnailPlacement{0, 9, 64, 48}));
    // A file that changed shape is counted at what it holds now.
    cache.Store("/p/two.jpg", Thumbnail(64, 16), {0, 24, 64, 16});
    EXPECT_EQ(cache.CountedBytes(),
              ThumbnailCache::EntryCost(*Thumbnail(64, 48)) + ThumbnailCache::EntryCost(*Thumbnail(64, 16)));
    // Keys are whole paths compared byte for byte.
    EXPECT_FALSE(cache.Lookup("/p/ONE.jpg"));
    const std::string longA = std::string(300, 'x') + "a.jpg";
    const std::string longB = std::string(300, 'x') + "b.jpg";
    cache.Store(longA, Thumbnail(4, 4), {});
    EXPECT_FALSE(cache.Lookup(longB));
}

} // namespace
} // namespace lumivox::test

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PicBitmap: a bitmap held in device-independent-bitmap layout — a 40-byte information
// header, the palette (below 16 bits per pixel), then the pixel rows padded to 4 bytes
// and stored bottom row first. 32-bit pixels are blue, green, red, alpha. A row table
// indexed from the top gives each row without arithmetic at the call site.
//
// The encoder glue and the frame renderer consume this layout directly, so it must not
// change. A new bitmap is 16 x 16 at 8 bits per pixel with a grey-ramp palette.

#include "picture/PLTextException.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIVOX_HAS_ASAN 1
#endif
#endif

namespace lumivox {

class PicBitmap : public PLObject {
public:
    // Largest picture the program accepts: a side of 30,000 pixels and 300 megapixels.
    // Decoders check a file's claimed size against these before allocating anything.
    static constexpr int kMaxSide = 30000;
    static constexpr std::uint64_t kMaxPixels = 300'000'000;
    // Throws PLTextException code 10 unless 1 <= width, height <= kMaxSide and
    // width x height <= maxPixels.
    static void CheckSize(long long width, long long height, std::uint64_t maxPixels = kMaxPixels);
    // A program that makes discs in one go (the command line) asks, once and before its
    // first picture, for the pixels of pictures of 4 MB and more to come straight from
    // the system and go back to it whole: its memory then follows the pictures in hand.
    // The desktop program keeps the heap's reuse, since giving large mappings back holds
    // up every thread of the process on its address space, the window's thread included.
    static void ReturnLargePixelsToSystem(bool on) { s_returnLargePixels.store(on, std::memory_order_relaxed); }

    PicBitmap();
    PicBitmap(const PicBitmap& other);
    PicBitmap& operator=(const PicBitmap& other);
    PicBitmap(PicBitmap&& other) noexcept;
    PicBitmap& operator=(PicBitmap&& other) noexcept;
    ~PicBitmap() override;

    // Replaces the contents with a width x height bitmap of 1, 8 or 32 bits per pixel,
    // pixels zeroed; 8 and 1 bit get a grey-ramp palette. Throws PLTextException code 10
    // when the size is refused (non-positive, over the decoder limits) or memory is short.
    void Create(int width, int height, int bitsPerPixel, bool hasAlpha);
    // The same with the pixel rows left as the memory happens to hold them (header and
    // palette are set): for a decoder that writes every pixel before anything reads one,
    // which spares zeroing a camera picture's tens of megabytes first.
    void CreateUnfilled(int width, int height, int bitsPerPixel, bool hasAlpha);
    // Copies pixels, palette and resolution of another bitmap.
    void CopyFrom(const PicBitmap& other);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    bool HasAlpha() const { return hasAlpha_; }
    void SetHasAlpha(bool hasAlpha) { hasAlpha_ = hasAlpha; }
    int ResolutionX() const { return resolutionX_; }
    int ResolutionY() const { return resolutionY_; }
    // Dots per inch, carried from the file; the header does not hold them.
    void SetResolution(int x, int y);

    // Bytes per stored row (padded to a multiple of 4).
    int Stride() const { return stride_; }
    static int StrideFor(int width, int bitsPerPixel);

    // Row y counted from the top (the row table).
    std::uint8_t* Row(int y) { return rows_[static_cast<std::size_t>(y)]; }
    const std::uint8_t* Row(int y) const { return rows_[static_cast<std::size_t>(y)]; }
    std::uint8_t* const* RowTable() { return rows_.data(); }

    // The whole block: 40-byte header, palette, pixel rows (bottom row first).
    std::uint8_t* Header() { return block_.data(); }
    const std::uint8_t* Header() const { return block_.data(); }
    std::size_t HeaderBlockSize() const { return block_.size(); }
    // Palette entries (blue, green, red, 255), PaletteEntries() of them; null at 32 bits.
    std::uint8_t* Palette();
    const std::uint8_t* Palette() const;
    int PaletteEntries() const;
    // First stored (bottom) row.
    std::uint8_t* Pixels();
    const std::uint8_t* Pixels() const;

private:
    // Leaves the bytes of a resized block uninitialised unless a value is given.
    template <class T>
    struct UnfilledAllocator : std::allocator<T> {
        template <class U>
        struct rebind {
            using other = UnfilledAllocator<U>;
        };
        UnfilledAllocator() = default;
        template <class U>
        UnfilledAllocator(const UnfilledAllocator<U>&) noexcept
        { }
        template <class U>
        void construct(U* p) noexcept
        {
            ::new (static_cast<void*>(p)) U;
        }
        template <class U, class... Args>
        void construct(U* p, Args&&... args)
        {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
        // Where the process asked for it (ReturnLargePixelsToSystem), a large picture's
        // pixels are mapped from the system and given back to it whole when the bitmap
        // goes: the heap would keep a freed photo's pages for later requests (it raises its
        // own mapping threshold to the largest block it has freed), and a worker's next
        // picture would then sit beside that copy in the process's memory.
        T* allocate(std::size_t n)
        {
            if (!Mapped(n * sizeof(T)))
                return std::allocator<T>::allocate(n);
            return static_cast<T*>(MapPixels(n * sizeof(T)));
        }
        void deallocate(T* p, std::size_t n) noexcept
        {
            if (!Mapped(n * sizeof(T)))
                std::allocator<T>::deallocate(p, n);
            else
                UnmapPixels(p, n * sizeof(T));
        }
    };
#if defined(__SANITIZE_ADDRESS__) || defined(LUMIVOX_HAS_ASAN)
    // Under AddressSanitizer every picture stays on the heap, where a read or write past
    // its end is caught.
    static constexpr std::size_t kMappedFrom = SIZE_MAX;
#else
    static constexpr std::size_t kMappedFrom = std::size_t(4) << 20;
#endif
    static bool Mapped(std::size_t bytes)
    {
        return bytes >= kMappedFrom && s_returnLargePixels.load(std::memory_order_relaxed);
    }
    static inline std::atomic<bool> s_returnLargePixels{false};
    static void* MapPixels(std::size_t bytes); // throws std::bad_alloc
    static void UnmapPixels(void* p, std::size_t bytes) noexcept;
    using Block = std::vector<std::uint8_t, UnfilledAllocator<std::uint8_t>>;

    void Allocate(int width, int height, int bitsPerPixel, bool hasAlpha, bool fill);
    void BuildRowTable();

    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    int stride_ = 0;
    int resolutionX_ = 0;
    int resolutionY_ = 0;
    bool hasAlpha_ = false;
    Block block_;
    std::vector<std::uint8_t*> rows_;
};

} // namespace lumivox

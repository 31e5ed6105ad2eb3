// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/PicBitmap.h"

#include "picture/DecodeBudget.h"

#include <cstring>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace lumivox {

namespace {

// BITMAPINFOHEADER field offsets (little-endian), as the platform's bitmap transfer
// and the encoder glue read them. Only size, width, height, planes and bit count are
// set; every other field stays 0 (uncompressed, image size implied, resolution not
// given, a full palette of 2 to the power of the bit count).
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kOffWidth = 4;
constexpr std::size_t kOffHeight = 8;
constexpr std::size_t kOffPlanes = 12;
constexpr std::size_t kOffBitCount = 14;

void Put32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
void Put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

int PaletteEntriesFor(int bitsPerPixel)
{
    if (bitsPerPixel == 1)
        return 2;
    if (bitsPerPixel == 8)
        return 256;
    return 0;
}

} // namespace

void PicBitmap::CheckSize(long long width, long long height, std::uint64_t maxPixels)
{
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > maxPixels) {
        throw PLTextException(PL_ERRNO_MEMORY, "Picture size " + std::to_string(width) + " x " +
                                                   std::to_string(height) + " is beyond the limit.");
    }
}

int PicBitmap::StrideFor(int width, int bitsPerPixel)
{
    long long bits = static_cast<long long>(width) * bitsPerPixel;
    return static_cast<int>(((bits + 31) / 32) * 4);
}

PicBitmap::PicBitmap()
{
    Create(16, 16, 8, false);
}

PicBitmap::PicBitmap(const PicBitmap& other)
    : width_(other.width_), height_(other.height_), bitsPerPixel_(other.bitsPerPixel_), stride_(other.stride_),
      resolutionX_(other.resolutionX_), resolutionY_(other.resolutionY_), hasAlpha_(other.hasAlpha_),
      block_(other.block_)
{
    BuildRowTable();
}

PicBitmap& PicBitmap::operator=(const PicBitmap& other)
{
    if (this != &other)
        CopyFrom(other);
    return *this;
}

PicBitmap::PicBitmap(PicBitmap&& other) noexcept
    : width_(other.width_), height_(other.height_), bitsPerPixel_(other.bitsPerPixel_), stride_(other.stride_),
      resolutionX_(other.resolutionX_), resolutionY_(other.resolutionY_), hasAlpha_(other.hasAlpha_),
      block_(std::move(other.block_)), rows_(std::move(other.rows_))
{
    // The moved-from bitmap is left empty (0 x 0) until it is created again.
    other.width_ = other.height_ = other.stride_ = 0;
}

PicBitmap& PicBitmap::operator=(PicBitmap&& other) noexcept
{
    if (this != &other) {
        width_ = other.width_;
        height_ = other.height_;
        bitsPerPixel_ = other.bitsPerPixel_;
        stride_ = other.stride_;
        resolutionX_ = other.resolutionX_;
        resolutionY_ = other.resolutionY_;
        hasAlpha_ = other.hasAlpha_;
        block_ = std::move(other.block_);
        rows_ = std::move(other.rows_);
        other.width_ = other.height_ = other.stride_ = 0;
        other.block_.clear();
        other.rows_.clear();
    }
    return *this;
}

PicBitmap::~PicBitmap() = default;

void* PicBitmap::MapPixels(std::size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return p;
}

void PicBitmap::UnmapPixels(void* p, std::size_t bytes) noexcept
{
    ::munmap(p, bytes);
}

void PicBitmap::Create(int width, int height, int bitsPerPixel, bool hasAlpha)
{
    Allocate(width, height, bitsPerPixel, hasAlpha, true);
}

void PicBitmap::CreateUnfilled(int width, int height, int bitsPerPixel, bool hasAlpha)
{
    Allocate(width, height, bitsPerPixel, hasAlpha, false);
}

void PicBitmap::Allocate(int width, int height, int bitsPerPixel, bool hasAlpha, bool fill)
{
    if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    CheckSize(width, height);
    const int stride = StrideFor(width, bitsPerPixel);
    const int entries = PaletteEntriesFor(bitsPerPixel);
    const std::size_t size = kInfoHeaderSize + static_cast<std::size_t>(entries) * 4 +
                             static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const std::size_t headerSize = kInfoHeaderSize + static_cast<std::size_t>(entries) * 4;
    // A decode's large bitmap waits its turn in the process-wide budget.
    ReserveDecodeMemory(size);
    Block block;
    std::vector<std::uint8_t*> rows;
    try {
        if (fill) {
            block.assign(size, 0);
        } else {
            block.resize(size);
            std::memset(block.data(), 0, headerSize);
        }
        rows.resize(static_cast<std::size_t>(height));
    } catch (const std::bad_alloc&) {
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory creating bitmap.");
    }
    block_ = std::move(block);
    rows_ = std::move(rows);
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    stride_ = stride;
    hasAlpha_ = hasAlpha;

    std::uint8_t* h = block_.data();
    Put32(h, kInfoHeaderSize);
    Put32(h + kOffWidth, static_cast<std::uint32_t>(width));
    Put32(h + kOffHeight, static_cast<std::uint32_t>(height));
    Put16(h + kOffPlanes, 1);
    Put16(h + kOffBitCount, static_cast<std::uint16_t>(bitsPerPixel));
    // Grey ramp: 0..255 for 8 bits, black and white for 1 bit.
    std::uint8_t* pal = Palette();
    for (int i = 0; i < entries; ++i) {
        const std::uint8_t v = static_cast<std::uint8_t>(entries == 2 ? i * 255 : i);
        pal[i * 4 + 0] = v;
        pal[i * 4 + 1] = v;
        pal[i * 4 + 2] = v;
        pal[i * 4 + 3] = 255;
    }
    SetResolution(0, 0);
    BuildRowTable();
}

void PicBitmap::CopyFrom(const PicBitmap& other)
{
    if (this == &other)
        return;
    Block block;
    try {
        block = other.block_;
    } catch (const std::bad_alloc&) {
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory creating bitmap.");
    }
    block_ = std::move(block);
    width_ = other.width_;
    height_ = other.height_;
    bitsPerPixel_ = other.bitsPerPixel_;
    stride_ = other.stride_;
    resolutionX_ = other.resolutionX_;
    resolutionY_ = other.resolutionY_;
    hasAlpha_ = other.hasAlpha_;
    BuildRowTable();
}

void PicBitmap::SetResolution(int x, int y)
{
    resolutionX_ = x;
    resolutionY_ = y;
}

int PicBitmap::PaletteEntries() const
{
    return PaletteEntriesFor(bitsPerPixel_);
}

std::uint8_t* PicBitmap::Palette()
{
    return PaletteEntries() > 0 ? block_.data() + kInfoHeaderSize : nullptr;
}
const std::uint8_t* PicBitmap::Palette() const
{
    return PaletteEntries() > 0 ? block_.data() + kInfoHeaderSize : nullptr;
}

std::uint8_t* PicBitmap::Pixels()
{
    return block_.empty() ? nullptr : block_.data() + kInfoHeaderSize + PaletteEntries() * 4;
}
const std::uint8_t* PicBitmap::Pixels() const
{
    return block_.empty() ? nullptr : block_.data() + kInfoHeaderSize + PaletteEntries() * 4;
}

void PicBitmap::BuildRowTable()
{
    rows_.resize(static_cast<std::size_t>(height_));
    if (height_ == 0)
        return;
    std::uint8_t* bottom = Pixels();
    // Stored bottom row first: the top row is the last one in the block.
    for (int y = 0; y < height_; ++y)
        rows_[static_cast<std::size_t>(y)] =
            bottom + static_cast<std::size_t>(height_ - 1 - y) * static_cast<std::size_t>(stride_);
}

} // namespace lumivox

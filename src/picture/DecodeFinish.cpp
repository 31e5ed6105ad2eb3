// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/DecodeFinish.h"

#include "picture/PicDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lumivox {

void CompositeRowOverBlack(std::uint8_t* p, int width)
{
    for (int x = 0; x < width; ++x, p += 4) {
        const unsigned a = p[3];
        if (a == 255)
            continue;
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
    }
}

void CompositeOverBlack(PicBitmap& bitmap)
{
    if (bitmap.BitsPerPixel() != 32)
        return;
    for (int y = 0; y < bitmap.Height(); ++y)
        CompositeRowOverBlack(bitmap.Row(y), bitmap.Width());
}

void ReduceLikeJpeg(PicBitmap& bitmap)
{
    if (ReducedModeShrinks(bitmap.Width(), bitmap.Height()))
        ReduceBy(bitmap, 8);
}

void PaletteRowToBgra(const std::uint8_t* indices, const std::uint8_t* palette, int width, std::uint8_t* bgra)
{
    for (int x = 0; x < width; ++x)
        std::memcpy(bgra + 4 * x, palette + indices[x] * 4, 4);
}

int StreamingReduction(const DecodeOptions& options, long long width, long long height)
{
    if (options.mode == DecodeMode::Reduced)
        return ReducedModeShrinks(width, height) ? 8 : 1;
    if (options.usefulWidth <= 0 || options.usefulHeight <= 0)
        return 1;
    for (int factor = 8; factor > 1; factor /= 2)
        if (width / factor >= 2LL * options.usefulWidth && height / factor >= 2LL * options.usefulHeight)
            return factor;
    return 1;
}

RowReducer::RowReducer(PicBitmap& target, int width, int height, int factor, bool hasAlpha)
    : target_(target), width_(width), height_(height), factor_(factor), reducedWidth_((width + factor - 1) / factor),
      sums_(static_cast<std::size_t>(reducedWidth_) * 4)
{
    target.CreateUnfilled(reducedWidth_, (height + factor - 1) / factor, 32, hasAlpha);
}

void RowReducer::Put(int y, const std::uint8_t* pixels)
{
    if (y < 0 || y >= height_)
        return;
    const int group = y / factor_;
    if (group != group_) {
        if (rowsIn_ > 0)
            Flush();
        group_ = group;
    }
    for (int x = 0; x < width_; ++x, pixels += 4) {
        std::uint32_t* s = &sums_[static_cast<std::size_t>(x / factor_) * 4];
        s[0] += pixels[0];
        s[1] += pixels[1];
        s[2] += pixels[2];
        s[3] += pixels[3];
    }
    ++rowsIn_;
    if (rowsIn_ == std::min(height_, (group_ + 1) * factor_) - group_ * factor_)
        Flush();
}

void RowReducer::Flush()
{
    // A block row whose rows did not all come (a decoder that stopped early) is averaged
    // over the rows that did.
    const int rows = rowsIn_;
    std::uint8_t* out = target_.Row(group_);
    for (int rx = 0; rx < reducedWidth_; ++rx) {
        const std::uint32_t count =
            static_cast<std::uint32_t>((std::min(width_, rx * factor_ + factor_) - rx * factor_) * rows);
        for (int c = 0; c < 4; ++c)
            out[4 * rx + c] =
                static_cast<std::uint8_t>((sums_[static_cast<std::size_t>(rx) * 4 + c] + count / 2) / count);
    }
    std::fill(sums_.begin(), sums_.end(), 0u);
    rowsIn_ = 0;
}

void ReduceBy(PicBitmap& bitmap, int factor)
{
    if (factor <= 1 || bitmap.BitsPerPixel() != 32)
        return;
    PicBitmap small;
    RowReducer reducer(small, bitmap.Width(), bitmap.Height(), factor, bitmap.HasAlpha());
    for (int y = 0; y < bitmap.Height(); ++y)
        reducer.Put(y, bitmap.Row(y));
    small.SetResolution(bitmap.ResolutionX(), bitmap.ResolutionY());
    bitmap = std::move(small);
}

} // namespace lumivox

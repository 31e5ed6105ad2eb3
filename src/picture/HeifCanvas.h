// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// The canvases of a HEIF file's derived images, checked before libheif sees the file.
//
// A derived image — a grid of tiles (how phones store every photo) or an overlay — is
// drawn by libheif on a canvas of the size that the item's own few bytes of data declare.
// libheif allocates that canvas before it decodes a single tile, and holds it only to a
// limit on each side, not to the image's declared size: a file of a few hundred bytes
// could make it allocate gigabytes. Every grid and overlay item of the file is read here
// from the boxes and held to the same limit as any picture.

#include <cstddef>
#include <cstdint>

namespace lumivox {

// The most tiles a grid may have (a 200-megapixel photo in 512-pixel tiles has 768).
constexpr std::uint64_t kMaxHeifGridTiles = 1024;

// Throws PLTextException (the picture-size error) if a grid or overlay item of the file
// declares a canvas beyond maxPixels or beyond the longest side allowed, and (a format
// error) if a grid has more than kMaxHeifGridTiles tiles. Boxes it cannot
// follow are left to libheif, which reports them as damaged.
void CheckHeifCanvases(const std::uint8_t* data, std::size_t size, std::uint64_t maxPixels);

} // namespace lumivox

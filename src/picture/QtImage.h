// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Conversion between PicBitmap (device-independent-bitmap layout) and QImage, used only
// where drawing happens. A 32-bit PicBitmap pixel (blue, green, red, alpha in memory) is
// exactly a QImage::Format_RGB32 / Format_ARGB32 pixel on a little-endian machine, so
// conversion is a row-by-row copy with the row order turned.

#include "picture/PicBitmap.h"

#include <QtGui/QImage>

namespace lumivox {

// What becomes of a 32-bit bitmap's fourth byte.
enum class PixelAlpha {
    Keep, // an alpha channel when the bitmap has one
    Ignore, // the colours only, opaque
};

// A QImage of the bitmap's pixels: Format_ARGB32 when the bitmap has alpha and alpha is
// kept, otherwise Format_RGB32. 8- and 1-bit bitmaps are expanded through their palette.
// Returns a null QImage for an empty bitmap or when memory is short.
//
// Frames and menu pages are drawn with PixelAlpha::Ignore: bitmap transfers copy the
// colours and never blend, so a picture whose fourth byte is 0 (many 32-bit Windows
// bitmaps, TIFF files with an unused alpha sample) must still show its colours.
QImage ToQImage(const PicBitmap& bitmap, PixelAlpha alpha = PixelAlpha::Keep);

// Makes target a copy of image — the creation of a PicBitmap from a platform bitmap:
// images of more than 8 bits per pixel become 32-bit, indexed and greyscale 8-bit images
// become 8-bit with their palette, 1-bit images become 1-bit. Throws PLTextException
// (code 10) for a null image or one too large to hold.
void FromQImage(const QImage& image, PicBitmap& target);

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Colour management of decoded pictures: a picture file may say, by an embedded ICC
// profile (or a HEIF file by its colour primaries), in which colours its samples are
// meant. Phones store Display P3, cameras Adobe RGB; shown as sRGB unconverted such a
// picture comes out dull or shifted on the television. The decoders hand what the file
// says to these functions, which convert the bitmap to sRGB with Little CMS (perceptual
// intent). A file that says nothing is taken to be sRGB and costs nothing here.
//
// Transforms are built once per distinct profile and kept (a small cache shared by all
// threads), so a folder of photos from one camera pays for one transform.

#include "picture/PicBitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumivox {

// Converts a decoded bitmap whose samples are in the colours of the ICC profile icc to
// sRGB, in place: 32-bit pixels directly (alpha untouched), 8- and 1-bit bitmaps through
// their palette. A grey profile reads each pixel's green sample as the grey level. A
// profile that cannot be read, or whose colour space does not match the pixels (a CMYK
// profile on RGB samples), is ignored: the picture is then shown as it is stored.
void ConvertToSrgb(PicBitmap& bitmap, const std::uint8_t* icc, std::size_t size);
inline void ConvertToSrgb(PicBitmap& bitmap, const std::string& icc)
{
    ConvertToSrgb(bitmap, reinterpret_cast<const std::uint8_t*>(icc.data()), icc.size());
}

// The same for a picture handed over row by row: the profile's transform is looked up
// once, and each 32-bit row is converted as it comes. Does nothing for a profile that
// ConvertToSrgb would ignore.
class SrgbRows {
public:
    SrgbRows(const std::uint8_t* icc, std::size_t size);
    bool Active() const { return entry_ != nullptr; }
    void Convert(std::uint8_t* bgra, int width) const;

private:
    std::shared_ptr<const void> entry_;
};

// Whether icc is a readable CMYK profile (a CMYK JPEG or TIFF then uses it).
bool IsCmykProfile(const std::uint8_t* icc, std::size_t size);

// Converts one row of width CMYK pixels (4 bytes each; inverted: 255 means no ink, as
// Adobe stores it) to blue, green, red, 255 through the CMYK profile icc. False (row
// untouched) when the profile cannot be used.
bool CmykRowToSrgb(const std::uint8_t* icc, std::size_t size, const std::uint8_t* cmyk, std::uint8_t* bgra, int width,
                   bool inverted);

// Converts a bitmap whose samples are in the colours given by HEIF/ITU-T H.273 code
// points (colour primaries, transfer characteristics) to sRGB. Primaries 1 (BT.709,
// which sRGB shares) and 2 (unspecified) and unknown code points leave it unchanged.
void ConvertNclxToSrgb(PicBitmap& bitmap, int colourPrimaries, int transferCharacteristics);

} // namespace lumivox

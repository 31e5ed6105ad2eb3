// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Builders for picture files made inside the tests (bitmaps byte by byte, JPEGs and
// TIFFs through the libraries' encoders) and a plain reference of the resampler.

#include "picture/PLTextException.h"
#include "picture/PicBitmap.h"
#include "picture/PicReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivox::test {

using Bytes = std::vector<std::uint8_t>;

void PutLe16(Bytes& b, unsigned v);
void PutLe32(Bytes& b, std::uint32_t v);

// A Windows bitmap with a 40-byte information header (or OS/2 1.x with infoSize 12).
struct BmpSpec {
    std::int32_t width = 1;
    std::int32_t height = 1; // negative: rows top row first
    int bitsPerPixel = 24;
    std::uint32_t compression = 0;
    std::uint32_t infoSize = 40;
    std::uint32_t coloursUsed = 0;
    std::uint32_t pixelsPerMetre = 0;
    std::vector<std::uint32_t> palette; // 0x00RRGGBB entries
    std::vector<std::uint32_t> masks; // red, green, blue bit fields after the header
    Bytes pixels; // the pixel data exactly as stored
};
Bytes MakeBmp(const BmpSpec& spec);

// JPEG through libjpeg's compressor. components: 1 grey, 3 RGB, 4 CMYK (Adobe inverted
// ink, as Adobe and libjpeg write it); ycck: store CMYK as YCCK. pixel(x, y) gives the
// sample values (components of them) of each pixel.
using PixelFunction = std::function<void(int x, int y, std::uint8_t* out)>;
Bytes MakeJpeg(int width, int height, int components, const PixelFunction& pixel, int quality = 95, bool ycck = false,
               bool progressive = false);

// TIFF through libtiff, written to a temporary file and read back.
struct TiffSpec {
    int width = 1;
    int height = 1;
    int bitsPerSample = 8;
    int samplesPerPixel = 1;
    int photometric = 1;
    int extraSamples = -1; // -1: none; else the EXTRASAMPLE_ value for the last sample
    bool tiled = false;
    bool bigEndian = false; // "MM" byte order
    std::vector<std::uint16_t> red, green, blue; // colour map
    Bytes pixels; // packed rows (scan-line size each)
};
Bytes MakeTiff(const TiffSpec& spec);

// DOS EPS binary header (30 bytes) + PostScript text + TIFF preview.
Bytes MakeEpsWithTiff(const Bytes& tiff);

// Decodes and returns the bitmap; fails the test on an exception.
PicBitmap Decode(const Bytes& file, DecodeMode mode = DecodeMode::Full, int bitsPerPixel = 32);

// Expects decoding to throw PLTextException with the given code (and text, if non-empty).
void ExpectDecodeError(const Bytes& file, int code, const std::string& text = "", DecodeMode mode = DecodeMode::Full);

// The pixel (blue, green, red, alpha) at x, y of a 32-bit bitmap as 0xAARRGGBB.
std::uint32_t PixelAt(const PicBitmap& bitmap, int x, int y);

// The resampler written down directly, one destination pixel at a time.
PicBitmap ReferenceResize(const PicBitmap& source, int width, int height);

// A 32-bit bitmap of random bytes.
PicBitmap RandomBitmap(int width, int height, unsigned seed);

} // namespace lumivox::test

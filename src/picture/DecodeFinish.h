// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The last steps the decoders share: folding transparency into the colours, the reduced
// size for thumbnails, and shrinking a picture row by row while it is decoded.

#include "picture/PicBitmap.h"

#include <cstdint>
#include <vector>

namespace lumivox {

// Composites a 32-bit bitmap's colours over black by its alpha (a frame is drawn without
// alpha, so a transparent corner of a screenshot shows as black, not as whatever colour
// the transparent pixels happen to hold). The alpha bytes are kept for callers that
// composite over another colour: colour + fill x (255 - alpha) / 255 then gives the
// picture over that fill.
void CompositeOverBlack(PicBitmap& bitmap);
// The same for one row of width BGRA pixels.
void CompositeRowOverBlack(std::uint8_t* pixels, int width);

// Reduced mode for formats without scaled decoding: a picture of at least 320 x 240 is
// shrunk to ceil(width / 8) x ceil(height / 8) by averaging each 8 x 8 block, as a JPEG
// of that size would come out of reduced mode. Smaller pictures stay as they are.
void ReduceLikeJpeg(PicBitmap& bitmap);

// One row of width palette indices as blue, green, red, alpha through palette (256 BGRA
// entries), for a decoder that hands indexed rows over to a RowReducer.
void PaletteRowToBgra(const std::uint8_t* indices, const std::uint8_t* palette, int width, std::uint8_t* bgra);

// Whether a picture of that size is shrunk in reduced mode.
inline bool ReducedModeShrinks(long long width, long long height)
{
    return width >= 320 && height >= 240;
}

struct DecodeOptions;

// The factor a decoder that hands over rows one at a time shrinks a width x height picture
// by while it decodes: 8 in reduced mode (as ReduceLikeJpeg would), else the largest of 8,
// 4 and 2 that keeps the picture at least twice its useful size (as a JPEG's reduced
// scale does); 1 for full size. A picture far larger than the frame then never takes its
// full size in memory.
int StreamingReduction(const DecodeOptions& options, long long width, long long height);

// Box-averages rows of a width x height 32-bit picture by factor into target (created
// here at ceil(width / factor) x ceil(height / factor)), as they are decoded: only the
// sums of one row of blocks are held. Rows come in file order, top row first or bottom
// row first, each exactly once; the averages round as ReduceLikeJpeg's do, so reduced
// mode gives the same pixels either way.
class RowReducer;

// Shrinks a whole 32-bit bitmap by factor as RowReducer does (a decoder that could not
// hand its rows over one at a time).
void ReduceBy(PicBitmap& bitmap, int factor);

class RowReducer {
public:
    RowReducer(PicBitmap& target, int width, int height, int factor, bool hasAlpha);
    // Row y of the picture (0 is the top), width BGRA pixels.
    void Put(int y, const std::uint8_t* pixels);

private:
    void Flush();
    PicBitmap& target_;
    int width_;
    int height_;
    int factor_;
    int reducedWidth_;
    int group_ = -1; // the row of blocks being summed
    int rowsIn_ = 0; // rows of it summed so far
    std::vector<std::uint32_t> sums_;
};

} // namespace lumivox

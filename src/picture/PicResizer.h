// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PicResizer: separable two-pass triangle-filter resampler for 32-bit bitmaps with
// exact integer weights (each destination pixel's weights sum to 256).

#include "picture/PicBitmap.h"

namespace lumivox {

class PicResizer : public PLObject {
public:
    PicResizer(int newWidth, int newHeight) : newWidth_(newWidth), newHeight_(newHeight) { }
    // Resizes a 32-bit source into destination (newWidth x newHeight, 32 bits).
    void Apply(const PicBitmap& source, PicBitmap& destination) const;

private:
    int newWidth_;
    int newHeight_;
};

// Makes destination the 32-bit source turned clockwise by 90, 180 or 270 degrees.
void RotateBitmap(const PicBitmap& source, int angle, PicBitmap& destination);

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The last steps the decoders of today's formats (PNG, WebP, HEIF) share: folding
// transparency into the colours, and the reduced size for thumbnails.

#include "picture/PicBitmap.h"

namespace lumivox {

// Composites a 32-bit bitmap's colours over black by its alpha (a frame is drawn without
// alpha, so a transparent corner of a screenshot shows as black, not as whatever colour
// the transparent pixels happen to hold). The alpha bytes are kept for callers that
// composite over another colour: colour + fill x (255 - alpha) / 255 then gives the
// picture over that fill.
void CompositeOverBlack(PicBitmap& bitmap);

// Reduced mode for formats without scaled decoding: a picture of at least 320 x 240 is
// shrunk to ceil(width / 8) x ceil(height / 8) by averaging each 8 x 8 block, as a JPEG
// of that size would come out of reduced mode. Smaller pictures stay as they are.
void ReduceLikeJpeg(PicBitmap& bitmap);

// Whether a picture of that size is shrunk in reduced mode.
inline bool ReducedModeShrinks(long long width, long long height) { return width >= 320 && height >= 240; }

} // namespace lumivox

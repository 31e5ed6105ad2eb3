// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <utility>
// WebpReader: WebP files through libwebp — lossy, lossless and with alpha; an animated
// WebP gives its first frame (its bitstream decoded alone, placed on the canvas).
// Transparency is composited over black, the alpha kept; an embedded ICCP profile is
// honoured. Reduced mode uses the library's scaled output.

#include "picture/PicDecoder.h"

namespace lumivox {

class WebpReader : public PicDecoder {
public:
    void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) override;
    // Reads the container only: the canvas size, checked against the limit.
    // Checks the header (or container) and gives the picture's width and height.
    static std::pair<int, int> Probe(MappedFileSource& source, const DecodeOptions& options);
};

} // namespace lumivox

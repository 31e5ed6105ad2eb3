// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <utility>
// HeifReader: HEIF files — the HEIC photos of today's phones — through libheif and its
// HEVC decoder. The primary image is decoded with its rotation, mirror and crop
// properties applied (in HEIF they, not an EXIF tag, say how the picture stands, so a
// portrait photo stored on its side comes out upright). Its colour box is honoured: an
// ICC profile, or colour primaries such as Display P3. Transparency is composited over
// black, the alpha kept.

#include "picture/PicDecoder.h"

namespace lumivox {

class HeifReader : public PicDecoder {
public:
    void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) override;
    // Reads the container only: the primary image's size, checked against the limit.
    // Checks the header (or container) and gives the picture's width and height.
    static std::pair<int, int> Probe(MappedFileSource& source, const DecodeOptions& options);
};

} // namespace lumivox

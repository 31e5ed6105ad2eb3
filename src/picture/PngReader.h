// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <utility>
// PngReader: PNG files through libpng — palette, grey, 16-bit and interlaced pictures,
// all delivered as 32-bit bitmaps. Transparency (an alpha channel or a tRNS chunk) is
// composited over black, the alpha kept; an embedded iCCP profile is honoured. Text
// chunks are skipped unread.

#include "picture/PicDecoder.h"

namespace lumivox {

class PngReader : public PicDecoder {
public:
    void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) override;
    // Reads the header only: the picture's size, checked against the limit. Throws as
    // Decode would for a file that is not a PNG or too large.
    // Checks the header (or container) and gives the picture's width and height.
    static std::pair<int, int> Probe(MappedFileSource& source, const DecodeOptions& options);
};

} // namespace lumivox

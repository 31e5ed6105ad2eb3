// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// PicDecoder: the one shape of every picture file decoder. PicReader identifies a file
// and hands its memory view to the matching decoder, which fills the target bitmap at
// the depth natural to the file (1, 8 or 32 bits) or throws PLTextException.

#include "picture/MappedFileSource.h"
#include "picture/PicBitmap.h"
#include "picture/PicReader.h"

namespace lumivox {

struct DecodeOptions {
    DecodeMode mode = DecodeMode::Full;
    // Pictures whose width x height exceed this are refused before any allocation.
    std::uint64_t maxPixels = PicBitmap::kMaxPixels;
    // The largest size the picture is shown at, when known (0: not known): a decoder that
    // can decode at a reduced scale does so while the picture stays at least twice that size.
    int usefulWidth = 0;
    int usefulHeight = 0;
};

class PicDecoder : public PLObject {
public:
    virtual void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) = 0;
};

} // namespace lumivox

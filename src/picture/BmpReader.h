// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// BmpReader: Windows and OS/2 bitmaps (1, 4, 8 bits with palette, run-length 4 and 8,
// 16-bit 5-5-5 and 5-6-5, 24 and 32 bits), behind optional OS/2 bitmap-array headers.

#include "picture/PicDecoder.h"

namespace lumivox {

class BmpReader : public PicDecoder {
public:
    void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) override;
};

} // namespace lumivox

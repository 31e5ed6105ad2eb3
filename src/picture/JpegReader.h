// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// JpegReader: JPEG files through libjpeg (the version 62 interface). Floating-point
// inverse transform, plain (not fancy) upsampling, and 1/8 scaled decoding of pictures
// of at least 320 x 240 in reduced mode. Greyscale files give 8-bit grey bitmaps, all
// others 32-bit; CMYK and YCCK files are converted to RGB.

#include "picture/PicDecoder.h"

#include <memory>

namespace lumivox {

class JpegReader : public PicDecoder {
public:
    // Creates the decompression object (with the library's version check); throws
    // PLTextException code 6 when the library refuses.
    JpegReader();
    ~JpegReader() override;
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    void Decode(MappedFileSource& source, PicBitmap& target, const DecodeOptions& options) override;
    // The same, handing the rows over as the library makes them (32 bits, converted to
    // sRGB as Decode's bitmap would be); the decoded picture is never held whole.
    void DecodeRows(MappedFileSource& source, const DecodeOptions& options, PicRowTarget& rows);

private:
    void Run(MappedFileSource& source, const DecodeOptions& options, PicBitmap* bitmap, PicRowTarget* rows);
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace lumivox

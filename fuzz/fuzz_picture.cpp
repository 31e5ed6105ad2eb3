// SPDX-License-Identifier: GPL-2.0-or-later
// Picture identification and every decoder (bitmap, JPEG, TIFF, EPS preview, PNG, WebP,
// HEIF) on arbitrary bytes, in full and reduced mode, followed by the resizer and a
// rotation of whatever decodes. Anything but a PLTextException or a clean result is a bug.

#include "picture/PicReader.h"
#include "picture/PicResizer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lumivox;
    for (DecodeMode mode : {DecodeMode::Full, DecodeMode::Reduced}) {
        PicReader reader;
        reader.SetMode(mode);
        // Keep single inputs cheap: pictures of a few megapixels are plenty to reach
        // every path, and the size checks themselves are still exercised.
        reader.SetMaxPixels(4'000'000);
        PicBitmap bitmap;
        try {
            reader.DecodeMemory(data, size, bitmap, 32);
            PicBitmap small;
            PicResizer(17, 11).Apply(bitmap, small);
            PicBitmap turned;
            RotateBitmap(small, 90, turned);
        } catch (const PLTextException&) { }
    }
    return 0;
}

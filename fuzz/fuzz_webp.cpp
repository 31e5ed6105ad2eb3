// SPDX-License-Identifier: GPL-2.0-or-later
// The WebP decoder on arbitrary bytes: lossy, lossless, alpha, animated (the first frame
// alone, placed on its canvas), with ICCP profiles, in full and reduced mode; then shown
// small, so stills and first frames are scaled by the library at each factor.

#include "FormatFuzzing.h"

#include "picture/PLTextException.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lumivox::FuzzOneFormat(data, size, lumivox::PicFormat::Webp);
    if (lumivox::PicReader::Identify(data, size) != lumivox::PicFormat::Webp)
        return 0;
    // Shown at 16 x 12, 32 x 24 or 64 x 48: a picture of a few hundred pixels is then
    // scaled by 2, 4 or 8.
    lumivox::PicReader reader;
    reader.SetMaxPixels(4'000'000);
    reader.SetUsefulSize(16 << (data[size - 1] % 3), 12 << (data[size - 1] % 3));
    lumivox::PicBitmap bitmap;
    try {
        reader.DecodeMemory(data, size, bitmap, 32);
    } catch (const lumivox::PLTextException&) { }
    return 0;
}

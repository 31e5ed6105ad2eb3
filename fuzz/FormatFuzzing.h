// SPDX-License-Identifier: GPL-2.0-or-later
// The body shared by the fuzz targets of one picture format: inputs that do not identify as
// that format are skipped, so that every run reaches its decoder, which then decodes in full
// and reduced mode. Anything but a PLTextException or a clean result is a bug.
#pragma once

#include "picture/PicReader.h"

#include <cstddef>
#include <cstdint>

namespace lumivox {

inline int FuzzOneFormat(const std::uint8_t* data, std::size_t size, PicFormat format)
{
    if (PicReader::Identify(data, size) != format)
        return 0;
    for (DecodeMode mode : {DecodeMode::Full, DecodeMode::Reduced}) {
        PicReader reader;
        reader.SetMode(mode);
        // A few megapixels reach every path; the size checks are still exercised.
        reader.SetMaxPixels(4'000'000);
        PicBitmap bitmap;
        try {
            reader.DecodeMemory(data, size, bitmap, 32);
        } catch (const PLTextException&) { }
    }
    return 0;
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
// The PNG decoder on arbitrary bytes: PNG (palette, grey, 16-bit, interlaced, with iCCP profiles),
// in full and reduced mode. Inputs that do not identify as PNG are skipped, so that
// every run reaches the decoder. Anything but a PLTextException or a clean result is a bug.

#include "picture/PicReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace lumivox;
    if (PicReader::Identify(data, size) != PicFormat::Png) return 0;
    for (DecodeMode mode : {DecodeMode::Full, DecodeMode::Reduced}) {
        PicReader reader;
        reader.SetMode(mode);
        // A few megapixels reach every path; the size checks are still exercised.
        reader.SetMaxPixels(4'000'000);
        PicBitmap bitmap;
        try {
            reader.DecodeMemory(data, size, bitmap, 32);
        } catch (const PLTextException&) {
        }
    }
    return 0;
}

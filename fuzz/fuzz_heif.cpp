// SPDX-License-Identifier: GPL-2.0-or-later
// The HEIF decoder on arbitrary bytes: the HEIC container, HEVC data, rotation and colour boxes,
// in full and reduced mode; and the check of grid and overlay layouts (canvas size, tile
// count) on the bytes as they come, so that it is reached also without a valid file type.

#include "FormatFuzzing.h"
#include "picture/HeifCanvas.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        lumivox::CheckHeifCanvases(data, size, 4'000'000);
    } catch (const lumivox::PLTextException&) { }
    return lumivox::FuzzOneFormat(data, size, lumivox::PicFormat::Heif);
}

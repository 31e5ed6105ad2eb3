// SPDX-License-Identifier: GPL-2.0-or-later
// The HEIF decoder on arbitrary bytes: the HEIC container, HEVC data, rotation and colour boxes,
// in full and reduced mode.

#include "FormatFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return lumivox::FuzzOneFormat(data, size, lumivox::PicFormat::Heif);
}

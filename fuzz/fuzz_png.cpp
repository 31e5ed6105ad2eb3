// SPDX-License-Identifier: GPL-2.0-or-later
// The PNG decoder on arbitrary bytes: palette, grey, 16-bit, interlaced, with iCCP profiles,
// in full and reduced mode.

#include "FormatFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return lumivox::FuzzOneFormat(data, size, lumivox::PicFormat::Png);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The WebP decoder on arbitrary bytes: lossy, lossless, alpha, animated, with ICCP profiles,
// in full and reduced mode.

#include "FormatFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return lumivox::FuzzOneFormat(data, size, lumivox::PicFormat::Webp);
}

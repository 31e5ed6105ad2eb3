// SPDX-License-Identifier: GPL-2.0-or-later
// The PNG decoder on arbitrary bytes: palette, grey, 16-bit, interlaced, with iCCP profiles
// and text chunks, in full and reduced mode; then shown small (an interlaced picture
// reduced pass by pass, a profile applied row by row) with a cancel at a step the input
// chooses, so the decode stops from the middle of its rows or its input.

#include "FormatFuzzing.h"

#include "picture/PLTextException.h"

#include <atomic>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    lumivox::FuzzOneFormat(data, size, lumivox::PicFormat::Png);
    if (lumivox::PicReader::Identify(data, size) != lumivox::PicFormat::Png)
        return 0;
    std::atomic<bool> cancel{false};
    int steps = 0;
    const int cancelAt = 1 + data[size - 1] % 8;
    const lumivox::DecodeWatchScope watch(&cancel, [&] {
        if (++steps == cancelAt)
            cancel = true;
    });
    lumivox::PicReader reader;
    reader.SetMaxPixels(4'000'000);
    reader.SetUsefulSize(64, 48);
    lumivox::PicBitmap bitmap;
    try {
        reader.DecodeMemory(data, size, bitmap, 32);
    } catch (const lumivox::PLTextException&) { }
    return 0;
}

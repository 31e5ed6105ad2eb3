// SPDX-License-Identifier: GPL-2.0-or-later
// Picture identification and every decoder (bitmap, JPEG, TIFF, EPS preview, PNG, WebP,
// HEIF) on arbitrary bytes, in full and reduced mode, followed by the resizer and a
// rotation of whatever decodes, and row by row as a slide takes it; then read from a file
// (its size check, the copy counted in the decode budget, the probe's header read). Anything
// but a PLTextException or a clean result is a bug.

#include "picture/PicReader.h"
#include "picture/PicResizer.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Reads every byte of every row handed over, so that a row short of its width is caught.
class RowChecker : public lumivox::PicRowTarget {
public:
    void Begin(int width, int height, bool) override
    {
        width_ = width;
        height_ = height;
    }
    void Row(const std::uint8_t* pixels) override
    {
        if (++rows_ > height_)
            __builtin_trap();
        unsigned sum = 0;
        for (int i = 0; i < width_ * 4; ++i)
            sum += pixels[i];
        sum_ = sum;
    }
    volatile unsigned sum_ = 0;

private:
    int width_ = 0;
    int height_ = 0;
    int rows_ = 0;
};

} // namespace

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
    // Row by row, at the reduced scale a slide's decode takes.
    PicReader reader;
    reader.SetMaxPixels(4'000'000);
    reader.SetUsefulSize(64, 48);
    RowChecker rows;
    try {
        reader.DecodeMemoryRows(data, size, rows);
    } catch (const PLTextException&) { }
    // The same bytes as a file in memory, no disk: decoded from its path and probed.
    static const int file = memfd_create("fuzz_picture", 0);
    if (file >= 0 && ftruncate(file, 0) == 0 && pwrite(file, data, size, 0) == static_cast<ssize_t>(size)) {
        const std::string path = "/proc/self/fd/" + std::to_string(file);
        try {
            PicBitmap bitmap;
            reader.DecodeFile(path, bitmap, 32);
        } catch (const PLTextException&) { }
        try {
            reader.ProbeFile(path);
        } catch (const PLTextException&) { }
    }
    return 0;
}

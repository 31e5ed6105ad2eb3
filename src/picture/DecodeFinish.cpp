// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/DecodeFinish.h"

#include <algorithm>
#include <vector>

namespace lumivox {

void CompositeOverBlack(PicBitmap& bitmap) {
    if (bitmap.BitsPerPixel() != 32) return;
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 4) {
            const unsigned a = p[3];
            if (a == 255) continue;
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
        }
    }
}

void ReduceLikeJpeg(PicBitmap& bitmap) {
    if (bitmap.BitsPerPixel() != 32 || !ReducedModeShrinks(bitmap.Width(), bitmap.Height())) return;
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const int rw = (w + 7) / 8;
    const int rh = (h + 7) / 8;
    PicBitmap small;
    small.CreateUnfilled(rw, rh, 32, bitmap.HasAlpha());
    small.SetResolution(bitmap.ResolutionX(), bitmap.ResolutionY());
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(rw) * 4);
    for (int ry = 0; ry < rh; ++ry) {
        std::fill(sums.begin(), sums.end(), 0u);
        const int y0 = ry * 8;
        const int y1 = std::min(h, y0 + 8);
        for (int y = y0; y < y1; ++y) {
            const std::uint8_t* p = bitmap.Row(y);
            for (int x = 0; x < w; ++x, p += 4) {
                std::uint32_t* s = &sums[static_cast<std::size_t>(x / 8) * 4];
                s[0] += p[0];
                s[1] += p[1];
                s[2] += p[2];
                s[3] += p[3];
            }
        }
        std::uint8_t* out = small.Row(ry);
        for (int rx = 0; rx < rw; ++rx) {
            const std::uint32_t count = static_cast<std::uint32_t>((std::min(w, rx * 8 + 8) - rx * 8) * (y1 - y0));
            for (int c = 0; c < 4; ++c)
                out[4 * rx + c] = static_cast<std::uint8_t>((sums[static_cast<std::size_t>(rx) * 4 + c] + count / 2) / count);
        }
    }
    bitmap = std::move(small);
}

} // namespace lumivox

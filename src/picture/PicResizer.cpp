// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/PicResizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// The resampler's inner loops are plain integer multiply-adds over whole rows; let GCC
// vectorise them fully even in builds that stop at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

namespace lumivox {

namespace {

constexpr double kFilterRadius = 0.64;

double Triangle(double x)
{
    x = std::fabs(x);
    return x < kFilterRadius ? kFilterRadius - x : 0.0;
}

// The integer weights of one pass, laid out with the same number of taps for every
// destination index so that the inner loops have a fixed trip count. Each destination
// index d reads source indices first[d] .. first[d] + taps - 1; padding taps weigh 0.
struct PassWeights {
    int taps = 0;
    std::vector<int> first;
    std::vector<std::int32_t> weights; // taps per destination index
};

PassWeights ComputeWeights(int sourceSize, int destSize)
{
    const double scale = static_cast<double>(destSize) / sourceSize;
    double radius = kFilterRadius;
    double f = 1.0;
    if (scale < 1.0) {
        // Shrinking: the kernel widens so that every source pixel contributes.
        radius = kFilterRadius / scale;
        f = scale;
    }
    const int maxTaps = 2 * static_cast<int>(std::ceil(radius)) + 1;

    std::vector<int> left(static_cast<std::size_t>(destSize));
    std::vector<std::vector<std::int32_t>> perDest(static_cast<std::size_t>(destSize));
    int taps = 1;
    for (int j = 0; j < destSize; ++j) {
        const double centre = (j + 0.5) / scale - 0.5;
        int lo = std::max(0, static_cast<int>(std::floor(centre - radius)));
        int hi = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + radius)));
        if (hi - lo + 1 > maxTaps)
            hi = lo + maxTaps - 1;
        std::vector<std::int32_t>& w = perDest[static_cast<std::size_t>(j)];
        std::vector<double> exact;
        long long sum = 0;
        double exactSum = 0;
        for (int k = lo; k <= hi; ++k) {
            const double e = f * Triangle(f * (centre - k));
            exact.push_back(e);
            exactSum += e;
            const auto v = static_cast<std::int32_t>(e * 256.0);
            w.push_back(v);
            sum += v;
        }
        if (sum > 0) {
            std::int32_t others = 0;
            for (std::size_t i = 0; i + 1 < w.size(); ++i) {
                w[i] = static_cast<std::int32_t>(w[i] * 256LL / sum);
                others += w[i];
            }
            w.back() = 256 - others;
        } else if (exactSum > 0) {
            // A very strong reduction makes every truncated weight 0, which would turn
            // the picture black; share the 256 by the exact weights instead.
            std::int32_t others = 0;
            for (std::size_t i = 0; i + 1 < w.size(); ++i) {
                w[i] = static_cast<std::int32_t>(exact[i] * 256.0 / exactSum);
                others += w[i];
            }
            w.back() = 256 - others;
        }
        left[static_cast<std::size_t>(j)] = lo;
        taps = std::max(taps, static_cast<int>(w.size()));
    }

    PassWeights pass;
    pass.taps = taps; // never more than sourceSize
    pass.first.resize(static_cast<std::size_t>(destSize));
    pass.weights.assign(static_cast<std::size_t>(destSize) * taps, 0);
    for (int j = 0; j < destSize; ++j) {
        const auto& w = perDest[static_cast<std::size_t>(j)];
        int start = left[static_cast<std::size_t>(j)];
        int shift = 0;
        if (start + taps > sourceSize) {
            shift = start + taps - sourceSize;
            start -= shift;
        }
        pass.first[static_cast<std::size_t>(j)] = start;
        std::int32_t* out = &pass.weights[static_cast<std::size_t>(j) * taps];
        for (std::size_t i = 0; i < w.size(); ++i)
            out[static_cast<std::size_t>(shift) + i] = w[i];
    }
    return pass;
}

// Horizontal pass: one source row of width pixels into one row of pass.first.size().
void ResizeRow(const std::uint8_t* src, std::uint8_t* dst, const PassWeights& pass)
{
    const int taps = pass.taps;
    const std::size_t count = pass.first.size();
    const std::int32_t* w = pass.weights.data();
    for (std::size_t d = 0; d < count; ++d, w += taps) {
        const std::uint8_t* s = src + static_cast<std::size_t>(pass.first[d]) * 4;
        std::int32_t acc[4] = {128, 128, 128, 128};
        for (int t = 0; t < taps; ++t) {
            const std::int32_t wt = w[t];
            for (int c = 0; c < 4; ++c)
                acc[c] += wt * s[t * 4 + c];
        }
        for (int c = 0; c < 4; ++c)
            dst[d * 4 + c] = static_cast<std::uint8_t>(acc[c] >> 8);
    }
}

} // namespace

void PicResizer::Apply(const PicBitmap& source, PicBitmap& destination) const
{
    if (source.BitsPerPixel() != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    PicBitmap::CheckSize(newWidth_, newHeight_);
    PicBitmap::CheckSize(source.Width(), source.Height()); // an emptied (moved-from) source
    const int sw = source.Width();
    const int sh = source.Height();
    const int dw = newWidth_;
    const int dh = newHeight_;

    const PassWeights horizontal = ComputeWeights(sw, dw);
    const PassWeights vertical = ComputeWeights(sh, dh);

    // Intermediate: destination width x source height, rows top first, unpadded
    // (32-bit rows need no padding).
    const std::size_t interStride = static_cast<std::size_t>(dw) * 4;
    std::vector<std::uint8_t> inter;
    std::vector<std::int32_t> acc;
    try {
        inter.resize(interStride * static_cast<std::size_t>(sh));
        acc.resize(interStride);
    } catch (const std::bad_alloc&) {
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    }
    for (int y = 0; y < sh; ++y)
        ResizeRow(source.Row(y), inter.data() + interStride * static_cast<std::size_t>(y), horizontal);

    PicBitmap result;
    result.Create(dw, dh, 32, source.HasAlpha());
    result.SetResolution(source.ResolutionX(), source.ResolutionY());
    const int taps = vertical.taps;
    const std::size_t n = interStride;
    std::int32_t* a = acc.data();
    for (int y = 0; y < dh; ++y) {
        std::fill(acc.begin(), acc.end(), 128);
        const std::int32_t* w = &vertical.weights[static_cast<std::size_t>(y) * taps];
        const int first = vertical.first[static_cast<std::size_t>(y)];
        for (int t = 0; t < taps; ++t) {
            const std::int32_t wt = w[t];
            if (wt == 0)
                continue;
            const std::uint8_t* s = inter.data() + interStride * static_cast<std::size_t>(first + t);
            for (std::size_t i = 0; i < n; ++i)
                a[i] += wt * s[i];
        }
        std::uint8_t* out = result.Row(y);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(a[i] >> 8);
    }
    destination = std::move(result);
}

void RotateBitmap(const PicBitmap& source, int angle, PicBitmap& destination)
{
    if (source.BitsPerPixel() != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    if (angle != 90 && angle != 180 && angle != 270)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Rotation must be 90, 180 or 270 degrees.");
    const int w = source.Width();
    const int h = source.Height();
    PicBitmap result;
    if (angle == 180)
        result.Create(w, h, 32, source.HasAlpha());
    else
        result.Create(h, w, 32, source.HasAlpha());
    for (int r = 0; r < h; ++r) {
        const auto* in = reinterpret_cast<const std::uint8_t*>(source.Row(r));
        for (int c = 0; c < w; ++c) {
            int row = 0;
            int col = 0;
            switch (angle) {
            case 90:
                row = c;
                col = h - 1 - r;
                break;
            case 180:
                row = h - 1 - r;
                col = w - 1 - c;
                break;
            default:
                row = w - 1 - c;
                col = r;
                break;
            }
            std::memcpy(result.Row(row) + static_cast<std::size_t>(col) * 4, in + static_cast<std::size_t>(c) * 4, 4);
        }
    }
    result.SetResolution(angle == 180 ? source.ResolutionX() : source.ResolutionY(),
                         angle == 180 ? source.ResolutionY() : source.ResolutionX());
    destination = std::move(result);
}

} // namespace lumivox

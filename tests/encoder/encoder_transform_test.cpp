// SPDX-License-Identifier: GPL-2.0-or-later
// The still encoder's block transforms: the inverse meets the IEEE 1180 accuracy limits
// (the standard's random-block procedure, against a double-precision inverse of our own),
// and the forward transform equals the exact DCT to within one level of rounding.

#include "production/BlockTransforms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace lumivox {
namespace {

// The DCT basis: c[u][x] = a(u) cos((2x + 1) u pi / 16).
struct Basis {
    double c[8][8];
    Basis()
    {
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                c[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * M_PI / 16.0);
    }
    void Forward(const double* in, double* out) const
    {
        for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v) {
                double sum = 0;
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        sum += c[u][y] * c[v][x] * in[y * 8 + x];
                out[u * 8 + v] = sum;
            }
    }
    void Inverse(const double* in, double* out) const
    {
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                double sum = 0;
                for (int u = 0; u < 8; ++u)
                    for (int v = 0; v < 8; ++v)
                        sum += c[u][y] * c[v][x] * in[u * 8 + v];
                out[y * 8 + x] = sum;
            }
    }
};

// The standard's pseudo-random generator: integers in [-low, high].
class Ieee1180Random {
public:
    long Next(long low, long high)
    {
        state_ = state_ * 1103515245 + 12345;
        const long i = static_cast<long>(state_ & 0x7ffffffe);
        const double x = static_cast<double>(i) / static_cast<double>(0x7fffffff) * static_cast<double>(low + high + 1);
        return static_cast<long>(x) - low;
    }

private:
    unsigned long state_ = 1;
};

TEST(StillTransforms, InverseMeetsIeee1180)
{
    const Basis basis;
    const BlockTransform inverse = FastBlockTransforms().inverse;
    struct Case {
        long low, high;
        int sign;
    } cases[] = {{256, 255, 1}, {256, 255, -1}, {5, 5, 1}, {5, 5, -1}, {300, 300, 1}, {300, 300, -1}};
    constexpr int kBlocks = 10000;
    for (const Case& c : cases) {
        SCOPED_TRACE("range -" + std::to_string(c.low) + ".." + std::to_string(c.high) + " sign " +
                     std::to_string(c.sign));
        Ieee1180Random random;
        double errorSum[64] = {}, squareSum[64] = {};
        int peak = 0;
        for (int b = 0; b < kBlocks; ++b) {
            double samples[64], exact[64], coefficients[64], reference[64];
            std::int16_t block[64];
            for (double& s : samples)
                s = static_cast<double>(random.Next(c.low, c.high) * c.sign);
            basis.Forward(samples, exact);
            for (int i = 0; i < 64; ++i) {
                coefficients[i] = std::clamp(std::floor(exact[i] + 0.5), -2048.0, 2047.0);
                block[i] = static_cast<std::int16_t>(coefficients[i]);
            }
            basis.Inverse(coefficients, reference);
            inverse(block);
            for (int i = 0; i < 64; ++i) {
                const int want = static_cast<int>(std::clamp(std::floor(reference[i] + 0.5), -256.0, 255.0));
                const int error = block[i] - want;
                peak = std::max(peak, std::abs(error));
                errorSum[i] += error;
                squareSum[i] += error * error;
            }
        }
        double overallError = 0, overallSquare = 0, worstMean = 0, worstSquare = 0;
        for (int i = 0; i < 64; ++i) {
            overallError += errorSum[i];
            overallSquare += squareSum[i];
            worstMean = std::max(worstMean, std::fabs(errorSum[i]) / kBlocks);
            worstSquare = std::max(worstSquare, squareSum[i] / kBlocks);
        }
        EXPECT_LE(peak, 1);
        EXPECT_LE(worstSquare, 0.06);
        EXPECT_LE(overallSquare / (64.0 * kBlocks), 0.02);
        EXPECT_LE(worstMean, 0.015);
        EXPECT_LE(std::fabs(overallError) / (64.0 * kBlocks), 0.0015);
    }
    std::int16_t zero[64] = {};
    inverse(zero);
    EXPECT_TRUE(std::all_of(zero, zero + 64, [](std::int16_t v) { return v == 0; })) << "all-zero in, all-zero out";
}

// The forward transform is the DCT itself, rounded: no coefficient is off by more than
// one level from the exact value rounded, and almost none is off at all.
TEST(StillTransforms, ForwardIsTheExactDctToWithinRounding)
{
    const Basis basis;
    Ieee1180Random random;
    for (const BlockTransformPair& pair : {FastBlockTransforms(), ReferenceBlockTransforms()}) {
        int peak = 0;
        long differing = 0;
        for (int b = 0; b < 2000; ++b) {
            // Pixel differences as the encoder transforms them (-255..255).
            double samples[64], exact[64];
            std::int16_t block[64];
            for (int i = 0; i < 64; ++i) {
                samples[i] = static_cast<double>(random.Next(255, 255));
                block[i] = static_cast<std::int16_t>(samples[i]);
            }
            basis.Forward(samples, exact);
            pair.forward(block);
            for (int i = 0; i < 64; ++i) {
                const int error = block[i] - static_cast<int>(std::floor(exact[i] + 0.5));
                peak = std::max(peak, std::abs(error));
                differing += error != 0;
            }
        }
        EXPECT_LE(peak, 1);
        EXPECT_LT(differing, 2000 * 64 / 100) << "more than 1 % of the coefficients are off by one";
    }
}

} // namespace
} // namespace lumivox

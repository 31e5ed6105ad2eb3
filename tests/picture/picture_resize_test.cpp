// SPDX-License-Identifier: GPL-2.0-or-later
// PicBitmap layout, the resampler against its plain reference, and rotation.
#include "picture/PicResizer.h"
#include "picture/picture_decode_helpers.h"

#include <cstring>

using namespace lumivox;
using namespace lumivox::test;

namespace {

// First differing byte of two 32-bit bitmaps of equal size, or -1.
long FirstDifference(const PicBitmap& a, const PicBitmap& b, int& atX, int& atY)
{
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 4; ++x)
            if (a.Row(y)[x] != b.Row(y)[x]) {
                atX = x / 4;
                atY = y;
                return static_cast<long>(y) * a.Width() * 4 + x;
            }
    return -1;
}

} // namespace

TEST(PicBitmapTest, NewBitmapIsSixteenSquareGreyRamp)
{
    PicBitmap b;
    EXPECT_EQ(b.Width(), 16);
    EXPECT_EQ(b.Height(), 16);
    EXPECT_EQ(b.BitsPerPixel(), 8);
    ASSERT_NE(b.Palette(), nullptr);
    EXPECT_EQ(b.Palette()[200 * 4], 200);
    EXPECT_EQ(b.Palette()[200 * 4 + 3], 255);

    // The ramp's step is 255 / (entries - 1): black and white for one bit.
    PicBitmap one;
    one.Create(9, 1, 1, false);
    ASSERT_EQ(one.PaletteEntries(), 2);
    const std::uint8_t* pal = one.Palette();
    EXPECT_EQ((std::vector<int>{pal[0], pal[1], pal[2], pal[3], pal[4], pal[5], pal[6], pal[7]}),
              (std::vector<int>{0, 0, 0, 255, 255, 255, 255, 255}));
    EXPECT_EQ(one.Stride(), 4); // two bytes of bits, padded to 4
}

TEST(PicBitmapTest, DeviceIndependentLayoutWithRowTableFromTop)
{
    PicBitmap b;
    b.Create(3, 5, 32, false);
    EXPECT_EQ(b.Stride(), 12);
    const std::uint8_t* h = b.Header();
    std::int32_t size, width, height;
    std::memcpy(&size, h, 4);
    std::memcpy(&width, h + 4, 4);
    std::memcpy(&height, h + 8, 4);
    EXPECT_EQ(size, 40);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 5); // positive: bottom row first
    EXPECT_EQ(h[12] | (h[13] << 8), 1); // planes
    EXPECT_EQ(h[14] | (h[15] << 8), 32); // bit count
    // Every other field is 0, also once a resolution is carried.
    b.SetResolution(300, 300);
    for (int offset = 16; offset < 40; ++offset)
        EXPECT_EQ(h[offset], 0) << "header byte " << offset;
    EXPECT_EQ(b.Pixels(), h + 40);
    EXPECT_EQ(b.Row(4), b.Pixels()); // bottom row is stored first
    EXPECT_EQ(b.Row(0), b.Pixels() + 4 * 12); // top row last
    EXPECT_EQ(b.RowTable()[1], b.Row(1));

    PicBitmap eight;
    eight.Create(5, 2, 8, false);
    EXPECT_EQ(eight.Stride(), 8); // padded to 4 bytes
    EXPECT_EQ(eight.Pixels(), eight.Header() + 40 + 256 * 4);

    PicBitmap copy(b);
    b.Row(0)[0] = 7;
    EXPECT_EQ(copy.Row(0)[0], 0) << "copies own their pixels";
    copy.CopyFrom(b);
    EXPECT_EQ(copy.Row(0)[0], 7);
    EXPECT_EQ(copy.Row(0), copy.Pixels() + 4 * 12);
}

TEST(PicBitmapTest, RefusesSizesBeyondLimits)
{
    struct Case {
        int w, h;
    };
    for (Case c : {Case{0, 1}, Case{1, -1}, Case{30001, 1}, Case{1, 30001}, Case{20000, 20000}}) {
        PicBitmap b;
        try {
            b.Create(c.w, c.h, 32, false);
            ADD_FAILURE() << c.w << " x " << c.h << " was accepted";
        } catch (const PLTextException& e) {
            EXPECT_EQ(e.GetCode(), PL_ERRNO_MEMORY) << c.w << " x " << c.h;
        }
    }
}

TEST(PicResizerTest, SameSizeReproducesEveryPixel)
{
    const PicBitmap source = RandomBitmap(37, 23, 1);
    PicBitmap out;
    PicResizer(37, 23).Apply(source, out);
    int x = 0, y = 0;
    EXPECT_EQ(FirstDifference(source, out, x, y), -1) << "at " << x << "," << y;
}

TEST(PicResizerTest, MatchesReferenceByteForByte)
{
    struct Case {
        int sw, sh, dw, dh;
    };
    const Case cases[] = {
        {40, 30, 20, 15}, {40, 30, 80, 60}, {17, 9, 5, 31},      {1, 1, 7, 3}, {300, 200, 7, 5},
        {64, 48, 64, 1},  {5, 300, 3, 2},   {123, 77, 704, 396}, {2, 2, 1, 1}, {1000, 3, 9, 3},
    };
    unsigned seed = 10;
    for (const Case& c : cases) {
        const PicBitmap source = RandomBitmap(c.sw, c.sh, seed++);
        PicBitmap fast;
        PicResizer(c.dw, c.dh).Apply(source, fast);
        const PicBitmap reference = ReferenceResize(source, c.dw, c.dh);
        ASSERT_EQ(fast.Width(), c.dw);
        ASSERT_EQ(fast.Height(), c.dh);
        int x = 0, y = 0;
        EXPECT_EQ(FirstDifference(reference, fast, x, y), -1)
            << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " differs at pixel " << x << "," << y << ": "
            << std::hex << PixelAt(reference, x, y) << " vs " << PixelAt(fast, x, y);
    }
}

TEST(PicResizerTest, KnownWeightsOnAStep)
{
    // 4 -> 2: scale 0.5, radius 1.28, f 0.5; destination 0 has centre 0.5 and taps
    // 0..2 with truncated weights 49, 49, 0 -> renormalised 128, 128, 0.
    PicBitmap source;
    source.Create(4, 1, 32, false);
    const std::uint8_t values[4] = {0, 100, 200, 255};
    for (int x = 0; x < 4; ++x)
        std::memset(source.Row(0) + x * 4, values[x], 4);
    PicBitmap out;
    PicResizer(2, 1).Apply(source, out);
    EXPECT_EQ(out.Row(0)[0], (0 * 128 + 100 * 128 + 128) / 256);
    EXPECT_EQ(out.Row(0)[4], (200 * 128 + 255 * 128 + 128) / 256);
}

TEST(PicResizerTest, ExtremeReductionKeepsTheColour)
{
    // At 1/200 every truncated weight is 0; the picture must not turn black.
    PicBitmap source;
    source.Create(2000, 1, 32, false);
    for (int x = 0; x < 2000; ++x)
        std::memcpy(source.Row(0) + x * 4, "\x10\x80\xF0\xFF", 4);
    PicBitmap out;
    PicResizer(10, 1).Apply(source, out);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(PixelAt(out, x, 0), 0xFFF08010u) << "x " << x;
}

TEST(RotateBitmapTest, MapsPixelsClockwise)
{
    const PicBitmap source = RandomBitmap(5, 3, 99);
    const int W = 5, H = 3;
    struct Case {
        int angle;
        int w, h;
    };
    for (Case c : {Case{90, H, W}, Case{180, W, H}, Case{270, H, W}}) {
        PicBitmap out;
        out.Create(2, 2, 8, false); // previous contents are replaced
        RotateBitmap(source, c.angle, out);
        ASSERT_EQ(out.Width(), c.w);
        ASSERT_EQ(out.Height(), c.h);
        ASSERT_EQ(out.BitsPerPixel(), 32);
        for (int r = 0; r < H; ++r)
            for (int col = 0; col < W; ++col) {
                int row2 = 0, col2 = 0;
                if (c.angle == 90) {
                    row2 = col;
                    col2 = H - 1 - r;
                }
                if (c.angle == 180) {
                    row2 = H - 1 - r;
                    col2 = W - 1 - col;
                }
                if (c.angle == 270) {
                    row2 = W - 1 - col;
                    col2 = r;
                }
                EXPECT_EQ(PixelAt(out, col2, row2), PixelAt(source, col, r))
                    << "angle " << c.angle << " source row " << r << " column " << col;
            }
    }
}

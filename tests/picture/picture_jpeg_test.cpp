// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG decoding: colours, reduced mode sizes, greyscale, CMYK/YCCK, broken files.
#include "picture/picture_decode_helpers.h"

#include <cstdlib>

using namespace lumivox;
using namespace lumivox::test;

namespace {

PixelFunction Solid(std::initializer_list<std::uint8_t> values)
{
    std::vector<std::uint8_t> v(values);
    return [v](int, int, std::uint8_t* out) { std::copy(v.begin(), v.end(), out); };
}

// Expects every pixel within tolerance of 0x00RRGGBB (JPEG is lossy).
void ExpectColour(const PicBitmap& b, std::uint32_t rgb, int tolerance, const std::string& name)
{
    ASSERT_EQ(b.BitsPerPixel(), 32) << name;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const std::uint32_t p = PixelAt(b, x, y);
            for (int shift : {0, 8, 16})
                if (std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((rgb >> shift) & 0xFF)) >
                    tolerance) {
                    ADD_FAILURE() << name << ": pixel " << x << "," << y << std::hex << " is 0x" << p
                                  << ", expected about 0x" << rgb;
                    return;
                }
            ASSERT_EQ(p >> 24, 0xFFu) << name;
        }
}

// Offset of the SOF0 marker's height field.
std::size_t SofSizeOffset(const Bytes& jpeg)
{
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0)
            return i + 5;
    return 0;
}

} // namespace

TEST(JpegReaderTest, ColourPictureGivesBlueGreenRedAlpha)
{
    const Bytes file = MakeJpeg(24, 16, 3, Solid({200, 100, 50}));
    const PicBitmap b = Decode(file);
    EXPECT_EQ(b.Width(), 24);
    EXPECT_EQ(b.Height(), 16);
    EXPECT_FALSE(b.HasAlpha());
    ExpectColour(b, 0xC86432, 3, "rgb");
}

TEST(JpegReaderTest, PictureIsUpright)
{
    // Top half white, bottom half black.
    const Bytes file =
        MakeJpeg(16, 32, 3, [](int, int y, std::uint8_t* out) { out[0] = out[1] = out[2] = y < 16 ? 255 : 0; });
    const PicBitmap b = Decode(file);
    EXPECT_GT(PixelAt(b, 8, 2) & 0xFF, 240u);
    EXPECT_LT(PixelAt(b, 8, 29) & 0xFF, 15u);
}

TEST(JpegReaderTest, ReducedModeSizes)
{
    struct Case {
        int w, h, reducedW, reducedH;
    };
    const Case cases[] = {
        {4000, 3000, 500, 375}, // one eighth
        {300, 3000, 300, 3000}, // narrower than 320: full size
        {320, 240, 40, 30},     {321, 241, 41, 31}, // rounded up
        {640, 239, 640, 239}, // lower than 240: full size
    };
    for (const Case& c : cases) {
        const Bytes file = MakeJpeg(c.w, c.h, 3, Solid({10, 200, 30}), 30);
        const PicBitmap reduced = Decode(file, DecodeMode::Reduced);
        EXPECT_EQ(reduced.Width(), c.reducedW) << c.w << "x" << c.h;
        EXPECT_EQ(reduced.Height(), c.reducedH) << c.w << "x" << c.h;
        ExpectColour(reduced, 0x0AC81E, 4, "reduced " + std::to_string(c.w));
        if (c.w * c.h <= 1'000'000) {
            const PicBitmap full = Decode(file, DecodeMode::Full);
            EXPECT_EQ(full.Width(), c.w);
            EXPECT_EQ(full.Height(), c.h);
        }
    }
}

TEST(JpegReaderTest, GreyscaleGivesGreyRampEightBitOrGreyPixels)
{
    const Bytes file = MakeJpeg(16, 8, 1, [](int x, int, std::uint8_t* out) { *out = x < 8 ? 40 : 220; });
    const PicBitmap eight = Decode(file, DecodeMode::Full, 8);
    ASSERT_EQ(eight.BitsPerPixel(), 8);
    EXPECT_NEAR(eight.Row(3)[2], 40, 3);
    EXPECT_EQ(eight.Palette()[eight.Row(3)[2] * 4], eight.Row(3)[2]) << "grey ramp palette";
    const Bytes solid = MakeJpeg(16, 8, 1, Solid({40}));
    ExpectColour(Decode(solid), 0x282828, 3, "grey widened to 32 bits");
}

TEST(JpegReaderTest, CmykAndYcckDecodeWithTrueColours)
{
    // Adobe stores ink inverted: 255 means no ink. Red is magenta + yellow.
    struct Case {
        const char* name;
        bool ycck;
        std::initializer_list<std::uint8_t> cmyk;
        std::uint32_t rgb;
    };
    const Case cases[] = {
        {"cmyk red", false, {255, 0, 0, 255}, 0xFF0000},
        {"cmyk blue", false, {0, 0, 255, 255}, 0x0000FF},
        {"cmyk grey via black ink", false, {255, 255, 255, 128}, 0x808080},
        {"ycck green", true, {0, 255, 0, 255}, 0x00FF00},
    };
    for (const Case& c : cases) {
        const Bytes file = MakeJpeg(16, 16, 4, Solid(c.cmyk), 95, c.ycck);
        ExpectColour(Decode(file), c.rgb, 6, c.name);
    }
}

TEST(JpegReaderTest, ProgressiveFileDecodes)
{
    const Bytes file = MakeJpeg(64, 48, 3, Solid({0, 0, 255}), 90, false, true);
    ExpectColour(Decode(file), 0x0000FF, 4, "progressive");
    ExpectColour(Decode(file, DecodeMode::Reduced), 0x0000FF, 4, "progressive reduced");
}

TEST(JpegReaderTest, BrokenFilesFailWithTheirCodes)
{
    const Bytes good = MakeJpeg(64, 64, 3, [](int x, int y, std::uint8_t* out) {
        out[0] = static_cast<std::uint8_t>(x * 4);
        out[1] = static_cast<std::uint8_t>(y * 4);
        out[2] = static_cast<std::uint8_t>(x ^ y);
    });
    const std::size_t sof = SofSizeOffset(good);
    ASSERT_NE(sof, 0u);

    // Only the end marker missing: the whole picture is there and decodes.
    Bytes noEnd(good.begin(), good.end() - 2);
    EXPECT_EQ(Decode(noEnd).Width(), 64);

    struct Case {
        const char* name;
        Bytes file;
        int code;
    };
    Bytes headerOnly(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(sof + 4));
    Bytes tooWide = good;
    tooWide[sof + 2] = 0x75; // width 0x7530 + ... = 30,000 + height 64 is fine;
    tooWide[sof + 3] = 0x31; // 30,001 is not
    Bytes zeroHeight = good;
    zeroHeight[sof] = 0;
    zeroHeight[sof + 1] = 0;
    Bytes garbage = {0xFF, 0xD8, 0xFF};
    for (int i = 0; i < 200; ++i)
        garbage.push_back(static_cast<std::uint8_t>(i * 37));
    Bytes badTables = good;
    for (std::size_t i = 20; i < 120 && i < badTables.size(); ++i)
        badTables[i] ^= 0x5A;
    const Case cases[] = {
        {"cut in the frame header", headerOnly, 11},
        {"wider than the limit", tooWide, 10},
        {"zero height", zeroHeight, 6},
        {"garbage after the start marker", garbage, 6},
        {"corrupted tables", badTables, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.code == 6) {
            // The library decides between its own errors and running out of data.
            PicReader reader;
            PicBitmap b;
            try {
                reader.DecodeMemory(c.file.data(), c.file.size(), b, 32);
            } catch (const PLTextException& e) {
                EXPECT_TRUE(e.GetCode() == 6 || e.GetCode() == 11) << e.GetCode() << " " << e.GetText();
                continue;
            }
            if (std::string(c.name) != "corrupted tables")
                ADD_FAILURE() << "decoded";
            continue;
        }
        ExpectDecodeError(c.file, c.code);
    }
}

TEST(JpegReaderTest, ReaderIsReusableAfterAnError)
{
    PicReader reader;
    PicBitmap b;
    const Bytes good = MakeJpeg(8, 8, 3, Solid({1, 2, 3}));
    const Bytes garbage = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x03, 0x00};
    EXPECT_THROW(reader.DecodeMemory(garbage.data(), garbage.size(), b, 32), PLTextException);
    reader.DecodeMemory(good.data(), good.size(), b, 32);
    EXPECT_EQ(b.Width(), 8);
}

// A file cut short (a camera card pulled too early, a copy that stopped) decodes what it
// holds: the rows before the cut are the picture's own, the library fills the rest.
TEST(JpegReaderTest, TruncatedFilesDecodeWhatTheyHold)
{
    const auto pattern = [](int x, int y, std::uint8_t* out) {
        out[0] = static_cast<std::uint8_t>(x * 2);
        out[1] = static_cast<std::uint8_t>(y * 2);
        out[2] = static_cast<std::uint8_t>((x * y) & 0xFF);
    };
    struct Case {
        const char* name;
        bool progressive;
        DecodeMode mode;
    };
    const Case kinds[] = {{"baseline", false, DecodeMode::Full},
                          {"baseline reduced", false, DecodeMode::Reduced},
                          {"progressive", true, DecodeMode::Full}};
    for (const Case& kind : kinds) {
        const Bytes good = MakeJpeg(480, 320, 3, pattern, 90, false, kind.progressive);
        const PicBitmap whole = Decode(good, kind.mode);
        for (const int percent : {98, 90, 75, 50, 25}) {
            SCOPED_TRACE(std::string(kind.name) + ", cut at " + std::to_string(percent) + " %");
            const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() * percent / 100));
            const PicBitmap part = Decode(cut, kind.mode);
            ASSERT_EQ(part.Width(), whole.Width());
            ASSERT_EQ(part.Height(), whole.Height());
            if (kind.progressive)
                continue; // the early scans hold every row, each at a coarser quality
            // The top row of blocks lies well before any of the cuts.
            for (int x = 0; x < whole.Width(); ++x)
                ASSERT_EQ(PixelAt(part, x, 0), PixelAt(whole, x, 0)) << "column " << x;
        }
    }
}

// SPDX-License-Identifier: GPL-2.0-or-later
// Windows and OS/2 bitmaps: every depth, run-length escapes, header variants, bad files.
#include "picture/picture_decode_helpers.h"

#include "picture/DecodeFinish.h"

#include <cstring>

using namespace lumivox;
using namespace lumivox::test;

namespace {

using Rows = std::vector<std::vector<std::uint32_t>>; // top row first, 0xAARRGGBB

void ExpectPixels(const PicBitmap& bitmap, const Rows& rows, const std::string& name)
{
    ASSERT_EQ(bitmap.Height(), static_cast<int>(rows.size())) << name;
    ASSERT_EQ(bitmap.Width(), static_cast<int>(rows[0].size())) << name;
    ASSERT_EQ(bitmap.BitsPerPixel(), 32) << name;
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (std::size_t x = 0; x < rows[y].size(); ++x)
            EXPECT_EQ(PixelAt(bitmap, static_cast<int>(x), static_cast<int>(y)), rows[y][x])
                << name << ": pixel " << x << "," << y << std::hex << " got 0x"
                << PixelAt(bitmap, static_cast<int>(x), static_cast<int>(y));
}

const std::vector<std::uint32_t> kPalette16 = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x112233, 0x445566,
                                               0x778899, 0xAABBCC, 0xDDEEFF, 0x101010, 0x202020, 0x303030,
                                               0x404040, 0x505050, 0x606060, 0xFFFFFF};
constexpr std::uint32_t kOpaque = 0xFF000000;

BmpSpec Indexed(int bpp, std::int32_t w, std::int32_t h, Bytes pixels, std::uint32_t compression = 0)
{
    BmpSpec s;
    s.width = w;
    s.height = h;
    s.bitsPerPixel = bpp;
    s.compression = compression;
    s.palette.assign(kPalette16.begin(), kPalette16.begin() + (bpp == 1 ? 2 : 16));
    s.coloursUsed = static_cast<std::uint32_t>(s.palette.size());
    s.pixels = std::move(pixels);
    return s;
}

std::uint32_t P(int index)
{
    return kOpaque | kPalette16[static_cast<std::size_t>(index)];
}

} // namespace

TEST(BmpReaderTest, EveryDepth)
{
    struct Case {
        const char* name;
        BmpSpec spec;
        Rows expected;
    };
    BmpSpec rgb16 = [] {
        BmpSpec s;
        s.width = 2;
        s.height = 1;
        s.bitsPerPixel = 16;
        s.pixels = {0x00, 0x7C, 0x1F, 0x00}; // pure red, pure blue in 5-5-5
        return s;
    }();
    BmpSpec rgb24 = [] {
        BmpSpec s;
        s.width = 2;
        s.height = 2;
        s.bitsPerPixel = 24;
        // Bottom row first, each row padded from 6 to 8 bytes.
        s.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
        return s;
    }();
    BmpSpec rgb32 = [] {
        BmpSpec s;
        s.width = 1;
        s.height = 1;
        s.bitsPerPixel = 32;
        s.pixels = {1, 2, 3, 4};
        return s;
    }();
    const Case cases[] = {
        // 1 bit: bottom row 1 0 1, top row 0 1 0; most significant bit first.
        {"1 bit", Indexed(1, 3, 2, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}), {{P(0), P(1), P(0)}, {P(1), P(0), P(1)}}},
        {"4 bit", Indexed(4, 3, 1, {0x12, 0x30, 0, 0}), {{P(1), P(2), P(3)}}},
        {"8 bit", Indexed(8, 2, 2, {4, 5, 0, 0, 6, 7, 0, 0}), {{P(6), P(7)}, {P(4), P(5)}}},
        {"16 bit 5-5-5", rgb16, {{0xFFF80000u, 0xFF0000F8u}}},
        {"24 bit", rgb24, {{0xFF090807u, 0xFF0C0B0Au}, {0xFF030201u, 0xFF060504u}}},
        {"32 bit copied as stored", rgb32, {{0x04030201u}}},
    };
    for (const Case& c : cases)
        ExpectPixels(Decode(MakeBmp(c.spec)), c.expected, c.name);
}

TEST(BmpReaderTest, SixteenBitGreenMaskChoosesTheLayout)
{
    struct Case {
        std::uint32_t greenMask;
        Rows expected;
    };
    // v = 0xF800 and 0x07E0.
    const Case cases[] = {
        {0x3E0, {{0xFFF00000u, 0xFF08F800u}}}, // 5-5-5: red bits 10..14, green 5..9
        {0x7E0, {{0xFFF80000u, 0xFF00F800u}}}, // 5-6-5: red bits 11..15, green 6..10
    };
    for (const Case& c : cases) {
        BmpSpec s;
        s.width = 2;
        s.height = 1;
        s.bitsPerPixel = 16;
        s.compression = 3;
        s.masks = {c.greenMask == 0x3E0 ? 0x7C00u : 0xF800u, c.greenMask, 0x1F};
        s.pixels = {0x00, 0xF8, 0xE0, 0x07};
        ExpectPixels(Decode(MakeBmp(s)), c.expected, "green mask " + std::to_string(c.greenMask));
    }
}

TEST(BmpReaderTest, TopDownRowsDecodeUpright)
{
    BmpSpec s = Indexed(8, 2, -2, {4, 5, 0, 0, 6, 7, 0, 0});
    ExpectPixels(Decode(MakeBmp(s)), {{P(4), P(5)}, {P(6), P(7)}}, "top-down");
}

TEST(BmpReaderTest, HeaderVariants)
{
    // OS/2 1.x: 16-bit sizes and a palette of 3-byte entries (256 for 8 bits).
    BmpSpec os2 = Indexed(8, 2, 1, {1, 2, 0, 0});
    os2.infoSize = 12;
    os2.palette.resize(256, 0x000000);
    ExpectPixels(Decode(MakeBmp(os2)), {{P(1), P(2)}}, "OS/2 1.x");

    // Bitmap-array headers in front of the file header.
    Bytes arrayFile = MakeBmp(Indexed(8, 2, 1, {3, 15, 0, 0}));
    Bytes prefix = {'B', 'A'};
    PutLe32(prefix, 0);
    PutLe32(prefix, 0);
    PutLe16(prefix, 0);
    PutLe16(prefix, 0);
    // Offsets in the file header count from the start of the whole file.
    Bytes withArray = prefix;
    withArray.insert(withArray.end(), prefix.begin(), prefix.end());
    withArray.insert(withArray.end(), arrayFile.begin(), arrayFile.end());
    const std::uint32_t offset = 28 + 14 + 40 + 16 * 4;
    for (int i = 0; i < 4; ++i)
        withArray[28 + 10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    ExpectPixels(Decode(withArray), {{P(3), P(15)}}, "bitmap array");

    // Windows version 5 header (124 bytes): 4-byte palette entries, as written by
    // today's programs.
    BmpSpec v5 = Indexed(8, 2, 1, {7, 8, 0, 0});
    v5.infoSize = 124;
    ExpectPixels(Decode(MakeBmp(v5)), {{P(7), P(8)}}, "version 5 header");
}

TEST(BmpReaderTest, ResolutionFromPixelsPerMetre)
{
    BmpSpec s = Indexed(8, 1, 1, {0, 0, 0, 0});
    s.pixelsPerMetre = 2835;
    EXPECT_EQ(Decode(MakeBmp(s)).ResolutionX(), 72);
    s.pixelsPerMetre = 0;
    EXPECT_EQ(Decode(MakeBmp(s)).ResolutionX(), 150);
}

TEST(BmpReaderTest, RunLengthEightBit)
{
    // Literal runs need at least 3 entries (0 followed by 1 or 2 is an escape).
    const Bytes pixels = {3, 1, 2, 4, // row 0: 1 1 1 4 4
                          0, 0, // end of row
                          0, 3, 5, 6, 7, 0, // row 1: literal 5 6 7 + pad byte
                          1, 8, 0, 0, // row 1: 8, end of row
                          0, 1}; // end of bitmap (row 2 stays index 0)
    BmpSpec s = Indexed(8, 5, 3, pixels, 1);
    ExpectPixels(Decode(MakeBmp(s)),
                 {{P(0), P(0), P(0), P(0), P(0)}, {P(5), P(6), P(7), P(8), P(0)}, {P(1), P(1), P(1), P(4), P(4)}},
                 "RLE8");
}

TEST(BmpReaderTest, RunLengthFourBit)
{
    // Literal of 3 nibbles occupies 2 bytes (even), literal of 5 nibbles 3 bytes (odd: pad).
    const Bytes data = {5, 0x12, // row 0: 1 2 1 2 1
                        0, 0, // end of row
                        0, 3,    0x34, 0x50, // row 1: 3 4 5
                        2, 0xF0, // row 1: 15 0
                        0, 0, // end of row
                        0, 5,    0x67, 0x89, 0xA0, 0, // row 2: 6 7 8 9 10, pad byte
                        0, 1};
    BmpSpec s = Indexed(4, 5, 3, data, 2);
    ExpectPixels(Decode(MakeBmp(s)),
                 {{P(6), P(7), P(8), P(9), P(10)}, {P(3), P(4), P(5), P(15), P(0)}, {P(1), P(2), P(1), P(2), P(1)}},
                 "RLE4");
}

TEST(BmpReaderTest, BrokenFilesFailWithTheirCodes)
{
    struct Case {
        const char* name;
        Bytes file;
        int code;
        std::string text;
    };
    auto withHeaderField = [](Bytes file, std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            file[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
        return file;
    };
    const Bytes good8 = MakeBmp(Indexed(8, 2, 2, {4, 5, 0, 0, 6, 7, 0, 0}));
    Bytes truncated = good8;
    truncated.resize(truncated.size() - 3);
    Bytes badBpp = good8;
    badBpp[14 + 14] = 7;
    Bytes arrayThenJunk = {'B', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'X', 'Y'};
    arrayThenJunk.resize(80, 0);
    const Case cases[] = {
        {"delta escape RLE8", MakeBmp(Indexed(8, 4, 2, {2, 1, 0, 2, 1, 1, 0, 1}, 1)), 6, "Encountered delta escape."},
        {"delta escape RLE4", MakeBmp(Indexed(4, 4, 2, {0, 2, 1, 1, 0, 1}, 2)), 6, "Encountered delta escape."},
        {"RLE without end", MakeBmp(Indexed(8, 4, 2, {2, 1}, 1)), 11, "End of file reached while decoding.\n"},
        {"truncated pixels", truncated, 11, "End of file reached while decoding.\n"},
        {"illegal depth", badBpp, 2, "Decoding bmp: Illegal bpp value."},
        {"not a bitmap after array header", arrayThenJunk, 1, "Bitmap decoder: This isn't a bitmap."},
        {"zero width", withHeaderField(good8, 18, 0), 1, ""},
        {"too wide", withHeaderField(good8, 18, 30001), 10, ""},
        {"too many pixels", withHeaderField(withHeaderField(good8, 18, 20000), 22, 20000), 10, ""},
        {"huge negative height", withHeaderField(good8, 22, 0x80000000u), 10, ""},
        {"huge palette count", withHeaderField(good8, 14 + 32, 0xFFFFFFFFu), 0, ""},
        {"header size past the end", withHeaderField(good8, 14, 0x7FFFFFFF), 11, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.code == 0) {
            // Must decode or fail cleanly; here the palette count is capped to 256.
            PicReader reader;
            PicBitmap b;
            try {
                reader.DecodeMemory(c.file.data(), c.file.size(), b, 32);
            } catch (const PLTextException&) { }
            continue;
        }
        ExpectDecodeError(c.file, c.code, c.text);
    }
}

// OS/2 2.x information headers (16 to 64 bytes) are followed by 4-byte palette entries,
// as the Windows ones; only the 12-byte OS/2 1.x header has 3-byte entries.
TEST(BmpReaderTest, Os2VersionTwoPaletteHasFourByteEntries)
{
    struct Case {
        const char* name;
        std::uint32_t infoSize;
        int bitsPerPixel;
        Bytes pixels;
        Rows expected;
    };
    const Case cases[] = {
        {"64-byte header, 4 bits", 64, 4, {0x21, 0x30, 0, 0}, {{P(2), P(1), P(3), P(0)}}},
        {"64-byte header, 8 bits", 64, 8, {3, 2, 1, 0}, {{P(3), P(2), P(1), P(0)}}},
        {"40-byte prefix of an OS/2 2.x header", 48, 8, {1, 3, 0, 2}, {{P(1), P(3), P(0), P(2)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A four-colour palette, as the colours-used field says.
        BmpSpec s = Indexed(c.bitsPerPixel, 4, 1, c.pixels);
        s.infoSize = c.infoSize;
        s.palette.resize(4);
        s.coloursUsed = 4;
        ExpectPixels(Decode(MakeBmp(s)), c.expected, c.name);
    }
}

// Indices past the file's palette take the grey ramp of the 8-bit target (entry i is
// grey i); run-length runs that run past a row are cut at the row's end, and the data
// after them is read where the writer put it.
TEST(BmpReaderTest, DamagedIndexedDataDecodesWithRampAndClipping)
{
    auto grey = [](int level) { return kOpaque | static_cast<std::uint32_t>(level) * 0x010101u; };
    struct Case {
        const char* name;
        BmpSpec spec;
        Rows expected;
    };
    const Case cases[] = {
        {"index past a 16-entry palette", Indexed(8, 2, 1, {1, 16, 0, 0}), {{P(1), grey(16)}}},
        {"RLE index past the palette", Indexed(8, 2, 1, {2, 200, 0, 1}, 1), {{grey(200), grey(200)}}},
        {"RLE run past the row",
         Indexed(8, 4, 2, {5, 1, 0, 0, 1, 2, 0, 1}, 1),
         {{P(2), P(0), P(0), P(0)}, {P(1), P(1), P(1), P(1)}}},
        {"RLE literal past the row",
         Indexed(8, 2, 2, {0, 3, 4, 5, 6, 0, 0, 0, 2, 7, 0, 1}, 1),
         {{P(7), P(7)}, {P(4), P(5)}}},
        {"RLE4 literal past the row", Indexed(4, 3, 1, {0, 5, 0x12, 0x34, 0x50, 0, 0, 1}, 2), {{P(1), P(2), P(3)}}},
        {"runs after the row is full add nothing", Indexed(8, 2, 1, {2, 3, 4, 9, 0, 1}, 1), {{P(3), P(3)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectPixels(Decode(MakeBmp(c.spec)), c.expected, c.name);
    }
}

// A picture far larger than it is shown is shrunk while its rows are decoded: reduced
// mode gives exactly what decoding it whole and then reducing would, in every layout, and
// a few run-length bytes declaring 9,000 x 9,000 pixels never take that size in memory.
TEST(BmpReaderTest, LargePicturesShrinkRowByRow)
{
    auto noise = [](std::size_t bytes, unsigned seed) {
        Bytes out(bytes);
        for (auto& b : out)
            b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        return out;
    };
    auto sized = [](BmpSpec s, std::int32_t w, std::int32_t h, int bpp) {
        s.width = w;
        s.height = h;
        s.bitsPerPixel = bpp;
        return s;
    };
    BmpSpec rle = Indexed(8, 341, 250, {});
    rle.compression = 1;
    for (int row = 0; row < 200; ++row) // runs and a literal per row, then an early end
        rle.pixels.insert(rle.pixels.end(), {255, static_cast<std::uint8_t>(row % 16), 86,
                                             static_cast<std::uint8_t>(row % 7), 0, 3, 1, 2, 3, 0, 0, 0});
    rle.pixels.insert(rle.pixels.end(), {0, 1});
    BmpSpec indexedTopDown = Indexed(4, 330, -245, noise(168 * 245, 3));
    BmpSpec rgb = sized({}, 333, 250, 24);
    rgb.pixels = noise(1000 * 250, 1);
    BmpSpec alpha = sized({}, 321, 241, 32);
    alpha.pixels = noise(321 * 4 * 241, 2);
    const std::pair<const char*, BmpSpec> cases[] = {
        {"24-bit", rgb}, {"32-bit", alpha}, {"4-bit top-down", indexedTopDown}, {"RLE8", rle}};
    for (const auto& [name, spec] : cases) {
        SCOPED_TRACE(name);
        const Bytes file = MakeBmp(spec);
        PicBitmap whole = Decode(file);
        ReduceLikeJpeg(whole);
        const PicBitmap reduced = Decode(file, DecodeMode::Reduced);
        ASSERT_EQ(reduced.Width(), whole.Width()) << name;
        ASSERT_EQ(reduced.Height(), whole.Height()) << name;
        for (int y = 0; y < whole.Height(); ++y)
            ASSERT_EQ(std::memcmp(reduced.Row(y), whole.Row(y), static_cast<std::size_t>(whole.Width()) * 4), 0)
                << name << ": row " << y;
    }

    // Shown at 80 x 60, a 333 x 250 picture is kept at least twice that: halved.
    PicReader reader;
    reader.SetUsefulSize(80, 60);
    const Bytes rgbFile = MakeBmp(rgb);
    PicBitmap half;
    reader.DecodeMemory(rgbFile.data(), rgbFile.size(), half);
    EXPECT_EQ(half.Width(), 167);
    EXPECT_EQ(half.Height(), 125);

    BmpSpec huge = Indexed(8, 9000, 9000, {0, 0, 0, 1}, 1); // one empty row, then the end
    reader.SetUsefulSize(704, 576);
    const Bytes hugeFile = MakeBmp(huge);
    PicBitmap frame;
    reader.DecodeMemory(hugeFile.data(), hugeFile.size(), frame);
    EXPECT_EQ(frame.Width(), 2250); // a quarter: still twice the frame
    EXPECT_EQ(frame.Height(), 2250);
    EXPECT_EQ(PixelAt(frame, 600, 600), P(0));
}

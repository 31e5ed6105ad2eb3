// SPDX-License-Identifier: GPL-2.0-or-later
// TIFF decoding (low-colour and RGBA paths) and EPS files with a TIFF preview.
#include "picture/picture_decode_helpers.h"

#include "picture/DecodeFinish.h"

#include <cstring>

#include <tiffio.h>

using namespace lumivox;
using namespace lumivox::test;

namespace {

std::vector<std::uint32_t> TopRow(const PicBitmap& b)
{
    std::vector<std::uint32_t> row;
    for (int x = 0; x < b.Width(); ++x)
        row.push_back(PixelAt(b, x, 0));
    return row;
}

std::string Hex(const std::vector<std::uint32_t>& v)
{
    std::string s;
    char buf[16];
    for (std::uint32_t p : v) {
        std::snprintf(buf, sizeof buf, "%08X ", p);
        s += buf;
    }
    return s;
}

TiffSpec OneRow(int bits, int samples, int photometric, Bytes pixels, int width)
{
    TiffSpec s;
    s.width = width;
    s.height = 1;
    s.bitsPerSample = bits;
    s.samplesPerPixel = samples;
    s.photometric = photometric;
    s.pixels = std::move(pixels);
    return s;
}

} // namespace

TEST(TiffDecoderTest, LowColourAndFullColourPaths)
{
    struct Case {
        const char* name;
        TiffSpec spec;
        std::vector<std::uint32_t> expected; // top row, 0xAARRGGBB
        int nativeDepth;
    };
    TiffSpec palette16 = OneRow(8, 1, PHOTOMETRIC_PALETTE, {0, 1, 2}, 3);
    palette16.red.assign(256, 0);
    palette16.green.assign(256, 0);
    palette16.blue.assign(256, 0);
    palette16.red[1] = 0xFFFF;
    palette16.green[2] = 0x8000;
    palette16.blue[0] = 0x4000;
    TiffSpec palette8 = palette16;
    for (auto* map : {&palette8.red, &palette8.green, &palette8.blue})
        for (auto& v : *map)
            v = static_cast<std::uint16_t>(v >> 8);
    TiffSpec tiled = OneRow(8, 3, PHOTOMETRIC_RGB, {}, 20);
    tiled.height = 20;
    tiled.tiled = true;
    for (int i = 0; i < 20 * 20; ++i)
        tiled.pixels.insert(tiled.pixels.end(), {10, 20, 30});
    TiffSpec rgba = OneRow(8, 4, PHOTOMETRIC_RGB, {10, 20, 30, 40, 200, 150, 100, 255}, 2);
    rgba.extraSamples = EXTRASAMPLE_UNASSALPHA;
    const Case cases[] = {
        {"8-bit black is zero",
         OneRow(8, 1, PHOTOMETRIC_MINISBLACK, {0, 128, 255}, 3),
         {0xFF000000, 0xFF808080, 0xFFFFFFFF},
         8},
        {"8-bit white is zero",
         OneRow(8, 1, PHOTOMETRIC_MINISWHITE, {0, 128, 255}, 3),
         {0xFFFFFFFF, 0xFF7F7F7F, 0xFF000000},
         8},
        {"4-bit grey", OneRow(4, 1, PHOTOMETRIC_MINISBLACK, {0x0F, 0x80}, 3), {0xFF000000, 0xFFFFFFFF, 0xFF888888}, 8},
        {"2-bit grey",
         OneRow(2, 1, PHOTOMETRIC_MINISBLACK, {0x1B}, 4),
         {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0xFFFFFFFF},
         8},
        // Samples 0, 7, 3 packed in three bits each: the ramp of step 36 and its reverse.
        {"3-bit grey", OneRow(3, 1, PHOTOMETRIC_MINISBLACK, {0x1D, 0x80}, 3), {0xFF000000, 0xFFFCFCFC, 0xFF6C6C6C}, 8},
        {"3-bit white is zero",
         OneRow(3, 1, PHOTOMETRIC_MINISWHITE, {0x1D, 0x80}, 3),
         {0xFFFCFCFC, 0xFF000000, 0xFF909090},
         8},
        {"1-bit white is zero",
         OneRow(1, 1, PHOTOMETRIC_MINISWHITE, {0x40}, 3),
         {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF},
         1},
        {"grey with alpha keeps the first sample",
         OneRow(8, 2, PHOTOMETRIC_MINISBLACK, {50, 0, 200, 255}, 2),
         {0xFF323232, 0xFFC8C8C8},
         8},
        {"palette 16-bit map", palette16, {0xFF000040, 0xFFFF0000, 0xFF008000}, 8},
        {"palette 8-bit map", palette8, {0xFF000040, 0xFFFF0000, 0xFF008000}, 8},
        {"RGB", OneRow(8, 3, PHOTOMETRIC_RGB, {255, 0, 0, 0, 0, 255}, 2), {0xFFFF0000, 0xFF0000FF}, 32},
        {"RGBA copied unchanged", rgba, {0x280A141E, 0xFFC89664}, 32},
        {"16-bit RGB", OneRow(16, 3, PHOTOMETRIC_RGB, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF}, 1), {0xFFFF00FF}, 32},
        {"tiled", tiled, std::vector<std::uint32_t>(20, 0xFF0A141E), 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeTiff(c.spec);
        PicReader reader;
        PicBitmap native;
        reader.DecodeMemory(file.data(), file.size(), native, 32 == c.nativeDepth ? 32 : c.nativeDepth);
        EXPECT_EQ(native.BitsPerPixel(), c.nativeDepth);
        const PicBitmap b = Decode(file);
        ASSERT_EQ(b.Width(), c.spec.width);
        ASSERT_EQ(b.Height(), c.spec.height);
        EXPECT_EQ(Hex(TopRow(b)), Hex(c.expected));
        EXPECT_EQ(b.ResolutionX(), 300);
    }
}

TEST(TiffDecoderTest, RgbaPathKeepsRowsUpright)
{
    TiffSpec s = OneRow(8, 3, PHOTOMETRIC_RGB, {255, 255, 255, 0, 0, 0}, 1);
    s.height = 2;
    const PicBitmap b = Decode(MakeTiff(s));
    EXPECT_EQ(PixelAt(b, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(PixelAt(b, 0, 1), 0xFF000000u);
    EXPECT_FALSE(b.HasAlpha());
}

TEST(TiffDecoderTest, EpsWithTiffPreview)
{
    TiffSpec s = OneRow(8, 1, PHOTOMETRIC_MINISBLACK, {0, 255}, 2);
    const Bytes tiff = MakeTiff(s);
    const Bytes eps = MakeEpsWithTiff(tiff);
    const PicBitmap b = Decode(eps);
    EXPECT_EQ(Hex(TopRow(b)), Hex({0xFF000000, 0xFFFFFFFF}));

    // A preview that claims more bytes than the file has, or starts past its end.
    Bytes longPreview = eps;
    longPreview[24] = static_cast<std::uint8_t>(longPreview[24] + 1);
    ExpectDecodeError(longPreview, 11);
    Bytes farPreview = eps;
    farPreview[23] = 0x7F;
    ExpectDecodeError(farPreview, 11);
    // A preview that is no TIFF.
    Bytes notTiff = eps;
    const std::size_t at = notTiff[20] | (notTiff[21] << 8);
    notTiff[at] = 'X';
    ExpectDecodeError(notTiff, 1);
}

TEST(TiffDecoderTest, BrokenFilesFailCleanly)
{
    TiffSpec s = OneRow(8, 1, PHOTOMETRIC_MINISBLACK, Bytes(64 * 64, 7), 64);
    s.height = 64;
    const Bytes good = MakeTiff(s);
    ASSERT_EQ(Decode(good).Height(), 64);

    // Cut anywhere: every prefix fails with a decoder error or decodes what is there;
    // none crashes (the sanitizer build checks the reads).
    for (std::size_t cut : {std::size_t{8}, std::size_t{16}, good.size() / 4, good.size() / 2, good.size() - 10}) {
        Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        PicReader reader;
        PicBitmap b;
        try {
            reader.DecodeMemory(part.data(), part.size(), b, 32);
        } catch (const PLTextException& e) {
            EXPECT_TRUE(e.GetCode() == 1 || e.GetCode() == 7)
                << "cut " << cut << ": " << e.GetCode() << " " << e.GetText();
        }
    }
    // Strip data missing from the start: the early rows fail with code 7.
    Bytes noStrips(good.begin(), good.begin() + 8);
    noStrips.resize(good.size(), 0);
    {
        PicReader reader;
        PicBitmap b;
        EXPECT_THROW(reader.DecodeMemory(noStrips.data(), noStrips.size(), b, 32), PLTextException);
    }

    // A claimed size beyond the limits is refused before anything is allocated.
    TiffSpec big = OneRow(8, 3, PHOTOMETRIC_RGB, {1, 2, 3}, 1);
    Bytes huge = MakeTiff(big);
    // Rewrite the ImageWidth entry (tag 256) in the first directory.
    const std::uint32_t ifd = huge[4] | (huge[5] << 8) | (huge[6] << 16) | (static_cast<std::uint32_t>(huge[7]) << 24);
    const int entries = huge[ifd] | (huge[ifd + 1] << 8);
    for (int i = 0; i < entries; ++i) {
        const std::size_t e = ifd + 2 + static_cast<std::size_t>(i) * 12;
        const int tag = huge[e] | (huge[e + 1] << 8);
        const int type = huge[e + 2] | (huge[e + 3] << 8);
        if (tag == 256 || tag == 257) {
            // SHORT or LONG: write 40,000 either way.
            huge[e + 8] = 0x40;
            huge[e + 9] = 0x9C;
            if (type == 4)
                huge[e + 10] = huge[e + 11] = 0;
        }
    }
    ExpectDecodeError(huge, 10);
}

namespace {

// Points strip `strip` of the first directory past the end of the file.
Bytes WithStripPastTheEnd(Bytes file, int strip)
{
    auto le16 = [&](std::size_t at) { return static_cast<std::uint32_t>(file[at] | (file[at + 1] << 8)); };
    auto le32 = [&](std::size_t at) { return le16(at) | (le16(at + 2) << 16); };
    const std::uint32_t ifd = le32(4);
    const std::uint32_t entries = le16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t e = ifd + 2 + static_cast<std::size_t>(i) * 12;
        if (le16(e) != TIFFTAG_STRIPOFFSETS)
            continue;
        const std::uint32_t type = le16(e + 2);
        const std::uint32_t count = le32(e + 4);
        const std::size_t size = type == 3 ? 2 : 4;
        const std::size_t array = count * size <= 4 ? e + 8 : le32(e + 8);
        const std::size_t at = array + static_cast<std::size_t>(strip) * size;
        const std::uint32_t past = type == 3 ? 0xFFF0u : 0x7FFFFFF0u;
        for (std::size_t b = 0; b < size; ++b)
            file[at + b] = static_cast<std::uint8_t>(past >> (8 * b));
        return file;
    }
    ADD_FAILURE() << "no strip offsets";
    return file;
}

} // namespace

// A strip that cannot be read (its offset points past the end of the file) leaves its
// rows blank and the rows of the following strips are decoded; a damaged strip in the
// first third of the picture still refuses it with code 7.
TEST(TiffDecoderTest, DamagedStripLeavesOnlyItsRowsBlank)
{
    constexpr int kRows = 16; // four strips of four rows
    TiffSpec s = OneRow(8, 1, PHOTOMETRIC_MINISBLACK, {}, 8);
    s.height = kRows;
    for (int y = 0; y < kRows; ++y)
        s.pixels.insert(s.pixels.end(), 8, static_cast<std::uint8_t>(40 + 10 * y));
    const Bytes good = MakeTiff(s);
    struct Case {
        const char* name;
        int damagedStrip;
    };
    for (const Case c : {Case{"last strip", 3}, Case{"third strip", 2}}) {
        SCOPED_TRACE(c.name);
        const PicBitmap b = Decode(WithStripPastTheEnd(good, c.damagedStrip));
        ASSERT_EQ(b.Height(), kRows);
        for (int y = 0; y < kRows; ++y) {
            const bool blank = y / 4 == c.damagedStrip;
            const std::uint32_t level = blank ? 0u : static_cast<std::uint32_t>(40 + 10 * y);
            EXPECT_EQ(PixelAt(b, 3, y), 0xFF000000u | level * 0x010101u) << "row " << y;
        }
    }
    // The same for a full-colour picture, read through the library's RGBA reader.
    TiffSpec rgb = OneRow(8, 3, PHOTOMETRIC_RGB, {}, 8);
    rgb.height = kRows;
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < 8; ++x)
            rgb.pixels.insert(rgb.pixels.end(), {static_cast<std::uint8_t>(40 + 10 * y), 0, 0});
    const Bytes goodRgb = MakeTiff(rgb);
    for (const int damaged : {2, 3}) {
        SCOPED_TRACE("RGB, strip " + std::to_string(damaged));
        const PicBitmap b = Decode(WithStripPastTheEnd(goodRgb, damaged));
        ASSERT_EQ(b.Height(), kRows);
        for (int y = 0; y < kRows; ++y) {
            const bool blank = y / 4 == damaged;
            const std::uint32_t red = blank ? 0u : static_cast<std::uint32_t>(40 + 10 * y);
            EXPECT_EQ(PixelAt(b, 3, y) & 0xFFFFFFu, red << 16) << "row " << y;
        }
    }
    // Rows 0 to 7 hold the first third (16 / 3 = 5 rows).
    ExpectDecodeError(WithStripPastTheEnd(good, 0), 7);
    ExpectDecodeError(WithStripPastTheEnd(good, 1), 7);
}

// CMYK (separated) TIFFs are converted to their colours by the library's RGBA reader;
// the four stored bytes are not copied as blue, green, red and alpha.
TEST(TiffDecoderTest, CmykColoursAreConverted)
{
    TiffSpec s = OneRow(8, 4, PHOTOMETRIC_SEPARATED,
                        {255, 0, 0, 0, // cyan ink
                         0, 255, 255, 0, // magenta and yellow: red
                         0, 0, 0, 255, // black ink
                         0, 0, 0, 0}, // no ink: paper white
                        4);
    const std::vector<std::uint32_t> row = TopRow(Decode(MakeTiff(s)));
    const std::vector<std::uint32_t> expected = {0xFF00FFFF, 0xFFFF0000, 0xFF000000, 0xFFFFFFFF};
    EXPECT_EQ(row, expected) << Hex(row);
}

// A picture far larger than it is shown is shrunk strip by strip as it is read: reduced
// mode gives what reading it whole and reducing would, on both paths and for tiles.
TEST(TiffDecoderTest, LargePicturesShrinkAsTheyAreRead)
{
    auto spec = [](int w, int h, int bits, int samples, int photometric, bool tiled) {
        TiffSpec s;
        s.width = w;
        s.height = h;
        s.bitsPerSample = bits;
        s.samplesPerPixel = samples;
        s.photometric = photometric;
        s.tiled = tiled;
        const std::size_t rowBytes = (static_cast<std::size_t>(w) * samples * bits + 7) / 8;
        s.pixels.resize(rowBytes * static_cast<std::size_t>(h));
        unsigned seed = static_cast<unsigned>(w * 31 + bits);
        for (auto& b : s.pixels)
            b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        return s;
    };
    TiffSpec palette = spec(330, 245, 8, 1, PHOTOMETRIC_PALETTE, false);
    for (int i = 0; i < 256; ++i) {
        palette.red.push_back(static_cast<std::uint16_t>(i * 257));
        palette.green.push_back(static_cast<std::uint16_t>((255 - i) * 257));
        palette.blue.push_back(static_cast<std::uint16_t>((i * 7 % 256) * 257));
    }
    const std::pair<const char*, TiffSpec> cases[] = {
        {"RGB strips", spec(333, 250, 8, 3, PHOTOMETRIC_RGB, false)},
        {"grey 4-bit", spec(321, 241, 4, 1, PHOTOMETRIC_MINISBLACK, false)},
        {"palette", palette},
        {"RGB tiles", spec(340, 260, 8, 3, PHOTOMETRIC_RGB, true)},
    };
    for (const auto& [name, s] : cases) {
        SCOPED_TRACE(name);
        const Bytes file = MakeTiff(s);
        PicBitmap whole = Decode(file);
        ReduceLikeJpeg(whole);
        const PicBitmap reduced = Decode(file, DecodeMode::Reduced);
        ASSERT_EQ(reduced.Width(), whole.Width());
        ASSERT_EQ(reduced.Height(), whole.Height());
        for (int y = 0; y < whole.Height(); ++y)
            ASSERT_EQ(std::memcmp(reduced.Row(y), whole.Row(y), static_cast<std::size_t>(whole.Width()) * 4), 0)
                << "row " << y;
    }
}

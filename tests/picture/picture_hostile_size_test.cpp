// SPDX-License-Identifier: GPL-2.0-or-later
// Small crafted files that would make a decode read, allocate or work far beyond what the
// picture they show needs: each is refused by its size or counted in the decode budget.
#include "picture/picture_decode_helpers.h"

#include "picture/DecodeBudget.h"
#include "picture/HeifCanvas.h"
#include "picture/PLTIFFDecoder.h"

#include <tiffio.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace lumivox;
using namespace lumivox::test;

namespace {

std::string WriteFile(const std::string& name, const Bytes& bytes, std::uint64_t padTo = 0)
{
    const std::string path = ::testing::TempDir() + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    if (padTo > bytes.size())
        EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(padTo)), 0); // sparse: no disk, no time
    ::close(fd);
    return path;
}

// What decoding the file at path on a thread of its own throws, while the budget is held
// whole by this thread and the decode's run is cancelled: a decode that reserves anything
// counted gives up as cancelled.
std::string DecodeFileWhileBudgetHeld(const std::string& path)
{
    std::string text;
    std::thread worker([&] {
        const std::atomic<bool> cancel{true};
        const DecodeWatchScope watch(&cancel, nullptr);
        PicReader reader;
        PicBitmap target;
        try {
            reader.DecodeFile(path, target, 32);
        } catch (const PLTextException& e) {
            text = e.GetText();
        }
    });
    worker.join();
    return text;
}

Bytes Box(const char* type, const Bytes& body)
{
    Bytes box;
    const std::uint32_t size = static_cast<std::uint32_t>(body.size() + 8);
    for (int shift = 24; shift >= 0; shift -= 8)
        box.push_back(static_cast<std::uint8_t>(size >> shift));
    box.insert(box.end(), type, type + 4);
    box.insert(box.end(), body.begin(), body.end());
    return box;
}

// A HEIF file whose primary item is a grid of rows x columns tiles of 64 pixels, its
// layout kept in the idat box (the tiles themselves are not needed to refuse it).
Bytes HeifGrid(int rows, int columns)
{
    const Bytes ftyp = Box("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'});
    const Bytes infe = Box("infe", {2, 0, 0, 0, 0, 1, 0, 0, 'g', 'r', 'i', 'd', 0});
    Bytes iinfBody = {0, 0, 0, 0, 0, 1};
    iinfBody.insert(iinfBody.end(), infe.begin(), infe.end());
    // version 1, 4-byte offsets and lengths, one item: id 1, in idat, one extent of 8 bytes
    const Bytes iloc = Box("iloc", {1, 0, 0, 0, 0x44, 0x00, 0, 1, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 8});
    const unsigned width = 64u * static_cast<unsigned>(columns), height = 64u * static_cast<unsigned>(rows);
    const Bytes idat = Box("idat", {0, 0, static_cast<std::uint8_t>(rows - 1), static_cast<std::uint8_t>(columns - 1),
                                    static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width),
                                    static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height)});
    Bytes metaBody = {0, 0, 0, 0};
    for (const Bytes& part : {Box("iinf", iinfBody), iloc, idat})
        metaBody.insert(metaBody.end(), part.begin(), part.end());
    Bytes file = ftyp;
    const Bytes meta = Box("meta", metaBody);
    file.insert(file.end(), meta.begin(), meta.end());
    return file;
}

} // namespace

// A picture file is refused by its size before a byte of it is read (a sparse file of
// gigabytes costs nothing), and one that is read counts against the decode budget for as
// long as its decode lasts, so workers meeting large files take turns.
TEST(PictureHostileSizeTest, PictureFilesAreRefusedBySizeAndCountedWhenRead)
{
    const Bytes jpeg = MakeJpeg(64, 48, 3, [](int x, int y, std::uint8_t* out) {
        out[0] = static_cast<std::uint8_t>(x);
        out[1] = static_cast<std::uint8_t>(y);
        out[2] = 0;
    });
    const std::string huge = WriteFile("lumivox_huge.jpg", jpeg, std::uint64_t(4) << 30);
    const std::string padded = WriteFile("lumivox_padded.jpg", jpeg, 4 << 20);

    SetDecodeMemoryLimits(1 << 20, 1 << 10);
    {
        // Anything counted now waits, and the waiting decode is cancelled.
        const DecodeMemoryScope held;
        ReserveDecodeMemory(1 << 20);
        // Refused by its size, not cancelled: it never came to reading.
        EXPECT_EQ(DecodeFileWhileBudgetHeld(huge),
                  "Opening " + huge + " failed: the file is 4096 MB, over the 256 MB a picture file may have");
        // Within the limit, the copy read is counted: it waits its turn.
        EXPECT_EQ(DecodeFileWhileBudgetHeld(padded), kDecodeCancelled);
    }
    EXPECT_EQ(DecodeMemoryInUse(), 0u);
    PicReader reader;
    PicBitmap target;
    reader.DecodeFile(padded, target, 32);
    EXPECT_EQ(target.Width(), 64);
    SetDecodeMemoryLimits(std::size_t(512) << 20, std::size_t(64) << 20);
    std::remove(huge.c_str());
    std::remove(padded.c_str());
}

// One deflate strip holding a whole 16-bit RGBA picture would be inflated into one buffer
// of 8 bytes a pixel; a strip past the buffer limit is refused instead, before the
// picture's own bitmap is made.
TEST(PictureHostileSizeTest, TiffStripBeyondTheBufferLimitIsRefused)
{
    constexpr std::uint32_t kSide = 4200; // 4200 x 4200 x 8 bytes: 141 MB in one strip
    static_assert(std::uint64_t(kSide) * kSide * 8 > PLTIFFDecoder::kMaxTiffBuffer);
    const std::string path = ::testing::TempDir() + "lumivox_one_strip.tif";
    {
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kSide);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kSide);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kSide);
        std::vector<std::uint8_t> row(std::size_t(kSide) * 8, 0x40);
        for (std::uint32_t y = 0; y < kSide; ++y)
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
        TIFFClose(tif);
    }
    for (const DecodeMode mode : {DecodeMode::Reduced, DecodeMode::Full}) {
        PicReader reader;
        reader.SetMode(mode);
        reader.SetUsefulSize(720, 576);
        PicBitmap target;
        try {
            reader.DecodeFile(path, target, 32);
            ADD_FAILURE() << "the one-strip picture decoded";
        } catch (const PLTextException& e) {
            EXPECT_EQ(e.GetCode(), PL_ERRNO_MEMORY);
            EXPECT_EQ(e.GetText(), "TIFF: one strip of the picture holds 134 MB, more than the 128 MB read at once.");
        }
    }
    std::remove(path.c_str());
}

// A grid of more tiles than a camera lays a photo out in is refused from its few bytes of
// layout, before libheif decodes a tile; a phone's grid passes.
TEST(PictureHostileSizeTest, HeifGridOfTooManyTilesIsRefused)
{
    const Bytes bomb = HeifGrid(141, 141); // 19,881 tiles of 64 pixels
    ExpectDecodeError(bomb, PL_ERRFORMAT_NOT_SUPPORTED,
                      "HEIF: the picture is laid out in 19881 tiles, more than the 1024 a picture may have.");
    ExpectDecodeError(bomb, PL_ERRFORMAT_NOT_SUPPORTED,
                      "HEIF: the picture is laid out in 19881 tiles, more than the 1024 a picture may have.",
                      DecodeMode::Reduced);
    const Bytes phone = HeifGrid(24, 32); // 768 tiles
    EXPECT_NO_THROW(CheckHeifCanvases(phone.data(), phone.size(), PicBitmap::kMaxPixels));
}

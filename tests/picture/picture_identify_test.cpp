// SPDX-License-Identifier: GPL-2.0-or-later
// File identification: the order of the rules, refused formats, short and empty files.
#include "picture/picture_decode_helpers.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivox;
using namespace lumivox::test;

namespace {

Bytes WithPrefix(std::initializer_list<std::uint8_t> prefix, std::size_t size = 600)
{
    Bytes b(size, 0x20);
    std::copy(prefix.begin(), prefix.end(), b.begin());
    return b;
}

Bytes Targa()
{
    Bytes b(600, 0);
    b[2] = 2; // uncompressed true colour
    b[16] = 24;
    return b;
}

Bytes Pict()
{
    Bytes b(600, 0x20);
    b[522] = 0x00;
    b[523] = 0x11;
    b[524] = 0x02;
    b[525] = 0xFF;
    return b;
}

Bytes Eps(std::uint32_t tiffOffset, std::uint32_t tiffLength)
{
    Bytes b = WithPrefix({0xC5, 0xD0, 0xD3, 0xC6}, 64);
    for (int i = 0; i < 4; ++i) {
        b[20 + i] = static_cast<std::uint8_t>(tiffOffset >> (8 * i));
        b[24 + i] = static_cast<std::uint8_t>(tiffLength >> (8 * i));
    }
    return b;
}

} // namespace

TEST(PicIdentifyTest, RulesInOrder)
{
    struct Case {
        const char* name;
        Bytes data;
        PicFormat format;
    };
    const Case cases[] = {
        {"BM", WithPrefix({'B', 'M'}), PicFormat::Bitmap},
        {"BA", WithPrefix({'B', 'A'}), PicFormat::Bitmap},
        {"IC", WithPrefix({'I', 'C'}), PicFormat::Bitmap},
        {"CI", WithPrefix({'C', 'I'}), PicFormat::Bitmap},
        {"CP", WithPrefix({'C', 'P'}), PicFormat::Bitmap},
        {"targa", Targa(), PicFormat::Targa},
        {"tiff II", WithPrefix({'I', 'I', 0x2A, 0}), PicFormat::Tiff},
        {"tiff MM", WithPrefix({'M', 'M', 0, 0x2A}), PicFormat::Tiff},
        {"gif", WithPrefix({'G', 'I', 'F', '8', '9', 'a'}), PicFormat::Gif},
        {"pict", Pict(), PicFormat::Pict},
        {"jpeg", WithPrefix({0xFF, 0xD8, 0xFF, 0xE0}), PicFormat::Jpeg},
        {"png", WithPrefix({0x89, 'P', 'N', 'G'}), PicFormat::Png},
        {"eps", Eps(40, 10), PicFormat::EpsTiff},
        {"eps without preview", Eps(0, 10), PicFormat::Unknown},
        {"pcx", WithPrefix({10, 5, 1, 8}), PicFormat::Pcx},
        {"pgm P2", WithPrefix({'P', '2'}), PicFormat::Pgm},
        {"pgm P5", WithPrefix({'P', '5'}), PicFormat::Pgm},
        {"ppm P3", WithPrefix({'P', '3'}), PicFormat::Ppm},
        {"ppm P6", WithPrefix({'P', '6'}), PicFormat::Ppm},
        {"photoshop", WithPrefix({'8', 'B', 'P', 'S'}), PicFormat::Photoshop},
        {"webp", WithPrefix({'R', 'I', 'F', 'F', 1, 0, 0, 0, 'W', 'E', 'B', 'P'}), PicFormat::Webp},
        {"riff of another kind", WithPrefix({'R', 'I', 'F', 'F', 1, 0, 0, 0, 'W', 'A', 'V', 'E'}), PicFormat::Unknown},
        {"heic", WithPrefix({0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}), PicFormat::Heif},
        {"heif brand among the compatible ones", WithPrefix({0, 0, 0, 24, 'f', 't', 'y', 'p', 'a', 'b', 'c', 'd',
                                                             0, 0, 0, 0,  'x', 'y', 'z', 'w', 'm', 'i', 'f', '1'}),
         PicFormat::Heif},
        {"mp4 video", WithPrefix({0, 0, 0, 24, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 0, 0, 'm', 'p', '4', '1'}),
         PicFormat::Unknown},
        {"text", WithPrefix({'h', 'e', 'l', 'l', 'o'}), PicFormat::Unknown},
        // Earlier rules win: a Targa-looking header with a bitmap signature is a bitmap,
        // and a JPEG whose byte 522 area looks like a Macintosh picture is a picture.
        {"BM before targa",
         [] {
             Bytes b = Targa();
             b[0] = 'B';
             b[1] = 'M';
             return b;
         }(),
         PicFormat::Bitmap},
        {"pict before jpeg",
         [] {
             Bytes b = Pict();
             b[0] = 0xFF;
             b[1] = 0xD8;
             b[2] = 0xFF;
             return b;
         }(),
         PicFormat::Pict},
        {"targa before pcx",
         [] {
             Bytes b = Targa();
             b[0] = 10;
             b[2] = 1;
             return b;
         }(),
         PicFormat::Targa},
        // Short files are judged by the bytes they have.
        {"empty", Bytes{}, PicFormat::Unknown},
        {"one byte", Bytes{'B'}, PicFormat::Unknown},
        {"BM alone", Bytes{'B', 'M'}, PicFormat::Bitmap},
        {"short jpeg", Bytes{0xFF, 0xD8, 0xFF}, PicFormat::Jpeg},
        {"short pict bytes",
         [] {
             Bytes b = Pict();
             b.resize(530);
             return b;
         }(),
         PicFormat::Unknown},
        {"short eps", Bytes{0xC5, 0xD0, 0xD3, 0xC6, 1, 1}, PicFormat::Unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(PicReader::Identify(c.data.data(), c.data.size())), static_cast<int>(c.format))
            << c.name;
}

TEST(PicIdentifyTest, RefusedAndUnknownFormatsFailWithTheirTexts)
{
    for (const Bytes& file : {Targa(), WithPrefix({'G', 'I', 'F', '8'}), Pict(), WithPrefix({10, 5, 1, 8}),
                              WithPrefix({'P', '5'}), WithPrefix({'P', '6'}), WithPrefix({'8', 'B', 'P', 'S'})})
        ExpectDecodeError(file, 6, "Library not compiled for this file type.");
    ExpectDecodeError(Bytes{}, 8, "Unknown file type.");
    ExpectDecodeError(WithPrefix({'j', 'u', 's', 't', ' ', 't', 'e', 'x', 't'}), 8, "Unknown file type.");
    // Wrong magic: almost a JPEG, almost a TIFF.
    ExpectDecodeError(WithPrefix({0xFF, 0xD8, 0xFE}), 8, "Unknown file type.");
    ExpectDecodeError(WithPrefix({'I', 'I', 0x2B, 0}), 8, "Unknown file type.");
}

TEST(PicIdentifyTest, TinyFilesOfEveryDecodedKindFailCleanly)
{
    struct Case {
        Bytes data;
        int code;
    };
    const Case cases[] = {
        {{'B', 'M'}, 11},
        {{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0}, 11},
        {{0xFF, 0xD8, 0xFF}, 11},
        {{'I', 'I', 0x2A, 0}, 1},
        {{'M', 'M', 0, 0x2A, 0, 0, 0, 8}, 1},
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 11},
        {{'R', 'I', 'F', 'F', 100, 0, 0, 0, 'W', 'E', 'B', 'P'}, 11},
        {{0, 0, 0, 16, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0}, 6},
    };
    for (const Case& c : cases)
        ExpectDecodeError(c.data, c.code);
}

TEST(PicIdentifyTest, DecodeFileReportsFilesThatCannotBeOpened)
{
    PicReader reader;
    PicBitmap bitmap;
    const std::string path = "/nonexistent/lumivox/picture.jpg";
    try {
        reader.DecodeFile(path, bitmap, 32);
        ADD_FAILURE() << "no error";
    } catch (const PLTextException& e) {
        EXPECT_EQ(e.GetText(), "Opening " + path + " failed: No such file or directory");
    }
}

TEST(PicIdentifyTest, DecodeFileReadsThroughTheMappedView)
{
    BmpSpec spec;
    spec.width = 1;
    spec.height = 1;
    spec.pixels = {0x10, 0x20, 0x30, 0};
    const Bytes file = MakeBmp(spec);
    const std::string path = ::testing::TempDir() + "lumivox_identify_test.bmp";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    PicReader reader;
    PicBitmap bitmap;
    reader.DecodeFile(path, bitmap, 32);
    EXPECT_EQ(PixelAt(bitmap, 0, 0), 0xFF302010u);
    std::remove(path.c_str());
}

// A picture path naming a FIFO, a device or a folder is refused without being read or
// waited on: a FIFO would block the open until a writer came, a device would never end.
TEST(PicIdentifyTest, FilesThatAreNotRegularAreRefusedUnread)
{
    char folderPattern[] = "/tmp/lumivox_identify_XXXXXX";
    ASSERT_NE(::mkdtemp(folderPattern), nullptr);
    const std::string folder = folderPattern;
    const std::string fifo = folder + "/photo.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null"), folder}) {
        SCOPED_TRACE(path);
        PicReader reader;
        PicBitmap bitmap;
        try {
            reader.DecodeFile(path, bitmap, 32);
            ADD_FAILURE() << "decoded";
        } catch (const PLTextException& e) {
            EXPECT_EQ(e.GetText(), "Opening " + path + " failed: not a regular file");
        }
    }
    ::unlink(fifo.c_str());
    ::rmdir(folder.c_str());
}

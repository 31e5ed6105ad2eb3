// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/picture_decode_helpers.h"

#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include <jpeglib.h>
#include <tiffio.h>
#include <unistd.h>

namespace lumivox::test {

void PutLe16(Bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutLe32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes MakeBmp(const BmpSpec& spec)
{
    Bytes info;
    PutLe32(info, spec.infoSize);
    const bool os2 = spec.infoSize == 12;
    if (os2) {
        PutLe16(info, static_cast<unsigned>(spec.width));
        PutLe16(info, static_cast<unsigned>(spec.height));
        PutLe16(info, 1);
        PutLe16(info, static_cast<unsigned>(spec.bitsPerPixel));
    } else {
        PutLe32(info, static_cast<std::uint32_t>(spec.width));
        PutLe32(info, static_cast<std::uint32_t>(spec.height));
        PutLe16(info, 1);
        PutLe16(info, static_cast<unsigned>(spec.bitsPerPixel));
        PutLe32(info, spec.compression);
        PutLe32(info, static_cast<std::uint32_t>(spec.pixels.size()));
        PutLe32(info, spec.pixelsPerMetre);
        PutLe32(info, spec.pixelsPerMetre);
        PutLe32(info, spec.coloursUsed);
        PutLe32(info, 0);
        while (info.size() < spec.infoSize)
            info.push_back(0);
    }
    for (std::uint32_t m : spec.masks)
        PutLe32(info, m);
    for (std::uint32_t c : spec.palette) {
        info.push_back(static_cast<std::uint8_t>(c));
        info.push_back(static_cast<std::uint8_t>(c >> 8));
        info.push_back(static_cast<std::uint8_t>(c >> 16));
        if (!os2)
            info.push_back(0);
    }
    Bytes file = {'B', 'M'};
    const std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size());
    PutLe32(file, static_cast<std::uint32_t>(offset + spec.pixels.size()));
    PutLe32(file, 0);
    PutLe32(file, offset);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), spec.pixels.begin(), spec.pixels.end());
    return file;
}

Bytes MakeJpeg(int width, int height, int components, const PixelFunction& pixel, int quality, bool ycck,
               bool progressive)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    if (components == 4)
        jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x)
            pixel(x, static_cast<int>(cinfo.next_scanline), &row[static_cast<std::size_t>(x) * components]);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

Bytes MakeTiff(const TiffSpec& spec)
{
    static int counter = 0;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("lumivox_picture_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".tif");
    TIFF* tif = TIFFOpen(path.c_str(), spec.bigEndian ? "wb" : "wl");
    if (tif == nullptr) {
        ADD_FAILURE() << "cannot create " << path;
        return {};
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(spec.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(spec.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(spec.bitsPerSample));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(spec.samplesPerPixel));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(spec.photometric));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (spec.extraSamples >= 0) {
        uint16_t extra = static_cast<uint16_t>(spec.extraSamples);
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!spec.red.empty())
        TIFFSetField(tif, TIFFTAG_COLORMAP, spec.red.data(), spec.green.data(), spec.blue.data());
    const std::size_t rowBytes =
        (static_cast<std::size_t>(spec.width) * spec.samplesPerPixel * spec.bitsPerSample + 7) / 8;
    if (spec.tiled) {
        const int tile = 16;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
        const std::size_t bpp = static_cast<std::size_t>(spec.samplesPerPixel) * spec.bitsPerSample / 8;
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(tile) * tile * bpp);
        for (int ty = 0; ty < spec.height; ty += tile)
            for (int tx = 0; tx < spec.width; tx += tile) {
                std::fill(buffer.begin(), buffer.end(), 0);
                for (int y = 0; y < tile && ty + y < spec.height; ++y)
                    for (int x = 0; x < tile && tx + x < spec.width; ++x)
                        std::memcpy(&buffer[(static_cast<std::size_t>(y) * tile + x) * bpp],
                                    &spec.pixels[static_cast<std::size_t>(ty + y) * rowBytes + (tx + x) * bpp], bpp);
                TIFFWriteTile(tif, buffer.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0, 0);
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(4));
        std::vector<std::uint8_t> line(rowBytes);
        for (int y = 0; y < spec.height; ++y) {
            std::memcpy(line.data(), &spec.pixels[static_cast<std::size_t>(y) * rowBytes], rowBytes);
            TIFFWriteScanline(tif, line.data(), static_cast<uint32_t>(y), 0);
        }
    }
    TIFFClose(tif);
    std::ifstream in(path, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    return data;
}

Bytes MakeEpsWithTiff(const Bytes& tiff)
{
    const std::string postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n";
    Bytes file = {0xC5, 0xD0, 0xD3, 0xC6};
    PutLe32(file, 30); // PostScript offset
    PutLe32(file, static_cast<std::uint32_t>(postscript.size())); // PostScript length
    PutLe32(file, 0); // metafile offset
    PutLe32(file, 0); // metafile length
    PutLe32(file, static_cast<std::uint32_t>(30 + postscript.size())); // TIFF offset
    PutLe32(file, static_cast<std::uint32_t>(tiff.size())); // TIFF length
    PutLe16(file, 0xFFFF); // no checksum
    file.insert(file.end(), postscript.begin(), postscript.end());
    file.insert(file.end(), tiff.begin(), tiff.end());
    return file;
}

PicBitmap Decode(const Bytes& file, DecodeMode mode, int bitsPerPixel)
{
    PicReader reader;
    reader.SetMode(mode);
    PicBitmap bitmap;
    try {
        reader.DecodeMemory(file.data(), file.size(), bitmap, bitsPerPixel);
    } catch (const PLTextException& e) {
        ADD_FAILURE() << "decoding failed with code " << e.GetCode() << ": " << e.GetText();
    }
    return bitmap;
}

void ExpectDecodeError(const Bytes& file, int code, const std::string& text, DecodeMode mode)
{
    PicReader reader;
    reader.SetMode(mode);
    PicBitmap bitmap;
    try {
        reader.DecodeMemory(file.data(), file.size(), bitmap, 32);
        ADD_FAILURE() << "decoding succeeded (" << bitmap.Width() << " x " << bitmap.Height() << "), expected code "
                      << code;
    } catch (const PLTextException& e) {
        EXPECT_EQ(e.GetCode(), code) << "text: " << e.GetText();
        if (!text.empty()) {
            EXPECT_EQ(e.GetText(), text);
        }
    }
}

std::uint32_t PixelAt(const PicBitmap& bitmap, int x, int y)
{
    const std::uint8_t* p = bitmap.Row(y) + static_cast<std::size_t>(x) * 4;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

namespace {

// One destination index's taps, straight from the filter's definition.
std::vector<int> ReferenceWeights(int sourceSize, int destSize, int j, int& first)
{
    const double scale = static_cast<double>(destSize) / sourceSize;
    const double radius = scale < 1 ? 0.64 / scale : 0.64;
    const double f = scale < 1 ? scale : 1.0;
    const double centre = (j + 0.5) / scale - 0.5;
    int lo = std::max(0, static_cast<int>(std::floor(centre - radius)));
    int hi = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + radius)));
    const int maxTaps = 2 * static_cast<int>(std::ceil(radius)) + 1;
    if (hi - lo + 1 > maxTaps)
        hi = lo + maxTaps - 1;
    std::vector<int> w;
    int sum = 0;
    for (int k = lo; k <= hi; ++k) {
        const double x = std::fabs(f * (centre - k));
        const double triangle = x < 0.64 ? 0.64 - x : 0.0;
        w.push_back(static_cast<int>(f * triangle * 256));
        sum += w.back();
    }
    if (sum > 0) {
        int others = 0;
        for (std::size_t i = 0; i + 1 < w.size(); ++i) {
            w[i] = w[i] * 256 / sum;
            others += w[i];
        }
        w.back() = 256 - others;
    }
    first = lo;
    return w;
}

} // namespace

PicBitmap ReferenceResize(const PicBitmap& source, int width, int height)
{
    const int sw = source.Width();
    const int sh = source.Height();
    std::vector<std::uint8_t> inter(static_cast<std::size_t>(width) * sh * 4);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < width; ++x) {
            int first = 0;
            const std::vector<int> w = ReferenceWeights(sw, width, x, first);
            for (int c = 0; c < 4; ++c) {
                int sum = 0;
                for (std::size_t t = 0; t < w.size(); ++t)
                    sum += w[t] * source.Row(y)[(first + static_cast<int>(t)) * 4 + c];
                inter[(static_cast<std::size_t>(y) * width + x) * 4 + c] = static_cast<std::uint8_t>((sum + 128) / 256);
            }
        }
    PicBitmap out;
    out.Create(width, height, 32, source.HasAlpha());
    for (int y = 0; y < height; ++y) {
        int first = 0;
        const std::vector<int> w = ReferenceWeights(sh, height, y, first);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) {
                int sum = 0;
                for (std::size_t t = 0; t < w.size(); ++t)
                    sum += w[t] * inter[((first + t) * width + x) * 4 + c];
                out.Row(y)[x * 4 + c] = static_cast<std::uint8_t>((sum + 128) / 256);
            }
    }
    return out;
}

PicBitmap RandomBitmap(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    PicBitmap bitmap;
    bitmap.Create(width, height, 32, true);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 4; ++x)
            bitmap.Row(y)[x] = static_cast<std::uint8_t>(random());
    return bitmap;
}

} // namespace lumivox::test

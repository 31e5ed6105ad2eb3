// SPDX-License-Identifier: GPL-2.0-or-later
// Bounded decodes: a JPEG of thousands of scans is refused, a cancel stops a decode at its
// next step, a huge picture shown on a TV frame is decoded small, and a file changed under
// the reader is an error at worst, never a signal. Work is counted in decode steps, not
// timed.
#include "picture/picture_decode_helpers.h"

#include "picture/DecodeBudget.h"
#include "picture/FrameRenderer.h"
#include "picture/PicDecoder.h"
#include "picture/PicResizer.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <lcms2.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

using namespace lumivox;
using namespace lumivox::test;

namespace {

PixelFunction Stripes()
{
    return [](int x, int y, std::uint8_t* out) {
        out[0] = static_cast<std::uint8_t>(x * 7);
        out[1] = static_cast<std::uint8_t>(y * 3);
        out[2] = static_cast<std::uint8_t>(x ^ y);
    };
}

// The first scan of a progressive file (its SOS segment and coded data) repeated until
// the file holds `scans` scans in all.
Bytes WithScansRepeated(const Bytes& jpeg, int scans)
{
    std::size_t sos = 0;
    for (std::size_t i = 2; i + 1 < jpeg.size() && !sos; ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)
            sos = i;
    std::size_t next = sos + 2;
    while (next + 1 < jpeg.size() &&
           !(jpeg[next] == 0xFF && jpeg[next + 1] != 0x00 && (jpeg[next + 1] < 0xD0 || jpeg[next + 1] > 0xD7)))
        ++next;
    if (sos == 0 || next + 1 >= jpeg.size())
        return {};
    int existing = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)
            ++existing;
    Bytes result(jpeg.begin(), jpeg.begin() + static_cast<long>(next));
    for (int i = existing; i < scans; ++i)
        result.insert(result.end(), jpeg.begin() + static_cast<long>(sos), jpeg.begin() + static_cast<long>(next));
    result.insert(result.end(), jpeg.begin() + static_cast<long>(next), jpeg.end());
    return result;
}

std::string DecodeError(PicReader& reader, const Bytes& file, PicBitmap& target)
{
    try {
        reader.DecodeMemory(file.data(), file.size(), target, 32);
    } catch (const PLTextException& e) {
        return e.GetText();
    }
    return {};
}

void AppendToBytes(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// A black PNG of width x height (deflated zero rows: a huge one is a few kilobytes), with
// an sRGB profile when icc, and texts uncompressed text chunks of textBytes each before
// its pixels.
Bytes BlackPng(int width, int height, bool interlaced, bool icc, int texts = 0, std::size_t textBytes = 0)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendToBytes, nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    Bytes profile;
    if (icc) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(srgb, nullptr, &size);
        profile.resize(size);
        cmsSaveProfileToMem(srgb, profile.data(), &size);
        cmsCloseProfile(srgb);
        png_set_iCCP(png, info, "sRGB", 0, profile.data(), size);
    }
    std::string body(textBytes, 'x');
    std::vector<png_text> text(static_cast<std::size_t>(texts));
    for (png_text& t : text) {
        t.compression = PNG_TEXT_COMPRESSION_NONE;
        t.key = const_cast<char*>("Comment");
        t.text = body.data();
        t.text_length = body.size();
    }
    if (texts > 0)
        png_set_text(png, info, text.data(), texts);
    png_write_info(png, info);
    const std::vector<png_byte> row(static_cast<std::size_t>(width) * 3, 0);
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y)
            png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// An animation on a canvas x canvas canvas whose first frame is one red pixel at (x, y).
Bytes RedPixelOnAnimatedCanvas(int canvas, int x, int y)
{
    const std::uint8_t red[4] = {255, 0, 0, 255};
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(red, 1, 1, 4, &encoded);
    WebPMux* mux = WebPMuxNew();
    WebPMuxFrameInfo frame{};
    frame.bitstream = {encoded, size};
    frame.x_offset = x, frame.y_offset = y, frame.duration = 100;
    frame.id = WEBP_CHUNK_ANMF, frame.dispose_method = WEBP_MUX_DISPOSE_NONE, frame.blend_method = WEBP_MUX_NO_BLEND;
    WebPMuxPushFrame(mux, &frame, 1);
    WebPMuxAnimParams params{0, 0};
    WebPMuxSetAnimationParams(mux, &params);
    WebPMuxSetCanvasSize(mux, canvas, canvas);
    WebPData assembled;
    WebPDataInit(&assembled);
    WebPMuxAssemble(mux, &assembled);
    Bytes out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    WebPFree(encoded);
    return out;
}

TEST(DecodeBoundsTest, ThousandsOfScansAreRefusedAfterBoundedWork)
{
    const Bytes file = WithScansRepeated(MakeJpeg(64, 64, 3, Stripes(), 90, false, true), 10000);
    ASSERT_FALSE(file.empty());
    int steps = 0;
    const DecodeWatchScope watch(nullptr, [&] { ++steps; });
    PicReader reader;
    PicBitmap target;
    EXPECT_NE(DecodeError(reader, file, target).find("more than 300 scans"), std::string::npos);
    // Work stops near the limit, not after the file's ten thousand scans.
    EXPECT_LT(steps, 3000);
    // The reader is fit for the next file.
    const Bytes fine = MakeJpeg(16, 16, 3, Stripes(), 90, false, true);
    EXPECT_EQ(DecodeError(reader, fine, target), "");
}

TEST(DecodeBoundsTest, CancelStopsTheDecodeAtItsNextStep)
{
    const Bytes file = MakeJpeg(64, 2048, 3, Stripes());
    std::atomic<bool> cancel{false};
    int steps = 0;
    const DecodeWatchScope watch(&cancel, [&] {
        if (++steps == 5)
            cancel = true;
    });
    PicReader reader;
    PicBitmap target;
    EXPECT_EQ(DecodeError(reader, file, target), kDecodeCancelled);
    EXPECT_EQ(steps, 5);
}

TEST(DecodeBoundsTest, HugePictureForTheFrameIsDecodedAtAReducedScale)
{
    // A small file whose header declares 17,000 x 17,000 pixels (the coded data ends at
    // once; the decoder fills the rest).
    Bytes file = MakeJpeg(64, 64, 3, Stripes());
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 9 < file.size() && !sof; ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0)
            sof = i + 5;
    ASSERT_NE(sof, 0u);
    for (std::size_t at : {sof, sof + 2}) {
        file[at] = 17000 >> 8;
        file[at + 1] = 17000 & 0xFF;
    }
    const struct {
        int usefulWidth, usefulHeight;
        int expectedSide;
    } cases[] = {
        {704, 576, 17000 / 8}, // a TV frame: an eighth, still over twice the frame
        {2000, 2000, 17000 / 4}, // never below twice the size shown
    };
    for (const auto& c : cases) {
        PicReader reader;
        reader.SetUsefulSize(c.usefulWidth, c.usefulHeight);
        PicBitmap target;
        DecodeError(reader, file, target);
        EXPECT_EQ(target.Width(), c.expectedSide) << c.usefulWidth;
        EXPECT_LE(target.HeaderBlockSize(), std::size_t(80) << 20);
    }
    // A camera's picture for the TV frame is decoded at half its size, still over twice the
    // frame; a picture under twice the frame at its own size.
    PicReader reader;
    reader.SetUsefulSize(704, 576);
    PicBitmap camera;
    EXPECT_EQ(DecodeError(reader, MakeJpeg(4000, 3000, 1, [](int, int, std::uint8_t* out) { *out = 9; }), camera), "");
    EXPECT_EQ(camera.Width(), 2000);
    EXPECT_EQ(DecodeError(reader, MakeJpeg(2000, 1500, 1, [](int, int, std::uint8_t* out) { *out = 9; }), camera), "");
    EXPECT_EQ(camera.Width(), 2000);
}

// The slide made as production makes it - the rows of a reduced decode resized as they
// come, turned afterwards - stays within 40 dB PSNR of the one made from the whole
// full-size picture turned first, on photos with smooth skies, hard edges and fine
// texture, at a half and at three eighths of their size, baseline and progressive.
TEST(DecodeBoundsTest, StreamedSlideStaysWithin40dBOfTheWholePicture)
{
    const struct {
        int width, height;
        bool progressive;
        int rotation;
    } photos[] = {{3200, 2400, false, 0}, {4608, 3456, true, 90}, {4608, 3456, false, 270}};
    const std::string path =
        (std::filesystem::temp_directory_path() / ("lumivox-slide-" + std::to_string(::getpid()) + ".jpg")).string();
    for (const auto& photo : photos) {
        const int w = photo.width, h = photo.height;
        const Bytes file = MakeJpeg(
            w, h, 3,
            [w, h](int x, int y, std::uint8_t* out) {
                const unsigned noise =
                    (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u) >> 27;
                const bool edge = ((x / 160) + (y / 160)) % 2 == 0;
                out[0] = static_cast<std::uint8_t>(40 + y * 150 / h + noise);
                out[1] = static_cast<std::uint8_t>(edge ? 200 - noise : 60 + noise);
                out[2] = static_cast<std::uint8_t>(90 + x * 120 / w);
            },
            95, false, photo.progressive);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
        for (TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
            SCOPED_TRACE(std::to_string(w) + (norm == TvNorm::Pal ? " PAL, turned " : " NTSC, turned ") +
                         std::to_string(photo.rotation));
            PicBitmap whole;
            {
                PicReader reader;
                PicBitmap picture;
                ASSERT_EQ(DecodeError(reader, file, picture), "");
                ASSERT_EQ(picture.Width(), w);
                PicBitmap turned;
                if (photo.rotation != 0)
                    RotateBitmap(picture, photo.rotation, turned);
                FitSlideFrame(photo.rotation ? turned : picture, norm, whole);
            }
            PicBitmap streamed;
            RenderSlideFrame(path, photo.rotation, norm, streamed);
            ASSERT_EQ(streamed.Height(), whole.Height());
            double squares = 0;
            std::size_t samples = 0;
            for (int y = 0; y < whole.Height(); ++y)
                for (int x = 0; x < whole.Width() * 4; ++x) {
                    if (x % 4 == 3)
                        continue;
                    const double d = double(whole.Row(y)[x]) - double(streamed.Row(y)[x]);
                    squares += d * d;
                    ++samples;
                }
            const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(squares / double(samples), 1e-9));
            EXPECT_GE(psnr, 40.0);
        }
    }
    std::filesystem::remove(path);
}

// A photo decoded row by row for its slide holds no picture of its own size; a
// progressive one keeps its coefficients, and those count against the decodes' budget.
TEST(DecodeBoundsTest, StreamedDecodeHoldsOnlyTheCoefficientsOfAProgressiveFile)
{
    SetDecodeMemoryLimits(std::size_t(512) << 20, 1024);
    struct Peak : PicRowTarget {
        void Begin(int, int, bool) override { }
        void Row(const std::uint8_t*) override { held = std::max(held, DecodeMemoryInUse()); }
        std::size_t held = 0;
    };
    for (bool progressive : {false, true}) {
        const Bytes file = MakeJpeg(1600, 1200, 3, Stripes(), 90, false, progressive);
        PicReader reader;
        reader.SetUsefulSize(kFrameWidth, kNtscFrameHeight);
        Peak peak;
        reader.DecodeMemoryRows(file.data(), file.size(), peak);
        // Two bytes for each of the 1.5 coefficients a pixel has at 4:2:0.
        EXPECT_EQ(peak.held, progressive ? std::size_t(1600) * 1200 * 3 : 0u) << progressive;
    }
    EXPECT_EQ(DecodeMemoryInUse(), 0u);
    SetDecodeMemoryLimits(std::size_t(512) << 20, std::size_t(64) << 20);
}

TEST(DecodeBoundsTest, PictureTruncatedDuringTheDecodeIsNoSignal)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("lumivox-cut-" + std::to_string(::getpid()) + ".jpg")).string();
    const Bytes file = MakeJpeg(256, 1024, 3, Stripes());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
    bool cut = false;
    const DecodeWatchScope watch(nullptr, [&] {
        if (!cut)
            cut = ::truncate(path.c_str(), 100) == 0;
    });
    PicReader reader;
    PicBitmap target;
    // What was read is decoded (or refused); the process lives on either way.
    try {
        reader.DecodeFile(path, target, 32);
        EXPECT_EQ(target.Height(), 1024);
    } catch (const PLTextException&) { }
    EXPECT_TRUE(cut);
    std::filesystem::remove(path);
}

} // namespace

// Pictures whose size would be held whole by their decoder are read at the reduced size
// they are shown at: an interlaced PNG pass by pass, a PNG with a profile row by row, the
// first frame of a WebP animation alone on its canvas. What each decode reserved in the
// budget (given back only when the outer scope here ends) stays near the reduced size.
TEST(DecodeBoundsTest, HugePngAndWebpCanvasesAreReservedOnlyAtTheirReducedSize)
{
    SetDecodeMemoryLimits(std::size_t(512) << 20, 1024);
    struct Case {
        const char* name;
        Bytes file;
        int width, height;
    };
    const Case cases[] = {
        {"interlaced png", BlackPng(4003, 3001, true, false), 501, 376},
        {"png with a profile", BlackPng(4003, 3001, false, true), 501, 376},
        {"animated webp", RedPixelOnAnimatedCanvas(16383, 800, 1600), 2048, 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecodeMemoryScope outer;
        PicReader reader;
        reader.SetMode(DecodeMode::Reduced);
        PicBitmap target;
        ASSERT_EQ(DecodeError(reader, c.file, target), "");
        EXPECT_EQ(target.Width(), c.width);
        EXPECT_EQ(target.Height(), c.height);
        EXPECT_LE(DecodeMemoryInUse(), std::size_t(c.width) * c.height * 4 + (1u << 20));
        EXPECT_EQ(PixelAt(target, 1, 1) & 0xFFFFFF, 0u);
    }
    SetDecodeMemoryLimits(std::size_t(512) << 20, std::size_t(64) << 20);
    // The animation's frame lands where it stands on the canvas.
    const PicBitmap frame = Decode(RedPixelOnAnimatedCanvas(16383, 800, 1600), DecodeMode::Reduced);
    EXPECT_EQ(PixelAt(frame, 100, 200) & 0xFFFFFF, 0xFF0000u);
}

// Text chunks are skipped unread, and a cancel stops even a file of nothing but text
// within a few hundred kilobytes of it.
TEST(DecodeBoundsTest, PngTextIsSkippedAndCancelStopsItsReading)
{
    const Bytes file = BlackPng(2, 2, false, false, 40, 64u << 10);
    EXPECT_EQ(PixelAt(Decode(file), 1, 1), 0xFF000000u);
    std::atomic<bool> cancel{false};
    int steps = 0;
    const DecodeWatchScope watch(&cancel, [&] {
        if (++steps == 2)
            cancel = true;
    });
    PicReader reader;
    PicBitmap target;
    EXPECT_EQ(DecodeError(reader, file, target), kDecodeCancelled);
    EXPECT_EQ(steps, 2);
}

// SPDX-License-Identifier: GPL-2.0-or-later
// The still encoder: colour conversion and frame reading checked directly, encoded stills
// read back by our own sequence-header parse and by ffmpeg as the independent decoder.

#include "encoder/encoder_helpers.h"
#include "production/SlideshowTrack.h"
#include "production/StillEncoder.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace lumivox {
namespace {
using namespace lumivox::test;
namespace fs = std::filesystem;

#define REQUIRE_FFMPEG()                                                                                               \
    if (!HaveFfmpeg())                                                                                                 \
    GTEST_SKIP() << "ffmpeg/ffprobe are not installed"

// The formulas as written, in floating point with truncation, for comparison.
YCbCrSample Reference(int r, int g, int b)
{
    return {static_cast<int>(std::trunc((29.0 * b + 150.0 * g + 77.0 * r) / 256.0)),
            static_cast<int>(std::trunc((131.0 * b - 87.0 * g - 44.0 * r) / 256.0 + 128.0)),
            static_cast<int>(std::trunc((-21.0 * b - 110.0 * g + 131.0 * r) / 256.0 + 128.0))};
}

TEST(StillColourConversion, KnownColours)
{
    struct Case {
        const char* name;
        Rgb rgb;
        YCbCrSample expected;
    } cases[] = {
        {"white", {255, 255, 255}, {255, 128, 128}},    {"black", {0, 0, 0}, {0, 128, 128}},
        {"pure blue", {0, 0, 255}, {28, 258, 107}},     {"pure red", {255, 0, 0}, {76, 84, 258}},
        {"yellow", {255, 255, 0}, {226, -2, 148}},      {"cyan", {0, 255, 255}, {178, 171, -2}},
        {"mid grey", {128, 128, 128}, {128, 128, 128}},
    };
    for (const auto& c : cases) {
        YCbCrSample got = ConvertRgbToYCbCr(c.rgb.r, c.rgb.g, c.rgb.b);
        EXPECT_EQ(got.y, c.expected.y) << c.name;
        EXPECT_EQ(got.cb, c.expected.cb) << c.name;
        EXPECT_EQ(got.cr, c.expected.cr) << c.name;
    }
}

TEST(StillColourConversion, MatchesFloatingPointFormulaWithTruncation)
{
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 7) {
                YCbCrSample got = ConvertRgbToYCbCr(r, g, b);
                YCbCrSample want = Reference(r, g, b);
                ASSERT_TRUE(got.y == want.y && got.cb == want.cb && got.cr == want.cr)
                    << "rgb " << r << "," << g << "," << b << ": got " << got.y << "/" << got.cb << "/" << got.cr
                    << " want " << want.y << "/" << want.cb << "/" << want.cr;
            }
}

TEST(StillFrameReading, WhiteFrameGivesFullLuminanceAndNeutralChroma)
{
    DibFrame frame = MakeFrame(64, 32, 32, [](int, int) { return Rgb{255, 255, 255}; });
    StillPlanes planes;
    std::string error;
    ASSERT_TRUE(ReadStillFrame(frame.header.data(), nullptr, frame.pixels.data(), planes, &error)) << error;
    ASSERT_EQ(planes.y.size(), 64u * 32u);
    ASSERT_EQ(planes.cb.size(), 32u * 16u);
    for (auto v : planes.y)
        ASSERT_EQ(v, 255);
    for (auto v : planes.cb)
        ASSERT_EQ(v, 128);
    for (auto v : planes.cr)
        ASSERT_EQ(v, 128);
}

TEST(StillFrameReading, RowsAreReadFromTheTopOfTheBottomUpBitmap)
{
    // Top half red, bottom half blue: the first plane row must be red's luminance.
    DibFrame frame = MakeFrame(32, 32, 32, [](int, int y) { return y < 16 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; });
    StillPlanes planes;
    ASSERT_TRUE(ReadStillFrame(frame.header.data(), nullptr, frame.pixels.data(), planes, nullptr));
    EXPECT_EQ(planes.y[0], 76);
    EXPECT_EQ(planes.y[31 * 32], 28);
}

TEST(StillFrameReading, SaturatedChromaIsClampedNotWrapped)
{
    // Unclamped, pure blue's Cb of 258 would wrap to 2 and turn the blue sky green-yellow.
    DibFrame frame = MakeFrame(32, 32, 32, [](int, int) { return Rgb{0, 0, 255}; });
    StillPlanes planes;
    ASSERT_TRUE(ReadStillFrame(frame.header.data(), nullptr, frame.pixels.data(), planes, nullptr));
    for (auto v : planes.cb)
        ASSERT_EQ(v, 255);
    DibFrame yellow = MakeFrame(32, 32, 32, [](int, int) { return Rgb{255, 255, 0}; });
    ASSERT_TRUE(ReadStillFrame(yellow.header.data(), nullptr, yellow.pixels.data(), planes, nullptr));
    for (auto v : planes.cb)
        ASSERT_EQ(v, 0);
}

TEST(StillFrameReading, AllAcceptedPixelFormatsReadTheSamePicture)
{
    const int w = 40, h = 24;
    // Colours that 5 bits per component carry exactly (v * 255 / 31 is whole for these).
    auto colour = [](int x, int y) {
        static const Rgb table[] = {{255, 0, 0}, {0, 255, 0},   {0, 0, 255},   {255, 255, 255},
                                    {0, 0, 0},   {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
        return table[(x / 5 + y / 3) % 8];
    };
    DibFrame frame32 = MakeFrame(w, h, 32, colour, 0xAB);
    StillPlanes reference;
    ASSERT_TRUE(ReadStillFrame(frame32.header.data(), nullptr, frame32.pixels.data(), reference, nullptr));

    // 24 bits: the same as 32 with the fourth byte ignored.
    DibFrame frame24 = MakeFrame(w, h, 24, colour);
    // 8 bits with a palette of the eight colours.
    DibFrame frame8;
    frame8.header = MakeHeader(w, h, 8, 0, 8);
    for (int i = 0; i < 8; ++i) {
        Rgb c = colour(i * 5, 0);
        frame8.palette.insert(frame8.palette.end(), {static_cast<std::uint8_t>(c.b), static_cast<std::uint8_t>(c.g),
                                                     static_cast<std::uint8_t>(c.r), 0});
    }
    std::size_t stride8 = (w + 3) / 4 * 4;
    frame8.pixels.assign(stride8 * h, 0);
    // 16 bits, 5-5-5.
    DibFrame frame16;
    frame16.header = MakeHeader(w, h, 16);
    std::size_t stride16 = (w * 2 + 3) / 4 * 4;
    frame16.pixels.assign(stride16 * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Rgb c = colour(x, y);
            frame8.pixels[stride8 * (h - 1 - y) + x] = static_cast<std::uint8_t>((x / 5 + y / 3) % 8);
            int v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
            frame16.pixels[stride16 * (h - 1 - y) + x * 2] = static_cast<std::uint8_t>(v);
            frame16.pixels[stride16 * (h - 1 - y) + x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
        }

    struct Case {
        const char* name;
        const DibFrame* frame;
    } cases[] = {{"24-bit", &frame24}, {"8-bit palette", &frame8}, {"16-bit 5-5-5", &frame16}};
    for (const auto& c : cases) {
        StillPlanes planes;
        std::string error;
        ASSERT_TRUE(ReadStillFrame(c.frame->header.data(), c.frame->Palette(), c.frame->pixels.data(), planes, &error))
            << c.name << ": " << error;
        EXPECT_EQ(planes.y, reference.y) << c.name;
        EXPECT_EQ(planes.cb, reference.cb) << c.name;
        EXPECT_EQ(planes.cr, reference.cr) << c.name;
    }
}

TEST(StillFrameReading, RefusedFramesFailWithTheEncoderText)
{
    const std::string format = "\ncan only handle 8 bit palettized, or 16, 24, or 32 bit RGB video!";
    std::vector<std::uint8_t> pixels(64 * 64 * 4, 0);
    std::vector<std::uint8_t> palette(256 * 4, 0);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> header;
        const std::uint8_t* palette;
        std::string text;
    } cases[] = {
        {"1 bit", MakeHeader(16, 16, 1), palette.data(), format},
        {"4 bit", MakeHeader(16, 16, 4), palette.data(), format},
        {"8 bit RLE", MakeHeader(16, 16, 8, 1), palette.data(), format},
        {"8 bit without palette", MakeHeader(16, 16, 8), nullptr, format},
        {"zero width", MakeHeader(0, 16, 32), nullptr, "Horizontal size from input stream illegal\n"},
        {"negative width", MakeHeader(-4, 16, 32), nullptr, "Horizontal size from input stream illegal\n"},
        {"huge width", MakeHeader(100000, 16, 32), nullptr, "Horizontal size from input stream illegal\n"},
        {"zero height", MakeHeader(16, 0, 32), nullptr, "Vertical size from input stream illegal\n"},
        {"top-down height", MakeHeader(16, -16, 32), nullptr, "Vertical size from input stream illegal\n"},
    };
    for (const auto& c : cases) {
        StillEncoder encoder;
        encoder.SetStillFrame(c.header.data(), c.palette, pixels.data());
        std::string error;
        EXPECT_FALSE(encoder.PrepareStillEncoder(&error)) << c.name;
        EXPECT_EQ(error, c.text) << c.name;
    }
}

// --- Encoding, read back -----------------------------------------------------------------

struct EncodedStill {
    fs::path file;
    StillPlanes planes;
};

EncodedStill Encode(const TempFolder& folder, const DibFrame& frame, TvNorm norm, const std::string& name,
                    StillTransforms transforms = StillTransforms::Fast)
{
    EncodedStill result;
    result.file = folder / name;
    EXPECT_TRUE(ReadStillFrame(frame.header.data(), frame.Palette(), frame.pixels.data(), result.planes, nullptr));
    StillEncoder encoder;
    encoder.SetTransforms(transforms);
    encoder.SetStillFrame(frame.header.data(), frame.Palette(), frame.pixels.data());
    std::string error;
    EXPECT_TRUE(encoder.PrepareStillEncoder(&error)) << error;
    EXPECT_TRUE(encoder.EncodeStill(result.file.string(), norm, &error)) << error;
    return result;
}

TEST(StillEncoding, HighResolutionStillsOfBothNormsCarryTheForcedHeader)
{
    TempFolder folder;
    struct Case {
        const char* name;
        int height;
        TvNorm norm;
    } cases[] = {{"NTSC", 480, TvNorm::Ntsc}, {"PAL", 576, TvNorm::Pal}};
    for (const auto& c : cases) {
        DibFrame frame =
            MakeFrame(704, c.height, 32, [&](int x, int y) { return PhotoLikeColour(x, y, 704, c.height); });
        EncodedStill still = Encode(folder, frame, c.norm, std::string(c.name) + ".m1v");
        std::vector<std::uint8_t> bytes = ReadFile(still.file);
        SequenceHeader header = ParseSequenceHeader(bytes);
        ASSERT_TRUE(header.found) << c.name;
        EXPECT_EQ(header.width, 704) << c.name;
        EXPECT_EQ(header.height, c.height) << c.name;
        EXPECT_EQ(header.frameRateCode, 3) << c.name << ": 25 Hz for both norms";
        EXPECT_EQ(header.aspectCode, 8) << c.name << ": PAL 4:3 pixel aspect for both norms";
        EXPECT_EQ(header.bitRate400 * 400, 8000000u) << c.name;
        EXPECT_EQ(header.vbvBufferSize * 2, 224) << c.name << ": 224 KB video buffer";
        EXPECT_EQ(bytes.size(), static_cast<std::size_t>(kStillTargetBytes)) << c.name << ": padded to the target";
        // The stream still ends with its sequence end code after the padding.
        ASSERT_GE(bytes.size(), 4u);
        EXPECT_EQ(bytes[bytes.size() - 1], 0xB7) << c.name;
        EXPECT_EQ(bytes[bytes.size() - 2], 0x01) << c.name;

        if (!HaveFfmpeg())
            continue;
        auto streams = ProbeStreams(still.file);
        ASSERT_EQ(streams.size(), 1u) << c.name;
        EXPECT_EQ(streams[0].rfind("mpeg1video,video,704," + std::to_string(c.height), 0), 0u)
            << c.name << ": " << streams[0];
    }
}

TEST(StillEncoding, DecodedPhotoMatchesTheInputFrame)
{
    REQUIRE_FFMPEG();
    TempFolder folder;
    const int w = 704, h = 480;
    DibFrame frame = MakeFrame(w, h, 32, [](int x, int y) { return PhotoLikeColour(x, y, 704, 480); });
    EncodedStill still = Encode(folder, frame, TvNorm::Ntsc, "photo.m1v");
    std::vector<std::uint8_t> yuv;
    ASSERT_TRUE(DecodeYuv420(still.file, w, h, yuv));
    std::size_t lumaCount = static_cast<std::size_t>(w) * h;
    std::size_t chromaCount = still.planes.cb.size();
    double lumaPsnr = Psnr(yuv.data(), still.planes.y.data(), lumaCount);
    double cbPsnr = Psnr(yuv.data() + lumaCount, still.planes.cb.data(), chromaCount);
    double crPsnr = Psnr(yuv.data() + lumaCount + chromaCount, still.planes.cr.data(), chromaCount);
    EXPECT_GT(lumaPsnr, 35.0);
    EXPECT_GT(cbPsnr, 35.0);
    EXPECT_GT(crPsnr, 35.0);
}

// The fast block transforms cost no visible quality: on synthetic frames and on rendered
// slides of real photos, the still decoded by ffmpeg is as close to the frame as the one
// the library's reference transforms give (within 0.05 dB over all three planes).
TEST(StillEncoding, FastTransformsKeepTheReferenceQuality)
{
    REQUIRE_FFMPEG();
    TempFolder folder;
    auto fromImage = [](const char* name) {
        QImage image(QString(LUMIVOX_TEST_DATA "/render/") + name);
        image = image.convertToFormat(QImage::Format_RGB32);
        return MakeFrame(image.width(), image.height(), 32, [&](int x, int y) {
            const QRgb pixel = image.pixel(x, y);
            return Rgb{qRed(pixel), qGreen(pixel), qBlue(pixel)};
        });
    };
    struct Case {
        std::string name;
        DibFrame frame;
        TvNorm norm;
    } cases[] = {
        {"photo-like NTSC", MakeFrame(704, 480, 32, [](int x, int y) { return PhotoLikeColour(x, y, 704, 480); }),
         TvNorm::Ntsc},
        {"photo-like PAL", MakeFrame(704, 576, 32, [](int x, int y) { return PhotoLikeColour(x, y, 704, 576); }),
         TvNorm::Pal},
        {"landscape slide NTSC", fromImage("slide_landscape_ntsc.png"), TvNorm::Ntsc},
        {"landscape slide PAL", fromImage("slide_landscape_pal.png"), TvNorm::Pal},
        {"portrait slide NTSC", fromImage("slide_portrait_ntsc.png"), TvNorm::Ntsc},
    };
    int differing = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.frame.height == 480 || c.frame.height == 576);
        double psnr[2];
        std::vector<std::uint8_t> bytes[2];
        for (StillTransforms transforms : {StillTransforms::Fast, StillTransforms::Reference}) {
            const int which = static_cast<int>(transforms);
            EncodedStill still = Encode(folder, c.frame, c.norm, "still" + std::to_string(which) + ".m1v", transforms);
            std::vector<std::uint8_t> decoded;
            ASSERT_TRUE(DecodeYuv420(still.file, c.frame.width, c.frame.height, decoded));
            std::vector<std::uint8_t> frame = still.planes.y;
            frame.insert(frame.end(), still.planes.cb.begin(), still.planes.cb.end());
            frame.insert(frame.end(), still.planes.cr.begin(), still.planes.cr.end());
            ASSERT_EQ(decoded.size(), frame.size());
            psnr[which] = Psnr(decoded.data(), frame.data(), frame.size());
            bytes[which] = ReadFile(still.file);
        }
        EXPECT_GT(psnr[0], 30.0);
        EXPECT_NEAR(psnr[0], psnr[1], 0.05) << "fast " << psnr[0] << " dB, reference " << psnr[1] << " dB";
        differing += bytes[0] != bytes[1];
    }
    // The fast pair is really in use: it rounds a coefficient differently now and then.
    EXPECT_GT(differing, 0);
}

TEST(StillEncoding, FlatColoursComeBackWithinAFewLevels)
{
    REQUIRE_FFMPEG();
    TempFolder folder;
    const int w = 704, h = 576;
    // Eight flat bands of 88 pixels; the centre of each band is checked.
    static const Rgb bands[] = {{255, 255, 255}, {0, 0, 0},       {200, 30, 40},  {20, 160, 60},
                                {40, 60, 200},   {128, 128, 128}, {240, 200, 80}, {90, 40, 120}};
    DibFrame frame = MakeFrame(w, h, 32, [](int x, int) { return bands[x / 88]; });
    EncodedStill still = Encode(folder, frame, TvNorm::Pal, "flat.m1v");
    std::vector<std::uint8_t> yuv;
    ASSERT_TRUE(DecodeYuv420(still.file, w, h, yuv));
    std::size_t lumaCount = static_cast<std::size_t>(w) * h;
    int cw = w / 2;
    for (int band = 0; band < 8; ++band) {
        YCbCrSample want = ConvertRgbToYCbCr(bands[band].r, bands[band].g, bands[band].b);
        int x = band * 88 + 44, y = h / 2;
        int gotY = yuv[static_cast<std::size_t>(y) * w + x];
        int gotCb = yuv[lumaCount + static_cast<std::size_t>(y / 2) * cw + x / 2];
        int gotCr = yuv[lumaCount + lumaCount / 4 + static_cast<std::size_t>(y / 2) * cw + x / 2];
        EXPECT_NEAR(gotY, std::clamp(want.y, 0, 255), 3) << "band " << band;
        EXPECT_NEAR(gotCb, std::clamp(want.cb, 0, 255), 3) << "band " << band;
        EXPECT_NEAR(gotCr, std::clamp(want.cr, 0, 255), 3) << "band " << band;
    }
}

TEST(StillEncoding, FatalEncoderErrorsFailTheCallAndTheNextEncodeSucceeds)
{
    TempFolder folder;
    DibFrame good = MakeFrame(704, 480, 32, [](int x, int y) { return PhotoLikeColour(x, y, 704, 480); });
    // A size the Video CD stills profile refuses, then an output that cannot be created.
    DibFrame wrongSize = MakeFrame(640, 480, 32, [](int, int) { return Rgb{10, 20, 30}; });
    struct Case {
        const char* name;
        const DibFrame* frame;
        fs::path output;
        std::string expected;
    } cases[] = {
        {"wrong size", &wrongSize, folder / "wrong.m1v",
         "VCD high resolution stills must be 704x576 (PAL) or 704x480 (NTSC)"},
        {"missing folder", &good, folder / "no-such-folder" / "out.m1v",
         "Couldn't create output file " + (folder / "no-such-folder" / "out.m1v").string()},
    };
    for (const auto& c : cases) {
        StillEncoder encoder;
        encoder.SetStillFrame(c.frame->header.data(), nullptr, c.frame->pixels.data());
        std::string error;
        ASSERT_TRUE(encoder.PrepareStillEncoder(&error)) << c.name << ": " << error;
        EXPECT_FALSE(encoder.EncodeStill(c.output.string(), TvNorm::Ntsc, &error)) << c.name;
        EXPECT_EQ(error, c.expected) << c.name;

        // The process is healthy: the next picture encodes.
        fs::path next = folder / (std::string(c.name) + "-next.m1v");
        encoder.SetStillFrame(good.header.data(), nullptr, good.pixels.data());
        ASSERT_TRUE(encoder.PrepareStillEncoder(&error)) << error;
        EXPECT_TRUE(encoder.EncodeStill(next.string(), TvNorm::Ntsc, &error)) << c.name << ": " << error;
        EXPECT_EQ(fs::file_size(next), static_cast<std::uintmax_t>(kStillTargetBytes)) << c.name;
    }
}

TEST(StillEncoding, EncodeWithoutPreparedFrameIsRefused)
{
    StillEncoder encoder;
    std::string error;
    EXPECT_FALSE(encoder.EncodeStill("/tmp/never-written.m1v", TvNorm::Pal, &error));
    EXPECT_FALSE(error.empty());
}

TEST(StillEncoding, PicBitmapFrameEncodesLikeTheRawBitmap)
{
    TempFolder folder;
    PicBitmap bitmap;
    bitmap.Create(704, 480, 32, false);
    for (int y = 0; y < 480; ++y) {
        std::uint8_t* row = bitmap.Row(y);
        for (int x = 0; x < 704; ++x) {
            Rgb c = PhotoLikeColour(x, y, 704, 480);
            row[x * 4] = static_cast<std::uint8_t>(c.b);
            row[x * 4 + 1] = static_cast<std::uint8_t>(c.g);
            row[x * 4 + 2] = static_cast<std::uint8_t>(c.r);
        }
    }
    DibFrame frame = MakeFrame(704, 480, 32, [](int x, int y) { return PhotoLikeColour(x, y, 704, 480); });
    fs::path fromBitmap = folder / "bitmap.m1v";
    std::string error;
    ASSERT_TRUE(EncodeStill(bitmap, TvNorm::Ntsc, fromBitmap.string(), &error)) << error;
    EncodedStill fromFrame = Encode(folder, frame, TvNorm::Ntsc, "frame.m1v");
    EXPECT_EQ(ReadFile(fromBitmap), ReadFile(fromFrame.file));
}

// The slideshow track's picture of a slide: one I picture (nothing else is coded), headers
// that say the track's 1,150 kbit/s and 40 KB buffer, a size the track's buffer takes
// with room to spare, and the slide's picture back within a fair PSNR.
TEST(StillEncoding, TrackPictureIsOneIntraPictureOfTheTrack)
{
    TempFolder folder;
    for (TvNorm norm : {TvNorm::Ntsc, TvNorm::Pal}) {
        const int height = norm == TvNorm::Pal ? 576 : 480;
        SCOPED_TRACE(height);
        DibFrame frame = MakeFrame(704, height, 32, [&](int x, int y) { return PhotoLikeColour(x, y, 704, height); });
        StillPlanes full;
        StillPlanes planes;
        std::string error;
        ASSERT_TRUE(ReadStillFrame(frame.header.data(), frame.Palette(), frame.pixels.data(), full, &error));
        ASSERT_TRUE(TrackPlanesFromStill(full, planes, &error)) << error;
        const fs::path file = folder / (std::to_string(height) + ".m1v");
        ASSERT_TRUE(EncodeTrackPicture(planes, norm, file.string(), &error)) << error;
        const std::vector<std::uint8_t> bytes = ReadFile(file);
        const SequenceHeader header = ParseSequenceHeader(bytes);
        ASSERT_TRUE(header.found);
        EXPECT_EQ(header.bitRate400 * 400, 1152000u);
        EXPECT_EQ(header.vbvBufferSize * 2, 40);
        int pictures = 0;
        for (std::size_t i = 0; i + 5 < bytes.size(); ++i)
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0) {
                ++pictures;
                EXPECT_EQ((bytes[i + 5] >> 3) & 7, 1) << "an I picture";
            }
        EXPECT_EQ(pictures, 1);
        EXPECT_GT(bytes.size(), 8u * 1024);
        EXPECT_LT(bytes.size(), 28u * 1024);
        if (!HaveFfmpeg())
            continue;
        std::vector<std::uint8_t> yuv;
        ASSERT_TRUE(DecodeYuv420(file, planes.width, planes.height, yuv));
        EXPECT_GT(Psnr(yuv.data(), planes.y.data(), planes.y.size()), 35.0);
    }
}

} // namespace
} // namespace lumivox

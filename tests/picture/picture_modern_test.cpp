// SPDX-License-Identifier: GPL-2.0-or-later
// Today's formats — PNG, WebP, HEIF — and embedded colour profiles: colours, alpha over
// black, HEIF rotation, reduced mode, and damaged or cut-short files. Every file is made
// here through the formats' own libraries.
#include "picture/picture_decode_helpers.h"

#include "picture/ColorProfile.h"
#include "picture/DecodeFinish.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <lcms2.h>
#include <libheif/heif.h>
#include <png.h>
#include <webp/encode.h>
#include <webp/mux.h>

using namespace lumivox;
using namespace lumivox::test;

namespace {

constexpr int kW = 64;
constexpr int kH = 48;

// RGBA of pixel x, y.
using RgbaFunction = std::function<void(int x, int y, std::uint8_t* rgba)>;

RgbaFunction Solid(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255)
{
    return [=](int, int, std::uint8_t* p) { p[0] = r, p[1] = g, p[2] = b, p[3] = a; };
}

// Red, opaque in the middle, fading to transparent (and green) towards the left edge:
// composited over black, the edge shows black rather than green.
void RedWithTransparentEdge(int x, int, std::uint8_t* p)
{
    const bool edge = x < 4;
    p[0] = edge ? 0 : 255, p[1] = edge ? 255 : 0, p[2] = 0, p[3] = edge ? 0 : 255;
}

// An RGB profile whose red and green primaries are exchanged (sRGB otherwise): its
// stored green is the colour sRGB calls red.
Bytes SwappedProfile()
{
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.30, 0.60, 1.0}, {0.64, 0.33, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes out(size);
    cmsSaveProfileToMem(profile, out.data(), &size);
    cmsCloseProfile(profile);
    return out;
}

struct PngSpec {
    int colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    int bitDepth = 8;
    bool interlaced = false;
    Bytes icc{};
    int width = kW, height = kH;
};

void PngWrite(png_structp png, png_bytep data, png_size_t size)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

Bytes MakePng(const PngSpec& spec, const RgbaFunction& pixel)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, PngWrite, nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colourType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Palette files: entry 0 transparent green, entry 1 opaque red (by the pixel's red).
    png_color palette[2] = {{0, 255, 0}, {255, 0, 0}};
    png_byte alpha[1] = {0};
    if (spec.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, palette, 2);
        png_set_tRNS(png, info, alpha, 1, nullptr);
    }
    if (!spec.icc.empty())
        png_set_iCCP(png, info, "test", 0, spec.icc.data(), static_cast<png_uint_32>(spec.icc.size()));
    png_write_info(png, info);
    if (spec.bitDepth == 16)
        png_set_swap(png);
    const int channels = png_get_channels(png, info);
    const int bytes = spec.bitDepth == 16 ? 2 : 1;
    std::vector<png_byte> row(static_cast<std::size_t>(spec.width) * channels * bytes);
    std::vector<png_bytep> rows;
    std::vector<std::vector<png_byte>> image;
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            std::uint8_t rgba[4];
            pixel(x, y, rgba);
            std::uint16_t values[4] = {rgba[0], rgba[1], rgba[2], rgba[3]};
            if (spec.colourType == PNG_COLOR_TYPE_PALETTE)
                values[0] = rgba[0] > 127 ? 1 : 0;
            if ((spec.colourType & PNG_COLOR_MASK_COLOR) == 0)
                values[0] = rgba[1], values[1] = rgba[3];
            for (int c = 0; c < channels; ++c) {
                const std::size_t at = (static_cast<std::size_t>(x) * channels + c) * bytes;
                if (bytes == 2) {
                    const unsigned v = values[c] * 257u;
                    row[at] = static_cast<png_byte>(v & 0xFF), row[at + 1] = static_cast<png_byte>(v >> 8);
                } else {
                    row[at] = static_cast<png_byte>(values[c]);
                }
            }
        }
        image.push_back(row);
    }
    for (auto& r : image)
        rows.push_back(r.data());
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<std::uint8_t> Rgba(int w, int h, const RgbaFunction& pixel)
{
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixel(x, y, &rgba[(static_cast<std::size_t>(y) * w + x) * 4]);
    return rgba;
}

Bytes Assemble(WebPMux* mux)
{
    WebPData assembled;
    WebPDataInit(&assembled);
    WebPMuxAssemble(mux, &assembled);
    Bytes out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return out;
}

Bytes MakeWebp(bool lossless, const RgbaFunction& pixel, const Bytes& icc = {}, int w = kW, int h = kH)
{
    const auto rgba = Rgba(w, h, pixel);
    std::uint8_t* encoded = nullptr;
    const std::size_t size = lossless ? WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &encoded)
                                      : WebPEncodeRGBA(rgba.data(), w, h, w * 4, 90, &encoded);
    Bytes out(encoded, encoded + size);
    WebPFree(encoded);
    if (icc.empty())
        return out;
    WebPData image{out.data(), out.size()};
    WebPMux* mux = WebPMuxCreate(&image, 1);
    WebPData profile{icc.data(), icc.size()};
    WebPMuxSetChunk(mux, "ICCP", &profile, 1);
    return Assemble(mux);
}

// Two frames: red, then blue.
Bytes MakeAnimatedWebp()
{
    WebPAnimEncoderOptions options;
    WebPAnimEncoderOptionsInit(&options);
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(kW, kH, &options);
    WebPConfig config;
    WebPConfigInit(&config);
    int timestamp = 0;
    for (auto colour : {Solid(255, 0, 0), Solid(0, 0, 255)}) {
        WebPPicture picture;
        WebPPictureInit(&picture);
        picture.width = kW, picture.height = kH, picture.use_argb = 1;
        const auto rgba = Rgba(kW, kH, colour);
        WebPPictureImportRGBA(&picture, rgba.data(), kW * 4);
        WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += 100;
    }
    WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
    WebPData assembled;
    WebPDataInit(&assembled);
    WebPAnimEncoderAssemble(encoder, &assembled);
    Bytes out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPAnimEncoderDelete(encoder);
    return out;
}

heif_error WriteToBytes(heif_context*, const void* data, size_t size, void* user)
{
    auto* out = static_cast<Bytes*>(user);
    out->insert(out->end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
}

bool HaveHeifEncoder()
{
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    const bool ok = heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code == heif_error_Ok;
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(ctx);
    return ok;
}

heif_image* MakeHeifImage(const RgbaFunction& pixel, int w, int h, bool alpha)
{
    heif_image* image = nullptr;
    heif_image_create(w, h, heif_colorspace_RGB, alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                      &image);
    heif_image_add_plane(image, heif_channel_interleaved, w, h, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t rgba[4];
            pixel(x, y, rgba);
            std::memcpy(plane + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * channels, rgba,
                        static_cast<std::size_t>(channels));
        }
    return image;
}

// A HEIC of w x h as the pixel function gives it, stored with the orientation given
// (libheif writes it as rotation and mirror properties). thumbnailBox > 0: a thumbnail
// fitting that box is stored too, made from the picture
// thumbnailPixel gives (so that a test sees which of the two was decoded).
// colourPrimaries > 0: the colour box gives these primaries (ITU-T H.273), sRGB's curve.
Bytes MakeHeic(const RgbaFunction& pixel, int w = kW, int h = kH,
               heif_orientation orientation = heif_orientation_normal, const Bytes& icc = {}, bool alpha = false,
               int thumbnailBox = 0, const RgbaFunction& thumbnailPixel = {}, int colourPrimaries = 0)
{
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image* image = MakeHeifImage(pixel, w, h, alpha);
    if (!icc.empty())
        heif_image_set_raw_color_profile(image, "prof", icc.data(), icc.size());
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (colourPrimaries > 0) {
        heif_nclx_color_profile_set_color_primaries(nclx, static_cast<std::uint16_t>(colourPrimaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, 13);
        heif_nclx_color_profile_set_matrix_coefficients(nclx, 6);
        heif_image_set_nclx_color_profile(image, nclx);
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    // The colour box is left out by default, for an old viewer's sake.
    options->macOS_compatibility_workaround_no_nclx_profile = colourPrimaries > 0 ? 0 : 1;
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(ctx, image, encoder, options, &handle);
    if (thumbnailBox > 0) {
        heif_image* other = MakeHeifImage(thumbnailPixel, w, h, alpha);
        heif_context_encode_thumbnail(ctx, other, handle, encoder, options, thumbnailBox, nullptr);
        heif_image_release(other);
    }
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    Bytes out;
    heif_writer writer{1, WriteToBytes};
    heif_context_write(ctx, &writer, &out);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return out;
}

// A JPEG with the profile in an APP2 "ICC_PROFILE" marker right after its SOI.
Bytes WithJpegProfile(Bytes jpeg, const Bytes& icc)
{
    const std::size_t length = 2 + 12 + 2 + icc.size();
    Bytes marker(2 + length, 0);
    marker[0] = 0xFF, marker[1] = 0xE2;
    marker[2] = static_cast<std::uint8_t>(length >> 8), marker[3] = static_cast<std::uint8_t>(length & 0xFF);
    std::memcpy(&marker[4], "ICC_PROFILE", 12);
    marker[16] = 1, marker[17] = 1;
    std::copy(icc.begin(), icc.end(), marker.begin() + 18);
    jpeg.insert(jpeg.begin() + 2, marker.begin(), marker.end());
    return jpeg;
}

// A CMYK input profile in which cyan ink alone is red, no ink white, anything else black
// (a lookup table over the four inks with two points each, to Lab).
Bytes CyanIsRedCmykProfile()
{
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1); // a plain 16-bit lookup table (lut16) is a version 2 type
    cmsSetDeviceClass(profile, cmsSigInputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    // Lab in the version 2 encoding: L 0..100 to 0..0xFF00, a and b offset by 128, x 256.
    auto lab = [](double l, double a, double b, cmsUInt16Number* out) {
        out[0] = static_cast<cmsUInt16Number>(l / 100.0 * 65280.0 + 0.5);
        out[1] = static_cast<cmsUInt16Number>((a + 128.0) * 256.0 + 0.5);
        out[2] = static_cast<cmsUInt16Number>((b + 128.0) * 256.0 + 0.5);
    };
    cmsUInt16Number table[16 * 3];
    for (int node = 0; node < 16; ++node) {
        // The first ink (cyan) varies slowest.
        if (node == 0)
            lab(100, 0, 0, &table[node * 3]);
        else if (node == 8)
            lab(53.2, 80.1, 67.2, &table[node * 3]);
        else
            lab(0, 0, 0, &table[node * 3]);
    }
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    cmsPipelineInsertStage(pipeline, cmsAT_BEGIN, cmsStageAllocCLut16bit(nullptr, 2, 4, 3, table));
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    Bytes out(size);
    cmsSaveProfileToMem(profile, out.data(), &size);
    cmsCloseProfile(profile);
    return out;
}

// Whether 0x00RRGGBB a and b differ by at most tolerance in every channel.
bool Near(std::uint32_t a, std::uint32_t b, int tolerance)
{
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

} // namespace

TEST(PicModernTest, ColoursAlphaAndProfilesOfEveryFormat)
{
    const Bytes swapped = SwappedProfile();
    const PixelFunction storedGreen = [](int, int, std::uint8_t* p) { p[0] = 0, p[1] = 255, p[2] = 0; };
    const PixelFunction fullCyan = [](int, int, std::uint8_t* p) { p[0] = 0, p[1] = 255, p[2] = 255, p[3] = 255; };
    struct Case {
        const char* name;
        Bytes file;
        std::uint32_t centre; // 0x00RRGGBB
        std::uint32_t edge; // at x = 1
        int tolerance;
    };
    std::vector<Case> cases = {
        {"png rgba", MakePng({}, RedWithTransparentEdge), 0xFF0000, 0x000000, 0},
        {"png rgb 16-bit interlaced", MakePng({PNG_COLOR_TYPE_RGB, 16, true}, Solid(255, 0, 0)), 0xFF0000, 0xFF0000, 0},
        {"png palette with tRNS", MakePng({PNG_COLOR_TYPE_PALETTE, 8}, RedWithTransparentEdge), 0xFF0000, 0x000000, 0},
        {"png grey", MakePng({PNG_COLOR_TYPE_GRAY, 8}, Solid(0, 128, 0)), 0x808080, 0x808080, 0},
        {"png grey+alpha 16-bit", MakePng({PNG_COLOR_TYPE_GRAY_ALPHA, 16}, Solid(0, 200, 0, 128)), 0x646464, 0x646464,
         1},
        {"png with swapped profile", MakePng({PNG_COLOR_TYPE_RGB, 8, false, swapped}, Solid(0, 255, 0)), 0xFF0000,
         0xFF0000, 6},
        {"webp lossy", MakeWebp(false, Solid(255, 0, 0)), 0xFF0000, 0xFF0000, 24},
        {"webp lossless alpha", MakeWebp(true, RedWithTransparentEdge), 0xFF0000, 0x000000, 0},
        {"webp with swapped profile", MakeWebp(true, Solid(0, 255, 0), swapped), 0xFF0000, 0xFF0000, 6},
        {"webp animated: first frame", MakeAnimatedWebp(), 0xFF0000, 0xFF0000, 24},
        {"jpeg with swapped profile", WithJpegProfile(MakeJpeg(kW, kH, 3, storedGreen), swapped), 0xFF0000, 0xFF0000,
         12},
        // Stored inverted as Adobe writes it: 0 is full cyan ink. Without the profile the
        // fixed formula would give cyan.
        {"cmyk jpeg with its profile", WithJpegProfile(MakeJpeg(kW, kH, 4, fullCyan), CyanIsRedCmykProfile()), 0xFF0000,
         0xFF0000, 24},
        {"cmyk jpeg without a profile", MakeJpeg(kW, kH, 4, fullCyan), 0x00FFFF, 0x00FFFF, 8},
    };
    if (HaveHeifEncoder()) {
        cases.push_back({"heic", MakeHeic(Solid(255, 0, 0)), 0xFF0000, 0xFF0000, 24});
        cases.push_back({"heic with alpha", MakeHeic(RedWithTransparentEdge, kW, kH, heif_orientation_normal, {}, true),
                         0xFF0000, 0x000000, 24});
        cases.push_back({"heic with swapped profile",
                         MakeHeic(Solid(0, 255, 0), kW, kH, heif_orientation_normal, swapped), 0xFF0000, 0xFF0000, 24});
    } else {
        ADD_FAILURE() << "libheif has no HEVC encoder here: HEIC files cannot be made";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PicBitmap b = Decode(c.file);
        ASSERT_EQ(b.Width(), kW);
        ASSERT_EQ(b.Height(), kH);
        const std::uint32_t centre = PixelAt(b, kW / 2, kH / 2) & 0xFFFFFF;
        const std::uint32_t edge = PixelAt(b, 1, kH / 2) & 0xFFFFFF;
        EXPECT_TRUE(Near(centre, c.centre, c.tolerance)) << std::hex << "centre 0x" << centre;
        EXPECT_TRUE(Near(edge, c.edge, c.tolerance)) << std::hex << "edge 0x" << edge;
    }
}

// A phone holds the camera sideways and records how the picture stands: a landscape-
// stored picture with a quarter turn comes out as portrait, its left side on top.
TEST(PicModernTest, HeifRotationAndMirrorAreApplied)
{
    if (!HaveHeifEncoder())
        GTEST_SKIP() << "no HEVC encoder";
    const RgbaFunction leftRed = [](int x, int, std::uint8_t* p) {
        p[0] = x < kW / 2 ? 255 : 0, p[1] = 0, p[2] = x < kW / 2 ? 0 : 255, p[3] = 255;
    };
    struct Case {
        heif_orientation orientation;
        int width, height;
        int redX, redY, blueX, blueY;
    };
    const Case cases[] = {
        {heif_orientation_normal, kW, kH, 4, kH / 2, kW - 4, kH / 2},
        {heif_orientation_rotate_90_cw, kH, kW, kH / 2, 4, kH / 2, kW - 4},
        {heif_orientation_rotate_180, kW, kH, kW - 4, kH / 2, 4, kH / 2},
        {heif_orientation_flip_horizontally, kW, kH, kW - 4, kH / 2, 4, kH / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.orientation));
        const PicBitmap b = Decode(MakeHeic(leftRed, kW, kH, c.orientation));
        ASSERT_EQ(b.Width(), c.width);
        ASSERT_EQ(b.Height(), c.height);
        EXPECT_TRUE(Near(PixelAt(b, c.redX, c.redY) & 0xFFFFFF, 0xFF0000, 40));
        EXPECT_TRUE(Near(PixelAt(b, c.blueX, c.blueY) & 0xFFFFFF, 0x0000FF, 40));
    }
}

// A phone's HEIC in Display P3 holds more saturated colours than the same numbers mean
// in sRGB: converted, a muted red comes out redder than when the file says BT.709.
TEST(PicModernTest, HeifColourPrimariesAreHonoured)
{
    if (!HaveHeifEncoder())
        GTEST_SKIP() << "no HEVC encoder";
    const PicBitmap p3 = Decode(MakeHeic(Solid(200, 100, 100), kW, kH, heif_orientation_normal, {}, false, 0, {}, 12));
    const PicBitmap bt709 =
        Decode(MakeHeic(Solid(200, 100, 100), kW, kH, heif_orientation_normal, {}, false, 0, {}, 1));
    const std::uint32_t a = PixelAt(p3, kW / 2, kH / 2);
    const std::uint32_t b = PixelAt(bt709, kW / 2, kH / 2);
    EXPECT_GE(static_cast<int>((a >> 16) & 0xFF), static_cast<int>((b >> 16) & 0xFF) + 8) << std::hex << a << " " << b;
    EXPECT_LE(static_cast<int>((a >> 8) & 0xFF), static_cast<int>((b >> 8) & 0xFF) - 4) << std::hex << a << " " << b;
}

// Thumbnails: at least 320 x 240 comes out at one eighth, as a JPEG would; smaller as is.
// A HEIC's stored thumbnail stands in when it is detailed enough.
TEST(PicModernTest, ReducedModeShrinksLargePicturesByEight)
{
    struct Case {
        const char* name;
        Bytes file;
        int width, height;
        std::uint32_t colour = 0xFF0000;
    };
    std::vector<Case> cases = {
        {"png", MakePng({PNG_COLOR_TYPE_RGB, 8, false, {}, 643, 480}, Solid(255, 0, 0)), 81, 60},
        {"webp", MakeWebp(false, Solid(255, 0, 0), {}, 640, 481), 80, 61},
        {"small png", MakePng({PNG_COLOR_TYPE_RGB, 8, false, {}, 319, 480}, Solid(255, 0, 0)), 319, 480},
    };
    if (HaveHeifEncoder()) {
        cases.push_back({"heic", MakeHeic(Solid(255, 0, 0), 640, 480), 80, 60});
        cases.push_back(
            {"heic with a stored thumbnail (blue)",
             MakeHeic(Solid(255, 0, 0), 640, 480, heif_orientation_normal, {}, false, 160, Solid(0, 0, 255)), 160, 120,
             0x0000FF});
        cases.push_back({"heic whose thumbnail is too small",
                         MakeHeic(Solid(255, 0, 0), 640, 480, heif_orientation_normal, {}, false, 40, Solid(0, 0, 255)),
                         80, 60});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PicBitmap b = Decode(c.file, DecodeMode::Reduced);
        EXPECT_EQ(b.Width(), c.width);
        EXPECT_EQ(b.Height(), c.height);
        EXPECT_TRUE(Near(PixelAt(b, b.Width() / 2, b.Height() / 2) & 0xFFFFFF, c.colour, 24));
    }
}

// A PNG far larger than it is shown is shrunk row by row as it is read: the same pixels
// as reading it whole, compositing and reducing (an interlaced one pass by pass).
TEST(PicModernTest, LargePicturesShrinkWhileRead)
{
    const RgbaFunction noise = [](int x, int y, std::uint8_t* p) {
        const unsigned v = static_cast<unsigned>(x * 2654435761u ^ y * 40503u);
        p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
        p[2] = static_cast<std::uint8_t>(v >> 16), p[3] = static_cast<std::uint8_t>(x * 255 / 650);
    };
    for (const bool interlaced : {false, true}) {
        const Bytes file = MakePng({PNG_COLOR_TYPE_RGB_ALPHA, 8, interlaced, {}, 650, 487}, noise);
        PicBitmap whole = Decode(file);
        ReduceLikeJpeg(whole);
        const PicBitmap reduced = Decode(file, DecodeMode::Reduced);
        ASSERT_EQ(reduced.Width(), 82);
        ASSERT_EQ(reduced.Height(), 61);
        for (int y = 0; y < whole.Height(); ++y)
            ASSERT_EQ(std::memcmp(reduced.Row(y), whole.Row(y), static_cast<std::size_t>(whole.Width()) * 4), 0)
                << "interlaced " << interlaced << ", row " << y;
    }
    // A WebP is scaled by the library while it decodes, kept at least twice its use.
    PicReader reader;
    reader.SetUsefulSize(80, 60);
    const Bytes webp = MakeWebp(false, Solid(255, 0, 0), {}, 650, 487);
    PicBitmap scaled;
    reader.DecodeMemory(webp.data(), webp.size(), scaled);
    EXPECT_EQ(scaled.Width(), 163);
    EXPECT_EQ(scaled.Height(), 122);
}

// Cut short, the files fail with a clear message; scrambled, they fail or decode, never
// crash; pictures over the pixel limit are refused before their pixels are decoded.
TEST(PicModernTest, DamagedTruncatedAndOversizedFilesFailCleanly)
{
    struct Case {
        const char* name;
        Bytes file;
        int truncatedCode; // expected when cut in half; 0: any PLTextException
    };
    std::vector<Case> cases = {
        {"png", MakePng({}, RedWithTransparentEdge), PL_ERREND_OF_FILE},
        {"webp", MakeWebp(false, Solid(255, 0, 0)), PL_ERREND_OF_FILE},
    };
    if (HaveHeifEncoder())
        cases.push_back({"heic", MakeHeic(Solid(255, 0, 0)), 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t keep : {c.file.size() / 2, std::size_t{20}}) {
            PicReader reader;
            PicBitmap b;
            try {
                reader.DecodeMemory(c.file.data(), keep, b, 32);
                ADD_FAILURE() << "a file cut to " << keep << " bytes decoded";
            } catch (const PLTextException& e) {
                EXPECT_FALSE(e.GetText().empty());
                if (c.truncatedCode != 0 && keep > 20) {
                    EXPECT_EQ(e.GetCode(), c.truncatedCode) << e.GetText();
                }
            }
        }
        for (std::size_t at = 12; at < c.file.size(); at += 7) {
            Bytes scrambled = c.file;
            scrambled[at] ^= 0x5A;
            PicReader reader;
            PicBitmap b;
            try {
                reader.DecodeMemory(scrambled.data(), scrambled.size(), b, 32);
            } catch (const PLTextException& e) {
                EXPECT_FALSE(e.GetText().empty());
            }
        }
        PicReader reader;
        reader.SetMaxPixels(kW * kH - 1);
        PicBitmap b;
        try {
            reader.DecodeMemory(c.file.data(), c.file.size(), b, 32);
            ADD_FAILURE() << "a picture over the limit decoded";
        } catch (const PLTextException& e) {
            EXPECT_EQ(e.GetCode(), PL_ERRNO_MEMORY) << e.GetText();
        }
    }
}

// A profile that does not fit the pixels (CMYK on RGB samples), or that is no profile,
// leaves the picture as stored.
TEST(PicModernTest, UnusableProfilesAreIgnored)
{
    PicBitmap b;
    b.Create(2, 1, 32, false);
    b.Row(0)[1] = 255; // green
    const Bytes junk(300, 0x41);
    ConvertToSrgb(b, junk.data(), junk.size());
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(lab, nullptr, &size);
    Bytes labBytes(size);
    cmsSaveProfileToMem(lab, labBytes.data(), &size);
    cmsCloseProfile(lab);
    ConvertToSrgb(b, labBytes.data(), labBytes.size());
    EXPECT_EQ(PixelAt(b, 0, 0) & 0xFFFFFF, 0x00FF00u);
    EXPECT_FALSE(IsCmykProfile(junk.data(), junk.size()));
}

namespace {

Bytes BigEndian(std::uint64_t value, int bytes)
{
    Bytes out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

Bytes BoxOf(const char* type, std::initializer_list<Bytes> parts)
{
    Bytes body;
    for (const Bytes& part : parts)
        body.insert(body.end(), part.begin(), part.end());
    Bytes box = BigEndian(body.size() + 8, 4);
    box.insert(box.end(), type, type + 4);
    box.insert(box.end(), body.begin(), body.end());
    return box;
}

Bytes Text(const char* s)
{
    return Bytes(s, s + std::strlen(s));
}

// A file whose grid item (data in the file, 32-bit sizes) and overlay item (data in the
// idat box, 16-bit sizes) declare the given canvases; the tiles they name do not exist.
Bytes DerivedCanvasFile(std::uint32_t gridW, std::uint32_t gridH, std::uint16_t overlayW, std::uint16_t overlayH)
{
    const Bytes grid = {0, 1, 0, 0};
    Bytes gridData = grid;
    for (const Bytes& b : {BigEndian(gridW, 4), BigEndian(gridH, 4)})
        gridData.insert(gridData.end(), b.begin(), b.end());
    Bytes overlayData = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const Bytes& b : {BigEndian(overlayW, 2), BigEndian(overlayH, 2)})
        overlayData.insert(overlayData.end(), b.begin(), b.end());
    const Bytes ftyp = BoxOf("ftyp", {Text("heic"), BigEndian(0, 4), Text("mif1heic")});
    auto meta = [&](std::uint32_t gridOffset) {
        const Bytes iinf = BoxOf(
            "iinf", {BigEndian(0, 4), BigEndian(2, 2),
                     BoxOf("infe", {BigEndian(2u << 24, 4), BigEndian(1, 2), BigEndian(0, 2), Text("grid"), {0}}),
                     BoxOf("infe", {BigEndian(2u << 24, 4), BigEndian(2, 2), BigEndian(0, 2), Text("iovl"), {0}})});
        const Bytes iloc = BoxOf("iloc", {BigEndian(1u << 24, 4),
                                          {0x44, 0x00},
                                          BigEndian(2, 2),
                                          BigEndian(1, 2),
                                          BigEndian(0, 2),
                                          BigEndian(0, 2),
                                          BigEndian(1, 2),
                                          BigEndian(gridOffset, 4),
                                          BigEndian(gridData.size(), 4),
                                          BigEndian(2, 2),
                                          BigEndian(1, 2),
                                          BigEndian(0, 2),
                                          BigEndian(1, 2),
                                          BigEndian(0, 4),
                                          BigEndian(overlayData.size(), 4)});
        return BoxOf("meta", {BigEndian(0, 4), BoxOf("pitm", {BigEndian(0, 4), BigEndian(1, 2)}), iinf, iloc,
                              BoxOf("idat", {overlayData})});
    };
    const std::size_t gridOffset = ftyp.size() + meta(0).size() + 8;
    Bytes file = ftyp;
    for (const Bytes& b : {meta(static_cast<std::uint32_t>(gridOffset)), BoxOf("mdat", {gridData})})
        file.insert(file.end(), b.begin(), b.end());
    return file;
}

std::string HeifError(const Bytes& file)
{
    PicReader reader;
    PicBitmap b;
    try {
        reader.DecodeMemory(file.data(), file.size(), b, 32);
    } catch (const PLTextException& e) {
        return e.GetText();
    }
    return "decoded";
}

} // namespace

// A grid or overlay declares its canvas in a few bytes; one beyond the limit is refused
// from the boxes, before libheif would allocate it.
TEST(PicModernTest, HeifCanvasesBeyondTheLimitAreRefusedUnread)
{
    EXPECT_EQ(HeifError(DerivedCanvasFile(20000, 20000, 64, 48)), "Picture size 20000 x 20000 is beyond the limit.");
    EXPECT_EQ(HeifError(DerivedCanvasFile(64, 48, 60000, 2)), "Picture size 60000 x 2 is beyond the limit.");
    const std::string small = HeifError(DerivedCanvasFile(64, 48, 64, 48));
    EXPECT_EQ(small.find("beyond the limit"), std::string::npos) << small;
    EXPECT_NE(small, "decoded");
}

// The probe that checks a project's pictures for the command line tells each picture's own
// size, the size its full decode has, though it decodes some formats at an eighth.
TEST(PicProbe, EveryFormatTellsItsOwnSize)
{
    constexpr int w = 410, h = 306; // large enough to be reduced, and not a multiple of 8
    const auto grey = [](int x, int y, std::uint8_t* out) { out[0] = out[1] = out[2] = static_cast<std::uint8_t>(x ^ y); };
    const auto bmp = [&](std::uint32_t infoSize, bool topDown) {
        BmpSpec spec;
        spec.width = w;
        spec.height = topDown ? -h : h;
        spec.infoSize = infoSize;
        spec.pixels.assign(static_cast<std::size_t>((w * 3 + 3) & ~3) * h, 0x80);
        return MakeBmp(spec);
    };
    const auto tiff = [&](int samples, bool bigEndian, bool tiled) {
        TiffSpec spec;
        spec.width = w;
        spec.height = h;
        spec.samplesPerPixel = samples;
        spec.photometric = samples == 3 ? 2 : 1;
        spec.bigEndian = bigEndian;
        spec.tiled = tiled;
        spec.pixels.assign(static_cast<std::size_t>(w) * h * samples, 0x40);
        return MakeTiff(spec);
    };
    struct Case {
        const char* name;
        Bytes file;
        int width, height;
    };
    std::vector<Case> cases = {
        {"jpeg", MakeJpeg(w, h, 3, grey), w, h},
        {"bmp", bmp(40, false), w, h},
        {"bmp top row first", bmp(40, true), w, h},
        {"bmp os/2 1.x", bmp(12, false), w, h},
        {"tiff rgb", tiff(3, false, false), w, h},
        {"tiff grey big-endian", tiff(1, true, false), w, h},
        {"tiff tiled", tiff(3, false, true), w, h},
        {"eps tiff preview", MakeEpsWithTiff(tiff(1, false, false)), w, h},
        {"png", MakePng({PNG_COLOR_TYPE_RGB, 8, false, {}, w, h}, Solid(1, 2, 3)), w, h},
        {"webp", MakeWebp(false, Solid(1, 2, 3), {}, w, h), w, h},
    };
    if (HaveHeifEncoder()) {
        cases.push_back({"heic", MakeHeic(Solid(1, 2, 3), w, h), w, h});
        cases.push_back({"heic turned", MakeHeic(Solid(1, 2, 3), w, h, heif_orientation_rotate_90_cw), h, w});
    }
    const std::string path = ::testing::TempDir() + "lumivox_probe_test.picture";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(c.file.data()), static_cast<std::streamsize>(c.file.size()));
        PicReader reader;
        reader.SetMode(DecodeMode::Reduced); // as the project's loading leaves it
        try {
            const PictureSize size = reader.ProbeFile(path);
            EXPECT_EQ(size.width, c.width);
            EXPECT_EQ(size.height, c.height);
        } catch (const PLTextException& e) {
            ADD_FAILURE() << e.GetText();
        }
        EXPECT_EQ(reader.Mode(), DecodeMode::Reduced);
        const PicBitmap full = Decode(c.file);
        EXPECT_EQ(full.Width(), c.width);
        EXPECT_EQ(full.Height(), c.height);
    }
    std::remove(path.c_str());
}

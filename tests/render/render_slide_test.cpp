// SPDX-License-Identifier: GPL-2.0-or-later
// Slide frames: the fitting figures, the frame's layout for every kind of picture, and
// golden references of whole frames.

#include "render/render_helpers.h"

#include "picture/FrameRenderer.h"
#include "picture/PicResizer.h"
#include "picture/QtImage.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumivox {
namespace {

using test::TempFolder;

TEST(RenderFit, PlacementTable)
{
    struct Case {
        int w, h, boxW, boxH;
        FitPlacement expected;
    };
    const Case cases[] = {
        // The TV-frame figures: 4000 x 3000 gives 640 x 480 with 32-pixel bars on NTSC
        // and 704 x 528 with 24-pixel bars on PAL.
        {4000, 3000, 704, 480, {32, 0, 640, 480}},
        {4000, 3000, 704, 576, {0, 24, 704, 528}},
        // The slide-thumbnail examples.
        {800, 600, 104, 78, {0, 0, 104, 78}},
        {600, 800, 104, 78, {23, 0, 58, 78}},
        {1000, 200, 104, 78, {0, 29, 104, 20}},
        // Square and upright pictures are fitted by height.
        {1000, 1000, 704, 480, {112, 0, 480, 480}},
        {3000, 4000, 704, 576, {136, 0, 432, 576}},
        // A picture far wider than high keeps one row rather than vanishing.
        {100000, 1, 704, 480, {0, 239, 704, 1}},
        // A box taller than wide: an upright picture stays inside it.
        {1000, 1000, 100, 200, {0, 50, 100, 100}},
        // Tiny pictures are blown up.
        {3, 2, 704, 480, {0, 5, 704, 469}},
    };
    for (const Case& c : cases) {
        const FitPlacement fit = ComputeFit(c.w, c.h, c.boxW, c.boxH);
        EXPECT_EQ(fit.x, c.expected.x) << c.w << "x" << c.h << " in " << c.boxW << "x" << c.boxH;
        EXPECT_EQ(fit.y, c.expected.y) << c.w << "x" << c.h << " in " << c.boxW << "x" << c.boxH;
        EXPECT_EQ(fit.width, c.expected.width) << c.w << "x" << c.h << " in " << c.boxW << "x" << c.boxH;
        EXPECT_EQ(fit.height, c.expected.height) << c.w << "x" << c.h << " in " << c.boxW << "x" << c.boxH;
    }
}

TEST(RenderFit, FrameResizeIsByteForByteThePictureResizer)
{
    struct Case {
        int w, h, newW, newH;
    };
    // Shrinking a lot (threaded), a little, growing, mixed, one-pixel sides.
    const Case cases[] = {{1800, 1200, 640, 427}, {700, 500, 640, 480}, {40, 30, 704, 528}, {300, 900, 704, 200},
                          {1, 1, 5, 3},           {2000, 1, 704, 1},    {1, 1500, 1, 480},  {1729, 1297, 704, 528}};
    for (const Case& c : cases) {
        QImage picture = test::MakeTestPicture(c.w, c.h, 3);
        // Noise, so that every weight matters.
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                picture.setPixel(x, y, picture.pixel(x, y) ^ static_cast<QRgb>((x * 7919 + y * 104729) & 0x3F3F3F));
        const PicBitmap source = test::ToBitmap(picture);
        PicBitmap expected;
        PicResizer(c.newW, c.newH).Apply(source, expected);
        // The whole picture at once, and its rows one at a time as a decoder hands them over.
        PicBitmap actual;
        ResizeForFrame(source, c.newW, c.newH, actual);
        RowResizer rows(c.w, c.h, c.newW, c.newH);
        for (int y = 0; y < c.h; ++y)
            rows.Put(source.Row(y));
        for (const PicBitmap* result : {&actual, &rows.Result()}) {
            ASSERT_EQ(result->Width(), expected.Width());
            ASSERT_EQ(result->Height(), expected.Height());
            for (int y = 0; y < c.newH; ++y) {
                const int diff = std::memcmp(result->Row(y), expected.Row(y), static_cast<std::size_t>(c.newW) * 4);
                ASSERT_EQ(diff, 0) << c.w << "x" << c.h << " -> " << c.newW << "x" << c.newH << ": row " << y
                                   << " differs" << (result == &actual ? "" : " (by rows)");
            }
        }
    }
}

TEST(RenderFit, MenuPageCounts)
{
    EXPECT_EQ(MenuPageCount(0, 6), 0);
    EXPECT_EQ(MenuPageCount(6, 6), 1);
    EXPECT_EQ(MenuPageCount(7, 6), 2);
    EXPECT_EQ(MenuPageCount(12, 6), 2);
    EXPECT_EQ(MenuPageCount(13, 6), 3);
    EXPECT_EQ(MenuPageCount(13, 0), 0);
    EXPECT_EQ(MenuPageCount(13, -4), 0);
}

// Checks that the frame is black exactly outside the picture's rectangle, and that the
// picture covers the rectangle (no black rows or columns inside it).
void ExpectBars(const QImage& frame, const QRect& picture)
{
    const QRgb black = qRgb(0, 0, 0);
    int outsideNotBlack = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (!picture.contains(x, y) && frame.pixel(x, y) != black)
                ++outsideNotBlack;
    EXPECT_EQ(outsideNotBlack, 0) << "bars are not black around " << picture.x() << "," << picture.y() << " "
                                  << picture.width() << "x" << picture.height();
    // The picture reaches every edge of its rectangle (whichever way it was turned, only
    // one edge carries the test picture's black bar).
    const QRect edges[] = {QRect(picture.left(), picture.top(), picture.width(), 1),
                           QRect(picture.left(), picture.bottom(), picture.width(), 1),
                           QRect(picture.left(), picture.top(), 1, picture.height()),
                           QRect(picture.right(), picture.top(), 1, picture.height())};
    for (const QRect& edge : edges)
        EXPECT_GT(test::CountNotColour(frame, edge, black), 0)
            << "picture does not reach edge at " << edge.x() << "," << edge.y();
}

// A Video CD still is shown as a 4:3 picture: a 4:3 photo fills the frame on both norms,
// and with "SquarePixelSlides=1" it is fitted as if the pixels were square (640 x 480
// with bars of 32 on NTSC, 704 x 528 with bars of 24 on PAL).
TEST(RenderSlide, FourByThreeOnBothNorms)
{
    TempFolder folder;
    const std::string path = folder.File("photo.bmp");
    test::WriteBmp(test::MakeTestPicture(4000, 3000), path);
    struct Case {
        TvNorm norm;
        SlideGeometry geometry;
        QRect picture;
    };
    const Case cases[] = {
        {TvNorm::Ntsc, SlideGeometry::TvAspect, QRect(0, 0, 704, 480)},
        {TvNorm::Pal, SlideGeometry::TvAspect, QRect(0, 0, 704, 576)},
        {TvNorm::Ntsc, SlideGeometry::SquarePixels, QRect(32, 0, 640, 480)},
        {TvNorm::Pal, SlideGeometry::SquarePixels, QRect(0, 24, 704, 528)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.norm == TvNorm::Pal ? "PAL" : "NTSC") +
                     (c.geometry == SlideGeometry::TvAspect ? ", TV aspect" : ", square pixels"));
        PicBitmap frame;
        RenderSlideFrame(path, 0, c.norm, frame, c.geometry);
        ASSERT_EQ(frame.Width(), 704);
        ASSERT_EQ(frame.Height(), FrameHeight(c.norm));
        ASSERT_EQ(frame.BitsPerPixel(), 32);
        ExpectBars(ToQImage(frame), c.picture);
    }
}

// Where pictures of several shapes lie: fitted into 640 x 480 / 768 x 576 and widened
// (NTSC) or narrowed (PAL) to 704 columns, centred.
TEST(RenderSlide, PlacementForTheTelevisionPicture)
{
    struct Case {
        int w, h;
        TvNorm norm;
        FitPlacement expected;
    };
    const Case cases[] = {
        {4000, 3000, TvNorm::Ntsc, {0, 0, 704, 480}},
        {4000, 3000, TvNorm::Pal, {0, 0, 704, 576}},
        // 3:2 gets thin bars top and bottom.
        {3000, 2000, TvNorm::Ntsc, {0, 27, 704, 426}},
        {3000, 2000, TvNorm::Pal, {0, 32, 704, 512}},
        // Upright 3:4: 360 (NTSC) or 432 (PAL) square pixels wide, 396 columns on both.
        {3000, 4000, TvNorm::Ntsc, {154, 0, 396, 480}},
        {3000, 4000, TvNorm::Pal, {154, 0, 396, 576}},
        // 16:9 panorama.
        {1920, 1080, TvNorm::Ntsc, {0, 60, 704, 360}},
        // A picture far wider than high keeps one row.
        {100000, 1, TvNorm::Pal, {0, 287, 704, 1}},
    };
    for (const Case& c : cases) {
        const FitPlacement fit = SlidePlacement(c.w, c.h, c.norm);
        const std::string what =
            std::to_string(c.w) + "x" + std::to_string(c.h) + (c.norm == TvNorm::Pal ? " PAL" : " NTSC");
        EXPECT_EQ(fit.x, c.expected.x) << what;
        EXPECT_EQ(fit.y, c.expected.y) << what;
        EXPECT_EQ(fit.width, c.expected.width) << what;
        EXPECT_EQ(fit.height, c.expected.height) << what;
    }
}

TEST(RenderSlide, HandOverGetsTheFrame)
{
    TempFolder folder;
    const std::string path = folder.File("photo.bmp");
    test::WriteBmp(test::MakeTestPicture(64, 48), path);
    int calls = 0;
    RenderSlideFrame(path, 0, TvNorm::Pal, [&](const PicBitmap& frame) {
        ++calls;
        EXPECT_EQ(frame.Width(), 704);
        EXPECT_EQ(frame.Height(), 576);
        // The header block is a 40-byte bitmap information header of a bottom-up DIB.
        EXPECT_EQ(frame.Header()[0], 40);
    });
    EXPECT_EQ(calls, 1);
}

TEST(RenderSlide, DecodingErrorsReachTheCaller)
{
    TempFolder folder;
    test::WriteText(folder.File("broken.jpg"), "\xFF\xD8\xFF garbage");
    PicBitmap frame;
    EXPECT_THROW(RenderSlideFrame(folder.File("missing.jpg"), 0, TvNorm::Ntsc, frame), PLTextException);
    EXPECT_THROW(RenderSlideFrame(folder.File("broken.jpg"), 0, TvNorm::Ntsc, frame), PLTextException);
}

struct SlideCase {
    const char* golden;
    int width, height, rotation;
    TvNorm norm;
    QRect picture; // where the picture must lie in the frame
};

TEST(RenderSlide, GoldenFrames)
{
    const SlideCase cases[] = {
        {"slide_landscape_ntsc", 640, 400, 0, TvNorm::Ntsc, QRect(0, 40, 704, 400)},
        {"slide_landscape_pal", 640, 400, 0, TvNorm::Pal, QRect(0, 48, 704, 480)},
        {"slide_portrait_ntsc", 300, 600, 0, TvNorm::Ntsc, QRect(220, 0, 264, 480)},
        // A landscape picture turned by 90 is laid out by its turned (upright) size.
        {"slide_rotated90_pal", 640, 400, 90, TvNorm::Pal, QRect(187, 0, 330, 576)},
        {"slide_rotated270_ntsc", 640, 400, 270, TvNorm::Ntsc, QRect(187, 0, 330, 480)},
        {"slide_tiny_ntsc", 4, 3, 0, TvNorm::Ntsc, QRect(0, 0, 704, 480)},
    };
    for (const SlideCase& c : cases) {
        SCOPED_TRACE(c.golden);
        TempFolder folder;
        const std::string path = folder.File("picture.bmp");
        test::WriteBmp(test::MakeTestPicture(c.width, c.height, 1), path);
        PicBitmap frame;
        RenderSlideFrame(path, c.rotation, c.norm, frame);
        const QImage image = ToQImage(frame);
        ExpectBars(image, c.picture);
        const std::string difference = test::CompareWithGolden(image, c.golden);
        EXPECT_TRUE(difference.empty()) << difference;
    }
}

TEST(RenderSlide, RotationTurnsClockwise)
{
    TempFolder folder;
    const std::string path = folder.File("picture.bmp");
    // The white disc sits in the top-left quadrant; a quarter turn clockwise moves it to
    // the top-right.
    test::WriteBmp(test::MakeTestPicture(640, 400), path);
    PicBitmap frame;
    RenderSlideFrame(path, 90, TvNorm::Pal, frame);
    const QImage image = ToQImage(frame);
    const QRect picture(187, 0, 330, 576);
    EXPECT_EQ(image.pixel(picture.left() + picture.width() * 3 / 4, picture.top() + picture.height() / 4),
              qRgb(255, 255, 255));
    EXPECT_NE(image.pixel(picture.left() + picture.width() / 4, picture.top() + picture.height() / 4),
              qRgb(255, 255, 255));
}

TEST(RenderSlide, FitPictureIntoQImageKeepsTheRestOfTheTarget)
{
    QImage target(300, 200, QImage::Format_RGB32);
    target.fill(qRgb(10, 200, 30));
    const PicBitmap picture = test::ToBitmap(test::MakeTestPicture(200, 100));
    FitPicture(target, picture, QRect(50, 40, 100, 100));
    // Outside the rectangle nothing changed; inside, bars above and below are black.
    EXPECT_EQ(test::CountNotColour(target, QRect(0, 0, 300, 40), qRgb(10, 200, 30)), 0);
    EXPECT_EQ(test::CountNotColour(target, QRect(150, 40, 150, 160), qRgb(10, 200, 30)), 0);
    EXPECT_EQ(test::CountNotColour(target, QRect(50, 40, 100, 25), qRgb(0, 0, 0)), 0);
    EXPECT_EQ(test::CountNotColour(target, QRect(50, 115, 100, 25), qRgb(0, 0, 0)), 0);
    EXPECT_NE(target.pixel(50, 114), qRgb(0, 0, 0));

    // A plain copy: the picture's alpha bytes do not blend it into the black.
    PicBitmap transparent;
    transparent.Create(20, 10, 32, true);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            std::uint8_t* pixel = transparent.Row(y) + 4 * x;
            pixel[0] = 0x30;
            pixel[1] = 0x60;
            pixel[2] = 0x90;
            pixel[3] = 0;
        }
    FitPicture(target, transparent, QRect(50, 40, 100, 100));
    EXPECT_EQ(test::CountNotColour(target, QRect(50, 65, 100, 50), qRgb(0x90, 0x60, 0x30)), 0);
}

} // namespace
} // namespace lumivox

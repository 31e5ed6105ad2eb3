// SPDX-License-Identifier: GPL-2.0-or-later
// Menu pages: golden references of the default template's pages, what each page shows,
// the red-keyed transparency, and templates and files that are broken or absurd.

#include "render/render_helpers.h"

#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/QtImage.h"

#include <QtGui/QFontMetrics>

#include <gtest/gtest.h>

#include <fstream>

namespace lumivox {
namespace {

using test::TempFolder;

// The albums of the reference project: ten albums, the eighth without pictures, the
// fifth with a title far longer than its title box.
struct Project {
    std::vector<PicBitmap> thumbnails;
    std::vector<MenuAlbum> albums;
};

Project MakeProject(int count)
{
    static const char* names[] = {
        "Summer", "Birthday", "Alps 2023", "Christmas", "A road trip to the coast and all the way back",
        "Garden", "Paris",    "Empty",     "Snow",      "Kids",
        "Eleven", "Twelve",   "Thirteen"};
    Project project;
    project.thumbnails.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        project.thumbnails.push_back(
            test::MakeThumbnail(i % 3 == 2 ? 300 : 400, i % 3 == 2 ? 400 : 300, static_cast<unsigned>(i)));
    for (int i = 0; i < count; ++i) {
        const bool empty = i == 7;
        project.albums.push_back(
            {names[i % 13], !empty, empty ? nullptr : &project.thumbnails[static_cast<std::size_t>(i)]});
    }
    return project;
}

QImage RenderPage(const MenuTemplate& t, const std::vector<MenuAlbum>& albums, int first, TvNorm norm = TvNorm::Ntsc,
                  const std::string& override = {})
{
    PicBitmap frame;
    std::string error;
    EXPECT_TRUE(RenderMenuFrame(t, override, albums, first, norm, frame, &error)) << error;
    return ToQImage(frame);
}

TEST(RenderMenu, GoldenPagesOfTheDefaultTemplate)
{
    MenuTemplate t;
    std::string error;
    ASSERT_TRUE(LoadMenuTemplate(test::BundledTemplate("classic.ini"), t, &error)) << error;
    ASSERT_EQ(t.itemsCount, 6);
    const Project project = MakeProject(13);
    struct Page {
        const char* golden;
        int first;
        TvNorm norm;
    };
    // First page (next button only, long title), middle page (both buttons, album
    // without pictures), last page (previous button only, one entry).
    for (const Page& page :
         {Page{"menu_classic_first_ntsc", 0, TvNorm::Ntsc}, Page{"menu_classic_middle_pal", 6, TvNorm::Pal},
          Page{"menu_classic_last_ntsc", 12, TvNorm::Ntsc}}) {
        SCOPED_TRACE(page.golden);
        const std::string difference =
            test::CompareWithGolden(RenderPage(t, project.albums, page.first, page.norm), page.golden);
        EXPECT_TRUE(difference.empty()) << difference;
    }
}

// A template made for the test: flat background colours and flat frames and buttons, so
// that every element can be found by its colour.
struct PlainTemplate {
    TempFolder folder;
    std::string path;

    explicit PlainTemplate(const std::string& extraGeneral = {}, const std::string& items = "Items_count=2\n")
    {
        std::filesystem::create_directories(folder.Path() / "pics");
        QImage background(64, 48, QImage::Format_RGB32);
        background.fill(qRgb(0, 0, 128));
        test::WriteBmp(background, folder.File("pics/bg.bmp"));
        // Frame 40 x 30: a green ring 4 pixels wide, red inside.
        QImage frame(40, 30, QImage::Format_RGB32);
        frame.fill(qRgb(0, 255, 0));
        for (int y = 4; y < 26; ++y)
            for (int x = 4; x < 36; ++x)
                frame.setPixel(x, y, qRgb(255, 0, 0));
        test::WriteBmp(frame, folder.File("pics/frame.bmp"));
        QImage next(20, 10, QImage::Format_RGB32);
        next.fill(qRgb(255, 255, 0));
        test::WriteBmp(next, folder.File("pics/next.bmp"));
        QImage prev(20, 10, QImage::Format_RGB32);
        prev.fill(qRgb(0, 255, 255));
        test::WriteBmp(prev, folder.File("pics/prev.bmp"));
        path = folder.File("plain.ini");
        test::WriteText(path, "[General]\n" + extraGeneral +
                                  "NAME=Plain\nFolder_name=pics\nBkground_image=bg.bmp\n"
                                  "Bkground_image_cx=704\nBkground_image_cy=480\nFrame_image=frame.bmp\n"
                                  "frame_cx=40\nframe_cy=30\nFrame_off_x=4\nFrame_off_y=4\nimage_cx=32\n"
                                  "image_cy=22\nText_cx=200\nText_cy=28\nNext_button=next.bmp\nnext_cx=20\n"
                                  "next_cy=10\nPrev_button=prev.bmp\nprev_cx=20\nprev_cy=10\n" +
                                  items +
                                  "[POSITIONS]\nItem_01_x=100\nItem_01_y=100\nText_01_x=100\nText_01_y=140\n"
                                  "Item_02_x=400\nItem_02_y=100\nText_02_x=400\nText_02_y=140\n"
                                  "Next_button_x=600\nNext_button_y=400\nPrev_button_x=50\nPrev_button_y=400\n"
                                  "[COLOR]\nText_color=65535\n");
    }
    MenuTemplate Load() const
    {
        MenuTemplate t;
        std::string error;
        EXPECT_TRUE(LoadMenuTemplate(path, t, &error)) << error;
        return t;
    }
};

const QRgb kNavy = qRgb(0, 0, 128);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kCyan = qRgb(0, 255, 255);

TEST(RenderMenu, PagesShowEntriesButtonsAndTitlesWhereTheTemplateSays)
{
    PlainTemplate plain;
    const MenuTemplate t = plain.Load();
    const Project project = MakeProject(5);
    const QRect next(600, 400, 20, 10);
    const QRect prev(50, 400, 20, 10);
    const QRect title1(100, 140, 200, 28);

    // First page of three: next button, no previous button.
    QImage first = RenderPage(t, project.albums, 0);
    EXPECT_EQ(test::CountNotColour(first, next, kYellow), 0);
    EXPECT_EQ(test::CountNotColour(first, prev, kNavy), 0);
    // The frame's ring is drawn, its red inside shows the thumbnail.
    EXPECT_EQ(first.pixel(100, 100), kGreen);
    EXPECT_EQ(first.pixel(139, 129), kGreen);
    EXPECT_NE(first.pixel(110, 110), qRgb(255, 0, 0));
    EXPECT_NE(first.pixel(110, 110), kNavy);
    // The title is written in the template's colour (65535 = yellow) inside its box.
    EXPECT_GT(test::CountNotColour(first, title1, kNavy), 20);
    EXPECT_LT(test::CountNotColour(first, title1, kNavy), 200 * 28);
    int yellow = 0;
    for (int y = title1.top(); y <= title1.bottom(); ++y)
        for (int x = title1.left(); x <= title1.right(); ++x)
            yellow += first.pixel(x, y) == kYellow;
    EXPECT_GT(yellow, 20);

    // Middle page: both buttons.
    QImage middle = RenderPage(t, project.albums, 2);
    EXPECT_EQ(test::CountNotColour(middle, next, kYellow), 0);
    EXPECT_EQ(test::CountNotColour(middle, prev, kCyan), 0);

    // Last page with one album: previous button only, entry 02 not drawn at all.
    QImage last = RenderPage(t, project.albums, 4);
    EXPECT_EQ(test::CountNotColour(last, next, kNavy), 0);
    EXPECT_EQ(test::CountNotColour(last, prev, kCyan), 0);
    EXPECT_EQ(test::CountNotColour(last, QRect(400, 100, 300, 80), kNavy), 0);
}

TEST(RenderMenu, AlbumWithoutPicturesGetsAFrameOnly)
{
    PlainTemplate plain;
    const MenuTemplate t = plain.Load();
    Project project = MakeProject(2);
    project.albums[0].hasPictures = false;
    const QImage page = RenderPage(t, project.albums, 0);
    EXPECT_EQ(page.pixel(100, 100), kGreen);
    // Inside the frame the background shows; no title.
    EXPECT_EQ(test::CountNotColour(page, QRect(104, 104, 32, 22), kNavy), 0);
    EXPECT_EQ(test::CountNotColour(page, QRect(100, 140, 200, 28), kNavy), 0);
    // The second album is drawn normally.
    EXPECT_GT(test::CountNotColour(page, QRect(400, 140, 200, 28), kNavy), 20);
}

TEST(RenderMenu, LongTitlesEndWithAnEllipsisInsideTheirBox)
{
    PlainTemplate plain;
    const MenuTemplate t = plain.Load();
    std::vector<MenuAlbum> albums = {{std::string(300, 'W'), true, nullptr}};
    const QImage page = RenderPage(t, albums, 0);
    // Nothing is written beyond the box.
    EXPECT_EQ(test::CountNotColour(page, QRect(300, 140, 100, 28), kNavy), 0);
    EXPECT_EQ(test::CountNotColour(page, QRect(100, 168, 200, 30), kNavy), 0);
    // The elided text ends with the ellipsis: three separate dots at the right end.
    const QString elided =
        QFontMetrics(TitleFont()).elidedText(QString("01 ") + QString(300, 'W'), Qt::ElideRight, 200);
    EXPECT_TRUE(elided.endsWith(QChar(0x2026))) << elided.toStdString();
}

// The cover keeps its aspect: fitted into the image box (32 x 22 here), centred, resized
// once from the project's picture, the rest of the box in "Thumb_fill_color" (black for
// a template without the key). The page is drawn at the canvas's own size, so the cover
// is exactly PicResizer's result.
TEST(RenderMenu, CoversAreFittedIntoTheirBoxFromThePicture)
{
    const PicBitmap portrait = test::ToBitmap(test::MakeTestPicture(300, 400, 4));
    const PicBitmap wide = test::ToBitmap(test::MakeTestPicture(900, 300, 5));
    struct Case {
        const char* name;
        const PicBitmap* picture;
        std::string colourKey;
        QRgb fill;
        QRect cover; // inside the box at (104, 104)
    };
    const Case cases[] = {
        {"portrait, no key", &portrait, "", qRgb(0, 0, 0), QRect(112, 104, 16, 22)},
        {"portrait, fill key", &portrait, "Thumb_fill_color=3355443\n", qRgb(0x33, 0x33, 0x33),
         QRect(112, 104, 16, 22)},
        {"panorama, fill key", &wide, "Thumb_fill_color=255\n", qRgb(255, 0, 0), QRect(104, 110, 32, 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlainTemplate plain;
        {
            std::ofstream(plain.path, std::ios::app) << c.colourKey;
        }
        const MenuTemplate t = plain.Load();
        const std::vector<MenuAlbum> albums = {{"One", true, nullptr, c.picture}};
        const QImage page = RenderPage(t, albums, 0);
        const QRect box(104, 104, 32, 22);
        PicBitmap expected;
        ResizeForFrame(*c.picture, c.cover.width(), c.cover.height(), expected);
        const QImage cover = ToQImage(expected);
        int wrong = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) {
                const QRgb want =
                    c.cover.contains(x, y) ? cover.pixel(x - c.cover.left(), y - c.cover.top()) | 0xFF000000u : c.fill;
                wrong += page.pixel(x, y) != want;
            }
        EXPECT_EQ(wrong, 0);
    }
}

// A cover with transparency (colours over black, as the PNG, WebP and HEIF decoders give
// it) shows the fill colour through; an unused alpha byte (zero under colour) does not.
TEST(RenderMenu, TransparentCoversShowTheFillColour)
{
    PicBitmap transparent;
    transparent.Create(320, 220, 32, true); // all transparent black
    PicBitmap unusedAlpha;
    unusedAlpha.Create(320, 220, 32, true);
    for (int y = 0; y < 220; ++y)
        for (int x = 0; x < 320; ++x) {
            const bool centre = x >= 100 && x < 220 && y >= 60 && y < 160;
            std::uint8_t* p = transparent.Row(y) + 4 * x;
            if (centre)
                p[2] = 255, p[3] = 255; // opaque red
            unusedAlpha.Row(y)[4 * x + 2] = 255; // red, alpha byte 0
        }
    PlainTemplate plain;
    {
        std::ofstream(plain.path, std::ios::app) << "Thumb_fill_color=3355443\n";
    }
    const MenuTemplate t = plain.Load();
    const QImage page = RenderPage(t, {{"One", true, nullptr, &transparent}}, 0);
    EXPECT_EQ(page.pixel(105, 105), qRgb(0x33, 0x33, 0x33)); // the box at (104, 104), 32 x 22
    EXPECT_EQ(page.pixel(120, 115), qRgb(255, 0, 0));
    const QImage opaque = RenderPage(t, {{"One", true, nullptr, &unusedAlpha}}, 0);
    EXPECT_EQ(opaque.pixel(105, 105), qRgb(255, 0, 0));
}

// "Text_outline_color" puts a one-pixel outline of that colour around the title, inside
// its box; without the key no pixel of another colour than the text's is drawn.
TEST(RenderMenu, TitlesAreOutlinedWhenTheTemplateSaysSo)
{
    for (const bool outlined : {false, true}) {
        SCOPED_TRACE(outlined ? "outlined" : "plain");
        PlainTemplate plain;
        if (outlined)
            std::ofstream(plain.path, std::ios::app) << "Text_outline_color=16711680\n"; // blue
        const MenuTemplate t = plain.Load();
        EXPECT_EQ(t.hasTextOutline, outlined);
        const QImage page = RenderPage(t, {{"Hello", true, nullptr}}, 0);
        const QRect box(100, 140, 200, 28);
        int text = 0, outline = 0, other = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) {
                const QRgb p = page.pixel(x, y);
                text += p == kYellow;
                outline += p == qRgb(0, 0, 255);
                other += p != kYellow && p != qRgb(0, 0, 255) && p != kNavy;
            }
        EXPECT_GT(text, 20);
        EXPECT_EQ(other, 0);
        if (outlined)
            EXPECT_GT(outline, text / 2);
        else
            EXPECT_EQ(outline, 0);
        // Nothing outside the box.
        EXPECT_EQ(test::CountNotColour(page, QRect(100, 168, 200, 20), kNavy), 0);
    }
}

// Characters from a fallback font whose line is taller than the title font's (CJK,
// emoji, symbols) make the font smaller for that title only, so that the line fits the
// box and no descender is cut; a title of the title font's own characters keeps it.
TEST(RenderMenu, TitlesWithTallerFallbackGlyphsFitTheirBox)
{
    const QFont own = TitleFont();
    const int box = QFontMetrics(own).height();
    EXPECT_EQ(TitleFontFor(QStringLiteral("01 Mountain Lakes gjpqy"), box).pixelSize(), own.pixelSize());
    QString taller;
    for (const char* candidate : {"\xE6\x9D\xB1\xE4\xBA\xAC", "\xF0\x9F\x98\x80", "\xE2\x98\x83", "\xE2\x9C\x88"}) {
        const QString title = QStringLiteral("01 gjpqy ") + QString::fromUtf8(candidate);
        if (TitleLineHeight(title, own) > box) {
            taller = title;
            break;
        }
    }
    if (taller.isEmpty())
        GTEST_SKIP() << "no installed fallback font has a taller line than the title font";
    const QFont font = TitleFontFor(taller, box);
    EXPECT_LT(font.pixelSize(), own.pixelSize());
    EXPECT_LE(TitleLineHeight(taller, font), box) << taller.toStdString();
    // A roomy box keeps the size.
    EXPECT_EQ(TitleFontFor(taller, box + 20).pixelSize(), own.pixelSize());
}

TEST(RenderMenu, BackgroundOverrideReplacesTheTemplatesBackground)
{
    PlainTemplate plain;
    const MenuTemplate t = plain.Load();
    QImage own(10, 10, QImage::Format_RGB32);
    own.fill(qRgb(90, 90, 90));
    test::WriteBmp(own, plain.folder.File("own.bmp"));
    const QImage page = RenderPage(t, {}, 0, TvNorm::Pal, plain.folder.File("own.bmp"));
    EXPECT_EQ(page.height(), 576);
    EXPECT_EQ(test::CountNotColour(page, page.rect(), qRgb(90, 90, 90)), 0);
}

TEST(RenderMenu, DrawsIntoAnyRectangleOfTheTarget)
{
    PlainTemplate plain;
    const MenuTemplate t = plain.Load();
    QImage target(500, 400, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(DrawMenuPage(target, QRect(20, 30, 460, 345), t, {}, {}, 0));
    EXPECT_EQ(test::CountNotColour(target, QRect(20, 30, 460, 345), kNavy, 2), 0);
    EXPECT_EQ(test::CountNotColour(target, QRect(0, 0, 500, 30), qRgb(1, 2, 3)), 0);
    EXPECT_EQ(test::CountNotColour(target, QRect(0, 375, 500, 25), qRgb(1, 2, 3)), 0);
}

// A 32-bit Windows bitmap file (BI_RGB) whose fourth byte is alphaByte in every pixel, as
// many programs write them with 0 there.
void Write32BitBmp(const QImage& image, const std::string& path, std::uint8_t alphaByte)
{
    const int width = image.width();
    const int height = image.height();
    std::string file;
    auto put32 = [&file](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto put16 = [&file](std::uint16_t v) {
        file += static_cast<char>(v & 0xFF);
        file += static_cast<char>(v >> 8);
    };
    const std::uint32_t pixels = static_cast<std::uint32_t>(width * height * 4);
    file += "BM";
    put32(54 + pixels);
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<std::uint32_t>(width));
    put32(static_cast<std::uint32_t>(height));
    put16(1);
    put16(32);
    put32(0);
    put32(pixels);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) {
            const QRgb c = image.pixel(x, y);
            file += static_cast<char>(qBlue(c));
            file += static_cast<char>(qGreen(c));
            file += static_cast<char>(qRed(c));
            file += static_cast<char>(alphaByte);
        }
    test::WriteText(path, file);
}

// Bitmap transfers copy colours and never blend: a background, frame, button or
// thumbnail whose alpha bytes say "transparent" still shows its colours.
TEST(RenderMenu, PicturesWithAnAlphaChannelShowTheirColours)
{
    for (const std::uint8_t alphaByte : {std::uint8_t{0}, std::uint8_t{128}, std::uint8_t{255}}) {
        SCOPED_TRACE(static_cast<int>(alphaByte));
        PlainTemplate plain;
        const MenuTemplate t = plain.Load();
        QImage background(64, 48, QImage::Format_RGB32);
        background.fill(kNavy);
        Write32BitBmp(background, plain.folder.File("pics/bg.bmp"), alphaByte);
        QImage frame(40, 30, QImage::Format_RGB32);
        frame.fill(kGreen);
        for (int y = 4; y < 26; ++y)
            for (int x = 4; x < 36; ++x)
                frame.setPixel(x, y, qRgb(255, 0, 0));
        Write32BitBmp(frame, plain.folder.File("pics/frame.bmp"), alphaByte);
        QImage next(20, 10, QImage::Format_RGB32);
        next.fill(kYellow);
        Write32BitBmp(next, plain.folder.File("pics/next.bmp"), alphaByte);

        PicBitmap thumbnail;
        thumbnail.Create(8, 6, 32, true);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                std::uint8_t* pixel = thumbnail.Row(y) + 4 * x;
                pixel[0] = 0x40;
                pixel[1] = 0x80;
                pixel[2] = 0xC0;
                pixel[3] = alphaByte;
            }
        const std::vector<MenuAlbum> albums = {
            {"One", true, &thumbnail}, {"Two", true, nullptr}, {"Three", true, nullptr}};
        const QImage page = RenderPage(t, albums, 0);
        EXPECT_EQ(page.pixel(2, 2), kNavy);
        EXPECT_EQ(page.pixel(100, 100), kGreen);
        EXPECT_EQ(page.pixel(139, 129), kGreen);
        EXPECT_EQ(page.pixel(120, 115), qRgb(0xC0, 0x80, 0x40));
        EXPECT_EQ(test::CountNotColour(page, QRect(600, 400, 20, 10), kYellow), 0);
    }
}

TEST(RenderTransparent, PureRedLeavesTheTargetUnchanged)
{
    QImage source(4, 2, QImage::Format_RGB32);
    source.setPixel(0, 0, qRgb(255, 0, 0)); // transparent
    source.setPixel(1, 0, qRgb(254, 0, 0)); // nearly red: drawn
    source.setPixel(2, 0, qRgb(255, 0, 1)); // drawn
    source.setPixel(3, 0, qRgb(0, 0, 0)); // drawn
    source.setPixel(0, 1, qRgb(255, 255, 255));
    source.setPixel(1, 1, qRgb(255, 0, 0));
    source.setPixel(2, 1, qRgb(12, 34, 56));
    source.setPixel(3, 1, qRgb(255, 0, 0));
    TransparentBitmap bitmap;
    bitmap.SetImage(source);

    QImage target(6, 4, QImage::Format_RGB32);
    target.fill(qRgb(7, 8, 9));
    // Asking for more than the bitmap holds draws the bitmap only.
    bitmap.DrawTransparent(target, 1, 1, 10, 10);
    const QRgb expected[4][6] = {
        {qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9)},
        {qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(254, 0, 0), qRgb(255, 0, 1), qRgb(0, 0, 0), qRgb(7, 8, 9)},
        {qRgb(7, 8, 9), qRgb(255, 255, 255), qRgb(7, 8, 9), qRgb(12, 34, 56), qRgb(7, 8, 9), qRgb(7, 8, 9)},
        {qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9), qRgb(7, 8, 9)},
    };
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(target.pixel(x, y) & 0xFFFFFF, expected[y][x] & 0xFFFFFF) << "at " << x << "," << y;

    // Only the top-left width x height part is drawn, and nothing for empty sizes.
    target.fill(qRgb(7, 8, 9));
    bitmap.DrawTransparent(target, 0, 0, 2, 1);
    EXPECT_EQ(target.pixel(1, 0) & 0xFFFFFF, qRgb(254, 0, 0) & 0xFFFFFF);
    EXPECT_EQ(target.pixel(2, 0) & 0xFFFFFF, qRgb(7, 8, 9) & 0xFFFFFF);
    EXPECT_EQ(target.pixel(0, 1) & 0xFFFFFF, qRgb(7, 8, 9) & 0xFFFFFF);
    target.fill(qRgb(7, 8, 9));
    bitmap.DrawTransparent(target, 0, 0, -3, 5);
    bitmap.DrawTransparent(target, -100, -100, 4, 2);
    EXPECT_EQ(test::CountNotColour(target, target.rect(), qRgb(7, 8, 9)), 0);
}

TEST(RenderTransparent, OnlyWindowsBitmapFilesLoad)
{
    TempFolder folder;
    const QImage picture = test::MakeTestPicture(8, 8);
    test::WriteBmp(picture, folder.File("ok.bmp"));
    picture.save(QString::fromStdString(folder.File("frame.png")), "PNG");
    picture.save(QString::fromStdString(folder.File("frame.jpg")), "JPEG");
    test::WriteText(folder.File("truncated.bmp"), std::string("BM\x36\x00\x00\x00\x00\x00", 8));
    test::WriteText(folder.File("empty.bmp"), "");
    struct Case {
        const char* file;
        bool loads;
    };
    for (const Case& c : {Case{"ok.bmp", true}, Case{"frame.png", false}, Case{"frame.jpg", false},
                          Case{"truncated.bmp", false}, Case{"empty.bmp", false}, Case{"missing.bmp", false}}) {
        TransparentBitmap bitmap;
        std::string error;
        EXPECT_EQ(bitmap.Load(folder.File(c.file), &error), c.loads) << c.file;
        EXPECT_EQ(bitmap.IsLoaded(), c.loads) << c.file;
        if (!c.loads) {
            EXPECT_NE(error.find(c.file), std::string::npos) << "error does not name the file: " << error;
        }
    }
}

TEST(RenderMenuBadInput, UnreadableBackgroundDrawsNothing)
{
    PlainTemplate plain;
    MenuTemplate t = plain.Load();
    test::WriteText(plain.folder.File("pics/broken.jpg"), "\xFF\xD8\xFF\xE0 not really a JPEG");
    const Project project = MakeProject(3);
    for (const std::string& background : {std::string("missing.bmp"), std::string("broken.jpg"), std::string()}) {
        SCOPED_TRACE(background);
        t.backgroundImage = background;
        QImage target(704, 480, QImage::Format_RGB32);
        target.fill(qRgb(1, 2, 3));
        std::string error;
        EXPECT_FALSE(DrawMenuPage(target, target.rect(), t, {}, project.albums, 0, &error));
        EXPECT_FALSE(error.empty());
        if (!background.empty()) {
            EXPECT_NE(error.find(background), std::string::npos) << error;
        }
        EXPECT_EQ(test::CountNotColour(target, target.rect(), qRgb(1, 2, 3)), 0);
    }
}

TEST(RenderMenuBadInput, MissingOrBrokenFrameAndButtonsDrawNothingElseChanges)
{
    PlainTemplate plain;
    MenuTemplate t = plain.Load();
    test::WriteText(plain.folder.File("pics/broken.bmp"), "BM broken");
    const Project project = MakeProject(5);
    for (const char* file : {"missing.bmp", "broken.bmp", "bg.bmp.none"}) {
        SCOPED_TRACE(file);
        t.frameImage = file;
        t.nextButton = file;
        t.prevButton = file;
        const QImage page = RenderPage(t, project.albums, 2);
        EXPECT_EQ(test::CountNotColour(page, QRect(600, 400, 20, 10), kNavy), 0);
        EXPECT_EQ(test::CountNotColour(page, QRect(50, 400, 20, 10), kNavy), 0);
        EXPECT_EQ(page.pixel(100, 100), kNavy); // no frame ring
        EXPECT_NE(page.pixel(110, 110), kNavy); // but the thumbnail
        EXPECT_GT(test::CountNotColour(page, QRect(100, 140, 200, 28), kNavy), 20); // and the title
    }
}

TEST(RenderMenuBadInput, EntryCountsBelowOneShowNoAlbums)
{
    const Project project = MakeProject(3);
    for (const char* items : {"Items_count=0\n", "Items_count=-5\n", ""}) {
        SCOPED_TRACE(items);
        PlainTemplate plain({}, items);
        const MenuTemplate t = plain.Load();
        const QImage page = RenderPage(t, project.albums, 0);
        EXPECT_EQ(test::CountNotColour(page, QRect(0, 0, 704, 390), kNavy), 0);
    }
}

TEST(RenderMenuBadInput, AbsurdSizesAreRefusedOrSkipped)
{
    const Project project = MakeProject(3);
    {
        // A canvas too large to hold is refused when loaded, and when drawn (a template
        // made in memory); the target is left alone.
        PlainTemplate plain("Bkground_image_cx=100000\n");
        MenuTemplate t;
        std::string loadError;
        EXPECT_FALSE(LoadMenuTemplate(plain.path, t, &loadError));
        EXPECT_NE(loadError.find("Bkground_image_cx=100000"), std::string::npos) << loadError;
        t = PlainTemplate().Load();
        t.backgroundWidth = 100000;
        QImage target(704, 480, QImage::Format_RGB32);
        target.fill(qRgb(1, 2, 3));
        std::string error;
        EXPECT_FALSE(DrawMenuPage(target, target.rect(), t, {}, project.albums, 0, &error));
        EXPECT_NE(error.find("100000"), std::string::npos) << error;
        EXPECT_EQ(test::CountNotColour(target, target.rect(), qRgb(1, 2, 3)), 0);
    }
    {
        // A canvas of no size takes the default 768 x 576.
        PlainTemplate plain("Bkground_image_cx=-20\n");
        const MenuTemplate t = plain.Load();
        EXPECT_EQ(t.CanvasWidth(), 768);
        EXPECT_EQ(t.CanvasHeight(), 480);
        RenderPage(t, project.albums, 0);
    }
    {
        // Element sizes that are negative or far beyond any canvas: those elements are
        // left out, the rest is drawn.
        PlainTemplate plain;
        MenuTemplate t = plain.Load();
        for (int size : {-7, 0, 100000}) {
            SCOPED_TRACE(size);
            MenuTemplate odd = t;
            odd.imageWidth = size;
            odd.frameHeight = size;
            odd.textWidth = size;
            odd.nextWidth = size;
            const QImage page = RenderPage(odd, project.albums, 0);
            EXPECT_EQ(page.pixel(110, 110), kNavy);
            EXPECT_EQ(test::CountNotColour(page, QRect(100, 140, 200, 28), kNavy), 0);
            EXPECT_EQ(test::CountNotColour(page, QRect(600, 400, 20, 10), kNavy), 0);
        }
        // Positions far outside the canvas are simply not seen.
        MenuTemplate far = t;
        far.itemPositions[0] = {-100000, 100000};
        far.textPositions[0] = {2000000000, -2000000000};
        RenderPage(far, project.albums, 0);
    }
}

} // namespace
} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
// Template files, the template list, the disc-menu state and the bundled templates.

#include "render/render_helpers.h"

#include "base/IniFile.h"
#include "base/TextUtil.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"

#include <QtGui/QFontMetrics>

#include <gtest/gtest.h>

#include <cmath>

namespace lumivox {
namespace {

using test::TempFolder;

TEST(RenderTemplate, MissingKeysTakeTheirDefaults)
{
    TempFolder folder;
    test::WriteText(folder.File("empty.ini"), "; nothing here\n");
    MenuTemplate t;
    ASSERT_TRUE(LoadMenuTemplate(folder.File("empty.ini"), t));
    EXPECT_EQ(t.name, "Template");
    EXPECT_EQ(t.folderName, "");
    EXPECT_EQ(t.backgroundWidth, 768);
    EXPECT_EQ(t.backgroundHeight, 576);
    EXPECT_EQ(t.itemsCount, 0);
    EXPECT_EQ(t.frameWidth, 0);
    EXPECT_EQ(t.textColor, 0u);
    EXPECT_TRUE(t.itemPositions.empty());
    EXPECT_EQ(t.BackgroundPath(), "");
}

TEST(RenderTemplate, EveryKeyIsReadWithoutRegardToLetterCase)
{
    TempFolder folder;
    test::WriteText(folder.File("t.ini"),
                    "[general]\r\nname=Mine\r\nFOLDER_NAME=art\r\nbkground_image=b.jpg\r\nBKGROUND_IMAGE_CX=720\r\n"
                    "bkground_image_cy=540\r\nframe_image=f.bmp\r\nFrame_CX=11\r\nframe_cy=12\r\nframe_off_x=3\r\n"
                    "frame_off_y=4\r\nImage_cx=5\r\nimage_cy=6\r\ntext_cx=7\r\ntext_cy=8\r\nitems_count=3\r\n"
                    "next_button=n.bmp\r\nNEXT_CX=9\r\nnext_cy=10\r\nprev_button=p.bmp\r\nprev_cx=13\r\nprev_cy=14\r\n"
                    "[positions]\r\nitem_01_x=21\r\nitem_01_y=22\r\ntext_01_x=23\r\ntext_01_y=24\r\n"
                    "ITEM_03_X=31\r\nitem_03_y=-32\r\nnext_button_x=41\r\nnext_button_y=42\r\n"
                    "prev_button_x=43\r\nprev_button_y=44\r\n[color]\r\ntext_color=16711935\r\n");
    MenuTemplate t;
    ASSERT_TRUE(LoadMenuTemplate(folder.File("t.ini"), t));
    EXPECT_EQ(t.name, "Mine");
    EXPECT_EQ(t.pictureFolder, folder.File("art") + "/");
    EXPECT_EQ(t.BackgroundPath(), folder.File("art/b.jpg"));
    EXPECT_EQ(t.FramePath(), folder.File("art/f.bmp"));
    EXPECT_EQ(t.NextButtonPath(), folder.File("art/n.bmp"));
    EXPECT_EQ(t.PrevButtonPath(), folder.File("art/p.bmp"));
    const int values[] = {t.backgroundWidth, t.backgroundHeight, t.frameWidth,  t.frameHeight, t.frameOffsetX,
                          t.frameOffsetY,    t.imageWidth,       t.imageHeight, t.textWidth,   t.textHeight,
                          t.itemsCount,      t.nextWidth,        t.nextHeight,  t.prevWidth,   t.prevHeight};
    const int expected[] = {720, 540, 11, 12, 3, 4, 5, 6, 7, 8, 3, 9, 10, 13, 14};
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(values[i], expected[i]) << "value " << i;
    ASSERT_EQ(t.itemPositions.size(), 3u);
    EXPECT_EQ(t.itemPositions[0].x, 21);
    EXPECT_EQ(t.itemPositions[0].y, 22);
    EXPECT_EQ(t.textPositions[0].x, 23);
    EXPECT_EQ(t.textPositions[0].y, 24);
    EXPECT_EQ(t.itemPositions[1].x, 0); // missing: 0
    EXPECT_EQ(t.itemPositions[2].x, 31);
    EXPECT_EQ(t.itemPositions[2].y, -32);
    EXPECT_EQ(t.nextButtonPosition.x, 41);
    EXPECT_EQ(t.prevButtonPosition.y, 44);
    EXPECT_EQ(t.textColor, 0xFF00FFu);
}

TEST(RenderTemplate, HugeEntryCountsReadAtMostNinetyNinePositions)
{
    TempFolder folder;
    test::WriteText(folder.File("t.ini"), "[General]\nItems_count=100000\n");
    MenuTemplate t;
    ASSERT_TRUE(LoadMenuTemplate(folder.File("t.ini"), t));
    EXPECT_EQ(t.itemsCount, 100000);
    EXPECT_EQ(t.itemPositions.size(), 99u);
}

TEST(RenderTemplate, BoxesBeyondTheCanvasAreRefusedNamingTheKey)
{
    TempFolder folder;
    for (const char* line : {"image_cx=16384", "image_cy=577", "frame_cx=769", "Text_cy=100000", "next_cx=800",
                             "prev_cy=5000", "Bkground_image_cx=4097", "Bkground_image_cy=20000"}) {
        SCOPED_TRACE(line);
        test::WriteText(folder.File("t.ini"), std::string("[General]\nItems_count=1\n") + line + "\n");
        MenuTemplate t;
        std::string error;
        EXPECT_FALSE(LoadMenuTemplate(folder.File("t.ini"), t, &error));
        EXPECT_NE(error.find(line), std::string::npos) << error;
    }
    // Up to the canvas itself is fine.
    test::WriteText(folder.File("t.ini"), "[General]\nBkground_image_cx=1000\nimage_cx=1000\nText_cy=576\n");
    MenuTemplate t;
    EXPECT_TRUE(LoadMenuTemplate(folder.File("t.ini"), t));
}

TEST(RenderTemplate, MissingFileIsAnErrorNamingIt)
{
    MenuTemplate t;
    std::string error;
    EXPECT_FALSE(LoadMenuTemplate("/nonexistent/x.ini", t, &error));
    EXPECT_NE(error.find("/nonexistent/x.ini"), std::string::npos) << error;
}

TEST(RenderTemplateList, ListsIniFilesSortedWithNamesAndCounts)
{
    TempFolder folder;
    test::WriteText(folder.File("b.ini"), "[General]\nNAME=Bee\nItems_count=4\n");
    test::WriteText(folder.File("a.INI"), "[General]\nItems_count=9\n");
    test::WriteText(folder.File("notes.txt"), "[General]\nNAME=No\n");
    std::filesystem::create_directories(folder.Path() / "c.ini");
    const std::vector<TemplateListEntry> list = ListTemplates(folder.Path().string());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].fileName, "a.INI");
    EXPECT_EQ(list[0].name, "Template");
    EXPECT_EQ(list[0].itemsCount, 9);
    EXPECT_EQ(list[1].fileName, "b.ini");
    EXPECT_EQ(list[1].name, "Bee");
    EXPECT_TRUE(list[1].preview.isNull());

    EXPECT_TRUE(ListTemplates(folder.File("missing")).empty());
}

TEST(RenderTemplateList, PreviewsAreMadeAndStayBlackWithoutBackground)
{
    TempFolder folder;
    test::WriteText(folder.File("nobg.ini"), "[General]\nItems_count=2\n");
    const std::vector<TemplateListEntry> list = ListTemplates(folder.Path().string(), TemplatePreviews::Make);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0].preview.size(), QSize(128, 96));
    EXPECT_EQ(test::CountNotColour(list[0].preview, list[0].preview.rect(), qRgb(0, 0, 0)), 0);

    MenuTemplate classic;
    ASSERT_TRUE(LoadMenuTemplate(test::BundledTemplate("classic.ini"), classic));
    const QImage preview = MakeTemplatePreview(classic);
    ASSERT_EQ(preview.size(), QSize(128, 96));
    const std::string difference = test::CompareWithGolden(preview, "preview_classic", 40, 4);
    EXPECT_TRUE(difference.empty()) << difference;
}

class DiscMenuStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(program.Path() / "template");
        test::WriteText(program.File("template/classic.ini"), "[General]\nItems_count=6\n");
        test::WriteText(program.File("template/four.ini"), "[General]\nItems_count=4\n");
        test::WriteText(program.File("template/none.ini"), "[General]\nItems_count=0\n");
        test::WriteText(program.File("template/negative.ini"), "[General]\nItems_count=-3\n");
    }
    TempFolder program;
};

TEST_F(DiscMenuStateTest, StartsWithTheClassicTemplate)
{
    DiscMenuState state(program.Path().string());
    EXPECT_EQ(state.CurrentTemplate(), "template/classic.ini");
    EXPECT_EQ(state.CurrentTemplatePath(), program.File("template/classic.ini"));
    EXPECT_EQ(state.EntriesPerPage(), 6);
    EXPECT_EQ(state.BackgroundOverride(), "");
    EXPECT_EQ(state.BackgroundMusic(), "");
    // Thirteen albums make three pages of six.
    EXPECT_EQ(MenuPageCount(13, state.EntriesPerPage()), 3);
}

TEST_F(DiscMenuStateTest, SelectingATemplateClearsTheOverrideOnly)
{
    DiscMenuState state(program.Path().string() + "/");
    state.SetBackgroundOverride("/photos/own.jpg");
    state.SetBackgroundMusic("/music/song.mp3");
    ASSERT_TRUE(state.SelectTemplate("four.ini"));
    EXPECT_EQ(state.CurrentTemplate(), "template/four.ini");
    EXPECT_EQ(state.EntriesPerPage(), 4);
    EXPECT_EQ(state.BackgroundOverride(), "");
    EXPECT_EQ(state.BackgroundMusic(), "/music/song.mp3");
}

TEST_F(DiscMenuStateTest, TemplatesThatCannotMakeADiscAreRefused)
{
    DiscMenuState state(program.Path().string());
    state.SetBackgroundOverride("/photos/own.jpg");
    for (const char* file : {"none.ini", "negative.ini", "missing.ini"}) {
        std::string error;
        EXPECT_FALSE(state.SelectTemplate(file, &error)) << file;
        EXPECT_NE(error.find(file), std::string::npos) << error;
        EXPECT_EQ(state.CurrentTemplate(), "template/classic.ini");
        EXPECT_EQ(state.EntriesPerPage(), 6);
        EXPECT_EQ(state.BackgroundOverride(), "/photos/own.jpg");
    }
}

TEST_F(DiscMenuStateTest, TemplateFilesAnywhereCanBeChosen)
{
    TempFolder elsewhere;
    test::WriteText(elsewhere.File("mine.ini"), "[General]\nItems_count=5\nFolder_name=art\n");
    DiscMenuState state(program.Path().string());
    ASSERT_TRUE(state.SelectTemplateFile(elsewhere.File("mine.ini")));
    EXPECT_EQ(state.CurrentTemplatePath(), elsewhere.File("mine.ini"));
    EXPECT_EQ(state.EntriesPerPage(), 5);
    MenuTemplate t;
    ASSERT_TRUE(state.LoadCurrentTemplate(t));
    EXPECT_EQ(t.pictureFolder, elsewhere.File("art") + "/");
}

TEST(RenderTemplateState, WithoutTemplateFolderTheListIsEmptyAndClassicStaysCurrent)
{
    TempFolder program;
    DiscMenuState state(program.Path().string());
    EXPECT_TRUE(ListTemplates(TemplateFolder(program.Path().string())).empty());
    EXPECT_EQ(state.CurrentTemplate(), "template/classic.ini");
    EXPECT_EQ(state.EntriesPerPage(), 0);
}

// The bundled templates: complete, made for a television, and drawable.
TEST(RenderBundledTemplates, AreCompleteAndInsideTheTitleSafeArea)
{
    const std::string folder = std::string(LUMIVOX_SOURCE_DIR) + "/data/template/";
    const std::vector<TemplateListEntry> list = ListTemplates(folder);
    ASSERT_GE(list.size(), 3u);
    bool hasClassic = false;
    for (const TemplateListEntry& entry : list) {
        SCOPED_TRACE(entry.fileName);
        hasClassic |= entry.fileName == "classic.ini";
        MenuTemplate t;
        ASSERT_TRUE(LoadMenuTemplate(folder + entry.fileName, t));
        EXPECT_GE(t.itemsCount, 4);
        EXPECT_LE(t.itemsCount, 9);
        // 4:3 canvas.
        EXPECT_EQ(t.CanvasWidth() * 3, t.CanvasHeight() * 4);
        // The title-safe area: the central 80 % of width and height.
        const auto inSafeArea = [&](const QRect& r) {
            return r.left() >= 0.1 * t.CanvasWidth() && r.top() >= 0.1 * t.CanvasHeight() &&
                   r.left() + r.width() <= 0.9 * t.CanvasWidth() && r.top() + r.height() <= 0.9 * t.CanvasHeight();
        };
        for (int n = 0; n < t.itemsCount; ++n) {
            const auto item = t.itemPositions[static_cast<std::size_t>(n)];
            const auto text = t.textPositions[static_cast<std::size_t>(n)];
            EXPECT_TRUE(inSafeArea(QRect(item.x, item.y, t.frameWidth, t.frameHeight))) << "entry " << n + 1;
            EXPECT_TRUE(inSafeArea(QRect(text.x, text.y, t.textWidth, t.textHeight))) << "title " << n + 1;
            EXPECT_TRUE(
                inSafeArea(QRect(item.x + t.frameOffsetX, item.y + t.frameOffsetY, t.imageWidth, t.imageHeight)));
        }
        EXPECT_TRUE(inSafeArea(QRect(t.nextButtonPosition.x, t.nextButtonPosition.y, t.nextWidth, t.nextHeight)));
        EXPECT_TRUE(inSafeArea(QRect(t.prevButtonPosition.x, t.prevButtonPosition.y, t.prevWidth, t.prevHeight)));
        // Titles: the font fits the box height; titles are legible against the artwork
        // (checked by eye) and not black on black.
        EXPECT_GE(t.textHeight, QFontMetrics(TitleFont()).height());
        // Every picture is there, frames and buttons are Windows bitmaps with a
        // transparent (pure red) part.
        for (const std::string& path : {t.FramePath(), t.NextButtonPath(), t.PrevButtonPath()}) {
            TransparentBitmap bitmap;
            std::string error;
            ASSERT_TRUE(bitmap.Load(path, &error)) << error;
            EXPECT_GE(bitmap.Width(), 1);
        }
        EXPECT_TRUE(std::filesystem::is_regular_file(t.BackgroundPath())) << t.BackgroundPath();
        // A whole page draws.
        PicBitmap frame;
        std::string error;
        EXPECT_TRUE(RenderMenuFrame(t, {}, {{"Album", true, nullptr}}, 0, TvNorm::Pal, frame, &error)) << error;
    }
    EXPECT_TRUE(hasClassic);
}

// Real album names: the names of the sample project and typical names of 20 characters
// are drawn whole ("%02d %s", no ellipsis) in every bundled template's title box.
TEST(RenderBundledTemplates, TitleBoxesHoldRealAlbumNames)
{
    const std::string folder = std::string(LUMIVOX_SOURCE_DIR) + "/data/template/";
    IniFile sample;
    sample.Load(std::string(LUMIVOX_SOURCE_DIR) + "/samples/sample.lvx.in");
    std::vector<std::string> names = {"Summer Holiday Italy", "Hiking the Dolomites", "Christmas at Home 23",
                                      "Birthday Party Lucas", "Our Wedding Day 2024"};
    const int albums = sample.GetInt("GENERAL", "Album_Count", 0);
    ASSERT_GE(albums, 3);
    for (int a = 1; a <= albums; ++a)
        names.push_back(sample.GetString(Format("Album_%02d", a), "Name"));
    const QFontMetrics metrics(TitleFont());
    for (const TemplateListEntry& entry : ListTemplates(folder)) {
        MenuTemplate t;
        ASSERT_TRUE(LoadMenuTemplate(folder + entry.fileName, t));
        const int room = t.textWidth - (t.hasTextOutline ? 2 : 0);
        for (const std::string& name : names) {
            const QString title = QString::fromStdString("99 " + name);
            EXPECT_EQ(metrics.elidedText(title, Qt::ElideRight, room), title)
                << entry.fileName << ": \"" << name << "\" is " << metrics.horizontalAdvance(title)
                << " pixels wide, the box holds " << room;
        }
    }
}

// Over a user's own white or black background, the outer ring of every frame and button
// shows either that background (transparent) or the same opaque artwork on both: no
// shadow or edge blended against the template's own panel.
TEST(RenderBundledTemplates, FramesAndButtonsLookTheSameOverAnyBackground)
{
    const std::string folder = std::string(LUMIVOX_SOURCE_DIR) + "/data/template/";
    TempFolder scratch;
    QImage white(64, 48, QImage::Format_RGB32);
    white.fill(qRgb(255, 255, 255));
    test::WriteBmp(white, scratch.File("white.bmp"));
    QImage black(64, 48, QImage::Format_RGB32);
    black.fill(qRgb(0, 0, 0));
    test::WriteBmp(black, scratch.File("black.bmp"));
    for (const TemplateListEntry& entry : ListTemplates(folder)) {
        SCOPED_TRACE(entry.fileName);
        MenuTemplate t;
        ASSERT_TRUE(LoadMenuTemplate(folder + entry.fileName, t));
        // The second of three pages: every entry, both buttons.
        std::vector<MenuAlbum> albums(static_cast<std::size_t>(3 * t.itemsCount), MenuAlbum{"Album", false, nullptr});
        const QRect canvas(0, 0, t.CanvasWidth(), t.CanvasHeight());
        QImage overWhite(canvas.size(), QImage::Format_RGB32);
        QImage overBlack(canvas.size(), QImage::Format_RGB32);
        std::string error;
        ASSERT_TRUE(DrawMenuPage(overWhite, canvas, t, scratch.File("white.bmp"), albums, t.itemsCount, &error))
            << error;
        ASSERT_TRUE(DrawMenuPage(overBlack, canvas, t, scratch.File("black.bmp"), albums, t.itemsCount, &error))
            << error;
        // The template's own background without any entry: what a shadow would have been
        // blended against.
        QImage own(canvas.size(), QImage::Format_RGB32);
        ASSERT_TRUE(DrawMenuPage(own, canvas, t, {}, {}, 0, &error)) << error;
        // A shadow pre-blended against the panel is the panel's colour darkened: k times
        // the panel's colour for some k below 1.
        const auto darkenedPanel = [](QRgb pixel, QRgb panel) {
            const double panelSum = qRed(panel) + qGreen(panel) + qBlue(panel);
            if (panelSum < 30)
                return false;
            const double k = (qRed(pixel) + qGreen(pixel) + qBlue(pixel)) / panelSum;
            return k < 0.8 && std::abs(qRed(pixel) - k * qRed(panel)) <= 12 &&
                   std::abs(qGreen(pixel) - k * qGreen(panel)) <= 12 && std::abs(qBlue(pixel) - k * qBlue(panel)) <= 12;
        };
        std::vector<std::pair<std::string, QRect>> elements;
        for (int n = 0; n < t.itemsCount; ++n)
            elements.emplace_back("frame " + std::to_string(n + 1),
                                  QRect(t.itemPositions[static_cast<std::size_t>(n)].x,
                                        t.itemPositions[static_cast<std::size_t>(n)].y, t.frameWidth, t.frameHeight));
        elements.emplace_back("next button",
                              QRect(t.nextButtonPosition.x, t.nextButtonPosition.y, t.nextWidth, t.nextHeight));
        elements.emplace_back("prev button",
                              QRect(t.prevButtonPosition.x, t.prevButtonPosition.y, t.prevWidth, t.prevHeight));
        for (const auto& [name, rect] : elements) {
            int blended = 0, artwork = 0;
            std::string first;
            for (int y = rect.top(); y <= rect.bottom(); ++y)
                for (int x = rect.left(); x <= rect.right(); ++x) {
                    const bool ring =
                        y <= rect.top() + 1 || y >= rect.bottom() - 1 || x <= rect.left() + 1 || x >= rect.right() - 1;
                    if (!ring)
                        continue;
                    const QRgb w = overWhite.pixel(x, y) & 0xFFFFFFu;
                    const QRgb b = overBlack.pixel(x, y) & 0xFFFFFFu;
                    if (w == 0xFFFFFFu && b == 0)
                        continue;
                    if (w == b && !darkenedPanel(w, own.pixel(x, y))) {
                        ++artwork;
                        continue;
                    }
                    if (first.empty())
                        first = Format(" first at (%d, %d): #%06x over white, #%06x over black, panel #%06x", x, y, w,
                                       b, own.pixel(x, y) & 0xFFFFFFu);
                    ++blended;
                }
            EXPECT_EQ(blended, 0) << name << ": ring pixels blended or shadowed" << first;
            EXPECT_GT(artwork, 0) << name << " has no artwork on its outer ring";
        }
    }
}

} // namespace
} // namespace lumivox

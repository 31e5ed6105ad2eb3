// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Drawing of the two pictures made from a project: a disc-menu page (one per group of
// albums, from the current template) and a slide (one per picture of an album). Both
// draw with QtGui into a QImage, so the same drawing serves the on-screen previews and
// the frames handed to the video encoder.
//
// The renderer knows nothing of the project: callers describe the albums with
// MenuAlbum records. Drawing works on any thread once the program has made its
// QGuiApplication (QtGuiHost.h); menu drawing serialises itself, so callers need no lock.
// Without the application a drawing call fails with kMsgNoGuiApplication.

#include "base/TvNorm.h"
#include "picture/MenuTemplate.h"
#include "picture/PicBitmap.h"
#include "picture/PicReader.h"

#include <QtCore/QRect>
#include <QtCore/QSize>
#include <QtGui/QFont>
#include <QtGui/QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QPainter;

namespace lumivox {

constexpr int kFrameWidth = 704;
constexpr int kNtscFrameHeight = 480;
constexpr int kPalFrameHeight = 576;
constexpr int FrameHeight(TvNorm norm)
{
    return norm == TvNorm::Pal ? kPalFrameHeight : kNtscFrameHeight;
}

// Larger element sizes in a template (frames, buttons, thumbnails, title boxes) are not
// sizes any canvas can show; such an element is not drawn.
constexpr int kMaxElementSide = 16384;

// Number of menu pages for albumCount albums: one per started group of entriesPerPage.
// 0 when there is no album or entriesPerPage is below 1.
int MenuPageCount(int albumCount, int entriesPerPage);

// Where a picture of width x height sits when fitted into a box of boxWidth x boxHeight
// with its aspect ratio kept and centred (the slide-thumbnail rule, in floating point,
// truncated toward zero; offsets are integer halves). Never smaller than 1 x 1.
struct FitPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
FitPlacement ComputeFit(int pictureWidth, int pictureHeight, int boxWidth, int boxHeight);

// The title font shared by all drawing: Arial (Liberation Sans through fontconfig),
// 24 pixels, normal weight, not antialiased.
QFont TitleFont();

// The font a title is drawn with in a box boxHeight pixels high: TitleFont(), unless
// characters of the title come from a fallback font (CJK, emoji) whose line is taller
// than the title font's own and than the box; then the largest smaller pixel size (down
// to 12) whose line fits the box, so that no descender is cut off.
QFont TitleFontFor(const QString& title, int boxHeight);
// The height of title laid out on one line in font, fallback fonts included.
qreal TitleLineHeight(const QString& title, const QFont& font);

// A template frame or page button: a Windows bitmap file, drawn at natural size with
// its pure red (255, 0, 0) pixels transparent.
class TransparentBitmap {
public:
    // Loads a Windows bitmap file (any other format is refused). Returns false with
    // error naming the file and the reason; the bitmap is then empty and draws nothing.
    bool Load(const std::string& path, std::string* error = nullptr);
    // Takes pixels already in memory (tests, generated artwork).
    void SetImage(const QImage& image);
    bool IsLoaded() const { return !image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }

    // Draws the top-left width x height pixels at (x, y) without scaling: pure red
    // pixels leave the target unchanged, all others replace it. Parts outside the
    // bitmap or the target are skipped.
    void DrawTransparent(QPainter& target, int x, int y, int width, int height) const;
    void DrawTransparent(QImage& target, int x, int y, int width, int height) const;

private:
    QImage image_; // premultiplied ARGB: alpha 0 where the file is pure red, else 255
};

// One album as the menu shows it.
struct MenuAlbum {
    std::string name; // the title printed on the menu
    bool hasPictures = false; // albums without pictures get a frame only
    const PicBitmap* thumbnail = nullptr; // slide thumbnail of the first picture, or none
    // The first picture as the project holds it (the reduced-mode decode, turned), or
    // none. The entry's cover is resized from it once, straight to its fitted size, so
    // that image boxes larger than the 104 x 78 slide thumbnail stay sharp; without it
    // the slide thumbnail is fitted instead.
    const PicBitmap* picture = nullptr;
};

// Draws the menu page whose entry 01 is albums[firstAlbumIndex] into rect of target:
// background (the override when not empty, else the template's), for every entry of the
// page its cover (fitted into the image box with its aspect kept, centred, the rest of
// the box in "Thumb_fill_color"), "%02d %s" title (outlined when the template gives
// "Text_outline_color") and frame, the next-page button when albums
// follow the page and the previous-page button when the page is not the first; the
// canvas is then stretched smoothly into rect. Returns false with error set, and leaves
// target untouched, when the background cannot be decoded or the template's canvas is
// out of range. Missing frame or button files draw nothing.
bool DrawMenuPage(QImage& target, const QRect& rect, const MenuTemplate& menuTemplate,
                  const std::string& backgroundOverride, const std::vector<MenuAlbum>& albums, int firstAlbumIndex,
                  std::string* error = nullptr);
// The same with the current template of state, read afresh from its file.
bool DrawMenuPage(QImage& target, const QRect& rect, const DiscMenuState& state, const std::vector<MenuAlbum>& albums,
                  int firstAlbumIndex, std::string* error = nullptr);

// Resizes a 32-bit picture exactly as PicResizer(width, height) does, byte for byte,
// with the horizontal pass spread over the processor's cores. Throws PLTextException.
void ResizeForFrame(const PicBitmap& source, int width, int height, PicBitmap& destination);

// ResizeForFrame row by row: the source rows are put in order, top first, and each goes
// through the horizontal pass at once; the vertical pass keeps only the few rows its
// filter still needs. The result is the same, byte for byte, and complete once every
// source row is in. Throws PLTextException for an empty size.
class RowResizer {
public:
    RowResizer(int sourceWidth, int sourceHeight, int width, int height, bool hasAlpha = false);
    ~RowResizer();
    RowResizer(const RowResizer&) = delete;
    RowResizer& operator=(const RowResizer&) = delete;
    // The next source row, sourceWidth blue, green, red, alpha pixels.
    void Put(const std::uint8_t* pixels);
    PicBitmap& Result() { return result_; }

private:
    struct Passes;
    std::unique_ptr<Passes> passes_;
    int sourceHeight_;
    std::size_t stride_;
    int ringRows_ = 1;
    std::vector<std::uint8_t> ring_;
    std::vector<std::int32_t> accumulator_;
    int put_ = 0; // source rows put
    int emitted_ = 0; // destination rows made
    PicBitmap result_;
};

// Fills rect with black and draws picture into it, resized with PicResizer's filter to fit with
// its aspect ratio kept, centred, with a plain copy. The PicBitmap form needs a 32-bit
// target; parts of rect outside the target are skipped. Throws PLTextException when the
// picture cannot be resized.
void FitPicture(QImage& target, const PicBitmap& picture, const QRect& rect);
void FitPicture(PicBitmap& target, const PicBitmap& picture, const QRect& rect);

// How a slide is fitted into its frame.
//   TvAspect: a 704 x 480 or 704 x 576 Video CD still is shown as a 4:3 picture, so its
//     pixels are not square (10:11 on NTSC, 12:11 on PAL). The picture is fitted into
//     the square-pixel 4:3 frame (640 x 480, 768 x 576) and that is resampled to 704
//     wide, in one pass: a 4:3 photo fills the frame on both norms, and a circle stays
//     a circle on the television. The menu pages are drawn the same way (a square-pixel
//     canvas stretched to the frame).
//   SquarePixels: the picture is fitted into 704 x H as if the pixels were square (the
//     settings key "SquarePixelSlides=1"); photos then show 9 % too narrow on NTSC and
//     9 % too wide on PAL.
enum class SlideGeometry { TvAspect, SquarePixels };

// The square-pixel 4:3 frame of a norm: 640 x 480 (NTSC), 768 x 576 (PAL).
constexpr int SquarePixelFrameWidth(TvNorm norm)
{
    return norm == TvNorm::Pal ? 768 : 640;
}

// Where a picture of width x height lies in the frame of norm.
FitPlacement SlidePlacement(int pictureWidth, int pictureHeight, TvNorm norm,
                            SlideGeometry geometry = SlideGeometry::TvAspect);

// A slide's frame made from its picture's rows as they are decoded (PicReader::
// DecodeFileRows), so that a camera's photo never takes its decoded size in memory: the
// picture is turned clockwise by rotation (90, 180 or 270; anything else leaves it as it
// is) and fitted (SlidePlacement) into a black opaque frame of the norm. The rows are
// resized as they come, in the picture's own orientation, and the small result is turned.
// Given coverSize, the same rows also give a second picture, an album's cover for the
// menu, at the size coverSize asks for the turned picture's decoded size.
class SlideFitter : public PicRowTarget {
public:
    using CoverSize = std::function<QSize(int width, int height)>;
    SlideFitter(int rotation, TvNorm norm, SlideGeometry geometry, CoverSize coverSize = {});
    ~SlideFitter() override;
    void Begin(int width, int height, bool hasAlpha) override;
    void Row(const std::uint8_t* pixels) override;
    // After the last row: the frame, and the cover when one was asked for (else cover is
    // left alone). Throws PLTextException when no picture was begun.
    void Finish(PicBitmap& frame, PicBitmap* cover = nullptr);

private:
    int rotation_;
    TvNorm norm_;
    SlideGeometry geometry_;
    CoverSize coverSize_;
    FitPlacement fit_;
    std::unique_ptr<RowResizer> picture_;
    std::unique_ptr<RowResizer> cover_;
};

// Makes the video frame of one slide: decodes the picture file in full mode, turns it
// clockwise by rotation (90, 180 or 270; anything else leaves it as it is) and fits it
// (SlidePlacement) into a black 704 x 480 (NTSC) or 704 x 576 (PAL) frame, 32 bits per
// pixel, opaque, resized in one pass with PicResizer's filter. Decoding errors are not
// caught: PLTextException reaches the caller.
void RenderSlideFrame(const std::string& picturePath, int rotation, TvNorm norm, PicBitmap& frame,
                      SlideGeometry geometry = SlideGeometry::TvAspect);
// The fitting half of RenderSlideFrame, for a picture already decoded and turned.
void FitSlideFrame(const PicBitmap& picture, TvNorm norm, PicBitmap& frame,
                   SlideGeometry geometry = SlideGeometry::TvAspect);
// The same, handing the frame to handOver (the still encoder) before returning.
void RenderSlideFrame(const std::string& picturePath, int rotation, TvNorm norm,
                      const std::function<void(const PicBitmap&)>& handOver,
                      SlideGeometry geometry = SlideGeometry::TvAspect);

// Makes the video frame of one menu page: DrawMenuPage into (0, 0, 704, frame height)
// of a black frame, returned as a 32-bit opaque PicBitmap. On false (see DrawMenuPage)
// the frame is black.
bool RenderMenuFrame(const MenuTemplate& menuTemplate, const std::string& backgroundOverride,
                     const std::vector<MenuAlbum>& albums, int firstAlbumIndex, TvNorm norm, PicBitmap& frame,
                     std::string* error = nullptr);

// Makes the title card of an album for the disc's motion track: the template's background
// (or the override) stretched over the canvas, the album's name centred on it in the
// title font at twice its size, in the template's text colour (outlined like the menu's
// titles), then stretched into a 704 x H frame. On false (a background that cannot be
// decoded) the card is black with the title still drawn.
bool RenderTitleCard(const MenuTemplate& menuTemplate, const std::string& backgroundOverride, const std::string& title,
                     TvNorm norm, PicBitmap& frame, std::string* error = nullptr);

} // namespace lumivox

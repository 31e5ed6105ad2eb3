// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/FrameRenderer.h"

#include "base/Parallel.h"
#include "base/FileDescriptor.h"
#include "picture/PicReader.h"
#include "picture/PicResizer.h"
#include "picture/QtGuiHost.h"
#include "picture/QtImage.h"

#include <QtGui/QFontMetrics>
#include <QtGui/QPainter>
#include <QtGui/QTextLayout>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The resampling loops are plain integer multiply-adds over whole rows; let GCC vectorise
// them fully even in builds that stop at -O2.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

namespace lumivox {

namespace {

bool SaneSize(int width, int height)
{
    return width > 0 && height > 0 && width <= kMaxElementSide && height <= kMaxElementSide;
}

// 0x00BBGGRR, red in the low byte.
QColor ColorFromTemplate(std::uint32_t value)
{
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

// Decodes a picture in full mode to 32 bits; false with error naming the file.
bool DecodePicture(const std::string& path, PicBitmap& bitmap, std::string* error)
{
    try {
        PicReader reader;
        reader.SetMode(DecodeMode::Full);
        // Nothing of a menu is drawn larger than the PAL frame.
        reader.SetUsefulSize(kFrameWidth, FrameHeight(TvNorm::Pal));
        reader.DecodeFile(path, bitmap, 32);
        return true;
    } catch (const PLTextException& e) {
        if (error) {
            std::string text = e.GetText();
            while (!text.empty() && (text.back() == '\n' || text.back() == '.'))
                text.pop_back();
            *error = (path.empty() ? std::string("(no file named)") : path) + ": " + text;
        }
        return false;
    }
}

// The title: "%02d %s" on one line; control characters would break the single line.
QString TitleText(int entry, const std::string& name)
{
    QString title = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (QChar& c : title)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    char number[16];
    std::snprintf(number, sizeof number, "%02d ", entry);
    return QString::fromLatin1(number) + title;
}

QImage StretchSmooth(const QImage& image, int width, int height)
{
    if (image.width() == width && image.height() == height)
        return image;
    return image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Smallest size a title's font is brought down to when a fallback font (CJK, emoji) would
// make its line taller than its box.
constexpr int kMinTitlePixelSize = 12;

// Whether a 32-bit picture's alpha says how much of each pixel it covers, its colours
// already composited over black (as the PNG, WebP and HEIF decoders deliver a picture
// with transparency): some pixel is not opaque, and no colour exceeds its alpha. A
// bitmap or TIFF whose alpha byte is unused (zero under coloured pixels) fails this and
// is drawn opaque, as before.
bool AlphaIsCoverage(const PicBitmap& bitmap)
{
    if (bitmap.BitsPerPixel() != 32 || !bitmap.HasAlpha())
        return false;
    bool partial = false;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* p = bitmap.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 4) {
            if (p[0] > p[3] || p[1] > p[3] || p[2] > p[3])
                return false;
            partial = partial || p[3] != 255;
        }
    }
    return partial;
}

// The album's cover in the entry's image box, fitted with its aspect ratio kept and
// centred; the rest of the box takes the template's "Thumb_fill_color", which also shows
// through a cover's transparent parts. The cover is resized once, from the project's
// picture when there is one, else from the slide thumbnail.
void DrawEntryCover(QPainter& painter, const MenuAlbum& entry, const MenuTemplate& t, const TemplatePoint& item)
{
    const PicBitmap* source = entry.picture && entry.picture->Width() > 0 ? entry.picture : entry.thumbnail;
    if (!source || source->Width() <= 0 || source->Height() <= 0 || !SaneSize(t.imageWidth, t.imageHeight))
        return;
    const QRect box(item.x + t.frameOffsetX, item.y + t.frameOffsetY, t.imageWidth, t.imageHeight);
    const FitPlacement fit = ComputeFit(source->Width(), source->Height(), box.width(), box.height());
    PicBitmap resized;
    try {
        PicBitmap wide;
        if (source->BitsPerPixel() != 32) {
            FromQImage(ToQImage(*source), wide);
            source = &wide;
        }
        ResizeForFrame(*source, fit.width, fit.height, resized);
    } catch (const PLTextException&) {
        return; // no memory for this cover: the entry keeps its frame and title
    }
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(box, ColorFromTemplate(t.thumbFillColor));
    if (AlphaIsCoverage(resized)) {
        // The resizer filters alpha like the colours, so the cover stays premultiplied.
        QImage cover = ToQImage(resized, PixelAlpha::Keep);
        cover.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(QPoint(box.x() + fit.x, box.y() + fit.y), cover);
    } else {
        painter.drawImage(QPoint(box.x() + fit.x, box.y() + fit.y), ToQImage(resized, PixelAlpha::Ignore));
    }
    painter.restore();
}

// The title in its box: one line, left and top aligned, cut with an ellipsis. With
// "Text_outline_color" the text sits one pixel in from the box's top left and gets a
// one-pixel outline of that colour, inside the box. When characters from a fallback font
// make the line taller than the title font's own (and than the box), the font is made
// smaller for this title only, so that no descender is cut off.
void DrawEntryTitle(QPainter& painter, const QRect& box, const QString& fullTitle, const QFontMetrics& metrics,
                    const MenuTemplate& t)
{
    const int margin = t.hasTextOutline ? 1 : 0;
    const QRect textBox = box.adjusted(margin, margin, -margin, -margin);
    if (textBox.width() <= 0 || textBox.height() <= 0)
        return;
    QString title = metrics.elidedText(fullTitle, Qt::ElideRight, textBox.width());
    const QFont font = TitleFontFor(title, textBox.height());
    if (font.pixelSize() != painter.font().pixelSize())
        title = QFontMetrics(font).elidedText(fullTitle, Qt::ElideRight, textBox.width());
    constexpr int kFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
    painter.save();
    painter.setFont(font);
    painter.setClipRect(box);
    if (t.hasTextOutline) {
        painter.setPen(ColorFromTemplate(t.textOutlineColor));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (dx != 0 || dy != 0)
                    painter.drawText(textBox.translated(dx, dy), kFlags, title);
    }
    painter.setPen(ColorFromTemplate(t.textColor));
    painter.drawText(textBox, kFlags, title);
    painter.restore();
}

} // namespace

int MenuPageCount(int albumCount, int entriesPerPage)
{
    if (albumCount <= 0 || entriesPerPage < 1)
        return 0;
    return albumCount / entriesPerPage + (albumCount % entriesPerPage ? 1 : 0);
}

FitPlacement ComputeFit(int pictureWidth, int pictureHeight, int boxWidth, int boxHeight)
{
    FitPlacement fit;
    if (pictureWidth <= 0 || pictureHeight <= 0 || boxWidth <= 0 || boxHeight <= 0)
        return {0, 0, std::max(boxWidth, 1), std::max(boxHeight, 1)};
    const double w = pictureWidth;
    const double h = pictureHeight;
    const double a = boxWidth;
    const double b = boxHeight;
    if (pictureWidth > pictureHeight) {
        fit.width = boxWidth;
        fit.height = static_cast<int>(a * (h / w));
        if (fit.height > boxHeight) {
            fit.width = static_cast<int>((b * w) / h);
            fit.height = boxHeight;
        }
    } else {
        fit.width = static_cast<int>((w / h) * b);
        fit.height = boxHeight;
        // A box taller than wide would let an upright picture spill over its sides.
        if (fit.width > boxWidth) {
            fit.width = boxWidth;
            fit.height = static_cast<int>((a * h) / w);
        }
    }
    // A picture far wider than high would otherwise shrink to nothing.
    fit.width = std::clamp(fit.width, 1, boxWidth);
    fit.height = std::clamp(fit.height, 1, boxHeight);
    fit.x = (boxWidth - fit.width) / 2;
    fit.y = (boxHeight - fit.height) / 2;
    return fit;
}

// Menu pages draw text, and Qt's font machinery (font database, glyph caches) is shared
// by every painter of the process: pages are drawn one at a time, whichever thread asks.
static std::mutex& MenuDrawingMutex()
{
    static std::mutex mutex;
    return mutex;
}

qreal TitleLineHeight(const QString& title, const QFont& font)
{
    // The fallback fonts Qt picks for characters the font lacks count with their own
    // ascent and descent.
    QTextLayout layout(title, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return 0;
    }
    line.setNumColumns(static_cast<int>(title.size()));
    layout.endLayout();
    return line.ascent() + line.descent();
}

QFont TitleFontFor(const QString& title, int boxHeight)
{
    QFont font = TitleFont();
    const qreal ownHeight = QFontMetrics(font).height();
    while (font.pixelSize() > kMinTitlePixelSize) {
        const qreal height = TitleLineHeight(title, font);
        if (height <= ownHeight || height <= boxHeight)
            break;
        font.setPixelSize(font.pixelSize() - 1);
    }
    return font;
}

QFont TitleFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(24);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// ---------------------------------------------------------------------------------------
// TransparentBitmap

bool TransparentBitmap::Load(const std::string& path, std::string* error)
{
    image_ = QImage();
    // Frames and buttons are Windows bitmap files; other formats are not accepted even
    // when the picture decoder could read them.
    unsigned char signature[2] = {0, 0};
    std::string reason;
    if (FileDescriptor file = OpenRegularFile(path, &reason)) {
        ssize_t got;
        do
            got = ::read(file.Get(), signature, 2);
        while (got < 0 && errno == EINTR);
        if (got != 2 ||
            !((signature[0] == 'B' && signature[1] == 'M') || (signature[0] == 'B' && signature[1] == 'A'))) {
            if (error)
                *error = path + ": not a Windows bitmap file";
            return false;
        }
    } else {
        if (error)
            *error = (path.empty() ? std::string("(no file named)") : path) +
                     (reason == kNotARegularFile ? ": " + reason : std::string(": cannot be opened"));
        return false;
    }
    PicBitmap bitmap;
    if (!DecodePicture(path, bitmap, error))
        return false;
    SetImage(ToQImage(bitmap, PixelAlpha::Ignore));
    if (image_.isNull() && error)
        *error = path + ": out of memory";
    return !image_.isNull();
}

void TransparentBitmap::SetImage(const QImage& image)
{
    if (image.isNull()) {
        image_ = QImage();
        return;
    }
    // Keyed on the colours as stored: a premultiplying conversion would first blacken
    // every pixel whose alpha byte is 0.
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            // Only the colour decides (the mask of the format): pure red is the hole.
            const QRgb rgb = line[x] & 0x00FFFFFFu;
            line[x] = rgb == 0x00FF0000u ? 0u : (rgb | 0xFF000000u);
        }
    }
    // Every pixel is now fully transparent black or opaque: already premultiplied.
    keyed.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    image_ = std::move(keyed);
}

void TransparentBitmap::DrawTransparent(QPainter& target, int x, int y, int width, int height) const
{
    if (image_.isNull() || width <= 0 || height <= 0)
        return;
    const int w = std::min(width, image_.width());
    const int h = std::min(height, image_.height());
    target.save();
    target.setCompositionMode(QPainter::CompositionMode_SourceOver);
    target.drawImage(QPoint(x, y), image_, QRect(0, 0, w, h));
    target.restore();
}

void TransparentBitmap::DrawTransparent(QImage& target, int x, int y, int width, int height) const
{
    QPainter painter(&target);
    DrawTransparent(painter, x, y, width, height);
}

// ---------------------------------------------------------------------------------------
// Menu pages

bool DrawMenuPage(QImage& target, const QRect& rect, const MenuTemplate& t, const std::string& backgroundOverride,
                  const std::vector<MenuAlbum>& albums, int firstAlbumIndex, std::string* error)
{
    if (!HasGuiApplication()) {
        if (error)
            *error = kMsgNoGuiApplication;
        return false;
    }
    std::lock_guard<std::mutex> drawing(MenuDrawingMutex());
    const int canvasWidth = t.CanvasWidth();
    const int canvasHeight = t.CanvasHeight();
    if (canvasWidth > kMaxCanvasSide || canvasHeight > kMaxCanvasSide) {
        if (error)
            *error = t.path + ": the menu canvas " + std::to_string(canvasWidth) + " x " +
                     std::to_string(canvasHeight) + " is larger than " + std::to_string(kMaxCanvasSide) + " x " +
                     std::to_string(kMaxCanvasSide);
        return false;
    }
    if (target.isNull() || rect.isEmpty()) {
        if (error)
            *error = "nothing to draw into";
        return false;
    }

    PicBitmap background;
    if (!DecodePicture(backgroundOverride.empty() ? t.BackgroundPath() : backgroundOverride, background, error))
        return false;
    QImage canvas = StretchSmooth(ToQImage(background, PixelAlpha::Ignore), canvasWidth, canvasHeight);
    if (canvas.isNull()) {
        if (error)
            *error = "out of memory drawing the menu page";
        return false;
    }
    if (canvas.format() != QImage::Format_RGB32)
        canvas = canvas.convertToFormat(QImage::Format_RGB32);

    TransparentBitmap frame;
    if (!t.frameImage.empty())
        frame.Load(t.FramePath());

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    const QFont font = TitleFont();
    painter.setFont(font);
    const QFontMetrics metrics(font);

    const int albumCount = static_cast<int>(std::min<std::size_t>(albums.size(), 1u << 30));
    const int first = std::max(firstAlbumIndex, 0);
    const int entries = std::min(t.itemsCount, static_cast<int>(t.itemPositions.size()));
    for (int n = 1; n <= entries; ++n) {
        const long long album = static_cast<long long>(n) - 1 + first;
        if (album >= albumCount)
            break;
        const MenuAlbum& entry = albums[static_cast<std::size_t>(album)];
        const TemplatePoint item = t.itemPositions[static_cast<std::size_t>(n - 1)];
        if (entry.hasPictures) {
            DrawEntryCover(painter, entry, t, item);
            if (SaneSize(t.textWidth, t.textHeight)) {
                const TemplatePoint text = t.textPositions[static_cast<std::size_t>(n - 1)];
                DrawEntryTitle(painter, QRect(text.x, text.y, t.textWidth, t.textHeight), TitleText(n, entry.name),
                               metrics, t);
            }
        }
        if (SaneSize(t.frameWidth, t.frameHeight))
            frame.DrawTransparent(painter, item.x, item.y, t.frameWidth, t.frameHeight);
    }

    if (static_cast<long long>(first) + t.itemsCount < albumCount && !t.nextButton.empty() &&
        SaneSize(t.nextWidth, t.nextHeight)) {
        TransparentBitmap next;
        if (next.Load(t.NextButtonPath()))
            next.DrawTransparent(painter, t.nextButtonPosition.x, t.nextButtonPosition.y, t.nextWidth, t.nextHeight);
    }
    if (first > 0 && !t.prevButton.empty() && SaneSize(t.prevWidth, t.prevHeight)) {
        TransparentBitmap previous;
        if (previous.Load(t.PrevButtonPath()))
            previous.DrawTransparent(painter, t.prevButtonPosition.x, t.prevButtonPosition.y, t.prevWidth,
                                     t.prevHeight);
    }
    painter.end();

    const QImage page = StretchSmooth(canvas, rect.width(), rect.height());
    QPainter out(&target);
    out.setCompositionMode(QPainter::CompositionMode_Source);
    out.drawImage(rect.topLeft(), page);
    return true;
}

bool DrawMenuPage(QImage& target, const QRect& rect, const DiscMenuState& state, const std::vector<MenuAlbum>& albums,
                  int firstAlbumIndex, std::string* error)
{
    MenuTemplate menuTemplate;
    if (!state.LoadCurrentTemplate(menuTemplate, error))
        return false;
    return DrawMenuPage(target, rect, menuTemplate, state.BackgroundOverride(), albums, firstAlbumIndex, error);
}

bool RenderMenuFrame(const MenuTemplate& menuTemplate, const std::string& backgroundOverride,
                     const std::vector<MenuAlbum>& albums, int firstAlbumIndex, TvNorm norm, PicBitmap& frame,
                     std::string* error)
{
    const int height = FrameHeight(norm);
    QImage image(kFrameWidth, height, QImage::Format_RGB32);
    // A drawn page covers the whole frame; only a page that could not be drawn leaves it black.
    const bool drawn = DrawMenuPage(image, QRect(0, 0, kFrameWidth, height), menuTemplate, backgroundOverride, albums,
                                    firstAlbumIndex, error);
    if (!drawn)
        image.fill(Qt::black);
    FromQImage(image, frame);
    return drawn;
}

bool RenderTitleCard(const MenuTemplate& t, const std::string& backgroundOverride, const std::string& title,
                     TvNorm norm, PicBitmap& frame, std::string* error)
{
    const int height = FrameHeight(norm);
    QImage image(kFrameWidth, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    if (!HasGuiApplication()) {
        if (error)
            *error = kMsgNoGuiApplication;
        FromQImage(image, frame);
        return false;
    }
    std::lock_guard<std::mutex> drawing(MenuDrawingMutex());
    const int canvasWidth = std::min(t.CanvasWidth(), kMaxCanvasSide);
    const int canvasHeight = std::min(t.CanvasHeight(), kMaxCanvasSide);
    bool drawn = true;
    QImage canvas(canvasWidth, canvasHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    PicBitmap background;
    if (DecodePicture(backgroundOverride.empty() ? t.BackgroundPath() : backgroundOverride, background, error)) {
        QImage stretched = StretchSmooth(ToQImage(background, PixelAlpha::Ignore), canvasWidth, canvasHeight);
        if (!stretched.isNull())
            canvas = stretched.convertToFormat(QImage::Format_RGB32);
    } else {
        drawn = false;
    }
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        QFont font = TitleFont();
        font.setPixelSize(font.pixelSize() * 2);
        const QString text = QString::fromStdString(title);
        // The name is kept within the middle of the canvas, elided when it is too long.
        const QRect box(canvasWidth / 10, 0, canvasWidth - canvasWidth / 5, canvasHeight);
        const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, box.width());
        painter.setFont(font);
        constexpr int kFlags = Qt::AlignCenter | Qt::TextSingleLine;
        if (t.hasTextOutline) {
            painter.setPen(ColorFromTemplate(t.textOutlineColor));
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    if (dx != 0 || dy != 0)
                        painter.drawText(box.translated(dx, dy), kFlags, shown);
        }
        painter.setPen(ColorFromTemplate(t.textColor));
        painter.drawText(box, kFlags, shown);
    }
    const QImage card = StretchSmooth(canvas, kFrameWidth, height);
    if (!card.isNull()) {
        QPainter out(&image);
        out.setCompositionMode(QPainter::CompositionMode_Source);
        out.drawImage(0, 0, card);
    }
    FromQImage(image, frame);
    return drawn;
}

// ---------------------------------------------------------------------------------------
// Slides

namespace {

// The resampling filter of PicResizer (triangle of radius 0.64, widened when shrinking,
// integer weights summing to 256, horizontal pass first into 8-bit intermediate rows),
// computed here with the horizontal pass - the bulk of the work for a camera picture -
// spread over the processor's cores. The result is the same, byte for byte, as
// PicResizer's (a test holds the two side by side); a slide of an 18-megapixel photo
// would otherwise spend half its decoding time again in this one pass.
struct FilterPass {
    std::vector<int> first; // first source index per destination index
    std::vector<int> count; // taps per destination index
    std::vector<std::int32_t> weights; // maxTaps per destination index
    int maxTaps = 0;
    // The same taps two at a time, for the vector form of the horizontal pass: per
    // destination index, pairs vectors of (w, w') repeated for the four channels, whose
    // taps start at pairFirst (moved left where the taps would run past the last source
    // pixel, with zero weights in front). Empty when the source is narrower than the taps.
    int pairs = 0;
    std::vector<int> pairFirst;
    std::vector<std::int16_t> pairWeights; // pairs x 8 per destination index
};

FilterPass MakeFilterPass(int sourceSize, int destSize)
{
    constexpr double kRadius = 0.64;
    const auto triangle = [](double x) {
        x = std::fabs(x);
        return x < kRadius ? kRadius - x : 0.0;
    };
    const double scale = static_cast<double>(destSize) / sourceSize;
    double radius = kRadius;
    double f = 1.0;
    if (scale < 1.0) {
        radius = kRadius / scale;
        f = scale;
    }
    FilterPass pass;
    pass.maxTaps = 2 * static_cast<int>(std::ceil(radius)) + 1;
    pass.first.resize(static_cast<std::size_t>(destSize));
    pass.count.resize(static_cast<std::size_t>(destSize));
    pass.weights.assign(static_cast<std::size_t>(destSize) * static_cast<std::size_t>(pass.maxTaps), 0);
    std::vector<double> exact;
    for (int j = 0; j < destSize; ++j) {
        const double centre = (j + 0.5) / scale - 0.5;
        const int lo = std::max(0, static_cast<int>(std::floor(centre - radius)));
        int hi = std::min(sourceSize - 1, static_cast<int>(std::ceil(centre + radius)));
        if (hi - lo + 1 > pass.maxTaps)
            hi = lo + pass.maxTaps - 1;
        const int n = std::max(hi - lo + 1, 0);
        std::int32_t* w = &pass.weights[static_cast<std::size_t>(j) * static_cast<std::size_t>(pass.maxTaps)];
        exact.assign(static_cast<std::size_t>(n), 0.0);
        long long sum = 0;
        double exactSum = 0;
        for (int t = 0; t < n; ++t) {
            const double e = f * triangle(f * (centre - (lo + t)));
            exact[static_cast<std::size_t>(t)] = e;
            exactSum += e;
            w[t] = static_cast<std::int32_t>(e * 256.0);
            sum += w[t];
        }
        if (n > 0 && sum > 0) {
            std::int32_t others = 0;
            for (int t = 0; t + 1 < n; ++t) {
                w[t] = static_cast<std::int32_t>(w[t] * 256LL / sum);
                others += w[t];
            }
            w[n - 1] = 256 - others;
        } else if (n > 0 && exactSum > 0) {
            std::int32_t others = 0;
            for (int t = 0; t + 1 < n; ++t) {
                w[t] = static_cast<std::int32_t>(exact[static_cast<std::size_t>(t)] * 256.0 / exactSum);
                others += w[t];
            }
            w[n - 1] = 256 - others;
        }
        pass.first[static_cast<std::size_t>(j)] = lo;
        pass.count[static_cast<std::size_t>(j)] = n;
    }
    const int evenTaps = (pass.maxTaps + 1) & ~1;
    if (evenTaps <= sourceSize) {
        pass.pairs = evenTaps / 2;
        pass.pairFirst.resize(static_cast<std::size_t>(destSize));
        pass.pairWeights.assign(static_cast<std::size_t>(destSize) * static_cast<std::size_t>(pass.pairs) * 8, 0);
        for (std::size_t j = 0; j < static_cast<std::size_t>(destSize); ++j) {
            const int start = std::min(pass.first[j], sourceSize - evenTaps);
            pass.pairFirst[j] = start;
            std::int16_t* w = &pass.pairWeights[j * static_cast<std::size_t>(pass.pairs) * 8];
            for (int t = 0; t < pass.count[j]; ++t) {
                const int at = pass.first[j] + t - start; // 0 .. evenTaps - 1
                const auto weight = static_cast<std::int16_t>(pass.weights[j * static_cast<std::size_t>(pass.maxTaps) +
                                                                            static_cast<std::size_t>(t)]);
                for (int channel = 0; channel < 4; ++channel)
                    w[(at / 2) * 8 + channel * 2 + at % 2] = weight;
            }
        }
    }
    return pass;
}

// One row of source pixels through the horizontal pass into width x 4 bytes of out.
void HorizontalRow(const std::uint8_t* in, const FilterPass& pass, std::uint8_t* out)
{
    const std::size_t width = pass.first.size();
    const std::int32_t* w = pass.weights.data();
#if defined(__SSE2__)
    if (pass.pairs > 0) {
        // Two taps of all four channels at once: two pixels' bytes widened to 16 bits and
        // interleaved channel by channel (b b' g g' r r' a a'), multiplied by the pair of
        // weights and added in one madd. The products and their sums are exact integers,
        // so the result is the scalar loop's below, byte for byte.
        const __m128i zero = _mm_setzero_si128();
        const __m128i half = _mm_set1_epi32(128);
        const auto* weights = reinterpret_cast<const __m128i*>(pass.pairWeights.data());
        for (std::size_t d = 0; d < width; ++d) {
            const std::uint8_t* s = in + static_cast<std::size_t>(pass.pairFirst[d]) * 4;
            __m128i sum = half;
            for (int p = 0; p < pass.pairs; ++p, s += 8, ++weights) {
                const __m128i wide = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s)), zero);
                const __m128i paired = _mm_unpacklo_epi16(wide, _mm_srli_si128(wide, 8));
                sum = _mm_add_epi32(sum, _mm_madd_epi16(paired, _mm_loadu_si128(weights)));
            }
            // Weights are non-negative and sum to 256, so every channel ends within 0 … 255.
            const __m128i shifted = _mm_srli_epi32(sum, 8);
            const std::int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(shifted, zero), zero));
            std::memcpy(out + d * 4, &packed, 4);
        }
        return;
    }
#endif
    for (std::size_t d = 0; d < width; ++d, w += pass.maxTaps) {
        const std::uint8_t* s = in + static_cast<std::size_t>(pass.first[d]) * 4;
        std::int32_t b = 128, g = 128, r = 128, a = 128;
        const int n = pass.count[d];
        for (int t = 0; t < n; ++t, s += 4) {
            b += w[t] * s[0];
            g += w[t] * s[1];
            r += w[t] * s[2];
            a += w[t] * s[3];
        }
        out[d * 4 + 0] = static_cast<std::uint8_t>(b >> 8);
        out[d * 4 + 1] = static_cast<std::uint8_t>(g >> 8);
        out[d * 4 + 2] = static_cast<std::uint8_t>(r >> 8);
        out[d * 4 + 3] = static_cast<std::uint8_t>(a >> 8);
    }
}

void HorizontalRows(const PicBitmap& source, int fromRow, int toRow, const FilterPass& pass, std::uint8_t* intermediate,
                    std::size_t stride)
{
    for (int y = fromRow; y < toRow; ++y)
        HorizontalRow(source.Row(y), pass, intermediate + stride * static_cast<std::size_t>(y));
}

// Destination row y of the vertical pass, from the horizontal pass's rows that row(i)
// gives (i a source row among y's taps), into stride bytes of out.
template <class RowOf>
void VerticalRow(const FilterPass& pass, int y, RowOf&& row, std::vector<std::int32_t>& accumulator, std::uint8_t* out)
{
    const std::size_t stride = accumulator.size();
    std::fill(accumulator.begin(), accumulator.end(), 128);
    const std::int32_t* w = &pass.weights[static_cast<std::size_t>(y) * static_cast<std::size_t>(pass.maxTaps)];
    const int first = pass.first[static_cast<std::size_t>(y)];
    for (int t = 0; t < pass.count[static_cast<std::size_t>(y)]; ++t) {
        const std::int32_t weight = w[t];
        if (weight == 0)
            continue;
        const std::uint8_t* in = row(first + t);
        std::int32_t* acc = accumulator.data();
        for (std::size_t i = 0; i < stride; ++i)
            acc[i] += weight * in[i];
    }
    for (std::size_t i = 0; i < stride; ++i)
        out[i] = static_cast<std::uint8_t>(accumulator[i] >> 8);
}

} // namespace

void ResizeForFrame(const PicBitmap& source, int width, int height, PicBitmap& destination)
{
    if (source.BitsPerPixel() != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    if (source.Width() <= 0 || source.Height() <= 0 || width <= 0 || height <= 0)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    const FilterPass horizontal = MakeFilterPass(source.Width(), width);
    const FilterPass vertical = MakeFilterPass(source.Height(), height);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::unique_ptr<std::uint8_t[]> intermediate;
    try {
        intermediate.reset(new std::uint8_t[stride * static_cast<std::size_t>(source.Height())]);
    } catch (const std::bad_alloc&) {
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    }

    // Large pictures: bands of rows spread over the worker budget; small ones are not
    // worth a thread. Inside a frame worker the budget is mostly taken already, and the
    // bands then run on the calling thread.
    const int rows = source.Height();
    const bool threaded = static_cast<long long>(rows) * width >= 1000000;
    const int bands = threaded ? std::max(1, std::min(WorkerBudget(), 8)) : 1;
    const int band = (rows + bands - 1) / bands;
    ParallelFor(static_cast<std::size_t>(bands), bands, [&](std::size_t c) {
        const int from = std::min(rows, static_cast<int>(c) * band);
        HorizontalRows(source, from, std::min(rows, from + band), horizontal, intermediate.get(), stride);
    });

    PicBitmap result;
    result.CreateUnfilled(width, height, 32, source.HasAlpha()); // every row is written below
    result.SetResolution(source.ResolutionX(), source.ResolutionY());
    std::vector<std::int32_t> accumulator(stride);
    for (int y = 0; y < height; ++y)
        VerticalRow(
            vertical, y, [&](int i) { return intermediate.get() + stride * static_cast<std::size_t>(i); }, accumulator,
            result.Row(y));
    destination = std::move(result);
}

struct RowResizer::Passes {
    FilterPass horizontal;
    FilterPass vertical;
};

RowResizer::RowResizer(int sourceWidth, int sourceHeight, int width, int height, bool hasAlpha)
    : sourceHeight_(sourceHeight), stride_(static_cast<std::size_t>(std::max(width, 0)) * 4)
{
    if (sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0)
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    passes_ =
        std::make_unique<Passes>(Passes{MakeFilterPass(sourceWidth, width), MakeFilterPass(sourceHeight, height)});
    // No destination row has more taps than this, so the rows it needs are always among
    // the last ringRows_ source rows put.
    ringRows_ = std::max(passes_->vertical.maxTaps, 1);
    ring_.resize(stride_ * static_cast<std::size_t>(ringRows_));
    accumulator_.resize(stride_);
    result_.CreateUnfilled(width, height, 32, hasAlpha); // every row is written by the last Put
}

RowResizer::~RowResizer() = default;

void RowResizer::Put(const std::uint8_t* pixels)
{
    if (put_ >= sourceHeight_)
        return;
    HorizontalRow(pixels, passes_->horizontal, ring_.data() + stride_ * static_cast<std::size_t>(put_ % ringRows_));
    ++put_;
    const FilterPass& vertical = passes_->vertical;
    const auto rowOf = [&](int i) { return ring_.data() + stride_ * static_cast<std::size_t>(i % ringRows_); };
    while (emitted_ < result_.Height()) {
        const auto y = static_cast<std::size_t>(emitted_);
        if (vertical.first[y] + vertical.count[y] > put_)
            break;
        VerticalRow(vertical, emitted_, rowOf, accumulator_, result_.Row(emitted_));
        ++emitted_;
    }
}

namespace {

const PicBitmap& As32Bit(const PicBitmap& picture, PicBitmap& storage)
{
    if (picture.BitsPerPixel() == 32)
        return picture;
    FromQImage(ToQImage(picture), storage);
    return storage;
}

} // namespace

void FitPicture(QImage& target, const PicBitmap& picture, const QRect& rect)
{
    if (target.isNull() || rect.isEmpty())
        return;
    QPainter painter(&target);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect, Qt::black);
    if (picture.Width() <= 0 || picture.Height() <= 0)
        return;
    const FitPlacement fit = ComputeFit(picture.Width(), picture.Height(), rect.width(), rect.height());
    PicBitmap storage;
    PicBitmap resized;
    ResizeForFrame(As32Bit(picture, storage), fit.width, fit.height, resized);
    painter.drawImage(QPoint(rect.left() + fit.x, rect.top() + fit.y), ToQImage(resized, PixelAlpha::Ignore));
}

namespace {

// Fills rect of a 32-bit target with black and draws picture resized to placement (which
// lies inside rect) with a plain copy; parts outside the target are skipped.
void DrawResized(PicBitmap& target, const PicBitmap& picture, const QRect& rect, const QRect& placement)
{
    if (target.BitsPerPixel() != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    const QRect bounds(0, 0, target.Width(), target.Height());
    const QRect area = rect & bounds;
    if (area.isEmpty())
        return;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(target.Row(y)) + area.left();
        std::fill(row, row + area.width(), 0xFF000000u);
    }
    if (picture.Width() <= 0 || picture.Height() <= 0 || placement.isEmpty())
        return;
    PicBitmap storage;
    PicBitmap resized;
    ResizeForFrame(As32Bit(picture, storage), placement.width(), placement.height(), resized);
    const QRect placed = placement & bounds;
    if (placed.isEmpty())
        return;
    const int sourceX = placed.left() - placement.left();
    const int sourceY = placed.top() - placement.top();
    for (int y = 0; y < placed.height(); ++y) {
        const auto* in = reinterpret_cast<const std::uint32_t*>(resized.Row(sourceY + y)) + sourceX;
        auto* out = reinterpret_cast<std::uint32_t*>(target.Row(placed.top() + y)) + placed.left();
        // A frame is opaque whatever alpha the picture file carried.
        for (int x = 0; x < placed.width(); ++x)
            out[x] = in[x] | 0xFF000000u;
    }
}

} // namespace

void FitPicture(PicBitmap& target, const PicBitmap& picture, const QRect& rect)
{
    if (target.BitsPerPixel() != 32)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "Image bit depth doesn't match request.");
    if (rect.isEmpty())
        return;
    const FitPlacement fit = ComputeFit(picture.Width(), picture.Height(), rect.width(), rect.height());
    DrawResized(target, picture, rect, QRect(rect.left() + fit.x, rect.top() + fit.y, fit.width, fit.height));
}

FitPlacement SlidePlacement(int pictureWidth, int pictureHeight, TvNorm norm, SlideGeometry geometry)
{
    const int height = FrameHeight(norm);
    if (geometry == SlideGeometry::SquarePixels)
        return ComputeFit(pictureWidth, pictureHeight, kFrameWidth, height);
    // Fitted in square pixels, then each square-pixel column becomes 704 / 640 (NTSC) or
    // 704 / 768 (PAL) frame columns. The width is rounded and the picture centred again,
    // so that the bars on both sides stay equal.
    const int squareWidth = SquarePixelFrameWidth(norm);
    const FitPlacement square = ComputeFit(pictureWidth, pictureHeight, squareWidth, height);
    FitPlacement fit = square;
    const long scaled = std::lround(static_cast<double>(square.width) * kFrameWidth / squareWidth);
    fit.width = static_cast<int>(std::clamp<long>(scaled, 1, kFrameWidth));
    fit.x = (kFrameWidth - fit.width) / 2;
    return fit;
}

SlideFitter::SlideFitter(int rotation, TvNorm norm, SlideGeometry geometry, CoverSize coverSize)
    : rotation_(rotation == 90 || rotation == 180 || rotation == 270 ? rotation : 0), norm_(norm), geometry_(geometry),
      coverSize_(std::move(coverSize))
{ }

SlideFitter::~SlideFitter() = default;

void SlideFitter::Begin(int width, int height, bool hasAlpha)
{
    const bool across = rotation_ == 90 || rotation_ == 270;
    const int turnedWidth = across ? height : width;
    const int turnedHeight = across ? width : height;
    fit_ = SlidePlacement(turnedWidth, turnedHeight, norm_, geometry_);
    // Resized in the picture's own orientation: a quarter turn swaps the sides.
    picture_ = std::make_unique<RowResizer>(width, height, across ? fit_.height : fit_.width,
                                            across ? fit_.width : fit_.height, hasAlpha);
    cover_.reset();
    if (coverSize_) {
        const QSize size = coverSize_(turnedWidth, turnedHeight);
        cover_ = std::make_unique<RowResizer>(width, height, across ? size.height() : size.width(),
                                              across ? size.width() : size.height(), hasAlpha);
    }
}

void SlideFitter::Row(const std::uint8_t* pixels)
{
    picture_->Put(pixels);
    if (cover_)
        cover_->Put(pixels);
}

void SlideFitter::Finish(PicBitmap& frame, PicBitmap* cover)
{
    if (!picture_)
        throw PLTextException(PL_ERRFORMAT_NOT_SUPPORTED, "The picture has no rows.");
    const auto turned = [this](PicBitmap& bitmap) {
        if (rotation_ == 0)
            return;
        PicBitmap result;
        RotateBitmap(bitmap, rotation_, result);
        bitmap = std::move(result);
    };
    PicBitmap& fitted = picture_->Result();
    turned(fitted);
    const int height = FrameHeight(norm_);
    PicBitmap result;
    result.CreateUnfilled(kFrameWidth, height, 32, false); // every pixel is written below
    for (int y = 0; y < height; ++y) {
        auto* out = reinterpret_cast<std::uint32_t*>(result.Row(y));
        const int pictureRow = y - fit_.y;
        if (pictureRow < 0 || pictureRow >= fitted.Height()) {
            std::fill(out, out + kFrameWidth, 0xFF000000u);
            continue;
        }
        const auto* in = reinterpret_cast<const std::uint32_t*>(fitted.Row(pictureRow));
        const int right = std::min(kFrameWidth, fit_.x + fitted.Width());
        std::fill(out, out + fit_.x, 0xFF000000u);
        // A frame is opaque whatever alpha the picture file carried.
        for (int x = fit_.x; x < right; ++x)
            out[x] = in[x - fit_.x] | 0xFF000000u;
        std::fill(out + right, out + kFrameWidth, 0xFF000000u);
    }
    frame = std::move(result);
    if (cover && cover_) {
        turned(cover_->Result());
        *cover = std::move(cover_->Result());
    }
    picture_.reset();
    cover_.reset();
}

void RenderSlideFrame(const std::string& picturePath, int rotation, TvNorm norm, PicBitmap& frame,
                      SlideGeometry geometry)
{
    SlideFitter fitter(rotation, norm, geometry);
    PicReader reader;
    reader.SetMode(DecodeMode::Full);
    reader.SetUsefulSize(kFrameWidth, FrameHeight(norm));
    reader.DecodeFileRows(picturePath, fitter);
    fitter.Finish(frame);
}

void FitSlideFrame(const PicBitmap& picture, TvNorm norm, PicBitmap& frame, SlideGeometry geometry)
{
    SlideFitter fitter(0, norm, geometry);
    PicBitmap storage;
    HandOverRows(As32Bit(picture, storage), fitter);
    fitter.Finish(frame);
}

void RenderSlideFrame(const std::string& picturePath, int rotation, TvNorm norm,
                      const std::function<void(const PicBitmap&)>& handOver, SlideGeometry geometry)
{
    PicBitmap frame;
    RenderSlideFrame(picturePath, rotation, norm, frame, geometry);
    if (handOver)
        handOver(frame);
}

} // namespace lumivox

namespace lumivox {

QImage MakeTemplatePreview(const MenuTemplate& t)
{
    if (!HasGuiApplication())
        return QImage();
    QImage preview(kTemplatePreviewWidth, kTemplatePreviewHeight, QImage::Format_RGB32);
    preview.fill(Qt::black);
    const int canvasWidth = t.CanvasWidth();
    const int canvasHeight = t.CanvasHeight();
    if (canvasWidth > kMaxCanvasSide || canvasHeight > kMaxCanvasSide)
        return preview;
    PicBitmap background;
    if (!DecodePicture(t.BackgroundPath(), background, nullptr))
        return preview;
    QImage canvas(canvasWidth, canvasHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    // The background at its own size, not stretched: the preview shows the template's
    // artwork as designed.
    painter.drawImage(QPoint(0, 0), ToQImage(background, PixelAlpha::Ignore));
    TransparentBitmap frame;
    if (!t.frameImage.empty() && frame.Load(t.FramePath()) && SaneSize(t.frameWidth, t.frameHeight)) {
        const int entries = std::min(t.itemsCount, static_cast<int>(t.itemPositions.size()));
        for (int n = 0; n < entries; ++n)
            frame.DrawTransparent(painter, t.itemPositions[static_cast<std::size_t>(n)].x,
                                  t.itemPositions[static_cast<std::size_t>(n)].y, t.frameWidth, t.frameHeight);
    }
    painter.end();
    return StretchSmooth(canvas, kTemplatePreviewWidth, kTemplatePreviewHeight);
}

} // namespace lumivox

// SPDX-License-Identifier: GPL-2.0-or-later
#include "logic/TrackPreview.h"

#include "picture/FrameRenderer.h"
#include "picture/PicBitmap.h"
#include "picture/QtImage.h"
#include "production/SlideshowTrack.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace lumivox::ui {

namespace {

// The template the title cards are drawn with, read once by whichever worker draws the
// first card (a jump to another album starts a new worker on the same source).
struct CardSource {
    explicit CardSource(const DiscMenuState& state) : menu(state) { }
    const MenuTemplate& Template()
    {
        std::call_once(once, [this] {
            ProductionPlan plan;
            if (SetMenuFromState(menu, plan)) {
                menuTemplate = std::move(plan.menuTemplate);
                backgroundOverride = std::move(plan.backgroundOverride);
            }
        });
        return menuTemplate;
    }
    DiscMenuState menu;
    std::once_flag once;
    MenuTemplate menuTemplate; // a template that cannot be read leaves the cards black
    std::string backgroundOverride;
};

QImage ToScreen(const PicBitmap& frame, QSize screen)
{
    const QImage image = ToQImage(frame, PixelAlpha::Ignore);
    if (image.isNull() || screen.isEmpty())
        return QImage();
    return image.scaled(screen, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
}

} // namespace

TrackPreview MakeSlideshowTrackPreview(const ProductionPlan& plan, const DiscMenuState& menu, QSize screen)
{
    TrackPreview track;
    const SlideshowTimeline timeline = MakeSlideshowTimeline(plan);
    auto source = std::make_shared<CardSource>(menu);
    const TvNorm norm = plan.norm;
    const SlideGeometry geometry = plan.slideGeometry;
    int position = 0;
    for (const SlideshowInterval& interval : timeline.intervals) {
        // The interval's own length in frames, so the preview keeps the track's timing.
        const auto wait =
            std::chrono::milliseconds(std::llround(static_cast<double>(interval.frames) * 1000.0 / timeline.frameRate));
        const PlannedAlbum& album = plan.albums[static_cast<std::size_t>(interval.album)];
        ShowItem item;
        item.position = position;
        item.wait = wait;
        if (interval.picture < 0) {
            track.chapterStarts.push_back(position);
            item.render = [source, title = album.name, norm, screen] {
                PicBitmap frame;
                RenderTitleCard(source->Template(), source->backgroundOverride, title, norm, frame);
                return ToScreen(frame, screen);
            };
        } else {
            item.render = [picture = album.pictures[static_cast<std::size_t>(interval.picture)], norm, geometry,
                           screen] { return RenderScreenSlide(picture, norm, geometry, screen); };
        }
        track.items.push_back(std::move(item));
        ++position;
    }
    return track;
}

TrackPreview MakeFixedCardPreview(QSize screen)
{
    TrackPreview track;
    track.chapterStarts.push_back(0);
    track.items.push_back({0, std::chrono::seconds(kFixedCardSeconds), [screen] { return DrawFixedCard(screen); }});
    return track;
}

QImage DrawFixedCard(QSize screen)
{
    QImage image(screen, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    const qreal w = screen.width();
    const qreal h = screen.height();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient slate(0, 0, 0, h);
    slate.setColorAt(0, QColor(0x34, 0x40, 0x4d));
    slate.setColorAt(1, QColor(0x11, 0x16, 0x1c));
    painter.fillRect(image.rect(), slate);
    QRadialGradient light(w / 2, h / 2, std::max(w, h) / 2);
    light.setColorAt(0, QColor(255, 255, 255, 0x18));
    light.setColorAt(1, QColor(0, 0, 0, 0));
    painter.fillRect(image.rect(), light);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(std::max(1, qRound(h / 9)));
    font.setLetterSpacing(QFont::AbsoluteSpacing, h / 108);
    painter.setFont(font);
    painter.setPen(QColor(0xc9, 0xd2, 0xdb));
    painter.drawText(QRectF(0, -h / 40, w, h), Qt::AlignCenter, QStringLiteral("Lumivox"));
    const qreal ruleY = h / 2 + h / 14;
    painter.setPen(QPen(QColor(0x7f, 0x8c, 0x99), std::max<qreal>(1, h / 480)));
    painter.drawLine(QPointF(w / 2 - w / 10, ruleY), QPointF(w / 2 + w / 10, ruleY));
    return image;
}

std::vector<ShowItem> TrackFromChapter(const TrackPreview& track, int chapter)
{
    if (track.chapterStarts.empty())
        return track.items;
    chapter = std::clamp(chapter, 0, static_cast<int>(track.chapterStarts.size()) - 1);
    const auto first = static_cast<std::size_t>(track.chapterStarts[static_cast<std::size_t>(chapter)]);
    return {track.items.begin() + static_cast<std::ptrdiff_t>(std::min(first, track.items.size())), track.items.end()};
}

int ChapterAt(const TrackPreview& track, int position)
{
    const auto after = std::upper_bound(track.chapterStarts.begin(), track.chapterStarts.end(), position);
    return static_cast<int>(after - track.chapterStarts.begin()) - 1;
}

} // namespace lumivox::ui

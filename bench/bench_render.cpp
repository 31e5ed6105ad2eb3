// SPDX-License-Identifier: GPL-2.0-or-later
// Rendering cost against decoding: one slide frame from an 18-megapixel JPEG (decode,
// fit, hand-over) and one menu page of the default template, each beside the time of
// its decode alone (for the menu page: every picture the page decodes - background, frame
// and button). Target: rendering adds at most 30 % to the decode.
//
//   bench_render [PHOTO.jpg]   (without a photo an 18-megapixel test photo is made)

#include "base/Paths.h"
#include "picture/FrameRenderer.h"
#include "picture/MenuTemplate.h"
#include "picture/PicReader.h"
#include "picture/PicResizer.h"
#include "picture/QtGuiHost.h"
#include "picture/QtImage.h"

#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QLinearGradient>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <vector>

using namespace lumivox;

namespace {

double Ms(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Best of `runs` rounds of each, the two taking turns, so that other work on the machine
// weighs on both sides alike.
std::pair<double, double> BestOfAlternating(int runs, const std::function<void()>& reference,
                                            const std::function<void()>& work)
{
    double best[2] = {1e300, 1e300};
    for (int i = 0; i < runs; ++i) {
        best[0] = std::min(best[0], Ms(reference));
        best[1] = std::min(best[1], Ms(work));
    }
    return {best[0], best[1]};
}

// A photo-like 4896 x 3672 picture: sky gradient, hills, and fine noise so that the JPEG
// carries real detail.
std::string MakePhoto(const std::string& path)
{
    QImage image(4896, 3672, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, QColor(70, 130, 210));
    sky.setColorAt(0.6, QColor(230, 200, 160));
    sky.setColorAt(1, QColor(60, 110, 50));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    std::mt19937 random(42);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(QColor(random() % 256, random() % 256, random() % 256, 90));
        painter.drawEllipse(QPoint(random() % image.width(), random() % image.height()), 20 + random() % 300,
                            20 + random() % 200);
    }
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = static_cast<int>(random() % 17) - 8;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    if (!image.save(QString::fromStdString(path), "JPEG", 90))
        return {};
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    EnsureGuiApplication(GuiPlatform::Offscreen);
    std::string photo = argc > 1 ? argv[1] : std::string();
    const std::string made = (std::filesystem::temp_directory_path() / "lumivox-bench-18mp.jpg").string();
    if (photo.empty()) {
        photo = MakePhoto(made);
        if (photo.empty()) {
            std::fprintf(stderr, "bench_render: cannot write the test photo %s\n", made.c_str());
            return 1;
        }
    }
    const int runs = 7;

    PicBitmap decoded;
    {
        PicReader reader;
        reader.DecodeFile(photo, decoded, 32);
    }
    std::printf("photo %s: %d x %d (%.1f megapixels)\n", photo.c_str(), decoded.Width(), decoded.Height(),
                decoded.Width() * static_cast<double>(decoded.Height()) / 1e6);
    std::size_t handedOver = 0;
    const auto [decodePhoto, slide] = BestOfAlternating(
        runs,
        [&] {
            PicBitmap picture;
            PicReader reader;
            reader.DecodeFile(photo, picture, 32);
        },
        [&] {
            RenderSlideFrame(photo, 0, TvNorm::Ntsc,
                             [&](const PicBitmap& frame) { handedOver += frame.HeaderBlockSize(); });
        });

    MenuTemplate menuTemplate;
    std::string error;
    if (!LoadMenuTemplate(TemplateFolder(ProgramFolder()) + kDefaultTemplateFile, menuTemplate, &error)) {
        std::fprintf(stderr, "bench_render: %s\n", error.c_str());
        return 1;
    }
    std::vector<PicBitmap> thumbnails(6);
    std::vector<MenuAlbum> albums;
    for (int i = 0; i < 6; ++i) {
        PicResizer(104, 78).Apply(decoded, thumbnails[static_cast<std::size_t>(i)]);
        albums.push_back({"Album number " + std::to_string(i + 1), true, &thumbnails[static_cast<std::size_t>(i)]});
    }
    albums.push_back({"One more", true, &thumbnails[0]});
    // What the first page decodes: the background, the frame and the next-page button (7
    // albums at 6 a page). The thumbnails are the albums' own, already in memory.
    std::vector<std::string> pagePictures = {menuTemplate.BackgroundPath()};
    if (!menuTemplate.frameImage.empty())
        pagePictures.push_back(menuTemplate.FramePath());
    if (!menuTemplate.nextButton.empty())
        pagePictures.push_back(menuTemplate.NextButtonPath());
    PicBitmap menuFrame;
    bool drawn = true;
    const auto [decodeBackground, menu] = BestOfAlternating(
        runs * 4,
        [&] {
            for (const std::string& path : pagePictures) {
                PicBitmap picture;
                PicReader reader;
                reader.DecodeFile(path, picture, 32);
            }
        },
        [&] { drawn &= RenderMenuFrame(menuTemplate, {}, albums, 0, TvNorm::Ntsc, menuFrame, &error); });
    if (!drawn) {
        std::fprintf(stderr, "bench_render: %s\n", error.c_str());
        return 1;
    }

    std::printf("%-44s %10s %10s %8s\n", "", "decode ms", "render ms", "ratio");
    std::printf("%-44s %10.1f %10.1f %7.2fx\n", "slide frame 704x480 (decode+fit+hand-over)", decodePhoto, slide,
                slide / decodePhoto);
    std::printf("%-44s %10.1f %10.1f %7.2fx\n", "menu page, default template (6 entries)*", decodeBackground, menu,
                menu / decodeBackground);
    std::printf("target: at most 1.30x the decode alone (best of %d alternating rounds)\n", runs);
    std::printf("* decode: background, frame and next-page button, the pictures the page decodes\n");
    if (photo == made)
        std::filesystem::remove(made);
    return 0;
}

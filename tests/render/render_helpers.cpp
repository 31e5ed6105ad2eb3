// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/render_helpers.h"

#include "picture/PicResizer.h"
#include "picture/QtGuiHost.h"
#include "picture/QtImage.h"

#include <QtGui/QPainter>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace lumivox::test {

TempFolder::TempFolder()
{
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("lumivox-render-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

QImage MakeTestPicture(int width, int height, unsigned seed)
{
    EnsureGuiApplication();
    QImage image(width, height, QImage::Format_RGB32);
    const QColor colours[4] = {QColor(200, 60 + seed * 20 % 120, 40), QColor(40, 160, 60),
                               QColor(50, 80, 200 - seed * 15 % 100), QColor(230, 200, 40)};
    QPainter painter(&image);
    const int hw = width / 2;
    const int hh = height / 2;
    painter.fillRect(0, 0, hw, hh, colours[0]);
    painter.fillRect(hw, 0, width - hw, hh, colours[1]);
    painter.fillRect(0, hh, hw, height - hh, colours[2]);
    painter.fillRect(hw, hh, width - hw, height - hh, colours[3]);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const int r = std::max(1, std::min(width, height) / 8);
    painter.drawEllipse(QPoint(width / 4, height / 4), r, r);
    painter.fillRect(0, 0, std::max(1, width / 2), std::max(1, height / 16), Qt::black);
    return image;
}

PicBitmap ToBitmap(const QImage& image)
{
    PicBitmap bitmap;
    FromQImage(image.convertToFormat(QImage::Format_RGB32), bitmap);
    return bitmap;
}

void WriteBmp(const QImage& image, const std::string& path)
{
    if (!image.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(path), "BMP"))
        throw std::runtime_error("cannot write " + path);
}

PicBitmap MakeThumbnail(int width, int height, unsigned seed)
{
    const PicBitmap picture = ToBitmap(MakeTestPicture(width, height, seed));
    const FitPlacement fit = ComputeFit(width, height, 104, 78);
    PicBitmap thumbnail;
    PicResizer(fit.width, fit.height).Apply(picture, thumbnail);
    return thumbnail;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string BundledTemplate(const std::string& fileName)
{
    return std::string(LUMIVOX_SOURCE_DIR) + "/data/template/" + fileName;
}

namespace {

bool Near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

std::string CompareWithGolden(const QImage& actualImage, const std::string& name, int tolerance, int allowedPixels)
{
    const std::string path = std::string(LUMIVOX_TEST_DATA) + "/render/" + name + ".png";
    const QImage actual = actualImage.convertToFormat(QImage::Format_RGB32);
    const char* update = std::getenv("LUMIVOX_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        actual.save(QString::fromStdString(path), "PNG");
        return {};
    }
    QImage golden(QString::fromStdString(path));
    if (golden.isNull())
        return "reference " + path + " is missing (run with LUMIVOX_UPDATE_GOLDEN=1 to make it)";
    golden = golden.convertToFormat(QImage::Format_RGB32);
    const std::string saved = name + ".actual.png";
    if (golden.size() != actual.size()) {
        actual.save(QString::fromStdString(saved), "PNG");
        std::ostringstream out;
        out << name << ": size " << actual.width() << " x " << actual.height() << ", reference " << golden.width()
            << " x " << golden.height();
        return out.str();
    }
    int differing = 0;
    int firstX = -1;
    int firstY = -1;
    QRgb firstActual = 0;
    QRgb firstGolden = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            bool matched = false;
            for (int dy = -1; dy <= 1 && !matched; ++dy) {
                const int gy = y + dy;
                if (gy < 0 || gy >= golden.height())
                    continue;
                const auto* g = reinterpret_cast<const QRgb*>(golden.constScanLine(gy));
                for (int dx = -1; dx <= 1 && !matched; ++dx) {
                    const int gx = x + dx;
                    if (gx >= 0 && gx < golden.width() && Near(a[x], g[gx], tolerance))
                        matched = true;
                }
            }
            if (!matched) {
                if (differing == 0) {
                    firstX = x;
                    firstY = y;
                    firstActual = a[x];
                    firstGolden = golden.pixel(x, y);
                }
                ++differing;
            }
        }
    }
    if (differing <= allowedPixels)
        return {};
    actual.save(QString::fromStdString(saved), "PNG");
    std::ostringstream out;
    out << name << ": " << differing << " pixels differ beyond tolerance (allowed " << allowedPixels << "); first at ("
        << firstX << ", " << firstY << "): actual #" << std::hex << (firstActual & 0xFFFFFF) << ", reference #"
        << (firstGolden & 0xFFFFFF) << std::dec << "; actual saved as " << saved;
    return out.str();
}

int CountNotColour(const QImage& image, const QRect& rect, QRgb colour, int tolerance)
{
    int count = 0;
    const QRect area = rect & image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!Near(image.pixel(x, y), colour, tolerance))
                ++count;
    return count;
}

} // namespace lumivox::test

// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture/QtImage.h"

#include <algorithm>
#include <cstring>

namespace lumivox {

QImage ToQImage(const PicBitmap& bitmap, PixelAlpha alpha)
{
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (width <= 0 || height <= 0)
        return {};
    const int bits = bitmap.BitsPerPixel();
    const QImage::Format format =
        bits == 32 && bitmap.HasAlpha() && alpha == PixelAlpha::Keep ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage image(width, height, format);
    if (image.isNull())
        return {};
    const std::uint8_t* palette = bitmap.Palette();
    const int entries = palette ? bitmap.PaletteEntries() : 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = bitmap.Row(y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        if (bits == 32) {
            std::memcpy(out, in, static_cast<std::size_t>(width) * 4);
            if (format == QImage::Format_RGB32)
                for (int x = 0; x < width; ++x)
                    out[x] |= 0xFF000000u;
            continue;
        }
        for (int x = 0; x < width; ++x) {
            int index = bits == 8 ? in[x] : (in[x >> 3] >> (7 - (x & 7))) & 1;
            if (index >= entries) {
                out[x] = bits == 1 && index ? 0xFFFFFFFFu : 0xFF000000u;
                continue;
            }
            const std::uint8_t* entry = palette + static_cast<std::size_t>(index) * 4;
            out[x] = qRgb(entry[2], entry[1], entry[0]);
        }
    }
    return image;
}

void FromQImage(const QImage& image, PicBitmap& target)
{
    if (image.isNull())
        throw PLTextException(PL_ERRNO_MEMORY, "Cannot make a bitmap of an empty image.");
    const int width = image.width();
    const int height = image.height();

    if (image.depth() == 1) {
        const QImage mono = image.convertToFormat(QImage::Format_Mono);
        target.Create(width, height, 1, false);
        const QList<QRgb> colours = mono.colorTable();
        std::uint8_t* palette = target.Palette();
        for (int i = 0; i < 2 && i < colours.size(); ++i) {
            palette[i * 4 + 0] = static_cast<std::uint8_t>(qBlue(colours[i]));
            palette[i * 4 + 1] = static_cast<std::uint8_t>(qGreen(colours[i]));
            palette[i * 4 + 2] = static_cast<std::uint8_t>(qRed(colours[i]));
            palette[i * 4 + 3] = 255;
        }
        const std::size_t rowBytes = static_cast<std::size_t>((width + 7) / 8);
        for (int y = 0; y < height; ++y)
            std::memcpy(target.Row(y), mono.constScanLine(y), rowBytes);
        return;
    }
    if (image.depth() == 8 &&
        (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Grayscale8)) {
        target.Create(width, height, 8, false);
        if (image.format() == QImage::Format_Indexed8) {
            const QList<QRgb> colours = image.colorTable();
            std::uint8_t* palette = target.Palette();
            const int entries = std::min<int>(target.PaletteEntries(), static_cast<int>(colours.size()));
            for (int i = 0; i < entries; ++i) {
                palette[i * 4 + 0] = static_cast<std::uint8_t>(qBlue(colours[i]));
                palette[i * 4 + 1] = static_cast<std::uint8_t>(qGreen(colours[i]));
                palette[i * 4 + 2] = static_cast<std::uint8_t>(qRed(colours[i]));
                palette[i * 4 + 3] = 255;
            }
        }
        for (int y = 0; y < height; ++y)
            std::memcpy(target.Row(y), image.constScanLine(y), static_cast<std::size_t>(width));
        return;
    }

    const bool alpha = image.hasAlphaChannel();
    const QImage::Format wanted = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    const QImage source = image.format() == wanted ? image : image.convertToFormat(wanted);
    if (source.isNull())
        throw PLTextException(PL_ERRNO_MEMORY, "Out of memory.");
    target.Create(width, height, 32, alpha);
    for (int y = 0; y < height; ++y)
        std::memcpy(target.Row(y), source.constScanLine(y), static_cast<std::size_t>(width) * 4);
}

} // namespace lumivox

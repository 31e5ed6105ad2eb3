// SPDX-License-Identifier: GPL-2.0-or-later
// Renders an SVG picture into a square PNG of the given size (the icon theme's sizes are
// made from the program's SVG icon at build time).
//   lumivox-render-icon INPUT.svg SIZE OUTPUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: lumivox-render-icon INPUT.svg SIZE OUTPUT.png\n");
        return 2;
    }
    const int size = QString::fromLocal8Bit(argv[2]).toInt();
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid() || size < 1 || size > 4096) {
        std::fprintf(stderr, "lumivox-render-icon: cannot render %s at %s\n", argv[1], argv[2]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return image.save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}

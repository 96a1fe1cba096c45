// Writes the product icon, from our own drawing code, as the PNG files of the
// freedesktop hicolor theme: <folder>/<N>x<N>/apps/<name>.png.
//   ssr_hicolor_icons <folder> <name>

#include <QDir>
#include <QImage>
#include <cstdio>

#include "application/product_icon.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: ssr_hicolor_icons <folder> <icon name>\n", stderr);
        return 2;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const ssr::IconImage drawn = ssr::DrawProductIconImage(size);
        QImage image(size, size, QImage::Format_ARGB32);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                image.setPixel(x, y, drawn.argb[static_cast<std::size_t>(y * size + x)]);
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) ||
            !image.save(QStringLiteral("%1/%2.png").arg(folder, QString::fromLocal8Bit(argv[2])), "PNG")) {
            std::fprintf(stderr, "ssr_hicolor_icons: cannot write into %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

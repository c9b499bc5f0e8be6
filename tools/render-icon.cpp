// Renders the application icon's SVG into the PNG sizes of an icon theme, at build time:
//   render-icon <icon.svg> <theme folder> <size>...
// writes <theme folder>/<size>x<size>/apps/<icon name>.png for each size. The same renderer as the
// application's, so the installed pictures match what its windows show.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: render-icon <icon.svg> <theme folder> <size>...\n");
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QString theme = QString::fromLocal8Bit(argv[2]);
    QSvgRenderer renderer(source);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render-icon: %s is no SVG drawing\n", argv[1]);
        return 1;
    }
    const QString name = QFileInfo(source).completeBaseName();
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 1 || size > 4096) {
            std::fprintf(stderr, "render-icon: %s is no icon size\n", argv[i]);
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(theme).arg(size);
        const QString target = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !image.save(target, "PNG")) {
            std::fprintf(stderr, "render-icon: cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}

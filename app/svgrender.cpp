// Build-time tool: renders an SVG at the given size, so that the program shows its pictures
// without an SVG renderer at start. OUT ending in ".argb" gets the raw premultiplied ARGB32 rows
// of this machine's byte order (nothing to decode at start); any other name gets a PNG.
//   tova-svgrender IN.svg OUT WIDTH HEIGHT
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: tova-svgrender IN.svg OUT WIDTH HEIGHT\n");
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    if (!renderer.isValid()) return 1;
    QImage image(args[3].toInt(), args[4].toInt(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    if (!args[2].endsWith(QLatin1String(".argb"))) return image.save(args[2], "PNG") ? 0 : 1;
    QFile raw(args[2]);
    const auto bytes = reinterpret_cast<const char*>(image.constBits());
    return raw.open(QIODevice::WriteOnly) && raw.write(bytes, image.sizeInBytes()) ? 0 : 1;
}

// Build-time tool: renders an SVG into a PNG of the given size, so that the program shows its
// pictures without loading an SVG renderer at start.
//   tova-svg2png IN.svg OUT.png WIDTH HEIGHT
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: tova-svg2png IN.svg OUT.png WIDTH HEIGHT\n");
        return 2;
    }
    QSvgRenderer renderer(args[1]);
    if (!renderer.isValid()) return 1;
    QImage image(args[3].toInt(), args[4].toInt(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image.save(args[2], "PNG") ? 0 : 1;
}

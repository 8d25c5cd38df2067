// Renders the application's SVG icon into the PNG sizes of the hicolor theme at build time, so
// the installed tree needs no SVG converter and the PNGs never drift from the SVG.
//
//   render_icon <icon.svg> <hicolor dir> <name> <size>...
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() < 5) {
        err << "usage: render_icon <icon.svg> <hicolor dir> <name> <size>...\n";
        return 2;
    }
    QSvgRenderer svg(args.at(1));
    if (!svg.isValid()) {
        err << "render_icon: cannot read " << args.at(1) << '\n';
        return 1;
    }
    for (const QString& sizeText : args.mid(4)) {
        bool ok = false;
        const int size = sizeText.toInt(&ok);
        if (!ok || size <= 0) {
            err << "render_icon: not a size: " << sizeText << '\n';
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args.at(2)).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        if (!QDir().mkpath(dir) ||
            !image.save(dir + QLatin1Char('/') + args.at(3) + QStringLiteral(".png"))) {
            err << "render_icon: cannot write into " << dir << '\n';
            return 1;
        }
    }
    return 0;
}

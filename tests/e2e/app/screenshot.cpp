// Saves a PNG of the X11 screen, the whole of it or the area around one window:
//   screenshot FILE [--window XID [--below PIXELS]]
// With --window, the picture takes the window with a small margin and PIXELS more below it, where
// a popover under the caret shows.
#include "tests/e2e/support/desktop.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: screenshot FILE [--window XID [--below PIXELS]]\n", stderr);
        return 2;
    }
    xcb_window_t window = 0;
    int below = 240;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--window") == 0)
            window = xcb_window_t(std::strtoul(argv[i + 1], nullptr, 0));
        else if (std::strcmp(argv[i], "--below") == 0)
            below = std::atoi(argv[i + 1]);
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fputs("screenshot: no screen\n", stderr);
        return 1;
    }
    QRect area = screen->geometry();
    if (window != 0) {
        // Room above for the title bar.
        if (const std::optional<QRect> rect = pimsel::e2e::XView().rootGeometry(window))
            area = rect->adjusted(-24, -48, 24, 24 + below).intersected(screen->geometry());
    }
    const QImage image = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screenshot: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

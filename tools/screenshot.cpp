// Saves a PNG of the X11 screen, the whole of it or the area around one window:
//   screenshot FILE [--window XID [--below PIXELS]]
// With --window, the picture takes the window with a small margin and PIXELS more below it, where
// a popover under the caret shows.
//   screenshot --find TITLE
// prints the id of the managed window titled TITLE, or fails when there is none.
#include "platform/xcb_handles.h"
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

namespace {

// The managed window whose _NET_WM_NAME is `title`.
std::optional<xcb_window_t> findWindow(const QByteArray& title) {
    const pimsel::xcb::Connection c(nullptr);
    if (!c)
        return std::nullopt;
    const auto atom = [&](const char* name) {
        const auto reply = pimsel::xcb::reply<xcb_intern_atom_reply_t>(
            c.get(), xcb_intern_atom_reply, xcb_intern_atom(c.get(), 0, uint16_t(std::strlen(name)), name));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    };
    const xcb_atom_t clients = atom("_NET_CLIENT_LIST"), name = atom("_NET_WM_NAME"),
                     utf8 = atom("UTF8_STRING");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
    const auto list = pimsel::xcb::reply<xcb_get_property_reply_t>(
        c.get(), xcb_get_property_reply,
        xcb_get_property(c.get(), 0, root, clients, XCB_ATOM_WINDOW, 0, 1024));
    if (!list)
        return std::nullopt;
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    for (int i = 0; i < xcb_get_property_value_length(list.get()) / 4; ++i) {
        const auto text = pimsel::xcb::reply<xcb_get_property_reply_t>(
            c.get(), xcb_get_property_reply, xcb_get_property(c.get(), 0, windows[i], name, utf8, 0, 256));
        if (text && QByteArray(static_cast<const char*>(xcb_get_property_value(text.get())),
                               xcb_get_property_value_length(text.get())) == title)
            return windows[i];
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--find") == 0) {
        const std::optional<xcb_window_t> window = findWindow(argv[2]);
        if (window)
            std::printf("%u\n", *window);
        return window ? 0 : 1;
    }
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

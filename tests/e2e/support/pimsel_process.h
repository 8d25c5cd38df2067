#pragma once

// The built application as a process of the test desktop, on a profile (XDG_CONFIG_HOME) of its
// own, and what the X server shows of its top-level windows.

#include "platform/xcb_handles.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <xcb/xcb.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

namespace pimsel::e2e {

// Pimsel on a fresh profile, without network: started at construction, stopped at destruction.
class PimselProcess {
public:
    explicit PimselProcess(const QString& binary) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), profile_.path());
        env.insert(QStringLiteral("PIMSEL_UPDATE_FEED_URL"), QString());
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(binary, {});
    }
    ~PimselProcess() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    PimselProcess(const PimselProcess&) = delete;
    PimselProcess& operator=(const PimselProcess&) = delete;

    qint64 pid() const { return process_.processId(); }
    bool isRunning() const { return process_.state() == QProcess::Running; }
    // Everything the process printed so far.
    QString output() {
        output_ += QString::fromUtf8(process_.readAll());
        return output_;
    }
    // Waits, serving the caller's event loop, until the output holds `fragment`.
    bool waitForOutput(const QString& fragment, std::chrono::milliseconds patience) {
        return pumpWhile([&] { return !output().contains(fragment) && isRunning(); }, patience) ||
               output().contains(fragment);
    }
    // The input hook is running: from now on Pimsel sees the keys.
    bool waitForHook() { return waitForOutput(QStringLiteral("tapStarted=true"), std::chrono::seconds(10)); }

    // Keeps the event loop going while `busy` holds, at most `patience`; false when it timed out.
    static bool pumpWhile(const std::function<bool()>& busy, std::chrono::milliseconds patience) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (busy()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        return true;
    }

private:
    QTemporaryDir profile_;
    QProcess process_;
    QString output_;
};

// The managed top-level windows of a process, where they are, and the screen's pixels.
class DesktopWindows {
public:
    DesktopWindows()
        : connection_(nullptr) {
        if (!connection_)
            return;
        xcb_connection_t* c = connection_.get();
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        netWmPid_ = atom("_NET_WM_PID");
        clientList_ = atom("_NET_CLIENT_LIST");
    }
    bool isOpen() const { return static_cast<bool>(connection_); }

    // The mapped windows of `pid` that the window manager manages.
    std::vector<xcb_window_t> managedWindows(qint64 pid) {
        std::vector<xcb_window_t> result;
        xcb_connection_t* c = connection_.get();
        const xcb::Reply<xcb_get_property_reply_t> list(xcb_get_property_reply(
            c, xcb_get_property(c, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 1024), nullptr));
        if (!list)
            return result;
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
        const int count = xcb_get_property_value_length(list.get()) / 4;
        for (int i = 0; i < count; ++i) {
            const xcb::Reply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, windows[i]), nullptr));
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && windowPid(windows[i]) == pid)
                result.push_back(windows[i]);
        }
        return result;
    }

    // The window's area in root coordinates.
    std::optional<QRect> rootGeometry(xcb_window_t window) {
        xcb_connection_t* c = connection_.get();
        const xcb::Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        const xcb::Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root_, 0, 0), nullptr));
        if (!geometry || !origin)
            return std::nullopt;
        return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    }

    // The screen's pixels in `area` (root coordinates).
    static QImage grab(const QRect& area) {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

private:
    xcb_atom_t atom(const char* name) {
        xcb_connection_t* c = connection_.get();
        const xcb::Reply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    qint64 windowPid(xcb_window_t window) {
        xcb_connection_t* c = connection_.get();
        const xcb::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, netWmPid_, XCB_ATOM_CARDINAL, 0, 1), nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) != 4)
            return -1;
        return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    }

    xcb::Connection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t netWmPid_ = XCB_ATOM_NONE;
    xcb_atom_t clientList_ = XCB_ATOM_NONE;
};

} // namespace pimsel::e2e

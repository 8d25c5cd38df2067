#pragma once

// The desktop every end-to-end test works in: an event loop kept going while it waits, the built
// application running on a profile of its own, and what the X server shows of windows, popover,
// keys and pixels. The typist (typist.h) is the user and TargetApp (target_app.h) the application
// being typed into.

#include "platform/xcb_handles.h"

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <ostream>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString().toStdString();
}
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace pimsel::e2e {

inline constexpr std::uint32_t keyTab = 0xff09;
inline constexpr std::uint32_t keyReturn = 0xff0d;
inline constexpr std::uint32_t keyEscape = 0xff1b;
inline constexpr std::uint32_t keyColon = 0x3a;
inline constexpr std::uint32_t keySemicolon = 0x3b;
// AT-SPI's role of an ordinary single-line text field.
inline constexpr unsigned roleEntry = 79;

// Keeps the event loop going for `duration`.
void pump(std::chrono::milliseconds duration);
// Keeps the event loop going until `condition` holds or `patience` ran out; returns the condition.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds patience = std::chrono::seconds(10));
// Runs `user` on a thread of its own and keeps this thread's event loop going until it is done:
// the application under test may be this process, and it must go on reading the keys.
void whileUserTypes(const std::function<void()>& user);

// Sum of the channel differences.
int colourDistance(QRgb a, QColor b);
// The screen's pixels in `area` (root coordinates).
QImage grabScreen(const QRect& area);

// A profile (XDG_CONFIG_HOME) of its own, with settings written before Pimsel starts.
class Profile {
public:
    QString settingsPath() const;
    void set(const QString& key, const QVariant& value);
    QVariant read(const QString& key) const;
    // The environment Pimsel runs in on this profile, without network.
    QProcessEnvironment environment() const;
    // The command line on this profile: one line per result.
    QStringList cli(const QStringList& arguments) const;
    QString topResult(const QString& query) const;

private:
    QTemporaryDir dir_;
};

// The built application on `profile`: started at construction, stopped at destruction.
class PimselProcess {
public:
    explicit PimselProcess(const Profile& profile, const QProcessEnvironment& extra = {});
    ~PimselProcess() { stop(); }
    PimselProcess(const PimselProcess&) = delete;
    PimselProcess& operator=(const PimselProcess&) = delete;

    // The input hook is running: from now on Pimsel sees the keys. The time it took from the
    // process start is kept.
    bool waitForHook();
    double startupMs() const { return startupMs_; }
    // Waits until what the process printed holds `fragment`.
    bool waitForOutput(const QString& fragment, std::chrono::milliseconds patience);
    // Everything the process printed so far.
    QString output();

    qint64 pid() const { return process_.processId(); }
    bool isRunning() const { return process_.state() == QProcess::Running; }
    long rssKiB() const;
    // SIGTERM; the milliseconds until the process was gone, or -1.
    double terminate();
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    void stop();

private:
    QProcess process_;
    QElapsedTimer clock_;
    QString output_;
    double startupMs_ = -1;
};

// What the X server knows about windows, and about the keys a target window receives.
class XView {
public:
    XView();
    bool isOpen() const { return static_cast<bool>(connection_); }
    xcb_connection_t* connection() const { return connection_.get(); }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(const char* name) const;

    // The mapped override-redirect window of `pid`: the popover.
    std::optional<QRect> popover(qint64 pid);
    // Managed (ordinary) windows of `pid` that are on screen.
    std::vector<xcb_window_t> managedWindows(qint64 pid);
    // The window's area in root coordinates.
    std::optional<QRect> rootGeometry(xcb_window_t window);
    // The window is on screen; `overrideRedirect` says whether the window manager leaves it be.
    bool isViewable(xcb_window_t window, bool* overrideRedirect = nullptr);
    // The core keyboard focus is on a window of the client that made `window`. GTK gives the focus
    // to a window of its own next to the toplevel; window ids carry their client's resource base.
    bool focusIsWithClientOf(xcb_window_t window);
    // Asks the window manager to close `window`, as its close button does.
    void close(xcb_window_t window) { askWindowManager(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2}); }
    // Sends the window manager the client message `type` about `window`.
    void askWindowManager(xcb_window_t window, const char* type, std::initializer_list<std::uint32_t> data);
    // The session's active window (_NET_ACTIVE_WINDOW), or none.
    xcb_window_t activeWindow();

    // From now on, counts the key presses `window` receives from any master keyboard. The server
    // hands a key to XInput 2 listeners of a window and, only when there are none, to core ones: so a
    // toolkit that reads XInput 2 keys (GTK, Chromium) is watched that way, one that reads core keys
    // (Qt, Firefox) the core way, or the watcher would take the keys away from the application.
    void watchKeys(xcb_window_t window, bool xinput2);
    int presses(std::uint32_t keysym);

private:
    qint64 windowPid(xcb_window_t window);
    void drain();

    xcb::Connection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t netWmPid_ = XCB_ATOM_NONE;
    xcb_atom_t clientList_ = XCB_ATOM_NONE;
    std::map<std::uint8_t, std::uint32_t> keysymOf_;
    std::map<std::uint32_t, int> pressed_;
};

} // namespace pimsel::e2e

#pragma once

// The desktop every end-to-end test works in: an event loop kept going while it waits, the programs
// it starts (the built application on a profile of its own, the target applications typed into),
// and what the X server shows of windows, popover, keys and pixels. The typist (typist.h) is the user.

#include "platform/xcb_handles.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable failure messages.
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

// The server's core keyboard mapping: `perKeycode` keysyms for each keycode from `minKeycode` on.
struct KeyboardMapping {
    std::uint8_t minKeycode = 8;
    int perKeycode = 0;
    std::vector<std::uint32_t> keysyms;
    std::uint32_t keysym(std::uint8_t keycode, int level = 0) const {
        const std::size_t at = std::size_t((keycode - minKeycode) * perKeycode + level);
        return keycode >= minKeycode && at < keysyms.size() ? keysyms[at] : 0;
    }
};
KeyboardMapping keyboardMapping(xcb_connection_t* c);

// Keeps the event loop going for `duration`.
void pump(std::chrono::milliseconds duration);
// Keeps the event loop going until `condition` holds or `patience` ran out; returns the condition.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds patience = std::chrono::seconds(10));
// Runs `user` on a thread of its own while this event loop goes on: the application under test may
// be this process.
void whileUserTypes(const std::function<void()>& user);

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

// A program of the test, started at construction and ended at destruction (SIGTERM, then SIGKILL).
// It is `ready` once it printed `readyFragment` (at once without one); SIGSTOP makes it a hung
// application until resume().
class Process {
public:
    Process(const QString& program, const QStringList& arguments, const QString& readyFragment = {},
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        start(program, arguments, readyFragment, environment);
    }
    virtual ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Waits until what the process printed (stdout and stderr) holds `fragment`.
    bool waitForOutput(const QString& fragment,
                       std::chrono::milliseconds patience = std::chrono::seconds(10));
    QString output() const;
    // Keeps this event loop going (it may own the selection the process asks for) until the process ended.
    bool waitForExit(std::chrono::milliseconds patience = std::chrono::seconds(10));

    qint64 pid() const { return process_.processId(); }
    bool isRunning() const { return process_.state() == QProcess::Running; }
    void stop() { signal(SIGSTOP); }
    void resume() { signal(SIGCONT); }
    void signal(int number);
    // SIGTERM; the milliseconds until the process was gone, or -1.
    double terminate();
    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    bool ready = false;

protected:
    Process() = default;
    void start(const QString& program, const QStringList& arguments, const QString& readyFragment,
               const QProcessEnvironment& environment,
               std::chrono::milliseconds patience = std::chrono::seconds(10));
    QElapsedTimer clock_; // since the start

private:
    mutable QProcess process_;
    bool stopped_ = false;
    mutable QString output_;
};

// The built application on `profile`, with `extra` added to its environment.
class PimselProcess : public Process {
public:
    explicit PimselProcess(const Profile& profile, const QProcessEnvironment& extra = {});
    // The input hook is running: from now on Pimsel sees the keys. The time it took is kept.
    bool waitForHook();
    double startupMs() const { return startupMs_; }
    long rssKiB() const;

private:
    double startupMs_ = -1;
};

// One of the target applications (a GTK entry, a Qt line edit or a page's input in Chromium or
// Firefox), its field read back from the file the application mirrors its text into, independently
// of anything under test. With "--login" (GTK and the browsers) a password field comes first and has
// the focus; the ordinary field follows it. `script` runs a copy of the GTK target under a program
// name of its own.
class TargetApp : public Process {
public:
    enum class Kind { gtk, qt, chromium, firefox };

    explicit TargetApp(Kind kind, const QStringList& extraArgs = {}, const QString& script = {});

    bool isReady() const { return window_ != 0; }
    std::uint32_t window() const { return window_; }
    bool isBrowser() const { return kind_ == Kind::chromium || kind_ == Kind::firefox; }

    // The field's text as last written by the application.
    QString text() const;
    // The password field's text, with "--login".
    QString passwordText() const;
    // Polls the field until it reads `expected` or `patience` ran out; returns what it read last.
    QString waitForText(const QString& expected,
                        std::chrono::milliseconds patience = std::chrono::seconds(4)) const;
    // Lets the field settle: returns once its text has not changed for `quiet`.
    QString settledText(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) const;

    static QString gtkScript() { return QStringLiteral(PIMSEL_E2E_SOURCE_DIR "/targets/gtk_entry.py"); }
    static QString kindName(Kind kind) {
        static const char* const names[] = {"gtk", "qt", "chromium", "firefox"};
        return QString::fromLatin1(names[static_cast<int>(kind)]);
    }

private:
    QTemporaryDir dir_;
    Kind kind_;
    QString outPath_;
    std::uint32_t window_ = 0;
};

// The clipboard as another application sees it: "FORMAT SIZE MD5" for every format, a line each.
QString dumpClipboard();
// The line of `format` holding `bytes` in dumpClipboard().
QString dumpLine(const QString& format, const QByteArray& bytes);
// The session's clipboard manager: the GTK target's clipboard manager mode.
std::unique_ptr<Process> clipboardManager();
// Another application holding data on the clipboard: a Qt one with rich text and an image, or a
// GTK one with a formatted text buffer copy or a picture.
enum class OwnerKind { qtRichTextAndImage, gtkRichText, gtkImage };
std::unique_ptr<Process> clipboardOwner(OwnerKind kind = OwnerKind::qtRichTextAndImage);
// The Qt target's clipboard tool (`arguments`: "dump", or "own FORMAT=FILE...") started ahead and
// told to act with SIGUSR1, for a step that has to land inside a window shorter than a start.
std::unique_ptr<Process> clipToolOnSignal(const QStringList& arguments);

// Names the cases of a test over target kinds.
inline constexpr auto targetName = [](const auto& info) {
    return TargetApp::kindName(info.param).toStdString();
};

// What the X server knows about windows, and about the keys a target window receives.
class XView {
public:
    XView();
    bool isOpen() const { return static_cast<bool>(connection_); }
    xcb_connection_t* connection() const { return connection_.get(); }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(const char* name) const;

    // The mapped override-redirect window of `pid` on the screen: the popover.
    std::optional<QRect> popover(qint64 pid);
    // Managed (ordinary) windows of `pid` that are on screen.
    std::vector<xcb_window_t> managedWindows(qint64 pid);
    // The window's area in root coordinates.
    std::optional<QRect> rootGeometry(xcb_window_t window);
    // The window is on screen; `overrideRedirect` says whether the window manager leaves it be.
    bool isViewable(xcb_window_t window, bool* overrideRedirect = nullptr);
    // Asks the window manager to close `window`, as its close button does.
    void close(xcb_window_t window) { askWindowManager(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2}); }
    // Sends the window manager the client message `type` about `window`.
    void askWindowManager(xcb_window_t window, const char* type, std::initializer_list<std::uint32_t> data);
    // The session's active window (_NET_ACTIVE_WINDOW), or none.
    xcb_window_t activeWindow();

    // From now on, counts the key presses `window` receives. The server hands a key to core
    // listeners only without XInput 2 ones: watch the way the toolkit reads (`xinput2`: GTK,
    // Chromium), or the watcher takes its keys.
    void watchKeys(xcb_window_t window, bool xinput2);
    int presses(std::uint32_t keysym);

private:
    qint64 windowPid(xcb_window_t window);
    // The 32-bit values of `window`'s property `name`, at most `length` of them.
    std::vector<std::uint32_t> property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                                        std::uint32_t length = 1);
    void drain();

    xcb::Connection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_atom_t netWmPid_ = XCB_ATOM_NONE;
    xcb_atom_t clientList_ = XCB_ATOM_NONE;
    KeyboardMapping keymap_;
    std::map<std::uint32_t, int> pressed_;
};

// Web pages for the browser cases: a static server on 127.0.0.1 over pages written for the test,
// and Chromium started as a user starts it, without accessibility flags.
class PageServer {
public:
    // `pages`: file name and HTML of each page.
    explicit PageServer(const QList<std::pair<QString, QByteArray>>& pages);
    bool isReady() const { return port_ > 0; }
    QUrl url(const QString& page, const QString& host = QStringLiteral("127.0.0.1")) const;
    // The page has been asked for since the last forget().
    bool wasRequested(const QString& page) {
        return server_->output().mid(forgotten_).contains("GET /" + page);
    }
    void forget() { forgotten_ = server_->output().size(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<Process> server_;
    qsizetype forgotten_ = 0;
    int port_ = 0;
};

class ChromiumBrowser {
public:
    // `wrapper` runs the browser inside another program, in `environment`.
    explicit ChromiumBrowser(
        const QUrl& page, QStringList wrapper = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~ChromiumBrowser();
    ChromiumBrowser(const ChromiumBrowser&) = delete;
    ChromiumBrowser& operator=(const ChromiumBrowser&) = delete;
    qint64 pid() const { return process_.processId(); }

private:
    QTemporaryDir profile_;
    QProcess process_;
    bool wrapped_ = false;
};

} // namespace pimsel::e2e

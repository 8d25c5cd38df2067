#include "tests/e2e/support/desktop.h"

#include <QBuffer>
#include <QColor>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QThread>

#include <xcb/xinput.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace pimsel::e2e {

using namespace std::chrono_literals;

KeyboardMapping keyboardMapping(xcb_connection_t* c) {
    KeyboardMapping mapping;
    const xcb_setup_t* setup = xcb_get_setup(c);
    mapping.minKeycode = setup->min_keycode;
    const auto reply = xcb::reply<xcb_get_keyboard_mapping_reply_t>(
        c, xcb_get_keyboard_mapping_reply,
        xcb_get_keyboard_mapping(c, setup->min_keycode,
                                 std::uint8_t(setup->max_keycode - setup->min_keycode + 1)));
    if (!reply)
        return mapping;
    mapping.perKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    mapping.keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply.get()));
    return mapping;
}

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!condition() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return condition();
}

void pump(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

void whileUserTypes(const std::function<void()>& user) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        user();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    thread.join();
}

QImage grabScreen(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QString Profile::settingsPath() const {
    return dir_.filePath(QStringLiteral("pimsel/pimsel.conf"));
}

void Profile::set(const QString& key, const QVariant& value) {
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(key, value);
}

QVariant Profile::read(const QString& key) const {
    QSettings settings(settingsPath(), QSettings::IniFormat);
    return settings.value(key);
}

QProcessEnvironment Profile::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    env.insert(QStringLiteral("PIMSEL_UPDATE_FEED_URL"), QString());
    return env;
}

QStringList Profile::cli(const QStringList& arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral(PIMSEL_BINARY), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString Profile::topResult(const QString& query) const {
    const QStringList lines = cli({QStringLiteral("search"), query});
    return lines.isEmpty() ? QString() : lines.first().section(QLatin1Char('\t'), 0, 0);
}

Process::~Process() {
    if (stopped_)
        resume();
    terminate();
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

void Process::start(const QString& program, const QStringList& arguments, const QString& readyFragment,
                    const QProcessEnvironment& environment, std::chrono::milliseconds patience) {
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    clock_.start();
    process_.start(program, arguments);
    ready = readyFragment.isEmpty() || waitForOutput(readyFragment, patience);
}

bool Process::waitForOutput(const QString& fragment, std::chrono::milliseconds patience) {
    // A process that is still starting is not running yet, and has not ended either.
    pumpUntil([&] { return output().contains(fragment) || process_.state() == QProcess::NotRunning; },
              patience);
    return output().contains(fragment);
}

QString Process::output() const {
    output_ += QString::fromUtf8(process_.readAll());
    return output_;
}

bool Process::waitForExit(std::chrono::milliseconds patience) {
    pumpUntil([&] { return process_.state() == QProcess::NotRunning; }, patience);
    output();
    return process_.state() == QProcess::NotRunning;
}

void Process::signal(int number) {
    if (process_.state() != QProcess::NotRunning)
        ::kill(pid_t(pid()), number);
    if (number == SIGSTOP || number == SIGCONT)
        stopped_ = number == SIGSTOP;
}

double Process::terminate() {
    if (process_.state() == QProcess::NotRunning)
        return -1;
    QElapsedTimer clock;
    clock.start();
    process_.terminate();
    if (!process_.waitForFinished(10000))
        return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

PimselProcess::PimselProcess(const Profile& profile, const QProcessEnvironment& extra) {
    QProcessEnvironment env = profile.environment();
    for (const QString& key : extra.keys())
        env.insert(key, extra.value(key));
    start(QStringLiteral(PIMSEL_BINARY), {}, {}, env);
}

bool PimselProcess::waitForHook() {
    const bool running = waitForOutput(QStringLiteral("tapStarted=true"), 10s);
    if (running && startupMs_ < 0)
        startupMs_ = double(clock_.nsecsElapsed()) / 1e6;
    return running;
}

long PimselProcess::rssKiB() const {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const auto match =
        QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

TargetApp::TargetApp(Kind kind, const QStringList& extraArgs, const QString& script)
    : kind_(kind)
    , outPath_(dir_.filePath(QStringLiteral("field.txt"))) {
    // The system interpreter: the GTK bindings are a Debian package.
    QString program = QStringLiteral("/usr/bin/python3");
    QStringList args;
    if (kind == Kind::qt)
        program = QStringLiteral(PIMSEL_E2E_QT_FIELD);
    else if (kind == Kind::gtk)
        args << (script.isEmpty() ? gtkScript() : script);
    else
        args << QStringLiteral(PIMSEL_E2E_SOURCE_DIR "/targets/browser_page.py")
             << QStringLiteral("--browser") << kindName(kind);
    start(program, args << QStringLiteral("--out") << outPath_ << extraArgs, QStringLiteral("READY "),
          QProcessEnvironment::systemEnvironment(), isBrowser() ? 60s : 20s);
    const auto line = QRegularExpression(QStringLiteral("READY (\\d+)")).match(output());
    window_ = line.hasMatch() ? line.captured(1).toUInt() : 0;
}

namespace {
QString contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
} // namespace

QString TargetApp::text() const {
    return contents(outPath_);
}

QString TargetApp::passwordText() const {
    return contents(outPath_ + QStringLiteral(".password"));
}

QString TargetApp::waitForText(const QString& expected, std::chrono::milliseconds patience) const {
    QString current;
    pumpUntil([&] { return (current = text()) == expected; }, patience);
    return current;
}

QString TargetApp::settledText(std::chrono::milliseconds quiet) const {
    QString last = text();
    QElapsedTimer stable;
    stable.start();
    pumpUntil(
        [&] {
            if (const QString now = text(); now != last) {
                last = now;
                stable.restart();
            }
            return stable.elapsed() >= quiet.count();
        },
        5s);
    return last;
}

QString dumpClipboard() {
    QProcess dump;
    dump.start(QStringLiteral(PIMSEL_E2E_QT_FIELD), {QStringLiteral("dump")});
    // This process may own the selection: keep serving it while the reader asks.
    pumpUntil([&] { return dump.state() == QProcess::NotRunning; }, 10s);
    return QString::fromUtf8(dump.readAllStandardOutput());
}

QString dumpLine(const QString& format, const QByteArray& bytes) {
    return QStringLiteral("%1 %2 %3\n")
        .arg(format)
        .arg(bytes.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()));
}

std::unique_ptr<Process> clipboardManager() {
    return std::make_unique<Process>(
        QStringLiteral("/usr/bin/python3"),
        QStringList{TargetApp::gtkScript(), QStringLiteral("--clipboard-manager")}, QStringLiteral("READY"));
}

std::unique_ptr<Process> clipToolOnSignal(const QStringList& arguments) {
    return std::make_unique<Process>(QStringLiteral(PIMSEL_E2E_QT_FIELD),
                                     QStringList{QStringLiteral("--on-signal")} + arguments,
                                     QStringLiteral("WAITING"));
}

std::unique_ptr<Process> clipboardOwner(OwnerKind kind) {
    if (kind != OwnerKind::qtRichTextAndImage)
        return std::make_unique<Process>(
            QStringLiteral("/usr/bin/python3"),
            QStringList{TargetApp::gtkScript(), QStringLiteral("--own-clipboard"),
                        kind == OwnerKind::gtkImage ? QStringLiteral("image") : QStringLiteral("rich")},
            QStringLiteral("READY"));
    QImage image(24, 16, QImage::Format_ARGB32);
    image.fill(QColor(204, 247, 67));
    QPainter(&image).fillRect(4, 4, 8, 8, QColor(11, 11, 11, 128));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    // qt_field has read its files once it says it owns the clipboard.
    QTemporaryDir dir;
    QStringList arguments{QStringLiteral("own")};
    for (const auto& [format, bytes] :
         {std::pair{"text/html", QByteArray("<meta charset=\"utf-8\"><b>bold</b> and <i>ünïcode</i>")},
          std::pair{"text/plain", QByteArray("bold and ünïcode")}, std::pair{"image/png", png}}) {
        QFile file(dir.filePath(QString::number(arguments.size())));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        arguments << QLatin1String(format) + QLatin1Char('=') + file.fileName();
    }
    return std::make_unique<Process>(QStringLiteral(PIMSEL_E2E_QT_FIELD), arguments, QStringLiteral("READY"));
}

XView::XView()
    : connection_(nullptr) {
    if (!connection_)
        return;
    xcb_connection_t* c = connection_.get();
    root_ = connection_.root();
    netWmPid_ = atom("_NET_WM_PID");
    clientList_ = atom("_NET_CLIENT_LIST");
    xcb::reply<xcb_input_xi_query_version_reply_t>(c, xcb_input_xi_query_version_reply,
                                                   xcb_input_xi_query_version(c, 2, 2));
    keymap_ = keyboardMapping(c);
}

xcb_atom_t XView::atom(const char* name) const {
    xcb_connection_t* c = connection_.get();
    const auto reply = xcb::reply<xcb_intern_atom_reply_t>(
        c, xcb_intern_atom_reply, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<QRect> XView::popover(qint64 pid) {
    xcb_connection_t* c = connection_.get();
    const auto tree = xcb::reply<xcb_query_tree_reply_t>(c, xcb_query_tree_reply, xcb_query_tree(c, root_));
    if (!tree)
        return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        bool overrideRedirect = false;
        if (!isViewable(children[i], &overrideRedirect) || !overrideRedirect || windowPid(children[i]) != pid)
            continue;
        const auto geometry =
            xcb::reply<xcb_get_geometry_reply_t>(c, xcb_get_geometry_reply, xcb_get_geometry(c, children[i]));
        // A hidden popover waits mapped off every screen.
        const QRect shown(geometry ? QRect(geometry->x, geometry->y, geometry->width, geometry->height)
                                   : QRect());
        if (shown.right() >= 0 && shown.bottom() >= 0)
            return shown;
    }
    return std::nullopt;
}

std::vector<xcb_window_t> XView::managedWindows(qint64 pid) {
    std::vector<xcb_window_t> result;
    for (const xcb_window_t window : property(root_, clientList_, XCB_ATOM_WINDOW, 1024))
        if (isViewable(window) && windowPid(window) == pid)
            result.push_back(window);
    return result;
}

std::vector<std::uint32_t> XView::property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                                           std::uint32_t length) {
    xcb_connection_t* c = connection_.get();
    const auto reply = xcb::reply<xcb_get_property_reply_t>(
        c, xcb_get_property_reply, xcb_get_property(c, 0, window, name, type, 0, length));
    if (!reply || reply->format != 32)
        return {};
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

std::optional<QRect> XView::rootGeometry(xcb_window_t window) {
    xcb_connection_t* c = connection_.get();
    const auto geometry =
        xcb::reply<xcb_get_geometry_reply_t>(c, xcb_get_geometry_reply, xcb_get_geometry(c, window));
    const auto origin = xcb::reply<xcb_translate_coordinates_reply_t>(
        c, xcb_translate_coordinates_reply, xcb_translate_coordinates(c, window, root_, 0, 0));
    if (!geometry || !origin)
        return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

bool XView::isViewable(xcb_window_t window, bool* overrideRedirect) {
    xcb_connection_t* c = connection_.get();
    const auto attributes = xcb::reply<xcb_get_window_attributes_reply_t>(
        c, xcb_get_window_attributes_reply, xcb_get_window_attributes(c, window));
    if (!attributes)
        return false;
    if (overrideRedirect)
        *overrideRedirect = attributes->override_redirect != 0;
    return attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

void XView::askWindowManager(xcb_window_t window, const char* type,
                             std::initializer_list<std::uint32_t> data) {
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(type);
    std::copy(data.begin(), data.end(), message.data.data32);
    xcb_send_event(connection_.get(), 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection_.get());
}

xcb_window_t XView::activeWindow() {
    const std::vector<std::uint32_t> active = property(root_, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    return active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active.front();
}

void XView::watchKeys(xcb_window_t window, bool xinput2) {
    if (xinput2) {
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t mask;
        } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_KEY_PRESS};
        xcb_input_xi_select_events(connection_.get(), window, 1, &selection.head);
    } else {
        const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
        xcb_change_window_attributes(connection_.get(), window, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(connection_.get());
    drain();
    pressed_.clear();
}

int XView::presses(std::uint32_t keysym) {
    drain();
    return pressed_[keysym];
}

qint64 XView::windowPid(xcb_window_t window) {
    const std::vector<std::uint32_t> pid = property(window, netWmPid_, XCB_ATOM_CARDINAL);
    return pid.empty() ? -1 : qint64(pid.front());
}

void XView::drain() {
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_.get())) {
        const xcb::Event event(raw);
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
            ++pressed_[keymap_.keysym(key->detail)];
            continue;
        }
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
            continue;
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
        if (generic->event_type != XCB_INPUT_KEY_PRESS)
            continue;
        const auto* key = reinterpret_cast<const xcb_input_key_press_event_t*>(event.get());
        ++pressed_[keymap_.keysym(std::uint8_t(key->detail))];
    }
}

PageServer::PageServer(const QList<std::pair<QString, QByteArray>>& pages) {
    for (const auto& [name, html] : pages) {
        QFile page(dir_.filePath(name));
        if (page.open(QIODevice::WriteOnly))
            page.write(html);
    }
    server_ = std::make_unique<Process>(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                    QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
                    dir_.path(), QStringLiteral("0")},
        QStringLiteral("(http"));
    const auto match = QRegularExpression(QStringLiteral("port (\\d+)")).match(server_->output());
    port_ = match.hasMatch() ? match.captured(1).toInt() : 0;
}

QUrl PageServer::url(const QString& page, const QString& host) const {
    return QUrl(QStringLiteral("http://%1:%2/%3").arg(host).arg(port_).arg(page));
}

ChromiumBrowser::ChromiumBrowser(const QUrl& page, QStringList wrapper,
                                 const QProcessEnvironment& environment) {
    wrapped_ = !wrapper.isEmpty();
    wrapper << QStringLiteral("chromium") << QStringLiteral("--no-sandbox")
            << QStringLiteral("--user-data-dir=") + profile_.path() << QStringLiteral("--no-first-run")
            << QStringLiteral("--disable-background-networking")
            << QStringLiteral("--disable-component-update") << QStringLiteral("--disable-sync")
            << QStringLiteral("--disable-gpu") << QStringLiteral("--no-default-browser-check")
            << QStringLiteral("--password-store=basic") << page.toString();
    process_.setProcessEnvironment(environment);
    // A wrapped browser gets a group of its own, so that it goes with its wrapper. A browser of its
    // own is asked to quit and shuts its helpers down itself: with the whole group killed at once,
    // the next browser's input inside a frame was never seen focused.
    if (wrapped_)
        process_.setChildProcessModifier([] { ::setsid(); });
    process_.start(wrapper.takeFirst(), wrapper);
    process_.waitForStarted(10000);
}

ChromiumBrowser::~ChromiumBrowser() {
    const auto pid = static_cast<pid_t>(process_.processId());
    if (pid <= 0)
        return;
    ::kill(wrapped_ ? -pid : pid, SIGTERM);
    if (!process_.waitForFinished(10000))
        ::kill(wrapped_ ? -pid : pid, SIGKILL);
    process_.waitForFinished(2000);
}

} // namespace pimsel::e2e

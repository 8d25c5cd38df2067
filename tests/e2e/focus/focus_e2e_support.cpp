#include "focus_e2e_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <csignal>
#include <cstdlib>

namespace pimsel::e2e {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;
struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

Connection connectToDisplay() {
    Connection c(xcb_connect(nullptr, nullptr));
    if (c && xcb_connection_has_error(c.get()))
        c.reset();
    return c;
}

} // namespace

std::unique_ptr<Target> Target::start(const QString& program, const QStringList& arguments, int timeoutMs) {
    auto target = std::unique_ptr<Target>(new Target);
    target->m_process.setProcessChannelMode(QProcess::SeparateChannels);
    target->m_process.start(program, arguments);
    if (!target->m_process.waitForStarted(timeoutMs))
        return nullptr;
    QElapsedTimer clock;
    clock.start();
    QByteArray buffer;
    while (clock.elapsed() < timeoutMs) {
        target->m_process.waitForReadyRead(100);
        buffer += target->m_process.readAllStandardOutput();
        const qsizetype at = buffer.indexOf("READY ");
        if (at >= 0 && buffer.indexOf('\n', at) > at) {
            const QByteArray line = buffer.mid(at + 6, buffer.indexOf('\n', at) - at - 6).trimmed();
            target->m_window = std::uint32_t(line.toULongLong());
            target->m_output = QString::fromUtf8(buffer);
            return target;
        }
        if (target->m_process.state() == QProcess::NotRunning)
            break;
    }
    return nullptr;
}

Target::~Target() {
    if (m_stopped)
        resume();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

void Target::stop() {
    ::kill(pid_t(pid()), SIGSTOP);
    m_stopped = true;
}

void Target::resume() {
    ::kill(pid_t(pid()), SIGCONT);
    m_stopped = false;
}

QString gtkTargetScript() {
    return QStringLiteral(PIMSEL_GTK_TARGET);
}
QString qtTargetBinary() {
    return QStringLiteral(PIMSEL_QT_TARGET);
}

std::unique_ptr<Target> startGtkTarget(const QStringList& arguments) {
    // The system interpreter: the GTK bindings are a Debian package.
    return Target::start(QStringLiteral("/usr/bin/python3"), QStringList{gtkTargetScript()} + arguments);
}

std::unique_ptr<Target> startQtTarget(const QStringList& arguments) {
    return Target::start(qtTargetBinary(), arguments);
}

std::optional<QRect> windowGeometry(std::uint32_t window) {
    const Connection c = connectToDisplay();
    if (!c)
        return std::nullopt;
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c.get(), xcb_get_geometry(c.get(), window), nullptr));
    if (!geometry)
        return std::nullopt;
    const Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        c.get(), xcb_translate_coordinates(c.get(), window, geometry->root, 0, 0), nullptr));
    if (!origin)
        return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

void pressKey(std::uint32_t keysym, int count) {
    const Connection c = connectToDisplay();
    if (!c)
        return;
    const xcb_setup_t* setup = xcb_get_setup(c.get());
    const xcb_keycode_t first = setup->min_keycode;
    const int span = setup->max_keycode - setup->min_keycode + 1;
    const Reply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        c.get(), xcb_get_keyboard_mapping(c.get(), first, std::uint8_t(span)), nullptr));
    if (!mapping)
        return;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perCode = mapping->keysyms_per_keycode;
    xcb_keycode_t keycode = 0;
    for (int i = 0; i < span && keycode == 0; ++i) {
        for (int j = 0; j < perCode; ++j) {
            if (syms[i * perCode + j] == keysym) {
                keycode = xcb_keycode_t(first + i);
                break;
            }
        }
    }
    if (keycode == 0)
        return;
    for (int i = 0; i < count; ++i) {
        xcb_test_fake_input(c.get(), XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c.get(), XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    // A round trip makes sure the server has taken the events.
    const Reply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(c.get(), xcb_get_input_focus(c.get()), nullptr));
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

} // namespace pimsel::e2e

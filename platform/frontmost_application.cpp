#include "platform/frontmost_application.h"

#include "platform/app_exclusion_manager.h"
#include "platform/desktop_entries.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace pimsel {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

// The desktop entries are read again at most this often when a window class finds no entry
// (an application installed while Pimsel runs).
constexpr qint64 desktopRescanMs = 30000;

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray propertyBytes(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<std::uint32_t> propertyCardinal(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    const QByteArray bytes = propertyBytes(c, cookie);
    if (bytes.size() < 4)
        return std::nullopt;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.constData(), 4);
    return value;
}

// The client toplevel holding the keyboard focus: the focus window or its nearest ancestor that
// the window manager marked as managed.
xcb_window_t focusedToplevel(xcb_connection_t* c, xcb_window_t root, xcb_atom_t wmState) {
    const XcbReply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_window_t w = focus ? focus->focus : xcb_window_t{XCB_WINDOW_NONE};
    for (int depth = 0; depth < 8 && w != XCB_WINDOW_NONE && w != XCB_INPUT_FOCUS_POINTER_ROOT && w != root;
         ++depth) {
        const XcbReply<xcb_get_property_reply_t> state(
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, wmState, XCB_ATOM_ANY, 0, 0), nullptr));
        if (state && state->type != XCB_ATOM_NONE)
            return w;
        const XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
        w = tree ? tree->parent : xcb_window_t{XCB_WINDOW_NONE};
    }
    return XCB_WINDOW_NONE;
}

} // namespace

struct FrontmostApplication::X {
    XcbConnection connection;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t netActiveWindow = XCB_ATOM_NONE;
    xcb_atom_t netWmPid = XCB_ATOM_NONE;
    xcb_atom_t gtkApplicationId = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;

    xcb_window_t activeWindow = XCB_WINDOW_NONE;
    // Taken from the keyboard focus while the window manager names no active window: that can
    // change without any notification, so it is read again on every question.
    bool fromInputFocus = false;
    std::optional<qint64> pid;
    std::optional<QString> appId;
    // The application last announced as active. A moment with no active window (the window
    // manager passing focus between windows) is no switch to another application.
    std::optional<QString> announcedId;
    bool hasAnnounced = false;
    QString wmClass;

    std::unique_ptr<DesktopEntryIndex> entries;
    QElapsedTimer entriesAge;
};

FrontmostApplication::FrontmostApplication(QObject* parent)
    : ApplicationWatching(parent)
    , m_x(std::make_unique<X>()) {
    int screenNumber = 0;
    XcbConnection connection(xcb_connect(nullptr, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get()))
        return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return;
    m_x->root = screens.data->root;
    m_x->connection = std::move(connection);
    xcb_connection_t* c = m_x->connection.get();
    m_x->netActiveWindow = internAtom(c, "_NET_ACTIVE_WINDOW");
    m_x->netWmPid = internAtom(c, "_NET_WM_PID");
    m_x->gtkApplicationId = internAtom(c, "_GTK_APPLICATION_ID");
    m_x->utf8String = internAtom(c, "UTF8_STRING");
    m_x->wmState = internAtom(c, "WM_STATE");

    // Only property changes of the root: the active-window hint lives there.
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, m_x->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { pump(); });
    reload(false);
}

FrontmostApplication::~FrontmostApplication() = default;

bool FrontmostApplication::hasDisplay() const {
    return m_x->connection != nullptr;
}

void FrontmostApplication::pump() const {
    xcb_connection_t* c = m_x->connection.get();
    if (!c)
        return;
    if (xcb_connection_has_error(c)) {
        // The display is gone: its socket stays readable forever, so stop listening to it.
        if (m_notifier != nullptr)
            m_notifier->setEnabled(false);
        return;
    }
    // Reloading waits for replies, and events that arrive meanwhile are queued inside xcb where the
    // socket notifier cannot see them: drain again until nothing new is pending.
    for (int round = 0; round < 8; ++round) {
        bool activeChanged = false;
        while (xcb_generic_event_t* raw = xcb_poll_for_event(c)) {
            const XcbReply<xcb_generic_event_t> event(raw);
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
                if (notify->window == m_x->root && notify->atom == m_x->netActiveWindow)
                    activeChanged = true;
            }
        }
        if (!activeChanged) {
            if (m_x->fromInputFocus)
                reload(true);
            return;
        }
        reload(true);
    }
}

void FrontmostApplication::reload(bool announce) const {
    xcb_connection_t* c = m_x->connection.get();
    if (!c)
        return;
    const std::optional<QString> previousId = m_x->appId;

    const std::optional<std::uint32_t> active =
        propertyCardinal(c, xcb_get_property(c, 0, m_x->root, m_x->netActiveWindow, XCB_ATOM_WINDOW, 0, 1));
    m_x->activeWindow = active.value_or(XCB_WINDOW_NONE);
    // A window that has just been given the focus is active for the user before the window manager
    // has said so; keys typed in that moment belong to it.
    m_x->fromInputFocus = m_x->activeWindow == XCB_WINDOW_NONE;
    if (m_x->fromInputFocus)
        m_x->activeWindow = focusedToplevel(c, m_x->root, m_x->wmState);
    m_x->pid.reset();
    m_x->appId.reset();
    m_x->wmClass.clear();

    if (m_x->activeWindow != XCB_WINDOW_NONE) {
        const xcb_window_t w = m_x->activeWindow;
        // Three requests, one round trip.
        const auto pidCookie = xcb_get_property(c, 0, w, m_x->netWmPid, XCB_ATOM_CARDINAL, 0, 1);
        const auto gtkCookie = xcb_get_property(c, 0, w, m_x->gtkApplicationId, m_x->utf8String, 0, 256);
        const auto classCookie = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
        if (const std::optional<std::uint32_t> pid = propertyCardinal(c, pidCookie))
            m_x->pid = qint64(*pid);
        const QString gtkId = QString::fromUtf8(propertyBytes(c, gtkCookie)).trimmed();
        const QList<QByteArray> classParts = propertyBytes(c, classCookie).split('\0');
        const QString instance = classParts.size() > 0 ? QString::fromLocal8Bit(classParts.at(0)) : QString();
        m_x->wmClass = classParts.size() > 1 ? QString::fromLocal8Bit(classParts.at(1)) : QString();

        m_x->appId = applicationIdForWindow(gtkId, instance, m_x->wmClass, desktopEntries());
        const bool foundNoEntry = gtkId.isEmpty() && m_x->appId && !desktopEntries().entry(*m_x->appId);
        if (foundNoEntry && m_x->entriesAge.elapsed() > desktopRescanMs) {
            m_x->entries.reset();
            m_x->appId = applicationIdForWindow(gtkId, instance, m_x->wmClass, desktopEntries());
        }
    }

    const bool isSwitch = m_x->activeWindow != XCB_WINDOW_NONE &&
                          (!m_x->hasAnnounced ? m_x->appId != previousId : m_x->appId != m_x->announcedId);
    if (m_x->activeWindow != XCB_WINDOW_NONE && (announce || !m_x->hasAnnounced)) {
        m_x->announcedId = m_x->appId;
        m_x->hasAnnounced = true;
    }
    if (announce && isSwitch) {
        // Queued: this may run inside a getter the coordinator is calling.
        auto* self = const_cast<FrontmostApplication*>(this);
        QMetaObject::invokeMethod(
            self,
            [self, id = m_x->appId.value_or(QString())] { Q_EMIT self->frontmostApplicationChanged(id); },
            Qt::QueuedConnection);
    }
}

const DesktopEntryIndex& FrontmostApplication::desktopEntries() const {
    if (!m_x->entries) {
        m_x->entries = std::make_unique<DesktopEntryIndex>(DesktopEntryIndex::standardApplicationDirs());
        m_x->entriesAge.start();
    }
    return *m_x->entries;
}

std::optional<QString> FrontmostApplication::frontmostApplicationId() const {
    pump();
    return m_x->appId;
}

std::uint32_t FrontmostApplication::activeWindow() const {
    pump();
    return m_x->activeWindow;
}

std::optional<quint64> FrontmostApplication::frontmostWindow() const {
    const std::uint32_t window = activeWindow();
    return window != XCB_WINDOW_NONE ? std::optional<quint64>(window) : std::nullopt;
}

std::optional<qint64> FrontmostApplication::activeProcessId() const {
    pump();
    return m_x->pid;
}

std::optional<QRect> FrontmostApplication::activeWindowGeometry() const {
    pump();
    xcb_connection_t* c = m_x->connection.get();
    if (!c || m_x->activeWindow == XCB_WINDOW_NONE)
        return std::nullopt;
    const xcb_window_t w = m_x->activeWindow;
    const auto geometryCookie = xcb_get_geometry(c, w);
    const auto originCookie = xcb_translate_coordinates(c, w, m_x->root, 0, 0);
    const XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    const XcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, originCookie, nullptr));
    if (!geometry || !origin)
        return std::nullopt;
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

FocusContextProvider::ActiveWindow FrontmostApplication::activeWindowSource() const {
    return {[this] { return activeProcessId(); }, [this] { return activeWindowGeometry(); },
            [this] { return activeWindow(); },
            [this] {
                const std::optional<QString> id = frontmostApplicationId();
                return id && AppExclusionManager::browserAppIds().contains(*id);
            }};
}

std::optional<QString> FrontmostApplication::displayName(const QString& appId) const {
    if (const std::optional<DesktopEntry> entry = desktopEntries().entry(appId);
        entry && !entry->name.isEmpty())
        return entry->name;
    pump();
    if (m_x->appId == appId && !m_x->wmClass.isEmpty())
        return m_x->wmClass;
    return std::nullopt;
}

QIcon FrontmostApplication::icon(const QString& appId) const {
    const std::optional<DesktopEntry> entry = desktopEntries().entry(appId);
    QString name = entry ? entry->icon : QString();
    if (name.isEmpty()) {
        pump();
        if (m_x->appId == appId)
            name = m_x->wmClass.toLower();
    }
    if (name.isEmpty())
        return {};
    if (name.startsWith(u'/'))
        return QIcon(name);
    return QIcon::fromTheme(name);
}

void FrontmostApplication::activateWindow(std::uint32_t window) {
    xcb_connection_t* c = m_x->connection.get();
    if (!c || window == XCB_WINDOW_NONE)
        return;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = m_x->netActiveWindow;
    event.data.data32[0] =
        2; // source indication: a pager, which window managers obey without focus-stealing checks
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = m_x->activeWindow;
    xcb_send_event(c, 0, m_x->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

} // namespace pimsel

#include "ui/suggestion_compositor.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace pimsel {

namespace {

struct MallocFree {
    void operator()(void* p) const { std::free(p); }
};

// xcb hands every reply over as a malloc'd block the caller frees.
template <typename Reply> using XcbReply = std::unique_ptr<Reply, MallocFree>;

} // namespace

QByteArray compositorSelectionName(const QByteArray& displayName) {
    int screen = 0;
    const qsizetype colon = displayName.lastIndexOf(':');
    if (colon >= 0) {
        const QByteArray tail = displayName.mid(colon + 1);
        const qsizetype dot = tail.indexOf('.');
        if (dot >= 0) {
            bool ok = false;
            const int parsed = tail.mid(dot + 1).toInt(&ok);
            if (ok && parsed >= 0)
                screen = parsed;
        }
    }
    return QByteArrayLiteral("_NET_WM_CM_S") + QByteArray::number(screen);
}

bool isCompositorRunning() {
    // Asked on the GUI thread only, each time the popover appears. The selection's atom never
    // changes, and the owner's answer for the next showing is requested as this one is read: a
    // showing never waits on two round trips to a server busy with the application being typed
    // into. A compositor that starts or stops is therefore seen one showing late.
    struct Query {
        xcb_connection_t* connection = nullptr;
        xcb_atom_t atom = XCB_NONE;
        std::optional<xcb_get_selection_owner_cookie_t> next;
    };
    static Query query;
    auto* x11 = qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 == nullptr ? nullptr : x11->connection();
    if (connection == nullptr)
        return false;
    if (query.connection != connection) {
        const QByteArray name = compositorSelectionName(qgetenv("DISPLAY"));
        XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()),
            nullptr));
        query = {connection, atom ? atom->atom : xcb_atom_t(XCB_NONE), std::nullopt};
    }
    if (query.atom == XCB_NONE)
        return false;
    const xcb_get_selection_owner_cookie_t cookie =
        query.next ? *query.next : xcb_get_selection_owner(connection, query.atom);
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, cookie, nullptr));
    query.next = xcb_get_selection_owner(connection, query.atom);
    xcb_flush(connection);
    return owner && owner->owner != XCB_NONE;
}

} // namespace pimsel

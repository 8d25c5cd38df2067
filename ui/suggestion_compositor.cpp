#include "ui/suggestion_compositor.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

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
    auto* x11 = qGuiApp == nullptr ? nullptr : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 == nullptr ? nullptr : x11->connection();
    if (connection == nullptr)
        return false;
    const QByteArray name = compositorSelectionName(qgetenv("DISPLAY"));
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.constData()),
        nullptr));
    if (!atom)
        return false;
    XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
    return owner && owner->owner != XCB_NONE;
}

} // namespace pimsel

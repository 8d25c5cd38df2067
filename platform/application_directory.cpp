#include "platform/application_directory.h"

#include "platform/app_exclusion_manager.h"
#include "platform/desktop_entries.h"
#include "platform/xcb_handles.h"

#include <QCollator>
#include <QCoreApplication>

#include <cstring>

namespace pimsel {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    const auto r = xcb::reply<xcb_intern_atom_reply_t>(
        c, xcb_intern_atom_reply, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray propertyBytes(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    const auto r = xcb::reply<xcb_get_property_reply_t>(c, xcb_get_property_reply, cookie);
    if (!r || r->type == XCB_ATOM_NONE)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                      xcb_get_property_value_length(r.get()));
}

DisableableApp fromEntry(const DesktopEntry& entry) {
    return {entry.id, entry.name.isEmpty() ? entry.id : entry.name, entry.icon};
}

} // namespace

DesktopApplicationDirectory::DesktopApplicationDirectory() = default;
DesktopApplicationDirectory::~DesktopApplicationDirectory() = default;

const DesktopEntryIndex& DesktopApplicationDirectory::index() const {
    if (!m_index)
        m_index = std::make_unique<DesktopEntryIndex>(DesktopEntryIndex::standardApplicationDirs());
    return *m_index;
}

QList<DisableableApp> DesktopApplicationDirectory::running() const {
    m_index.reset();
    const xcb::Connection connection(nullptr);
    if (!connection)
        return {};
    xcb_connection_t* c = connection.get();
    const xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST");
    const xcb_atom_t netWmPid = internAtom(c, "_NET_WM_PID");
    const xcb_atom_t gtkApplicationId = internAtom(c, "_GTK_APPLICATION_ID");
    const xcb_atom_t utf8String = internAtom(c, "UTF8_STRING");
    const QByteArray windowBytes =
        propertyBytes(c, xcb_get_property(c, 0, connection.root(), clientList, XCB_ATOM_WINDOW, 0, 4096));
    QList<xcb_window_t> windows(windowBytes.size() / qsizetype(sizeof(xcb_window_t)));
    std::memcpy(windows.data(), windowBytes.constData(), size_t(windows.size()) * sizeof(xcb_window_t));

    const auto ownPid = std::uint32_t(QCoreApplication::applicationPid());
    QList<DisableableApp> apps;
    for (const xcb_window_t w : windows) {
        const auto pidCookie = xcb_get_property(c, 0, w, netWmPid, XCB_ATOM_CARDINAL, 0, 1);
        const auto gtkCookie = xcb_get_property(c, 0, w, gtkApplicationId, utf8String, 0, 256);
        const auto classCookie = xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
        const QByteArray pid = propertyBytes(c, pidCookie);
        const QString gtkId = QString::fromUtf8(propertyBytes(c, gtkCookie)).trimmed();
        const QList<QByteArray> classParts = propertyBytes(c, classCookie).split('\0');
        // Pimsel's own preferences window is on that list too.
        if (pid.size() >= 4 && std::memcmp(pid.constData(), &ownPid, 4) == 0)
            continue;
        const QString instance = QString::fromLocal8Bit(classParts.value(0));
        const QString windowClass = QString::fromLocal8Bit(classParts.value(1));
        const std::optional<QString> id = applicationIdForWindow(gtkId, instance, windowClass, index());
        if (!id)
            continue;
        if (const std::optional<DisableableApp> known = find(*id))
            apps.append(*known);
        else
            apps.append({*id, windowClass.isEmpty() ? *id : windowClass, windowClass.toLower()});
    }
    return apps;
}

QList<DisableableApp> DesktopApplicationDirectory::installed() const {
    m_index.reset();
    QList<DisableableApp> apps;
    for (const DesktopEntry& entry : index().entries()) {
        if (!entry.noDisplay)
            apps.append(fromEntry(entry));
    }
    return apps;
}

std::optional<DisableableApp> DesktopApplicationDirectory::find(const QString& id) const {
    if (const std::optional<DesktopEntry> entry = index().entry(id))
        return fromEntry(*entry);
    return std::nullopt;
}

bool isAlwaysDisabled(const QString& appId) {
    return AppExclusionManager::builtInExcludedAppIds().contains(appId) ||
           AppExclusionManager::ownAutocompleteAppIds().contains(appId);
}

QList<DisableableApp> appsToOffer(const QList<DisableableApp>& apps, const QSet<QString>& disabled) {
    QList<DisableableApp> offered;
    QSet<QString> seen;
    for (const DisableableApp& app : apps) {
        if (isAlwaysDisabled(app.id) || disabled.contains(app.id) || seen.contains(app.id))
            continue;
        seen.insert(app.id);
        offered.append(app);
    }
    sortByName(offered);
    return offered;
}

void sortByName(QList<DisableableApp>& apps) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&collator](const DisableableApp& a, const DisableableApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

} // namespace pimsel

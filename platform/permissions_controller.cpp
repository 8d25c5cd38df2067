#include "platform/permissions_controller.h"

#include "engine/settings_location.h"
#include "platform/display_session.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

namespace pimsel {

Q_LOGGING_CATEGORY(permissionsLog, "permissions", QtInfoMsg)

const QString PermissionsController::accessibilitySettingsAddress =
    QStringLiteral("https://pimsel.app/help/linux-permissions#accessibility");
const QString PermissionsController::inputMonitoringSettingsAddress =
    QStringLiteral("https://pimsel.app/help/linux-permissions#input-monitoring");

namespace {

constexpr int busTimeoutMs = 250;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;
struct ConnectionDeleter {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

std::optional<bool> statusFlag(QDBusConnection& bus, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.a11y.Status") << name;
    get.setAutoStartService(false);
    const QDBusMessage reply = bus.call(get, QDBus::Block, busTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    if (value.typeId() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

} // namespace

bool PermissionsController::accessibilityBusEnabled() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus"));
    if (!owned.isValid() || !owned.value())
        return false;
    return statusFlag(bus, QStringLiteral("IsEnabled")).value_or(false) ||
           statusFlag(bus, QStringLiteral("ScreenReaderEnabled")).value_or(false);
}

bool PermissionsController::x11InputAvailable() {
    return x11InputProblem().isEmpty();
}

QString PermissionsController::x11InputProblem() {
    // XWayland would accept the connection but show Pimsel none of the native windows' keys.
    if (isWaylandSession())
        return tr("This is a Wayland session: Pimsel sees keys there only through fcitx5. Install "
                  "fcitx5 and Pimsel's fcitx5 module, choose fcitx5 as your input method and restart "
                  "fcitx5 (fcitx5 -r), or choose an X11 (Xorg) session when you log in.");
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return tr("No X11 display is reachable: Pimsel runs in an X11 desktop session.");
    const std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection(xcb_connect(nullptr, nullptr));
    xcb_connection_t* c = connection.get();
    if (!c || xcb_connection_has_error(c))
        return tr("The X11 display cannot be reached.");

    const QString missing =
        tr("The X server lacks XInput 2.2 or XTEST, which Pimsel needs to see and type keys.");
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
    if (!xinput || !xinput->present || !xtest || !xtest->present)
        return missing;
    const XcbReply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!version)
        return missing;
    const bool recent =
        version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 2);
    return recent ? QString() : missing;
}

bool PermissionsController::inputMethodModuleRunning() {
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(inputMethodBusName()).value();
}

PermissionsController::Probes PermissionsController::systemProbes() {
    Probes probes;
    probes.accessibility = &PermissionsController::accessibilityBusEnabled;
    probes.inputMonitoring = &PermissionsController::x11InputAvailable;
    probes.startProgram = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    probes.findProgram = [](const QString& program) { return QStandardPaths::findExecutable(program); };
    probes.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    probes.enableAccessibility = [] { setAccessibilityBusEnabled(true); };
    probes.inputMethod = &PermissionsController::inputMethodModuleRunning;
    return probes;
}

PermissionsController::PermissionsController(QObject* parent)
    : PermissionsController(systemProbes(), parent) {}

PermissionsController::PermissionsController(Probes probes, QObject* parent)
    : QObject(parent)
    , m_probes(std::move(probes)) {}

void PermissionsController::refresh() {
    // Everything is read and stored before anything is published, so an observer never sees a
    // half-updated state.
    const bool accessibility = m_probes.accessibility && m_probes.accessibility();
    const bool throughInputMethod = m_probes.inputMethod && m_probes.inputMethod();
    const bool inputMonitoring =
        throughInputMethod || (m_probes.inputMonitoring && m_probes.inputMonitoring());
    const bool accessibilityChanged = std::exchange(m_accessibilityGranted, accessibility) != accessibility;
    const bool inputChanged = std::exchange(m_inputMonitoringGranted, inputMonitoring) != inputMonitoring;
    const bool routeChanged =
        std::exchange(m_keysThroughInputMethod, throughInputMethod) != throughInputMethod;
    if (accessibilityChanged)
        Q_EMIT accessibilityGrantedChanged(accessibility);
    if (inputChanged)
        Q_EMIT inputMonitoringGrantedChanged(inputMonitoring);
    if (routeChanged)
        Q_EMIT keysThroughInputMethodChanged(throughInputMethod);
}

void PermissionsController::setApplicationNeedingRestart(const QString& name) {
    if (name == m_applicationNeedingRestart)
        return;
    m_applicationNeedingRestart = name;
    Q_EMIT applicationNeedingRestartChanged(name);
}

void PermissionsController::setAccessibilityBusEnabled(bool on) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage set = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    set << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
        << QVariant::fromValue(QDBusVariant(on));
    bus.call(set, QDBus::Block, busTimeoutMs);
}

void PermissionsController::requestAccessibility() {
    if (m_probes.enableAccessibility)
        m_probes.enableAccessibility();
}

void PermissionsController::openSystemSettings(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    if (address == accessibilitySettingsAddress && m_probes.findProgram && m_probes.startProgram) {
        const struct {
            const char* program;
            const char* argument;
        } desktops[] = {{"gnome-control-center", "universal-access"}, {"systemsettings", "kcm_access"}};
        for (const auto& desktop : desktops) {
            const QString program = m_probes.findProgram(QString::fromLatin1(desktop.program));
            if (!program.isEmpty() && m_probes.startProgram(program, {QString::fromLatin1(desktop.argument)}))
                return;
        }
    }
    if (m_probes.openUrl)
        m_probes.openUrl(url);
}

} // namespace pimsel

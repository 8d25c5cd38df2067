// The tray item on a real session bus: a stand-in tray host (sni_watcher) owns the watcher name,
// the item registers with it, and the host reads the tooltip, the icon and the menu over D-Bus and
// clicks a menu row, as a desktop panel would.
#include "app/status_bar_controller.h"
#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/application_watching.h"
#include "platform/permissions_controller.h"
#include "platform/status_monitor.h"
#include "ui/tray_icon_renderer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace pimsel;

namespace {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The item's objects live on this thread, so every call to them must keep the event loop turning.
std::optional<QDBusMessage> call(QDBusMessage message) {
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    if (!waitUntil([&] { return pending.isFinished(); }, 8000))
        return std::nullopt;
    const QDBusMessage reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply;
}

std::optional<QVariant> property(const QString& service, const QString& path, const QString& interface,
                                 const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    const auto reply = call(get);
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return reply->arguments().constFirst().value<QDBusVariant>().variant();
}

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

struct TrayPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // network byte order
};

QString toolTipTitle(const QVariant& value) {
    const QDBusArgument arg = value.value<QDBusArgument>();
    QString iconName, title, text;
    arg.beginStructure();
    arg >> iconName;
    arg.beginArray();
    while (!arg.atEnd()) {
        TrayPixmap p;
        arg.beginStructure();
        arg >> p.width >> p.height >> p.argb;
        arg.endStructure();
    }
    arg.endArray();
    arg >> title >> text;
    arg.endStructure();
    return title;
}

QList<TrayPixmap> pixmaps(const QVariant& value) {
    QList<TrayPixmap> result;
    const QDBusArgument arg = value.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        TrayPixmap p;
        arg.beginStructure();
        arg >> p.width >> p.height >> p.argb;
        arg.endStructure();
        result.append(p);
    }
    arg.endArray();
    return result;
}

QImage toImage(const TrayPixmap& p) {
    QImage image(p.width, p.height, QImage::Format_ARGB32);
    if (p.argb.size() != p.width * p.height * 4)
        return {};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const auto* px = reinterpret_cast<const uchar*>(p.argb.constData()) + 4 * (y * p.width + x);
            image.setPixel(x, y, qRgba(px[1], px[2], px[3], px[0]));
        }
    }
    return image;
}

struct MenuNode {
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;
};

void readNode(const QDBusArgument& arg, MenuNode& node) {
    arg.beginStructure();
    arg >> node.id >> node.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        MenuNode childNode;
        readNode(child.variant().value<QDBusArgument>(), childNode);
        node.children.append(childNode);
    }
    arg.endArray();
    arg.endStructure();
}

std::optional<MenuNode> menuLayout(const QString& service, const QString& menuPath) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    get << 0 << -1 << QStringList();
    const auto reply = call(get);
    if (!reply || reply->arguments().size() < 2)
        return std::nullopt;
    MenuNode root;
    readNode(reply->arguments().at(1).value<QDBusArgument>(), root);
    return root;
}

bool isVisible(const MenuNode& node) {
    return node.properties.value(QStringLiteral("visible"), true).toBool();
}

QString label(const MenuNode& node) {
    if (node.properties.value(QStringLiteral("type")).toString() == QLatin1String("separator"))
        return QStringLiteral("---");
    return node.properties.value(QStringLiteral("label")).toString();
}

QStringList visibleLabels(const MenuNode& root) {
    QStringList labels;
    for (const MenuNode& child : root.children) {
        if (isVisible(child))
            labels.append(label(child));
    }
    return labels;
}

const MenuNode* find(const MenuNode& root, const QString& text) {
    for (const MenuNode& child : root.children) {
        if (label(child) == text)
            return &child;
    }
    return nullptr;
}

class FakeApplications : public ApplicationWatching {
public:
    std::optional<QString> frontmostApplicationId() const override { return frontmost; }
    std::optional<QString> displayName(const QString& appId) const override {
        if (!names.contains(appId))
            return std::nullopt;
        return names.value(appId);
    }
    void bringToFront(const QString& id) {
        frontmost = id;
        Q_EMIT frontmostApplicationChanged(id);
    }
    std::optional<QString> frontmost;
    QHash<QString, QString> names;
};

class NoFocus : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override { return false; }
    std::optional<QRect> caretRect() override { return std::nullopt; }
    std::optional<QUrl> currentBrowserURL() override { return std::nullopt; }
};

TEST(TrayOnTheSessionBus, RegistersWithTheWatcherAndShowsItsStateToTheHost) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus; run under desktop-session.sh";

    QProcess watcher;
    watcher.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    watcher.start(QStringLiteral(PIMSEL_SNI_WATCHER), {});
    ASSERT_TRUE(watcher.waitForStarted(5000));
    QByteArray watcherOutput;
    const auto readWatcher = [&] {
        watcherOutput += watcher.readAllStandardOutput();
        return watcherOutput;
    };
    ASSERT_TRUE(waitUntil([&] { return readWatcher().contains("ready\n"); })) << watcherOutput.constData();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings defaults(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    SettingsStore settings(&defaults);
    AppExclusionManager exclusions(settings);
    FakeApplications apps;
    apps.frontmost = QStringLiteral("org.gnome.TextEditor");
    apps.names.insert(QStringLiteral("org.gnome.Terminal"), QStringLiteral("Terminal"));
    NoFocus focus;
    StatusMonitor monitor(settings, exclusions, focus, apps);
    PermissionsController::Probes probes;
    probes.accessibility = [] { return true; };
    probes.inputMonitoring = [] { return false; };
    PermissionsController permissions(probes);
    permissions.refresh();
    StatusBarController controller(monitor, settings, permissions, nullptr);

    // The registration reaches the watcher, naming the item's service.
    ASSERT_TRUE(waitUntil([&] { return readWatcher().contains("registered "); }))
        << "no registration; watcher said: " << watcherOutput.constData();
    const QByteArray line = watcherOutput.mid(watcherOutput.indexOf("registered ")).split('\n').constFirst();
    const QList<QByteArray> fields = line.split(' ');
    ASSERT_GE(fields.size(), 3) << line.constData();
    QString service = QString::fromUtf8(fields[1]);
    // An item may register by object path; then its sender is the service.
    if (service.startsWith(u'/'))
        service = QString::fromUtf8(fields[2]);
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value())
        << line.constData();

    // What the host reads: status, tooltip, icon.
    const auto status = property(service, itemPath, itemInterface, QStringLiteral("Status"));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->toString(), QStringLiteral("Active"));
    const auto toolTip = [&] {
        const auto value = property(service, itemPath, itemInterface, QStringLiteral("ToolTip"));
        return value ? toolTipTitle(*value) : QStringLiteral("<unreadable>");
    };
    EXPECT_EQ(toolTip().toStdString(), "Pimsel");

    // The icon the host gets is the variant the controller chose, pixel for pixel.
    const auto iconMatches = [&](bool dimmed, bool badge) {
        const auto value = property(service, itemPath, itemInterface, QStringLiteral("IconPixmap"));
        if (!value)
            return false;
        const QList<TrayPixmap> list = pixmaps(*value);
        if (list.isEmpty())
            return false;
        for (const TrayPixmap& p : list) {
            if (p.width != p.height)
                return false;
            const QImage expected = controller.iconRenderer()
                                        .render(p.width, dimmed, badge)
                                        .convertToFormat(QImage::Format_ARGB32);
            if (toImage(p) != expected)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(iconMatches(false, false));

    const auto menuPathValue = property(service, itemPath, itemInterface, QStringLiteral("Menu"));
    ASSERT_TRUE(menuPathValue.has_value());
    const QString menuPath = menuPathValue->value<QDBusObjectPath>().path();
    ASSERT_FALSE(menuPath.isEmpty());
    auto layout = menuLayout(service, menuPath);
    ASSERT_TRUE(layout.has_value());
    const QStringList activeRows{QStringLiteral("Enabled"),       QStringLiteral("---"),
                                 QStringLiteral("Finish Setup…"), QStringLiteral("Preferences…"),
                                 QStringLiteral("Test Pimsel…"),  QStringLiteral("Check for Updates…"),
                                 QStringLiteral("---"),           QStringLiteral("Privacy: Local Only"),
                                 QStringLiteral("Quit Pimsel")};
    EXPECT_EQ(visibleLabels(*layout).join(u'|').toStdString(), activeRows.join(u'|').toStdString());
    EXPECT_EQ(layout->children.size(), 13);

    // Another application comes to the front: the host sees the new tooltip, icon and header.
    apps.bringToFront(QStringLiteral("org.gnome.Terminal"));
    EXPECT_TRUE(waitUntil([&] { return toolTip() == QLatin1String("Disabled in Terminal"); }))
        << toolTip().toStdString();
    EXPECT_TRUE(waitUntil([&] { return iconMatches(true, false); }));
    EXPECT_TRUE(waitUntil([&] {
        layout = menuLayout(service, menuPath);
        return layout && visibleLabels(*layout).value(0) == QLatin1String("Disabled in Terminal");
    }));

    // The host clicks "Enabled": autocomplete goes off and the row loses its check mark.
    const MenuNode* enabled = find(*layout, QStringLiteral("Enabled"));
    ASSERT_NE(enabled, nullptr);
    EXPECT_EQ(enabled->properties.value(QStringLiteral("toggle-state")).toInt(), 1);
    QDBusMessage click = QDBusMessage::createMethodCall(
        service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
    click << enabled->id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0))
          << uint(QDateTime::currentSecsSinceEpoch());
    ASSERT_TRUE(call(click).has_value());
    EXPECT_TRUE(waitUntil([&] { return !settings.enabled(); }));
    EXPECT_TRUE(waitUntil([&] {
        layout = menuLayout(service, menuPath);
        const MenuNode* row = layout ? find(*layout, QStringLiteral("Enabled")) : nullptr;
        return row && row->properties.value(QStringLiteral("toggle-state")).toInt() == 0;
    }));
    EXPECT_TRUE(waitUntil([&] { return toolTip() == QLatin1String("Pimsel"); }));

    watcher.terminate();
    watcher.waitForFinished(3000);
}

} // namespace

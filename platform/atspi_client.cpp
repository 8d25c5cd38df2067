#include "platform/atspi_client.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace pimsel {

namespace {

const QString registryService = QStringLiteral("org.a11y.atspi.Registry");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString nullPath = QStringLiteral("/org/a11y/atspi/null");
const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString textInterface = QStringLiteral("org.a11y.atspi.Text");
const QString componentInterface = QStringLiteral("org.a11y.atspi.Component");
const QString documentInterface = QStringLiteral("org.a11y.atspi.Document");
const QString applicationInterface = QStringLiteral("org.a11y.atspi.Application");
const QString collectionInterface = QStringLiteral("org.a11y.atspi.Collection");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr int screenCoordinates = 0;
constexpr int matchAll = 1;
constexpr int matchAny = 2;
constexpr uint sortCanonical = 1;
// Reconnection attempts to a missing bus are spaced so that a desktop without accessibility
// costs one failed lookup per second, not one per keystroke.
constexpr qint64 reconnectIntervalMs = 1000;

// QtDBus measures a call's timeout with a coarse timer, which may fire up to 5 % late; asking for
// that much less keeps the whole query inside its budget.
int callTimeoutMs(const QueryDeadline& deadline) {
    const int remaining = deadline.remainingMs();
    return qMax(1, remaining - remaining / 20 - 1);
}

std::optional<AtspiRef> refFrom(const QDBusArgument& arg) {
    AtspiRef ref;
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> ref.service >> path;
    arg.endStructure();
    ref.path = path.path();
    if (ref.service.isEmpty() || ref.path.isEmpty() || ref.path == nullPath)
        return std::nullopt;
    return ref;
}

std::optional<AtspiRef> refFrom(const QVariant& value) {
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument arg = value.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("(so)"))
        return std::nullopt;
    return refFrom(arg);
}

std::optional<QList<AtspiRef>> refListFrom(const QVariant& value) {
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument arg = value.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(so)"))
        return std::nullopt;
    QList<AtspiRef> refs;
    arg.beginArray();
    while (!arg.atEnd()) {
        if (const std::optional<AtspiRef> ref = refFrom(arg))
            refs.append(*ref);
    }
    arg.endArray();
    return refs;
}

std::optional<QRect> rectFrom(const QDBusMessage& reply) {
    const QVariantList args = reply.arguments();
    int values[4] = {};
    if (args.size() == 4) {
        for (int i = 0; i < 4; ++i) {
            bool ok = false;
            values[i] = args.at(i).toInt(&ok);
            if (!ok)
                return std::nullopt;
        }
    } else if (args.size() == 1 && args.at(0).canConvert<QDBusArgument>()) {
        const QDBusArgument arg = args.at(0).value<QDBusArgument>();
        if (arg.currentSignature() != QLatin1String("(iiii)"))
            return std::nullopt;
        arg.beginStructure();
        arg >> values[0] >> values[1] >> values[2] >> values[3];
        arg.endStructure();
    } else {
        return std::nullopt;
    }
    return QRect(values[0], values[1], values[2], values[3]);
}

QList<int> bitset(const QList<uint>& bits, int words) {
    QList<int> set(words, 0);
    for (uint bit : bits) {
        if (bit / 32 < uint(words))
            set[bit / 32] |= int(1u << (bit % 32));
    }
    return set;
}

} // namespace

AtspiClient::AtspiClient(const QString& connectionName)
    : m_connectionName(connectionName) {}

AtspiClient::~AtspiClient() {
    disconnect();
}

void AtspiClient::disconnect() {
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
    m_connected = false;
    m_pidOfService.clear();
    m_applications.clear();
    m_noSearch.clear();
}

bool AtspiClient::isConnected(QueryDeadline& deadline) {
    return connectIfNeeded(deadline);
}

bool AtspiClient::connectIfNeeded(QueryDeadline& deadline) {
    if (m_connected) {
        if (QDBusConnection(m_connectionName).isConnected())
            return true;
        disconnect();
    }
    if (m_sinceLastAttempt.isValid() && m_sinceLastAttempt.elapsed() < reconnectIntervalMs)
        return false;
    m_sinceLastAttempt.start();

    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected() || deadline.expired())
        return false;
    QDBusMessage request =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    // A query must not start the accessibility bus as a side effect.
    request.setAutoStartService(false);
    const QDBusMessage reply = session.call(request, QDBus::Block, callTimeoutMs(deadline));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QString address = reply.arguments().constFirst().toString();
    if (address.isEmpty())
        return false;

    QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        return false;
    }
    m_connected = true;
    ++m_connectionCount;
    return true;
}

bool AtspiClient::subscribe(QueryDeadline& deadline, const QString& interface, const QString& member,
                            const QString& event, QObject* receiver, const char* slot) {
    if (!connectIfNeeded(deadline))
        return false;
    if (!QDBusConnection(m_connectionName).connect(QString(), QString(), interface, member, receiver, slot))
        return false;
    // Toolkits emit only the events some listener registered for.
    QDBusMessage request = QDBusMessage::createMethodCall(
        registryService, QStringLiteral("/org/a11y/atspi/registry"),
        QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("RegisterEvent"));
    // Event name, properties wanted with each event, and any application.
    request.setArguments({event, QStringList(), QString()});
    // Nothing waits for the registry: the events start whenever it has told the toolkits.
    return QDBusConnection(m_connectionName).send(request);
}

std::optional<QDBusMessage> AtspiClient::call(QueryDeadline& deadline, const AtspiRef& object,
                                              const QString& interface, const QString& method,
                                              const QVariantList& args) {
    if (!connectIfNeeded(deadline) || deadline.expired())
        return std::nullopt;
    QDBusMessage request = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    request.setArguments(args);
    request.setAutoStartService(false);
    const QDBusMessage reply =
        QDBusConnection(m_connectionName).call(request, QDBus::Block, callTimeoutMs(deadline));
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply;
    noteFailure(reply, object.service);
    return std::nullopt;
}

void AtspiClient::noteFailure(const QDBusMessage& reply, const QString& service) {
    const QString error = reply.errorName();
    if (error == QLatin1String("org.freedesktop.DBus.Error.Disconnected")) {
        disconnect();
    } else if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
               error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        forgetService(service);
    }
}

void AtspiClient::callLater(const QueryDeadline& deadline, const AtspiRef& object, const QString& interface,
                            const QString& method, const QVariantList& args,
                            std::function<void(std::optional<QDBusMessage>)> done) {
    // Only a connection made already: connecting waits on the session bus.
    if (!m_connected || deadline.expired()) {
        done(std::nullopt);
        return;
    }
    QDBusMessage request = QDBusMessage::createMethodCall(object.service, object.path, interface, method);
    request.setArguments(args);
    request.setAutoStartService(false);
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection(m_connectionName).asyncCall(request, callTimeoutMs(deadline)));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this, watcher, alive = std::weak_ptr<int>(m_alive), service = object.service,
                      done = std::move(done)] {
                         watcher->deleteLater();
                         if (alive.expired())
                             return;
                         const QDBusMessage reply = watcher->reply();
                         if (reply.type() == QDBusMessage::ReplyMessage) {
                             done(reply);
                             return;
                         }
                         noteFailure(reply, service);
                         done(std::nullopt);
                     });
}

void AtspiClient::caretOffsetLater(const QueryDeadline& deadline, const AtspiRef& object,
                                   std::function<void(std::optional<int>)> done) {
    callLater(deadline, object, propertiesInterface, QStringLiteral("Get"),
              {textInterface, QStringLiteral("CaretOffset")},
              [done = std::move(done)](const std::optional<QDBusMessage>& reply) {
                  if (!reply || reply->arguments().isEmpty()) {
                      done(std::nullopt);
                      return;
                  }
                  bool ok = false;
                  const int offset =
                      reply->arguments().constFirst().value<QDBusVariant>().variant().toInt(&ok);
                  done(ok ? std::optional<int>(offset) : std::nullopt);
              });
}

void AtspiClient::characterExtentsLater(const QueryDeadline& deadline, const AtspiRef& object, int offset,
                                        std::function<void(std::optional<QRect>)> done) {
    callLater(deadline, object, textInterface, QStringLiteral("GetCharacterExtents"),
              {QVariant::fromValue(offset), QVariant::fromValue(uint(screenCoordinates))},
              [done = std::move(done)](const std::optional<QDBusMessage>& reply) {
                  done(reply ? rectFrom(*reply) : std::nullopt);
              });
}

void AtspiClient::extentsLater(const QueryDeadline& deadline, const AtspiRef& object,
                               std::function<void(std::optional<QRect>)> done) {
    callLater(deadline, object, componentInterface, QStringLiteral("GetExtents"),
              {QVariant::fromValue(uint(screenCoordinates))},
              [done = std::move(done)](const std::optional<QDBusMessage>& reply) {
                  done(reply ? rectFrom(*reply) : std::nullopt);
              });
}

std::optional<QVariant> AtspiClient::property(QueryDeadline& deadline, const AtspiRef& object,
                                              const QString& interface, const QString& name) {
    const std::optional<QDBusMessage> reply =
        call(deadline, object, propertiesInterface, QStringLiteral("Get"), {interface, name});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return reply->arguments().constFirst().value<QDBusVariant>().variant();
}

namespace {

std::optional<uint> roleFrom(const std::optional<QDBusMessage>& reply) {
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const uint value = reply->arguments().constFirst().toUInt(&ok);
    return ok ? std::optional<uint>(value) : std::nullopt;
}

std::optional<QMap<QString, QString>> attributesFrom(const std::optional<QDBusMessage>& reply) {
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return qdbus_cast<QMap<QString, QString>>(reply->arguments().constFirst());
}

} // namespace

std::optional<uint> AtspiClient::role(QueryDeadline& deadline, const AtspiRef& object) {
    return roleFrom(call(deadline, object, accessibleInterface, QStringLiteral("GetRole")));
}

std::pair<std::optional<uint>, std::optional<QMap<QString, QString>>>
AtspiClient::roleAndAttributes(QueryDeadline& deadline, const AtspiRef& object) {
    if (!connectIfNeeded(deadline) || deadline.expired())
        return {};
    QDBusConnection bus(m_connectionName);
    const auto send = [&](const QString& method) {
        QDBusMessage request =
            QDBusMessage::createMethodCall(object.service, object.path, accessibleInterface, method);
        request.setAutoStartService(false);
        return bus.asyncCall(request, callTimeoutMs(deadline));
    };
    QDBusPendingCall roleCall = send(QStringLiteral("GetRole"));
    QDBusPendingCall attributesCall = send(QStringLiteral("GetAttributes"));
    const auto answer = [&](QDBusPendingCall& pending) -> std::optional<QDBusMessage> {
        pending.waitForFinished();
        const QDBusMessage reply = pending.reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            return reply;
        noteFailure(reply, object.service);
        return std::nullopt;
    };
    const std::optional<QDBusMessage> roleReply = answer(roleCall);
    const std::optional<QDBusMessage> attributesReply = answer(attributesCall);
    return {roleFrom(roleReply), attributesFrom(attributesReply)};
}

void AtspiClient::roleAndAttributesLater(
    const QueryDeadline& deadline, const AtspiRef& object,
    std::function<void(std::optional<uint>, std::optional<QMap<QString, QString>>)> done) {
    // Both questions go out at once; the answer is given when the second reply is in.
    struct Answers {
        std::optional<uint> role;
        std::optional<QMap<QString, QString>> attributes;
        int missing = 2;
        std::function<void(std::optional<uint>, std::optional<QMap<QString, QString>>)> done;
    };
    const auto answers = std::make_shared<Answers>();
    answers->done = std::move(done);
    const auto arrived = [answers] {
        if (--answers->missing == 0)
            answers->done(answers->role, answers->attributes);
    };
    callLater(deadline, object, accessibleInterface, QStringLiteral("GetRole"), {},
              [answers, arrived](const std::optional<QDBusMessage>& reply) {
                  answers->role = roleFrom(reply);
                  arrived();
              });
    callLater(deadline, object, accessibleInterface, QStringLiteral("GetAttributes"), {},
              [answers, arrived](const std::optional<QDBusMessage>& reply) {
                  answers->attributes = attributesFrom(reply);
                  arrived();
              });
}

std::optional<quint64> AtspiClient::states(QueryDeadline& deadline, const AtspiRef& object) {
    const std::optional<QDBusMessage> reply =
        call(deadline, object, accessibleInterface, QStringLiteral("GetState"));
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    const QList<uint> words = qdbus_cast<QList<uint>>(reply->arguments().constFirst());
    if (words.isEmpty())
        return std::nullopt;
    quint64 bits = words.at(0);
    if (words.size() > 1)
        bits |= quint64(words.at(1)) << 32;
    return bits;
}

std::optional<QList<AtspiRef>> AtspiClient::children(QueryDeadline& deadline, const AtspiRef& object) {
    const std::optional<QDBusMessage> reply =
        call(deadline, object, accessibleInterface, QStringLiteral("GetChildren"));
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return refListFrom(reply->arguments().constFirst());
}

std::optional<AtspiRef> AtspiClient::parent(QueryDeadline& deadline, const AtspiRef& object) {
    const std::optional<QVariant> value =
        property(deadline, object, accessibleInterface, QStringLiteral("Parent"));
    if (!value)
        return std::nullopt;
    return refFrom(*value);
}

std::optional<QMap<QString, QString>> AtspiClient::attributes(QueryDeadline& deadline,
                                                              const AtspiRef& object) {
    return attributesFrom(call(deadline, object, accessibleInterface, QStringLiteral("GetAttributes")));
}

std::optional<int> AtspiClient::caretOffset(QueryDeadline& deadline, const AtspiRef& object) {
    const std::optional<QVariant> value =
        property(deadline, object, textInterface, QStringLiteral("CaretOffset"));
    if (!value)
        return std::nullopt;
    bool ok = false;
    const int offset = value->toInt(&ok);
    return ok ? std::optional<int>(offset) : std::nullopt;
}

std::optional<QString> AtspiClient::text(QueryDeadline& deadline, const AtspiRef& object, int start,
                                         int end) {
    const std::optional<QDBusMessage> reply = call(deadline, object, textInterface, QStringLiteral("GetText"),
                                                   {QVariant::fromValue(start), QVariant::fromValue(end)});
    if (!reply || reply->arguments().isEmpty() ||
        reply->arguments().constFirst().typeId() != QMetaType::QString)
        return std::nullopt;
    return reply->arguments().constFirst().toString();
}

std::optional<QRect> AtspiClient::characterExtents(QueryDeadline& deadline, const AtspiRef& object,
                                                   int offset) {
    const std::optional<QDBusMessage> reply =
        call(deadline, object, textInterface, QStringLiteral("GetCharacterExtents"),
             {QVariant::fromValue(offset), QVariant::fromValue(uint(screenCoordinates))});
    if (!reply)
        return std::nullopt;
    return rectFrom(*reply);
}

std::optional<QRect> AtspiClient::extents(QueryDeadline& deadline, const AtspiRef& object) {
    const std::optional<QDBusMessage> reply =
        call(deadline, object, componentInterface, QStringLiteral("GetExtents"),
             {QVariant::fromValue(uint(screenCoordinates))});
    if (!reply)
        return std::nullopt;
    return rectFrom(*reply);
}

std::optional<QString> AtspiClient::documentAttribute(QueryDeadline& deadline, const AtspiRef& document,
                                                      const QString& name) {
    const std::optional<QDBusMessage> reply =
        call(deadline, document, documentInterface, QStringLiteral("GetAttributeValue"), {name});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    const QString value = reply->arguments().constFirst().toString();
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

std::optional<QString> AtspiClient::toolkitName(QueryDeadline& deadline, const AtspiRef& application) {
    const std::optional<QVariant> value =
        property(deadline, application, applicationInterface, QStringLiteral("ToolkitName"));
    if (!value || value->typeId() != QMetaType::QString)
        return std::nullopt;
    return value->toString();
}

bool AtspiClient::requestAttributes(const AtspiRef& object) {
    if (!m_connected)
        return false;
    QDBusMessage request = QDBusMessage::createMethodCall(object.service, object.path, accessibleInterface,
                                                          QStringLiteral("GetAttributes"));
    request.setAutoStartService(false);
    // The answer, when it comes, finds nobody waiting and is dropped.
    return QDBusConnection(m_connectionName).send(request);
}

std::optional<QList<AtspiRef>> AtspiClient::findDescendants(QueryDeadline& deadline, const AtspiRef& object,
                                                            const QList<uint>& states,
                                                            const QList<uint>& roles, int count,
                                                            bool* unsupported) {
    if (unsupported)
        *unsupported = false;
    if (m_noSearch.contains(object.service)) {
        if (unsupported)
            *unsupported = true;
        return std::nullopt;
    }
    if (!connectIfNeeded(deadline) || deadline.expired())
        return std::nullopt;

    QDBusArgument rule;
    rule.beginStructure();
    rule << bitset(states, 2) << matchAll;
    rule.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
    rule.endMap();
    rule << matchAll;
    rule << bitset(roles, 4) << (roles.isEmpty() ? matchAll : matchAny);
    rule << QStringList() << matchAll;
    rule << false;
    rule.endStructure();

    QDBusMessage request = QDBusMessage::createMethodCall(object.service, object.path, collectionInterface,
                                                          QStringLiteral("GetMatches"));
    request << QVariant::fromValue(rule) << sortCanonical << count << true;
    request.setAutoStartService(false);
    const QDBusMessage reply =
        QDBusConnection(m_connectionName).call(request, QDBus::Block, callTimeoutMs(deadline));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QString error = reply.errorName();
        if (error == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
            error == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") ||
            error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
            error == QLatin1String("org.freedesktop.DBus.Error.NotSupported")) {
            m_noSearch.insert(object.service);
            if (unsupported)
                *unsupported = true;
        } else if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")) {
            forgetService(object.service);
        }
        return std::nullopt;
    }
    if (reply.arguments().isEmpty())
        return std::nullopt;
    return refListFrom(reply.arguments().constFirst());
}

void AtspiClient::forgetService(const QString& service) {
    m_pidOfService.remove(service);
    m_noSearch.remove(service);
    m_applications.removeIf([&](const AtspiRef& ref) { return ref.service == service; });
}

void AtspiClient::refreshApplications(QueryDeadline& deadline) {
    const std::optional<QList<AtspiRef>> apps = children(deadline, AtspiRef{registryService, rootPath});
    if (!apps)
        return;
    m_applications = *apps;
    QSet<QString> present;
    for (const AtspiRef& app : std::as_const(m_applications)) {
        present.insert(app.service);
        processOfService(deadline, app.service);
    }
    m_pidOfService.removeIf([&](const auto& it) { return !present.contains(it.key()); });
}

std::optional<qint64> AtspiClient::processOfService(QueryDeadline& deadline, const QString& service) {
    if (const auto known = m_pidOfService.constFind(service); known != m_pidOfService.cend())
        return *known;
    const std::optional<QDBusMessage> reply = call(
        deadline, AtspiRef{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus")},
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {service});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 pid = reply->arguments().constFirst().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    m_pidOfService.insert(service, pid);
    return pid;
}

QList<AtspiRef> AtspiClient::applicationsOfProcess(QueryDeadline& deadline, qint64 pid) {
    const auto matching = [&] {
        QList<AtspiRef> found;
        for (const AtspiRef& app : std::as_const(m_applications)) {
            if (m_pidOfService.value(app.service, -1) == pid)
                found.append(app);
        }
        return found;
    };
    QList<AtspiRef> found = matching();
    if (found.isEmpty()) {
        refreshApplications(deadline);
        found = matching();
    }
    return found;
}

} // namespace pimsel

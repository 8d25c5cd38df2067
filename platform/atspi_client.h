#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSet>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

namespace pimsel {

// One accessible object on the accessibility bus: the owning connection and the object path.
struct AtspiRef {
    QString service;
    QString path;
    bool operator==(const AtspiRef&) const = default;
};

// The time left to one focus query. Every bus call of the query takes its timeout from here, so an
// unresponsive application costs the caller the budget once, not once per call.
class QueryDeadline {
public:
    explicit QueryDeadline(int budgetMs)
        : m_budgetMs(budgetMs) {
        m_clock.start();
    }
    int remainingMs() const { return int(qMax<qint64>(0, m_budgetMs - m_clock.elapsed())); }
    bool expired() const { return remainingMs() <= 0; }

private:
    QElapsedTimer m_clock;
    int m_budgetMs;
};

// Role and state numbers of the accessibility protocol that the focus queries need.
namespace atspi {
constexpr uint roleFrame = 23;
constexpr uint rolePasswordText = 40;
constexpr uint roleApplication = 75;
constexpr uint roleDocumentWeb = 95;
constexpr uint stateActive = 1;
constexpr uint stateFocused = 12;
constexpr uint stateShowing = 25;
} // namespace atspi

// Blocking, deadline-bounded calls on the accessibility bus, reached through its own named
// connection. The bus address comes from the session bus; without it every call fails at once.
class AtspiClient {
public:
    explicit AtspiClient(const QString& connectionName);
    ~AtspiClient();
    AtspiClient(const AtspiClient&) = delete;
    AtspiClient& operator=(const AtspiClient&) = delete;

    bool isConnected(QueryDeadline& deadline);
    // Counts the connections made so far: a subscription made on an earlier one is gone.
    int connectionCount() const { return m_connectionCount; }
    // Delivers the signals of `interface` / `member` from every application to `slot` of `receiver`
    // (which takes a QDBusMessage), and asks the registry to have the toolkits emit `event`.
    bool subscribe(QueryDeadline& deadline, const QString& interface, const QString& member,
                   const QString& event, QObject* receiver, const char* slot);

    std::optional<uint> role(QueryDeadline& deadline, const AtspiRef& object);
    // The 64 state bits, bit n being state number n.
    std::optional<quint64> states(QueryDeadline& deadline, const AtspiRef& object);
    std::optional<QList<AtspiRef>> children(QueryDeadline& deadline, const AtspiRef& object);
    std::optional<AtspiRef> parent(QueryDeadline& deadline, const AtspiRef& object);
    std::optional<QMap<QString, QString>> attributes(QueryDeadline& deadline, const AtspiRef& object);
    // Both questions sent before either answer is awaited: one wait on the application, not two.
    std::pair<std::optional<uint>, std::optional<QMap<QString, QString>>>
    roleAndAttributes(QueryDeadline& deadline, const AtspiRef& object);
    // The same without waiting: `done` comes later on this thread, as for the calls below.
    void roleAndAttributesLater(
        const QueryDeadline& deadline, const AtspiRef& object,
        std::function<void(std::optional<uint>, std::optional<QMap<QString, QString>>)> done);
    std::optional<int> caretOffset(QueryDeadline& deadline, const AtspiRef& object);
    // The characters from `start` up to `end` (exclusive).
    std::optional<QString> text(QueryDeadline& deadline, const AtspiRef& object, int start, int end);
    std::optional<QRect> characterExtents(QueryDeadline& deadline, const AtspiRef& object, int offset);
    std::optional<QRect> extents(QueryDeadline& deadline, const AtspiRef& object);
    // The same three without waiting: `done` comes later on this thread, with none on a failure or
    // once the deadline has passed, and never once the client is gone.
    void caretOffsetLater(const QueryDeadline& deadline, const AtspiRef& object,
                          std::function<void(std::optional<int>)> done);
    void characterExtentsLater(const QueryDeadline& deadline, const AtspiRef& object, int offset,
                               std::function<void(std::optional<QRect>)> done);
    void extentsLater(const QueryDeadline& deadline, const AtspiRef& object,
                      std::function<void(std::optional<QRect>)> done);
    std::optional<QString> documentAttribute(QueryDeadline& deadline, const AtspiRef& document,
                                             const QString& name);
    // The toolkit an application root names for itself ("GTK", "Qt", "Chromium", ...).
    std::optional<QString> toolkitName(QueryDeadline& deadline, const AtspiRef& application);
    // Asks for an object's attributes without waiting for the answer: for the side effect alone.
    bool requestAttributes(const AtspiRef& object);

    // Descendants matching all of `states` and any of `roles` (either may be empty), in tree order.
    // None when the object does not offer the search (some toolkits do not) or the call failed;
    // `unsupported` then tells which.
    std::optional<QList<AtspiRef>> findDescendants(QueryDeadline& deadline, const AtspiRef& object,
                                                   const QList<uint>& states, const QList<uint>& roles,
                                                   int count, bool* unsupported = nullptr);
    bool offersSearch(const QString& service) const { return !m_noSearch.contains(service); }

    // The root objects of the applications on the bus that run in process `pid`. Pids of bus
    // connections are remembered; the registry is asked again only when an answer may be stale.
    QList<AtspiRef> applicationsOfProcess(QueryDeadline& deadline, qint64 pid);
    // The process behind a connection on the bus; remembered, since a connection never changes owner.
    std::optional<qint64> processOfService(QueryDeadline& deadline, const QString& service);
    // Drops what is remembered about a connection that stopped answering or went away.
    void forgetService(const QString& service);

private:
    std::optional<QDBusMessage> call(QueryDeadline& deadline, const AtspiRef& object,
                                     const QString& interface, const QString& method,
                                     const QVariantList& args = {});
    std::optional<QVariant> property(QueryDeadline& deadline, const AtspiRef& object,
                                     const QString& interface, const QString& name);
    void callLater(const QueryDeadline& deadline, const AtspiRef& object, const QString& interface,
                   const QString& method, const QVariantList& args,
                   std::function<void(std::optional<QDBusMessage>)> done);
    void noteFailure(const QDBusMessage& reply, const QString& service);
    bool connectIfNeeded(QueryDeadline& deadline);
    void disconnect();
    void refreshApplications(QueryDeadline& deadline);

    QString m_connectionName;
    bool m_connected = false;
    int m_connectionCount = 0;
    QElapsedTimer m_sinceLastAttempt;
    QHash<QString, qint64> m_pidOfService;
    QList<AtspiRef> m_applications;
    QSet<QString> m_noSearch;
    // Answers that come after the client is gone are dropped.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace pimsel

#include "platform/focus_context_provider.h"

#include "platform/chromium_accessibility.h"
#include "platform/event_tap_manager.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QObject>
#include <QScopeGuard>
#include <QUrl>

#include <chrono>

namespace pimsel {

// Hands the bus's focus signals to the provider, which is no QObject itself.
class FocusEventListener : public QObject {
    Q_OBJECT
public:
    explicit FocusEventListener(FocusContextProvider& provider)
        : m_provider(provider) {}

public Q_SLOTS:
    void stateChanged(const QDBusMessage& message) { m_provider.focusEvent(message); }

private:
    FocusContextProvider& m_provider;
};

namespace {

// Whether the application's answer names a password field: browsers mark password inputs by
// attribute as well. None for a window that names itself focused, which hides which of its
// fields has the keys, and for a field that gives no attributes.
std::optional<bool> passwordAnswer(std::optional<uint> role,
                                   const std::optional<QMap<QString, QString>>& attributes) {
    if (!role || *role == atspi::roleFrame || *role == atspi::roleApplication)
        return std::nullopt;
    if (*role == atspi::rolePasswordText)
        return true;
    if (!attributes)
        return std::nullopt;
    return attributes->value(QStringLiteral("text-input-type")) == QLatin1String("password");
}

constexpr int maxAncestorWalk = 25;
// A pruned walk through a toolkit without the search call visits at most this many objects.
constexpr int maxWalkedObjects = 600;
constexpr int defaultCaretHeight = 16;
// A browser joins the bus within its first second: one still absent after this never will.
constexpr qint64 joinGraceMs = 3000;

bool has(quint64 states, uint state) {
    return (states >> state) & 1u;
}

bool isEmptyBox(const QRect& r) {
    return r.x() == 0 && r.y() == 0 && r.width() <= 0 && r.height() <= 0;
}

QString uniqueConnectionName() {
    static int counter = 0;
    return QStringLiteral("pimsel-a11y-%1").arg(++counter);
}

} // namespace

FocusContextProvider::FocusContextProvider(ActiveWindow activeWindow, int budgetMs, bool followFocusEvents)
    : m_activeWindow(std::move(activeWindow))
    , m_budgetMs(budgetMs)
    , m_client(std::make_unique<AtspiClient>(uniqueConnectionName()))
    , m_chromium(std::make_unique<ChromiumAccessibility>(*m_client)) {
    if (!followFocusEvents)
        return;
    m_listener = std::make_unique<FocusEventListener>(*this);
    // Subscribed now, the first field the user types in is usually known before the first key.
    QueryDeadline deadline(m_budgetMs);
    listenIfNeeded(deadline);
}

FocusContextProvider::~FocusContextProvider() = default;

void FocusContextProvider::listenIfNeeded(QueryDeadline& deadline) {
    if (!m_listener || !m_client->isConnected(deadline) || m_listeningOn == m_client->connectionCount())
        return;
    // A new connection starts with nothing known: focus announced before it was missed.
    m_followed.reset();
    m_found.reset();
    m_announcing.clear();
    if (m_client->subscribe(deadline, QStringLiteral("org.a11y.atspi.Event.Object"),
                            QStringLiteral("StateChanged"), QStringLiteral("object:state-changed:focused"),
                            m_listener.get(), SLOT(stateChanged(QDBusMessage))))
        m_listeningOn = m_client->connectionCount();
}

void FocusContextProvider::focusEvent(const QDBusMessage& message) {
    const QVariantList args = message.arguments();
    if (args.size() < 2 || args.at(0).toString() != QLatin1String("focused"))
        return;
    const AtspiRef element{message.service(), message.path()};
    if (args.at(1).toInt() == 0) {
        // Where the focus went is announced on its own; until then nothing is known.
        if (m_followed && m_followed->element == element)
            m_followed.reset();
        return;
    }
    QueryDeadline deadline(m_budgetMs);
    const std::optional<qint64> pid = m_client->processOfService(deadline, element.service);
    // Our own windows answer from the widgets themselves, never over the bus.
    if (!pid || *pid == QCoreApplication::applicationPid()) {
        m_followed.reset();
        return;
    }
    m_announcing.insert(element.service);
    const std::uint32_t window = m_activeWindow.windowId ? m_activeWindow.windowId() : 0;
    const bool moved = !m_followed || m_followed->element != element;
    m_followed = FollowedFocus{*pid, window, element};
    // Whether it is a password field is known before its first key, where the application answers
    // in time.
    if (moved)
        learnField(element, [] {});
    // Told once this signal is done with: the handler asks the bus again.
    if (moved && m_focusMoved)
        QMetaObject::invokeMethod(m_listener.get(), m_focusMoved, Qt::QueuedConnection);
}

void FocusContextProvider::setFocusMovedHandler(std::function<void()> handler) {
    m_focusMoved = std::move(handler);
}

bool FocusContextProvider::isFollowingFocus() const {
    const std::optional<qint64> pid = m_activeWindow.processId ? m_activeWindow.processId() : std::nullopt;
    const std::uint32_t window = m_activeWindow.windowId ? m_activeWindow.windowId() : 0;
    return m_followed && pid == m_followed->pid && window != 0 && window == m_followed->window;
}

std::optional<AtspiRef> FocusContextProvider::followedFocus(QueryDeadline& deadline,
                                                            std::optional<qint64> pid, std::uint32_t window) {
    if (!m_followed || (pid && m_followed->pid != *pid))
        return std::nullopt;
    if (pid && window != 0 && m_followed->window == window)
        return m_followed->element;
    // The announcement and the window switch may arrive in either order, and between two windows
    // the window manager may name none active: an element that holds the focus on screen is the one.
    // One that is on screen without it yet may still get it back; it is not forgotten.
    const std::optional<quint64> states = m_client->states(deadline, m_followed->element);
    if (!states || !has(*states, atspi::stateShowing)) {
        m_followed.reset();
        return std::nullopt;
    }
    if (!has(*states, atspi::stateFocused))
        return std::nullopt;
    if (pid)
        m_followed->window = window;
    return m_followed->element;
}

std::optional<AtspiRef> FocusContextProvider::activeFrame(QueryDeadline& deadline) {
    const std::optional<qint64> pid = m_activeWindow.processId ? m_activeWindow.processId() : std::nullopt;
    if (!pid || *pid <= 0)
        return std::nullopt;
    const std::uint32_t window = m_activeWindow.windowId ? m_activeWindow.windowId() : 0;
    if (window != 0 && m_cachedFrame && m_cachedFrame->pid == *pid && m_cachedFrame->window == window) {
        const std::optional<quint64> states = m_client->states(deadline, m_cachedFrame->frame);
        if (states && has(*states, atspi::stateShowing))
            return m_cachedFrame->frame;
    }
    m_cachedFrame.reset();
    const std::optional<AtspiRef> frame = searchActiveFrame(deadline, *pid);
    if (frame && window != 0)
        m_cachedFrame = CachedFrame{*pid, window, *frame};
    return frame;
}

std::optional<AtspiRef> FocusContextProvider::searchActiveFrame(QueryDeadline& deadline, qint64 pid) {
    // One process may own several bus connections (two toolkits in one program); the active frame
    // lives under one of them.
    const QList<AtspiRef> applications = m_client->applicationsOfProcess(deadline, pid);
    QList<AtspiRef> shown;
    for (const AtspiRef& application : applications) {
        const std::optional<QList<AtspiRef>> windows = m_client->children(deadline, application);
        if (!windows)
            continue;
        for (const AtspiRef& window : *windows) {
            const std::optional<quint64> states = m_client->states(deadline, window);
            if (deadline.expired())
                return std::nullopt;
            if (!states)
                continue;
            if (has(*states, atspi::stateActive))
                return window;
            if (has(*states, atspi::stateShowing))
                shown.append(window);
        }
    }
    if (shown.size() <= 1)
        return shown.isEmpty() ? std::nullopt : std::optional<AtspiRef>(shown.constFirst());

    // Some browsers keep their windows' active state to themselves (Chromium under a plain window
    // manager does): the frame that covers the active window is the one.
    const std::optional<QRect> active = m_activeWindow.geometry ? m_activeWindow.geometry() : std::nullopt;
    if (!active || active->isEmpty())
        return std::nullopt;
    std::optional<AtspiRef> best;
    qint64 bestOverlap = 0;
    for (const AtspiRef& window : std::as_const(shown)) {
        const std::optional<QRect> extents = m_client->extents(deadline, window);
        if (!extents)
            continue;
        const QRect overlap = extents->intersected(*active);
        const qint64 area = qint64(overlap.width()) * overlap.height();
        if (area > bestOverlap) {
            bestOverlap = area;
            best = window;
        }
    }
    // Half the window at least: a small popup over it is not the window itself.
    if (bestOverlap * 2 < qint64(active->width()) * active->height())
        return std::nullopt;
    return best;
}

std::optional<AtspiRef> FocusContextProvider::findInFrame(QueryDeadline& deadline, const AtspiRef& frame,
                                                          uint state, std::optional<uint> role) {
    bool unsupported = false;
    const std::optional<QList<AtspiRef>> found = m_client->findDescendants(
        deadline, frame, {state}, role ? QList<uint>{*role} : QList<uint>{}, 1, &unsupported);
    if (found)
        return found->isEmpty() ? std::nullopt : std::optional<AtspiRef>(found->constFirst());
    if (!unsupported)
        return std::nullopt;

    // Depth-first through what is on screen: hidden subtrees cannot hold the focus or the visible page.
    QList<AtspiRef> pending{frame};
    int visited = 0;
    while (!pending.isEmpty() && visited < maxWalkedObjects && !deadline.expired()) {
        const AtspiRef node = pending.takeLast();
        const std::optional<QList<AtspiRef>> children = m_client->children(deadline, node);
        if (!children)
            continue;
        for (qsizetype i = children->size() - 1; i >= 0 && !deadline.expired(); --i) {
            const AtspiRef& child = children->at(i);
            ++visited;
            const std::optional<quint64> states = m_client->states(deadline, child);
            if (!states)
                continue;
            if (has(*states, state) && (!role || m_client->role(deadline, child) == role))
                return child;
            if (has(*states, atspi::stateShowing))
                pending.append(child);
        }
    }
    return std::nullopt;
}

std::optional<AtspiRef> FocusContextProvider::focusedElement(QueryDeadline& deadline,
                                                             std::optional<AtspiRef>* frameOut) {
    listenIfNeeded(deadline);
    const std::optional<qint64> pid = m_activeWindow.processId ? m_activeWindow.processId() : std::nullopt;
    // Our own windows hold no field of the user's, and a query of this process from its own main
    // thread would only wait out the limit.
    if (pid && *pid == QCoreApplication::applicationPid())
        return std::nullopt;
    const std::uint32_t window = m_activeWindow.windowId ? m_activeWindow.windowId() : 0;
    if (std::optional<AtspiRef> element = followedFocus(deadline, pid, window))
        return element; // the frame is looked up only by those who need it
    if (m_found && pid && m_found->pid == *pid && m_found->window == window && window != 0) {
        const std::optional<quint64> states = m_client->states(deadline, m_found->element);
        if (states && has(*states, atspi::stateFocused) && has(*states, atspi::stateShowing))
            return m_found->element;
        m_found.reset();
    }
    const std::optional<AtspiRef> frame = activeFrame(deadline);
    if (frameOut)
        *frameOut = frame;
    if (!frame)
        return std::nullopt;
    const std::optional<AtspiRef> found = findInFrame(deadline, *frame, atspi::stateFocused, std::nullopt);
    // A focus announced before the subscription took effect is never announced again: what the
    // search found is followed from here, but only in an application that is known to announce
    // where its focus goes next.
    if (found && window != 0 && m_announcing.contains(found->service))
        m_followed = FollowedFocus{*pid, window, *found};
    else if (found && window != 0)
        m_found = FollowedFocus{*pid, window, *found};
    return found;
}

std::optional<AtspiRef> FocusContextProvider::focusedElement() {
    QueryDeadline deadline(m_budgetMs);
    return focusedElement(deadline);
}

void FocusContextProvider::setUnreachableReporter(std::function<void(qint64 pid, bool reachable)> report) {
    m_reportUnreachable = std::move(report);
}

bool FocusContextProvider::applicationActivated() {
    QueryDeadline deadline(m_budgetMs);
    listenIfNeeded(deadline);
    m_joining = false;
    webContentUnknown(deadline);
    return m_joining;
}

bool FocusContextProvider::webContentUnknown(QueryDeadline& deadline) {
    const std::optional<qint64> pid = m_activeWindow.processId ? m_activeWindow.processId() : std::nullopt;
    if (!pid || *pid <= 0 || *pid == QCoreApplication::applicationPid())
        return false;
    const bool connected = m_client->isConnected(deadline);
    const QList<AtspiRef> applications =
        connected ? m_client->applicationsOfProcess(deadline, *pid) : QList<AtspiRef>();
    const bool lookedUp = connected && !deadline.expired();
    const bool browser = m_activeWindow.isBrowser && m_activeWindow.isBrowser();
    if (!m_chromium->isChromiumBased(deadline, *pid, applications) && !browser)
        return false;
    if (!applications.isEmpty()) {
        if (m_reportedUnreachable.remove(*pid) && m_reportUnreachable)
            m_reportUnreachable(*pid, true);
        // Its focus events and the targeted questions of the next keys pick the page up from here.
        m_chromium->exposeWebContent(deadline, applications);
        return true;
    }
    if (lookedUp && m_reportUnreachable && !m_reportedUnreachable.contains(*pid)) {
        const std::optional<qint64> age = ChromiumAccessibility::runningForMs(*pid);
        m_joining = age && *age < joinGraceMs;
        if (age && *age >= joinGraceMs) {
            m_reportedUnreachable.insert(*pid);
            m_reportUnreachable(*pid, false);
        }
    }
    return true;
}

FocusContextProviding* FocusContextProvider::ownAnswers() const {
    if (!m_own)
        return nullptr;
    const std::optional<qint64> pid = m_activeWindow.processId ? m_activeWindow.processId() : std::nullopt;
    return pid == QCoreApplication::applicationPid() ? m_own : nullptr;
}

bool FocusContextProvider::isSecureFieldFocused() {
    if (FocusContextProviding* own = ownAnswers())
        return own->isSecureFieldFocused();
    QueryDeadline deadline(m_budgetMs);
    const std::optional<AtspiRef> element = focusedElement(deadline);
    // The element comes from the followed focus, but whether it is a password field is asked here
    // (and on every key that may insert): a field that a "show password" toggle turns back into one
    // must fall silent at once. Role and attributes are asked at once: one wait on the application.
    const auto [role, attributes] = element ? m_client->roleAndAttributes(deadline, *element)
                                            : decltype(m_client->roleAndAttributes(deadline, *element)){};
    const std::optional<bool> answer = passwordAnswer(role, attributes);
    const bool secure = answer ? *answer : webContentUnknown(deadline);
    // Only a definite answer about a known element is remembered.
    m_ordinaryField = element && answer == false ? element : std::nullopt;
    qCDebug(inputLog) << "field check: role" << (role ? int(*role) : -1)
                      << (element ? "followed" : "no element") << (secure ? "silent" : "ordinary")
                      << (deadline.expired() ? "(out of time)" : "");
    return secure;
}

bool FocusContextProvider::isSecureFieldFocusedRemembered() {
    if (FocusContextProviding* own = ownAnswers())
        return own->isSecureFieldFocused();
    QueryDeadline deadline(m_budgetMs);
    const std::optional<AtspiRef> element = focusedElement(deadline);
    if (!element || element != m_ordinaryField)
        return isSecureFieldFocused();
    verifyOrdinaryField(*element);
    return false;
}

void FocusContextProvider::setFieldTurnedSecureHandler(std::function<void()> handler) {
    m_fieldTurnedSecure = std::move(handler);
}

// A "show password" toggle, or a page that turns an input into a password input, may change the
// field without telling: the answer given on the key is checked behind it, one check at a time.
void FocusContextProvider::verifyOrdinaryField(const AtspiRef& element) {
    if (std::exchange(m_verifying, true)) {
        m_verifyAgain = true;
        return;
    }
    learnField(element, [this] {
        m_verifying = false;
        if (std::exchange(m_verifyAgain, false) && m_ordinaryField)
            verifyOrdinaryField(*m_ordinaryField);
    });
}

void FocusContextProvider::learnField(const AtspiRef& element, std::function<void()> then) {
    m_client->roleAndAttributesLater(
        QueryDeadline(m_budgetMs), element,
        [this, element, then = std::move(then)](std::optional<uint> role,
                                                std::optional<QMap<QString, QString>> attributes) {
            const std::optional<bool> answer = passwordAnswer(role, attributes);
            if (answer == false) {
                if (m_followed && m_followed->element == element)
                    m_ordinaryField = element;
            } else if (m_ordinaryField == element) {
                m_ordinaryField.reset(); // the next key asks and waits
                if (answer == true) {
                    qCDebug(inputLog) << "field check: the focused field has turned into a password field";
                    if (m_fieldTurnedSecure)
                        m_fieldTurnedSecure();
                }
            }
            then();
        });
}

std::optional<QRect> FocusContextProvider::caretRect() {
    const auto started = std::chrono::steady_clock::now();
    const auto logDuration = qScopeGuard([started] {
        qCDebug(inputLog) << "timing: caret query"
                          << std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - started)
                                 .count()
                          << "us";
    });
    if (FocusContextProviding* own = ownAnswers())
        return own->caretRect();
    QueryDeadline deadline(m_budgetMs);
    const std::optional<AtspiRef> element = focusedElement(deadline);
    if (!element)
        return std::nullopt;

    std::optional<QRect> caret;
    if (const std::optional<int> offset = m_client->caretOffset(deadline, *element); offset && *offset >= 0) {
        const std::optional<QRect> at = m_client->characterExtents(deadline, *element, *offset);
        if (at && !isEmptyBox(*at)) {
            caret = QRect(at->x(), at->y(), 1, at->height());
        } else if (*offset > 0) {
            // At the end of the text there is no character at the caret: use the one before it.
            const std::optional<QRect> before = m_client->characterExtents(deadline, *element, *offset - 1);
            if (before && !isEmptyBox(*before))
                caret = QRect(before->x() + before->width(), before->y(), 1, before->height());
        }
    }
    if (!caret) {
        // Empty fields and fields that hide their characters report no character boxes.
        const std::optional<QRect> field = m_client->extents(deadline, *element);
        if (!field || isEmptyBox(*field))
            return std::nullopt;
        caret = field;
    }
    if (caret->height() <= 0)
        caret->setHeight(defaultCaretHeight);
    return caret;
}

void FocusContextProvider::requestCaretRect(std::function<void(const std::optional<QRect>&)> done) {
    if (FocusContextProviding* own = ownAnswers()) {
        own->requestCaretRect(std::move(done));
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = std::make_shared<QueryDeadline>(m_budgetMs);
    const std::optional<AtspiRef> element = focusedElement(*deadline);
    if (!element) {
        done(std::nullopt);
        return;
    }
    // The same steps as caretRect(), each one started from the answer to the one before. The client
    // drops the answers that come after it is gone, and with them the rest of the chain.
    AtspiClient* client = m_client.get();
    const AtspiRef target = *element;
    const auto finish = [started, done = std::move(done)](std::optional<QRect> caret) {
        if (caret && caret->height() <= 0)
            caret->setHeight(defaultCaretHeight);
        qCDebug(inputLog) << "timing: caret answer after"
                          << std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - started)
                                 .count()
                          << "us";
        done(caret);
    };
    const auto wholeField = [client, target, deadline, finish] {
        client->extentsLater(*deadline, target, [finish](std::optional<QRect> field) {
            finish(field && !isEmptyBox(*field) ? field : std::nullopt);
        });
    };
    client->caretOffsetLater(*deadline, target, [=](std::optional<int> offset) {
        if (!offset || *offset < 0) {
            wholeField();
            return;
        }
        client->characterExtentsLater(*deadline, target, *offset, [=](std::optional<QRect> at) {
            if (at && !isEmptyBox(*at)) {
                finish(QRect(at->x(), at->y(), 1, at->height()));
                return;
            }
            if (*offset == 0) {
                wholeField();
                return;
            }
            // At the end of the text there is no character at the caret: use the one before it.
            client->characterExtentsLater(*deadline, target, *offset - 1, [=](std::optional<QRect> before) {
                if (before && !isEmptyBox(*before)) {
                    finish(QRect(before->x() + before->width(), before->y(), 1, before->height()));
                    return;
                }
                wholeField();
            });
        });
    });
}

std::optional<QString> FocusContextProvider::textBeforeCaret(int count) {
    if (FocusContextProviding* own = ownAnswers())
        return own->textBeforeCaret(count);
    QueryDeadline deadline(m_budgetMs);
    const std::optional<AtspiRef> element = focusedElement(deadline);
    if (!element)
        return std::nullopt;
    const std::optional<int> offset = m_client->caretOffset(deadline, *element);
    if (!offset || *offset < 0)
        return std::nullopt;
    if (*offset == 0)
        return QString();
    const std::optional<QString> before =
        m_client->text(deadline, *element, qMax(0, *offset - count), *offset);
    // Password fields and some custom widgets answer with nothing at all: no answer, not a start.
    if (!before || before->isEmpty())
        return std::nullopt;
    return before;
}

std::optional<QUrl> FocusContextProvider::documentAddress(QueryDeadline& deadline, const AtspiRef& document) {
    for (const QString& attribute : {QStringLiteral("URI"), QStringLiteral("DocURL")}) {
        const std::optional<QString> text = m_client->documentAttribute(deadline, document, attribute);
        if (!text)
            continue;
        const QUrl url(*text, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return url;
    }
    return std::nullopt;
}

std::optional<QUrl> FocusContextProvider::currentBrowserURL() {
    QueryDeadline deadline(m_budgetMs);
    std::optional<AtspiRef> frame;
    const std::optional<AtspiRef> element = focusedElement(deadline, &frame);

    if (element) {
        std::optional<AtspiRef> topDocument;
        if (m_cachedDocument && m_cachedDocument->element == *element) {
            topDocument = m_cachedDocument->document;
        } else {
            m_cachedDocument.reset();
            // The outermost page wins over the frames embedded in it.
            std::optional<AtspiRef> current = element;
            bool walkEnded = false;
            for (int examined = 0; current && examined < maxAncestorWalk && !deadline.expired(); ++examined) {
                const std::optional<uint> role = m_client->role(deadline, *current);
                if (role == atspi::roleDocumentWeb)
                    topDocument = current;
                else if (role == atspi::roleFrame || role == atspi::roleApplication) {
                    walkEnded = true;
                    break;
                }
                current = m_client->parent(deadline, *current);
            }
            // Only a walk that reached the window is known to have found the outermost page.
            if (topDocument && walkEnded)
                m_cachedDocument = CachedDocument{*element, *topDocument};
        }
        if (topDocument) {
            if (const std::optional<QUrl> url = documentAddress(deadline, *topDocument))
                return url;
            m_cachedDocument.reset();
        }
    }
    if (!frame && element && !deadline.expired())
        frame = activeFrame(deadline);
    if (!frame || deadline.expired())
        return std::nullopt;
    // Nothing in the page has the focus (or the browser's own controls have it): the page on screen.
    const std::optional<AtspiRef> shown =
        findInFrame(deadline, *frame, atspi::stateShowing, atspi::roleDocumentWeb);
    if (!shown)
        return std::nullopt;
    return documentAddress(deadline, *shown);
}

} // namespace pimsel

#include "focus_context_provider.moc"

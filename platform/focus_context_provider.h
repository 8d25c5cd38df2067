#pragma once

#include "engine/ports.h"
#include "platform/atspi_client.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QDBusMessage;

namespace pimsel {

class ChromiumAccessibility;
class FocusEventListener;

// Answers what has the keyboard in the active window's application, over the accessibility bus:
// a password field or not, where the caret is, and which page a browser shows. Each question is
// bounded as a whole by `budgetMs`; an unanswered, failed or unsupported query gives the neutral
// answer (false, none).
class FocusContextProvider : public FocusContextProviding {
public:
    static constexpr int defaultBudgetMs = 250;

    // What the window system says about the active window.
    struct ActiveWindow {
        // The process that owns it, none when unknown.
        std::function<std::optional<qint64>()> processId;
        // Its rectangle on screen; asked only when the application marks none of its windows active.
        std::function<std::optional<QRect>()> geometry;
        // Its window-system id (0 when unknown): while it stays the same, so does the frame.
        std::function<std::uint32_t()> windowId;
        // Whether its application is one of the known web browsers (none: not known to be).
        std::function<bool()> isBrowser;
    };

    // `followFocusEvents` off: every question searches the active window afresh (for comparisons).
    explicit FocusContextProvider(ActiveWindow activeWindow, int budgetMs = defaultBudgetMs,
                                  bool followFocusEvents = true);
    ~FocusContextProvider() override;

    // Also true while the focused element of a Chromium-based application (or a known browser) is
    // unknown: any of its inputs may be a password input, so it is treated as one.
    bool isSecureFieldFocused() override;
    // An element found ordinary stays so on the key until its application says otherwise; it is
    // asked again without waiting, and a password field found then is reported.
    bool isSecureFieldFocusedRemembered() override;
    void setFieldTurnedSecureHandler(std::function<void()> handler) override;
    // A one-pixel-wide line at the insertion point; the whole field when it reports no characters.
    std::optional<QRect> caretRect() override;
    // The focused element is looked up as for caretRect(); the application is asked without waiting.
    void requestCaretRect(std::function<void(const std::optional<QRect>&)> done) override;
    std::optional<QUrl> currentBrowserURL() override;
    std::optional<QString> textBeforeCaret(int count) override;
    void setFocusMovedHandler(std::function<void()> handler) override;

    // The focused object of the active window, for diagnostics and tests.
    std::optional<AtspiRef> focusedElement();
    // Whether the answers for the active window come from its announced focus, without a search.
    bool isFollowingFocus() const;

    // A focus event from the accessibility bus (the listener's slot).
    void focusEvent(const QDBusMessage& message);

    // Another application has come to the front: a Chromium-based one is asked to expose its web
    // content now rather than at the first key. True while such an application has just started and
    // is not on the bus yet: ask again shortly, it is still joining.
    bool applicationActivated();
    // Called once for each Chromium-based process (or known browser) that has the active window but
    // is not on the bus that answers: it started while accessibility was off, and only a restart
    // brings it onto the bus. Called with `reachable` true should such a process turn up on the bus
    // after all (one that was only slow to join).
    void setUnreachableReporter(std::function<void(qint64 pid, bool reachable)> report);
    // Answers for Pimsel's own windows (the onboarding field, the preferences), taken in-process:
    // asked over the bus, this thread would wait on itself. Not owned; null: such windows hold
    // no field.
    void setOwnWindowAnswers(FocusContextProviding* own) { m_own = own; }

private:
    // The in-process answers while one of Pimsel's own windows is active, else null.
    FocusContextProviding* ownAnswers() const;
    bool m_joining = false;
    void listenIfNeeded(QueryDeadline& deadline);
    std::optional<AtspiRef> followedFocus(QueryDeadline& deadline, std::optional<qint64> pid,
                                          std::uint32_t window);
    std::optional<AtspiRef> activeFrame(QueryDeadline& deadline);
    std::optional<AtspiRef> searchActiveFrame(QueryDeadline& deadline, qint64 pid);
    std::optional<AtspiRef> focusedElement(QueryDeadline& deadline,
                                           std::optional<AtspiRef>* frameOut = nullptr);
    std::optional<AtspiRef> findInFrame(QueryDeadline& deadline, const AtspiRef& frame, uint state,
                                        std::optional<uint> role);
    std::optional<QUrl> documentAddress(QueryDeadline& deadline, const AtspiRef& document);
    bool webContentUnknown(QueryDeadline& deadline);
    void verifyOrdinaryField(const AtspiRef& element);
    // Asks whether `element` is a password field without waiting; remembers an ordinary focused
    // one, and reports a remembered one found to be a password field. `then` follows the answer.
    void learnField(const AtspiRef& element, std::function<void()> then);

    ActiveWindow m_activeWindow;
    int m_budgetMs;
    std::unique_ptr<AtspiClient> m_client;
    // The frame found for the last active window, reused while that window stays active and the
    // frame is still on screen.
    struct CachedFrame {
        qint64 pid = 0;
        std::uint32_t window = 0;
        AtspiRef frame;
    };
    std::optional<CachedFrame> m_cachedFrame;
    // The outermost page above the last focused element: the same element stays in the same page
    // (browsers give a loaded page's objects new paths), so its walk need not be repeated.
    struct CachedDocument {
        AtspiRef element;
        AtspiRef document;
    };
    std::optional<CachedDocument> m_cachedDocument;
    // The element that last gained the focus, as its application announced it, with the active
    // window of that moment. Trusted while that window stays active.
    struct FollowedFocus {
        qint64 pid = 0;
        std::uint32_t window = 0;
        AtspiRef element;
    };
    std::optional<FollowedFocus> m_followed;
    // The focused element a search found in an application that has announced no focus yet (it
    // took the focus before Pimsel listened). Asked on the next key whether it still holds the
    // focus: one question instead of a search of the window.
    std::optional<FollowedFocus> m_found;
    // The connections that have announced a focus: applications that do follow their focus aloud.
    QSet<QString> m_announcing;
    std::function<void()> m_focusMoved;
    // The focused element last found not to be a password field, and the check of it under way.
    std::optional<AtspiRef> m_ordinaryField;
    bool m_verifying = false;
    bool m_verifyAgain = false;
    std::function<void()> m_fieldTurnedSecure;
    std::unique_ptr<FocusEventListener> m_listener;
    std::unique_ptr<ChromiumAccessibility> m_chromium;
    std::function<void(qint64, bool)> m_reportUnreachable;
    QSet<qint64> m_reportedUnreachable;
    int m_listeningOn = 0; // the connection count the subscription was made on
    FocusContextProviding* m_own = nullptr;
};

} // namespace pimsel

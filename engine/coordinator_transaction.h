#pragma once

// Private to the coordinator's own files.

#include "engine/autocomplete_coordinator.h"

#include <QPointer>

namespace pimsel {

// Brackets every entry point. The outermost one publishes what changed: `stateChanged` when a
// property moved, `swallowableKeysChanged` when the hook's grab set must follow.
class AutocompleteCoordinator::Transaction {
public:
    explicit Transaction(AutocompleteCoordinator& coordinator)
        : m_coordinator(coordinator)
        , m_isOutermost(coordinator.m_transactionDepth++ == 0) {
        if (!m_isOutermost)
            return;
        // What an earlier answer left to do is done before anything else looks at the state.
        coordinator.m_queue.runPendingWork();
        m_before = Snapshot::of(coordinator);
    }
    ~Transaction() {
        if (--m_coordinator.m_transactionDepth != 0 || !m_isOutermost)
            return;
        const bool stateMoved = !(Snapshot::of(m_coordinator) == m_before);
        const SwallowableKeys now = m_coordinator.swallowableKeys();
        const bool keysMoved = !(now == m_coordinator.m_announcedSwallowable);
        m_coordinator.m_announcedSwallowable = now;
        // A receiver may destroy the coordinator.
        const QPointer<AutocompleteCoordinator> alive(&m_coordinator);
        if (stateMoved)
            Q_EMIT m_coordinator.stateChanged();
        if (keysMoved && alive)
            Q_EMIT m_coordinator.swallowableKeysChanged();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

private:
    struct Snapshot {
        bool isPanelActive = false;
        bool isBrowserActive = false;
        bool isStickerSearchActive = false;
        bool isInserting = false;
        std::optional<ColonToken> currentToken;
        QList<EmojiEntry> results;
        int selectedIndex = 0;
        std::optional<int> focusedToneIndex;
        int pendingCommandLength = 0;
        bool isGiphyActive = false;

        static Snapshot of(const AutocompleteCoordinator& c) {
            return Snapshot{c.isPanelActive(), c.m_isBrowserActive,  c.m_isStickerSearchActive,
                            c.m_isInserting,   c.currentToken(),     c.results(),
                            c.selectedIndex(), c.focusedToneIndex(), c.m_pendingCommandLength,
                            c.m_isGiphyActive};
        }
        bool operator==(const Snapshot&) const = default;
    };

    AutocompleteCoordinator& m_coordinator;
    const bool m_isOutermost;
    Snapshot m_before;
};

} // namespace pimsel

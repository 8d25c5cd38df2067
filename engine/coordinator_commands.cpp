// The slash commands of a messaging application: "/sticker" or "/gif" and a Space open the picker,
// whose pick replaces the typed command.

#include "engine/autocomplete_coordinator.h"

#include "engine/coordinator_transaction.h"
#include "engine/panel_keys.h"
#include "engine/text.h"

#include <QPointer>
#include <QTimer>

#include <chrono>

namespace pimsel {

bool AutocompleteCoordinator::hasStickerServices() const {
    return m_stickerServices && m_stickerServices->store && m_stickerServices->picker &&
           m_stickerServices->inserter;
}

bool AutocompleteCoordinator::isStickerCommandUsable() const {
    return m_settings.stickerCommandEnabled() && hasStickerServices();
}

bool AutocompleteCoordinator::isGiphyCommandUsable() const {
    return m_settings.giphyCommandEnabled() && hasStickerServices() && bool(m_stickerServices->giphySearch);
}

bool AutocompleteCoordinator::isMessagingApp(const std::optional<QString>& appId) const {
    return appId && m_messagingAppIds.contains(*appId);
}

void AutocompleteCoordinator::resetDetectors() {
    m_stickerDetector.reset();
    m_giphyDetector.reset();
}

std::optional<bool> AutocompleteCoordinator::handleCommandKey(KeyAction action, const QString& text,
                                                              const std::optional<QString>& appId) {
    const bool stickerUsable = isStickerCommandUsable();
    const bool giphyUsable = isGiphyCommandUsable();
    if ((!stickerUsable && !giphyUsable) || !isMessagingApp(appId)) {
        resetDetectors();
        return std::nullopt;
    }
    switch (action) {
    case KeyAction::text:
        // The command is typed into the message field like any text.
        text::forEachCharacter(text, [this](const QString& character) {
            m_stickerDetector.feed(character);
            m_giphyDetector.feed(character);
        });
        return std::nullopt;
    case KeyAction::backspace:
        m_stickerDetector.deleteBackward();
        m_giphyDetector.deleteBackward();
        return std::nullopt;
    case KeyAction::space:
        // Only the confirming Space is withheld, so the field holds exactly the command.
        if (giphyUsable && m_giphyDetector.isMatched()) {
            startGiphyMode();
            return true;
        }
        if (stickerUsable && m_stickerDetector.isMatched()) {
            startStickerMode();
            return true;
        }
        resetDetectors();
        return std::nullopt;
    default:
        resetDetectors();
        return std::nullopt;
    }
}

void AutocompleteCoordinator::beginCommand(int length, bool isGiphy) {
    hide();
    m_tokenBuffer.reset();
    resetDetectors();
    m_pendingCommandLength = length;
    m_isGiphyActive = isGiphy;
    m_isStickerSearchActive = true;
}

void AutocompleteCoordinator::startStickerMode() {
    beginCommand(m_stickerDetector.commandLength(), false);
    StickerPickerPresenting& picker = *m_stickerServices->picker;
    picker.model().loadStickers(m_stickerServices->store->stickers());
    m_queue.afterAnswer([&picker] { picker.show(); });
}

void AutocompleteCoordinator::startGiphyMode() {
    beginCommand(m_giphyDetector.commandLength(), true);
    StickerPickerPresenting& picker = *m_stickerServices->picker;
    picker.model().loadRemote(m_giphyDetector.command(), m_stickerServices->giphySearch);
    m_queue.afterAnswer([&picker] { picker.show(); });
}

bool AutocompleteCoordinator::routeToPicker(KeyAction action, const QString& text) {
    return panel_keys::route(m_stickerServices->picker->model(), action, text, /*tabPicks=*/true);
}

void AutocompleteCoordinator::stickerPicked(const StickerEntry& entry) {
    Transaction transaction(*this);
    m_isStickerSearchActive = false;
    m_isInserting = true;
    if (!m_isGiphyActive)
        m_queue.afterAnswer([this, id = entry.id] { m_stickerServices->store->recordUse(id); });
    const int eraseCount = m_pendingCommandLength;
    const QPointer<AutocompleteCoordinator> self(this);
    m_stickerServices->store->fetchFile(entry, [self, entry, eraseCount](std::optional<QUrl> file) {
        if (self)
            self->stickerFileFetched(entry, eraseCount, file);
    });
}

void AutocompleteCoordinator::stickerFileFetched(const StickerEntry& entry, int eraseCount,
                                                 const std::optional<QUrl>& file) {
    Transaction transaction(*this);
    if (!file) {
        m_isInserting = false; // the command text stays in the field
        return;
    }
    const QPointer<AutocompleteCoordinator> self(this);
    m_stickerServices->inserter->insert(*file, entry.isAnimated, eraseCount, [self] {
        if (self)
            self->insertionFinished();
    });
}

void AutocompleteCoordinator::pickerDismissed() {
    Transaction transaction(*this);
    // After cancel() the picker is already closed and its command must stay; a dismissal that
    // the ordering-out provokes is not the user's.
    if (!m_isStickerSearchActive)
        return;
    m_isStickerSearchActive = false;
    const int count = m_pendingCommandLength;
    QTimer::singleShot(std::chrono::milliseconds(dismissalEraseDelayMs), this,
                       [this, count] { eraseDismissedCommand(count); });
}

void AutocompleteCoordinator::eraseDismissedCommand(int count) {
    if (count > 0 && isMessagingApp(m_frontmost.frontmostApplicationId()))
        m_backspaces.pressBackspace(count);
}

} // namespace pimsel

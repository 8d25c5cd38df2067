#pragma once

// Owns every long-lived service of the desktop application, builds them once in a fixed order and
// wires them together; start() brings autocomplete up.

#include "app/cli.h"

#include <QLoggingCategory>
#include <QObject>

#include <memory>
#include <optional>

class QSettings;
class QTimer;

namespace pimsel {

Q_DECLARE_LOGGING_CATEGORY(startupLog)

class AppExclusionManager;
class AutocompleteCoordinator;
class ClipboardManager;
class EmojiBrowserWindowController;
class EmojiStore;
class EventTapManager;
class FocusContextProvider;
class FrontmostApplication;
class GiphyClient;
class InputMethodBrowser;
class InsertionController;
class KeyboardSynthesizer;
class OnboardingWindowController;
class OwnFocusContext;
class PermissionsController;
class PreferencesWindowController;
class SettingsStore;
class StatusBarController;
class StatusMonitor;
class StickerCommandDetector;
class StickerInsertionController;
class StickerPickerWindowController;
class StickerStore;
class SuggestionWindowController;
class TokenBuffer;
class UpdateController;
class XdgAutostart;

class PimselCore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasStarted READ hasStarted NOTIFY started)

public:
    static constexpr int permissionPollMs = 2000;
    static constexpr int webContentRetryMs = 250;
    static constexpr const char* launchAtLoginDefaultAppliedKey = "pimsel.launchAtLoginDefaultApplied";
    static constexpr const char* setupCompletedKey = "pimsel.setupCompleted";

    explicit PimselCore(QObject* parent = nullptr);
    ~PimselCore() override;

    // Runs once; later calls do nothing.
    void start();
    void startEventTapIfPossible();

    bool hasStarted() const { return m_hasStarted; }
    bool isQuitting() const { return m_isQuitting; }
    bool isPermissionPollRunning() const;

    SettingsStore& settings() const { return *m_settings; }
    PermissionsController& permissions() const { return *m_permissions; }
    EmojiStore& store() const { return *m_store; }
    FrontmostApplication& frontmost() const { return *m_frontmost; }
    AutocompleteCoordinator& coordinator() const { return *m_coordinator; }
    StickerStore& stickerStore() const { return *m_stickerStore; }
    StickerPickerWindowController& stickerPicker() const { return *m_stickerPicker; }
    EventTapManager& eventTap() const { return *m_eventTap; }
    StatusMonitor& status() const { return *m_status; }
    UpdateController& updates() const { return *m_updates; }
    StatusBarController* statusBar() const { return m_statusBar.get(); }
    // Made on first use, then kept.
    PreferencesWindowController& preferences();
    // None until the window is first asked for.
    OnboardingWindowController* onboarding() const { return m_onboarding.get(); }

public Q_SLOTS:
    // The shell's actions: what the tray, a later start of `pimsel` and the windows ask for.
    void showOnboarding();
    void openPreferences();
    // A later start of `pimsel`: the open windows come to the front, or onboarding when none is open.
    void reopen();
    void handle(pimsel::ShellRequest request);

Q_SIGNALS:
    void started();

private:
    void startPermissionTimer();
    void permissionTick();
    // fcitx5 with Pimsel's module came or went: while it is there, it handles the keys.
    void setInputMethodActive(bool active);
    bool bothPermissionsGranted() const;
    void markSetupCompletedIfGranted();
    void reportIncompleteSetup();
    void applicationActivated();
    void askForWebContent(std::optional<qint64> pid);
    void applicationUnreachable(qint64 pid, bool reachable);

    // Declaration order is construction order (and the reverse is destruction order).
    std::unique_ptr<QSettings> m_defaults;
    std::unique_ptr<XdgAutostart> m_loginItems;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<PermissionsController> m_permissions;
    std::unique_ptr<EmojiStore> m_store;
    std::unique_ptr<FrontmostApplication> m_frontmost;
    std::unique_ptr<OwnFocusContext> m_ownFocus;
    std::unique_ptr<FocusContextProvider> m_focus;
    std::unique_ptr<SuggestionWindowController> m_suggestions;
    std::unique_ptr<EmojiBrowserWindowController> m_browser;
    std::unique_ptr<ClipboardManager> m_clipboard;
    // Before the synthesiser: its keys are entered in the hook's ledger of own events.
    std::unique_ptr<EventTapManager> m_eventTap;
    std::unique_ptr<KeyboardSynthesizer> m_synthesizer;
    std::unique_ptr<StickerStore> m_stickerStore;
    std::unique_ptr<StickerCommandDetector> m_stickerDetector;
    std::unique_ptr<StickerCommandDetector> m_giphyDetector;
    // None without a configured key: "/gif" then never opens.
    std::unique_ptr<GiphyClient> m_giphyClient;
    std::unique_ptr<UpdateController> m_updates;
    std::unique_ptr<TokenBuffer> m_tokenBuffer;
    std::unique_ptr<AppExclusionManager> m_exclusions;
    std::unique_ptr<InsertionController> m_inserter;
    std::unique_ptr<StatusMonitor> m_status;
    std::unique_ptr<StickerPickerWindowController> m_stickerPicker;
    std::unique_ptr<StickerInsertionController> m_stickerInserter;
    std::unique_ptr<AutocompleteCoordinator> m_coordinator;
    std::unique_ptr<StatusBarController> m_statusBar;
    std::unique_ptr<PreferencesWindowController> m_preferences;
    std::unique_ptr<OnboardingWindowController> m_onboarding;
    std::unique_ptr<InputMethodBrowser> m_inputMethodBrowser;
    QTimer* m_permissionTimer = nullptr;
    bool m_inputMethodActive = false;
    // The process named as needing a restart, until it is gone.
    std::optional<qint64> m_unreachablePid;
    bool m_hasStarted = false;
    bool m_isQuitting = false;
};

} // namespace pimsel

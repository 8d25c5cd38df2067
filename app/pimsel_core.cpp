#include "app/pimsel_core.h"

#include "app/input_method_browser.h"
#include "app/onboarding_window_controller.h"
#include "app/preferences_window_controller.h"
#include "app/status_bar_controller.h"
#include "app/update_controller.h"
#include "engine/autocomplete_coordinator.h"
#include "engine/command_detector.h"
#include "engine/emoji_store.h"
#include "engine/settings_file.h"
#include "engine/settings_location.h"
#include "engine/settings_store.h"
#include "engine/token_buffer.h"
#include "platform/app_exclusion_manager.h"
#include "platform/clipboard_manager.h"
#include "platform/display_session.h"
#include "platform/event_tap_manager.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "platform/insertion_controller.h"
#include "platform/keyboard_synthesizer.h"
#include "platform/permissions_controller.h"
#include "platform/status_monitor.h"
#include "platform/sticker_insertion_controller.h"
#include "platform/xdg_autostart.h"
#include "stickers/giphy_client.h"
#include "stickers/sticker_config.h"
#include "stickers/sticker_store.h"
#include "ui/emoji_browser_window_controller.h"
#include "ui/own_focus_context.h"
#include "ui/sticker_picker_window_controller.h"
#include "ui/sticker_preview.h"
#include "ui/suggestion_window_controller.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace pimsel {

Q_LOGGING_CATEGORY(startupLog, "pimsel.startup", QtInfoMsg)

namespace {

constexpr int browserPrepareDelayMs = 500;

bool isOrdinary(Qt::WindowType type) {
    return type == Qt::Window || type == Qt::Dialog;
}

// Whether `window` is one of our titled windows (onboarding, preferences, a dialog) rather than a
// panel (the popover, the emoji browser, the sticker picker).
bool isOrdinaryOwnWindow(quint32 window) {
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.cbegin(), windows.cend(), [window](const QWindow* w) {
        return w->handle() != nullptr && w->winId() == window && isOrdinary(w->type());
    });
}

// Under Wayland no client sees other applications' keys: there is no hook to start, nor any
// permission to wait for; fcitx5's module takes the keys.
bool hookPossible() {
    return !isWaylandSession();
}

void reportKeyRoute(bool inputMethod) {
    qCInfo(inputLog, "fcitx5 with Pimsel's module %s",
           inputMethod ? "handles the keys: the hook stands down" : "is gone: the hook takes the keys again");
}

} // namespace

PimselCore::PimselCore(QObject* parent)
    : QObject(parent) {
    m_defaults = openUserSettings();
    m_loginItems = std::make_unique<XdgAutostart>();
    m_settings = std::make_unique<SettingsStore>(m_defaults.get(), m_loginItems.get());
    m_permissions = std::make_unique<PermissionsController>();
    m_store = std::make_unique<EmojiStore>(m_defaults.get());
    // The focus queries find the focused element through the active window, so the watcher of the
    // active window comes first.
    m_frontmost = std::make_unique<FrontmostApplication>();
    // Our own windows are answered for from their widgets: asked over the bus, this thread would
    // wait on itself.
    m_ownFocus = std::make_unique<OwnFocusContext>();
    m_focus = std::make_unique<FocusContextProvider>(m_frontmost->activeWindowSource(),
                                                     FocusContextProvider::defaultBudgetMs);
    m_focus->setOwnWindowAnswers(m_ownFocus.get());
    m_focus->setUnreachableReporter(
        [this](qint64 pid, bool reachable) { applicationUnreachable(pid, reachable); });
    m_suggestions = std::make_unique<SuggestionWindowController>();
    FrontmostApplication* frontmost = m_frontmost.get();
    m_browser = std::make_unique<EmojiBrowserWindowController>(
        WindowActivation{[frontmost] { return quint32(frontmost->activeWindow()); },
                         [frontmost](quint32 window) { frontmost->activateWindow(window); }});
    m_clipboard = std::make_unique<ClipboardManager>();
    m_eventTap = std::make_unique<EventTapManager>();
    m_synthesizer = std::make_unique<KeyboardSynthesizer>(m_eventTap->ownEvents());
    const StickerServiceConfig stickerConfig = StickerServiceConfig::fromBuildAndEnvironment();
    m_stickerStore = std::make_unique<StickerStore>(m_defaults.get(), stickerConfig.cdnBase);
    m_stickerDetector = std::make_unique<StickerCommandDetector>(QStringLiteral("/sticker"));
    m_giphyDetector = std::make_unique<StickerCommandDetector>(QStringLiteral("/gif"));
    m_giphyClient = GiphyClient::fromConfig(stickerConfig);
    m_updates = std::make_unique<UpdateController>(m_defaults.get(), UpdateController::defaultOptions());
    SettingsStore* settings = m_settings.get();
    m_tokenBuffer = std::make_unique<TokenBuffer>([settings] { return settings->triggerCharacter(); });
    static_assert(TokenBuffer::maxQueryLength == 64);
    m_exclusions = std::make_unique<AppExclusionManager>(*m_settings);
    m_inserter = std::make_unique<InsertionController>(*m_synthesizer, *m_clipboard);
    static_assert(InsertionController::clipboardRestoreDelay == std::chrono::milliseconds(400));
    m_status = std::make_unique<StatusMonitor>(*m_settings, *m_exclusions, *m_focus, *m_frontmost);
    QPointer<StickerStore> stickerStore(m_stickerStore.get());
    PreviewFileFetch fetchPreview = [stickerStore](const StickerEntry& entry,
                                                   std::function<void(std::optional<QUrl>)> done) {
        if (stickerStore)
            stickerStore->fetchThumbnail(entry, std::move(done));
    };
    // Previews are decoded at the size the grid paints them on this screen, no larger.
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    m_stickerPicker = std::make_unique<StickerPickerWindowController>(
        makeStickerImageLoader(std::move(fetchPreview), PreviewSizes::forDevicePixelRatio(dpr)),
        WindowActivation{[frontmost] { return quint32(frontmost->activeWindow()); },
                         [frontmost](quint32 window) { frontmost->activateWindow(window); }});
    m_stickerInserter = std::make_unique<StickerInsertionController>(
        *m_synthesizer, *m_clipboard, [stickerStore](const QUrl& file) {
            return stickerStore ? stickerStore->stagedForPaste(file) : file;
        });
    static_assert(StickerInsertionController::clipboardRestoreDelay == std::chrono::milliseconds(600));
    GiphySearch giphySearch;
    if (m_giphyClient) {
        QPointer<GiphyClient> client(m_giphyClient.get());
        giphySearch = [client](const QString& query, GiphySearchCompletion completion) {
            if (client)
                client->search(query, std::move(completion));
        };
    }
    m_coordinator = std::make_unique<AutocompleteCoordinator>(
        *m_settings, *m_store, *m_tokenBuffer, *m_focus, *m_exclusions, *m_suggestions, *m_browser,
        *m_inserter, *m_frontmost, *m_synthesizer, *m_stickerDetector, *m_giphyDetector,
        AppExclusionManager::messagingAppIds(),
        StickerServices{m_stickerStore.get(), m_stickerPicker.get(), m_stickerInserter.get(),
                        std::move(giphySearch)});
}

PimselCore::~PimselCore() {
    // Keys the hook delivers from now on must not reach a coordinator that is being torn down.
    if (m_eventTap)
        m_eventTap->setHandler(nullptr);
    if (m_permissionTimer)
        m_permissionTimer->stop();
    m_statusBar.reset();
    m_onboarding.reset();
    if (m_defaults)
        m_defaults->sync();
}

void PimselCore::start() {
    if (m_hasStarted)
        return;
    m_hasStarted = true;

    m_store->reload(m_settings->customAliases());
    m_stickerStore->load();
    connect(m_settings.get(), &SettingsStore::customAliasesChanged, this,
            [this] { m_store->reload(m_settings->customAliases()); });

    if (!m_defaults->value(QLatin1String(launchAtLoginDefaultAppliedKey), false).toBool()) {
        writeSetting(*m_defaults, QLatin1String(launchAtLoginDefaultAppliedKey), true);
        m_settings->setLaunchAtLogin(true);
    }

    StatusBarController::Hooks hooks;
    QPointer<PimselCore> self(this);
    hooks.openPreferences = [self] {
        if (self)
            self->openPreferences();
    };
    hooks.openOnboarding = [self] {
        if (self)
            self->showOnboarding();
    };
    hooks.terminate = [self] {
        if (self)
            self->m_isQuitting = true;
        QCoreApplication::quit();
    };
    m_statusBar = std::make_unique<StatusBarController>(*m_status, *m_settings, *m_permissions,
                                                        m_updates.get(), std::move(hooks));

    m_eventTap->setHandler(m_coordinator.get());
    connect(m_coordinator.get(), &AutocompleteCoordinator::swallowableKeysChanged, m_eventTap.get(),
            &EventTapManager::refreshGrabs);

    // A hook that loses its display connection is installed again by the permission poll; until
    // then the tray must not claim that Pimsel is at work.
    connect(m_eventTap.get(), &EventTapManager::isRunningChanged, this, [this](bool running) {
        const bool lost = !running && !m_inputMethodActive;
        m_status->setInputLost(lost);
        if (lost && !isPermissionPollRunning())
            startPermissionTimer();
    });

    // With fcitx5 running Pimsel's module, every key that reaches an input context is handled there
    // already; the hook would replace the same shortcode a second time.
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* inputMethod =
        new QDBusServiceWatcher(inputMethodBusName(), bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(inputMethod, &QDBusServiceWatcher::serviceRegistered, this,
            [this] { setInputMethodActive(true); });
    connect(inputMethod, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { setInputMethodActive(false); });
    m_permissions->refresh();
    m_inputMethodActive = m_permissions->keysThroughInputMethod();
    // A module found running at start leaves the hook unstarted, and nothing else would say why.
    if (m_inputMethodActive && hookPossible())
        reportKeyRoute(true);
    // The module's double trigger opens the browser through this.
    m_inputMethodBrowser = std::make_unique<InputMethodBrowser>(*m_browser, *m_store, *m_settings);
    if (!m_inputMethodBrowser->publish())
        qCWarning(inputLog, "the emoji browser cannot be offered on the session bus: \"::\" in fcitx5 "
                            "types the triggers");

    startEventTapIfPossible();

    connect(m_frontmost.get(), &FrontmostApplication::frontmostApplicationChanged, this,
            &PimselCore::applicationActivated);
    // The application already in front is never announced: a browser there is asked for its page now.
    askForWebContent(m_frontmost->activeProcessId());

    startPermissionTimer();
    m_updates->start();
    // The browser's first opening would otherwise decode the colour emoji font while the user
    // waits for it; that work is done in idle slices once start-up has settled.
    QTimer::singleShot(browserPrepareDelayMs, this, [this] {
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        connect(
            m_browser.get(), &EmojiBrowserWindowController::prepared, this,
            [clock] { qCInfo(startupLog, "emoji browser prepared in %lld ms", clock->elapsed()); },
            Qt::SingleShotConnection);
        m_browser->prepare(m_store->entries());
    });
    Q_EMIT started();

    if (bothPermissionsGranted()) {
        markSetupCompletedIfGranted();
        return;
    }
    if (!m_defaults->value(QLatin1String(setupCompletedKey), false).toBool())
        reportIncompleteSetup();
}

PreferencesWindowController& PimselCore::preferences() {
    if (!m_preferences) {
        m_preferences = std::make_unique<PreferencesWindowController>(*m_settings, *m_permissions, *m_store,
                                                                      m_updates.get());
        connect(m_preferences.get(), &PreferencesWindowController::openSetupRequested, this,
                &PimselCore::showOnboarding);
    }
    return *m_preferences;
}

void PimselCore::setInputMethodActive(bool active) {
    if (active == m_inputMethodActive)
        return;
    m_inputMethodActive = active;
    reportKeyRoute(active);
    // The setup window and the tray name the route the keys take; under Wayland the module is the
    // only one, and no poll would notice it come or go.
    m_permissions->refresh();
    markSetupCompletedIfGranted();
    if (active) {
        m_eventTap->stop();
        return;
    }
    startEventTapIfPossible();
    if (!m_eventTap->isRunning() && !isPermissionPollRunning())
        startPermissionTimer();
}

void PimselCore::startEventTapIfPossible() {
    if (m_inputMethodActive || !hookPossible() || !m_permissions->inputMonitoringGranted() ||
        m_eventTap->isRunning())
        return;
    const bool tapStarted = m_eventTap->start();
    qCInfo(inputLog, "startEventTapIfPossible: inputMonitoringGranted=true tapStarted=%s",
           tapStarted ? "true" : "false");
}

bool PimselCore::isPermissionPollRunning() const {
    return m_permissionTimer != nullptr && m_permissionTimer->isActive();
}

void PimselCore::startPermissionTimer() {
    if (!hookPossible())
        return;
    if (m_permissionTimer)
        m_permissionTimer->deleteLater();
    m_permissionTimer = new QTimer(this);
    m_permissionTimer->setInterval(permissionPollMs);
    connect(m_permissionTimer, &QTimer::timeout, this, &PimselCore::permissionTick);
    m_permissionTimer->start();
}

void PimselCore::permissionTick() {
    m_permissions->refresh();
    startEventTapIfPossible();
    markSetupCompletedIfGranted();
    if ((m_eventTap->isRunning() || m_inputMethodActive) && bothPermissionsGranted()) {
        m_permissionTimer->stop();
        m_permissionTimer->deleteLater();
        m_permissionTimer = nullptr;
    }
}

bool PimselCore::bothPermissionsGranted() const {
    return m_permissions->accessibilityGranted() && m_permissions->inputMonitoringGranted();
}

void PimselCore::markSetupCompletedIfGranted() {
    // Every start and every permission poll gets here; writing the flag again would rewrite the
    // user's file each time.
    if (bothPermissionsGranted() && !m_defaults->value(QLatin1String(setupCompletedKey), false).toBool())
        writeSetting(*m_defaults, QLatin1String(setupCompletedKey), true);
}

void PimselCore::reportIncompleteSetup() {
    qCInfo(permissionsLog).nospace() << "Setup is incomplete (accessibility "
                                     << (m_permissions->accessibilityGranted() ? "granted" : "missing")
                                     << ", input monitoring "
                                     << (m_permissions->inputMonitoringGranted() ? "granted" : "missing")
                                     << "): showing the setup window";
    showOnboarding();
}

void PimselCore::showOnboarding() {
    if (!m_onboarding) {
        m_onboarding = std::make_unique<OnboardingWindowController>(*m_permissions, m_updates.get());
        connect(m_onboarding.get(), &OnboardingWindowController::preferencesRequested, this,
                &PimselCore::openPreferences);
    }
    m_onboarding->show();
}

void PimselCore::reopen() {
    bool raised = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || !isOrdinary(window->windowType()))
            continue;
        window->raise();
        window->activateWindow();
        raised = true;
    }
    if (!raised)
        showOnboarding();
}

void PimselCore::handle(ShellRequest request) {
    switch (request) {
    case ShellRequest::reopen:
        reopen();
        return;
    case ShellRequest::preferences:
        openPreferences();
        return;
    case ShellRequest::setup:
        showOnboarding();
        return;
    }
}

void PimselCore::openPreferences() {
    preferences().show();
}

void PimselCore::applicationActivated() {
    // Our own panels (the emoji browser takes the keyboard) are not another application: cancelling
    // here would close the browser the moment it opened. Our titled windows are: a shortcode typed
    // elsewhere must not be completed in the onboarding field.
    const std::optional<qint64> pid = m_frontmost->activeProcessId();
    if (pid && *pid == QCoreApplication::applicationPid() &&
        !isOrdinaryOwnWindow(m_frontmost->activeWindow()))
        return;
    m_coordinator->cancel();
    if (m_unreachablePid && !QFileInfo::exists(QStringLiteral("/proc/%1").arg(*m_unreachablePid))) {
        m_unreachablePid.reset();
        m_permissions->setApplicationNeedingRestart(QString());
    }
    askForWebContent(pid);
}

void PimselCore::askForWebContent(std::optional<qint64> pid) {
    // A browser's window shows before the browser has joined the accessibility bus: ask again until
    // it has, or until it counts as started without accessibility, as long as it stays in front.
    if (!m_focus->applicationActivated())
        return;
    QTimer::singleShot(webContentRetryMs, this, [this, pid] {
        if (m_frontmost->activeProcessId() == pid)
            askForWebContent(pid);
    });
}

void PimselCore::applicationUnreachable(qint64 pid, bool reachable) {
    if (reachable) {
        if (m_unreachablePid == pid) {
            m_unreachablePid.reset();
            m_permissions->setApplicationNeedingRestart(QString());
        }
        return;
    }
    const std::optional<QString> id = m_frontmost->frontmostApplicationId();
    const QString name = id ? m_frontmost->displayName(*id).value_or(*id) : tr("the active application");
    qCInfo(permissionsLog).nospace() << name << " (process " << pid
                                     << ") started while accessibility was off: restarting it fixes that";
    m_unreachablePid = pid;
    m_permissions->setApplicationNeedingRestart(name);
}

} // namespace pimsel

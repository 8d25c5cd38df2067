#pragma once

#include "platform/activation_status.h"
#include "ui/tray_icon_renderer.h"

#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace pimsel {

Q_DECLARE_LOGGING_CATEGORY(statusMenuLog)

class PermissionsController;
class SettingsStore;
class StatusMonitor;
class UpdateController;

// The tray item and its menu: the icon (dimmed with a slash while autocomplete is off here, badged
// while an update waits), its tooltip, and the menu through which the user switches autocomplete,
// finishes setup, opens the windows, checks for updates and quits. The menu is built once; only
// titles, visibility and the check mark change afterwards.
class StatusBarController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString toolTip READ toolTip NOTIFY iconChanged)
    Q_PROPERTY(bool isQuitting READ isQuitting)

public:
    // What the composition root supplies. Empty preferences / onboarding hooks only log the request;
    // an empty terminate hook quits the application.
    struct Hooks {
        std::function<void()> openPreferences;
        std::function<void()> openOnboarding;
        // Runs after isQuitting is set, so the termination handling can tell the user's own quit.
        std::function<void()> terminate;
    };

    // Every collaborator must outlive the controller. `updates` may be null (no updater in this
    // build): then "Check for Updates…" and the update row do nothing.
    StatusBarController(StatusMonitor& status, SettingsStore& settings, PermissionsController& permissions,
                        UpdateController* updates, Hooks hooks = {}, QObject* parent = nullptr);
    ~StatusBarController() override;

    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* menu() const { return m_menu; }
    QString toolTip() const { return m_toolTip; }
    bool isQuitting() const { return m_isQuitting; }
    // Whether the icon currently shows the slash / the badge.
    bool isIconDimmed() const { return m_iconDimmed; }
    bool isIconBadged() const { return m_iconBadged; }
    // The icon as last drawn, at `pixelSize`; null when the artwork is missing.
    QImage iconImage(int pixelSize) const;
    const TrayIconRenderer& iconRenderer() const { return m_renderer; }

    // The stored rows, for the composition root and tests.
    QAction* updateItem() const { return m_updateItem; }
    QAction* updateSeparator() const { return m_updateSeparator; }
    QAction* headerItem() const { return m_headerItem; }
    QAction* headerSeparator() const { return m_headerSeparator; }
    QAction* enabledItem() const { return m_enabledItem; }
    QAction* finishSetupItem() const { return m_finishSetupItem; }
    QAction* preferencesItem() const { return m_preferencesItem; }
    QAction* testItem() const { return m_testItem; }
    QAction* checkForUpdatesItem() const { return m_checkForUpdatesItem; }
    QAction* privacyItem() const { return m_privacyItem; }
    QAction* quitItem() const { return m_quitItem; }

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

public Q_SLOTS:
    void refreshMenu();
    void drawIcon();
    // The menu is about to open: permissions and status may have changed behind our back.
    void menuWillOpen();

    void installUpdate();
    void toggleEnabled();
    void openPreferences();
    void openOnboarding();
    void checkForUpdates();
    void quit();

Q_SIGNALS:
    void iconChanged();

private:
    QString availableVersion() const;
    ActivationStatus currentStatus() const;
    static QString inputLostText();
    // What the user must do about an application that cannot be read; empty when nothing.
    QString restartNote() const;

    StatusMonitor& m_status;
    SettingsStore& m_settings;
    PermissionsController& m_permissions;
    UpdateController* m_updates;
    Hooks m_hooks;
    TrayIconRenderer m_renderer;

    QSystemTrayIcon* m_tray = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_updateItem = nullptr;
    QAction* m_updateSeparator = nullptr;
    QAction* m_headerItem = nullptr;
    QAction* m_headerSeparator = nullptr;
    QAction* m_enabledItem = nullptr;
    QAction* m_finishSetupItem = nullptr;
    QAction* m_preferencesItem = nullptr;
    QAction* m_testItem = nullptr;
    QAction* m_checkForUpdatesItem = nullptr;
    QAction* m_privacyItem = nullptr;
    QAction* m_quitItem = nullptr;

    QString m_toolTip;
    bool m_iconDimmed = false;
    bool m_iconBadged = false;
    bool m_isQuitting = false;
};

} // namespace pimsel

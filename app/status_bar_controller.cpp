#include "app/status_bar_controller.h"

#include "app/update_controller.h"
#include "engine/settings_store.h"
#include "platform/permissions_controller.h"
#include "platform/status_monitor.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QSystemTrayIcon>

namespace pimsel {

Q_LOGGING_CATEGORY(statusMenuLog, "pimsel.statusmenu", QtInfoMsg)

StatusBarController::StatusBarController(StatusMonitor& status, SettingsStore& settings,
                                         PermissionsController& permissions, UpdateController* updates,
                                         Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_settings(settings)
    , m_permissions(permissions)
    , m_updates(updates)
    , m_hooks(std::move(hooks))
    , m_tray(new QSystemTrayIcon(this))
    , m_menu(new QMenu) {
    m_updateItem = m_menu->addAction(QString(), this, &StatusBarController::installUpdate);
    m_updateSeparator = m_menu->addSeparator();
    m_headerItem = m_menu->addAction(QString());
    m_headerItem->setEnabled(false);
    m_headerSeparator = m_menu->addSeparator();
    m_enabledItem = m_menu->addAction(tr("Enabled"), this, &StatusBarController::toggleEnabled);
    m_enabledItem->setCheckable(true);
    m_menu->addSeparator();
    m_finishSetupItem = m_menu->addAction(tr("Finish Setup…"), this, &StatusBarController::openOnboarding);
    m_preferencesItem = m_menu->addAction(tr("Preferences…"), this, &StatusBarController::openPreferences);
    m_preferencesItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_testItem = m_menu->addAction(tr("Test Pimsel…"), this, &StatusBarController::openOnboarding);
    m_checkForUpdatesItem =
        m_menu->addAction(tr("Check for Updates…"), this, &StatusBarController::checkForUpdates);
    m_menu->addSeparator();
    m_privacyItem = m_menu->addAction(tr("Privacy: Local Only"));
    m_privacyItem->setEnabled(false);
    m_quitItem = m_menu->addAction(tr("Quit Pimsel"), this, &StatusBarController::quit);

    connect(m_menu, &QMenu::aboutToShow, this, &StatusBarController::menuWillOpen);
    m_tray->setContextMenu(m_menu);
    // A left click on the item opens the same menu where the tray does not do so by itself.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !m_menu->isVisible())
            m_menu->popup(QCursor::pos());
    });

    drawIcon();
    refreshMenu();

    // Both streams arrive through the event loop, so a change made from inside a menu action is
    // drawn after the action has returned.
    const auto redraw = [this] {
        drawIcon();
        refreshMenu();
    };
    connect(&m_status, &StatusMonitor::statusChanged, this, redraw, Qt::QueuedConnection);
    connect(&m_permissions, &PermissionsController::applicationNeedingRestartChanged, this, redraw,
            Qt::QueuedConnection);
    connect(&m_permissions, &PermissionsController::keysThroughInputMethodChanged, this, redraw,
            Qt::QueuedConnection);
    if (m_updates)
        connect(m_updates, &UpdateController::availableVersionChanged, this, redraw, Qt::QueuedConnection);

    m_tray->show();
}

StatusBarController::~StatusBarController() {
    m_tray->setContextMenu(nullptr);
    delete m_menu;
}

QString StatusBarController::availableVersion() const {
    return m_updates ? m_updates->availableVersion() : QString();
}

QString StatusBarController::inputLostText() {
    return tr("Keyboard input lost — reconnecting…");
}

ActivationStatus StatusBarController::currentStatus() const {
    return m_status.status();
}

QString StatusBarController::restartNote() const {
    const QString name = m_permissions.applicationNeedingRestart();
    if (name.isEmpty())
        return {};
    return tr("Restart %1 to use Pimsel in it: it started before accessibility was on").arg(name);
}

void StatusBarController::refreshMenu() {
    const QString version = availableVersion();
    const bool hasUpdate = !version.isEmpty();
    m_updateItem->setText(hasUpdate ? tr("Update to v%1").arg(version) : QString());
    m_updateItem->setVisible(hasUpdate);
    m_updateSeparator->setVisible(hasUpdate);

    const ActivationStatus status = currentStatus();
    // A lost keyboard first, as nothing works without it; then what the user can act on before
    // what is merely so.
    QString header = status.kind == ActivationStatus::Kind::inputLost ? inputLostText() : restartNote();
    if (header.isEmpty() && status.kind == ActivationStatus::Kind::disabledInApp)
        header = tr("Disabled in %1").arg(status.detail);
    else if (header.isEmpty() && status.kind == ActivationStatus::Kind::disabledOnSite)
        header = tr("Disabled on %1").arg(status.detail);
    m_headerItem->setText(header);
    m_headerItem->setVisible(!header.isEmpty());
    m_headerSeparator->setVisible(!header.isEmpty());

    m_enabledItem->setChecked(m_settings.enabled());
    m_finishSetupItem->setVisible(
        !(m_permissions.accessibilityGranted() && m_permissions.inputMonitoringGranted()));
}

void StatusBarController::drawIcon() {
    const ActivationStatus status = currentStatus();
    const bool hasUpdate = !availableVersion().isEmpty();
    m_iconDimmed = !status.isActive();
    m_iconBadged = hasUpdate;
    m_tray->setIcon(m_renderer.icon(m_iconDimmed, m_iconBadged));

    const QString previous = m_toolTip;
    if (hasUpdate)
        m_toolTip = tr("Pimsel — update available");
    else if (status.kind == ActivationStatus::Kind::inputLost)
        m_toolTip = inputLostText();
    else if (const QString note = restartNote(); !note.isEmpty())
        m_toolTip = note;
    else if (status.kind == ActivationStatus::Kind::disabledInApp)
        m_toolTip = tr("Disabled in %1").arg(status.detail);
    else if (status.kind == ActivationStatus::Kind::disabledOnSite)
        m_toolTip = tr("Disabled on %1").arg(status.detail);
    else if (m_permissions.keysThroughInputMethod())
        m_toolTip = tr("Pimsel — keys through fcitx5");
    else
        m_toolTip = QStringLiteral("Pimsel");
    m_tray->setToolTip(m_toolTip);
    if (m_toolTip != previous)
        qCInfo(statusMenuLog) << "Status:" << m_toolTip;
    Q_EMIT iconChanged();
}

QImage StatusBarController::iconImage(int pixelSize) const {
    return m_renderer.render(pixelSize, m_iconDimmed, m_iconBadged);
}

void StatusBarController::menuWillOpen() {
    m_permissions.refresh();
    m_status.refresh();
    refreshMenu();
}

void StatusBarController::installUpdate() {
    // The reminder leads to the update dialog, as the menu's own check does; the dialog offers the
    // download, and once it has shown the release the badge goes.
    checkForUpdates();
}

void StatusBarController::toggleEnabled() {
    m_settings.setEnabled(!m_settings.enabled());
    // The check mark must follow the setting even if the status happens not to change.
    m_enabledItem->setChecked(m_settings.enabled());
}

void StatusBarController::openPreferences() {
    if (m_hooks.openPreferences)
        m_hooks.openPreferences();
    else
        qCInfo(statusMenuLog) << "Preferences requested; no preferences window is available";
}

void StatusBarController::openOnboarding() {
    if (m_hooks.openOnboarding)
        m_hooks.openOnboarding();
    else
        qCInfo(statusMenuLog) << "Onboarding requested; no onboarding window is available";
}

void StatusBarController::checkForUpdates() {
    if (m_updates)
        m_updates->checkForUpdates();
}

void StatusBarController::quit() {
    m_isQuitting = true;
    if (m_hooks.terminate)
        m_hooks.terminate();
    else
        QCoreApplication::quit();
}

} // namespace pimsel

#pragma once

#include "ui/preferences_form.h"

class QLabel;

namespace pimsel {

class PermissionsController;
class SettingsStore;
class SkinTonePicker;

// The master switch, launch at login, the default skin tone, the two permissions and updates.
class GeneralPreferencesPane : public preferences::Form {
    Q_OBJECT

public:
    // `updater` (may be null: no updates section) exposes the boolean property
    // "automaticallyChecksForUpdates" with a NOTIFY signal and the slot "checkForUpdates()".
    GeneralPreferencesPane(SettingsStore& settings, PermissionsController& permissions, QObject* updater,
                           QWidget* parent = nullptr);

    preferences::Switch* enabledSwitch() const { return m_enabled; }
    preferences::Switch* launchAtLoginSwitch() const { return m_launchAtLogin; }
    preferences::Switch* updatesSwitch() const { return m_updates; }
    SkinTonePicker* skinTonePicker() const { return m_tones; }
    // "Granted" or "Not granted".
    QString accessibilityState() const;
    QString inputMonitoringState() const;

Q_SIGNALS:
    // "Open Setup…": the onboarding window is the shell's to show.
    void openSetupRequested();

private:
    QLabel* addPermissionRow(QVBoxLayout* section, const QString& title, const QString& text);
    void rereadPermissions();

    PermissionsController& m_permissions;
    preferences::Switch* m_enabled;
    preferences::Switch* m_launchAtLogin;
    preferences::Switch* m_updates = nullptr;
    SkinTonePicker* m_tones;
    QLabel* m_accessibility = nullptr;
    QLabel* m_inputMonitoring = nullptr;
};

} // namespace pimsel

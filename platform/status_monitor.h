#pragma once

#include "engine/activation_policy.h"
#include "engine/ports.h"
#include "platform/activation_status.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace pimsel {

class ApplicationWatching;
class SettingsStore;

// Publishes whether autocomplete works in the frontmost application, recomputed when the global
// switch changes, when another application comes to the front, every `sitePollInterval` while a
// browser is frontmost and a website is disabled, and on demand (the status menu opening).
class StatusMonitor : public QObject {
    Q_OBJECT
    Q_PROPERTY(pimsel::ActivationStatus status READ status NOTIFY statusChanged)

public:
    static constexpr int defaultSitePollIntervalMs = 2000;

    // Every collaborator must outlive the monitor. The first status is computed at once.
    StatusMonitor(SettingsStore& settings, const AppExclusionChecking& exclusions,
                  FocusContextProviding& focus, ApplicationWatching& applications, QObject* parent = nullptr,
                  int sitePollIntervalMs = defaultSitePollIntervalMs);
    ~StatusMonitor() override;

    ActivationStatus status() const { return m_status; }
    bool isSitePollRunning() const;
    std::optional<QString> lastKnownHost() const { return m_lastKnownHost; }

public Q_SLOTS:
    void refresh();
    // Set while the keyboard hook is down after losing its display connection.
    void setInputLost(bool lost);

Q_SIGNALS:
    void statusChanged(const pimsel::ActivationStatus& status);

private:
    ActivationStatus computeStatus(const std::optional<QString>& appId);
    void updateSitePoll();

    SettingsStore& m_settings;
    const AppExclusionChecking& m_exclusions;
    ApplicationWatching& m_applications;
    ActivationPolicy m_policy;
    ActivationStatus m_status;
    QTimer* m_siteTimer = nullptr;
    std::optional<QString> m_lastKnownHost;
    int m_sitePollIntervalMs;
    bool m_inputLost = false;
};

} // namespace pimsel

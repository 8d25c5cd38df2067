#include "platform/status_monitor.h"

#include "engine/settings_store.h"
#include "platform/application_watching.h"
#include "platform/normalized_domain.h"

#include <QTimer>
#include <QUrl>

namespace pimsel {

StatusMonitor::StatusMonitor(SettingsStore& settings, const AppExclusionChecking& exclusions,
                             FocusContextProviding& focus, ApplicationWatching& applications, QObject* parent,
                             int sitePollIntervalMs)
    : QObject(parent)
    , m_settings(settings)
    , m_exclusions(exclusions)
    , m_focus(focus)
    , m_applications(applications)
    , m_sitePollIntervalMs(sitePollIntervalMs) {
    // Queued: the switch's new value is delivered from the event loop, after the writer returns,
    // and nothing arrives once the monitor is gone.
    connect(&m_settings, &SettingsStore::enabledChanged, this, &StatusMonitor::refresh, Qt::QueuedConnection);
    connect(&m_applications, &ApplicationWatching::frontmostApplicationChanged, this,
            &StatusMonitor::refresh);
    refresh();
}

StatusMonitor::~StatusMonitor() = default;

bool StatusMonitor::isSitePollRunning() const {
    return m_siteTimer != nullptr && m_siteTimer->isActive();
}

void StatusMonitor::refresh() {
    const std::optional<QString> appId = m_applications.frontmostApplicationId();
    if (!m_exclusions.shouldCheckSite(appId))
        m_lastKnownHost.reset();

    const ActivationStatus next = computeStatus(appId);
    if (next != m_status) {
        m_status = next;
        Q_EMIT statusChanged(m_status);
    }
    updateSitePoll();
}

void StatusMonitor::setInputLost(bool lost) {
    m_inputLost = lost;
    refresh();
}

ActivationStatus StatusMonitor::computeStatus(const std::optional<QString>& appId) {
    if (!m_settings.enabled())
        return ActivationStatus::disabledGlobally();
    if (m_inputLost)
        return ActivationStatus::inputLost();
    if (!appId)
        return ActivationStatus::active();
    if (m_exclusions.isAppExcluded(appId)) {
        const std::optional<QString> name = m_applications.displayName(*appId);
        return ActivationStatus::disabledInApp(name && !name->isEmpty() ? *name : *appId);
    }
    if (m_exclusions.shouldCheckSite(appId)) {
        const std::optional<QString> host = currentHost();
        if (m_exclusions.isSiteDisabled(host)) {
            if (const std::optional<QString> domain = normalizedDomain(host))
                return ActivationStatus::disabledOnSite(*domain);
        }
    }
    return ActivationStatus::active();
}

// The browser's address is not always readable (a page loading, the address bar focused in a
// browser without accessibility for it); the last host read stands in until another application
// or an empty website list makes it meaningless.
std::optional<QString> StatusMonitor::currentHost() {
    if (const std::optional<QUrl> url = m_focus.currentBrowserURL()) {
        const QString host = url->host();
        if (!host.isEmpty()) {
            m_lastKnownHost = host;
            return host;
        }
    }
    return m_lastKnownHost;
}

void StatusMonitor::updateSitePoll() {
    if (m_exclusions.shouldCheckSite(m_applications.frontmostApplicationId())) {
        if (m_siteTimer == nullptr) {
            m_siteTimer = new QTimer(this);
            m_siteTimer->setInterval(m_sitePollIntervalMs);
            connect(m_siteTimer, &QTimer::timeout, this, &StatusMonitor::refresh);
            m_siteTimer->start();
        }
    } else if (m_siteTimer != nullptr) {
        m_siteTimer->stop();
        m_siteTimer->deleteLater();
        m_siteTimer = nullptr;
    }
}

} // namespace pimsel

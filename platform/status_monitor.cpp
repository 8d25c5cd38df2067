#include "platform/status_monitor.h"

#include "engine/settings_store.h"
#include "platform/application_watching.h"
#include "platform/normalized_domain.h"

#include <QTimer>

namespace pimsel {

StatusMonitor::StatusMonitor(SettingsStore& settings, const AppExclusionChecking& exclusions,
                             FocusContextProviding& focus, ApplicationWatching& applications, QObject* parent,
                             int sitePollIntervalMs)
    : QObject(parent)
    , m_settings(settings)
    , m_exclusions(exclusions)
    , m_applications(applications)
    , m_policy(settings, exclusions, focus)
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

// The browser's address is not always readable (a page loading, the address bar focused in a
// browser without accessibility for it); the last host read stands in until another application
// or an empty website list makes it meaningless.
ActivationStatus StatusMonitor::computeStatus(const std::optional<QString>& appId) {
    switch (m_policy.verdict(appId, m_inputLost, &m_lastKnownHost)) {
    case ActivationPolicy::Verdict::disabledGlobally:
        return ActivationStatus::disabledGlobally();
    case ActivationPolicy::Verdict::inputLost:
        return ActivationStatus::inputLost();
    case ActivationPolicy::Verdict::appExcluded: {
        const QString id = appId.value_or(QString());
        const std::optional<QString> name = m_applications.displayName(id);
        return ActivationStatus::disabledInApp(name && !name->isEmpty() ? *name : id);
    }
    case ActivationPolicy::Verdict::siteDisabled:
        if (const std::optional<QString> domain = normalizedDomain(m_lastKnownHost))
            return ActivationStatus::disabledOnSite(*domain);
        break;
    case ActivationPolicy::Verdict::active:
        break;
    }
    return ActivationStatus::active();
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

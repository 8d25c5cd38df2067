#include "engine/activation_policy.h"

#include "engine/settings_store.h"

#include <QUrl>

namespace pimsel {

ActivationPolicy::ActivationPolicy(const SettingsStore& settings, const AppExclusionChecking& exclusions,
                                   FocusContextProviding& focus)
    : m_settings(settings)
    , m_exclusions(exclusions)
    , m_focus(focus) {}

template <typename ReadApp>
ActivationPolicy::Verdict ActivationPolicy::applicationRules(ReadApp&& readApp, bool inputLost) const {
    if (!m_settings.enabled())
        return Verdict::disabledGlobally;
    if (inputLost)
        return Verdict::inputLost;
    if (m_exclusions.isAppExcluded(readApp()))
        return Verdict::appExcluded;
    return Verdict::active;
}

ActivationPolicy::Verdict ActivationPolicy::applicationVerdict(const std::optional<QString>& appId,
                                                               bool inputLost) const {
    return applicationRules([&appId] { return appId; }, inputLost);
}

ActivationPolicy::Verdict ActivationPolicy::applicationVerdict(const FrontmostApplicationProviding& frontmost,
                                                               std::optional<QString>& appId) const {
    return applicationRules([&] { return appId = frontmost.frontmostApplicationId(); }, false);
}

bool ActivationPolicy::isSiteDisabled(const std::optional<QString>& appId,
                                      std::optional<QString>* knownHost) const {
    if (!m_exclusions.shouldCheckSite(appId))
        return false;
    std::optional<QString> host;
    if (const std::optional<QUrl> url = m_focus.currentBrowserURL(); url && !url->host().isEmpty())
        host = url->host();
    if (knownHost) {
        if (host)
            *knownHost = host;
        else
            host = *knownHost;
    }
    return m_exclusions.isSiteDisabled(host);
}

ActivationPolicy::Verdict ActivationPolicy::verdict(const std::optional<QString>& appId, bool inputLost,
                                                    std::optional<QString>* knownHost) const {
    if (const Verdict first = applicationVerdict(appId, inputLost); first != Verdict::active)
        return first;
    return isSiteDisabled(appId, knownHost) ? Verdict::siteDisabled : Verdict::active;
}

} // namespace pimsel

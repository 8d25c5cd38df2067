#pragma once

#include "engine/ports.h"

#include <QString>

#include <optional>

namespace pimsel {

class SettingsStore;

// Whether autocomplete may act in the application that has the keyboard, and the first rule that
// says no. The key handler and the tray's status ask the same rules in the same order, so the tray
// never claims an activity the keys do not have, nor the other way round.
class ActivationPolicy {
public:
    enum class Verdict { active, disabledGlobally, inputLost, appExcluded, siteDisabled };

    // Every collaborator must outlive the policy.
    ActivationPolicy(const SettingsStore& settings, const AppExclusionChecking& exclusions,
                     FocusContextProviding& focus);

    // The global switch, the keyboard hook (`inputLost`: it is down) and the application. Cheap
    // enough for every key.
    Verdict applicationVerdict(const std::optional<QString>& appId, bool inputLost = false) const;
    // The same for a key: the application is read into `appId` only when the switch is on, since
    // the read may wait for the display.
    Verdict applicationVerdict(const FrontmostApplicationProviding& frontmost,
                               std::optional<QString>& appId) const;

    // Whether the web site in the frontmost browser is switched off. The address is read (an
    // accessibility query) only where the rule can apply to `appId` at all. `knownHost`, when given,
    // stands in for an address that cannot be read, and takes every host that is read.
    bool isSiteDisabled(const std::optional<QString>& appId,
                        std::optional<QString>* knownHost = nullptr) const;

    // Every rule in order. With a `knownHost`, it holds the host judged when the site is disabled.
    Verdict verdict(const std::optional<QString>& appId, bool inputLost = false,
                    std::optional<QString>* knownHost = nullptr) const;

private:
    template <typename ReadApp> Verdict applicationRules(ReadApp&& readApp, bool inputLost) const;

    const SettingsStore& m_settings;
    const AppExclusionChecking& m_exclusions;
    FocusContextProviding& m_focus;
};

} // namespace pimsel

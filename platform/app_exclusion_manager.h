#pragma once

#include "engine/ports.h"

#include <QSet>
#include <QString>

#include <optional>

namespace pimsel {

class SettingsStore;

// Where autocomplete stays silent: the built-in application groups, the user's own application
// list, and the user's websites (for the browsers among the applications). Identifiers are the
// ones the frontmost-application lookup yields: a GTK application id, a desktop-entry id, or the
// lower-cased WM_CLASS class; several spellings of one program are listed side by side.
class AppExclusionManager : public AppExclusionChecking {
public:
    // `settings` must outlive the manager.
    explicit AppExclusionManager(const SettingsStore& settings);

    bool isAppExcluded(const std::optional<QString>& appId) const override;
    bool shouldCheckSite(const std::optional<QString>& appId) const override;
    bool isSiteDisabled(const std::optional<QString>& host) const override;

    // Password managers, terminals, remote-desktop and virtual-machine clients.
    static const QSet<QString>& builtInExcludedAppIds();
    // Applications that complete colon shortcodes themselves.
    static const QSet<QString>& ownAutocompleteAppIds();
    // Applications whose current web address is examined for disabled websites.
    static const QSet<QString>& browserAppIds();
    // Applications where the sticker and GIF commands work.
    static const QSet<QString>& messagingAppIds();

private:
    const SettingsStore& m_settings;
};

} // namespace pimsel

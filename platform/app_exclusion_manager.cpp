#include "platform/app_exclusion_manager.h"

#include "engine/settings_store.h"
#include "platform/normalized_domain.h"

#include <initializer_list>

namespace pimsel {

namespace {

QSet<QString> idSet(std::initializer_list<const char*> ids) {
    QSet<QString> set;
    for (const char* id : ids)
        set.insert(QString::fromLatin1(id));
    return set;
}

} // namespace

const QSet<QString>& AppExclusionManager::builtInExcludedAppIds() {
    static const QSet<QString> ids = idSet({
        // Password managers
        "org.keepassxc.KeePassXC",
        "keepassxc",
        "1password",
        "com.onepassword.OnePassword",
        "bitwarden",
        "com.bitwarden.desktop",
        "org.gnome.World.Secrets",
        "secrets",
        "org.gnome.PasswordSafe",
        "gnome-passwordsafe",
        "keepass2",
        "keepass",
        "enpass",
        "proton-pass",
        "me.proton.Pass",
        // Terminals
        "org.gnome.Terminal",
        "gnome-terminal",
        "gnome-terminal-server",
        "org.gnome.Console",
        "kgx",
        "org.gnome.Ptyxis",
        "org.kde.konsole",
        "konsole",
        "xterm",
        "debian-xterm",
        "uxterm",
        "debian-uxterm",
        "kitty",
        "Alacritty",
        "alacritty",
        "org.alacritty.Alacritty",
        "org.wezfurlong.wezterm",
        "wezterm",
        "com.gexperts.Tilix",
        "tilix",
        "xfce4-terminal",
        "foot",
        "footclient",
        "org.codeberg.dnkl.foot",
        "terminator",
        "rxvt-unicode",
        "urxvt",
        "rxvt",
        "lxterminal",
        "mate-terminal",
        "qterminal",
        "io.elementary.terminal",
        "com.mitchellh.ghostty",
        "ghostty",
        "st",
        "st-256color",
        // Remote-desktop and virtual-machine clients
        "org.remmina.Remmina",
        "remmina",
        "virt-manager",
        "org.virt-manager.virt-manager",
        "virt-viewer",
        "remote-viewer",
        "virtualbox",
        "VirtualBox",
        "org.virtualbox.VirtualBox",
        "org.gnome.Boxes",
        "gnome-boxes",
        "org.gnome.Connections",
        "vncviewer",
        "tigervnc",
        "tigervnc-vncviewer",
        "xtightvncviewer",
        "xfreerdp",
        "xfreerdp3",
        "sdl-freerdp",
        "com.freerdp.FreeRDP",
        "org.kde.krdc",
        "krdc",
        "vmware",
        "vmplayer",
        "vmware-view",
        "rustdesk",
        "com.rustdesk.RustDesk",
    });
    return ids;
}

const QSet<QString>& AppExclusionManager::ownAutocompleteAppIds() {
    static const QSet<QString> ids = idSet({
        "slack",
        "com.slack.Slack",
        "discord",
        "com.discordapp.Discord",
    });
    return ids;
}

const QSet<QString>& AppExclusionManager::browserAppIds() {
    static const QSet<QString> ids = idSet({
        "firefox",
        "firefox-esr",
        "org.mozilla.firefox",
        "firefox-developer-edition",
        "chromium",
        "chromium-browser",
        "org.chromium.Chromium",
        "google-chrome",
        "google-chrome-beta",
        "google-chrome-unstable",
        "com.google.Chrome",
        "microsoft-edge",
        "microsoft-edge-beta",
        "microsoft-edge-dev",
        "com.microsoft.Edge",
        "brave-browser",
        "brave-browser-beta",
        "com.brave.Browser",
        "vivaldi-stable",
        "vivaldi",
        "com.vivaldi.Vivaldi",
        "opera",
        "com.opera.Opera",
        "librewolf",
        "io.gitlab.librewolf-community",
        "org.gnome.Epiphany",
        "epiphany",
        "epiphany-browser",
        "org.kde.falkon",
        "falkon",
        "waterfox",
        "floorp",
        "one.ablaze.floorp",
        "zen",
        "app.zen_browser.zen",
    });
    return ids;
}

const QSet<QString>& AppExclusionManager::messagingAppIds() {
    static const QSet<QString> ids = idSet({
        "org.signal.Signal",
        "signal-desktop",
        "signal",
        "org.telegram.desktop",
        "telegram-desktop",
        "telegramdesktop",
        "io.element.Element",
        "element-desktop",
        "element",
        "im.riot.Riot",
        "whatsapp-for-linux",
        "com.github.eneshecan.WhatsAppForLinux",
        "wasistlos",
        "com.rtosta.zapzap",
        "zapzap",
        "whatsie",
        "com.ktechpit.whatsie",
        "org.gnome.Fractal",
        "fractal",
        "org.kde.neochat",
        "neochat",
    });
    return ids;
}

AppExclusionManager::AppExclusionManager(const SettingsStore& settings)
    : m_settings(settings) {}

bool AppExclusionManager::isAppExcluded(const std::optional<QString>& appId) const {
    if (!appId)
        return false;
    return builtInExcludedAppIds().contains(*appId) || ownAutocompleteAppIds().contains(*appId) ||
           m_settings.disabledApps().contains(*appId);
}

bool AppExclusionManager::shouldCheckSite(const std::optional<QString>& appId) const {
    if (!appId || m_settings.disabledWebsites().isEmpty())
        return false;
    return browserAppIds().contains(*appId);
}

bool AppExclusionManager::isSiteDisabled(const std::optional<QString>& host) const {
    const std::optional<QString> domain = normalizedDomain(host);
    if (!domain)
        return false;
    for (const QString& entry : m_settings.disabledWebsites()) {
        if (entry.isEmpty())
            continue;
        if (*domain == entry)
            return true;
        if (domain->size() > entry.size() && domain->endsWith(entry) &&
            domain->at(domain->size() - entry.size() - 1) == u'.')
            return true;
    }
    return false;
}

} // namespace pimsel

#include "engine/settings_store.h"
#include "platform/app_exclusion_manager.h"
#include "platform/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

class ExclusionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<QSettings>(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        settings = std::make_unique<SettingsStore>(defaults.get());
        exclusions = std::make_unique<AppExclusionManager>(*settings);
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> defaults;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AppExclusionManager> exclusions;
};

TEST_F(ExclusionTest, BuiltInGroupsAreExcludedWithExactIdentifiers) {
    const struct {
        const char* id;
        bool excluded;
    } cases[] = {
        {"org.keepassxc.KeePassXC", true}, // password manager
        {"com.bitwarden.desktop", true},
        {"org.gnome.World.Secrets", true},
        {"org.gnome.Terminal", true}, // terminals
        {"org.gnome.Console", true},
        {"org.kde.konsole", true},
        {"xterm", true},
        {"kitty", true},
        {"Alacritty", true},
        {"org.remmina.Remmina", true}, // remote desktop and virtual machines
        {"virt-manager", true},
        {"org.gnome.Boxes", true},
        {"vncviewer", true},
        {"slack", true}, // own colon completion
        {"com.discordapp.Discord", true},
        {"org.gnome.TextEditor", false}, // ordinary applications
        {"chromium", false},
        {"firefox-esr", false},
        {"org.telegram.desktop", false},
        {"ORG.GNOME.TERMINAL", false}, // comparisons are exact
        {"org.gnome.terminal", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(exclusions->isAppExcluded(QString::fromUtf8(c.id)), c.excluded) << c.id;
    EXPECT_FALSE(exclusions->isAppExcluded(std::nullopt));
}

TEST_F(ExclusionTest, UserListAddsApplicationsAndIsReadLive) {
    const QString editor = QStringLiteral("org.gnome.TextEditor");
    EXPECT_FALSE(exclusions->isAppExcluded(editor));
    settings->setDisabledApps({editor});
    EXPECT_TRUE(exclusions->isAppExcluded(editor));
    EXPECT_FALSE(exclusions->isAppExcluded(QStringLiteral("org.gnome.texteditor")));
    EXPECT_TRUE(exclusions->isAppExcluded(QStringLiteral("org.gnome.Terminal"))); // built-ins stay
    settings->setDisabledApps({});
    EXPECT_FALSE(exclusions->isAppExcluded(editor));
}

TEST_F(ExclusionTest, WebsiteRuleAppliesOnlyToBrowsersWhenSomeSiteIsDisabled) {
    const QString browsers[] = {QStringLiteral("chromium"), QStringLiteral("firefox-esr"),
                                QStringLiteral("org.gnome.Epiphany"), QStringLiteral("com.google.Chrome")};
    for (const QString& browser : browsers)
        EXPECT_FALSE(exclusions->shouldCheckSite(browser)) << browser.toStdString() << " with no website";

    settings->setDisabledWebsites({QStringLiteral("example.com")});
    for (const QString& browser : browsers)
        EXPECT_TRUE(exclusions->shouldCheckSite(browser)) << browser.toStdString();
    EXPECT_FALSE(exclusions->shouldCheckSite(QStringLiteral("org.gnome.TextEditor")));
    EXPECT_FALSE(exclusions->shouldCheckSite(QStringLiteral("Chromium")));
    EXPECT_FALSE(exclusions->shouldCheckSite(std::nullopt));
}

// A browser, a messaging app or a silenced app must never land in a group that contradicts it:
// an excluded browser would hide the website rule, an excluded messenger the sticker commands.
TEST(ExclusionLists, GroupsDoNotOverlapAndHoldCleanIdentifiers) {
    const QSet<QString>* groups[] = {
        &AppExclusionManager::builtInExcludedAppIds(), &AppExclusionManager::ownAutocompleteAppIds(),
        &AppExclusionManager::browserAppIds(), &AppExclusionManager::messagingAppIds()};
    for (size_t i = 0; i < std::size(groups); ++i) {
        EXPECT_FALSE(groups[i]->isEmpty());
        for (const QString& id : *groups[i]) {
            EXPECT_FALSE(id.isEmpty());
            EXPECT_EQ(id, id.trimmed()) << id.toStdString();
            for (size_t j = i + 1; j < std::size(groups); ++j)
                EXPECT_FALSE(groups[j]->contains(id)) << id.toStdString() << " is in two groups";
        }
    }
}

// The identifiers in the lists are what the window lookup yields for the installed programs.
class DesktopIdTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void write(const QString& relative, const QByteArray& body) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(body);
    }

    QTemporaryDir dir;
};

TEST_F(DesktopIdTest, WindowClassesLeadToListedIdentifiers) {
    const QString user = dir.filePath(QStringLiteral("user/applications"));
    const QString system = dir.filePath(QStringLiteral("system/applications"));
    write(QStringLiteral("system/applications/chromium.desktop"),
          "[Desktop Entry]\nType=Application\nName=Chromium Web "
          "Browser\nIcon=chromium\nStartupWMClass=chromium\n");
    write(QStringLiteral("system/applications/firefox-esr.desktop"),
          "[Desktop Entry]\nName=Firefox ESR\nIcon=firefox-esr\n[Desktop Action new-window]\nName=New "
          "Window\n");
    write(QStringLiteral("system/applications/org.keepassxc.KeePassXC.desktop"),
          "[Desktop Entry]\nType=Application\nName=KeePassXC\n");
    write(QStringLiteral("system/applications/org.telegram.desktop.desktop"),
          "[Desktop Entry]\nType=Application\nName=Telegram Desktop\nStartupWMClass=TelegramDesktop\n");
    write(QStringLiteral("system/applications/kde/org.kde.konsole.desktop"),
          "[Desktop Entry]\nType=Application\nName=Konsole\nStartupWMClass=konsole\n");
    // A user's hidden copy masks the system entry of the same id.
    write(QStringLiteral("system/applications/vncviewer.desktop"), "[Desktop Entry]\nName=TigerVNC Viewer\n");
    write(QStringLiteral("user/applications/vncviewer.desktop"),
          "[Desktop Entry]\nName=Hidden\nHidden=true\n");

    const DesktopEntryIndex index({user, system});
    const struct {
        const char* gtkId;
        const char* instance;
        const char* windowClass;
        const char* expected;
        const char* expectedName;
    } cases[] = {
        {"", "chromium", "Chromium", "chromium", "Chromium Web Browser"},
        {"", "Navigator", "firefox-esr", "firefox-esr", "Firefox ESR"},
        {"", "keepassxc", "KeePassXC", "org.keepassxc.KeePassXC", "KeePassXC"},
        {"", "telegram-desktop", "TelegramDesktop", "org.telegram.desktop", "Telegram Desktop"},
        {"", "konsole", "konsole", "kde-org.kde.konsole", "Konsole"},
        {"org.gnome.Terminal", "gnome-terminal-server", "Gnome-terminal", "org.gnome.Terminal", nullptr},
        {"", "vncviewer", "Vncviewer", "vncviewer", nullptr},
        {"", "xterm", "XTerm", "xterm", nullptr},
        {"", "", "", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QString> id =
            applicationIdForWindow(QString::fromUtf8(c.gtkId), QString::fromUtf8(c.instance),
                                   QString::fromUtf8(c.windowClass), index);
        if (!c.expected) {
            EXPECT_FALSE(id.has_value()) << c.windowClass;
            continue;
        }
        ASSERT_TRUE(id.has_value()) << c.windowClass;
        EXPECT_EQ(id->toStdString(), c.expected);
        const std::optional<DesktopEntry> entry = index.entry(*id);
        EXPECT_EQ(entry.has_value(), c.expectedName != nullptr) << c.expected;
        if (entry && c.expectedName) {
            EXPECT_EQ(entry->name.toStdString(), c.expectedName);
        }
    }

    EXPECT_TRUE(AppExclusionManager::browserAppIds().contains(QStringLiteral("chromium")));
    EXPECT_TRUE(AppExclusionManager::browserAppIds().contains(QStringLiteral("firefox-esr")));
    EXPECT_TRUE(
        AppExclusionManager::builtInExcludedAppIds().contains(QStringLiteral("org.keepassxc.KeePassXC")));
    EXPECT_TRUE(AppExclusionManager::builtInExcludedAppIds().contains(QStringLiteral("vncviewer")));
    EXPECT_TRUE(AppExclusionManager::builtInExcludedAppIds().contains(QStringLiteral("xterm")));
    EXPECT_TRUE(AppExclusionManager::messagingAppIds().contains(QStringLiteral("org.telegram.desktop")));
}

} // namespace

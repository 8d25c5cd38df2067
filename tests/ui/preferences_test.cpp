// The preferences panes driven control by control on a real settings file: each change must reach
// the file (a second store reads it back) and the control must show what the store holds.
#include "engine/emoji_store.h"
#include "engine/settings_store.h"
#include "platform/application_directory.h"
#include "platform/permissions_controller.h"
#include "platform/xdg_autostart.h"
#include "ui/application_chooser.h"
#include "ui/custom_alias_preferences_pane.h"
#include "ui/general_preferences_pane.h"
#include "ui/preferences_view.h"
#include "ui/privacy_preferences_pane.h"
#include "ui/shortcuts_preferences_pane.h"
#include "ui/skin_tone_picker.h"

#include "support/files.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

struct FakeApplications : ApplicationDirectory {
    QList<DisableableApp> runningApps, installedApps;
    QList<DisableableApp> running() const override { return runningApps; }
    QList<DisableableApp> installed() const override { return installedApps; }
    std::optional<DisableableApp> find(const QString& id) const override {
        for (const DisableableApp& app : installedApps) {
            if (app.id == id)
                return app;
        }
        return std::nullopt;
    }
};

DisableableApp app(const char* id, const char* name) {
    return {QString::fromUtf8(id), QString::fromUtf8(name), {}};
}

struct Preferences {
    explicit Preferences(const QString& configHome = {}) {
        qputenv("XDG_CONFIG_HOME", configHome.isEmpty() ? dir.path().toUtf8() : configHome.toUtf8());
        apps.runningApps = {app("org.keepassxc.KeePassXC", "KeePassXC"),
                            app("org.gnome.gedit", "Text Editor"), app("abiword", "abiword"),
                            app("org.gnome.gedit", "Text Editor"), app("org.signal.Signal", "Signal")};
        apps.installedApps = {app("org.keepassxc.KeePassXC", "KeePassXC"),
                              app("org.gnome.gedit", "Text Editor")};
    }
    // What a later start of Pimsel reads from the file. QSettings shares what it parsed within a
    // process, so a copy under a new name is parsed from its bytes.
    const SettingsStore& reread() {
        ini.sync();
        const QString copy = dir.filePath(QStringLiteral("copy-%1.ini").arg(copies.size()));
        EXPECT_TRUE(QFile::copy(ini.fileName(), copy));
        copies.push_back(std::make_unique<QSettings>(copy, QSettings::IniFormat));
        return *stores.emplace_back(std::make_unique<SettingsStore>(copies.back().get()));
    }

    QTemporaryDir dir;
    QSettings ini{dir.filePath(QStringLiteral("pimsel.ini")), QSettings::IniFormat};
    std::vector<std::unique_ptr<QSettings>> copies;
    std::vector<std::unique_ptr<SettingsStore>> stores;
    XdgAutostart autostart{QStringLiteral("/usr/bin/pimsel")};
    SettingsStore settings{&ini, &autostart};
    PermissionsController permissions{{[] { return true; }, [] { return false; }, {}, {}, {}, {}}};
    EmojiStore emoji{&ini};
    FakeApplications apps;
    PreferencesView view{{settings, permissions, emoji, apps, nullptr, false, [](const QUrl&) {}}};
};

} // namespace

// Every switch, the trigger and the tone, then the lists of aliases, applications and websites and
// the reset, walked through the panes as the user would.
TEST(PreferencesPanes, EveryControlReachesTheFileAndShowsWhatItHolds) {
    // The general pane's switch, then the shortcuts pane's, each named after its setting.
    const std::pair<const char*, bool (SettingsStore::*)() const> switches[] = {
        {"enabled", &SettingsStore::enabled},
        {"acceptWithTab", &SettingsStore::acceptWithTab},
        {"acceptWithReturn", &SettingsStore::acceptWithReturn},
        {"showImmediatelyAfterColon", &SettingsStore::showImmediatelyAfterColon},
        {"openBrowserOnDoubleTrigger", &SettingsStore::openBrowserOnDoubleTrigger},
        {"replaceOnClosingColon", &SettingsStore::replaceOnClosingColon},
        {"stickerCommandEnabled", &SettingsStore::stickerCommandEnabled}};
    for (const auto& [name, stored] : switches) {
        SCOPED_TRACE(name);
        Preferences p;
        QAbstractButton* toggle = name == switches[0].first ? p.view.general()->enabledSwitch()
                                                            : p.view.shortcuts()->switchFor(name);
        ASSERT_NE(toggle, nullptr);
        const bool before = (p.settings.*stored)();
        EXPECT_EQ(toggle->isChecked(), before);
        toggle->click();
        EXPECT_EQ((p.reread().*stored)(), !before);
        EXPECT_EQ(toggle->isChecked(), !before);
    }
    // Launch at login shows whether the autostart entry really exists.
    QTemporaryDir blocked;
    const QString notADirectory = blocked.filePath(QStringLiteral("file"));
    ASSERT_TRUE(pimsel::testing::writeFile(notADirectory, {}));
    for (const bool writable : {true, false}) {
        Preferences p(writable ? QString() : notADirectory);
        QAbstractButton* toggle = p.view.general()->launchAtLoginSwitch();
        toggle->click();
        EXPECT_EQ(toggle->isChecked(), writable);
        EXPECT_EQ(p.autostart.isRegistered(), writable);
    }

    Preferences p;
    // Without a GIF key the switch cannot be used.
    EXPECT_FALSE(p.view.shortcuts()->switchFor("giphyCommandEnabled")->isEnabled());
    p.view.general()->skinTonePicker()->button(SkinTone::mediumDark)->click();
    EXPECT_EQ(p.reread().skinTone(), SkinTone::mediumDark);
    EXPECT_TRUE(p.view.general()->skinTonePicker()->button(SkinTone::mediumDark)->isChecked());
    Q_EMIT p.view.shortcuts()->triggerPicker()->activated(1);
    EXPECT_EQ(p.reread().triggerKey(), QStringLiteral(";"));

    // An alias is trimmed, and one with a blank side is not added.
    CustomAliasPreferencesPane* custom = p.view.custom();
    const struct {
        const char *alias, *emoji;
    } entries[] = {{"  shrug \t", " 🤷 "}, {"   ", "🙂"}, {"blank", "  "}};
    for (const auto& e : entries) {
        custom->aliasField()->setText(QString::fromUtf8(e.alias));
        custom->emojiField()->setText(QString::fromUtf8(e.emoji));
        custom->addButton()->click();
    }
    const QList<CustomAlias> stored = p.reread().customAliases();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].alias + stored[0].emoji, QStringLiteral("shrug🤷"));
    ASSERT_EQ(custom->removeButtons().size(), 1);
    custom->removeButtons()[0]->click();
    EXPECT_TRUE(p.reread().customAliases().isEmpty());

    // The chooser lists the installed applications; picking an always-disabled one adds nothing.
    PrivacyPreferencesPane* privacy = p.view.privacy();
    for (const char* search : {"keepass", "TEXT"}) {
        privacy->chooseFromApplications();
        ApplicationChooser* chooser = privacy->chooser();
        ASSERT_NE(chooser, nullptr);
        chooser->searchField()->setText(QString::fromUtf8(search));
        QList<QListWidgetItem*> shown;
        for (int row = 0; row < chooser->list()->count(); ++row) {
            if (!chooser->list()->item(row)->isHidden())
                shown.append(chooser->list()->item(row));
        }
        ASSERT_EQ(shown.size(), 1);
        chooser->list()->setCurrentItem(shown[0]);
        chooser->confirmButton()->click();
    }
    EXPECT_EQ(p.reread().disabledAppsList(), QStringList{QStringLiteral("org.gnome.gedit")});
    // Running applications: no always-disabled or already disabled one, no repeats; names sort
    // ignoring case.
    privacy->fillAddAppMenu();
    EXPECT_EQ(pimsel::testing::collect(privacy->addAppMenu()->actions(), &QAction::text).join(u'|'),
              QStringLiteral("abiword|Signal||Choose from Applications…"));
    privacy->addAppMenu()->actions()[0]->trigger();
    privacy->addApp(QStringLiteral("org.keepassxc.KeePassXC"));
    EXPECT_EQ(p.reread().disabledAppsList(),
              (QStringList{QStringLiteral("abiword"), QStringLiteral("org.gnome.gedit")}));
    EXPECT_EQ(privacy->listedApps(), (QStringList{QStringLiteral("abiword"), QStringLiteral("Text Editor")}));

    // Websites go through the domain rule; a rejected one stays in the field.
    for (const char* typed : {"https://www.Example.com/path", "http://www./"}) {
        privacy->domainField()->setText(QString::fromUtf8(typed));
        privacy->addWebsite();
    }
    EXPECT_EQ(p.reread().disabledWebsitesList(), QStringList{QStringLiteral("example.com")});
    EXPECT_EQ(privacy->domainField()->text(), QStringLiteral("http://www./"));

    // Reset (what it clears, in memory and in the file, is the store's own test).
    p.emoji.reload({});
    p.emoji.recordUse(QStringLiteral("😄"));
    privacy->resetButton()->click();
    EXPECT_TRUE(p.emoji.useCounts().isEmpty());
}

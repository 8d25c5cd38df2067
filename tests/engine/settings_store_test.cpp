#include "engine/settings_store.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace pimsel;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("pimsel.conf")); }

    // Every store gets its own QSettings, as a second process would.
    QSettings* openSettings() {
        m_settings.push_back(std::make_unique<QSettings>(path(), QSettings::IniFormat));
        return m_settings.back().get();
    }

    SettingsStore* openStore(LoginItemManaging* loginItems = nullptr) {
        m_stores.push_back(std::make_unique<SettingsStore>(openSettings(), loginItems));
        return m_stores.back().get();
    }

    // QSettings shares parsed files within a process and hands back values as they were
    // written; a copy under a new name is parsed from its bytes, as another process would.
    QString copyOfFile() {
        const QString copy = m_dir.filePath(QStringLiteral("copy-%1.conf").arg(++m_copies));
        if (QFile::exists(path())) {
            EXPECT_TRUE(QFile::copy(path(), copy));
        }
        return copy;
    }

    SettingsStore* storeFromDisk() {
        m_settings.push_back(std::make_unique<QSettings>(copyOfFile(), QSettings::IniFormat));
        m_stores.push_back(std::make_unique<SettingsStore>(m_settings.back().get()));
        return m_stores.back().get();
    }

    QVariant stored(const char* key) {
        QSettings reader(copyOfFile(), QSettings::IniFormat);
        return reader.value(QLatin1String(key));
    }

    void storeRaw(const char* key, const QVariant& value) {
        QSettings writer(path(), QSettings::IniFormat);
        writer.setValue(QLatin1String(key), value);
    }

    void writeIniText(const QByteArray& text) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

    QByteArray fileText() {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
    int m_copies = 0;
    std::vector<std::unique_ptr<QSettings>> m_settings;
    std::vector<std::unique_ptr<SettingsStore>> m_stores;
};

void expectDefaults(const SettingsStore& store) {
    EXPECT_TRUE(store.enabled());
    EXPECT_TRUE(store.acceptWithTab());
    EXPECT_TRUE(store.acceptWithReturn());
    EXPECT_FALSE(store.showImmediatelyAfterColon());
    EXPECT_TRUE(store.replaceOnClosingColon());
    EXPECT_TRUE(store.openBrowserOnDoubleTrigger());
    EXPECT_TRUE(store.stickerCommandEnabled());
    EXPECT_TRUE(store.giphyCommandEnabled());
    EXPECT_EQ(store.triggerKey(), QStringLiteral(":"));
    EXPECT_TRUE(store.disabledApps().isEmpty());
    EXPECT_TRUE(store.disabledWebsites().isEmpty());
    EXPECT_TRUE(store.customAliases().isEmpty());
    EXPECT_EQ(store.skinTone(), SkinTone::yellow);
}

const QUuid aliasId = QUuid::fromString(QStringLiteral("3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c"));

} // namespace

TEST_F(SettingsStoreTest, FreshDomainAnswersDefaultsWithoutWritingThem) {
    const SettingsStore* store = openStore();
    expectDefaults(*store);
    EXPECT_TRUE(fileText().trimmed().isEmpty());
}

TEST_F(SettingsStoreTest, WrongTypesInTheFileGiveNeutralAnswers) {
    writeIniText("[General]\n"
                 "pimsel.enabled=garbage\n"
                 "pimsel.showImmediatelyAfterColon=maybe\n"
                 "pimsel.acceptWithTab=false\n"
                 "pimsel.giphyCommandEnabled=@ByteArray(true)\n"
                 "pimsel.triggerKey=/, |\n"
                 "pimsel.disabledApps=org.example.single\n"
                 "pimsel.disabledWebsites=@ByteArray(example.com)\n"
                 "pimsel.customAliases=\"[{\\\"id\\\":\\\"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c\\\","
                 "\\\"alias\\\":\\\"a\\\",\\\"emoji\\\":\\\"b\\\"}]\"\n"
                 "pimsel.skinTone=purple\n");
    const SettingsStore* store = storeFromDisk();
    EXPECT_TRUE(store->enabled()) << "garbage falls back to the default true";
    EXPECT_FALSE(store->showImmediatelyAfterColon()) << "garbage falls back to the default false";
    EXPECT_FALSE(store->acceptWithTab()) << "a well-formed value is still read";
    EXPECT_TRUE(store->giphyCommandEnabled());
    EXPECT_EQ(store->triggerKey(), QStringLiteral(":"));
    EXPECT_TRUE(store->disabledApps().isEmpty());
    EXPECT_TRUE(store->disabledWebsites().isEmpty());
    EXPECT_TRUE(store->customAliases().isEmpty()) << "aliases are kept as data, not as a string";
    EXPECT_EQ(store->skinTone(), SkinTone::yellow);

    storeRaw("pimsel.disabledApps", QVariantList{42});
    storeRaw("pimsel.disabledWebsites", QVariantList{QVariantList{QStringLiteral("example.com")}});
    EXPECT_TRUE(storeFromDisk()->disabledApps().isEmpty());
    EXPECT_TRUE(storeFromDisk()->disabledWebsites().isEmpty());
}

TEST_F(SettingsStoreTest, StoredTriggerIsKeptOnlyWhenOneAllowedCharacter) {
    const struct {
        QString stored;
        QString loaded;
    } cases[] = {
        {QStringLiteral("::"), QStringLiteral(":")},
        {QStringLiteral("a"), QStringLiteral(":")},
        {QString(), QStringLiteral(":")},
        {QStringLiteral(" ;"), QStringLiteral(":")},
        {QStringLiteral(";\u0301"), QStringLiteral(":")}, // one grapheme, but not an allowed one
        {QStringLiteral(";"), QStringLiteral(";")},
        {QStringLiteral("|"), QStringLiteral("|")},
        {QStringLiteral("\\"), QStringLiteral("\\")},
        {QStringLiteral("@"), QStringLiteral("@")},
        {QStringLiteral("#"), QStringLiteral("#")},
    };
    for (const auto& c : cases) {
        storeRaw("pimsel.triggerKey", c.stored);
        SettingsStore store(openSettings());
        EXPECT_EQ(store.triggerKey(), c.loaded) << "stored " << c.stored.toStdString();
        EXPECT_EQ(store.triggerCharacter(), c.loaded);
        // Loading does not repair the file; only a write does.
        EXPECT_EQ(stored("pimsel.triggerKey").toString(), c.stored);
    }
}

TEST_F(SettingsStoreTest, RejectedTriggerIsPublishedThenReplaced) {
    SettingsStore* store = openStore();
    store->setTriggerKey(QStringLiteral(";"));
    QStringList published;
    int changes = 0;
    QObject::connect(store, &SettingsStore::triggerKeyChanged, [&](const QString& v) { published << v; });
    QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });

    store->setTriggerKey(QStringLiteral("x"));
    EXPECT_EQ(published, (QStringList{QStringLiteral("x"), QStringLiteral(":")}));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(store->triggerKey(), QStringLiteral(":"));
    EXPECT_EQ(stored("pimsel.triggerKey").toString(), QStringLiteral(":"));

    published.clear();
    store->setTriggerKey(QStringLiteral("~~"));
    EXPECT_EQ(published, (QStringList{QStringLiteral("~~"), QStringLiteral(":")}));
    store->setTriggerKey(QStringLiteral("|"));
    EXPECT_EQ(published.last(), QStringLiteral("|"));
    EXPECT_EQ(stored("pimsel.triggerKey").toString(), QStringLiteral("|"));
}

TEST_F(SettingsStoreTest, EveryAssignmentIsWrittenAndPublishedEvenWhenUnchanged) {
    SettingsStore* store = openStore();
    int enabledSignals = 0;
    int changes = 0;
    QObject::connect(store, &SettingsStore::enabledChanged, [&](bool) { ++enabledSignals; });
    QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });

    store->setEnabled(true);
    store->setSkinTone(SkinTone::yellow);
    store->setDisabledApps({});
    EXPECT_EQ(enabledSignals, 1);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(stored("pimsel.enabled").toString(), QStringLiteral("true"));
    EXPECT_EQ(stored("pimsel.skinTone").toString(), QStringLiteral("yellow"));
    EXPECT_TRUE(fileText().contains("pimsel.disabledApps="));
}

TEST_F(SettingsStoreTest, EachSignalCarriesItsProperty) {
    SettingsStore* store = openStore();
    QStringList seen;
    auto record = [&](const char* name) { return [&seen, name] { seen << QLatin1String(name); }; };
    QObject::connect(store, &SettingsStore::acceptWithTabChanged, record("tab"));
    QObject::connect(store, &SettingsStore::acceptWithReturnChanged, record("return"));
    QObject::connect(store, &SettingsStore::showImmediatelyAfterColonChanged, record("immediate"));
    QObject::connect(store, &SettingsStore::replaceOnClosingColonChanged, record("closing"));
    QObject::connect(store, &SettingsStore::openBrowserOnDoubleTriggerChanged, record("browser"));
    QObject::connect(store, &SettingsStore::stickerCommandEnabledChanged, record("sticker"));
    QObject::connect(store, &SettingsStore::giphyCommandEnabledChanged, record("gif"));
    QObject::connect(store, &SettingsStore::disabledWebsitesChanged, record("sites"));
    QObject::connect(store, &SettingsStore::customAliasesChanged, record("aliases"));
    QObject::connect(store, &SettingsStore::skinToneChanged, record("tone"));

    store->setAcceptWithTab(false);
    store->setAcceptWithReturn(false);
    store->setShowImmediatelyAfterColon(true);
    store->setReplaceOnClosingColon(false);
    store->setOpenBrowserOnDoubleTrigger(false);
    store->setStickerCommandEnabled(false);
    store->setGiphyCommandEnabled(false);
    store->setDisabledWebsites({QStringLiteral("example.com")});
    store->setCustomAliases({});
    store->setSkinTone(SkinTone::dark);
    EXPECT_EQ(seen, (QStringList{"tab", "return", "immediate", "closing", "browser", "sticker", "gif",
                                 "sites", "aliases", "tone"}));
}

TEST_F(SettingsStoreTest, EveryPropertyRoundTripsThroughASecondStore) {
    SettingsStore* first = openStore();
    first->setEnabled(false);
    first->setAcceptWithTab(false);
    first->setAcceptWithReturn(false);
    first->setShowImmediatelyAfterColon(true);
    first->setReplaceOnClosingColon(false);
    first->setOpenBrowserOnDoubleTrigger(false);
    first->setStickerCommandEnabled(false);
    first->setGiphyCommandEnabled(false);
    first->setTriggerKey(QStringLiteral("\\"));
    first->setDisabledApps({QStringLiteral("org.keepassxc.KeePassXC"), QStringLiteral("kitty")});
    first->setDisabledWebsites({QStringLiteral("example.com")});
    const QList<CustomAlias> aliases{
        {aliasId, QStringLiteral("party"), QStringLiteral("🎉")},
        {QUuid::createUuid(), QStringLiteral("with \"quotes\", commas\\ and / slashes"),
         QStringLiteral("👩‍👩‍👧")},
    };
    first->setCustomAliases(aliases);
    first->setSkinTone(SkinTone::mediumDark);

    const SettingsStore* second = storeFromDisk();
    EXPECT_FALSE(second->enabled());
    EXPECT_FALSE(second->acceptWithTab());
    EXPECT_FALSE(second->acceptWithReturn());
    EXPECT_TRUE(second->showImmediatelyAfterColon());
    EXPECT_FALSE(second->replaceOnClosingColon());
    EXPECT_FALSE(second->openBrowserOnDoubleTrigger());
    EXPECT_FALSE(second->stickerCommandEnabled());
    EXPECT_FALSE(second->giphyCommandEnabled());
    EXPECT_EQ(second->triggerKey(), QStringLiteral("\\"));
    EXPECT_EQ(second->disabledApps(), first->disabledApps());
    EXPECT_EQ(second->disabledWebsites(), first->disabledWebsites());
    EXPECT_EQ(second->customAliases(), aliases);
    EXPECT_EQ(second->skinTone(), SkinTone::mediumDark);
}

// The INI format flattens one-element and empty lists; sets of every size must come back whole.
TEST_F(SettingsStoreTest, SetsOfEverySizeRoundTrip) {
    const QList<QSet<QString>> sets{
        {},
        {QStringLiteral("org.example.App")},
        {QString()},
        {QStringLiteral("@at.start")},
        {QStringLiteral("a, b")},
        {QStringLiteral("one"), QStringLiteral("two")},
        {QStringLiteral("x"), QStringLiteral("@y"), QStringLiteral("with space"),
         QStringLiteral("ü.example")},
    };
    for (const QSet<QString>& set : sets) {
        openStore()->setDisabledApps(set);
        openStore()->setDisabledWebsites(set);
        const SettingsStore* reloaded = storeFromDisk();
        EXPECT_EQ(reloaded->disabledApps(), set) << reloaded->disabledAppsList().join('|').toStdString();
        EXPECT_EQ(reloaded->disabledWebsites(), set);
    }
}

TEST_F(SettingsStoreTest, EveryAllowedTriggerAndToneRoundTrips) {
    for (const QString& trigger : SettingsStore::allowedTriggerKeys) {
        openStore()->setTriggerKey(trigger);
        EXPECT_EQ(storeFromDisk()->triggerKey(), trigger);
    }
    for (SkinTone tone : allSkinTones) {
        openStore()->setSkinTone(tone);
        EXPECT_EQ(stored("pimsel.skinTone").toString(), rawValue(tone));
        EXPECT_EQ(storeFromDisk()->skinTone(), tone);
    }
}

TEST_F(SettingsStoreTest, BooleansRoundTripBothWays) {
    for (bool value : {false, true}) {
        SettingsStore* store = openStore();
        store->setEnabled(value);
        store->setShowImmediatelyAfterColon(value);
        const SettingsStore* reloaded = storeFromDisk();
        EXPECT_EQ(reloaded->enabled(), value);
        EXPECT_EQ(reloaded->showImmediatelyAfterColon(), value);
    }
}

TEST_F(SettingsStoreTest, DuplicateDisabledAppsAreStoredOnce) {
    SettingsStore* store = openStore();
    const QString app = QStringLiteral("org.gnome.Terminal");
    store->setDisabledApps(store->disabledApps() + QSet<QString>{app});
    store->setDisabledApps(store->disabledApps() + QSet<QString>{app});
    EXPECT_EQ(stored("pimsel.disabledApps").toStringList(), QStringList{app});

    writeIniText("[General]\npimsel.disabledApps=kitty, kitty, xterm\n");
    EXPECT_EQ(storeFromDisk()->disabledApps(),
              (QSet<QString>{QStringLiteral("kitty"), QStringLiteral("xterm")}));
}

TEST_F(SettingsStoreTest, AliasesAreStoredAsCompactJsonInFieldOrder) {
    openStore()->setCustomAliases({{aliasId, QStringLiteral("party"), QStringLiteral("🎉")},
                                   {aliasId, QStringLiteral("a\"b"), QStringLiteral("x")}});
    const QVariant value = stored("pimsel.customAliases");
    EXPECT_EQ(value.typeId(), QMetaType::QByteArray);
    EXPECT_EQ(value.toByteArray(), QStringLiteral("[{\"id\":\"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c\","
                                                  "\"alias\":\"party\",\"emoji\":\"🎉\"},"
                                                  "{\"id\":\"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c\","
                                                  "\"alias\":\"a\\\"b\",\"emoji\":\"x\"}]")
                                       .toUtf8());

    openStore()->setCustomAliases({});
    EXPECT_EQ(stored("pimsel.customAliases").toByteArray(), QByteArray("[]"));
}

TEST_F(SettingsStoreTest, UndecodableAliasesLoadEmptyAndSurviveUntilTheNextWrite) {
    const QByteArray good = R"({"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c","alias":"party","emoji":"x"})";
    const QByteArray undecodable[] = {
        "[" + good + R"(,{"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6d","alias":"cake"}])",
        R"([{"id":"not-a-uuid","alias":"a","emoji":"b"}])",
        R"([{"id":"{3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c}","alias":"a","emoji":"b"}])",
        R"([{"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c","alias":7,"emoji":"b"}])",
        "[" + good + ",\"loose\"]",
        good,
        "[" + good,
        "",
    };
    for (const QByteArray& bytes : undecodable) {
        storeRaw("pimsel.customAliases", bytes);
        SettingsStore* store = openStore();
        EXPECT_TRUE(store->customAliases().isEmpty()) << bytes.toStdString();
        EXPECT_EQ(stored("pimsel.customAliases").toByteArray(), bytes);
    }

    SettingsStore* store = openStore();
    const CustomAlias added{QUuid::createUuid(), QStringLiteral("cake"), QStringLiteral("🎂")};
    store->setCustomAliases(store->customAliases() + QList<CustomAlias>{added});
    EXPECT_EQ(storeFromDisk()->customAliases(), QList<CustomAlias>{added});
}

TEST_F(SettingsStoreTest, AliasIdsInUpperCaseAreAccepted) {
    storeRaw("pimsel.customAliases",
             QByteArray(R"([{"id":"3F2A9C1E-8B7D-4E6F-A5C4-1D2E3F4A5B6C","alias":"party","emoji":"x"}])"));
    const SettingsStore* store = storeFromDisk();
    ASSERT_EQ(store->customAliases().size(), 1);
    EXPECT_EQ(store->customAliases().first().id, aliasId);
}

namespace {

class FakeLoginItems : public LoginItemManaging {
public:
    bool isRegistered() const override { return registered; }
    bool registerItem() override {
        ++registerCalls;
        registered = succeeds;
        return succeeds;
    }
    bool unregisterItem() override {
        ++unregisterCalls;
        registered = !succeeds;
        return succeeds;
    }
    bool registered = false;
    bool succeeds = true;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

} // namespace

TEST_F(SettingsStoreTest, LaunchAtLoginCallsOnlyWhatChangesTheStateAndAlwaysNotifies) {
    const struct {
        bool registered;
        bool enable;
        bool succeeds;
        int registerCalls;
        int unregisterCalls;
        bool after;
    } cases[] = {
        {true, true, true, 0, 0, true},    {false, true, true, 1, 0, true},
        {true, false, true, 0, 1, false},  {false, false, true, 0, 0, false},
        {false, true, false, 1, 0, false}, {true, false, false, 0, 1, true},
    };
    for (const auto& c : cases) {
        FakeLoginItems login;
        login.registered = c.registered;
        login.succeeds = c.succeeds;
        SettingsStore* store = openStore(&login);
        int changes = 0;
        QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });
        store->setLaunchAtLogin(c.enable);
        EXPECT_EQ(login.registerCalls, c.registerCalls);
        EXPECT_EQ(login.unregisterCalls, c.unregisterCalls);
        EXPECT_EQ(store->launchAtLogin(), c.after);
        EXPECT_EQ(changes, 1);
        m_stores.pop_back(); // the fake dies with this iteration
    }
    EXPECT_TRUE(fileText().isEmpty()) << "the login state is not a stored setting";
}

TEST_F(SettingsStoreTest, LaunchAtLoginWithoutAMechanismStillNotifies) {
    SettingsStore* store = openStore();
    int changes = 0;
    QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });
    store->setLaunchAtLogin(true);
    EXPECT_FALSE(store->launchAtLogin());
    EXPECT_EQ(changes, 1);
}

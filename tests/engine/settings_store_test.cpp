#include "engine/emoji_store.h"
#include "engine/settings_store.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

using namespace pimsel;

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("pimsel.conf")); }

    // QSettings shares parsed files within a process; a copy under a new name is parsed from its
    // bytes, as another process would.
    QString copyOfFile() {
        const QString copy = m_dir.filePath(QStringLiteral("copy-%1.conf").arg(++m_copies));
        EXPECT_TRUE(!QFile::exists(path()) || QFile::copy(path(), copy));
        return copy;
    }
    SettingsStore* open(const QString& file, LoginItemManaging* loginItems = nullptr) {
        m_settings.push_back(std::make_unique<QSettings>(file, QSettings::IniFormat));
        m_stores.push_back(std::make_unique<SettingsStore>(m_settings.back().get(), loginItems));
        return m_stores.back().get();
    }
    SettingsStore* openStore(LoginItemManaging* loginItems = nullptr) { return open(path(), loginItems); }
    SettingsStore* storeFromDisk() { return open(copyOfFile()); }
    QVariant stored(const char* key) { return QSettings(copyOfFile(), QSettings::IniFormat).value(key); }
    void storeRaw(const char* key, const QVariant& value) {
        QSettings(path(), QSettings::IniFormat).setValue(QLatin1String(key), value);
    }
    void writeIniText(const QByteArray& text) {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QByteArray fileText(const QString& file = {}) {
        QFile in(file.isEmpty() ? path() : file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    static int mode(const QString& file) {
        struct stat status {};
        return ::stat(QFile::encodeName(file).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
    }

    QTemporaryDir m_dir;
    int m_copies = 0;
    std::vector<std::unique_ptr<QSettings>> m_settings;
    std::vector<std::unique_ptr<SettingsStore>> m_stores;
};

struct BoolProperty {
    const char* key;
    bool (SettingsStore::*get)() const;
    void (SettingsStore::*set)(bool);
    void (SettingsStore::*signal)(bool);
    bool byDefault;
};

#define PIMSEL_BOOL_PROPERTY(name, Name, byDefault)                                                          \
    BoolProperty {                                                                                           \
        "pimsel." #name, &SettingsStore::name, &SettingsStore::set##Name, &SettingsStore::name##Changed,     \
            byDefault                                                                                        \
    }

const BoolProperty boolProperties[] = {
    PIMSEL_BOOL_PROPERTY(enabled, Enabled, true),
    PIMSEL_BOOL_PROPERTY(acceptWithTab, AcceptWithTab, true),
    PIMSEL_BOOL_PROPERTY(acceptWithReturn, AcceptWithReturn, true),
    PIMSEL_BOOL_PROPERTY(showImmediatelyAfterColon, ShowImmediatelyAfterColon, false),
    PIMSEL_BOOL_PROPERTY(replaceOnClosingColon, ReplaceOnClosingColon, true),
    PIMSEL_BOOL_PROPERTY(openBrowserOnDoubleTrigger, OpenBrowserOnDoubleTrigger, true),
    PIMSEL_BOOL_PROPERTY(stickerCommandEnabled, StickerCommandEnabled, true),
    PIMSEL_BOOL_PROPERTY(giphyCommandEnabled, GiphyCommandEnabled, true),
};

const QUuid aliasId = QUuid::fromString(QStringLiteral("3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c"));

} // namespace

TEST_F(SettingsStoreTest, EachBooleanDefaultsPublishesItselfAndRoundTripsBothWays) {
    for (const BoolProperty& p : boolProperties) {
        EXPECT_EQ((openStore()->*p.get)(), p.byDefault) << p.key;
        for (bool value : {!p.byDefault, p.byDefault}) { // the second write leaves the value as it was
            SettingsStore* store = openStore();
            QList<bool> published;
            int changes = 0;
            QObject::connect(store, p.signal, [&](bool v) { published << v; });
            QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });
            (store->*p.set)(value);
            EXPECT_EQ(published, QList<bool>{value}) << p.key;
            EXPECT_EQ(changes, 1);
            EXPECT_EQ(stored(p.key).toString(), value ? "true" : "false") << p.key;
            EXPECT_EQ((storeFromDisk()->*p.get)(), value) << p.key;
        }
    }
}

TEST_F(SettingsStoreTest, DefaultsAreNotWrittenAndWrongTypesGiveNeutralAnswers) {
    openStore();
    EXPECT_TRUE(fileText().trimmed().isEmpty());

    writeIniText("[General]\npimsel.enabled=garbage\npimsel.showImmediatelyAfterColon=maybe\n"
                 "pimsel.acceptWithTab=false\npimsel.giphyCommandEnabled=@ByteArray(true)\n"
                 "pimsel.triggerKey=/, |\n"
                 "pimsel.disabledWebsites=@ByteArray(example.com)\n"
                 "pimsel.customAliases=\"[{\\\"id\\\":\\\"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c\\\","
                 "\\\"alias\\\":\\\"a\\\",\\\"emoji\\\":\\\"b\\\"}]\"\npimsel.skinTone=purple\n");
    const SettingsStore* store = storeFromDisk();
    EXPECT_TRUE(store->enabled());
    EXPECT_FALSE(store->showImmediatelyAfterColon());
    EXPECT_FALSE(store->acceptWithTab()) << "a well-formed value is still read";
    EXPECT_TRUE(store->giphyCommandEnabled());
    EXPECT_EQ(store->triggerKey(), QStringLiteral(":"));
    EXPECT_TRUE(store->disabledApps().isEmpty() && store->disabledWebsites().isEmpty());
    EXPECT_TRUE(store->customAliases().isEmpty()) << "aliases are kept as data, not as a string";
    EXPECT_EQ(store->skinTone(), SkinTone::yellow);

    storeRaw("pimsel.disabledApps", QVariantList{42});
    EXPECT_TRUE(storeFromDisk()->disabledApps().isEmpty());
}

// A stored trigger that is not one allowed character is read as ':' but left in the file; a
// rejected one is published, then replaced by ':', which is what gets written.
TEST_F(SettingsStoreTest, TriggerIsKeptOnlyWhenOneAllowedCharacterAndTonesRoundTrip) {
    for (const QString& bad : {QStringLiteral("::"), QStringLiteral("a"), QStringLiteral(";\u0301")}) {
        storeRaw("pimsel.triggerKey", bad);
        EXPECT_EQ(storeFromDisk()->triggerCharacter(), QStringLiteral(":")) << bad.toStdString();
        EXPECT_EQ(stored("pimsel.triggerKey").toString(), bad) << "loading does not repair the file";
    }
    for (const QString& trigger : SettingsStore::allowedTriggerKeys) {
        openStore()->setTriggerKey(trigger);
        EXPECT_EQ(storeFromDisk()->triggerKey(), trigger);
    }
    storeRaw("pimsel.triggerKey", QStringLiteral("|"));
    SettingsStore* store = openStore();
    QStringList published;
    int changes = 0;
    QObject::connect(store, &SettingsStore::triggerKeyChanged, [&](const QString& v) { published << v; });
    QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });
    store->setTriggerKey(QStringLiteral("~~"));
    EXPECT_EQ(stored("pimsel.triggerKey").toString(), QStringLiteral(":"));
    store->setTriggerKey(QStringLiteral("/"));
    EXPECT_EQ(published.join(' '), QStringLiteral("~~ : /"));
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(stored("pimsel.triggerKey").toString(), QStringLiteral("/"));

    storeRaw("pimsel.skinTone", QStringLiteral("dark"));
    for (SkinTone tone : allSkinTones) {
        openStore()->setSkinTone(tone);
        EXPECT_EQ(stored("pimsel.skinTone").toString(), rawValue(tone));
        EXPECT_EQ(storeFromDisk()->skinTone(), tone);
    }
}

// The INI format flattens one-element and empty lists; sets of every size must come back whole.
TEST_F(SettingsStoreTest, SetsAndAliasesRoundTripAndPublish) {
    const QList<QSet<QString>> sets{{},
                                    {QStringLiteral("org.example.App")},
                                    {QString()},
                                    {QStringLiteral("@at.start")},
                                    {QStringLiteral("a, b")},
                                    {QStringLiteral("x"), QStringLiteral("@y"), QStringLiteral("ü.example")}};
    for (const QSet<QString>& set : sets) {
        SettingsStore* store = openStore();
        int published = 0;
        QObject::connect(store, &SettingsStore::disabledWebsitesChanged, [&] { ++published; });
        store->setDisabledApps(set);
        store->setDisabledWebsites(set);
        EXPECT_EQ(published, 1);
        EXPECT_EQ(storeFromDisk()->disabledApps(), set);
        EXPECT_EQ(storeFromDisk()->disabledWebsites(), set);
    }
    writeIniText("[General]\npimsel.disabledApps=kitty, kitty, xterm\n");
    EXPECT_EQ(storeFromDisk()->disabledApps(),
              (QSet<QString>{QStringLiteral("kitty"), QStringLiteral("xterm")}));

    const QList<CustomAlias> aliases{
        {aliasId, QStringLiteral("party"), QStringLiteral("🎉")},
        {aliasId, QStringLiteral("a\"b, c\\ /"), QStringLiteral("👩‍👩‍👧")}};
    SettingsStore* store = openStore();
    int published = 0;
    QObject::connect(store, &SettingsStore::customAliasesChanged, [&] { ++published; });
    store->setCustomAliases(aliases);
    EXPECT_EQ(published, 1);
    EXPECT_EQ(storeFromDisk()->customAliases(), aliases);
    const QVariant value = stored("pimsel.customAliases");
    EXPECT_EQ(value.typeId(), QMetaType::QByteArray);
    EXPECT_TRUE(value.toByteArray().startsWith(
        R"([{"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c","alias":"party","emoji":"🎉"},)"));
    openStore()->setCustomAliases({});
    EXPECT_EQ(stored("pimsel.customAliases").toByteArray(), QByteArray("[]"));
}

// A start reads every value and the views bound to the properties assign them back; a quit syncs.
// Neither may touch a file the user keeps by hand; a real change keeps at least its keys and mode.
TEST_F(SettingsStoreTest, UnchangedValuesLeaveTheUsersFileAloneAndAChangeKeepsItsMode) {
    const QString seedPath = m_dir.filePath(QStringLiteral("seed.conf"));
    QSettings(seedPath, QSettings::IniFormat)
        .setValue(QLatin1String(EmojiStore::useCountKey), QVariantMap{{QStringLiteral("👍"), 41}});
    const QByteArray text =
        "; kept by hand\n" + fileText(seedPath) +
        "# switched off for now\npimsel.enabled=false\npimsel.triggerKey=|\n"
        "pimsel.disabledApps=org.example.A, org.example.B\npimsel.skinTone=medium\n"
        "pimsel.showImmediatelyAfterColon=maybe\nother.tool.key=kept\nnot an assignment\n";
    writeIniText(text);
    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner));
    {
        QSettings settings(path(), QSettings::IniFormat);
        SettingsStore store(&settings);
        EmojiStore emoji(&settings);
        emoji.reload(store.customAliases());
        ASSERT_EQ(emoji.useCounts().value(QStringLiteral("👍")), 41);
        ASSERT_EQ(store.disabledApps().size(), 2);
        for (const BoolProperty& p : boolProperties)
            (store.*p.set)((store.*p.get)());
        store.setTriggerKey(store.triggerKey());
        store.setDisabledApps(store.disabledApps());
        store.setDisabledWebsites(store.disabledWebsites());
        store.setCustomAliases(store.customAliases());
        store.setSkinTone(store.skinTone());
    }
    EXPECT_EQ(fileText(), text);
    EXPECT_EQ(mode(path()), 0600);

    openStore()->setEnabled(true);
    EXPECT_EQ(mode(path()), 0600);
    EXPECT_TRUE(fileText().contains("other.tool.key=kept")) << fileText().toStdString();
    EXPECT_TRUE(storeFromDisk()->enabled());
    EXPECT_EQ(storeFromDisk()->triggerKey(), QStringLiteral("|"));

    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    openStore()->setSkinTone(SkinTone::dark);
    EXPECT_EQ(mode(path()), 0444) << "a read-only file stays read-only";

    const QString fresh = m_dir.filePath(QStringLiteral("new/pimsel.conf"));
    QSettings created(fresh, QSettings::IniFormat);
    SettingsStore(&created).setEnabled(false);
    EXPECT_EQ(mode(fresh), 0600) << "a new file is the user's alone";
    EXPECT_TRUE(fileText(fresh).contains("pimsel.enabled=false"));
}

TEST_F(SettingsStoreTest, UndecodableAliasesLoadEmptyAndSurviveUntilTheNextWrite) {
    const QByteArray good = R"({"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c","alias":"party","emoji":"x"})";
    const QByteArray undecodable[] = {
        "[" + good + R"(,{"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6d","alias":"cake"}])",
        R"([{"id":"not-a-uuid","alias":"a","emoji":"b"}])",
        R"([{"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c","alias":7,"emoji":"b"}])", good, "[" + good};
    for (const QByteArray& bytes : undecodable) {
        storeRaw("pimsel.customAliases", bytes);
        EXPECT_TRUE(openStore()->customAliases().isEmpty()) << bytes.toStdString();
        EXPECT_EQ(stored("pimsel.customAliases").toByteArray(), bytes);
    }
    storeRaw("pimsel.customAliases",
             QByteArray(R"([{"id":"3F2A9C1E-8B7D-4E6F-A5C4-1D2E3F4A5B6C","alias":"party","emoji":"x"}])"));
    ASSERT_EQ(storeFromDisk()->customAliases().size(), 1) << "upper-case ids are accepted";
    EXPECT_EQ(storeFromDisk()->customAliases().first().id, aliasId);
}

namespace {

class FakeLoginItems : public LoginItemManaging {
public:
    bool isRegistered() const override { return registered; }
    bool registerItem() override { return act("register", true); }
    bool unregisterItem() override { return act("unregister", false); }
    bool act(const char* call, bool target) {
        calls << QString::fromUtf8(call);
        registered = succeeds ? target : registered;
        return succeeds;
    }
    bool registered = false, succeeds = true;
    QStringList calls;
};

} // namespace

TEST_F(SettingsStoreTest, LaunchAtLoginCallsOnlyWhatChangesTheStateAndAlwaysNotifies) {
    const struct {
        bool registered, enable, succeeds;
        const char* calls;
        bool after;
    } cases[] = {{true, true, true, "", true},
                 {false, true, true, "register", true},
                 {true, false, true, "unregister", false},
                 {true, false, false, "unregister", true}};
    for (const auto& c : cases) {
        FakeLoginItems login;
        login.registered = c.registered, login.succeeds = c.succeeds;
        SettingsStore* store = openStore(&login);
        int changes = 0;
        QObject::connect(store, &SettingsStore::changed, [&] { ++changes; });
        store->setLaunchAtLogin(c.enable);
        EXPECT_EQ(login.calls.join(' '), QString::fromUtf8(c.calls));
        EXPECT_EQ(store->launchAtLogin(), c.after);
        EXPECT_EQ(changes, 1);
        m_stores.pop_back(); // the fake dies with this iteration
    }
    SettingsStore* without = openStore();
    without->setLaunchAtLogin(true);
    EXPECT_FALSE(without->launchAtLogin());
    EXPECT_TRUE(fileText().isEmpty()) << "the login state is not a stored setting";
}

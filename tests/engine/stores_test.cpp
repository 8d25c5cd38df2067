// The settings store and the emoji store's use counts, both kept in the user's settings file.

#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "engine/settings_store.h"

#include "support/files.h"

#include <QFile>
#include <QMetaProperty>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("pimsel.conf")); }

    // QSettings shares parsed files within a process; a copy under a new name is parsed from its
    // bytes, as another process would.
    QString copyOfFile() {
        const QString copy = m_dir.filePath(QStringLiteral("copy-%1.conf").arg(++m_copies));
        EXPECT_TRUE(!QFile::exists(path()) || QFile::copy(path(), copy));
        return copy;
    }
    QSettings* settingsFile(const QString& file) {
        m_settings.push_back(std::make_unique<QSettings>(file, QSettings::IniFormat));
        return m_settings.back().get();
    }
    SettingsStore* open(const QString& file) {
        m_stores.push_back(std::make_unique<SettingsStore>(settingsFile(file)));
        return m_stores.back().get();
    }
    // Each over a settings object of its own, as in another process.
    EmojiStore emojiStore() {
        return EmojiStore(settingsFile(path()),
                          QStringLiteral(PIMSEL_TEST_DATA_DIR "/engine/small_catalog.json"));
    }
    QVariant useCounts() {
        for (const auto& settings : m_settings)
            settings->sync();
        return stored(QLatin1String(EmojiStore::useCountKey));
    }
    SettingsStore* openStore() { return open(path()); }
    SettingsStore* storeFromDisk() { return open(copyOfFile()); }
    QVariant stored(const QString& key) { return QSettings(copyOfFile(), QSettings::IniFormat).value(key); }
    void storeRaw(const QString& key, const QVariant& value) {
        QSettings(path(), QSettings::IniFormat).setValue(key, value);
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

CustomAlias custom(const QString& alias, const QString& emoji) {
    return CustomAlias{QUuid::createUuid(), alias, emoji};
}

// "emoji name: aliases (category[, tones][, N uses])"
QString describe(const EmojiEntry& e) {
    return QStringLiteral("%1 %2: %3 (%4%5%6)")
        .arg(e.emoji, e.name, e.aliases.join(QLatin1Char(' ')), e.category,
             e.supportsSkinTones ? QStringLiteral(", tones") : QString(),
             e.useCount ? QStringLiteral(", %1 uses").arg(e.useCount) : QString());
}

const QString grinning = QStringLiteral("😀");
const QString thumbsUp = QStringLiteral("👍");
const QString party = QStringLiteral("🎉");
const QString unicorn = QStringLiteral("🦄");

const QUuid aliasId = QUuid::fromString(QStringLiteral("3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c"));

} // namespace

// Each value goes through the file as another process reads it. The INI format flattens one-element
// and empty lists; sets of every size must come back whole. (The switches are the preferences
// scenario's.)
TEST_F(SettingsFileTest, SetsAndAliasesRoundTripAndPublish) {
    for (SkinTone tone : allSkinTones) {
        openStore()->setSkinTone(tone);
        EXPECT_EQ(storeFromDisk()->skinTone(), tone);
    }
    for (const QString& trigger : SettingsStore::allowedTriggerKeys) {
        openStore()->setTriggerKey(trigger);
        EXPECT_EQ(storeFromDisk()->triggerCharacter(), trigger);
    }
    openStore()->setTriggerKey(QStringLiteral("~~"));
    EXPECT_EQ(storeFromDisk()->triggerCharacter(), QStringLiteral(":")) << "a rejected trigger";
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
    writeFile(path(), "[General]\npimsel.disabledApps=kitty, kitty, xterm\n");
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
    EXPECT_EQ(stored(QStringLiteral("pimsel.customAliases")).typeId(), QMetaType::QByteArray);
    storeRaw(QStringLiteral("pimsel.customAliases"),
             QByteArray(R"([{"id":"3F2A9C1E-8B7D-4E6F-A5C4-1D2E3F4A5B6C","alias":"party","emoji":"x"}])"));
    EXPECT_EQ(storeFromDisk()->customAliases().value(0).id, aliasId) << "upper-case ids are accepted";
}

// A value the store cannot use reads as its default, and stays in the file for the user to repair.
TEST_F(SettingsFileTest, WrongValuesReadAsDefaultsAndStayInTheFile) {
    writeFile(
        path(),
        "[General]\npimsel.enabled=garbage\npimsel.showImmediatelyAfterColon=maybe\n"
        "pimsel.acceptWithTab=false\npimsel.giphyCommandEnabled=@ByteArray(true)\n"
        "pimsel.disabledWebsites=@ByteArray(example.com)\npimsel.skinTone=purple\npimsel.triggerKey=/, |\n");
    const SettingsStore* store = storeFromDisk();
    EXPECT_TRUE(store->enabled() && store->giphyCommandEnabled());
    EXPECT_FALSE(store->showImmediatelyAfterColon());
    EXPECT_FALSE(store->acceptWithTab()) << "a well-formed value is still read";
    EXPECT_TRUE(store->disabledWebsites().isEmpty());
    EXPECT_EQ(store->skinTone(), SkinTone::yellow);
    EXPECT_EQ(store->triggerKey(), QStringLiteral(":"));

    const QByteArray good = R"({"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6c","alias":"party","emoji":"x"})";
    const std::pair<const char*, QVariant> wrong[] = {
        {"triggerKey", QStringLiteral("::")},
        {"triggerKey", QStringLiteral(";\u0301")},
        {"disabledApps", QVariantList{42}},
        {"customAliases", QStringLiteral("[") + QString::fromUtf8(good) + "]"}, // data, not text
        {"customAliases", "[" + good + R"(,{"id":"3f2a9c1e-8b7d-4e6f-a5c4-1d2e3f4a5b6d","alias":"cake"}])"},
        {"customAliases", QByteArray(R"([{"id":"not-a-uuid","alias":"a","emoji":"b"}])")},
        {"customAliases", "[" + good},
    };
    for (const auto& [name, value] : wrong) {
        const QString key = QStringLiteral("pimsel.") + name;
        storeRaw(key, value);
        SettingsStore* store = openStore();
        EXPECT_EQ(store->triggerCharacter(), QStringLiteral(":")) << name;
        EXPECT_TRUE(store->disabledApps().isEmpty() && store->customAliases().isEmpty()) << name;
        if (value.typeId() != QMetaType::QVariantList) {
            EXPECT_EQ(stored(key), value) << name;
        }
        QSettings(path(), QSettings::IniFormat).remove(key);
    }
}

// A start reads every value and the views bound to the properties assign them back; a quit syncs.
// Neither may touch a file the user keeps by hand; a real change keeps at least its keys and mode.
TEST_F(SettingsFileTest, UnchangedValuesLeaveTheUsersFileAloneAndAChangeKeepsItsMode) {
    const QString seedPath = m_dir.filePath(QStringLiteral("seed.conf"));
    QSettings(seedPath, QSettings::IniFormat)
        .setValue(QLatin1String(EmojiStore::useCountKey), QVariantMap{{QStringLiteral("👍"), 41}});
    const QByteArray text =
        "; kept by hand\n" + readFile(seedPath) +
        "# switched off for now\npimsel.enabled=false\npimsel.triggerKey=|\n"
        "pimsel.disabledApps=org.example.A, org.example.B\npimsel.skinTone=medium\n"
        "pimsel.showImmediatelyAfterColon=maybe\nother.tool.key=kept\nnot an assignment\n";
    writeFile(path(), text);
    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner));
    {
        QSettings settings(path(), QSettings::IniFormat);
        SettingsStore store(&settings);
        EmojiStore emoji(&settings);
        emoji.reload(store.customAliases());
        ASSERT_EQ(emoji.useCounts().value(QStringLiteral("👍")), 41);
        ASSERT_EQ(store.disabledApps().size(), 2);
        const QMetaObject& meta = SettingsStore::staticMetaObject;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            store.setProperty(meta.property(i).name(), store.property(meta.property(i).name()));
        store.setDisabledApps(store.disabledApps());
        store.setDisabledWebsites(store.disabledWebsites());
        store.setCustomAliases(store.customAliases());
        store.setSkinTone(store.skinTone());
    }
    EXPECT_EQ(readFile(path()), text);
    EXPECT_EQ(mode(path()), 0600);

    openStore()->setEnabled(true);
    EXPECT_EQ(mode(path()), 0600);
    EXPECT_TRUE(readFile(path()).contains("other.tool.key=kept")) << readFile(path()).toStdString();
    EXPECT_TRUE(storeFromDisk()->enabled());
    EXPECT_EQ(storeFromDisk()->triggerKey(), QStringLiteral("|"));

    ASSERT_TRUE(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    openStore()->setSkinTone(SkinTone::dark);
    EXPECT_EQ(mode(path()), 0444) << "a read-only file stays read-only";

    const QString fresh = m_dir.filePath(QStringLiteral("new/pimsel.conf"));
    QSettings created(fresh, QSettings::IniFormat);
    SettingsStore(&created).setEnabled(false);
    EXPECT_EQ(mode(fresh), 0600) << "a new file is the user's alone";
    EXPECT_TRUE(readFile(fresh).contains("pimsel.enabled=false"));
}

TEST_F(SettingsFileTest, ReloadDecodesTheFileInOrderAndMergesCustomAliases) {
    EmojiStore store = emojiStore();
    EXPECT_TRUE(store.entries().isEmpty());
    store.reload({});
    ASSERT_EQ(store.entries().size(), 5);
    EXPECT_EQ(store.entries()[1],
              (EmojiEntry{thumbsUp, "thumbs up", {"+1", "thumbsup"}, "People & Body", true, 0}));
    EXPECT_EQ(describe(store.entries()[4]), QStringLiteral("☕ hot beverage:  (Food & Drink)"));
    EXPECT_EQ(store.searchIndex().size(), 5);

    const struct {
        QList<CustomAlias> aliases;
        int row; // of the entry checked; 5 is a new one
        const char* expected;
    } cases[] = {
        {{custom(" party ", party), custom("party", party)}, 2, "🎉 party popper: party tada (Activities)"},
        {{custom("yay", party)}, 3, "🎉 party popper again: confetti (Activities)"},
        {{custom("unicorn_face", unicorn), custom("uni", unicorn)},
         5,
         "🦄 unicorn_face: uni unicorn_face (Custom)"},
        {{custom(" \t ", unicorn), custom("", party), custom("x", " \t")},
         2,
         "🎉 party popper: tada (Activities)"},
    };
    for (const auto& c : cases) {
        store.reload(c.aliases);
        ASSERT_EQ(store.entries().size(), c.row == 5 ? 6 : 5) << c.expected;
        EXPECT_EQ(describe(store.entries()[c.row]), QString::fromUtf8(c.expected));
    }

    store.reload({custom("sparkly_horse", unicorn)});
    const EmojiSearchEngine engine;
    EXPECT_EQ(engine.search("sparkly", store.entries(), store.searchIndex(), 6).value(0).emoji, unicorn);
    store.reload({});
    EXPECT_EQ(store.searchIndex().size(), 5) << "a removed alias leaves the index";
    EXPECT_TRUE(engine.search("sparkly", store.entries(), store.searchIndex(), 6).isEmpty());
}

// Counts stored in the wrong shape lose only the bad entries; 😀's three uses stay.
TEST_F(SettingsFileTest, RecordUsePersistsAndUpdatesOnlyTheFirstMatchingEntry) {
    storeRaw(QLatin1String(EmojiStore::useCountKey), QVariantMap{{grinning, 3},
                                                                 {party, 1.5},
                                                                 {thumbsUp, true},
                                                                 {unicorn, 0},
                                                                 {QString(), 5},
                                                                 {QStringLiteral("☕"), qlonglong(1) << 40},
                                                                 {QStringLiteral("😄"), -2}});
    {
        EmojiStore store = emojiStore();
        store.reload({});
        EXPECT_EQ(store.entries()[0].useCount, 3);
        for (const QString& emoji : {party, party, thumbsUp, unicorn}) // the unicorn is outside the catalogue
            store.recordUse(emoji);
        EXPECT_EQ(store.entries()[2].useCount, 2);
        EXPECT_EQ(store.entries()[3].useCount, 0) << "only the first entry with that emoji changes";
        EXPECT_EQ(store.entries()[1].useCount, 1);
    }
    EXPECT_EQ(useCounts().toMap(), (QVariantMap{{grinning, 3}, {party, 2}, {thumbsUp, 1}, {unicorn, 1}}));

    EmojiStore reopened = emojiStore();
    reopened.reload({custom("unicorn_face", unicorn)});
    EXPECT_EQ(reopened.entries()[2].useCount, 2);
    EXPECT_EQ(reopened.entries()[3].useCount, 2) << "reload fills every entry with that emoji";
    EXPECT_EQ(reopened.entries()[0].useCount, 3);
    EXPECT_EQ(reopened.entries().last().useCount, 1) << "counts are keyed by the emoji text";

    reopened.resetUseCounts();
    EXPECT_TRUE(reopened.useCounts().isEmpty());
    EXPECT_EQ(reopened.entries()[2].useCount, 0);
    EXPECT_FALSE(useCounts().isValid());

    // A second process counts into the same file (the input-method module beside the application):
    // neither loses the other's uses.
    EmojiStore here = emojiStore();
    here.reload({});
    EmojiStore other = emojiStore();
    other.reload({});
    here.recordUse(party);
    other.recordUse(party);
    here.recordUse(thumbsUp);
    EXPECT_EQ(here.entries()[2].useCount, 2) << "the other process's use is seen";
    EXPECT_EQ(useCounts().toMap(), (QVariantMap{{party, 2}, {thumbsUp, 1}}));
}

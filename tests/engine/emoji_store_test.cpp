#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

using namespace pimsel;

namespace {

QString dataFile(const char* name) {
    return QStringLiteral(PIMSEL_TEST_DATA_DIR "/engine/") + QString::fromLatin1(name);
}

CustomAlias custom(const QString& alias, const QString& emoji) {
    return CustomAlias{QUuid::createUuid(), alias, emoji};
}

const QString grinning = QStringLiteral("😀");
const QString thumbsUp = QStringLiteral("👍");
const QString party = QStringLiteral("🎉");
const QString unicorn = QStringLiteral("🦄");

class EmojiStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        settings = openSettings();
    }
    std::unique_ptr<QSettings> openSettings() const {
        return std::make_unique<QSettings>(dir.filePath(QStringLiteral("defaults.ini")),
                                           QSettings::IniFormat);
    }
    // Writes through one settings object and hands back a fresh one, so values go through the file.
    void storeRaw(const QVariant& value) {
        settings->setValue(QLatin1String(EmojiStore::useCountKey), value);
        settings->sync();
        settings = openSettings();
    }
    EmojiStore makeStore(const char* catalog = "small_catalog.json") {
        return EmojiStore(settings.get(), dataFile(catalog));
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
};

TEST_F(EmojiStoreTest, startsEmptyAndReloadDecodesTheFileInOrder) {
    EmojiStore store = makeStore();
    EXPECT_TRUE(store.entries().isEmpty());
    store.reload({});
    ASSERT_EQ(store.entries().size(), 5);
    const EmojiEntry& thumbs = store.entries()[1];
    EXPECT_EQ(thumbs.emoji, thumbsUp);
    EXPECT_EQ(thumbs.name, QStringLiteral("thumbs up"));
    EXPECT_EQ(thumbs.aliases, QStringList({QStringLiteral("+1"), QStringLiteral("thumbsup")}));
    EXPECT_EQ(thumbs.category, QStringLiteral("People & Body"));
    EXPECT_TRUE(thumbs.supportsSkinTones);
    EXPECT_EQ(thumbs.useCount, 0);
    EXPECT_TRUE(store.entries()[4].aliases.isEmpty());
    EXPECT_EQ(store.searchIndex().size(), 5);
}

// ---- custom aliases ----

struct MergeCase {
    const char* name;
    QList<CustomAlias> aliases;
    int expectedSize;
    int checkedRow;
    QString emoji;
    QStringList expectedAliases;
    QString expectedName;
    QString expectedCategory;
    bool expectedTones;
};

class CustomAliasMerge : public EmojiStoreTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(CustomAliasMerge, producesTheExpectedEntry) {
    const MergeCase& c = GetParam();
    EmojiStore store = makeStore();
    store.reload(c.aliases);
    ASSERT_EQ(store.entries().size(), c.expectedSize);
    const EmojiEntry& entry = store.entries()[c.checkedRow];
    EXPECT_EQ(entry.emoji, c.emoji);
    EXPECT_EQ(entry.aliases, c.expectedAliases);
    EXPECT_EQ(entry.name, c.expectedName);
    EXPECT_EQ(entry.category, c.expectedCategory);
    EXPECT_EQ(entry.supportsSkinTones, c.expectedTones);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CustomAliasMerge,
    ::testing::Values(MergeCase{"trimmedAliasGoesFirst",
                                {custom(" party ", party)},
                                5,
                                2,
                                party,
                                {"party", "tada"},
                                "party popper",
                                "Activities",
                                false},
                      MergeCase{"addedTwiceKeptOnce",
                                {custom(" party ", party), custom("party", party)},
                                5,
                                2,
                                party,
                                {"party", "tada"},
                                "party popper",
                                "Activities",
                                false},
                      MergeCase{"existingAliasSkipped",
                                {custom("tada", party)},
                                5,
                                2,
                                party,
                                {"tada"},
                                "party popper",
                                "Activities",
                                false},
                      MergeCase{"comparisonIsCaseSensitive",
                                {custom("Tada", party)},
                                5,
                                2,
                                party,
                                {"Tada", "tada"},
                                "party popper",
                                "Activities",
                                false},
                      MergeCase{"onlyTheFirstEntryWithThatEmoji",
                                {custom("yay", party)},
                                5,
                                3,
                                party,
                                {"confetti"},
                                "party popper again",
                                "Activities",
                                false},
                      MergeCase{"emojiTrimmedOfTabsToo",
                                {custom("woo", "\t" + party + " ")},
                                5,
                                2,
                                party,
                                {"woo", "tada"},
                                "party popper",
                                "Activities",
                                false},
                      MergeCase{"keepsSkinToneSupport",
                                {custom("like", thumbsUp)},
                                5,
                                1,
                                thumbsUp,
                                {"like", "+1", "thumbsup"},
                                "thumbs up",
                                "People & Body",
                                true},
                      MergeCase{"unknownEmojiAppendsCustomEntry",
                                {custom(" unicorn_face ", unicorn)},
                                6,
                                5,
                                unicorn,
                                {"unicorn_face"},
                                "unicorn_face",
                                "Custom",
                                false},
                      MergeCase{"secondAliasForAppendedEntryGoesFirst",
                                {custom("unicorn_face", unicorn), custom("uni", unicorn)},
                                6,
                                5,
                                unicorn,
                                {"uni", "unicorn_face"},
                                "unicorn_face",
                                "Custom",
                                false},
                      MergeCase{"emptyAliasIgnored",
                                {custom(" \t ", unicorn), custom("", party)},
                                5,
                                2,
                                party,
                                {"tada"},
                                "party popper",
                                "Activities",
                                false},
                      MergeCase{"emptyEmojiIgnored",
                                {custom("ghost", " \t")},
                                5,
                                4,
                                QStringLiteral("☕"),
                                {},
                                "hot beverage",
                                "Food & Drink",
                                false}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST_F(EmojiStoreTest, reloadDropsRemovedCustomAliasesAndRebuildsTheIndex) {
    EmojiStore store = makeStore();
    store.reload({custom("sparkly_horse", unicorn)});
    EmojiSearchEngine engine;
    auto found = engine.search(QStringLiteral("sparkly"), store.entries(), store.searchIndex(), 6);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first().emoji, unicorn);

    store.reload({});
    EXPECT_EQ(store.entries().size(), 5);
    EXPECT_EQ(store.searchIndex().size(), 5);
    EXPECT_TRUE(engine.search(QStringLiteral("sparkly"), store.entries(), store.searchIndex(), 6).isEmpty());
}

// ---- malformed catalogues ----

class MalformedCatalog : public EmojiStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MalformedCatalog, yieldsOnlyTheCustomEntries) {
    EmojiStore store = makeStore(GetParam());
    store.reload({});
    EXPECT_TRUE(store.entries().isEmpty());
    EXPECT_EQ(store.searchIndex().size(), 0);
    EXPECT_TRUE(EmojiSearchEngine()
                    .search(QStringLiteral("grin"), store.entries(), store.searchIndex(), 6)
                    .isEmpty());

    store.reload({custom("grinning", grinning)});
    ASSERT_EQ(store.entries().size(), 1);
    EXPECT_EQ(store.entries()[0].category, QStringLiteral("Custom"));
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedCatalog,
                         ::testing::Values("not_array.json", "missing_key.json", "wrong_type.json",
                                           "alias_not_string.json", "element_not_object.json",
                                           "truncated.json", "empty.json", "no_such_file.json"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name(info.param);
                             return name.substr(0, name.find('.'));
                         });

TEST(EmojiStoreDecode, nonObjectJsonValuesDecodeToNothing) {
    for (const char* json : {"null", "42", "\"text\"", "[[]]", "[null]", "{}"})
        EXPECT_TRUE(EmojiStore::decodeCatalog(QByteArray(json)).isEmpty()) << json;
    EXPECT_TRUE(EmojiStore::decodeCatalog(QByteArray("[]")).isEmpty());
}

// ---- use counts ----

TEST_F(EmojiStoreTest, absentCountsLeaveEveryUseCountZero) {
    EmojiStore store = makeStore();
    store.reload({});
    EXPECT_TRUE(store.useCounts().isEmpty());
    for (const EmojiEntry& entry : store.entries())
        EXPECT_EQ(entry.useCount, 0) << entry.name.toStdString();
}

TEST_F(EmojiStoreTest, recordUsePersistsAndUpdatesOnlyTheFirstMatchingEntry) {
    {
        EmojiStore store = makeStore();
        store.reload({});
        store.recordUse(party);
        store.recordUse(party);
        store.recordUse(thumbsUp);
        EXPECT_EQ(store.entries()[2].useCount, 2);
        EXPECT_EQ(store.entries()[3].useCount, 0) << "only the first entry with that emoji changes";
        EXPECT_EQ(store.entries()[1].useCount, 1);
    }
    settings->sync();
    settings = openSettings();
    const QVariantMap stored = settings->value(QLatin1String(EmojiStore::useCountKey)).toMap();
    EXPECT_EQ(stored.value(party).toInt(), 2);
    EXPECT_EQ(stored.value(thumbsUp).toInt(), 1);
    EXPECT_EQ(stored.size(), 2);

    EmojiStore reopened = makeStore();
    reopened.reload({custom("tada_alias", party)});
    EXPECT_EQ(reopened.entries()[2].useCount, 2);
    EXPECT_EQ(reopened.entries()[3].useCount, 2) << "reload fills every entry with that emoji";
    EXPECT_EQ(reopened.entries()[1].useCount, 1);
}

TEST_F(EmojiStoreTest, recordUseOfAnEmojiOutsideTheCatalogueStillCounts) {
    EmojiStore store = makeStore();
    store.reload({});
    const QList<EmojiEntry> before = store.entries();
    store.recordUse(unicorn);
    EXPECT_EQ(store.entries(), before);
    EXPECT_EQ(store.useCounts().value(unicorn), 1);
    settings->sync();
    EXPECT_EQ(openSettings()->value(QLatin1String(EmojiStore::useCountKey)).toMap().value(unicorn).toInt(),
              1);

    // Counts are keyed by the emoji text, so a later custom entry picks the count up.
    EmojiStore later = makeStore();
    later.reload({custom("unicorn_face", unicorn)});
    EXPECT_EQ(later.entries().last().useCount, 1);
}

TEST_F(EmojiStoreTest, resetUseCountsRemovesTheKeyAndZeroesEntries) {
    EmojiStore store = makeStore();
    store.reload({});
    store.recordUse(grinning);
    store.resetUseCounts();
    EXPECT_TRUE(store.useCounts().isEmpty());
    EXPECT_EQ(store.entries()[0].useCount, 0);
    EXPECT_FALSE(settings->contains(QLatin1String(EmojiStore::useCountKey)));
    store.reload({});
    EXPECT_EQ(store.entries()[0].useCount, 0);
}

class WrongShapeCounts : public EmojiStoreTest, public ::testing::WithParamInterface<QVariant> {};

TEST_P(WrongShapeCounts, areIgnoredAndReplacedOnTheNextUse) {
    storeRaw(GetParam());
    EmojiStore store = makeStore();
    store.reload({});
    EXPECT_TRUE(store.useCounts().isEmpty());
    for (const EmojiEntry& entry : store.entries())
        EXPECT_EQ(entry.useCount, 0);

    store.recordUse(grinning);
    settings->sync();
    const QVariant replaced = openSettings()->value(QLatin1String(EmojiStore::useCountKey));
    EXPECT_EQ(replaced.toMap(), (QVariantMap{{grinning, 1}}));
}

INSTANTIATE_TEST_SUITE_P(
    Values, WrongShapeCounts,
    ::testing::Values(QVariant(QStringLiteral("lots")), QVariant(7), QVariant(QVariantList{1, 2}),
                      QVariant(QVariantMap{{QStringLiteral("😀"), QStringLiteral("3")}}),
                      QVariant(QVariantMap{{QStringLiteral("😀"), 3}, {QStringLiteral("🎉"), 1.5}}),
                      QVariant(QVariantMap{{QStringLiteral("😀"), true}})));

TEST_F(EmojiStoreTest, wellFormedStoredCountsAreRead) {
    storeRaw(QVariantMap{{grinning, 4}, {unicorn, 2}});
    EmojiStore store = makeStore();
    store.reload({});
    EXPECT_EQ(store.entries()[0].useCount, 4);
    EXPECT_EQ(store.useCounts().value(unicorn), 2);
}

TEST(EmojiStoreResource, theCompiledInCatalogueIsReachable) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("d.ini")), QSettings::IniFormat);
    EmojiStore store(&settings);
    EXPECT_TRUE(QFile::exists(EmojiStore::defaultCatalogPath()));
    QFile file(EmojiStore::defaultCatalogPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    store.reload({});
    EXPECT_EQ(store.entries().size(), EmojiStore::decodeCatalog(bytes).size());
    if (bytes.trimmed() != "[]") {
        EXPECT_FALSE(store.entries().isEmpty()) << "the shipped catalogue must decode";
    }
}

} // namespace

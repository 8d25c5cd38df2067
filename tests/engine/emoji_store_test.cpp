#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

using namespace pimsel;

namespace {

CustomAlias custom(const QString& alias, const QString& emoji) {
    return CustomAlias{QUuid::createUuid(), alias, emoji};
}

const QString grinning = QStringLiteral("😀");
const QString thumbsUp = QStringLiteral("👍");
const QString party = QStringLiteral("🎉");
const QString unicorn = QStringLiteral("🦄");

class EmojiStoreTest : public ::testing::Test {
protected:
    void SetUp() override { settings = openSettings(); }
    std::unique_ptr<QSettings> openSettings() const {
        return std::make_unique<QSettings>(dir.filePath("defaults.ini"), QSettings::IniFormat);
    }
    // Hands back a fresh settings object, so values go through the file.
    QVariant reread() {
        settings->sync();
        settings = openSettings();
        return settings->value(QLatin1String(EmojiStore::useCountKey));
    }
    EmojiStore makeStore(const char* catalog = "small_catalog.json") {
        return EmojiStore(settings.get(), QStringLiteral(PIMSEL_TEST_DATA_DIR "/engine/") + catalog);
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;
};

TEST_F(EmojiStoreTest, reloadDecodesTheFileInOrder) {
    EmojiStore store = makeStore();
    EXPECT_TRUE(store.entries().isEmpty());
    store.reload({});
    ASSERT_EQ(store.entries().size(), 5);
    EXPECT_EQ(store.entries()[1],
              (EmojiEntry{thumbsUp, "thumbs up", {"+1", "thumbsup"}, "People & Body", true, 0}));
    EXPECT_TRUE(store.entries()[4].aliases.isEmpty());
    EXPECT_EQ(store.searchIndex().size(), 5);
}

struct MergeCase {
    const char* name;
    QList<CustomAlias> aliases;
    int row; // of the entry checked
    EmojiEntry expected;
};

class CustomAliasMerge : public EmojiStoreTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(CustomAliasMerge, producesTheExpectedEntry) {
    EmojiStore store = makeStore();
    store.reload(GetParam().aliases);
    ASSERT_EQ(store.entries().size(), GetParam().row == 5 ? 6 : 5);
    EXPECT_EQ(store.entries()[GetParam().row], GetParam().expected);
}

const EmojiEntry tada{party, "party popper", {"tada"}, "Activities", false, 0};
EmojiEntry with(EmojiEntry e, const QStringList& aliases) {
    e.aliases = aliases;
    return e;
}

MergeCase merge(const char* name, QList<CustomAlias> aliases, int row, EmojiEntry expected) {
    return MergeCase{name, std::move(aliases), row, std::move(expected)};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CustomAliasMerge,
    ::testing::Values(
        merge("trimmedAliasGoesFirstOnce", {custom(" party ", party), custom("party", party)}, 2,
              with(tada, {"party", "tada"})),
        merge("existingAliasSkipped", {custom("tada", party)}, 2, tada),
        merge("comparisonIsCaseSensitive", {custom("Tada", party)}, 2, with(tada, {"Tada", "tada"})),
        merge("onlyTheFirstEntryWithThatEmoji", {custom("yay", party)}, 3,
              EmojiEntry{party, "party popper again", {"confetti"}, "Activities", false, 0}),
        merge("emojiTrimmedOfTabsToo", {custom("woo", "\t" + party + " ")}, 2, with(tada, {"woo", "tada"})),
        merge("keepsSkinToneSupport", {custom("like", thumbsUp)}, 1,
              EmojiEntry{thumbsUp, "thumbs up", {"like", "+1", "thumbsup"}, "People & Body", true, 0}),
        merge("unknownEmojiAppendsCustomEntry", {custom("unicorn_face", unicorn), custom("uni", unicorn)}, 5,
              EmojiEntry{unicorn, "unicorn_face", {"uni", "unicorn_face"}, "Custom", false, 0}),
        merge("emptyAliasOrEmojiIgnored", {custom(" \t ", unicorn), custom("", party), custom("x", " \t")}, 2,
              tada)),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST_F(EmojiStoreTest, reloadDropsRemovedCustomAliasesAndRebuildsTheIndex) {
    EmojiStore store = makeStore();
    store.reload({custom("sparkly_horse", unicorn)});
    const EmojiSearchEngine engine;
    EXPECT_EQ(engine.search("sparkly", store.entries(), store.searchIndex(), 6).value(0).emoji, unicorn);
    store.reload({});
    EXPECT_EQ(store.searchIndex().size(), 5);
    EXPECT_TRUE(engine.search("sparkly", store.entries(), store.searchIndex(), 6).isEmpty());
}

class MalformedCatalog : public EmojiStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MalformedCatalog, yieldsOnlyTheCustomEntries) {
    EmojiStore store = makeStore(GetParam());
    store.reload({});
    EXPECT_TRUE(store.entries().isEmpty());
    EXPECT_EQ(store.searchIndex().size(), 0);
    store.reload({custom("grinning", grinning)});
    ASSERT_EQ(store.entries().size(), 1);
    EXPECT_EQ(store.entries()[0].category, QStringLiteral("Custom"));
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedCatalog,
                         ::testing::Values("not_array.json", "missing_key.json", "wrong_type.json",
                                           "alias_not_string.json", "element_not_object.json",
                                           "truncated.json", "empty.json", "no_such_file.json"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             const std::string name(info.param);
                             return name.substr(0, name.find('.'));
                         });

TEST(EmojiStoreDecode, nonObjectJsonValuesDecodeToNothing) {
    for (const char* json : {"null", "42", "\"text\"", "[[]]", "[null]", "{}", "[]"})
        EXPECT_TRUE(EmojiStore::decodeCatalog(QByteArray(json)).isEmpty()) << json;
}

TEST_F(EmojiStoreTest, recordUsePersistsAndUpdatesOnlyTheFirstMatchingEntry) {
    {
        EmojiStore store = makeStore();
        store.reload({});
        store.recordUse(party);
        store.recordUse(party);
        store.recordUse(thumbsUp);
        store.recordUse(unicorn); // outside the catalogue, still counted
        EXPECT_EQ(store.entries()[2].useCount, 2);
        EXPECT_EQ(store.entries()[3].useCount, 0) << "only the first entry with that emoji changes";
        EXPECT_EQ(store.entries()[1].useCount, 1);
    }
    EXPECT_EQ(reread().toMap(), (QVariantMap{{party, 2}, {thumbsUp, 1}, {unicorn, 1}}));

    EmojiStore reopened = makeStore();
    reopened.reload({custom("unicorn_face", unicorn)});
    EXPECT_EQ(reopened.entries()[2].useCount, 2);
    EXPECT_EQ(reopened.entries()[3].useCount, 2) << "reload fills every entry with that emoji";
    EXPECT_EQ(reopened.entries()[0].useCount, 0);
    EXPECT_EQ(reopened.entries().last().useCount, 1) << "counts are keyed by the emoji text";

    reopened.resetUseCounts();
    EXPECT_TRUE(reopened.useCounts().isEmpty());
    EXPECT_EQ(reopened.entries()[2].useCount, 0);
    EXPECT_FALSE(reread().isValid());
}

struct StoredCounts {
    const char* name;
    QVariant stored;
    QVariantMap afterOneMoreGrinning; // what the file holds after the next insertion
};

class StoredCountsOfTheWrongShape : public EmojiStoreTest,
                                    public ::testing::WithParamInterface<StoredCounts> {};

TEST_P(StoredCountsOfTheWrongShape, loseOnlyTheBadEntries) {
    settings->setValue(QLatin1String(EmojiStore::useCountKey), GetParam().stored);
    reread();
    EmojiStore store = makeStore();
    store.reload({});
    const QVariantMap expected = GetParam().afterOneMoreGrinning;
    EXPECT_EQ(store.entries()[1].useCount, expected.value(thumbsUp, 0).toInt()) << "the ranking survives";
    store.recordUse(grinning);
    EXPECT_EQ(reread().toMap(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredCountsOfTheWrongShape,
    ::testing::Values(StoredCounts{"string", QStringLiteral("lots"), {{grinning, 1}}},
                      StoredCounts{"number", 7, {{grinning, 1}}},
                      StoredCounts{"list", QVariantList{1, 2}, {{grinning, 1}}},
                      StoredCounts{
                          "textCount", QVariantMap{{grinning, QStringLiteral("3")}}, {{grinning, 1}}},
                      StoredCounts{"boolCount", QVariantMap{{grinning, true}}, {{grinning, 1}}},
                      StoredCounts{"oneBadAmongGood",
                                   QVariantMap{{thumbsUp, 41}, {party, 7}, {grinning, QStringLiteral("x")}},
                                   {{thumbsUp, 41}, {party, 7}, {grinning, 1}}},
                      StoredCounts{"fractionNegativeZeroHugeOrNoKey",
                                   QVariantMap{{grinning, 3},
                                               {party, 1.5},
                                               {thumbsUp, -2},
                                               {unicorn, 0},
                                               {QStringLiteral("☕"), qlonglong(1) << 40},
                                               {QString(), 5}},
                                   {{grinning, 4}}}),
    [](const ::testing::TestParamInfo<StoredCounts>& info) { return std::string(info.param.name); });

} // namespace

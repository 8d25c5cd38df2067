#include "engine/emoji_search_engine.h"

#include "support/files.h"

#include <gtest/gtest.h>

using namespace pimsel;
using pimsel::testing::collect;

namespace {

EmojiEntry entry(const QString& emoji, const QString& name, const QStringList& aliases, int useCount = 0) {
    return EmojiEntry{emoji, name, aliases, QStringLiteral("Test"), false, useCount};
}

// Every search runs through both forms; they must agree before the answer is checked.
QStringList searchBoth(const QString& query, const QList<EmojiEntry>& items, int limit = 6) {
    const EmojiSearchEngine engine;
    const QList<EmojiEntry> reference = engine.search(query, items, limit);
    EXPECT_EQ(collect(engine.search(query, items, SearchIndex::build(items), limit), &EmojiEntry::emoji),
              collect(reference, &EmojiEntry::emoji))
        << "query '" << query.toStdString() << "'";
    return collect(reference, &EmojiEntry::emoji);
}

std::optional<QString> exactBoth(const QString& query, const QList<EmojiEntry>& items) {
    const EmojiSearchEngine engine;
    const auto reference = engine.exactMatch(query, items);
    EXPECT_EQ(engine.exactMatch(query, items, SearchIndex::build(items)), reference) << query.toStdString();
    return reference ? std::optional<QString>(reference->emoji) : std::nullopt;
}

const QList<EmojiEntry> used{entry("a", "n", {"a"}, 0), entry("b", "n", {"b"}, 3), entry("c", "n", {"c"}, 1),
                             entry("d", "n", {"d"}, 3), entry("e", "n", {"e"}, 0)};

void order(const char* name, const QString& query, int limit, const QStringList& expected,
           const QList<EmojiEntry>& items) {
    EXPECT_EQ(searchBoth(query, items, limit), expected) << name;
}

TEST(Order, RanksAsExpected) {
    order("shorterAliasFirst", "smi", 6, {"😄", "😃"},
          {entry("😃", "a", {"smiley"}), entry("😄", "b", {"smile"})});
    order("oneUseFlipsNeighbours", "smi", 6, {"😃", "😄"},
          {entry("😃", "a", {"smiley"}, 1), entry("😄", "b", {"smile"})});
    order("exactOutranksHeavilyUsedPrefix", "smi", 6, {"😺", "😹", "🙂"},
          {entry("😹", "smi cat", {"smiley_cat"}, 1000), entry("🙂", "n", {"sxmxi"}, 500),
           entry("😺", "x", {"smi"})});
    order("tiersAliasPrefixNamePrefixAliasSubNameSub", "smi", 6, {"4", "3", "2", "1"},
          {entry("1", "qq smith", {"zz"}), entry("2", "z", {"s_m_i"}), entry("3", "smith", {"zz"}),
           entry("4", "z", {"smith"})});
    // Each matches "ab" only through its second alias (697), so the first alias is the key.
    order("tiesByKeyLengthThenKeyThenCatalogue", "ab", 6, {"short", "a", "again", "z"},
          {entry("z", "n", {"zz_first", "abx"}), entry("a", "n", {"aa_first", "aby"}),
           entry("short", "n", {"q", "abz"}), entry("again", "n", {"aa_first", "abw"})});
    order("keyIsTheNameWithoutAliases", "sm", 6, {"a", "b"}, {entry("b", "smb", {}), entry("a", "sma", {})});
    // U+1D41A is stored as surrogates, which sort before U+FF41 as code units.
    order(
        "keysCompareByCodePoint", "qq", 6, {"wide", "math"},
        {entry("math", "n", {QString::fromUcs4(U"\U0001D41A"), "qq"}), entry("wide", "n", {"\uFF41", "qq"})});
    order("keysCompareComposed", "qq", 6, {"f", "e"},
          {entry("e", "n", {"e\u0301", "qq"}), entry("f", "n", {"f", "qq"})});
    order("emptyQueryGivesMostUsed", "", 6, {"b", "d", "c"}, used);
    order("colonsOnlyQueryGivesMostUsedToTheLimit", "::", 2, {"b", "d"}, used);
    order("nothingUsedGivesNothing", ":", 6, {}, {entry("a", "n", {"a"})});
    order("zeroLimit", "b", 0, {}, used);
    order("fullNameIsOnlyANamePrefix", "grinning face", 6, {"😀"},
          {entry("😀", "grinning face", {"grinning"})});
    // What the user may type for a shortcode and what is no match.
    order("spacedCapitalQuery", "Thumbs Up", 6, {"👍"}, {entry("👍", "x", {"thumbs_up"})});
    order("aliasCaseAndColonsIgnored", "::smile:", 6, {"😄"}, {entry("😄", "x", {":SMILE:"})});
    order("decomposedQueryIsPrecomposed", "cafe\u0301", 6, {"☕"}, {entry("☕", "x", {"café"})});
    order("decomposedLetterIsNotItsBase", "cafe", 6, {}, {entry("☕", "x", {"cafe\u0301"})});
    order("clusterInNoKeyMatchesNothing", "sm\u0301", 6, {}, {entry("😄", "smile", {"smile"})});
}

TEST(SearchLimit, returnsTheBestLimitOfManyMatches) {
    QList<EmojiEntry> items;
    for (int i = 0; i < 40; ++i)
        items.append(entry(QString::number(i), "n",
                           {"smi" + QString(i % 7, QLatin1Char('x')) + QString::number(i)}, i * 13 % 5));
    const QStringList all = searchBoth("smi", items, 400);
    ASSERT_EQ(all.size(), 40);
    EXPECT_EQ(searchBoth("smi", items, 6), all.mid(0, 6));
}

TEST(SearchIndexUse, useCountsAreReadLiveAndAStaleIndexIsIgnored) {
    QList<EmojiEntry> items{entry("😃", "a", {"smiley"}), entry("😄", "b", {"smile"})};
    const EmojiSearchEngine engine;
    const SearchIndex stale = SearchIndex::build(QList<EmojiEntry>{items[0]});
    EXPECT_EQ(collect(engine.search("smi", items, stale, 6), &EmojiEntry::emoji), QStringList({"😄", "😃"}));
    EXPECT_EQ(engine.exactMatch("smile", items, stale)->emoji, QStringLiteral("😄"));
    const SearchIndex index = SearchIndex::build(items);
    items[0].useCount = 1;
    EXPECT_EQ(collect(engine.search("smi", items, index, 6), &EmojiEntry::emoji), QStringList({"😃", "😄"}));
}

TEST(ExactMatch, matchesNormalisedAliasOrNameAndPrefersMostUsedThenEarliest) {
    const QList<EmojiEntry> items{entry("😀", "grinning face", {"grinning"}), entry("🎉", "party", {"tada"}),
                                  entry("☕", "hot beverage", {"café"})};
    EXPECT_EQ(exactBoth("grinning face", items), QStringLiteral("😀"));
    EXPECT_EQ(exactBoth(":Tada:", items), QStringLiteral("🎉"));
    EXPECT_EQ(exactBoth("cafe\u0301", items), QStringLiteral("☕"));
    for (const char* miss : {"grin", "", "::", "tada!"})
        EXPECT_EQ(exactBoth(miss, items), std::nullopt) << miss;

    QList<EmojiEntry> dup{entry("1", "n", {"dup"}), entry("2", "n", {"x", "dup"}), entry("3", "dup", {"y"})};
    EXPECT_EQ(exactBoth("dup", dup), QStringLiteral("1"));
    dup[2].useCount = 2;
    EXPECT_EQ(exactBoth("dup", dup), QStringLiteral("3"));
    dup[1].useCount = 2;
    EXPECT_EQ(exactBoth("dup", dup), QStringLiteral("2"));
}

} // namespace

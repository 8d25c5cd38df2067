#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>

#include <random>

using namespace pimsel;

namespace {

EmojiEntry entry(const QString& emoji, const QString& name, const QStringList& aliases, int useCount = 0) {
    return EmojiEntry{emoji, name, aliases, QStringLiteral("Test"), false, useCount};
}

QStringList emojiOf(const QList<EmojiEntry>& entries) {
    QStringList result;
    for (const EmojiEntry& e : entries)
        result.append(e.emoji);
    return result;
}

// Every search runs through both forms; they must agree before the answer is checked.
QStringList searchBoth(const QString& query, const QList<EmojiEntry>& items, int limit) {
    const EmojiSearchEngine engine;
    const QList<EmojiEntry> reference = engine.search(query, items, limit);
    const QList<EmojiEntry> fast = engine.search(query, items, SearchIndex::build(items), limit);
    EXPECT_EQ(emojiOf(fast), emojiOf(reference)) << "query '" << query.toStdString() << "'";
    return emojiOf(reference);
}

std::optional<QString> exactBoth(const QString& query, const QList<EmojiEntry>& items) {
    const EmojiSearchEngine engine;
    const auto reference = engine.exactMatch(query, items);
    const auto fast = engine.exactMatch(query, items, SearchIndex::build(items));
    EXPECT_EQ(fast, reference) << "query '" << query.toStdString() << "'";
    if (!reference)
        return std::nullopt;
    return reference->emoji;
}

// ---- score ----

struct ScoreCase {
    const char* name;
    EmojiEntry item;
    QString query; // passed through normalise first
    int expected;
};

class Score : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(Score, matchesTheTierArithmetic) {
    const ScoreCase& c = GetParam();
    const EmojiSearchEngine engine;
    EXPECT_EQ(engine.score(c.item, EmojiSearchEngine::normalise(c.query)), c.expected);
    // The fast form must see the same item as matching or not.
    const QList<EmojiEntry> items{c.item};
    EXPECT_EQ(engine.search(c.query, items, SearchIndex::build(items), 6).size(), c.expected > 0 ? 1 : 0);
}

const QString longAlias300 = QStringLiteral("s") + QString(298, QLatin1Char('x')) + QStringLiteral("m");
const QString longAlias299 = QStringLiteral("s") + QString(297, QLatin1Char('x')) + QStringLiteral("m");

INSTANTIATE_TEST_SUITE_P(
    Tiers, Score,
    ::testing::Values(
        ScoreCase{"spacedCapitalQueryIsExact", entry("👍", "thumbs up", {"thumbs_up"}), "Thumbs Up", 1000},
        ScoreCase{"aliasPrefix", entry("😄", "grinning", {"smile"}), "smi", 695},
        ScoreCase{"longerAliasPrefix", entry("😃", "grinning", {"smiley"}), "smi", 694},
        ScoreCase{"oneUseAddsFive", entry("😃", "grinning", {"smiley"}, 1), "smi", 699},
        ScoreCase{"bonusCapsAtTwentyUses", entry("😃", "grinning", {"smiley"}, 50), "smi", 794},
        ScoreCase{"exactWithFullBonus", entry("😄", "grinning", {"smile"}, 20), "smile", 1100},
        ScoreCase{"aliasSubsequence", entry("🤷", "shrug", {"sam_i"}), "smi", 295},
        ScoreCase{"bestAliasWins", entry("🤷", "shrug", {"sam_i", "smiling"}), "smi", 693},
        ScoreCase{"nameOnlyPrefix", entry("😺", "smiling cat", {"zzz"}), "smi", 489},
        ScoreCase{"nameEqualHasNoExactTier", entry("😺", "smile", {"zzz"}), "smile", 495},
        ScoreCase{"nameOnlySubsequence", entry("👨", "sad man in", {"zzz"}), "smi", 190},
        ScoreCase{"aliasPrefixBeatsNamePrefix", entry("😺", "smiling cat face", {"smiley"}), "smi", 694},
        ScoreCase{"noMatch", entry("🐶", "dog", {"dog"}), "smi", 0},
        ScoreCase{"subsequenceAtZeroNeverMatchesEvenWhenUsed", entry("🐍", "long", {longAlias300}, 40), "sm",
                  0},
        ScoreCase{"subsequenceAtOneMatches", entry("🐍", "long", {longAlias299}, 40), "sm", 101},
        ScoreCase{"aliasCaseIgnored", entry("😄", "x", {"SMILE"}), "smile", 1000},
        ScoreCase{"aliasColonsTrimmed", entry("😄", "x", {":smile:"}), "smile", 1000},
        ScoreCase{"queryColonsTrimmed", entry("😄", "x", {"smile"}), "::smile:", 1000},
        ScoreCase{"decomposedQueryEqualsPrecomposedAlias", entry("☕", "x", {"café"}), "cafe\u0301", 1000},
        ScoreCase{"precomposedQueryEqualsDecomposedAlias", entry("☕", "x", {"cafe\u0301"}), "café", 1000},
        ScoreCase{"accentedPrefixCountsCharacters", entry("☕", "x", {"cafe\u0301s"}), "caf", 695},
        ScoreCase{"decomposedLetterIsNotItsBase", entry("☕", "x", {"cafe\u0301"}), "cafe", 0},
        ScoreCase{"emptyQueryScoresNothing", entry("😄", "smile", {"smile"}), "::", 0}),
    [](const ::testing::TestParamInfo<ScoreCase>& info) { return std::string(info.param.name); });

TEST(SearchNormalise, lowersTrimsColonsReplacesSpacesAndComposes) {
    EXPECT_EQ(EmojiSearchEngine::normalise(QStringLiteral(":Thumbs Up:")), QStringLiteral("thumbs_up"));
    EXPECT_EQ(EmojiSearchEngine::normalise(QStringLiteral("::a:b::")), QStringLiteral("a:b"));
    EXPECT_EQ(EmojiSearchEngine::normalise(QStringLiteral("CAFE\u0301")), QStringLiteral("café"));
    EXPECT_EQ(EmojiSearchEngine::normalise(QStringLiteral(":")), QString());
}

TEST(SearchNormalise, ignoresTheDefaultLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    const QString normalised = EmojiSearchEngine::normalise(QStringLiteral("INFO"));
    const QStringList found =
        searchBoth(QStringLiteral("INFO"), {entry("ℹ️", "information", {"info"})}, 6);
    QLocale::setDefault(saved);
    EXPECT_EQ(normalised, QStringLiteral("info"));
    EXPECT_EQ(found, QStringList{QStringLiteral("ℹ️")});
}

// ---- ordering ----

TEST(SearchOrder, useCountFlipsCloseNeighbours) {
    QList<EmojiEntry> items{entry("😃", "a", {"smiley"}), entry("😄", "b", {"smile"})};
    EXPECT_EQ(searchBoth("smi", items, 6), QStringList({"😄", "😃"}));
    items[0].useCount = 1;
    EXPECT_EQ(searchBoth("smi", items, 6), QStringList({"😃", "😄"}));
}

TEST(SearchOrder, useCountChangesNeedNoIndexRebuild) {
    QList<EmojiEntry> items{entry("😃", "a", {"smiley"}), entry("😄", "b", {"smile"})};
    const SearchIndex index = SearchIndex::build(items);
    items[0].useCount = 1;
    EXPECT_EQ(emojiOf(EmojiSearchEngine().search("smi", items, index, 6)), QStringList({"😃", "😄"}));
}

TEST(SearchOrder, exactAliasOutranksAnyPrefixOrSubsequence) {
    const QList<EmojiEntry> items{entry("😹", "smi cat", {"smiley_cat"}, 1000),
                                  entry("🙂", "smi face", {"sxmxi"}, 500), entry("😺", "x", {"smi"})};
    EXPECT_EQ(searchBoth("smi", items, 6), QStringList({"😺", "😹", "🙂"}));
}

TEST(SearchOrder, tiersRankAliasPrefixThenNamePrefixThenSubsequences) {
    const QList<EmojiEntry> items{entry("1", "qq smith", {"zz"}), // name subsequence: 200 - 8
                                  entry("2", "z", {"s_m_i"}),     // alias subsequence: 300 - 5
                                  entry("3", "smith", {"zz"}),    // name prefix: 500 - 5
                                  entry("4", "z", {"smith"})};    // alias prefix: 700 - 5
    EXPECT_EQ(searchBoth("smi", items, 6), QStringList({"4", "3", "2", "1"}));
}

TEST(SearchOrder, everyTierLandsOnItsExactScore) {
    // Four items, one per non-exact tier, all worth exactly 195; only their keys (the
    // non-matching first aliases) order them, so a tier that is one point off moves its item.
    const QString x = QStringLiteral("x");
    const QStringList bodies{"smi" + x.repeated(502), "s" + x.repeated(102) + "mi", "smi" + x.repeated(302),
                             "sxmxi"};
    for (bool ascending : {true, false}) {
        QStringList keys;
        for (int i = 0; i < 4; ++i)
            keys.append(QString(ascending ? i + 1 : 4 - i, QLatin1Char('k')));
        const QList<EmojiEntry> items{entry("aliasPrefix", "n", {keys[0], bodies[0]}),
                                      entry("aliasSubsequence", "n", {keys[1], bodies[1]}),
                                      entry("namePrefix", bodies[2], {keys[2]}),
                                      entry("nameSubsequence", bodies[3], {keys[3]})};
        for (const EmojiEntry& item : items)
            EXPECT_EQ(EmojiSearchEngine().score(item, QStringLiteral("smi")), 195)
                << item.emoji.toStdString();
        QStringList expected = emojiOf(items);
        if (!ascending)
            std::reverse(expected.begin(), expected.end());
        EXPECT_EQ(searchBoth("smi", items, 6), expected);
    }
}

TEST(SearchOrder, equalScoresOrderByKeyLengthThenKey) {
    // Each matches "ab" only through its second alias (697), so the first alias is the key.
    const QList<EmojiEntry> items{entry("z", "n", {"zz_first", "abx"}), entry("a", "n", {"aa_first", "aby"}),
                                  entry("short", "n", {"q", "abz"}),
                                  entry("again", "n", {"aa_first", "abw"})};
    EXPECT_EQ(searchBoth("ab", items, 6), QStringList({"short", "a", "again", "z"}));
}

TEST(SearchOrder, keyIsTheNameWhenThereAreNoAliases) {
    const QList<EmojiEntry> items{entry("b", "smb", {}), entry("a", "sma", {})};
    EXPECT_EQ(searchBoth("sm", items, 6), QStringList({"a", "b"}));
}

TEST(SearchOrder, keysCompareByCodePointNotCodeUnit) {
    // U+1D41A is stored as surrogates (D835 DC1A), which sort before U+FF41 as code units.
    const QList<EmojiEntry> items{entry("math", "n", {QString::fromUcs4(U"\U0001D41A"), "qq"}),
                                  entry("wide", "n", {QStringLiteral("\uFF41"), "qq"})};
    EXPECT_EQ(searchBoth("qq", items, 6), QStringList({"wide", "math"}));
}

TEST(SearchOrder, keysCompareInComposedForm) {
    // Decomposed "é" would sort before "f" by its first unit; composed it is U+00E9, after "f".
    const QList<EmojiEntry> items{entry("e", "n", {"e\u0301", "qq"}), entry("f", "n", {"f", "qq"})};
    EXPECT_EQ(searchBoth("qq", items, 6), QStringList({"f", "e"}));
}

TEST(SearchOrder, identicalKeysKeepCatalogueOrder) {
    const QList<EmojiEntry> forward{entry("1", "n", {"same", "qq"}), entry("2", "n", {"same", "qq"})};
    const QList<EmojiEntry> backward{forward[1], forward[0]};
    EXPECT_EQ(searchBoth("qq", forward, 6), QStringList({"1", "2"}));
    EXPECT_EQ(searchBoth("qq", backward, 6), QStringList({"2", "1"}));
}

QList<EmojiEntry> fortyMatches() {
    QList<EmojiEntry> items;
    for (int i = 0; i < 40; ++i)
        items.append(entry(QString::number(i), "n",
                           {"smi" + QString(i % 7, QLatin1Char('x')) + QString::number(i)}, (i * 13) % 5));
    items.append(entry("none", "n", {"dog"}));
    return items;
}

TEST(SearchLimit, returnsTheBestLimitOfManyMatches) {
    const QList<EmojiEntry> items = fortyMatches();
    const QStringList all = searchBoth("smi", items, 400);
    ASSERT_EQ(all.size(), 40);
    const QStringList six = searchBoth("smi", items, 6);
    EXPECT_EQ(six, all.mid(0, 6));
    EXPECT_TRUE(searchBoth("smi", items, 0).isEmpty());
    EXPECT_TRUE(searchBoth("smi", items, -3).isEmpty());
    EXPECT_TRUE(searchBoth("", items, 0).isEmpty());
}

TEST(SearchEmptyQuery, givesTheMostUsedInCountThenCatalogueOrder) {
    const QList<EmojiEntry> items{entry("a", "n", {"a"}, 0), entry("b", "n", {"b"}, 3),
                                  entry("c", "n", {"c"}, 1), entry("d", "n", {"d"}, 3),
                                  entry("e", "n", {"e"}, 0)};
    for (const char* query : {"", ":", "::"}) {
        EXPECT_EQ(searchBoth(query, items, 6), QStringList({"b", "d", "c"})) << query;
        EXPECT_EQ(searchBoth(query, items, 2), QStringList({"b", "d"})) << query;
    }
    const QList<EmojiEntry> unused{entry("a", "n", {"a"}), entry("b", "n", {"b"})};
    EXPECT_TRUE(searchBoth(":", unused, 6).isEmpty());
}

TEST(SearchQuery, aClusterFoundInNoKeyMatchesNothing) {
    const QList<EmojiEntry> items{entry("😄", "smile", {"smile"}), entry("☃", "snowman", {"snowman"})};
    EXPECT_TRUE(searchBoth(QStringLiteral("smi☃"), items, 6).isEmpty());
    EXPECT_TRUE(searchBoth(QStringLiteral("sm\u0301"), items, 6).isEmpty());
}

TEST(SearchQuery, nameIsOnlyAPrefixMatchForAFullName) {
    const QList<EmojiEntry> items{entry("😀", "grinning face", {"grinning"})};
    EXPECT_EQ(EmojiSearchEngine().score(items[0], QStringLiteral("grinning_face")), 487);
    EXPECT_EQ(searchBoth("grinning face", items, 6), QStringList{"😀"});
}

TEST(SearchIndexUse, anIndexOfAnotherListSizeIsIgnored) {
    const QList<EmojiEntry> items{entry("😃", "a", {"smiley"}), entry("😄", "b", {"smile"})};
    const SearchIndex stale = SearchIndex::build(QList<EmojiEntry>{items[0]});
    EXPECT_EQ(emojiOf(EmojiSearchEngine().search("smi", items, stale, 6)), QStringList({"😄", "😃"}));
    EXPECT_EQ(EmojiSearchEngine().exactMatch("smile", items, stale)->emoji, QStringLiteral("😄"));
    EXPECT_EQ(emojiOf(EmojiSearchEngine().search("smi", items, SearchIndex(), 6)), QStringList({"😄", "😃"}));
}

// ---- exact match ----

TEST(ExactMatch, matchesNormalisedAliasOrName) {
    const QList<EmojiEntry> items{entry("😀", "grinning face", {"grinning"}),
                                  entry("🎉", "party popper", {"tada"}), entry("☕", "hot beverage", {"café"})};
    EXPECT_EQ(exactBoth("grinning face", items), QStringLiteral("😀"));
    EXPECT_EQ(exactBoth(":Tada:", items), QStringLiteral("🎉"));
    EXPECT_EQ(exactBoth("cafe\u0301", items), QStringLiteral("☕"));
    EXPECT_EQ(exactBoth("grin", items), std::nullopt) << "a prefix is not exact";
    EXPECT_EQ(exactBoth("", items), std::nullopt);
    EXPECT_EQ(exactBoth("::", items), std::nullopt);
    EXPECT_EQ(exactBoth("tada!", items), std::nullopt);
}

TEST(ExactMatch, sharedAliasGoesToTheMostUsedThenTheEarliest) {
    QList<EmojiEntry> items{entry("1", "n", {"dup"}), entry("2", "n", {"x", "dup"}),
                            entry("3", "dup", {"y"})};
    EXPECT_EQ(exactBoth("dup", items), QStringLiteral("1"));
    items[2].useCount = 2;
    EXPECT_EQ(exactBoth("dup", items), QStringLiteral("3"));
    items[1].useCount = 2;
    EXPECT_EQ(exactBoth("dup", items), QStringLiteral("2"));
}

// ---- stickers share the ranking through their keywords ----

TEST(StickerSearch, ranksByKeywordsNameAndUseCount) {
    auto sticker = [](const char* id, const char* name, QStringList keywords, int uses) {
        StickerEntry s;
        s.id = QString::fromLatin1(id);
        s.name = QString::fromLatin1(name);
        s.keywords = std::move(keywords);
        s.useCount = uses;
        return s;
    };
    const QList<StickerEntry> stickers{sticker("wave", "waving", {"hello", "hi"}, 0),
                                       sticker("hifive", "high five", {"highfive"}, 2),
                                       sticker("cat", "cat", {"meow"}, 7)};
    const EmojiSearchEngine engine;
    EXPECT_EQ(engine.score(stickers[0], QStringLiteral("hi")), 1000);
    EXPECT_EQ(engine.score(stickers[1], QStringLiteral("hi")), 700 - 8 + 10);
    const QList<StickerEntry> reference = engine.search(QStringLiteral("hi"), stickers, 200);
    const QList<StickerEntry> fast =
        engine.search(QStringLiteral("hi"), stickers, SearchIndex::build(stickers), 200);
    ASSERT_EQ(reference.size(), 2);
    EXPECT_EQ(reference[0].id, QStringLiteral("wave"));
    EXPECT_EQ(reference[1].id, QStringLiteral("hifive"));
    EXPECT_EQ(fast, reference);
    const QList<StickerEntry> used = engine.search(QString(), stickers, SearchIndex::build(stickers), 200);
    ASSERT_EQ(used.size(), 2);
    EXPECT_EQ(used[0].id, QStringLiteral("cat"));
}

// ---- the fast form equals the reference form ----

// Every query through both forms at one limit; exactMatch too when asked.
void expectFormsAgree(const QList<EmojiEntry>& items, const QStringList& queries, int limit,
                      bool withExactMatch) {
    const EmojiSearchEngine engine;
    const SearchIndex index = SearchIndex::build(items);
    ASSERT_FALSE(queries.isEmpty());
    for (const QString& query : queries) {
        const QList<EmojiEntry> reference = engine.search(query, items, limit);
        const QList<EmojiEntry> fast = engine.search(query, items, index, limit);
        ASSERT_EQ(fast, reference) << "query '" << query.toStdString() << "' limit " << limit;
        if (withExactMatch) {
            ASSERT_EQ(engine.exactMatch(query, items, index), engine.exactMatch(query, items))
                << "query '" << query.toStdString() << "'";
        }
    }
}

QStringList randomQueries(std::mt19937& random, int count) {
    const QStringList pieces{"a",       "e", "i", "s", "m", "t", "_", " ", ":", "-", "+", "1", "É",
                             "e\u0301", "ß", "x", "o", "r", "n", "c", "ö", "Z", "☃", "👍", "ı"};
    std::uniform_int_distribution<int> length(0, 5);
    std::uniform_int_distribution<qsizetype> pick(0, pieces.size() - 1);
    QStringList queries;
    for (int i = 0; i < count; ++i) {
        QString query;
        for (int n = length(random); n > 0; --n)
            query += pieces[pick(random)];
        queries.append(query);
    }
    return queries;
}

QStringList shortPrefixes(const QList<EmojiEntry>& items) {
    QSet<QString> prefixes;
    for (const EmojiEntry& e : items) {
        for (const QString& alias : e.aliases) {
            for (int n = 1; n <= 3 && n <= alias.size(); ++n) {
                const QString prefix = alias.left(n);
                bool ascii = true;
                for (QChar c : prefix)
                    ascii = ascii && c.unicode() < 0x80;
                if (ascii)
                    prefixes.insert(prefix);
            }
        }
    }
    QStringList sorted(prefixes.begin(), prefixes.end());
    sorted.sort();
    return sorted;
}

void assignUseCounts(QList<EmojiEntry>& items, std::mt19937& random) {
    std::uniform_int_distribution<int> count(0, 30);
    for (qsizetype i = 0; i < items.size(); ++i)
        items[i].useCount = (i % 3 == 0) ? count(random) : 0;
}

TEST(SearchForms, agreeOnASyntheticCatalogue) {
    std::mt19937 random(20261206);
    const QStringList syllables{"sm", "i", "le", "ca", "fé", "e\u0301", "_", " ", "ST", "ar", "ß", "ö",
                                "1",  "+", "-",  ":",  "ha", "pp",      "y", "ı", "İ",  "☃",  "x"};
    std::uniform_int_distribution<qsizetype> pick(0, syllables.size() - 1);
    std::uniform_int_distribution<int> parts(1, 6);
    std::uniform_int_distribution<int> aliasCount(0, 3);
    auto word = [&] {
        QString w;
        for (int n = parts(random); n > 0; --n)
            w += syllables[pick(random)];
        return w;
    };
    QList<EmojiEntry> items;
    for (int i = 0; i < 600; ++i) {
        QStringList aliases;
        for (int n = aliasCount(random); n > 0; --n)
            aliases.append(word());
        if (i % 50 == 7 && !items.isEmpty())
            aliases = items[i / 2].aliases; // duplicate keys
        items.append(entry(QString::number(i), word() + " " + word(), aliases));
    }
    assignUseCounts(items, random);

    const QStringList prefixes = shortPrefixes(items);
    ASSERT_GT(prefixes.size(), 100);
    expectFormsAgree(items, prefixes, 400, true);
    expectFormsAgree(items, randomQueries(random, 300) + QStringList{QString()}, 6, true);
}

TEST(SearchForms, agreeOnTheShippedCatalogue) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("d.ini")), QSettings::IniFormat);
    EmojiStore store(&settings);
    store.reload({});
    if (store.entries().isEmpty())
        GTEST_SKIP() << "the shipped catalogue is still empty";
    QList<EmojiEntry> items = store.entries();
    std::mt19937 random(7);
    assignUseCounts(items, random);
    const QStringList prefixes = shortPrefixes(items);
    ASSERT_GT(prefixes.size(), 300);
    expectFormsAgree(items, prefixes, 6, false);
    expectFormsAgree(items, randomQueries(random, 100) + QStringList{QString(), "s", "sm", "smi", "fa"}, 400,
                     true);
}

} // namespace

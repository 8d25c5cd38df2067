#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "ui/emoji_browser_view_model.h"

#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

EmojiEntry entry(const QString& emoji, const QString& alias, const QString& category, int useCount = 0) {
    EmojiEntry e;
    e.emoji = emoji;
    e.name = alias + QStringLiteral(" name");
    e.aliases = {alias};
    e.category = category;
    e.useCount = useCount;
    return e;
}

QStringList titles(const QList<EmojiBrowserSection>& sections) {
    QStringList result;
    for (const EmojiBrowserSection& section : sections)
        result.append(section.title);
    return result;
}

QStringList aliasesOf(const QList<EmojiEntry>& entries) {
    QStringList result;
    for (const EmojiEntry& e : entries)
        result.append(e.aliases.value(0));
    return result;
}

// `count` entries in one category, aliases "<prefix>0", "<prefix>1", …
QList<EmojiEntry> numbered(int count, const QString& prefix = QStringLiteral("cell"),
                           const QString& category = QStringLiteral("Objects")) {
    QList<EmojiEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append(entry(QString(QChar(0x2600 + i)), prefix + QString::number(i), category));
    return entries;
}

const QString smileys = QStringLiteral("Smileys & Emotion");
const QString people = QStringLiteral("People & Body");
const QString flags = QStringLiteral("Flags");

} // namespace

// ---- Sections ---------------------------------------------------------------------------------

TEST(EmojiBrowserSections, NothingUsedMeansNoFrequentSectionAndFixedCategoryOrder) {
    // Catalogue order deliberately differs from the grid order.
    const QList<EmojiEntry> entries = {
        entry(QStringLiteral("🇫🇷"), QStringLiteral("fr"), flags),
        entry(QStringLiteral("👋"), QStringLiteral("wave"), people),
        entry(QStringLiteral("😀"), QStringLiteral("grinning"), smileys),
        entry(QStringLiteral("😃"), QStringLiteral("smiley"), smileys),
    };
    const QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    EXPECT_EQ(titles(sections), (QStringList{smileys, people, flags}));
    EXPECT_EQ(aliasesOf(sections[0].entries), (QStringList{"grinning", "smiley"}));
}

TEST(EmojiBrowserSections, FrequentSectionHoldsTheTwentyFourMostUsedWithTiesInCatalogueOrder) {
    QList<EmojiEntry> entries;
    // Thirty used entries: counts 1…6 repeating, so many ties; the cut falls inside a tie.
    for (int i = 0; i < 30; ++i)
        entries.append(entry(QString(QChar(0x2600 + i)), QStringLiteral("u%1").arg(i), smileys, i % 6 + 1));
    entries.append(entry(QStringLiteral("🪨"), QStringLiteral("never"), smileys, 0));

    const QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    ASSERT_EQ(titles(sections), (QStringList{EmojiBrowserViewModel::frequentlyUsedTitle, smileys}));
    const QList<EmojiEntry>& frequent = sections[0].entries;
    ASSERT_EQ(frequent.size(), 24);

    QStringList expected;
    for (int count = 6; count >= 1 && expected.size() < 24; --count) {
        for (int i = 0; i < 30 && expected.size() < 24; ++i) {
            if (i % 6 + 1 == count)
                expected.append(QStringLiteral("u%1").arg(i));
        }
    }
    EXPECT_EQ(aliasesOf(frequent), expected);
    // Every count-1 entry lost the cut, and the used entries still appear in their category.
    EXPECT_FALSE(aliasesOf(frequent).contains(QStringLiteral("u0")));
    EXPECT_EQ(sections[1].entries.size(), 31);
}

TEST(EmojiBrowserSections, UnknownCategoriesFollowFlagsByNameAndEmptyOnesAreSkipped) {
    const QList<EmojiEntry> entries = {
        entry(QStringLiteral("🅰"), QStringLiteral("zed"), QStringLiteral("Zeta")),
        entry(QStringLiteral("🇫🇷"), QStringLiteral("fr"), flags),
        entry(QStringLiteral("🅱"), QStringLiteral("custom"), QStringLiteral("Custom")),
        entry(QStringLiteral("😀"), QStringLiteral("grinning"), smileys),
        entry(QStringLiteral("🆎"), QStringLiteral("custom2"), QStringLiteral("Custom")),
    };
    const QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    // No People, Animals, … entries: those sections do not exist at all.
    EXPECT_EQ(titles(sections), (QStringList{smileys, flags, "Custom", "Zeta"}));
    EXPECT_EQ(aliasesOf(sections[2].entries), (QStringList{"custom", "custom2"}));
}

TEST(EmojiBrowserSections, ShippedCatalogueFillsTheNineCategoriesInOrder) {
    QFile file(EmojiStore::defaultCatalogPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<EmojiEntry> entries = EmojiStore::decodeCatalog(file.readAll());
    ASSERT_GT(entries.size(), 1000);

    EmojiBrowserViewModel model;
    model.load(entries);
    EXPECT_EQ(titles(model.sections()), EmojiBrowserViewModel::categoryOrder);
    EXPECT_EQ(model.visibleEntries().size(), entries.size());
}

// ---- Selection --------------------------------------------------------------------------------

struct MoveCase {
    int cells;
    int start;
    MoveDirection direction;
    int expected;
};

class EmojiBrowserMoves : public ::testing::TestWithParam<MoveCase> {};

TEST_P(EmojiBrowserMoves, MovesOverNineColumnsAndClampsAtBothEnds) {
    const MoveCase c = GetParam();
    EmojiBrowserViewModel model;
    model.load(numbered(c.cells));
    // Walk right to the start cell; right moves one cell at a time.
    for (int i = 0; i < c.start; ++i)
        model.moveSelection(MoveDirection::right);
    ASSERT_EQ(model.selectedIndex(), c.start);
    model.moveSelection(c.direction);
    EXPECT_EQ(model.selectedIndex(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Grid, EmojiBrowserMoves,
                         ::testing::Values(MoveCase{20, 15, MoveDirection::down, 19}, // clamped to the last
                                           MoveCase{20, 15, MoveDirection::up, 6},
                                           MoveCase{20, 3, MoveDirection::up, 0}, // first row → first cell
                                           MoveCase{20, 2, MoveDirection::down, 11},
                                           MoveCase{20, 0, MoveDirection::left, 0},
                                           MoveCase{20, 19, MoveDirection::right, 19},
                                           MoveCase{20, 9, MoveDirection::left, 8}, // no row boundary
                                           MoveCase{1, 0, MoveDirection::down, 0}));

TEST(EmojiBrowserSelection, MovesRunAcrossSectionBoundariesOverTheFlatList) {
    QList<EmojiEntry> entries = numbered(12, QStringLiteral("obj"), QStringLiteral("Objects"));
    entries[10].useCount = 3; // "obj10" becomes frequent: cell 0, and again at 1 + 10 = 11
    entries.prepend(entry(QStringLiteral("😀"), QStringLiteral("grinning"), smileys));
    EmojiBrowserViewModel model;
    model.load(entries);
    // Frequently Used (1) + Smileys (1) + Objects (12) = 14 cells.
    ASSERT_EQ(model.visibleEntries().size(), 14);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj10"));

    model.moveSelection(MoveDirection::down); // 9: eighth object
    EXPECT_EQ(model.selectedIndex(), 9);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj7"));
    model.moveSelection(MoveDirection::down); // 18 → clamped to 13
    EXPECT_EQ(model.selectedIndex(), 13);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj11"));
    model.moveSelection(MoveDirection::left);
    model.moveSelection(MoveDirection::left);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj9"));
}

TEST(EmojiBrowserSelection, EmptyGridIgnoresMovesAndHasNoSelectedEntry) {
    EmojiBrowserViewModel model;
    model.load(numbered(5));
    model.appendToQuery(QStringLiteral("zzzz"));
    ASSERT_TRUE(model.isSearching());
    ASSERT_TRUE(model.searchResults().isEmpty());
    QSignalSpy published(&model, &EmojiBrowserViewModel::selectedIndexChanged);
    model.moveSelection(MoveDirection::down);
    EXPECT_EQ(published.count(), 0);
    EXPECT_EQ(model.selectedIndex(), 0);
    EXPECT_FALSE(model.selectedEntry().has_value());
}

TEST(EmojiBrowserSelection, EveryQueryChangeAndRefreshPutsTheSelectionBackOnTheFirstCell) {
    EmojiBrowserViewModel model;
    model.load(numbered(30));
    QSignalSpy published(&model, &EmojiBrowserViewModel::selectedIndexChanged);

    const std::vector<std::function<void()>> edits = {
        [&] { model.appendToQuery(QStringLiteral("c")); },
        [&] { model.appendToQuery(QStringLiteral(" ")); },
        [&] { model.deleteBackward(); },
        [&] { model.refresh(); },
        [&] { model.load(numbered(30)); },
    };
    for (size_t i = 0; i < edits.size(); ++i) {
        model.moveSelection(MoveDirection::down);
        model.moveSelection(MoveDirection::right);
        ASSERT_EQ(model.selectedIndex(), 10) << "edit " << i;
        published.clear();
        edits[i]();
        EXPECT_EQ(model.selectedIndex(), 0) << "edit " << i;
        // Published even when it was already 0, so the view re-centres the first cell.
        EXPECT_GE(published.count(), 1) << "edit " << i;
    }
}

// ---- Query and search -------------------------------------------------------------------------

TEST(EmojiBrowserQuery, WhiteSpaceOnlyQueriesShowTheSections) {
    const QList<EmojiEntry> entries = {
        entry(QStringLiteral("😀"), QStringLiteral("grinning"), smileys),
        entry(QStringLiteral("🎉"), QStringLiteral("tada"), QStringLiteral("Activities"))};
    for (const QString& query : {QStringLiteral(" "), QStringLiteral("   "), QStringLiteral("\t "),
                                 QString(QChar(0x00A0)), QString(QChar(0x3000))}) {
        EmojiBrowserViewModel model;
        model.load(entries);
        model.appendToQuery(query);
        EXPECT_FALSE(model.isSearching()) << query.toStdString();
        EXPECT_TRUE(model.searchResults().isEmpty());
        EXPECT_EQ(model.visibleEntries().size(), 2);
        EXPECT_EQ(model.selectedEntry()->emoji, QStringLiteral("😀"));
    }

    EmojiBrowserViewModel model;
    model.load(entries);
    // Inner spaces are searched as "_": "tada n" is a prefix of the name "tada name".
    model.appendToQuery(QStringLiteral("tada n"));
    EXPECT_TRUE(model.isSearching());
    ASSERT_EQ(model.searchResults().size(), 1);
    EXPECT_EQ(model.selectedEntry()->emoji, QStringLiteral("🎉"));
}

TEST(EmojiBrowserQuery, SearchIsCappedAtFourHundredAndMatchesTheReferenceRanking) {
    QList<EmojiEntry> entries = numbered(500, QStringLiteral("ab"));
    entries[321].useCount = 7;
    entries[42].aliases = {QStringLiteral("ab")}; // the exact alias ranks first
    EmojiBrowserViewModel model;
    model.load(entries);
    model.appendToQuery(QStringLiteral("a"));
    model.appendToQuery(QStringLiteral("b"));
    ASSERT_EQ(model.searchResults().size(), EmojiBrowserViewModel::searchLimit);
    EXPECT_EQ(model.searchResults(), EmojiSearchEngine().search(QStringLiteral("ab"), entries, 400));
    EXPECT_EQ(model.searchResults().first().aliases.first(), QStringLiteral("ab"));
    EXPECT_EQ(model.visibleEntries().size(), 400);
}

TEST(EmojiBrowserQuery, EachLoadSearchesTheCatalogueItWasGiven) {
    const QString animals = QStringLiteral("Animals & Nature");
    QList<EmojiEntry> entries = {entry(QStringLiteral("🐱"), QStringLiteral("cat"), animals),
                                 entry(QStringLiteral("🐈"), QStringLiteral("cat2"), animals)};
    EmojiBrowserViewModel model;
    model.load(entries);
    model.appendToQuery(QStringLiteral("ca"));
    ASSERT_EQ(aliasesOf(model.searchResults()), (QStringList{"cat", "cat2"}));

    // Same keys, new use counts: one use lifts "cat2" (696 + 5) over "cat" (697).
    entries[1].useCount = 1;
    model.load(entries);
    EXPECT_TRUE(model.query().isEmpty());
    model.appendToQuery(QStringLiteral("ca"));
    EXPECT_EQ(aliasesOf(model.searchResults()), (QStringList{"cat2", "cat"}));

    // Same size, one entry renamed: the old alias no longer matches, the new one does.
    entries[1].aliases = {QStringLiteral("kitty")};
    entries[1].name = QStringLiteral("kitty name");
    model.load(entries);
    model.appendToQuery(QStringLiteral("cat2"));
    EXPECT_TRUE(model.searchResults().isEmpty());
    model.setQuery(QStringLiteral("kitty"));
    model.refresh();
    ASSERT_EQ(model.searchResults().size(), 1);
    EXPECT_EQ(model.searchResults().first().emoji, QStringLiteral("🐈"));
}

TEST(EmojiBrowserQuery, DeleteBackwardRemovesWholeUserPerceivedCharacters) {
    struct Case {
        QString typed;
        QString afterOneDelete;
    };
    const QList<Case> cases = {
        {QStringLiteral("ok👍🏽"), QStringLiteral("ok")},
        {QStringLiteral("a🇫🇷"), QStringLiteral("a")},
        {QStringLiteral("cafe\u0301"), QStringLiteral("caf")},
        {QStringLiteral("x👩‍👩‍👧"), QStringLiteral("x")},
        {QStringLiteral("tada"), QStringLiteral("tad")},
    };
    for (const Case& c : cases) {
        EmojiBrowserViewModel model;
        model.load(numbered(3));
        model.appendToQuery(c.typed.left(1));
        model.appendToQuery(c.typed.mid(1));
        ASSERT_EQ(model.query(), c.typed);
        model.deleteBackward();
        EXPECT_EQ(model.query(), c.afterOneDelete) << c.typed.toStdString();
    }

    EmojiBrowserViewModel model;
    model.load(numbered(3));
    QSignalSpy queryPublished(&model, &EmojiBrowserViewModel::queryChanged);
    model.deleteBackward();
    EXPECT_TRUE(model.query().isEmpty());
    EXPECT_EQ(queryPublished.count(), 0);
}

TEST(EmojiBrowserQuery, LoadStartsAFreshSession) {
    EmojiBrowserViewModel model;
    model.load(numbered(20));
    const QUuid firstSession = model.sessionID();
    model.appendToQuery(QStringLiteral("cell1"));
    model.moveSelection(MoveDirection::right);
    ASSERT_TRUE(model.isSearching());

    QSignalSpy sessions(&model, &EmojiBrowserViewModel::sessionIDChanged);
    model.load(numbered(20));
    EXPECT_NE(model.sessionID(), firstSession);
    EXPECT_EQ(sessions.count(), 1);
    EXPECT_TRUE(model.query().isEmpty());
    EXPECT_FALSE(model.isSearching());
    EXPECT_TRUE(model.searchResults().isEmpty());
    EXPECT_EQ(model.selectedIndex(), 0);
}

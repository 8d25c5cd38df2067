#include "engine/emoji_search_engine.h"
#include "engine/emoji_store.h"
#include "ui/emoji_browser_view_model.h"

#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

EmojiEntry entry(const QString& emoji, const QString& alias, const QString& category, int useCount = 0) {
    return EmojiEntry{emoji, alias + QStringLiteral(" name"), {alias}, category, false, useCount};
}

QStringList aliasesOf(const QList<EmojiEntry>& entries) {
    QStringList result;
    for (const EmojiEntry& e : entries)
        result.append(e.aliases.value(0));
    return result;
}

QStringList titles(const QList<EmojiBrowserSection>& sections) {
    QStringList result;
    for (const EmojiBrowserSection& section : sections)
        result.append(section.title);
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
const QString flags = QStringLiteral("Flags");

} // namespace

TEST(EmojiBrowserSections, FixedCategoryOrderThenUnknownOnesByNameAndEmptyOnesSkipped) {
    // Catalogue order deliberately differs from the grid order.
    const QList<EmojiEntry> entries = {entry("🅰", "zed", "Zeta"),           entry("🇫🇷", "fr", flags),
                                       entry("🅱", "custom", "Custom"),      entry("😀", "grinning", smileys),
                                       entry("👋", "wave", "People & Body"), entry("😃", "smiley", smileys),
                                       entry("🆎", "custom2", "Custom")};
    const QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    EXPECT_EQ(titles(sections), (QStringList{smileys, "People & Body", flags, "Custom", "Zeta"}));
    EXPECT_EQ(aliasesOf(sections[0].entries), (QStringList{"grinning", "smiley"}));
    EXPECT_EQ(aliasesOf(sections[3].entries), (QStringList{"custom", "custom2"}));

    QFile file(EmojiStore::defaultCatalogPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<EmojiEntry> shipped = EmojiStore::decodeCatalog(file.readAll());
    EmojiBrowserViewModel model;
    model.load(shipped);
    EXPECT_EQ(titles(model.sections()), EmojiBrowserViewModel::categoryOrder);
    EXPECT_EQ(model.visibleEntries().size(), shipped.size());
}

TEST(EmojiBrowserSections, FrequentSectionHoldsTheTwentyFourMostUsedWithTiesInCatalogueOrder) {
    QList<EmojiEntry> entries;
    // Thirty used entries: counts 1…6 repeating, so the cut falls inside a tie.
    for (int i = 0; i < 30; ++i)
        entries.append(entry(QString(QChar(0x2600 + i)), QStringLiteral("u%1").arg(i), smileys, i % 6 + 1));
    entries.append(entry("🪨", "never", smileys, 0));
    const QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    ASSERT_EQ(titles(sections), (QStringList{EmojiBrowserViewModel::frequentlyUsedTitle, smileys}));
    QStringList expected;
    for (int count = 6; count >= 1; --count)
        for (int i = count - 1; i < 30; i += 6)
            expected.append(QStringLiteral("u%1").arg(i));
    EXPECT_EQ(aliasesOf(sections[0].entries), expected.mid(0, 24));
    EXPECT_EQ(sections[1].entries.size(), 31) << "used entries stay in their category too";
}

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

TEST(EmojiBrowserSelection, MovesRunAcrossSectionsAndAnEmptyGridIgnoresThem) {
    QList<EmojiEntry> entries = numbered(12, QStringLiteral("obj"));
    entries[10].useCount = 3; // frequent: cell 0, and again at 1 + 1 + 10 = 12
    entries.prepend(entry("😀", "grinning", smileys));
    EmojiBrowserViewModel model;
    model.load(entries);
    ASSERT_EQ(model.visibleEntries().size(), 14);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj10"));
    model.moveSelection(MoveDirection::down);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj7"));
    model.moveSelection(MoveDirection::down);
    EXPECT_EQ(model.selectedEntry()->aliases.first(), QStringLiteral("obj11"));

    model.appendToQuery(QStringLiteral("zzzz"));
    ASSERT_TRUE(model.isSearching() && model.searchResults().isEmpty());
    QSignalSpy published(&model, &EmojiBrowserViewModel::selectedIndexChanged);
    model.moveSelection(MoveDirection::down);
    EXPECT_EQ(published.count(), 0);
    EXPECT_EQ(model.selectedIndex(), 0);
    EXPECT_FALSE(model.selectedEntry().has_value());
}

TEST(EmojiBrowserSelection, EveryQueryChangeRefreshAndLoadPutsTheSelectionBackOnTheFirstCell) {
    EmojiBrowserViewModel model;
    model.load(numbered(30));
    QSignalSpy published(&model, &EmojiBrowserViewModel::selectedIndexChanged);
    QSignalSpy sessions(&model, &EmojiBrowserViewModel::sessionIDChanged);
    const QUuid firstSession = model.sessionID();
    const std::vector<std::function<void()>> edits = {
        [&] { model.appendToQuery(QStringLiteral("c")); }, [&] { model.appendToQuery(QStringLiteral(" ")); },
        [&] { model.deleteBackward(); }, [&] { model.refresh(); }, [&] { model.load(numbered(30)); }};
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
    EXPECT_EQ(sessions.count(), 1) << "only a load starts a session";
    EXPECT_NE(model.sessionID(), firstSession);
    EXPECT_TRUE(model.query().isEmpty() && model.searchResults().isEmpty());
}

TEST(EmojiBrowserQuery, WhiteSpaceOnlyQueriesShowTheSectionsAndInnerSpacesAreSearched) {
    const QList<EmojiEntry> entries = {entry("😀", "grinning", smileys), entry("🎉", "tada", "Activities")};
    for (const QString& query : {QStringLiteral(" \t "), QString(QChar(0x00A0)), QString(QChar(0x3000))}) {
        EmojiBrowserViewModel model;
        model.load(entries);
        model.appendToQuery(query);
        EXPECT_FALSE(model.isSearching()) << query.toStdString();
        EXPECT_EQ(model.visibleEntries().size(), 2);
    }
    EmojiBrowserViewModel model;
    model.load(entries);
    model.appendToQuery(QStringLiteral("tada n")); // a prefix of the name "tada name"
    ASSERT_EQ(model.searchResults().size(), 1);
    EXPECT_EQ(model.selectedEntry()->emoji, QStringLiteral("🎉"));
}

TEST(EmojiBrowserQuery, SearchIsCappedAtFourHundredAndFollowsEachLoadedCatalogue) {
    QList<EmojiEntry> entries = numbered(500, QStringLiteral("ab"));
    entries[321].useCount = 7;
    entries[42].aliases = {QStringLiteral("ab")};
    EmojiBrowserViewModel model;
    model.load(entries);
    model.appendToQuery(QStringLiteral("ab"));
    ASSERT_EQ(model.searchResults().size(), EmojiBrowserViewModel::searchLimit);
    EXPECT_EQ(model.searchResults(), EmojiSearchEngine().search(QStringLiteral("ab"), entries, 400));
    EXPECT_EQ(model.visibleEntries().size(), 400);

    // Same size, one entry renamed: the old alias no longer matches, the new one does.
    entries[7].aliases = {QStringLiteral("kitty")};
    entries[7].name = QStringLiteral("kitty name");
    model.load(entries);
    model.appendToQuery(QStringLiteral("ab7"));
    EXPECT_FALSE(aliasesOf(model.searchResults()).contains(QStringLiteral("kitty")));
    model.setQuery(QStringLiteral("kitty"));
    model.refresh();
    EXPECT_EQ(aliasesOf(model.searchResults()), QStringList{"kitty"});
}

TEST(EmojiBrowserQuery, DeleteBackwardRemovesWholeUserPerceivedCharacters) {
    const QStringList typed = {"ok👍🏽", "a🇫🇷", "cafe\u0301", "x👩‍👩‍👧", "tada"};
    const QStringList after = {"ok", "a", "caf", "x", "tad"};
    for (qsizetype i = 0; i < typed.size(); ++i) {
        EmojiBrowserViewModel model;
        model.load(numbered(3));
        model.appendToQuery(typed[i].left(1));
        model.appendToQuery(typed[i].mid(1));
        model.deleteBackward();
        EXPECT_EQ(model.query(), after[i]) << typed[i].toStdString();
    }
    EmojiBrowserViewModel model;
    QSignalSpy queryPublished(&model, &EmojiBrowserViewModel::queryChanged);
    model.deleteBackward();
    EXPECT_EQ(queryPublished.count(), 0);
}

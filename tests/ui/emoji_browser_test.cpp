#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/palette.h"
#include "ui/suggestion_layout.h"

#include "engine/emoji_store.h"

#include "support/files.h"

#include <QGlyphRun>
#include <QRawFont>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

EmojiEntry entry(const QString& emoji, const QString& alias, const QString& category = {}) {
    return EmojiEntry{emoji, alias + QStringLiteral(" face"), {alias}, category, false, 0};
}

// `count` entries of `category`, aliases "<prefix>0", "<prefix>1", …
QList<EmojiEntry> numbered(int count, const QString& prefix = QStringLiteral("cell"),
                           const QString& category = QStringLiteral("Objects")) {
    QList<EmojiEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append(entry(QString(QChar(0x2600 + i)), prefix + QString::number(i), category));
    return entries;
}

QStringList aliasesOf(const QList<EmojiEntry>& entries) {
    return collect(entries, [](const EmojiEntry& e) { return e.aliases.value(0); });
}

// The catalogue the application compiles in.
QList<EmojiEntry> shippedCatalogue() {
    return EmojiStore::decodeCatalog(readFile(EmojiStore::defaultCatalogPath()));
}

const QString smileys = QStringLiteral("Smileys & Emotion");

} // namespace

TEST(EmojiBrowserModel, SectionsInTheFixedOrderAfterTheTwentyFourMostUsedWithTiesInCatalogueOrder) {
    // Catalogue order deliberately differs from the grid order.
    QList<EmojiEntry> entries = {entry("🅰", "zed", "Zeta"),           entry("🇫🇷", "fr", "Flags"),
                                 entry("🅱", "custom", "Custom"),      entry("😀", "grinning", smileys),
                                 entry("👋", "wave", "People & Body"), entry("😃", "smiley", smileys),
                                 entry("🆎", "custom2", "Custom")};
    QList<EmojiBrowserSection> sections = EmojiBrowserViewModel::buildSections(entries);
    EXPECT_EQ(collect(sections, &EmojiBrowserSection::title),
              (QStringList{smileys, "People & Body", "Flags", "Custom", "Zeta"}));
    EXPECT_EQ(aliasesOf(sections[0].entries), (QStringList{"grinning", "smiley"}));
    EXPECT_EQ(aliasesOf(sections[3].entries), (QStringList{"custom", "custom2"}));

    // Thirty used entries: counts 1…6 repeating, so the cut falls inside a tie.
    entries = numbered(30, QStringLiteral("u"), smileys);
    for (int i = 0; i < 30; ++i)
        entries[i].useCount = i % 6 + 1;
    entries.append(entry("🪨", "never", smileys));
    sections = EmojiBrowserViewModel::buildSections(entries);
    ASSERT_EQ(collect(sections, &EmojiBrowserSection::title),
              (QStringList{EmojiBrowserViewModel::frequentlyUsedTitle, smileys}));
    QStringList expected;
    for (int count = 6; count >= 1; --count)
        for (int i = count - 1; i < 30; i += 6)
            expected.append(QStringLiteral("u%1").arg(i));
    EXPECT_EQ(aliasesOf(sections[0].entries), expected.mid(0, 24));
    EXPECT_EQ(sections[1].entries.size(), 31) << "used entries stay in their category too";
}

TEST(EmojiBrowserModel, SelectionMovesOverNineColumnsAcrossSectionsAndEveryEditPutsItBackOnTheFirstCell) {
    // Twenty cells in rows of nine: moves clamp at both ends, left and right run across rows, and a
    // move down with no cell below goes to the last.
    EmojiBrowserViewModel model;
    model.load(numbered(20));
    const QString keys = QStringLiteral("RRDLLLDDRDUUUL"); // MoveDirection is left, right, up, down
    const int expected[] = {1, 2, 11, 10, 9, 8, 17, 19, 19, 19, 10, 1, 0, 0};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        model.moveSelection(MoveDirection(QStringLiteral("LRUD").indexOf(keys[i])));
        EXPECT_EQ(model.selectedIndex(), expected[i]) << "move " << i;
    }

    QList<EmojiEntry> entries = numbered(12, QStringLiteral("obj"));
    entries[10].useCount = 3; // frequent: cell 0, and again at 1 + 1 + 10 = 12
    entries.prepend(entry("😀", "grinning", smileys));
    model.load(entries);
    ASSERT_EQ(model.visibleEntries().size(), 14);
    QStringList selected{model.selectedEntry()->aliases.first()};
    for (int i = 0; i < 2; ++i) {
        model.moveSelection(MoveDirection::down);
        selected.append(model.selectedEntry()->aliases.first());
    }
    EXPECT_EQ(selected, (QStringList{"obj10", "obj7", "obj11"}));

    model.load(numbered(30));
    QSignalSpy published(&model, &EmojiBrowserViewModel::selectedIndexChanged);
    const std::vector<std::function<void()>> edits = {
        [&] { model.appendToQuery(QStringLiteral("c")); }, [&] { model.appendToQuery(QStringLiteral(" ")); },
        [&] { model.deleteBackward(); }, [&] { model.refresh(); }, [&] { model.load(numbered(30)); }};
    for (size_t i = 0; i < edits.size(); ++i) {
        model.moveSelection(MoveDirection::down);
        model.moveSelection(MoveDirection::right);
        ASSERT_EQ(model.selectedIndex(), 10) << "edit " << i;
        published.clear();
        edits[i]();
        // Published even when it was already 0, so the view re-centres the first cell.
        EXPECT_TRUE(model.selectedIndex() == 0 && !published.isEmpty()) << "edit " << i;
    }
    EXPECT_TRUE(model.query().isEmpty() && model.searchResults().isEmpty());

    model.appendToQuery(QStringLiteral("zzzz"));
    ASSERT_TRUE(model.isSearching() && model.searchResults().isEmpty());
    published.clear();
    model.moveSelection(MoveDirection::down);
    EXPECT_TRUE(published.isEmpty() && !model.selectedEntry()) << "an empty grid ignores moves";
}

TEST(EmojiBrowserModel, QuerySearchesTrimmedCappedAndAgainstTheLatestCatalogueAndDeletesWholeCharacters) {
    const QList<EmojiEntry> two = {entry("😀", "grinning", smileys), entry("🎉", "tada", "Activities")};
    EmojiBrowserViewModel model;
    model.load(two);
    model.appendToQuery(QStringLiteral(" \t\u00A0\u3000"));
    EXPECT_TRUE(!model.isSearching() && model.visibleEntries().size() == 2) << "blanks are no query";
    model.load(two);
    model.appendToQuery(QStringLiteral("tada f")); // inner spaces are searched: a prefix of "tada face"
    EXPECT_EQ(model.searchResults(), QList<EmojiEntry>{two[1]});

    QList<EmojiEntry> entries = numbered(500, QStringLiteral("ab"));
    model.load(entries);
    model.appendToQuery(QStringLiteral("ab"));
    EXPECT_EQ(model.visibleEntries().size(), EmojiBrowserViewModel::searchLimit);
    // Same size, one entry renamed: the old alias no longer matches, the new one does.
    entries[7].aliases = {QStringLiteral("kitty")};
    entries[7].name = QStringLiteral("kitty face");
    model.load(entries);
    model.appendToQuery(QStringLiteral("ab7"));
    EXPECT_FALSE(aliasesOf(model.searchResults()).contains(QStringLiteral("kitty")));
    model.setQuery(QStringLiteral("kitty"));
    model.refresh();
    EXPECT_EQ(aliasesOf(model.searchResults()), QStringList{"kitty"});

    const QStringList typed = {"ok👍🏽", "a🇫🇷", "cafe\u0301", "x👩‍👩‍👧", "tada"};
    const QStringList after = {"ok", "a", "caf", "x", "tad"};
    for (qsizetype i = 0; i < typed.size(); ++i) {
        model.load(two);
        model.appendToQuery(typed[i].left(1));
        model.appendToQuery(typed[i].mid(1));
        model.deleteBackward();
        EXPECT_EQ(model.query(), after[i]) << typed[i].toStdString();
    }
}

// The whole catalogue: a click activates the cell pressed and released on, a selection far down is
// scrolled to the centre, and a new session starts at the top.
TEST(EmojiBrowserView, ActivatesTheClickedCellAndKeepsTheSelectionInView) {
    const QList<EmojiEntry> entries = shippedCatalogue();
    EmojiBrowserViewModel model;
    model.load(entries);
    EmojiBrowserView view(&model);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EmojiBrowserGrid& grid = *view.grid();
    const auto cell = [&](int index) {
        return grid.gridLayout().cellRect(index).translated(0, -grid.scrollY()).center();
    };
    QStringList activated;
    view.onActivate = [&](const EmojiEntry& e) { activated.append(e.emoji); };
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell(1));
    QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, cell(1));
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, cell(5));
    EXPECT_EQ(activated, QStringList{model.visibleEntries()[1].emoji});

    for (int i = 0; i < 60; ++i)
        model.moveSelection(MoveDirection::down);
    const int far = model.selectedIndex();
    ASSERT_GT(far, 500);
    EXPECT_NEAR(cell(far).y(), grid.viewport()->height() / 2, 1);
    model.load(entries);
    EXPECT_EQ(grid.scrollY(), 0);
}

// Every emoji of the catalogue, and each of its skin tones, shapes to one visible glyph of the
// colour font: a sequence that falls apart, or an entry the installed font cannot draw, fails here.
TEST(EmojiFont, EveryCatalogueEmojiAndToneIsOneColourGlyph) {
    const QList<EmojiEntry> catalogue = shippedCatalogue();
    ASSERT_GT(catalogue.size(), 1800);
    const QFont font = palette::emojiFont(suggestion_layout::emojiPixelSize);
    int shaped = 0;
    QStringList split;
    for (const EmojiEntry& e : catalogue) {
        const QStringList forms = e.supportsSkinTones ? toneVariants(e) : QStringList{e.emoji};
        for (const QString& emoji : forms) {
            QTextLayout text(emoji, font);
            text.beginLayout();
            text.createLine();
            text.endLayout();
            int visible = 0;
            bool colourFontOnly = true;
            for (const QGlyphRun& run : text.glyphRuns()) {
                colourFontOnly &= run.rawFont().familyName() == QStringLiteral("Noto Color Emoji");
                const QList<quint32> glyphs = run.glyphIndexes();
                const QList<QPointF> positions = run.positions();
                for (qsizetype g = 0; g < glyphs.size(); ++g) {
                    const qreal next =
                        g + 1 < positions.size() ? positions[g + 1].x() : text.lineAt(0).naturalTextWidth();
                    visible += glyphs[g] != 0 && next - positions[g].x() > 0 ? 1 : 0;
                }
            }
            ++shaped;
            if (visible != 1 || !colourFontOnly)
                split << QStringLiteral("%1 (%2, %3 glyphs)").arg(emoji, e.aliases.value(0)).arg(visible);
        }
    }
    EXPECT_GT(shaped, catalogue.size());
    EXPECT_TRUE(split.isEmpty()) << split.size() << " of " << shaped
                                 << " split: " << split.mid(0, 20).join(QStringLiteral(", ")).toStdString();
}

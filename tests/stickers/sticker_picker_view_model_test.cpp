#include "stickers/sticker_picker_view_model.h"

#include "support/event_loop.h"
#include "support/files.h"

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::testing;

namespace {

StickerEntry sticker(const QString& id, int useCount = 0) {
    return StickerEntry{id, id + ".gif", {id.toLower()}, id, true, false, useCount, {}, {}};
}

class PickerTest : public ::testing::Test {
protected:
    // A remote search that only records: the test answers each call when it wants.
    GiphySearch recorder() {
        return [this](const QString& query, GiphySearchCompletion done) { calls.append({query, done}); };
    }

    QList<std::pair<QString, GiphySearchCompletion>> calls;
    StickerPickerViewModel model{nullptr};
};

TEST_F(PickerTest, WithoutAQueryUsedStickersComeFirstByCount) {
    model.loadStickers({sticker("A", 3), sticker("B"), sticker("C", 5), sticker("D", 3)});
    const QList<std::pair<QString, QStringList>> cases = {
        {"", {"C", "A", "D", "B"}},
        {" \t ", {"C", "A", "D", "B"}}, // blanks are no query
        {"::", {"C", "A", "D"}},        // a query the engine empties: used stickers only
        {"b", {"B"}},
    };
    for (const auto& [query, expected] : cases) {
        model.setQuery(query);
        model.refresh();
        EXPECT_EQ(collect(model.displayedItems(), &StickerEntry::id), expected) << query.toStdString();
    }
    // Equal counts keep catalogue order, also past the sizes where a sort is stable by accident.
    QList<StickerEntry> many;
    QStringList twice, once;
    for (int i = 0; i < 40; ++i) {
        many.append(sticker(QString::number(i), 1 + i % 2));
        (i % 2 ? twice : once).append(QString::number(i));
    }
    model.loadStickers(many);
    EXPECT_EQ(collect(model.displayedItems(), &StickerEntry::id), twice + once);
}

TEST_F(PickerTest, ArrowsMoveOverAGridOfFiveOrThreeColumnsWithoutWrapping) {
    struct Case {
        bool gifs;
        int items;
        QList<MoveDirection> moves;
        int expected;
    };
    using enum MoveDirection;
    const QList<Case> cases = {
        {false, 6, {right, right, right, down}, 5}, {false, 6, {right, right, up, left}, 0},
        {false, 12, {down, down, right, up}, 6},    {true, 7, {right, down}, 4},
        {true, 7, {down, down, down}, 6},           {true, 0, {down}, 0},
    };
    model.setRemoteDebounce(std::chrono::milliseconds(1));
    for (const Case& c : cases) {
        QList<StickerEntry> items;
        for (int i = 0; i < c.items; ++i)
            items.append(sticker(QString::number(i)));
        if (c.gifs) {
            model.loadRemote("/gif", recorder());
            ASSERT_TRUE(waitUntil([&] { return !calls.isEmpty(); }));
            calls.takeLast().second(items);
        } else {
            model.loadStickers(items);
        }
        for (MoveDirection move : c.moves)
            model.moveSelection(move);
        EXPECT_EQ(model.selectedIndex(), c.expected) << (c.gifs ? "GIF " : "sticker ") << c.items;
    }
}

TEST_F(PickerTest, RemoteSearchWaitsForAPauseAndAppliesOnlyTheNewestAnswer) {
    model.loadRemote("/gif", recorder());
    EXPECT_TRUE(model.isLoading());
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 1; }));
    EXPECT_EQ(calls[0].first, "");

    const quint64 token = model.requestToken();
    for (const char* letter : {"c", "a", "t"}) {
        model.appendToQuery(letter);
        spin(150); // a pause shorter than the debounce: the wait starts again
    }
    EXPECT_EQ(model.requestToken(), token + 3);
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 2; }));
    spin(300);
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1].first, "cat");

    model.appendToQuery("s");           // a newer request is now pending
    calls[1].second({sticker("late")}); // so the answer for "cat" is stale
    calls[0].second({sticker("stale")});
    EXPECT_TRUE(model.searchResults().isEmpty());
    EXPECT_TRUE(model.isLoading());
    ASSERT_TRUE(waitUntil([&] { return calls.size() == 3; }));
    calls[2].second({sticker("X"), sticker("Y")});
    EXPECT_EQ(collect(model.displayedItems(), &StickerEntry::id), (QStringList{"X", "Y"}));
    EXPECT_FALSE(model.isLoading());
}

} // namespace

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

class EmojiStoreTest : public ::testing::Test {
protected:
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
    std::unique_ptr<QSettings> settings = openSettings();
};

TEST_F(EmojiStoreTest, ReloadDecodesTheFileInOrderAndMergesCustomAliases) {
    EmojiStore store = makeStore();
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

TEST_F(EmojiStoreTest, RecordUsePersistsAndUpdatesOnlyTheFirstMatchingEntry) {
    {
        EmojiStore store = makeStore();
        store.reload({});
        for (const QString& emoji : {party, party, thumbsUp, unicorn}) // the unicorn is outside the catalogue
            store.recordUse(emoji);
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

    // A second process counts into the same file (the input-method module beside the application):
    // neither loses the other's uses.
    EmojiStore here = makeStore();
    here.reload({});
    const auto otherFile = openSettings();
    EmojiStore other(otherFile.get(), QStringLiteral(PIMSEL_TEST_DATA_DIR "/engine/small_catalog.json"));
    other.reload({});
    here.recordUse(party);
    other.recordUse(party);
    here.recordUse(thumbsUp);
    EXPECT_EQ(here.entries()[2].useCount, 2) << "the other process's use is seen";
    EXPECT_EQ(reread().toMap(), (QVariantMap{{party, 2}, {thumbsUp, 1}}));
}

// Counts stored in the wrong shape lose only the bad entries; the file holds what is left, plus the
// next insertion of 😀.
TEST_F(EmojiStoreTest, StoredCountsOfTheWrongShapeLoseOnlyTheBadEntries) {
    const struct {
        QVariant stored;
        QVariantMap afterOneMoreGrinning;
    } cases[] = {
        {QStringLiteral("lots"), {{grinning, 1}}},
        {QVariantMap{{grinning, 3},
                     {party, 1.5},
                     {thumbsUp, 41},
                     {QStringLiteral("😄"), -2},
                     {unicorn, 0},
                     {QStringLiteral("☕"), qlonglong(1) << 40},
                     {QString(), 5},
                     {QStringLiteral("😃"), true}},
         {{grinning, 4}, {thumbsUp, 41}}},
    };
    for (const auto& c : cases) {
        settings->setValue(QLatin1String(EmojiStore::useCountKey), c.stored);
        reread();
        EmojiStore store = makeStore();
        store.reload({});
        EXPECT_EQ(store.entries()[1].useCount, c.afterOneMoreGrinning.value(thumbsUp, 0).toInt())
            << "the ranking survives";
        store.recordUse(grinning);
        EXPECT_EQ(reread().toMap(), c.afterOneMoreGrinning) << c.stored.toString().toStdString();
    }
}

} // namespace

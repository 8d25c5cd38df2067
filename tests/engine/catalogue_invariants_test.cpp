// Checks the committed resources/emoji.json, the catalogue the application compiles in. It is generated
// by tools/emoji-catalogue; these invariants are what the store, the search and the browser rely on, so
// a regeneration that breaks one must fail here rather than in front of a user.

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

namespace {

const QStringList categories = {"Smileys & Emotion", "People & Body",   "Animals & Nature",
                                "Food & Drink",      "Travel & Places", "Activities",
                                "Objects",           "Symbols",         "Flags"};

const QJsonArray& catalogue() {
    static const QJsonArray entries = [] {
        QFile file(QStringLiteral(PIMSEL_TEST_DATA_DIR "/../../resources/emoji.json"));
        if (!file.open(QIODevice::ReadOnly))
            return QJsonArray();
        const QByteArray bytes = file.readAll();
        return bytes.startsWith("\xEF\xBB\xBF") ? QJsonArray() : QJsonDocument::fromJson(bytes).array();
    }();
    return entries;
}

std::string codePoints(const QString& s) {
    QStringList parts;
    for (const char32_t c : s.toUcs4())
        parts << QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    return parts.join(' ').toStdString();
}

// Index of the first entry holding each alias, as an exact shortcode lookup would find it.
QHash<QString, qsizetype> aliasOwners() {
    QHash<QString, qsizetype> owners;
    for (qsizetype i = 0; i < catalogue().size(); ++i)
        for (const QJsonValue alias : catalogue().at(i)["aliases"].toArray())
            if (!owners.contains(alias.toString()))
                owners.insert(alias.toString(), i);
    return owners;
}

TEST(CatalogueFile, ElementsAreWellFormedUniqueUntonedAndGroupedInOrder) {
    const QJsonArray& entries = catalogue();
    // Emoji 15.0 has 1870 base emoji outside the Component group; a large drift means a filter went wrong.
    ASSERT_GE(entries.size(), 1800);
    EXPECT_LE(entries.size(), 2000);
    QSet<QString> emojiSeen, aliasesSeen;
    qsizetype lastGroup = 0, toneable = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i));
        const QJsonObject e = entries.at(i).toObject();
        QStringList keys = e.keys();
        keys.sort();
        EXPECT_EQ(keys.join(','), QStringLiteral("aliases,category,emoji,name,supportsSkinTones"));
        const QString emoji = e["emoji"].toString();
        EXPECT_FALSE(emoji.isEmpty() || e["name"].toString().isEmpty());
        EXPECT_TRUE(e["supportsSkinTones"].isBool());
        toneable += e["supportsSkinTones"].toBool() ? 1 : 0;
        EXPECT_FALSE(emojiSeen.contains(emoji)) << "duplicate " << codePoints(emoji);
        emojiSeen.insert(emoji);
        for (const char32_t c : emoji.toUcs4()) {
            // Toned forms are derived at insertion time; a toned entry would be toned twice.
            EXPECT_FALSE(c >= 0x1F3FB && c <= 0x1F3FF) << codePoints(emoji);
            // A lone regional indicator is half a flag.
            EXPECT_FALSE(emoji.toUcs4().size() == 1 && c >= 0x1F1E6 && c <= 0x1F1FF) << codePoints(emoji);
        }
        // The first alias is the primary shortcode shown everywhere: every entry needs one.
        const QJsonArray aliases = e["aliases"].toArray();
        EXPECT_FALSE(aliases.isEmpty());
        for (const QJsonValue value : aliases) {
            const QString alias = value.toString();
            EXPECT_TRUE(value.isString() && !alias.isEmpty() && !alias.contains(':') &&
                        !alias.contains(QRegularExpression(QStringLiteral("\\s"))))
                << "alias '" << alias.toStdString() << "'";
            EXPECT_FALSE(aliasesSeen.contains(alias)) << "alias '" << alias.toStdString() << "' used twice";
            aliasesSeen.insert(alias);
        }
        // Each category in one block, in the order the browser shows them.
        const qsizetype group = categories.indexOf(e["category"].toString());
        ASSERT_GE(group, lastGroup) << e["category"].toString().toStdString();
        lastGroup = group;
    }
    EXPECT_EQ(lastGroup, categories.size() - 1);
    EXPECT_GT(toneable, 200) << "hands and people take tones";
}

struct ShortcodeExample {
    const char* alias;
    std::u32string emoji;
    const char* primary; // expected first alias of the entry
    const char* name;
    bool supportsSkinTones;
};

class CatalogueShortcode : public ::testing::TestWithParam<ShortcodeExample> {};

TEST_P(CatalogueShortcode, ResolvesToTheExpectedEntry) {
    const ShortcodeExample& ex = GetParam();
    const QHash<QString, qsizetype> owners = aliasOwners();
    ASSERT_TRUE(owners.contains(ex.alias)) << ex.alias;
    const QJsonObject e = catalogue().at(owners.value(ex.alias)).toObject();
    EXPECT_EQ(codePoints(e["emoji"].toString()),
              codePoints(QString::fromUcs4(ex.emoji.data(), static_cast<qsizetype>(ex.emoji.size()))));
    EXPECT_EQ(e["aliases"].toArray().first().toString(), QString::fromUtf8(ex.primary));
    EXPECT_EQ(e["name"].toString(), QString::fromUtf8(ex.name));
    EXPECT_EQ(e["supportsSkinTones"].toBool(), ex.supportsSkinTones);
}

// GitHub names come first and CLDR's snake_case names resolve to the same entry. U+FE0F appears only
// where the bare code point would render as text.
INSTANTIATE_TEST_SUITE_P(
    Examples, CatalogueShortcode,
    ::testing::Values(
        ShortcodeExample{"+1", U"\U0001F44D", "+1", "thumbs up", true},
        ShortcodeExample{"thumbsup", U"\U0001F44D", "+1", "thumbs up", true},
        ShortcodeExample{"thumbs_up", U"\U0001F44D", "+1", "thumbs up", true},
        ShortcodeExample{"-1", U"\U0001F44E", "-1", "thumbs down", true},
        ShortcodeExample{"tada", U"\U0001F389", "tada", "party popper", false},
        ShortcodeExample{"lizard", U"\U0001F98E", "lizard", "lizard", false},
        ShortcodeExample{"house", U"\U0001F3E0", "house", "house", false},
        ShortcodeExample{"smile", U"\U0001F604", "smile", "grinning face with smiling eyes", false},
        ShortcodeExample{"smiley", U"\U0001F603", "smiley", "grinning face with big eyes", false},
        ShortcodeExample{"heart", U"\u2764\uFE0F", "heart", "red heart", false},
        ShortcodeExample{"point_up", U"\u261D\uFE0F", "point_up", "index pointing up", true},
        ShortcodeExample{"neutral_face", U"\U0001F610", "neutral_face", "neutral face", false},
        ShortcodeExample{"hash", U"#\uFE0F\u20E3", "hash", "keycap: #", false},
        ShortcodeExample{"us", U"\U0001F1FA\U0001F1F8", "us", "flag: United States", false},
        ShortcodeExample{"rainbow_flag", U"\U0001F3F3\uFE0F\u200D\U0001F308", "rainbow_flag", "rainbow flag",
                         false}));

TEST(CatalogueFile, FollowsUnicodeOrder) {
    // Order is the final ranking tie-break, so spot-check it against Unicode's own sequence.
    const QHash<QString, qsizetype> owners = aliasOwners();
    EXPECT_EQ(owners.value("grinning", -1), 0);
    const QStringList ascending = {"grinning", "smiley", "smile", "heart", "wave", "+1",
                                   "-1",       "lizard", "house", "tada",  "hash", "us"};
    for (qsizetype i = 1; i < ascending.size(); ++i)
        EXPECT_LT(owners.value(ascending[i - 1], 1 << 20), owners.value(ascending[i], -1))
            << ascending[i].toStdString();
}

} // namespace

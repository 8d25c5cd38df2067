// What the store, the search and the browser rely on in the generated resources/emoji.json.

#include "support/files.h"

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

std::string codePoints(const QString& s) {
    QStringList parts;
    for (const char32_t c : s.toUcs4())
        parts << QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    return parts.join(' ').toStdString();
}

// GitHub names come first and CLDR's snake_case names resolve to the same entry. U+FE0F appears only
// where the bare code point would render as text. The rows follow Unicode's own order, which is the
// final ranking tie-break.
TEST(CatalogueFile, ElementsAreWellFormedUniqueUntonedGroupedInOrderAndKnownShortcodesResolve) {
    const QByteArray bytes =
        pimsel::testing::readFile(QStringLiteral(PIMSEL_TEST_DATA_DIR "/../../resources/emoji.json"));
    ASSERT_FALSE(bytes.isEmpty());
    ASSERT_FALSE(bytes.startsWith("\xEF\xBB\xBF")) << "a byte-order mark";
    const QJsonArray entries = QJsonDocument::fromJson(bytes).array();
    // Emoji 15.0 has 1870 base emoji outside the Component group; a large drift means a filter went wrong.
    ASSERT_GE(entries.size(), 1800);
    EXPECT_LE(entries.size(), 2000);
    QSet<QString> emojiSeen;
    QHash<QString, qsizetype> aliasOwners;
    qsizetype lastGroup = 0, toneable = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject e = entries.at(i).toObject();
        const QString emoji = e["emoji"].toString();
        SCOPED_TRACE("element " + std::to_string(i) + ": " + codePoints(emoji));
        QStringList keys = e.keys();
        keys.sort();
        EXPECT_EQ(keys.join(','), QStringLiteral("aliases,category,emoji,name,supportsSkinTones"));
        EXPECT_FALSE(emoji.isEmpty() || e["name"].toString().isEmpty() || emojiSeen.contains(emoji));
        EXPECT_TRUE(e["supportsSkinTones"].isBool());
        toneable += e["supportsSkinTones"].toBool() ? 1 : 0;
        emojiSeen.insert(emoji);
        // Toned forms are derived at insertion time, and a lone regional indicator is half a flag.
        for (const char32_t c : emoji.toUcs4())
            EXPECT_FALSE((c >= 0x1F3FB && c <= 0x1F3FF) ||
                         (emoji.toUcs4().size() == 1 && c >= 0x1F1E6 && c <= 0x1F1FF));
        // The first alias is the primary shortcode shown everywhere: every entry needs one.
        const QJsonArray aliases = e["aliases"].toArray();
        EXPECT_FALSE(aliases.isEmpty());
        for (const QJsonValue value : aliases) {
            const QString alias = value.toString();
            EXPECT_TRUE(value.isString() && !alias.isEmpty() && !alias.contains(':') &&
                        !alias.contains(QRegularExpression(QStringLiteral("\\s"))) &&
                        !aliasOwners.contains(alias))
                << "alias '" << alias.toStdString() << "' malformed or used twice";
            aliasOwners.insert(alias, i);
        }
        // Each category in one block, in the order the browser shows them.
        const qsizetype group = categories.indexOf(e["category"].toString());
        ASSERT_GE(group, lastGroup) << e["category"].toString().toStdString();
        lastGroup = group;
    }
    EXPECT_EQ(lastGroup, categories.size() - 1);
    EXPECT_GT(toneable, 200) << "hands and people take tones";

    // Each example's aliases name one entry, the first being its primary shortcode, in Unicode's order.
    const std::pair<const char*, std::u32string> examples[] = {
        {"grinning", U"\U0001F600"},
        {"heart", U"\u2764\uFE0F"},
        {"+1 thumbsup thumbs_up", U"\U0001F44D"},
        {"hash", U"#\uFE0F\u20E3"},
        {"us", U"\U0001F1FA\U0001F1F8"},
    };
    qsizetype previous = -1;
    for (const auto& [names, emoji] : examples) {
        const QStringList aliases = QString::fromUtf8(names).split(QLatin1Char(' '));
        const qsizetype index = aliasOwners.value(aliases.first(), -1);
        ASSERT_GT(index, previous) << names;
        previous = index;
        for (const QString& alias : aliases)
            EXPECT_EQ(aliasOwners.value(alias, -1), index) << alias.toStdString();
        const QJsonObject e = entries.at(index).toObject();
        EXPECT_EQ(codePoints(e["emoji"].toString()),
                  codePoints(QString::fromUcs4(emoji.data(), static_cast<qsizetype>(emoji.size()))));
        EXPECT_EQ(e["aliases"].toArray().first().toString(), aliases.first());
    }
}

} // namespace

// Checks the committed resources/emoji.json, the catalogue the application compiles in. It is generated
// by tools/emoji-catalogue; these invariants are what the store, the search and the browser rely on, so
// a regeneration that breaks one must fail here rather than in front of a user.

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const QStringList kCategories = {
    QStringLiteral("Smileys & Emotion"),
    QStringLiteral("People & Body"),
    QStringLiteral("Animals & Nature"),
    QStringLiteral("Food & Drink"),
    QStringLiteral("Travel & Places"),
    QStringLiteral("Activities"),
    QStringLiteral("Objects"),
    QStringLiteral("Symbols"),
    QStringLiteral("Flags"),
};

struct Catalogue {
    QJsonArray entries;
    QString error;
};

Catalogue load() {
    Catalogue result;
    QFile file(QStringLiteral(PIMSEL_TEST_DATA_DIR "/../../resources/emoji.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot open %1: %2").arg(file.fileName(), file.errorString());
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        result.error = QStringLiteral("the file starts with a byte-order mark");
        return result;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        result.error = QStringLiteral("JSON error at offset %1: %2")
                           .arg(parseError.offset)
                           .arg(parseError.errorString());
        return result;
    }
    if (!doc.isArray()) {
        result.error = QStringLiteral("the top level is not an array");
        return result;
    }
    result.entries = doc.array();
    return result;
}

const Catalogue& catalogue() {
    static const Catalogue loaded = load();
    return loaded;
}

QString fromCodePoints(const std::u32string& codePoints) {
    return QString::fromUcs4(codePoints.data(), static_cast<qsizetype>(codePoints.size()));
}

// std::string so that GoogleTest prints readable values on failure.
std::string str(const QString& s) {
    return s.toStdString();
}

std::string codePointsText(const QString& s) {
    QStringList parts;
    for (const char32_t c : s.toUcs4()) {
        parts << QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    }
    return str(parts.join(QLatin1Char(' ')));
}

// Index of the first entry holding each alias, as an exact shortcode lookup would find it.
QHash<QString, qsizetype> aliasOwners(const QJsonArray& entries) {
    QHash<QString, qsizetype> owners;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        for (const QJsonValue alias : entries.at(i).toObject().value(QStringLiteral("aliases")).toArray()) {
            if (!owners.contains(alias.toString())) {
                owners.insert(alias.toString(), i);
            }
        }
    }
    return owners;
}

} // namespace

#define REQUIRE_CATALOGUE()                                                                                  \
    ASSERT_TRUE(catalogue().error.isEmpty()) << catalogue().error.toStdString();                             \
    const QJsonArray& entries = catalogue().entries

TEST(CatalogueFile, EveryElementHasExactlyTheFiveTypedKeys) {
    REQUIRE_CATALOGUE();
    ASSERT_FALSE(entries.isEmpty());
    const QStringList expectedKeys = {QStringLiteral("aliases"), QStringLiteral("category"),
                                      QStringLiteral("emoji"), QStringLiteral("name"),
                                      QStringLiteral("supportsSkinTones")};
    for (qsizetype i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i));
        ASSERT_TRUE(entries.at(i).isObject());
        const QJsonObject e = entries.at(i).toObject();
        QStringList keys = e.keys();
        keys.sort();
        EXPECT_EQ(str(keys.join(QLatin1Char(','))), str(expectedKeys.join(QLatin1Char(','))));
        EXPECT_TRUE(e.value(QStringLiteral("emoji")).isString());
        EXPECT_FALSE(e.value(QStringLiteral("emoji")).toString().isEmpty());
        EXPECT_TRUE(e.value(QStringLiteral("name")).isString());
        EXPECT_FALSE(e.value(QStringLiteral("name")).toString().isEmpty());
        EXPECT_TRUE(e.value(QStringLiteral("category")).isString());
        EXPECT_TRUE(e.value(QStringLiteral("supportsSkinTones")).isBool());
        ASSERT_TRUE(e.value(QStringLiteral("aliases")).isArray());
        const QJsonArray aliases = e.value(QStringLiteral("aliases")).toArray();
        // The first alias is the primary shortcode shown in the popover and browser: every entry needs one.
        EXPECT_FALSE(aliases.isEmpty()) << str(e.value(QStringLiteral("name")).toString());
        for (const QJsonValue alias : aliases) {
            EXPECT_TRUE(alias.isString());
        }
    }
}

TEST(CatalogueFile, SizeIsPlausibleForEmojiUpTo15) {
    REQUIRE_CATALOGUE();
    // Emoji 15.0 has 1870 base emoji outside the Component group; a large drift means the version filter,
    // the group filter or the skin-tone folding went wrong.
    EXPECT_GE(entries.size(), 1800);
    EXPECT_LE(entries.size(), 2000);
}

TEST(CatalogueFile, AliasesAreNonEmptyShortcodesUniqueAcrossTheCatalogue) {
    REQUIRE_CATALOGUE();
    QHash<QString, QString> firstOwner;
    qsizetype total = 0;
    for (const QJsonValue value : entries) {
        const QJsonObject e = value.toObject();
        const QString emoji = e.value(QStringLiteral("emoji")).toString();
        for (const QJsonValue aliasValue : e.value(QStringLiteral("aliases")).toArray()) {
            const QString alias = aliasValue.toString();
            ++total;
            EXPECT_FALSE(alias.isEmpty()) << "empty alias on " << emoji.toStdString();
            bool clean = true;
            for (const QChar c : alias) {
                clean = clean && c != QLatin1Char(':') && !c.isSpace();
            }
            EXPECT_TRUE(clean) << "alias '" << alias.toStdString() << "' on " << emoji.toStdString();
            const auto it = firstOwner.constFind(alias);
            if (it != firstOwner.constEnd()) {
                ADD_FAILURE() << "alias '" << alias.toStdString() << "' on both " << it->toStdString()
                              << " and " << emoji.toStdString();
            } else {
                firstOwner.insert(alias, emoji);
            }
        }
    }
    EXPECT_GT(total, entries.size());
}

TEST(CatalogueFile, CategoriesAreTheNineGroupsInContiguousBlocks) {
    REQUIRE_CATALOGUE();
    // Unicode order keeps each group together and the groups in this sequence; the browser's sections
    // and the ranking tie-break both follow file order.
    qsizetype lastGroup = -1;
    QSet<QString> seen;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString category = entries.at(i).toObject().value(QStringLiteral("category")).toString();
        const qsizetype group = kCategories.indexOf(category);
        ASSERT_GE(group, 0) << "unknown category '" << category.toStdString() << "' at element " << i;
        ASSERT_GE(group, lastGroup) << "'" << category.toStdString() << "' reappears at element " << i;
        lastGroup = group;
        seen.insert(category);
    }
    EXPECT_EQ(seen.size(), kCategories.size());
}

TEST(CatalogueFile, EmojiAreUniqueAndNeverAlreadyToned) {
    REQUIRE_CATALOGUE();
    QSet<QString> seen;
    qsizetype toneable = 0;
    for (const QJsonValue value : entries) {
        const QJsonObject e = value.toObject();
        const QString emoji = e.value(QStringLiteral("emoji")).toString();
        EXPECT_FALSE(seen.contains(emoji)) << "duplicate " << codePointsText(emoji);
        seen.insert(emoji);
        for (const char32_t c : emoji.toUcs4()) {
            // Toned forms are derived at insertion time; a toned entry would be toned twice.
            EXPECT_FALSE(c >= 0x1F3FB && c <= 0x1F3FF) << "skin-tone modifier in " << codePointsText(emoji);
            // A lone regional indicator is half a flag, not an emoji to insert.
            if (emoji.toUcs4().size() == 1) {
                EXPECT_FALSE(c >= 0x1F1E6 && c <= 0x1F1FF) << codePointsText(emoji);
            }
        }
        if (e.value(QStringLiteral("supportsSkinTones")).toBool()) {
            ++toneable;
        }
    }
    // Hands and people take tones; if none do, the skin-tone flag was lost in generation.
    EXPECT_GT(toneable, 200);
}

struct ShortcodeExample {
    const char* label;
    const char* alias;
    std::u32string emoji;
    const char* primary; // expected first alias of the entry
    const char* name;
    const char* category;
    bool supportsSkinTones;
};

class CatalogueShortcode : public ::testing::TestWithParam<ShortcodeExample> {};

TEST_P(CatalogueShortcode, ResolvesToTheExpectedEntry) {
    REQUIRE_CATALOGUE();
    const ShortcodeExample& ex = GetParam();
    const QHash<QString, qsizetype> owners = aliasOwners(entries);
    const auto it = owners.constFind(QString::fromUtf8(ex.alias));
    ASSERT_NE(it, owners.constEnd()) << "no entry has the alias " << ex.alias;
    const QJsonObject e = entries.at(*it).toObject();
    const QString emoji = e.value(QStringLiteral("emoji")).toString();
    EXPECT_EQ(codePointsText(emoji), codePointsText(fromCodePoints(ex.emoji)));
    EXPECT_EQ(str(e.value(QStringLiteral("aliases")).toArray().first().toString()), ex.primary);
    EXPECT_EQ(str(e.value(QStringLiteral("name")).toString()), ex.name);
    EXPECT_EQ(str(e.value(QStringLiteral("category")).toString()), ex.category);
    EXPECT_EQ(e.value(QStringLiteral("supportsSkinTones")).toBool(), ex.supportsSkinTones);
}

// GitHub names come first and CLDR's snake_case names resolve to the same entry. The variation selector
// cases pin the qualification rule: U+FE0F only where the bare code point would render as text.
INSTANTIATE_TEST_SUITE_P(
    Catalogue, CatalogueShortcode,
    ::testing::Values(
        ShortcodeExample{"plus_one", "+1", U"\U0001F44D", "+1", "thumbs up", "People & Body", true},
        ShortcodeExample{"thumbsup", "thumbsup", U"\U0001F44D", "+1", "thumbs up", "People & Body", true},
        ShortcodeExample{"thumbs_up", "thumbs_up", U"\U0001F44D", "+1", "thumbs up", "People & Body", true},
        ShortcodeExample{"minus_one", "-1", U"\U0001F44E", "-1", "thumbs down", "People & Body", true},
        ShortcodeExample{"tada", "tada", U"\U0001F389", "tada", "party popper", "Activities", false},
        ShortcodeExample{"lizard", "lizard", U"\U0001F98E", "lizard", "lizard", "Animals & Nature", false},
        ShortcodeExample{"house", "house", U"\U0001F3E0", "house", "house", "Travel & Places", false},
        ShortcodeExample{"smile", "smile", U"\U0001F604", "smile", "grinning face with smiling eyes",
                         "Smileys & Emotion", false},
        ShortcodeExample{"smiley", "smiley", U"\U0001F603", "smiley", "grinning face with big eyes",
                         "Smileys & Emotion", false},
        ShortcodeExample{"wave", "wave", U"\U0001F44B", "wave", "waving hand", "People & Body", true},
        ShortcodeExample{"heart_needs_vs16", "heart", U"\u2764\uFE0F", "heart", "red heart",
                         "Smileys & Emotion", false},
        ShortcodeExample{"relaxed_needs_vs16", "relaxed", U"\u263A\uFE0F", "relaxed", "smiling face",
                         "Smileys & Emotion", false},
        ShortcodeExample{"point_up_toned_with_vs16", "point_up", U"\u261D\uFE0F", "point_up",
                         "index pointing up", "People & Body", true},
        ShortcodeExample{"neutral_face_no_vs16", "neutral_face", U"\U0001F610", "neutral_face",
                         "neutral face", "Smileys & Emotion", false},
        ShortcodeExample{"alien_no_vs16", "alien", U"\U0001F47D", "alien", "alien", "Smileys & Emotion",
                         false},
        ShortcodeExample{"keycap_hash", "hash", U"#\uFE0F\u20E3", "hash", "keycap: #", "Symbols", false},
        ShortcodeExample{"flag_us", "us", U"\U0001F1FA\U0001F1F8", "us", "flag: United States", "Flags",
                         false},
        ShortcodeExample{"rainbow_flag_zwj", "rainbow_flag", U"\U0001F3F3\uFE0F\u200D\U0001F308",
                         "rainbow_flag", "rainbow flag", "Flags", false}),
    [](const ::testing::TestParamInfo<ShortcodeExample>& info) { return std::string(info.param.label); });

TEST(CatalogueFile, FollowsUnicodeOrder) {
    REQUIRE_CATALOGUE();
    const QHash<QString, qsizetype> owners = aliasOwners(entries);
    // Order is the final ranking tie-break, so spot-check it against Unicode's own sequence.
    EXPECT_EQ(owners.value(QStringLiteral("grinning"), -1), 0);
    const std::vector<const char*> ascending = {"grinning", "smiley", "smile", "heart", "wave", "+1",
                                                "-1",       "lizard", "house", "tada",  "hash", "us"};
    for (size_t i = 1; i < ascending.size(); ++i) {
        const QString before = QString::fromUtf8(ascending[i - 1]);
        const QString after = QString::fromUtf8(ascending[i]);
        ASSERT_TRUE(owners.contains(before) && owners.contains(after))
            << ascending[i - 1] << ", " << ascending[i];
        EXPECT_LT(owners.value(before), owners.value(after)) << ascending[i - 1] << " vs " << ascending[i];
    }
}

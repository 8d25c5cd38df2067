#include "engine/emoji_store.h"

#include "engine/resources.h"
#include "engine/settings_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <limits>
#include <mutex>

namespace pimsel {

namespace {

QString trimSpacesAndTabs(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

void mergeCustomAliases(QList<EmojiEntry>& entries, const QList<CustomAlias>& customAliases) {
    for (const CustomAlias& custom : customAliases) {
        const QString alias = trimSpacesAndTabs(custom.alias);
        const QString emoji = trimSpacesAndTabs(custom.emoji);
        if (alias.isEmpty() || emoji.isEmpty())
            continue;
        auto found = std::find_if(entries.begin(), entries.end(),
                                  [&emoji](const EmojiEntry& entry) { return entry.emoji == emoji; });
        if (found == entries.end()) {
            entries.append(EmojiEntry{emoji, alias, {alias}, QStringLiteral("Custom"), false, 0});
            continue;
        }
        if (found->aliases.contains(alias))
            continue;
        // The entry keeps its skin-tone support: a new shortcode is no reason to lose the tones.
        found->aliases.prepend(alias);
    }
}

} // namespace

QString EmojiStore::defaultCatalogPath() {
    return QStringLiteral(":/pimsel/emoji.json");
}

EmojiStore::EmojiStore(QSettings* defaults, QString catalogPath)
    : m_defaults(defaults)
    , m_catalogPath(std::move(catalogPath))
    , m_useCounts(defaults != nullptr ? decodeUseCounts(defaults->value(QLatin1String(useCountKey)))
                                      : UseCounts{}) {
    ensureResources();
}

QList<EmojiEntry> EmojiStore::decodeCatalog(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return {};
    const QJsonArray array = document.array();
    QList<EmojiEntry> entries;
    entries.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return {};
        const QJsonObject object = element.toObject();
        const QJsonValue emoji = object.value(QLatin1String("emoji"));
        const QJsonValue name = object.value(QLatin1String("name"));
        const QJsonValue aliases = object.value(QLatin1String("aliases"));
        const QJsonValue category = object.value(QLatin1String("category"));
        const QJsonValue tones = object.value(QLatin1String("supportsSkinTones"));
        if (!emoji.isString() || !name.isString() || !aliases.isArray() || !category.isString() ||
            !tones.isBool())
            return {};
        EmojiEntry entry{emoji.toString(), name.toString(), {}, category.toString(), tones.toBool(), 0};
        const QJsonArray aliasArray = aliases.toArray();
        entry.aliases.reserve(aliasArray.size());
        for (const QJsonValue& alias : aliasArray) {
            if (!alias.isString())
                return {};
            entry.aliases.append(alias.toString());
        }
        entries.append(std::move(entry));
    }
    return entries;
}

void EmojiStore::reload(const QList<CustomAlias>& customAliases) {
    QList<EmojiEntry> entries;
    QFile file(m_catalogPath);
    if (file.open(QIODevice::ReadOnly))
        entries = decodeCatalog(file.readAll());
    mergeCustomAliases(entries, customAliases);
    for (EmojiEntry& entry : entries)
        entry.useCount = m_useCounts.value(entry.emoji, 0);
    m_entries = std::move(entries);
    m_index = SearchIndex::build(m_entries);
}

void EmojiStore::recordUse(const QString& emoji) {
    if (m_defaults != nullptr) {
        // The input-method module and the desktop application count into the same file: each use
        // starts from what the file holds now, so neither side's uses are lost when the other writes.
        m_defaults->sync();
        if (m_defaults->status() == QSettings::NoError) {
            const UseCounts stored = decodeUseCounts(m_defaults->value(QLatin1String(useCountKey)));
            for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
                if (m_useCounts.value(it.key(), 0) != it.value())
                    countInFirstEntry(it.key(), it.value());
            }
            for (auto it = m_useCounts.cbegin(); it != m_useCounts.cend(); ++it) {
                if (!stored.contains(it.key()))
                    countInFirstEntry(it.key(), 0);
            }
            m_useCounts = stored;
        }
    }
    int& count = m_useCounts[emoji];
    if (count < std::numeric_limits<int>::max())
        ++count;
    const int newCount = count;
    if (m_defaults != nullptr)
        writeSetting(*m_defaults, QLatin1String(useCountKey), encodeUseCounts(m_useCounts));
    countInFirstEntry(emoji, newCount);
}

void EmojiStore::countInFirstEntry(const QString& emoji, int count) {
    for (EmojiEntry& entry : m_entries) {
        if (entry.emoji == emoji) {
            entry.useCount = count;
            return;
        }
    }
}

void EmojiStore::resetUseCounts() {
    m_useCounts.clear();
    if (m_defaults != nullptr)
        removeSetting(*m_defaults, QLatin1String(useCountKey));
    for (EmojiEntry& entry : m_entries)
        entry.useCount = 0;
}

} // namespace pimsel

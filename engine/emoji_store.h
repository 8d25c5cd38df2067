#pragma once

#include "engine/emoji_entry.h"
#include "engine/emoji_search_engine.h"
#include "engine/ports.h"
#include "engine/settings_store.h"
#include "engine/use_counts.h"

#include <QHash>
#include <QList>
#include <QString>

class QSettings;

namespace pimsel {

// Owns the catalogue in memory: the shipped resource, the user's custom aliases merged in,
// and the per-emoji use counts persisted under "pimsel.useCounts".
class EmojiStore : public EmojiProviding {
public:
    static constexpr const char* useCountKey = "pimsel.useCounts";
    static QString defaultCatalogPath(); // the compiled-in resource

    // `defaults` is not owned. `catalogPath` lets tests point at other files.
    explicit EmojiStore(QSettings* defaults, QString catalogPath = defaultCatalogPath());

    void reload(const QList<CustomAlias>& customAliases);
    const QList<EmojiEntry>& entries() const override { return m_entries; }
    const SearchIndex& searchIndex() const override { return m_index; }
    void recordUse(const QString& emoji) override;
    void resetUseCounts();
    const UseCounts& useCounts() const { return m_useCounts; }

    // The decoding rule of the catalogue file: a JSON array of objects with the five keys;
    // any malformed element fails the whole file (empty result).
    static QList<EmojiEntry> decodeCatalog(const QByteArray& json);

private:
    // Only the first entry of an emoji counts a use until the next reload.
    void countInFirstEntry(const QString& emoji, int count);
    QSettings* m_defaults;
    QString m_catalogPath;
    QList<EmojiEntry> m_entries;
    SearchIndex m_index;
    UseCounts m_useCounts;
};

} // namespace pimsel

#pragma once

#include "engine/ports.h"
#include "engine/sticker_entry.h"
#include "engine/use_counts.h"
#include "stickers/bounded_get.h"

#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QSettings;

namespace pimsel {

// Where the store reads and writes; tests point these at temporary directories.
struct StickerLocations {
    // $XDG_CACHE_HOME/pimsel/stickers: everything in it can be downloaded again.
    static QString defaultCacheDirectory();
    // <temp>/PimselStickers: the copies handed to other applications by a paste.
    static QString defaultStagingDirectory();

    QString catalogPath = QStringLiteral(":/pimsel/stickers.json");
    // Built-in files live in its "stickers" folder (its top level is accepted too).
    QString resourceDirectory = QStringLiteral(":/pimsel");
    QString cacheDirectory = defaultCacheDirectory();
    QString stagingDirectory = defaultStagingDirectory();
};

// The "/sticker" catalogue and the files behind it. A sticker's file comes from the resources when
// it is built in, else from the cache directory, else it is downloaded once from the CDN (or, for
// a GIF result, from its own address) and kept. Concurrent requests for one destination share a
// single download. Everything runs on the GUI thread, so the table of downloads needs no lock.
class StickerStore : public QObject, public StickerProviding {
    Q_OBJECT
    Q_PROPERTY(QList<pimsel::StickerEntry> stickers READ stickers NOTIFY stickersChanged)

public:
    static constexpr const char* useCountKey = "pimsel.stickerUseCounts";
    static constexpr qint64 maxFileBytes = 20 * 1024 * 1024;
    using FileCompletion = std::function<void(std::optional<QUrl>)>;

    // `defaults` is not owned (may be null: counts are then kept in memory only). No CDN: catalogue
    // stickers that are not built in have no file.
    StickerStore(QSettings* defaults, std::optional<QUrl> cdnBase, StickerLocations locations = {},
                 QObject* parent = nullptr);

    // Reads the catalogue (any fault empties it) and applies the stored use counts.
    void load();
    QList<StickerEntry> stickers() const override { return m_stickers; }
    void recordUse(const QString& stickerId) override;
    // A local file for the entry: built in, cached, or downloaded now. `completion` always comes
    // later, on this thread, with no URL when no file can be had; never once the store is gone.
    void fetchFile(const StickerEntry& entry, FileCompletion completion) override;
    // A preview image: the file itself for catalogue stickers, "thumb-" + file name for GIF results.
    void fetchThumbnail(const StickerEntry& entry, FileCompletion completion);
    // A built-in file or a usable cached one; built-in files come as qrc: URLs.
    std::optional<QUrl> localURL(const StickerEntry& entry);

    // A copy of `file` in the staging directory for pasting into another application (which cannot
    // read this process's resources and should not hold onto the cache). Reused while it matches
    // the source's size; the unstaged file when staging is impossible or unsafe.
    QUrl stagedForPaste(const QUrl& file) const;

    bool isDownloading(const QString& destinationPath) const { return m_inflight.contains(destinationPath); }
    // Created on first use.
    QString cacheDirectory();
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_limits.timeout = timeout; }

Q_SIGNALS:
    void stickersChanged();

private:
    void download(const QUrl& source, const QString& destination, FileCompletion completion);
    void finishDownload(const QString& destination, const std::optional<QUrl>& result);
    void post(FileCompletion completion, std::optional<QUrl> result);

    QSettings* m_defaults;
    std::optional<QUrl> m_cdnBase;
    StickerLocations m_locations;
    QList<StickerEntry> m_stickers;
    UseCounts m_useCounts;
    QHash<QString, QList<FileCompletion>> m_inflight; // by destination path
    bool m_cacheDirectoryMade = false;
    TransferLimits m_limits{std::chrono::seconds(20), maxFileBytes};
    QNetworkAccessManager m_network;
};

} // namespace pimsel

#include "stickers/sticker_store.h"

#include "engine/resources.h"
#include "engine/settings_file.h"
#include "stickers/sticker_catalog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <limits>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace pimsel {

namespace {

QUrl urlOfPath(const QString& path) {
    if (path.startsWith(QLatin1Char(':')))
        return QUrl(QStringLiteral("qrc") + path);
    return QUrl::fromLocalFile(path);
}

QString pathOfUrl(const QUrl& url) {
    if (url.scheme() == QLatin1String("qrc"))
        return QLatin1Char(':') + url.path();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

// A directory only this user can write into: anything else in a shared temporary directory could
// have been planted to be pasted in our name.
bool isPrivateDirectory(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() && info.ownerId() == ::geteuid() &&
           (info.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther)) == 0;
}

} // namespace

QString StickerLocations::defaultCacheDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/pimsel/stickers");
}

QString StickerLocations::defaultStagingDirectory() {
    return QDir::tempPath() + QStringLiteral("/PimselStickers");
}

StickerStore::StickerStore(QSettings* defaults, std::optional<QUrl> cdnBase, StickerLocations locations,
                           QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_cdnBase(std::move(cdnBase))
    , m_locations(std::move(locations))
    , m_useCounts(defaults ? decodeUseCounts(defaults->value(QLatin1String(useCountKey))) : UseCounts{}) {
    ensureResources();
}

void StickerStore::load() {
    QList<StickerEntry> entries;
    QFile file(m_locations.catalogPath);
    if (file.open(QIODevice::ReadOnly))
        entries = sticker_catalog::decode(file.readAll());
    for (StickerEntry& entry : entries)
        entry.useCount = m_useCounts.value(entry.id, 0);
    m_stickers = std::move(entries);
    Q_EMIT stickersChanged();
}

void StickerStore::recordUse(const QString& stickerId) {
    int& count = m_useCounts[stickerId];
    if (count < std::numeric_limits<int>::max())
        ++count;
    const int newCount = count;
    if (m_defaults)
        writeSetting(*m_defaults, QLatin1String(useCountKey), encodeUseCounts(m_useCounts));
    for (StickerEntry& entry : m_stickers) {
        if (entry.id == stickerId) {
            entry.useCount = newCount;
            Q_EMIT stickersChanged();
            break;
        }
    }
}

QString StickerStore::cacheDirectory() {
    if (!m_cacheDirectoryMade) {
        m_cacheDirectoryMade = true;
        QDir().mkpath(m_locations.cacheDirectory); // a failure shows up as failed downloads
    }
    return m_locations.cacheDirectory;
}

std::optional<QUrl> StickerStore::localURL(const StickerEntry& entry) {
    if (!sticker_catalog::isPlainFileName(entry.fileName))
        return std::nullopt;
    const QString builtIn[] = {m_locations.resourceDirectory + QStringLiteral("/stickers/") + entry.fileName,
                               m_locations.resourceDirectory + QLatin1Char('/') + entry.fileName};
    for (const QString& path : builtIn) {
        if (sticker_catalog::isImageFile(path))
            return urlOfPath(path);
    }
    // An empty or broken cached file (a full disk, a portal page saved before the check existed)
    // is fetched again rather than pasted.
    const QString cached = cacheDirectory() + QLatin1Char('/') + entry.fileName;
    if (sticker_catalog::isImageFile(cached))
        return QUrl::fromLocalFile(cached);
    return std::nullopt;
}

void StickerStore::fetchFile(const StickerEntry& entry, FileCompletion completion) {
    if (const std::optional<QUrl> local = localURL(entry))
        return post(std::move(completion), local);
    const std::optional<QUrl> remote = sticker_catalog::remoteURL(entry, m_cdnBase);
    if (!remote || !sticker_catalog::isPlainFileName(entry.fileName))
        return post(std::move(completion), std::nullopt);
    download(*remote, cacheDirectory() + QLatin1Char('/') + entry.fileName, std::move(completion));
}

void StickerStore::fetchThumbnail(const StickerEntry& entry, FileCompletion completion) {
    const std::optional<QUrl> thumbnail = sticker_catalog::thumbnailURL(entry, m_cdnBase);
    if (!thumbnail || thumbnail == sticker_catalog::remoteURL(entry, m_cdnBase))
        return fetchFile(entry, std::move(completion));
    if (!sticker_catalog::isPlainFileName(entry.fileName))
        return post(std::move(completion), std::nullopt);
    const QString destination = cacheDirectory() + QStringLiteral("/thumb-") + entry.fileName;
    if (sticker_catalog::isImageFile(destination))
        return post(std::move(completion), QUrl::fromLocalFile(destination));
    download(*thumbnail, destination, std::move(completion));
}

void StickerStore::download(const QUrl& source, const QString& destination, FileCompletion completion) {
    auto waiting = m_inflight.find(destination);
    if (waiting != m_inflight.end()) {
        waiting->append(std::move(completion));
        return;
    }
    m_inflight.insert(destination, {std::move(completion)});

    // The body lands beside its destination and replaces it only once it is whole and an image,
    // so a reader never sees half a file and a failure leaves nothing behind.
    auto partial = std::make_shared<QTemporaryFile>(destination + QStringLiteral(".partial-XXXXXX"));
    if (!partial->open()) {
        QTimer::singleShot(0, this, [this, destination] { finishDownload(destination, std::nullopt); });
        return;
    }
    boundedGet(m_network, source, m_limits, partial.get(), this,
               [this, destination, partial](const TransferResult& transfer) {
                   std::optional<QUrl> result;
                   if (transfer.isComplete && transfer.httpStatus == 200 && partial->flush() &&
                       partial->seek(0) && sticker_catalog::looksLikeImage(partial->read(12))) {
                       QFile::remove(destination);
                       if (partial->rename(destination)) {
                           partial->setAutoRemove(false);
                           result = QUrl::fromLocalFile(destination);
                       }
                   }
                   finishDownload(destination, result);
               });
}

void StickerStore::finishDownload(const QString& destination, const std::optional<QUrl>& result) {
    // The key goes first: a callback may ask for the same file again and must start afresh.
    const QList<FileCompletion> callbacks = m_inflight.take(destination);
    for (const FileCompletion& callback : callbacks)
        callback(result);
}

void StickerStore::post(FileCompletion completion, std::optional<QUrl> result) {
    QTimer::singleShot(
        0, this, [completion = std::move(completion), result = std::move(result)] { completion(result); });
}

QUrl StickerStore::stagedForPaste(const QUrl& file) const {
    const QString source = pathOfUrl(file);
    const QString name = QFileInfo(source).fileName();
    const QString directory = m_locations.stagingDirectory;
    if (source.isEmpty() || !sticker_catalog::isPlainFileName(name))
        return file;
    if (!QFileInfo::exists(directory) && QDir().mkpath(directory))
        QFile::setPermissions(directory,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!isPrivateDirectory(directory))
        return file;

    const QString staged = directory + QLatin1Char('/') + name;
    const QFileInfo existing(staged);
    QFile original(source);
    if (!original.open(QIODevice::ReadOnly))
        return file;
    // A copy cut short by a full disk must not be pasted for ever after.
    if (existing.isFile() && !existing.isSymLink() && existing.size() == original.size())
        return QUrl::fromLocalFile(staged);
    QSaveFile copy(staged);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(original.readAll()) != original.size() ||
        !copy.commit())
        return file;
    return QUrl::fromLocalFile(staged);
}

} // namespace pimsel

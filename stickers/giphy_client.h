#pragma once

#include "engine/ports.h"
#include "engine/sticker_entry.h"
#include "stickers/bounded_get.h"

#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace pimsel {

struct StickerServiceConfig;

// Turns the text typed in the GIF picker into results of the GIF service: its search for a query,
// its trending list for none. Never fails loudly: every failure is an empty list.
class GiphyClient : public QObject {
    Q_OBJECT

public:
    static constexpr int limit = 30;
    static constexpr qint64 maxAnswerBytes = 4 * 1024 * 1024;

    // None without a key or a usable API origin: the "/gif" command is then unavailable.
    static std::unique_ptr<GiphyClient> fromConfig(const StickerServiceConfig& config,
                                                   QObject* parent = nullptr);

    GiphyClient(QString apiKey, QUrl apiOrigin, QObject* parent = nullptr);

    // `completion` always comes later, on this thread, and never once the client is gone.
    void search(const QString& query, GiphySearchCompletion completion);
    // The request for an already trimmed query.
    std::optional<QUrl> makeURL(const QString& trimmedQuery) const;
    // The results of one answer, in the service's order; empty for anything but a whole, well
    // formed 200 answer.
    static QList<StickerEntry> parseResponse(const TransferResult& answer);

    void setTransferTimeout(std::chrono::milliseconds timeout) { m_limits.timeout = timeout; }

private:
    const QString m_apiKey;
    const QUrl m_apiOrigin;
    TransferLimits m_limits{std::chrono::seconds(20), maxAnswerBytes};
    QNetworkAccessManager m_network;
};

} // namespace pimsel

#include "stickers/bounded_get.h"

#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace pimsel {

namespace {

struct Transfer {
    TransferLimits limits;
    QPointer<QIODevice> sink;
    QByteArray body;
    qint64 received = 0;
    bool overLimit = false; // or refused by the sink
    bool cancelled = false;
    bool finished = false;
};

// Takes what has arrived; false (and the reply aborted) once the body breaks a limit or the sink
// refuses it.
bool drain(QNetworkReply* reply, Transfer& transfer) {
    constexpr qint64 chunkSize = 64 * 1024;
    while (!transfer.overLimit && reply->bytesAvailable() > 0) {
        const QByteArray chunk = reply->read(chunkSize);
        transfer.received += chunk.size();
        bool refused = transfer.received > transfer.limits.maxBytes;
        if (!refused && transfer.sink)
            refused = transfer.sink->write(chunk) != chunk.size();
        else if (!refused)
            transfer.body.append(chunk);
        if (refused) {
            transfer.overLimit = true;
            reply->abort();
        }
    }
    return !transfer.overLimit;
}

} // namespace

void boundedGet(QNetworkAccessManager& network, const QUrl& url, const TransferLimits& limits,
                QIODevice* sink, QObject* context, std::function<void(TransferResult)> done) {
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        QTimer::singleShot(0, context, [done = std::move(done)] { done(TransferResult{}); });
        return;
    }

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network.get(request);
    // Without a bound the network thread takes in an endless body as fast as it comes, whether or
    // not this thread gets round to counting it against the cap.
    reply->setReadBufferSize(256 * 1024);
    auto transfer = std::make_shared<Transfer>();
    transfer->limits = limits;
    transfer->sink = sink;

    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply] { reply->abort(); });
    deadline->start(limits.timeout);

    // A declared length over the cap is refused before any byte of it is read.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, transfer] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > transfer->limits.maxBytes && !transfer->overLimit) {
            transfer->overLimit = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer] { drain(reply, *transfer); });
    QObject::connect(context, &QObject::destroyed, reply, [reply, transfer] {
        transfer->cancelled = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, transfer, done = std::move(done)] {
        if (transfer->finished)
            return;
        transfer->finished = true;
        reply->deleteLater();
        if (transfer->cancelled)
            return;
        const bool drained = drain(reply, *transfer);
        TransferResult result;
        result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.isComplete = drained && reply->error() == QNetworkReply::NoError;
        result.body = std::move(transfer->body);
        done(std::move(result));
    });
}

} // namespace pimsel

#pragma once

#include <QByteArray>
#include <QUrl>

#include <chrono>
#include <functional>

class QIODevice;
class QNetworkAccessManager;
class QObject;

namespace pimsel {

// Every request of the sticker services ends: a server that stalls, trickles or streams without
// end is cut off, so no search stays pending and no download key stays in flight forever.
struct TransferLimits {
    std::chrono::milliseconds timeout{20000}; // the whole transfer, not only silence
    qint64 maxBytes = 0;                      // of the body
};

struct TransferResult {
    bool isComplete = false; // the whole body arrived, within the limits, without a network error
    int httpStatus = 0;      // 0: no HTTP answer at all
    QByteArray body;         // only when no sink was given
};

// A GET of `url` (http or https only; anything else fails without a request). The body goes to
// `sink` as it arrives when one is given, to `TransferResult::body` otherwise. `done` is called
// exactly once, always later, on the calling thread; never once `context` is gone (its
// destruction also aborts the transfer). `network` must outlive the transfer.
void boundedGet(QNetworkAccessManager& network, const QUrl& url, const TransferLimits& limits,
                QIODevice* sink, QObject* context, std::function<void(TransferResult)> done);

} // namespace pimsel

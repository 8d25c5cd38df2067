#pragma once

// An HTTP/1.1 server on 127.0.0.1, served by this thread's event loop: each path answers with a
// fixed status and body, never answers, or streams without end (unrouted paths answer 404); every
// request target is recorded.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <algorithm>
#include <functional>

namespace pimsel::testing {

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && !timer.hasExpired(timeoutMs))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

// Enough of a GIF for the store's image check.
inline QByteArray gifBytes(const QByteArray& tag = "x") {
    return "GIF89a" + tag;
}

class HttpTestServer : public QObject {
public:
    enum class Mode { answer, silent, endless };
    struct Route {
        Mode mode = Mode::answer;
        int status = 404;
        QByteArray body;
    };

    HttpTestServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }
    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    QUrl url(const QString& path) const { return QUrl(origin().toString() + path); }
    void route(const QString& path, Route route) { m_routes.insert(path, std::move(route)); }
    int hits(const QString& path) const {
        return int(std::count_if(targets.begin(), targets.end(),
                                 [&path](const QString& target) { return QUrl(target).path() == path; }));
    }

    QStringList targets;        // request targets (path and query) in arrival order
    qint64 streamedBytes = 0;   // written by endless routes
    int endlessDisconnects = 0; // endless answers the client walked away from

private:
    void serve(QTcpSocket* socket) {
        QByteArray& request = m_requests[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        const QString target = QString::fromLatin1(request.split(' ').value(1));
        targets.append(target);
        const Route route = m_routes.value(QUrl(target).path());
        if (route.mode == Mode::answer) {
            socket->write("HTTP/1.1 " + QByteArray::number(route.status) +
                          " X\r\nContent-Length: " + QByteArray::number(route.body.size()) +
                          "\r\nConnection: close\r\n\r\n" + route.body);
            socket->disconnectFromHost();
        } else if (route.mode == Mode::endless) {
            // Keeps a little in the socket's buffer, so the stream goes as fast as the client reads.
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
                if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 256 * 1024)
                    streamedBytes += socket->write(QByteArray(64 * 1024, 'G'));
            });
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++endlessDisconnects; });
            streamedBytes += socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + gifBytes());
        }
    }

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QTcpSocket*, QByteArray> m_requests;
};

} // namespace pimsel::testing

#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for the sticker suites, served by this thread's event loop:
// each path answers with a fixed status and body, never answers, or streams without end; every
// request target (path and query) is recorded. Plus event-loop helpers.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
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

// The first bytes of a GIF: enough for the store's image check.
inline QByteArray gifBytes(const QByteArray& tag = "x") {
    return "GIF89a" + tag;
}

class HttpTestServer : public QObject {
public:
    enum class Mode { answer, silent, endless };
    struct Route {
        Mode mode = Mode::answer;
        int status = 200;
        QByteArray body;
    };

    HttpTestServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        });
    }

    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort())); }
    QUrl url(const QString& path) const { return QUrl(origin().toString() + path); }

    void route(const QString& path, Route route) { m_routes.insert(path, std::move(route)); }
    int hits(const QString& path) const {
        return int(std::count_if(targets.begin(), targets.end(),
                                 [&path](const QString& target) { return QUrl(target).path() == path; }));
    }

    QStringList targets;        // request targets in arrival order
    qint64 streamedBytes = 0;   // written by endless routes
    int endlessDisconnects = 0; // endless answers the client walked away from

private:
    void readRequest(QTcpSocket* socket) {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> requestLine = pending.left(pending.indexOf("\r\n")).split(' ');
        m_pending.remove(socket);
        const QString target = requestLine.size() > 1 ? QString::fromLatin1(requestLine[1]) : QString();
        targets.append(target);
        const Route route = m_routes.value(QUrl(target).path(), Route{Mode::answer, 404, "not found"});
        switch (route.mode) {
        case Mode::silent:
            return;
        case Mode::answer:
            socket->write("HTTP/1.1 " + QByteArray::number(route.status) +
                          " X\r\nContent-Length: " + QByteArray::number(route.body.size()) +
                          "\r\nConnection: close\r\n\r\n" + route.body);
            socket->disconnectFromHost();
            return;
        case Mode::endless:
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
                if (socket->state() == QAbstractSocket::ConnectedState &&
                    socket->bytesToWrite() < 256 * 1024) {
                    streamedBytes += socket->write(QByteArray(64 * 1024, 'G'));
                }
            });
            connect(socket, &QTcpSocket::disconnected, this, [this] { ++endlessDisconnects; });
            streamedBytes += socket->write(gifBytes(QByteArray(64 * 1024, 'G')));
            return;
        }
    }

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace pimsel::testing

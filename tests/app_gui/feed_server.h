#pragma once

// A one-file HTTP server on 127.0.0.1 for the update tests: answers every GET with the status and
// body it is told to, or never answers at all, and counts the requests it saw.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

namespace pimsel::testing {

class FeedServer : public QObject {
public:
    FeedServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    bool isListening() const { return m_server.isListening(); }
    QUrl url(const QString& path = QStringLiteral("/appcast.xml")) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }

    void serve(int status, QByteArray body, QByteArray contentType = "application/rss+xml") {
        m_status = status;
        m_body = std::move(body);
        m_contentType = std::move(contentType);
        m_silent = false;
    }
    // Accept connections and read requests, but never answer.
    void stayIncommunicado() { m_silent = true; }

    int requestCount() const { return m_requests; }
    QByteArray lastPath() const { return m_lastPath; }

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        }
    }

    void read(QTcpSocket* socket) {
        QByteArray& buffer = m_pending[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        ++m_requests;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        m_lastPath = requestLine.value(1);
        m_pending.remove(socket);
        if (m_silent)
            return;
        QByteArray response = "HTTP/1.1 " + QByteArray::number(m_status) + " Whatever\r\n";
        response += "Content-Type: " + m_contentType + "\r\n";
        response += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n";
        response += m_body;
        socket->write(response);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
    int m_status = 200;
    QByteArray m_body;
    QByteArray m_contentType;
    bool m_silent = false;
    int m_requests = 0;
    QByteArray m_lastPath;
};

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Keeps the event loop running for a while, so that anything that would happen does.
inline void spin(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// An appcast with one item per (version, display version) pair; an empty display version is left out.
inline QByteArray appcast(const QList<std::pair<QString, QString>>& releases) {
    QByteArray xml = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Pimsel</title>
)";
    for (const auto& [version, display] : releases) {
        xml += "<item><title>Pimsel " + display.toUtf8() + "</title>";
        xml += "<link>https://example.org/pimsel/releases/" + version.toUtf8() + "</link>";
        xml += "<enclosure url=\"https://example.org/pimsel-" + version.toUtf8() +
               ".tar.gz\" sparkle:version=\"" + version.toUtf8() + "\"";
        if (!display.isEmpty())
            xml += " sparkle:shortVersionString=\"" + display.toUtf8() + "\"";
        xml += " length=\"1\" type=\"application/octet-stream\"/></item>\n";
    }
    xml += "</channel></rss>\n";
    return xml;
}

} // namespace pimsel::testing

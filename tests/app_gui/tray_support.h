#pragma once

// Shared by the tray and updater tests: a one-file HTTP server on 127.0.0.1 that answers every GET
// with the status and body it is told to (or never answers), a generated feed, stand-ins for the
// frontmost application and the focused field, and event-loop helpers.

#include "platform/application_watching.h"
#include "platform/status_monitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

namespace pimsel::testing {

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

// Keeps the event loop turning for a while, so that whatever would happen does.
inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

class FeedServer : public QObject {
public:
    FeedServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort()));
    }
    void serve(int status, QByteArray body) {
        m_status = status;
        m_body = std::move(body);
        m_silent = false;
    }
    // Reads requests but never answers them.
    void stayIncommunicado() { m_silent = true; }
    int requestCount() const { return m_requests; }

private:
    void read(QTcpSocket* socket) {
        QByteArray& request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++m_requests;
        m_pending.remove(socket);
        if (m_silent)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) + " X\r\nContent-Length: " +
                      QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
    int m_status = 200;
    QByteArray m_body;
    bool m_silent = false;
    int m_requests = 0;
};

// A feed with one item per (version, display version); the display version is left out when empty.
inline QByteArray appcast(const QList<std::pair<QByteArray, QByteArray>>& releases) {
    QByteArray xml = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)";
    for (const auto& [version, display] : releases) {
        xml += "<item><link>https://example.org/pimsel/releases/" + version + "</link><enclosure url=\"" +
               "https://example.org/pimsel-" + version + ".tar.gz\" sparkle:version=\"" + version + "\"";
        if (!display.isEmpty())
            xml += " sparkle:shortVersionString=\"" + display + "\"";
        xml += "/></item>\n";
    }
    return xml + "</channel></rss>\n";
}

class FakeApplications : public ApplicationWatching {
public:
    std::optional<QString> frontmostApplicationId() const override { return frontmost; }
    std::optional<QString> displayName(const QString& id) const override {
        return names.contains(id) ? std::optional(names.value(id)) : std::nullopt;
    }
    void bringToFront(const QString& id) {
        frontmost = id;
        Q_EMIT frontmostApplicationChanged(id);
    }
    std::optional<QString> frontmost = QStringLiteral("org.gnome.TextEditor");
    QHash<QString, QString> names{{QStringLiteral("org.gnome.Terminal"), QStringLiteral("Terminal")}};
};

class FakeFocus : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override { return false; }
    std::optional<QRect> caretRect() override { return std::nullopt; }
    std::optional<QUrl> currentBrowserURL() override { return url; }
    std::optional<QUrl> url;
};

} // namespace pimsel::testing

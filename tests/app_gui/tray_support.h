#pragma once

// For the tray and updater tests: a feed server on 127.0.0.1 that answers every GET with the status
// and body it is told to (or never answers), a generated feed, stand-ins for the frontmost
// application and the focused field, and event-loop helpers.

#include "platform/application_watching.h"
#include "platform/status_monitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

namespace pimsel::testing {

inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && !timer.hasExpired(timeoutMs))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
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
            QTcpSocket* socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine() != "\r\n")
                        continue;
                    ++requestCount;
                    if (silent)
                        return;
                    socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                }
            });
        });
    }
    QUrl url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_server.serverPort()));
    }
    void serve(int code, QByteArray content) {
        status = code;
        body = std::move(content);
    }

    int status = 200;
    QByteArray body;
    bool silent = false; // reads requests but never answers them
    int requestCount = 0;

private:
    QTcpServer m_server;
};

// A feed with one item per (version, display version); an empty display version is left out.
inline QByteArray appcast(const QList<std::pair<QByteArray, QByteArray>>& releases) {
    QByteArray xml =
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel>)";
    for (const auto& [version, display] : releases) {
        xml += "<item><link>https://example.org/pimsel/releases/" + version + "</link><enclosure url=\"" +
               "https://example.org/pimsel-" + version + ".tar.gz\" sparkle:version=\"" + version + "\"" +
               (display.isEmpty() ? "" : " sparkle:shortVersionString=\"" + display + "\"") + "/></item>\n";
    }
    return xml + "</channel></rss>\n";
}

class FakeApplications : public ApplicationWatching {
public:
    std::optional<QString> frontmostApplicationId() const override { return frontmost; }
    std::optional<QString> displayName(const QString& id) const override {
        return id == QLatin1String("org.gnome.Terminal") ? std::optional(QStringLiteral("Terminal"))
                                                         : std::nullopt;
    }
    void bringToFront(const QString& id) {
        frontmost = id;
        Q_EMIT frontmostApplicationChanged(id);
    }
    std::optional<QString> frontmost = QStringLiteral("org.gnome.TextEditor");
};

class FakeFocus : public FocusContextProviding {
public:
    bool isSecureFieldFocused() override { return false; }
    std::optional<QRect> caretRect() override { return std::nullopt; }
    std::optional<QUrl> currentBrowserURL() override { return url; }
    std::optional<QUrl> url;
};

} // namespace pimsel::testing

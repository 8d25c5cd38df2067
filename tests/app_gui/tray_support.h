#pragma once

// For the tray and updater tests: a feed server, a generated feed, stand-ins for the frontmost
// application and the focused field, and event-loop helpers.

#include "platform/application_watching.h"
#include "platform/status_monitor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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

// A feed server on 127.0.0.1, on a thread of its own so that it answers and pushes whatever the
// event loop does. Each request is answered with the status and body given to serve(), or with
// the header given to stream() and then `total` bytes, `chunk` at a time with `pause` in between,
// until the client goes away or takes nothing for two seconds; while `silent`, requests are read
// and never answered. `sent` counts the streamed bytes the client side accepted, its socket
// buffers included.
class FeedServer {
public:
    FeedServer() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(m_listener, 8) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
        serve(200, {});
        m_thread = std::thread([this] { run(); });
    }
    ~FeedServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(m_port)); }
    void serve(int status, const QByteArray& body) {
        stream("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body,
               0, 1, {});
    }
    void stream(const QByteArray& header, qint64 total, qint64 chunk, std::chrono::milliseconds pause) {
        const std::lock_guard lock(m_mutex);
        m_header = header, m_total = total, m_chunk = chunk, m_pause = pause;
    }

    std::atomic<bool> silent{false};
    std::atomic<int> requestCount{0};
    std::atomic<qint64> sent{0};

private:
    static bool ready(int fd, short events, std::chrono::milliseconds timeout) {
        pollfd entry{fd, events, 0};
        return ::poll(&entry, 1, int(timeout.count())) == 1;
    }
    void run() {
        using namespace std::chrono_literals;
        std::vector<int> unanswered;
        while (!m_stop) {
            if (!ready(m_listener, POLLIN, 50ms))
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            QByteArray request(8192, 0);
            for (qsizetype got = 0;
                 !m_stop && !request.left(got).contains("\r\n\r\n") && ready(client, POLLIN, 1s);) {
                const ssize_t n = ::recv(client, request.data() + got, size_t(request.size() - got), 0);
                if (n <= 0)
                    break;
                got += n;
            }
            ++requestCount;
            if (silent) {
                unanswered.push_back(client);
                continue;
            }
            std::unique_lock lock(m_mutex);
            const QByteArray header = m_header, body(m_chunk, 'x');
            const qint64 total = m_total, chunk = m_chunk;
            const std::chrono::milliseconds pause = m_pause;
            lock.unlock();
            ::send(client, header.constData(), size_t(header.size()), MSG_NOSIGNAL);
            for (qint64 left = total; left > 0 && !m_stop && ready(client, POLLOUT, 2s);) {
                const ssize_t n =
                    ::send(client, body.constData(), size_t(std::min(left, chunk)), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
                left -= n;
                std::this_thread::sleep_for(pause);
            }
            ::close(client);
        }
        for (int client : unanswered)
            ::close(client);
    }

    const int m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 m_port = 0;
    std::mutex m_mutex;
    QByteArray m_header;
    qint64 m_total = 0, m_chunk = 1;
    std::chrono::milliseconds m_pause{};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
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

#pragma once

// An HTTP/1.1 server on 127.0.0.1 on a thread of its own, so it answers and streams while the test
// holds up the event loop. Each path (else the default route) answers, stays silent, or streams
// `total` bytes after its head, `chunk` at a time with `pause` between, until the client goes.

#include "event_loop.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace pimsel::testing {

// Enough of a GIF for the sticker store's image check.
inline QByteArray gifBytes(const QByteArray& tag = "x") {
    return "GIF89a" + tag;
}

class HttpServer {
public:
    struct Route {
        QByteArray head;
        qint64 total = 0, chunk = 1;
        std::chrono::milliseconds pause{};
        bool silent = false;
    };
    static Route answer(int status, const QByteArray& body) {
        return {"HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
    }
    static Route silent() { return {{}, 0, 1, {}, true}; }
    static Route stream(const QByteArray& head, qint64 total, qint64 chunk,
                        std::chrono::milliseconds pause = {}) {
        return {head, total, chunk, pause};
    }
    // A GIF that never ends.
    static Route endless() {
        return stream("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + gifBytes(), qint64(1) << 40, 64 << 10);
    }

    HttpServer() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(m_listener, 8) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~HttpServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }
    QUrl url(const QString& path = QStringLiteral("/feed")) const { return QUrl(origin().toString() + path); }
    // An empty path sets the route of every path without one of its own.
    void route(const QString& path, const Route& route) {
        const std::lock_guard lock(m_mutex);
        m_routes.insert(path, route);
    }
    void serve(int status, const QByteArray& body) { route({}, answer(status, body)); }
    QStringList targets() const { // path and query of each request, in arrival order
        const std::lock_guard lock(m_mutex);
        return m_targets;
    }

    std::atomic<qint64> sent{0};    // streamed bytes the client side took, its socket buffers included
    std::atomic<int> walkedAway{0}; // streams the client closed before their end

private:
    static bool ready(int fd, short events, std::chrono::milliseconds timeout) {
        pollfd entry{fd, events, 0};
        return ::poll(&entry, 1, int(timeout.count())) == 1 && !(entry.revents & (POLLERR | POLLHUP));
    }
    void run() {
        using namespace std::chrono_literals;
        std::vector<int> unanswered;
        while (!m_stop) {
            if (!ready(m_listener, POLLIN, 50ms))
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            QByteArray request(8192, 0);
            qsizetype got = 0;
            while (!m_stop && !request.left(got).contains("\r\n\r\n") && ready(client, POLLIN, 1s)) {
                const ssize_t n = ::recv(client, request.data() + got, size_t(request.size() - got), 0);
                if (n <= 0)
                    break;
                got += n;
            }
            std::unique_lock lock(m_mutex);
            const QString target = QString::fromLatin1(request.left(got).split(' ').value(1));
            m_targets.append(target);
            const Route r = m_routes.value(QUrl(target).path(), m_routes.value({}, answer(404, {})));
            lock.unlock();
            if (r.silent) {
                unanswered.push_back(client);
                continue;
            }
            ::send(client, r.head.constData(), size_t(r.head.size()), MSG_NOSIGNAL);
            const QByteArray body(r.chunk, 'x');
            qint64 left = r.total;
            for (; left > 0 && !m_stop && ready(client, POLLOUT, 2s); std::this_thread::sleep_for(r.pause)) {
                const ssize_t n =
                    ::send(client, body.constData(), size_t(std::min(left, r.chunk)), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
                left -= n;
            }
            if (left > 0 && !m_stop)
                ++walkedAway;
            ::close(client);
        }
        for (int client : unanswered)
            ::close(client);
    }

    const int m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    QHash<QString, Route> m_routes;
    QStringList m_targets;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace pimsel::testing

#include "app/instance_channel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pimsel {

namespace {

constexpr int retryMs = 50;
constexpr qint64 longestLine = 32;

// One word a line, the same in both directions of every release.
QByteArray wordFor(ShellRequest request) {
    switch (request) {
    case ShellRequest::preferences:
        return "preferences";
    case ShellRequest::setup:
        return "setup";
    case ShellRequest::reopen:
        break;
    }
    return "reopen";
}

std::optional<ShellRequest> requestFor(const QByteArray& word) {
    for (const ShellRequest request :
         {ShellRequest::reopen, ShellRequest::preferences, ShellRequest::setup}) {
        if (word == wordFor(request))
            return request;
    }
    return std::nullopt;
}

class Descriptor {
public:
    Descriptor()
        : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

InstanceServer::InstanceServer(QString path, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > longestLine)
                        socket->abort();
                    return;
                }
                const std::optional<ShellRequest> request =
                    requestFor(socket->readLine(longestLine).trimmed());
                socket->write(request ? "ok\n" : "unknown\n");
                socket->disconnectFromServer();
                if (request)
                    Q_EMIT requested(*request);
            });
        }
    });
}

bool InstanceServer::listen() {
    QLocalServer::removeServer(m_path);
    return m_server->listen(m_path);
}

bool handOver(const QString& path, ShellRequest request, int timeoutMs) {
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || std::size_t(name.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));

    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const Descriptor socket;
        if (socket.get() >= 0 &&
            ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            const QByteArray line = wordFor(request) + '\n';
            if (::send(socket.get(), line.constData(), std::size_t(line.size()), MSG_NOSIGNAL) != line.size())
                return false;
            pollfd answer{socket.get(), POLLIN, 0};
            char reply[longestLine];
            const int wait = int(qMax<qint64>(timeoutMs - clock.elapsed(), retryMs));
            return ::poll(&answer, 1, wait) == 1 && ::read(socket.get(), reply, sizeof reply) >= 3 &&
                   std::memcmp(reply, "ok\n", 3) == 0;
        }
        if (clock.elapsed() + retryMs > timeoutMs)
            return false;
        ::usleep(retryMs * 1000);
    }
}

} // namespace pimsel

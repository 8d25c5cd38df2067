#include "tests/e2e/support/web.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <unistd.h>

namespace pimsel::e2e {

PageServer::PageServer(const QList<std::pair<QString, QByteArray>>& pages) {
    for (const auto& [name, html] : pages)
        put(name, html);
    server_ = std::make_unique<Process>(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                    QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
                    dir_.path(), QStringLiteral("0")},
        QStringLiteral("(http"));
    const auto match = QRegularExpression(QStringLiteral("port (\\d+)")).match(server_->output());
    port_ = match.hasMatch() ? match.captured(1).toInt() : 0;
}

void PageServer::put(const QString& name, const QByteArray& content) {
    // A name may hold folders, as a CDN's paths do.
    QDir().mkpath(QFileInfo(dir_.filePath(name)).path());
    QFile page(dir_.filePath(name));
    if (page.open(QIODevice::WriteOnly))
        page.write(content);
}

QUrl PageServer::url(const QString& page, const QString& host) const {
    return QUrl(QStringLiteral("http://%1:%2/%3").arg(host).arg(port_).arg(page));
}

ChromiumBrowser::ChromiumBrowser(const QUrl& page, QStringList wrapper,
                                 const QProcessEnvironment& environment) {
    wrapped_ = !wrapper.isEmpty();
    wrapper << QStringLiteral("chromium") << QStringLiteral("--no-sandbox")
            << QStringLiteral("--user-data-dir=") + profile_.path() << QStringLiteral("--no-first-run")
            << QStringLiteral("--disable-background-networking")
            << QStringLiteral("--disable-component-update") << QStringLiteral("--disable-sync")
            << QStringLiteral("--disable-gpu") << QStringLiteral("--no-default-browser-check")
            << QStringLiteral("--password-store=basic") << page.toString();
    process_.setProcessEnvironment(environment);
    // A wrapped browser gets a group of its own, so that it goes with its wrapper. A browser of its
    // own is asked to quit and shuts its helpers down itself: with the whole group killed at once,
    // the next browser's input inside a frame was never seen focused.
    if (wrapped_)
        process_.setChildProcessModifier([] { ::setsid(); });
    process_.start(wrapper.takeFirst(), wrapper);
    process_.waitForStarted(10000);
}

ChromiumBrowser::~ChromiumBrowser() {
    const auto pid = static_cast<pid_t>(process_.processId());
    if (pid <= 0)
        return;
    ::kill(wrapped_ ? -pid : pid, SIGTERM);
    if (!process_.waitForFinished(10000))
        ::kill(wrapped_ ? -pid : pid, SIGKILL);
    process_.waitForFinished(2000);
}

} // namespace pimsel::e2e

#pragma once

// Web pages for the browser cases: a static server on 127.0.0.1 over pages written for the test,
// and Chromium started as a user starts it, without accessibility flags.

#include "tests/e2e/support/desktop.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace pimsel::e2e {

class PageServer {
public:
    // `pages`: file name and HTML of each page.
    explicit PageServer(const QList<std::pair<QString, QByteArray>>& pages);
    bool isReady() const { return port_ > 0; }
    // Adds or replaces a page while the server runs (its address can then name the server).
    void put(const QString& name, const QByteArray& content);
    QUrl url(const QString& page, const QString& host = QStringLiteral("127.0.0.1")) const;
    // The page has been asked for since the last forget().
    bool wasRequested(const QString& page) {
        return server_->output().mid(forgotten_).contains("GET /" + page);
    }
    void forget() { forgotten_ = server_->output().size(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<Process> server_;
    qsizetype forgotten_ = 0;
    int port_ = 0;
};

class ChromiumBrowser {
public:
    // `wrapper` runs the browser inside another program, in `environment`.
    explicit ChromiumBrowser(
        const QUrl& page, QStringList wrapper = {},
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~ChromiumBrowser();
    ChromiumBrowser(const ChromiumBrowser&) = delete;
    ChromiumBrowser& operator=(const ChromiumBrowser&) = delete;
    qint64 pid() const { return process_.processId(); }

private:
    QTemporaryDir profile_;
    QProcess process_;
    bool wrapped_ = false;
};

} // namespace pimsel::e2e

// Measures the focus questions against the GTK and Qt targets and a Chromium page: run it under
// tests/e2e/desktop-session.sh. Prints p50 / p95 / max in milliseconds; asserts nothing. For a
// freshly started Chromium it prints how long its focused input stays unknown after the first key,
// on a small page and on a large one. The context
// check a key makes is measured twice: with the focus followed from the bus's focus events, and with
// every question searching the active window afresh.

#include "focus_e2e_support.h"
#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace pimsel;
using namespace pimsel::e2e;

namespace {

constexpr int rounds = 300;

void report(const char* what, const std::function<bool()>& query) {
    std::vector<double> ms;
    int answered = 0;
    for (int i = 0; i < rounds; ++i) {
        // Between two keys Pimsel's event loop runs, and with it the focus announcements.
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        answered += query() ? 1 : 0;
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s p50 %6.2f ms  p95 %6.2f ms  max %6.2f ms  (%d/%d answered)\n", what, ms[ms.size() / 2],
                ms[size_t(ms.size() * 0.95)], ms.back(), answered, rounds);
    std::fflush(stdout);
}

void measureTarget(const char* name, std::unique_ptr<Target> target, FrontmostApplication& frontmost,
                   FocusContextProvider& focus, FocusContextProvider& searching) {
    if (!target) {
        std::printf("%s: target did not start\n", name);
        return;
    }
    waitUntil([&] { return frontmost.activeProcessId() == target->pid() && focus.focusedElement(); });
    report(qPrintable(QStringLiteral("%1 isSecureFieldFocused").arg(QLatin1String(name))),
           [&] { return focus.isSecureFieldFocused(); });
    // A cache that is never filled costs a search on every key: say which way the answers came.
    std::printf("%s: %s\n", name, focus.isFollowingFocus() ? "focus followed" : "focus searched");
    report(qPrintable(QStringLiteral("%1 isSecureFieldFocused, searching").arg(QLatin1String(name))),
           [&] { return searching.isSecureFieldFocused(); });
    report(qPrintable(QStringLiteral("%1 textBeforeCaret").arg(QLatin1String(name))),
           [&] { return focus.textBeforeCaret(2).has_value(); });
    report(qPrintable(QStringLiteral("%1 caretRect").arg(QLatin1String(name))),
           [&] { return focus.caretRect().has_value(); });
}

QStringList browserArguments(const QString& profile, const QUrl& page) {
    // As a user starts it: no accessibility flags.
    return {QStringLiteral("--no-sandbox"),
            QStringLiteral("--user-data-dir=") + profile,
            QStringLiteral("--no-first-run"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--password-store=basic"),
            page.toString()};
}

// A fresh browser's autofocused input, from the first question (the first key) to the moment its
// role is known, with the focus followed as Pimsel follows it.
void measureFirstRole(const char* name, const QUrl& page, FrontmostApplication& frontmost) {
    FocusContextProvider focus(frontmost.activeWindowSource());
    QTemporaryDir profile;
    QProcess browser;
    browser.start(QStringLiteral("chromium"), browserArguments(profile.path(), page));
    if (!waitUntil([&] { return frontmost.activeProcessId() == browser.processId(); }, 45000)) {
        std::printf("Chromium %s: the window never became active\n", name);
        return;
    }
    // The page loads after the window shows; the user's first key comes once it is there.
    QThread::msleep(3000);
    QElapsedTimer clock;
    clock.start();
    const bool firstAnswer = focus.isSecureFieldFocused();
    AtspiClient probe(QStringLiteral("focus-measure-probe"));
    const bool known = waitUntil(
        [&] {
            const std::optional<AtspiRef> element = focus.focusedElement();
            QueryDeadline deadline(250);
            return element && probe.role(deadline, *element) == 79u /* entry */;
        },
        30000);
    const double roleMs = double(clock.nsecsElapsed()) / 1e6;
    const bool caret = waitUntil([&] { return focus.caretRect().has_value(); }, 30000);
    std::printf(
        "Chromium %-14s first answer %s; focused input's role known after %s%.0f ms; caret after %.0f ms%s\n",
        name, firstAnswer ? "silent" : "NOT SILENT", known ? "" : "(never) ", roleMs,
        double(clock.nsecsElapsed()) / 1e6, caret ? "" : " (never)");
    std::fflush(stdout);
    browser.terminate();
    browser.waitForFinished(10000);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    FrontmostApplication frontmost;
    FocusContextProvider focus(frontmost.activeWindowSource());
    FocusContextProvider searching(frontmost.activeWindowSource(), FocusContextProvider::defaultBudgetMs,
                                   false);

    measureTarget(
        "GTK password",
        startGtkTarget({QStringLiteral("--password"), QStringLiteral("--text"), QStringLiteral("abc")}),
        frontmost, focus, searching);
    measureTarget("GTK entry", startGtkTarget({QStringLiteral("--text"), QStringLiteral("hello world")}),
                  frontmost, focus, searching);
    measureTarget(
        "Qt password",
        startQtTarget({QStringLiteral("--password"), QStringLiteral("--text"), QStringLiteral("abc")}),
        frontmost, focus, searching);
    measureTarget("Qt line edit", startQtTarget({QStringLiteral("--text"), QStringLiteral("hello world")}),
                  frontmost, focus, searching);

    QTemporaryDir pages;
    const auto writePage = [&](const char* name, const QByteArray& html) {
        QFile page(pages.filePath(QLatin1String(name)));
        if (page.open(QIODevice::WriteOnly))
            page.write(html);
    };
    writePage("form.html",
              "<!doctype html><title>form</title><div><div><form><label>Name <input autofocus></label>"
              "<input type=password></form></div></div>");
    // About 16,000 accessible objects: the input first, then 2,000 paragraphs of 8 objects each.
    QByteArray large = "<!doctype html><title>large</title><input autofocus>";
    for (int i = 0; i < 2000; ++i)
        large += "<p>Row " + QByteArray::number(i) + " <b>bold</b> <i>italic</i> <a href='#" +
                 QByteArray::number(i) + "'>link</a> <span>end</span></p>";
    writePage("large.html", large);
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                  QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
                  pages.path(), QStringLiteral("0")});
    int port = 0;
    QByteArray output;
    waitUntil([&] {
        server.waitForReadyRead(50);
        output += server.readAll();
        const auto match = QRegularExpression(QStringLiteral("port (\\d+)")).match(QString::fromUtf8(output));
        if (match.hasMatch())
            port = match.captured(1).toInt();
        return port > 0;
    });
    const auto address = [&](const char* page) {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(QLatin1String(page)));
    };

    measureFirstRole("small page", address("form.html"), frontmost);
    measureFirstRole("16k-node page", address("large.html"), frontmost);

    const QUrl url = address("form.html");
    QTemporaryDir profile;
    QProcess browser;
    browser.start(QStringLiteral("chromium"), browserArguments(profile.path(), url));
    // The first question has the browser expose its page.
    waitUntil([&] { return frontmost.activeProcessId() == browser.processId(); }, 45000);
    focus.isSecureFieldFocused();
    if (waitUntil([&] { return focus.currentBrowserURL() == url; }, 45000)) {
        report("Chromium currentBrowserURL (input focused)",
               [&] { return focus.currentBrowserURL() == url; });
        report("Chromium isSecureFieldFocused", [&] { return !focus.isSecureFieldFocused(); });
        // The whole check a trigger costs in a browser: the address, then the field.
        report("Chromium context check",
               [&] { return focus.currentBrowserURL() == url && !focus.isSecureFieldFocused(); });
        report("Chromium context check, searching",
               [&] { return searching.currentBrowserURL() == url && !searching.isSecureFieldFocused(); });
    } else {
        std::printf("Chromium: the page address was never read\n");
    }
    browser.terminate();
    browser.waitForFinished(10000);
    server.kill();
    server.waitForFinished(2000);
    return 0;
}

// Measures the focus questions against the GTK and Qt targets and a Chromium page: run it under
// tests/e2e/desktop-session.sh. Prints p50 / p95 / max in milliseconds; asserts nothing. For a
// freshly started Chromium it prints how long its focused input stays unknown after the first key,
// on a small page and on a large one. The context
// check a key makes is measured twice: with the focus followed from the bus's focus events, and with
// every question searching the active window afresh.

#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/support/web.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace pimsel;
using namespace pimsel::e2e;

namespace {

using namespace std::chrono_literals;
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

void measureTarget(const char* name, TargetApp::Kind kind, const QStringList& arguments,
                   FrontmostApplication& frontmost, FocusContextProvider& focus,
                   FocusContextProvider& searching) {
    const TargetApp target(kind, arguments);
    if (!target.isReady()) {
        std::printf("%s: target did not start\n", name);
        return;
    }
    pumpUntil([&] { return frontmost.activeProcessId() == target.pid() && focus.focusedElement(); });
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

// A fresh browser's autofocused input, from the first question (the first key) to the moment its
// role is known, with the focus followed as Pimsel follows it.
void measureFirstRole(const char* name, const QUrl& page, FrontmostApplication& frontmost) {
    FocusContextProvider focus(frontmost.activeWindowSource());
    const ChromiumBrowser browser(page);
    if (!pumpUntil([&] { return frontmost.activeProcessId() == browser.pid(); }, 45s)) {
        std::printf("Chromium %s: the window never became active\n", name);
        return;
    }
    // The page loads after the window shows; the user's first key comes once it is there.
    QThread::msleep(3000);
    QElapsedTimer clock;
    clock.start();
    const bool firstAnswer = focus.isSecureFieldFocused();
    AtspiClient probe(QStringLiteral("focus-measure-probe"));
    const bool known = pumpUntil(
        [&] {
            const std::optional<AtspiRef> element = focus.focusedElement();
            QueryDeadline deadline(250);
            return element && probe.role(deadline, *element) == 79u /* entry */;
        },
        30s);
    const double roleMs = double(clock.nsecsElapsed()) / 1e6;
    const bool caret = pumpUntil([&] { return focus.caretRect().has_value(); }, 30s);
    std::printf(
        "Chromium %-14s first answer %s; focused input's role known after %s%.0f ms; caret after %.0f ms%s\n",
        name, firstAnswer ? "silent" : "NOT SILENT", known ? "" : "(never) ", roleMs,
        double(clock.nsecsElapsed()) / 1e6, caret ? "" : " (never)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    FrontmostApplication frontmost;
    FocusContextProvider focus(frontmost.activeWindowSource());
    FocusContextProvider searching(frontmost.activeWindowSource(), FocusContextProvider::defaultBudgetMs,
                                   false);

    const QStringList password{QStringLiteral("--password"), QStringLiteral("--text"), QStringLiteral("abc")};
    const QStringList plain{QStringLiteral("--text"), QStringLiteral("hello world")};
    measureTarget("GTK password", TargetApp::Kind::gtk, password, frontmost, focus, searching);
    measureTarget("GTK entry", TargetApp::Kind::gtk, plain, frontmost, focus, searching);
    measureTarget("Qt password", TargetApp::Kind::qt, password, frontmost, focus, searching);
    measureTarget("Qt line edit", TargetApp::Kind::qt, plain, frontmost, focus, searching);

    // About 16,000 accessible objects: the input first, then 2,000 paragraphs of 8 objects each.
    QByteArray large = "<!doctype html><title>large</title><input autofocus>";
    for (int i = 0; i < 2000; ++i)
        large += "<p>Row " + QByteArray::number(i) + " <b>bold</b> <i>italic</i> <a href='#" +
                 QByteArray::number(i) + "'>link</a> <span>end</span></p>";
    PageServer server(
        {{QStringLiteral("form.html"),
          "<!doctype html><title>form</title><div><div><form><label>Name <input autofocus></label>"
          "<input type=password></form></div></div>"},
         {QStringLiteral("large.html"), large}});
    const auto address = [&](const char* page) { return server.url(QLatin1String(page)); };

    measureFirstRole("small page", address("form.html"), frontmost);
    measureFirstRole("16k-node page", address("large.html"), frontmost);

    const QUrl url = address("form.html");
    const ChromiumBrowser browser(url);
    // The first question has the browser expose its page.
    pumpUntil([&] { return frontmost.activeProcessId() == browser.pid(); }, 45s);
    focus.isSecureFieldFocused();
    if (pumpUntil([&] { return focus.currentBrowserURL() == url; }, 45s)) {
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
    return 0;
}

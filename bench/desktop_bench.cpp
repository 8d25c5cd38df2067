// What a user waits for on a live desktop, printed as p50 / p95 (ms); asserts nothing. Run it inside
// the test desktop:   tests/e2e/desktop-session.sh build/bench/pimsel_desktop_bench [ROUNDS [PART]]
// (or `make bench-desktop`). Three parts, PART naming one of them:
//  - openings: the built application in GTK, Qt and Chromium fields: key to popover on screen as seen here,
//    key sent to popover painted (this clock against Pimsel's log: both are the system's monotonic clock),
//    trigger to grabs sent (the trigger's own grab holds the keys behind it until then), Tab to emoji in the
//    field, and Pimsel's own account of each opening from its log;
//  - focus: the focus questions a key makes, against the same targets and Chromium pages, with the focus
//    followed from the bus's events and with every question searching the active window afresh,
//    and how long a fresh Chromium's focused input stays unknown after the first key. "yes" counts
//    the answers that were true or present;
//  - stickers: a cached sticker's pick in a messaging application, from Return to the file in the field.
#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/typist.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

using namespace pimsel;
using namespace pimsel::e2e;
using namespace std::chrono_literals;

namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * double(values.size())))];
}

// "p50/p95" of `values`.
QString spread(const std::vector<double>& values) {
    return QStringLiteral("%1/%2")
        .arg(percentile(values, 0.5), 0, 'f', 1)
        .arg(percentile(values, 0.95), 0, 'f', 1);
}

std::vector<double> loggedMs(const QString& log, const QString& pattern) {
    std::vector<double> values;
    for (auto it = QRegularExpression(pattern).globalMatch(log); it.hasNext();)
        values.push_back(it.next().captured(1).toDouble() / 1000);
    return values;
}

std::optional<uint> focusedRole(FocusContextProvider& focus) {
    static AtspiClient probe(QStringLiteral("desktop-bench-probe"));
    const std::optional<AtspiRef> element = focus.focusedElement();
    QueryDeadline deadline(250);
    return element ? probe.role(deadline, *element) : std::nullopt;
}

// Openings of the popover in a field of `kind`, typed at a person's pace.
void openings(TargetApp::Kind kind, int rounds) {
    const QString name = TargetApp::kindName(kind);
    TargetApp app(kind);
    Profile profile;
    QProcessEnvironment debug; // the log carries Pimsel's own timestamps
    debug.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("input.debug=true"));
    QElapsedTimer sinceStart;
    sinceStart.start();
    PimselProcess pimsel(profile, debug);
    // Chromium takes its keys from the session's own keyboard only, once focused that way.
    const bool chromium = kind == TargetApp::Kind::chromium;
    Typist typist(chromium ? Typist::Keyboard::core : Typist::Keyboard::own);
    typist.setKeyDelay(30ms);
    FrontmostApplication frontmost;
    FocusContextProvider focus(frontmost.activeWindowSource());
    if (!app.isReady() || !pimsel.waitForHook() || !typist.isReady() ||
        !(chromium ? typist.activate(app.window()) : typist.focus(app.window())) ||
        (app.isBrowser() && !pumpUntil([&] { return focusedRole(focus).has_value(); }, 10s))) {
        std::printf("[%s] could not set up\n", qPrintable(name));
        return;
    }
    // Once the work of its start (the emoji browser's first screen among it) is done.
    pump(std::max(std::chrono::milliseconds(10s) - std::chrono::milliseconds(sinceStart.elapsed()), 0ms));
    const long rssAfterStart = pimsel.rssKiB();
    XView x;
    std::vector<double> show, accept;
    std::vector<double> sentAt; // steady clock, us: the clock Pimsel's log uses
    int missed = 0;
    for (int round = 0; round < rounds; ++round) {
        // With nothing shown after a lone trigger, the first letter brings the popover up.
        whileUserTypes([&] { typist.type(" :"); });
        pump(50ms);
        QElapsedTimer clock;
        clock.start();
        whileUserTypes([&] {
            sentAt.push_back(double(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count()));
            typist.sendKey("t", true);
        });
        pumpUntil([&] { return x.popover(pimsel.pid()).has_value(); }, 2s);
        show.push_back(double(clock.nsecsElapsed()) / 1e6);
        whileUserTypes([&] {
            typist.sendKey("t", false);
            typist.type("ada");
        });
        // Tab is taken once the popover shows the finished shortcode.
        const bool ready = pumpUntil(
            [&] {
                return app.text().endsWith(QStringLiteral(" :tada")) && x.popover(pimsel.pid()).has_value();
            },
            2s);
        pump(150ms);
        const QString before = app.settledText(100ms);
        const QString after = before.left(before.size() - 5) + QStringLiteral("🎉");
        clock.restart();
        whileUserTypes([&] { typist.key("Tab"); });
        if (!ready || !pumpUntil([&] { return app.text() == after; }, 2s)) {
            ++missed; // the field is read afresh next round
            pump(450ms);
            continue;
        }
        accept.push_back(double(clock.nsecsElapsed()) / 1e6);
        pump(450ms);            // the clipboard comes back before the next round
        if (round % 20 == 19) { // a long field slows every toolkit down; start afresh
            whileUserTypes([&] {
                typist.key("ctrl+a");
                typist.key("BackSpace");
            });
            pump(200ms);
        }
    }
    const QString log = pimsel.output();
    const std::vector<double> grabs = loggedMs(log, QStringLiteral("opening grabs sent.* after (\\d+) us"));
    std::printf(
        "[%s] %d openings (%d not accepted); start to hook %.0f ms; RSS 10 s after start %ld KiB, at the end "
        "%ld KiB; key to popover "
        "mapped %s; trigger to grabs sent (keys frozen meanwhile) %s (%zu); Tab to emoji in field %s\n",
        qPrintable(name), rounds, missed, pimsel.startupMs(), rssAfterStart, pimsel.rssKiB(),
        qPrintable(spread(show)), qPrintable(spread(grabs)), grabs.size(), qPrintable(spread(accept)));

    // Pimsel's account from the key's reading (steady clock, us): the key read last before the
    // popover appeared brought it up.
    std::map<double, std::pair<double, double>> keys; // read at -> (on the main thread, answered)
    const QRegularExpression keyLine(
        QStringLiteral("read at (\\d+) us, main thread \\+ (\\d+) us, answered \\+ (\\d+) us"));
    for (auto it = keyLine.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        keys[m.captured(1).toDouble()] = {m.captured(2).toDouble() / 1000, m.captured(3).toDouble() / 1000};
    }
    std::vector<double> mainThread, answered, shown, painted, sentToPainted;
    double readAt = -1, matchedSent = -1;
    for (auto it =
             QRegularExpression(QStringLiteral("popover (shown|painted) at (\\d+) us")).globalMatch(log);
         it.hasNext();) {
        const auto m = it.next();
        const double at = m.captured(2).toDouble();
        if (m.captured(1) == QLatin1String("painted")) {
            if (readAt >= 0)
                painted.push_back((at - readAt) / 1000);
            readAt = -1;
            // The first paint after a sent key is that key's popover.
            const auto sent = std::upper_bound(sentAt.begin(), sentAt.end(), at);
            if (sent != sentAt.begin() && *std::prev(sent) > matchedSent) {
                matchedSent = *std::prev(sent);
                sentToPainted.push_back((at - matchedSent) / 1000);
            }
            continue;
        }
        auto key = keys.lower_bound(at);
        if (key == keys.begin())
            continue;
        --key;
        readAt = key->first;
        mainThread.push_back(key->second.first);
        answered.push_back(key->second.second);
        shown.push_back((at - readAt) / 1000);
    }
    std::printf("[%s] key sent to popover painted %s (%zu); from the key's reading: on the main thread %s, "
                "answered %s, popover shown %s, painted %s (%zu); caret query %s\n",
                qPrintable(name), qPrintable(spread(sentToPainted)), sentToPainted.size(),
                qPrintable(spread(mainThread)), qPrintable(spread(answered)), qPrintable(spread(shown)),
                qPrintable(spread(painted)), painted.size(),
                qPrintable(spread(loggedMs(log, QStringLiteral("caret (?:query|answer after) (\\d+) us")))));
}

// One focus question asked as often as keys come, the event loop turning in between.
void report(const QString& what, const std::function<bool()>& query, int rounds = 300) {
    std::vector<double> ms;
    int answered = 0;
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        answered += query() ? 1 : 0;
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("%-44s p50 %6.2f ms  p95 %6.2f ms  max %6.2f ms  (%d/%d yes)\n", qPrintable(what),
                percentile(ms, 0.5), percentile(ms, 0.95), *std::max_element(ms.begin(), ms.end()), answered,
                rounds);
}

void focusQuestions() {
    FrontmostApplication frontmost;
    FocusContextProvider focus(frontmost.activeWindowSource());
    FocusContextProvider searching(frontmost.activeWindowSource(), FocusContextProvider::defaultBudgetMs,
                                   false);
    for (const auto kind : {TargetApp::Kind::gtk, TargetApp::Kind::qt}) {
        for (const bool password : {true, false}) {
            const QString name = TargetApp::kindName(kind) + (password ? " password" : " field");
            const TargetApp target(kind,
                                   password ? QStringList{QStringLiteral("--password"),
                                                          QStringLiteral("--text"), QStringLiteral("abc")}
                                            : QStringList{QStringLiteral("--text"), QStringLiteral("hello")});
            if (!target.isReady() || !pumpUntil([&] {
                    return frontmost.activeProcessId() == target.pid() && focus.focusedElement();
                })) {
                std::printf("%s: did not come up\n", qPrintable(name));
                continue;
            }
            // A cache that is never filled costs a search on every key: say which way answers came.
            report(name + (focus.isFollowingFocus() ? " secure? (followed)" : " secure? (searched)"),
                   [&] { return focus.isSecureFieldFocused(); });
            report(name + " secure?, searching", [&] { return searching.isSecureFieldFocused(); });
            report(name + " textBeforeCaret", [&] { return focus.textBeforeCaret(2).has_value(); });
            report(name + " caretRect", [&] { return focus.caretRect().has_value(); });
        }
    }

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
    for (const char* page : {"form.html", "large.html"}) {
        // From the first key's question to the moment the fresh browser's input is known.
        FocusContextProvider fresh(frontmost.activeWindowSource());
        const ChromiumBrowser browser(server.url(QLatin1String(page)));
        if (!pumpUntil([&] { return frontmost.activeProcessId() == browser.pid(); }, 45s)) {
            std::printf("Chromium %s: the window never became active\n", page);
            continue;
        }
        pump(3s); // the page loads after the window shows; the user's first key comes once it is there
        QElapsedTimer clock;
        clock.start();
        const bool silent = fresh.isSecureFieldFocused();
        const bool known = pumpUntil([&] { return focusedRole(fresh) == roleEntry; }, 30s);
        const double roleMs = double(clock.nsecsElapsed()) / 1e6;
        const bool caret = pumpUntil([&] { return fresh.caretRect().has_value(); }, 30s);
        std::printf(
            "Chromium %-10s first answer %s; input's role known after %s%.0f ms; caret after %.0f ms%s\n",
            page, silent ? "silent" : "NOT SILENT", known ? "" : "(never) ", roleMs,
            double(clock.nsecsElapsed()) / 1e6, caret ? "" : " (never)");
        if (std::string(page) != "form.html" || !known)
            continue;
        // The whole check a trigger costs in a browser: the address, then the field.
        const QUrl url = server.url(QLatin1String(page));
        report(QStringLiteral("Chromium context check"),
               [&] { return fresh.currentBrowserURL() == url && !fresh.isSecureFieldFocused(); });
        report(QStringLiteral("Chromium context check, searching"),
               [&] { return searching.currentBrowserURL() == url && !searching.isSecureFieldFocused(); });
    }
}

} // namespace

// "/sticker" picks in a messaging application, the sticker already cached after the first: from
// Return to the file's address in the field. The pick is reported 0.12 s after the picker closes,
// so that much of each figure is by design.
void stickerPicks(int rounds) {
    const QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00,\x00\x00\x00\x00"
                         "\x01\x00\x01\x00\x00\x02\x02D\x01\x00;",
                         35);
    PageServer cdn({{QStringLiteral("s/e/notoemoji/latest/1f973/512.gif"), gif}});
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("signal"));
    QFile::copy(TargetApp::gtkScript(), script);
    TargetApp app(TargetApp::Kind::gtk, {}, script);
    Profile profile;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PIMSEL_STICKER_CDN_BASE"),
               cdn.url(QString()).adjusted(QUrl::StripTrailingSlash).toString());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), scratch.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("TMPDIR"), scratch.path());
    PimselProcess pimsel(profile, env);
    Typist typist(Typist::Keyboard::core);
    typist.setKeyDelay(30ms);
    if (!cdn.isReady() || !app.isReady() || !pimsel.waitForHook() || !typist.isReady() ||
        !typist.activate(app.window())) {
        std::printf("[sticker] could not set up\n");
        return;
    }
    pump(1s); // Pimsel's start-up work is done
    XView x;
    std::vector<double> picks;
    int missed = 0;
    for (int round = 0; round < rounds; ++round) {
        whileUserTypes([&] { typist.type("/sticker partying"); });
        const bool open = pumpUntil(
            [&] {
                const std::vector<xcb_window_t> windows = x.managedWindows(pimsel.pid());
                return std::any_of(windows.begin(), windows.end(), [&](xcb_window_t w) {
                    return x.rootGeometry(w).value_or(QRect()).size() == QSize(420, 480);
                });
            },
            2s);
        pump(300ms);
        QElapsedTimer clock;
        clock.start();
        whileUserTypes([&] { typist.key("Return"); });
        if (!open || !pumpUntil([&] { return app.text().startsWith(QStringLiteral("file://")); }, 3s)) {
            ++missed;
        } else if (round > 0) { // the first pick downloads the file
            picks.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        pump(700ms); // the clipboard comes back before the next round
        whileUserTypes([&] {
            typist.key("ctrl+a");
            typist.key("BackSpace");
        });
        pump(200ms);
    }
    std::printf("[sticker] %d picks (%d missed): Return to the file in the field %s\n", rounds, missed,
                qPrintable(spread(picks)));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("the desktop benchmark needs the test desktop: tests/e2e/desktop-session.sh %s\n",
                    argv[0]);
        return 0;
    }
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (only.isEmpty() || only == QLatin1String("openings")) {
        for (const auto kind : {TargetApp::Kind::gtk, TargetApp::Kind::qt, TargetApp::Kind::chromium})
            openings(kind, rounds);
    }
    if (only.isEmpty() || only == QLatin1String("focus"))
        focusQuestions();
    if (only.isEmpty() || only == QLatin1String("stickers"))
        stickerPicks(std::min(rounds, 20));
    return 0;
}

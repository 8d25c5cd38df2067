// Where the built application must stay silent, typed into as a user would: an excluded
// application, a session where fcitx5 with Pimsel's module takes the keys, a password page in
// Chromium, a disabled web site, and a browser started while accessibility was off. (GTK and Qt password
// fields: AfterPassword and the focus tests.)
#include "engine/settings_location.h"
#include "tests/e2e/support/typing_fixture.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QFile>

namespace pimsel::e2e {
namespace {

// Where Pimsel must stay silent: no popover, and every key reaches the application.
class Silence : public testing::Test, protected FocusProbe {
protected:
    // The user types ":tada:" and Tab: nothing is replaced, no popover shows, the Tab arrives.
    void expectSilentIn(xcb_window_t window, qint64 pid, const std::function<QString()>& text) {
        Typist typist;
        ASSERT_TRUE(typist.isReady()) << typist.error();
        typist.setKeyDelay(userKeyDelay);
        ASSERT_TRUE(typist.focus(window));
        x.watchKeys(window, true);
        whileUserTypes([&] { typist.type(":tada"); });
        EXPECT_FALSE(pumpUntil([&] { return x.popover(pid).has_value(); }, 800ms)) << "a popover appeared";
        whileUserTypes([&] { typist.type(":"); });
        if (text) {
            EXPECT_EQ(text().toStdString(), ":tada:");
        }
        whileUserTypes([&] { typist.key("Tab"); });
        EXPECT_TRUE(pumpUntil([&] { return x.presses(keyTab) == 1; })) << "the Tab was taken";
        EXPECT_EQ(x.presses(keyColon) + x.presses(keySemicolon), 2);
    }

    XView x;
    Profile profile;
};

TEST_F(Silence, InPasswordFieldsExcludedApplicationsAndDisabledSites) {
    ASSERT_TRUE(x.isOpen());
    // A GTK entry under a program name of its own goes on the disabled list before Pimsel starts.
    QTemporaryDir scratch;
    const QString script = scratch.filePath(QStringLiteral("excluded_entry.py"));
    ASSERT_TRUE(QFile::copy(TargetApp::gtkScript(), script));
    const TargetApp excluded(TargetApp::Kind::gtk, {}, script);
    ASSERT_TRUE(excluded.isReady()) << excluded.output().toStdString();
    std::optional<QString> excludedId;
    ASSERT_TRUE(pumpUntil([&] { return (excludedId = frontmost.frontmostApplicationId()).has_value(); }));
    profile.set(QStringLiteral("pimsel.disabledApps"), QStringList{*excludedId});
    profile.set(QStringLiteral("pimsel.disabledWebsites"), QStringList{QStringLiteral("127.0.0.1")});
    PimselProcess pimsel(profile);
    ASSERT_TRUE(pimsel.waitForHook()) << pimsel.output().toStdString();

    {
        SCOPED_TRACE("excluded application " + excludedId->toStdString());
        expectSilentIn(excluded.window(), pimsel.pid(), [&] { return excluded.settledText(200ms); });
    }
    {
        SCOPED_TRACE("fcitx5 with Pimsel's module in the session");
        const TargetApp field(TargetApp::Kind::gtk);
        ASSERT_TRUE(field.isReady()) << field.output().toStdString();
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.registerService(inputMethodBusName())) << bus.lastError().message().toStdString();
        ASSERT_TRUE(
            pumpUntil([&] { return pimsel.output().contains(QLatin1String("the hook stands down")); }));
        expectSilentIn(field.window(), pimsel.pid(), [&] { return field.settledText(200ms); });
        // The module gone, the hook is back at once.
        bus.unregisterService(inputMethodBusName());
        ASSERT_TRUE(pumpUntil([&] { return pimsel.output().count(QLatin1String("tapStarted=true")) == 2; }))
            << "the hook never came back";
        Typist typist;
        ASSERT_TRUE(typist.isReady() && typist.focus(field.window()));
        typist.setKeyDelay(userKeyDelay);
        // The silent Tab moved the focus to the entry after it.
        whileUserTypes([&] {
            typist.key("shift+Tab");
            typist.type(" :tada:");
        });
        EXPECT_TRUE(pumpUntil([&] { return field.text().endsWith(QStringLiteral("🎉")); }))
            << field.text().toStdString();
    }
    // Pages in Chromium, started as a user starts it: no accessibility flags. Two inputs each: the
    // Tab that ends a silent check moves to the second, not out of the page.
    PageServer server(
        {{QStringLiteral("field.html"), "<!doctype html><html><body><input autofocus><input></body></html>"},
         {QStringLiteral("password.html"), "<!doctype html><html><body><input type=password autofocus>"
                                           "<input type=password></body></html>"}});
    ASSERT_TRUE(server.isReady());
    // 127.0.0.1 is a disabled site, "localhost" is not.
    const auto address = [&](const char* host, const char* page) {
        return server.url(QLatin1String(page), QLatin1String(host));
    };
    // The page has been fetched by a browser whose window is the active one; it focuses its input
    // as it loads.
    const auto waitForPage = [&](const char* page) {
        return pumpUntil(
                   [&] {
                       return server.wasRequested(QLatin1String(page)) &&
                              frontmost.frontmostApplicationId() == QStringLiteral("chromium");
                   },
                   45s) &&
               (pump(1s), true);
    };
    {
        SCOPED_TRACE("web password field, from its first key");
        server.forget();
        const ChromiumBrowser browser(address("localhost", "password.html"));
        ASSERT_TRUE(waitForPage("password.html")) << "the page never showed";
        // (Once the browser has shown Pimsel its page, silence comes from the field itself: AfterPassword.)
        expectSilentIn(frontmost.activeWindow(), pimsel.pid(), {});
    }
    {
        SCOPED_TRACE("disabled site");
        server.forget();
        const ChromiumBrowser browser(address("127.0.0.1", "field.html"));
        ASSERT_TRUE(waitForPage("field.html")) << "the page never showed";
        // Known now to be an ordinary input on a disabled site: the address keeps it silent.
        ASSERT_TRUE(pumpUntil([&] { return focusedRole() == roleEntry; }, 10s))
            << "the second input was never seen";
        ASSERT_TRUE(
            pumpUntil([&] { return focus.currentBrowserURL() == address("127.0.0.1", "field.html"); }, 10s))
            << "the page's address was never read";
        expectSilentIn(frontmost.activeWindow(), pimsel.pid(), {});
    }
    {
        SCOPED_TRACE("browser started while accessibility was off");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* flag : {"QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                                 "GNOME_ACCESSIBILITY", "ACCESSIBILITY_ENABLED"})
            env.remove(QLatin1String(flag));
        // A session bus of its own without the accessibility service: the browser finds none.
        server.forget();
        const ChromiumBrowser browser(address("localhost", "password.html"),
                                      {QStringLiteral("dbus-run-session"),
                                       QStringLiteral("--config-file=" PIMSEL_SESSION_WITHOUT_A11Y),
                                       QStringLiteral("--")},
                                      env);
        ASSERT_TRUE(waitForPage("password.html")) << "the page never showed";
        // Pimsel tells a browser that is starting from one that never joined by its age.
        pump(3s);
        expectSilentIn(frontmost.activeWindow(), pimsel.pid(), {});
        EXPECT_TRUE(pumpUntil(
            [&] { return pimsel.output().contains(QLatin1String("Status: \"Restart Chromium")); }, 5s))
            << "the tray never named the browser to restart\n"
            << pimsel.output().toStdString();
    }
}

} // namespace
} // namespace pimsel::e2e

// Password inputs and the page address in Chromium, on pages served from 127.0.0.1.

#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/typist.h"
#include "tests/e2e/support/web.h"

#include <QStandardPaths>
#include <QUrl>

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::e2e;

namespace {

using namespace std::chrono_literals;
constexpr auto pageTimeout = 45s;

class BrowserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new PageServer(
            {{QStringLiteral("plain.html"), "<title>plain</title><input id='plain' autofocus>"},
             {QStringLiteral("login.html"),
              "<title>login</title><input type='password' autofocus><input id='name'>"},
             {QStringLiteral("inner.html"),
              "<title>inner</title><input id='inner' autofocus>"
              "<script>onload = () => document.getElementById('inner').focus();</script>"},
             {QStringLiteral("framed.html"),
              "<title>framed</title><p>Outer page</p><iframe src='inner.html'></iframe>"},
             {QStringLiteral("nothing.html"),
              "<title>nothing</title><p>No field has the focus here.</p><input id='later'>"}});
        ASSERT_TRUE(server->isReady()) << "the page server did not start";
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            << "chromium missing";
        ASSERT_TRUE(frontmost.hasDisplay());
        ASSERT_TRUE(keys.isReady()) << keys.error();
    }

    // The browser's window is the active one. Nothing has asked the browser for its page yet: the
    // first key's question must find the focused input unknown and answer as for a password field
    // (silent rather than wrong); that question, or a later key's when the browser joined the bus
    // only after the first, has the browser expose its page.
    void firstKeyIn(const ChromiumBrowser& browser) {
        ASSERT_TRUE(pumpUntil([&] { return frontmost.activeProcessId() == browser.pid(); }, pageTimeout))
            << "the browser's window never became the active one";
        EXPECT_TRUE(focus.isSecureFieldFocused()) << "the first key in a fresh browser was not kept silent";
    }

    // The user goes on typing, a key every 100 ms, each asking as the first did.
    void keepTyping() {
        if (!sinceKey.isValid() || sinceKey.elapsed() >= 100) {
            sinceKey.start();
            focus.isSecureFieldFocused();
        }
    }
    bool typingFinds(uint role) {
        keepTyping();
        return focusedRole() == role;
    }

    std::optional<uint> focusedRole() {
        const std::optional<AtspiRef> element = focus.focusedElement();
        if (!element)
            return std::nullopt;
        QueryDeadline deadline(250);
        return probe.role(deadline, *element);
    }

    // Keys on the session's own keyboard, to whatever has its focus.
    void press(const std::string& key) {
        keys.key(key);
        keys.sync();
    }

    static PageServer* server;
    QElapsedTimer sinceKey;
    Typist keys{nullptr, Typist::MasterLifetime::removeOnDestruction, Typist::Keyboard::core};
    FrontmostApplication frontmost;
    FocusContextProvider focus{frontmost.activeWindowSource()};
    AtspiClient probe{QStringLiteral("browser-test-probe")};
};

PageServer* BrowserTest::server = nullptr;

// Each page in a fresh browser: what the focused input is, and the page's address. A password input
// is secure; once it has had the focus, the page's ordinary input is ordinary again. An input
// inside a frame gives the outer page's address; with nothing focused in the page, or with the
// browser's own address bar focused, the page on screen still gives it.
TEST_F(BrowserTest, FocusedInputAndAddressOfEachKindOfPage) {
    const struct {
        const char* page;
        std::optional<uint> role; // of the focused element, once the page is exposed
        bool caret;
        std::string then; // a key that moves the focus to an ordinary input: the page's, or the address bar
    } pages[] = {
        {"login.html", atspi::rolePasswordText, false, "Tab"},
        {"plain.html", roleEntry, true, ""},
        {"framed.html", roleEntry, false, ""},
        {"nothing.html", std::nullopt, false, "F6"},
    };
    for (const auto& p : pages) {
        SCOPED_TRACE(p.page);
        const QUrl page = server->url(QLatin1String(p.page));
        ChromiumBrowser browser(page);
        firstKeyIn(browser);
        if (p.role) {
            ASSERT_TRUE(pumpUntil([&] { return typingFinds(*p.role); }, pageTimeout))
                << "the autofocused input was never seen";
            EXPECT_EQ(focus.isSecureFieldFocused(), p.role == atspi::rolePasswordText);
            EXPECT_EQ(focus.currentBrowserURL(), page);
            if (p.caret) {
                EXPECT_TRUE(focus.caretRect().has_value());
            }
        } else {
            std::optional<QUrl> url;
            ASSERT_TRUE(pumpUntil(
                [&] {
                    keepTyping();
                    return (url = focus.currentBrowserURL()) == page;
                },
                pageTimeout))
                << "read " << (url ? url->toString().toStdString() : "none");
            EXPECT_NE(focusedRole(), roleEntry);
            EXPECT_FALSE(focus.isSecureFieldFocused());
            EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("chromium"));
        }
        if (p.then.empty())
            continue;
        press(p.then);
        ASSERT_TRUE(pumpUntil([&] { return focusedRole() == roleEntry; }, 10s))
            << p.then << " did not focus an ordinary input";
        EXPECT_EQ(focus.currentBrowserURL(), page);
        if (p.then == "Tab") {
            EXPECT_FALSE(focus.isSecureFieldFocused());
            EXPECT_EQ(focus.textBeforeCaret(2), QString());
        }
    }
}

} // namespace

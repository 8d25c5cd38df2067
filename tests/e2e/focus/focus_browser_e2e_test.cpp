// Password inputs and the page address in Chromium, on pages served from 127.0.0.1.

#include "focus_e2e_support.h"
#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages.
void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString().toStdString();
}
void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

using namespace pimsel;
using namespace pimsel::e2e;

namespace {

constexpr uint roleEntry = 79;
constexpr std::uint32_t keyF6 = 0xffc3;
constexpr std::uint32_t keyTab = 0xff09;

// A static HTTP server on 127.0.0.1 over a folder of test pages.
class PageServer {
public:
    bool start() {
        if (!m_pages.isValid())
            return false;
        writePage("plain.html", "<title>plain</title><input id='plain' autofocus>");
        writePage("password.html", "<title>password</title><input type='password' autofocus>");
        writePage("login.html", "<title>login</title><input type='password' autofocus><input id='name'>");
        writePage("inner.html", "<title>inner</title><input id='inner' autofocus>"
                                "<script>onload = () => document.getElementById('inner').focus();</script>");
        writePage("framed.html", "<title>framed</title><p>Outer page</p><iframe src='inner.html'></iframe>");
        writePage("nothing.html",
                  "<title>nothing</title><p>No field has the focus here.</p><input id='later'>");
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                         QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--directory"),
                         m_pages.path(), QStringLiteral("0")});
        if (!m_process.waitForStarted(5000))
            return false;
        const QRegularExpression portLine(QStringLiteral("port (\\d+)"));
        QByteArray output;
        return waitUntil([&] {
            m_process.waitForReadyRead(50);
            output += m_process.readAll();
            const auto match = portLine.match(QString::fromUtf8(output));
            if (match.hasMatch())
                m_port = match.captured(1).toInt();
            return m_port > 0;
        });
    }
    ~PageServer() {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    QUrl url(const char* page) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(QLatin1String(page)));
    }

private:
    void writePage(const char* name, const char* body) {
        QFile file(m_pages.filePath(QLatin1String(name)));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray("<!doctype html><html><body>") + body + "</body></html>");
    }

    QTemporaryDir m_pages;
    QProcess m_process;
    int m_port = 0;
};

class Browser {
public:
    Browser(const QString& profile, const QUrl& page) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // As a user starts it: the accessibility bus is on, the browser has no accessibility flags.
        m_process.start(QStringLiteral("chromium"),
                        {QStringLiteral("--no-sandbox"), QStringLiteral("--user-data-dir=") + profile,
                         QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
                         QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                         QStringLiteral("--disable-gpu"), QStringLiteral("--no-default-browser-check"),
                         QStringLiteral("--password-store=basic"), page.toString()});
        m_process.waitForStarted(10000);
    }
    qint64 pid() const { return m_process.processId(); }
    ~Browser() {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

constexpr int pageTimeoutMs = 45000;

class BrowserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new PageServer;
        ASSERT_TRUE(server->start()) << "the page server did not start";
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty())
            << "chromium missing";
        ASSERT_TRUE(profile.isValid());
        ASSERT_TRUE(frontmost.hasDisplay());
    }

    // The browser's window is the active one. Nothing has asked the browser for its page yet: the
    // first key's question must find the focused input unknown and answer as for a password field
    // (silent rather than wrong); that question also has the browser expose its page.
    void firstKeyIn(const Browser& browser) {
        ASSERT_TRUE(waitUntil([&] { return frontmost.activeProcessId() == browser.pid(); }, pageTimeoutMs))
            << "the browser's window never became the active one";
        EXPECT_TRUE(focus.isSecureFieldFocused()) << "the first key in a fresh browser was not kept silent";
    }

    std::optional<uint> focusedRole() {
        const std::optional<AtspiRef> element = focus.focusedElement();
        if (!element)
            return std::nullopt;
        QueryDeadline deadline(250);
        return probe.role(deadline, *element);
    }

    static PageServer* server;
    QTemporaryDir profile;
    FrontmostApplication frontmost;
    FocusContextProvider focus{frontmost.activeWindowSource()};
    AtspiClient probe{QStringLiteral("browser-test-probe")};
};

PageServer* BrowserTest::server = nullptr;

TEST_F(BrowserTest, PasswordInputIsSecureAndTheAddressIsRead) {
    const QUrl page = server->url("password.html");
    Browser browser(profile.path(), page);
    firstKeyIn(browser);
    ASSERT_TRUE(waitUntil([&] { return focusedRole() == atspi::rolePasswordText; }, pageTimeoutMs))
        << "the autofocused password input was never seen";
    EXPECT_TRUE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.currentBrowserURL(), page);
}

// Once the password input has had the focus, the page's ordinary input is ordinary again.
TEST_F(BrowserTest, PasswordAnswerFollowsTheFocusWithinThePage) {
    const QUrl page = server->url("login.html");
    Browser browser(profile.path(), page);
    firstKeyIn(browser);
    ASSERT_TRUE(waitUntil([&] { return focusedRole() == atspi::rolePasswordText; }, pageTimeoutMs))
        << "the autofocused password input was never seen";
    EXPECT_TRUE(focus.isSecureFieldFocused());
    pressKey(keyTab);
    ASSERT_TRUE(waitUntil([&] { return focusedRole() == roleEntry; }, 10000))
        << "Tab did not reach the ordinary input";
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.textBeforeCaret(2), QString());
    EXPECT_EQ(focus.currentBrowserURL(), page);
}

TEST_F(BrowserTest, OrdinaryInputIsNotSecureAndTheAddressIsRead) {
    const QUrl page = server->url("plain.html");
    Browser browser(profile.path(), page);
    firstKeyIn(browser);
    ASSERT_TRUE(waitUntil([&] { return focusedRole() == roleEntry; }, pageTimeoutMs))
        << "the autofocused input never had the focus";
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(focus.currentBrowserURL(), page);
    EXPECT_TRUE(focus.caretRect().has_value());
}

TEST_F(BrowserTest, InputInsideAFrameGivesTheOuterPagesAddress) {
    const QUrl page = server->url("framed.html");
    Browser browser(profile.path(), page);
    firstKeyIn(browser);
    ASSERT_TRUE(waitUntil([&] { return focusedRole() == roleEntry; }, pageTimeoutMs))
        << "the input in the frame never had the focus";
    EXPECT_EQ(focus.currentBrowserURL(), page);
    EXPECT_FALSE(focus.isSecureFieldFocused());
}

TEST_F(BrowserTest, AddressIsReadWithNothingFocusedInThePage) {
    const QUrl page = server->url("nothing.html");
    Browser browser(profile.path(), page);
    firstKeyIn(browser);
    std::optional<QUrl> url;
    ASSERT_TRUE(waitUntil([&] { return (url = focus.currentBrowserURL()) == page; }, pageTimeoutMs))
        << "read " << (url ? url->toString().toStdString() : "none");
    const std::optional<uint> role = focusedRole();
    EXPECT_NE(role, roleEntry);
    EXPECT_FALSE(focus.isSecureFieldFocused());
    EXPECT_EQ(frontmost.frontmostApplicationId(), QStringLiteral("chromium"));

    // With the browser's own address bar focused, the page on screen still gives the address.
    pressKey(keyF6);
    ASSERT_TRUE(waitUntil([&] { return focusedRole() == roleEntry; }, 10000))
        << "F6 did not focus the address bar";
    EXPECT_EQ(focus.currentBrowserURL(), page);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

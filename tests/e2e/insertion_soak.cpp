// Long run of token replacements (not part of the default suite; `make soak`): 200 insertions
// alternating between a GTK and a Qt field while another application's rich clipboard is on loan.
// Every field must read right after every cycle and the clipboard must come back byte for byte.
#include "tests/e2e/support/clipboard_support.h"
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/support/typist.h"

#include <gtest/gtest.h>

namespace pimsel::e2e {
namespace {

TEST(InsertionSoak, TwoHundredReplacementsKeepFieldsAndClipboardIntact) {
    const int cycles = qEnvironmentVariableIntValue("PIMSEL_SOAK_CYCLES") > 0
                           ? qEnvironmentVariableIntValue("PIMSEL_SOAK_CYCLES")
                           : 200;
    const QStringList emoji = {QStringLiteral("😄"), QStringLiteral("👍🏽"), QStringLiteral("🇫🇷"),
                               QStringLiteral("❤️"), QStringLiteral("👩‍💻")};

    ScriptedHandler handler;
    InsertionPath path(&handler);
    ASSERT_TRUE(path.started);

    ClipboardOwner owner;
    ASSERT_TRUE(owner.ready);
    const QString before = dumpClipboard();
    ASSERT_FALSE(before.isEmpty());

    TargetApp gtk(TargetApp::Kind::gtk);
    TargetApp qt(TargetApp::Kind::qt);
    ASSERT_TRUE(gtk.isReady()) << gtk.diagnostics().toStdString();
    ASSERT_TRUE(qt.isReady()) << qt.diagnostics().toStdString();
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();

    QString expected[2];
    TargetApp* apps[2] = {&gtk, &qt};
    int wrong = 0;
    for (int cycle = 0; cycle < cycles && wrong < 3; ++cycle) {
        const int which = cycle % 2;
        TargetApp& app = *apps[which];
        // Synthesised keys go where the session's own keyboard points, as they would for a user.
        ASSERT_TRUE(typist.activate(app.window())) << "cycle " << cycle;
        ASSERT_TRUE(typist.focus(app.window()));
        whileUserTypes([&] { typist.type(":smi"); });
        const QString typed = expected[which] + QStringLiteral(":smi");
        if (app.waitForText(typed) != typed) {
            ADD_FAILURE() << "cycle " << cycle << " " << app.name().toStdString() << ": typing gave "
                          << app.text().toStdString();
            ++wrong;
            expected[which] = app.text();
            continue;
        }
        const QString& insert = emoji[cycle % emoji.size()];
        ASSERT_TRUE(path.replace(4, insert)) << "cycle " << cycle;
        expected[which] += insert;
        const QString now = app.waitForText(expected[which]);
        if (now != expected[which]) {
            ADD_FAILURE() << "cycle " << cycle << " " << app.name().toStdString() << ": field reads "
                          << now.toStdString() << ", expected " << expected[which].toStdString();
            ++wrong;
            expected[which] = now;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(dumpClipboard().toStdString(), before.toStdString());
    EXPECT_EQ(path.tap.ownEvents()->pendingCount(), 0u);
    pump(std::chrono::milliseconds(100));
    EXPECT_EQ(handler.script().count(QStringLiteral(":smi")), cycles)
        << "only the user's keys were handed over: " << handler.script().toStdString();
}

} // namespace
} // namespace pimsel::e2e

// Proves the desktop harness: both target applications come up focused under the launcher with the
// text they are given, the typist's keys reach them through its own master keyboard, and the fields
// read back. (Password mode is proven where silence is checked.)
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/support/typist.h"

#include <gtest/gtest.h>

namespace pimsel::e2e {
namespace {

class HarnessSmoke : public testing::TestWithParam<TargetApp::Kind> {};

TEST_P(HarnessSmoke, TypedTextAndKeysReachTheField) {
    TargetApp app(GetParam(), {"--text", "pre"});
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    EXPECT_EQ(app.text().toStdString(), "pre");
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));

    ASSERT_TRUE(typist.type("fix, :smi_1"));
    EXPECT_EQ(app.waitForText("prefix, :smi_1").toStdString(), "prefix, :smi_1");

    ASSERT_TRUE(typist.key("BackSpace"));
    ASSERT_TRUE(typist.key("shift+a"));
    EXPECT_EQ(app.waitForText("prefix, :smi_A").toStdString(), "prefix, :smi_A");

    // A character the keymap has no key for goes through a spare keycode.
    ASSERT_TRUE(typist.type("é")) << typist.error();
    EXPECT_EQ(app.waitForText("prefix, :smi_Aé").toStdString(), "prefix, :smi_Aé");
}

TEST(HarnessSmokeTypist, OwnMasterUsesADifferentXtestDeviceThanTheCoreOne) {
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    const int core = Typist::coreXtestKeyboard();
    ASSERT_NE(core, 0);
    EXPECT_NE(typist.xtestKeyboard(), 0);
    EXPECT_NE(typist.xtestKeyboard(), core);
    EXPECT_NE(typist.masterKeyboard(), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, HarnessSmoke, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);

} // namespace
} // namespace pimsel::e2e

// Proves the desktop harness: both target applications come up focused under the launcher, the
// typist's keys reach them through its own master keyboard, and the fields read back.
#include "tests/e2e/support/target_app.h"
#include "tests/e2e/typist.h"

#include <gtest/gtest.h>

namespace pimsel::e2e {
namespace {

class HarnessSmoke : public testing::TestWithParam<TargetApp::Kind> {};

TEST_P(HarnessSmoke, TypedTextAndKeysReachTheField) {
    TargetApp app(GetParam());
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));

    ASSERT_TRUE(typist.type("Hello, :smi_1"));
    EXPECT_EQ(app.waitForText("Hello, :smi_1").toStdString(), "Hello, :smi_1");

    ASSERT_TRUE(typist.key("BackSpace"));
    ASSERT_TRUE(typist.key("shift+a"));
    EXPECT_EQ(app.waitForText("Hello, :smi_A").toStdString(), "Hello, :smi_A");

    // A character the keymap has no key for goes through a spare keycode.
    ASSERT_TRUE(typist.type("é")) << typist.error();
    EXPECT_EQ(app.waitForText("Hello, :smi_Aé").toStdString(), "Hello, :smi_Aé");
}

TEST_P(HarnessSmoke, InitialTextAndPasswordModeAreHonoured) {
    TargetApp app(GetParam(), {"--password", "--text", "pre"});
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    EXPECT_EQ(app.text().toStdString(), "pre");
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));
    ASSERT_TRUE(typist.type("fix"));
    EXPECT_EQ(app.waitForText("prefix").toStdString(), "prefix");
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
                         [](const auto& info) { return TargetApp::kindName(info.param).toStdString(); });

} // namespace
} // namespace pimsel::e2e

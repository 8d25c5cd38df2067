// The fcitx5 module as fcitx5 drives it, without a display: keys go through the test frontend,
// what is committed and what the input method is handed lands in a field per input context.

#include "support/fcitx5_session.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pimsel {
namespace {

struct ModuleCase {
    const char* name;
    const char* keys;
    const char* field; // the field's text afterwards, nothing left in preedit
    bool touched;      // a preedit or candidates showed on the way
    const char* program = "gedit";
    bool password = false;
    QVariantMap settings = {};
};

void PrintTo(const ModuleCase& c, std::ostream* os) {
    *os << c.name;
}

class ModuleTest : public ::testing::TestWithParam<ModuleCase> {
protected:
    static void SetUpTestSuite() {
        s_config = new QTemporaryDir;
        s_session = new testing::Fcitx5Session(s_config->path().toStdString());
    }
    static void TearDownTestSuite() {
        delete s_session;
        delete s_config;
    }
    static QString settingsPath() { return s_config->path() + QStringLiteral("/pimsel/pimsel.conf"); }

    static QTemporaryDir* s_config;
    static testing::Fcitx5Session* s_session;
};

QTemporaryDir* ModuleTest::s_config = nullptr;
testing::Fcitx5Session* ModuleTest::s_session = nullptr;

TEST_P(ModuleTest, TypesIntoAField) {
    const ModuleCase& c = GetParam();
    ASSERT_TRUE(s_session->ready);
    // Every case starts from its own settings file, which the module reads again when a field
    // gets the focus: use counts from an earlier case would reorder the results.
    QFile::remove(settingsPath());
    {
        QSettings file(settingsPath(), QSettings::IniFormat);
        for (auto it = c.settings.cbegin(); it != c.settings.cend(); ++it)
            file.setValue(it.key(), it.value());
    }
    fcitx::InputContext& ic = s_session->open(c.program, c.password);
    s_session->type(ic, c.keys);
    EXPECT_EQ(s_session->text(ic), c.field);
    EXPECT_EQ(s_session->preedit(ic), "");
    EXPECT_EQ(s_session->field(ic).touched, c.touched);
    s_session->close(ic);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ModuleTest,
    ::testing::Values(ModuleCase{"closingTrigger", "hi :tada: x", "hi 🎉 x", true},
                      ModuleCase{"tabTakesFirst", ":smi{Tab}", "😄", true},
                      ModuleCase{"downReturnTakesSecond", ":smi{Down}{Return}", "😏", true},
                      ModuleCase{"backspaceInShortcode", ":smik{BackSpace}{Tab}", "😄", true},
                      ModuleCase{"escapeLeavesText", ":smi{Escape}", ":smi", true},
                      ModuleCase{"spaceLeavesText", ":smi x", ":smi x", true},
                      ModuleCase{"triggerAfterWord", "a:b ", "a:b ", false},
                      // The field says what precedes the caret once the keys no longer can.
                      ModuleCase{"triggerAfterDeletedWord", "ab{BackSpace}{BackSpace}:tada:", "🎉", true},
                      ModuleCase{"passwordField", ":tada:", ":tada:", false, "gedit", true},
                      ModuleCase{"excludedProgram", ":tada:", ":tada:", false, "keepassxc"},
                      ModuleCase{"userExcludedProgram",
                                 ":tada:",
                                 ":tada:",
                                 false,
                                 "gedit",
                                 false,
                                 {{"pimsel.disabledApps", QStringList{"gedit"}}}},
                      ModuleCase{"tabSwitchedOff",
                                 ":smi{Tab}x",
                                 ":smix",
                                 true,
                                 "gedit",
                                 false,
                                 {{"pimsel.acceptWithTab", false}}}),
    [](const ::testing::TestParamInfo<ModuleCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace pimsel

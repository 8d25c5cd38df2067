// The fcitx5 module as fcitx5 drives it, without a display: keys go through the test frontend,
// what is committed and what the input method is handed lands in a field per input context.

#include "fcitx5/pimsel_public.h"
#include "support/fcitx5_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    bool masked = false;
    const char* settings = ""; // lines of the settings file
    bool lagging = false;
    // The desktop application's answer to the double trigger: the emoji picked, "" for a dismissal;
    // none when there is no application to ask.
    const char* browser = nullptr;
    bool refused = false;           // the application turns out not to be there after the keys
    bool answeredElsewhere = false; // the answer comes while the field is without the focus
    const char* then = "";          // typed after the answer
};

class ModuleTest : public ::testing::TestWithParam<ModuleCase> {};

QTemporaryDir& configHome() {
    static QTemporaryDir dir;
    return dir;
}

testing::Fcitx5Session& session() {
    static testing::Fcitx5Session instance(configHome().path().toStdString());
    return instance;
}

TEST_P(ModuleTest, TypesIntoAField) {
    const ModuleCase& c = GetParam();
    // Every case writes its own settings file, which the module reads again when a field gets the
    // focus: use counts from an earlier case would reorder the results.
    const QString path = configHome().path() + QStringLiteral("/pimsel/pimsel.conf");
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray("[General]\n") + c.settings);
    file.close();
    fcitx::InputContext& ic = session().open(c.program, c.password, c.masked, c.lagging);
    std::vector<std::pair<std::uint32_t, std::function<void(bool)>>> requests;
    fcitx5::BrowserOpener opener;
    if (c.browser) {
        opener = [&requests](std::uint32_t request, std::function<void(bool)> answered) {
            requests.emplace_back(request, std::move(answered));
        };
    }
    session().module().call<fcitx::IPimselModule::setBrowserOpener>(opener);
    session().type(ic, c.keys);
    if (c.browser) {
        ASSERT_EQ(requests.size(), 1u);
        requests.front().second(!c.refused);
        if (c.answeredElsewhere)
            ic.focusOut();
        const std::string before = session().field(ic).text;
        if (!c.refused && *c.browser)
            session().module().call<fcitx::IPimselModule::browserPicked>(requests.front().first, c.browser);
        else if (!c.refused)
            session().module().call<fcitx::IPimselModule::browserDismissed>(requests.front().first);
        if (c.answeredElsewhere) {
            EXPECT_EQ(session().field(ic).text, before);
            ic.focusIn();
        }
    }
    session().type(ic, c.then);
    EXPECT_EQ(session().field(ic).text, c.field);
    EXPECT_EQ(ic.inputPanel().clientPreedit().toString(), "");
    EXPECT_EQ(session().field(ic).touched, c.touched);
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
                      // ... unless it has not caught up with the keys yet.
                      ModuleCase{"triggerAfterWordFieldBehind", "a:tada:", "a:tada:", false, "gedit", false,
                                 false, "", true},
                      ModuleCase{"passwordField", ":tada:", ":tada:", false, "gedit", true},
                      ModuleCase{"maskedField", "ab :tada:", "ab :tada:", false, "gedit", false, true},
                      ModuleCase{"excludedProgram", ":tada:", ":tada:", false, "keepassxc"},
                      ModuleCase{"userExcludedProgram", ":tada:", ":tada:", false, "gedit", false, false,
                                 "pimsel.disabledApps=gedit"},
                      ModuleCase{"tabSwitchedOff", ":smi{Tab}x", ":smix", true, "gedit", false, false,
                                 "pimsel.acceptWithTab=false"},
                      // The double trigger asks the desktop application for its emoji browser.
                      ModuleCase{.name = "browserPick",
                                 .keys = "a ::",
                                 .field = "a 🎉x",
                                 .touched = true,
                                 .browser = "🎉",
                                 .then = "x"},
                      ModuleCase{.name = "browserPickWhileAway",
                                 .keys = "a ::",
                                 .field = "a 🎉x",
                                 .touched = true,
                                 .browser = "🎉",
                                 .answeredElsewhere = true,
                                 .then = "x"},
                      ModuleCase{.name = "browserDismissed",
                                 .keys = "a ::",
                                 .field = "a :x",
                                 .touched = true,
                                 .browser = "",
                                 .then = "x"},
                      ModuleCase{.name = "browserAbsent", .keys = "a ::x", .field = "a ::x", .touched = true},
                      // Keys typed before the answer are the browser's, and the field's when none shows.
                      ModuleCase{.name = "browserRefusedAfterKeys",
                                 .keys = "a ::xq{BackSpace}y z",
                                 .field = "a ::xy z!",
                                 .touched = true,
                                 .browser = "",
                                 .refused = true,
                                 .then = "!"}),
    [](const ::testing::TestParamInfo<ModuleCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace pimsel

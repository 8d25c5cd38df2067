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
    const char* field;         // the field's text afterwards, nothing left in preedit
    bool touched = false;      // a preedit or candidates showed on the way
    const char* settings = ""; // lines of the settings file
    // The desktop application's answer to the double trigger: the emoji picked, "" for a dismissal;
    // none when there is no application to ask.
    const char* browser = nullptr;
    const char* then = "";          // typed after the answer
    bool answeredElsewhere = false; // the answer comes while the field is without the focus
    bool refused = false;           // the application turns out not to be there after the keys
    const char* program = "gedit";
    bool password = false;
    bool masked = false;
    bool lagging = false;
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

const ModuleCase cases[] = {
    {"closingTrigger", "hi :tada: x", "hi 🎉 x", true},
    {"tabTakesFirst", ":smi{Tab}", "😄", true},
    {"downReturnTakesSecond", ":smi{Down}{Return}", "😏", true},
    {"backspaceInShortcode", ":smik{BackSpace}{Tab}", "😄", true},
    {"escapeLeavesText", ":smi{Escape}", ":smi", true},
    {"spaceLeavesText", ":smi x", ":smi x", true},
    {"triggerAfterWord", "a:b ", "a:b ", false},
    // The field says what precedes the caret once the keys no longer can...
    {"triggerAfterDeletedWord", "ab{BackSpace}{BackSpace}:tada:", "🎉", true},
    // ... unless it has not caught up with the keys yet.
    {.name = "triggerAfterWordFieldBehind", .keys = "a:tada:", .field = "a:tada:", .lagging = true},
    {.name = "passwordField", .keys = ":tada:", .field = ":tada:", .password = true},
    {.name = "maskedField", .keys = "ab :tada:", .field = "ab :tada:", .masked = true},
    {.name = "excludedProgram", .keys = ":tada:", .field = ":tada:", .program = "keepassxc"},
    {"userExcludedProgram", ":tada:", ":tada:", false, "pimsel.disabledApps=gedit"},
    {"tabSwitchedOff", ":smi{Tab}x", ":smix", true, "pimsel.acceptWithTab=false"},
    // The double trigger asks the desktop application for its emoji browser.
    {"browserPick", "a ::", "a 🎉x", true, "", "🎉", "x"},
    {"browserPickWhileAway", "a ::", "a 🎉x", true, "", "🎉", "x", true},
    {"browserDismissed", "a ::", "a :x", true, "", "", "x"},
    {"browserAbsent", "a ::x", "a ::x", true},
    // Keys typed before the answer are the browser's, and the field's when none shows.
    {"browserRefusedAfterKeys", "a ::xq{BackSpace}y z", "a ::xy z!", true, "", "", "!", false, true},
};

INSTANTIATE_TEST_SUITE_P(Keys, ModuleTest, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pimsel

// The coordinator driven by scripts: typing shortcodes (suggestions, acceptance, tones, the trigger
// rules and the silences), then slash commands, the picker and browser routing and delayed work.

#include "tests/engine/coordinator_fakes.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace pimsel;
using namespace pimsel::fakes;

namespace {

const auto tone = [](SkinTone t) { return [t](Harness& h) { h.settings.setSkinTone(t); }; };
// 🎉 then 👋 lead the most-used list, which the bare trigger shows.
const auto mostUsed = [](Harness& h) {
    h.settings.setShowImmediatelyAfterColon(true);
    h.store.setUseCount("👋", 5);
    h.store.setUseCount("🎉", 3);
};

const QList<Script> typing{
    // Acceptance keys and their settings.
    {"TabAndReturnAccept", ":smi<tab><done> :smi<ret>", "....S.....S",
     "insert 4 😄 | record 😄 | insert 4 😄 | record 😄", "inserting", ""},
    {"ReturnSwitchedOffClosesTabSwitchedOffPasses", ":smi<ret> :smi<tab>", "", "",
     "panel 😄 😃 😺 @0, token :smi", "esc up down :",
     [](Harness& h) { h.settings.setAcceptWithTab(false), h.settings.setAcceptWithReturn(false); }},
    // With a token open the popover's keys are held (and passed while nothing shows).
    {"NoPopoverNoAcceptance", ":<tab><ret>", "", "", "token :", "tab ret esc up down :"},
    {"QueryWithoutResults", ":xyz", "", "", "token :xyz"},
    {"ClosingTriggerWithoutMatch", ":tad:", "", "", "token :", nullptr,
     [](Harness& h) { h.store.setUseCount("🎉", 3); }},
    {"TriggerRulesOff", ":tada: ::", "", "", "token :", "tab ret esc up down",
     [](Harness& h) {
         h.settings.setReplaceOnClosingColon(false), h.settings.setOpenBrowserOnDoubleTrigger(false);
     }},
    // A tone replaces the emoji presentation selector.
    {"ClosingTriggerCountsCharactersAndTones", ":caf{e\u0301}:<done> :+1:<done> :v:", ".....S....S...S",
     "insert 5 ☕ | record ☕ | insert 3 👍🏿 | record 👍 | insert 2 ✌🏿 | record ✌️",
     "inserting", nullptr, tone(SkinTone::dark)},
    {"BrowserPickErasesOneTrigger", "::<bpick:4>", ".S", "browser show 9 | insert 1 👋🏽 | record 👋",
     "inserting", nullptr, tone(SkinTone::medium)},
    {"BrowserDismissed", "::<esc>a", ".SS.", "browser show 9 | browser close", "idle", ""},
    // Selection.
    {"SelectionWrapsBack", ":smi<up><down><down><tab><done> :smi<up><tab>", "....SSSS.....SS",
     "insert 4 😃 | record 😃 | insert 4 😺 | record 😺"},
    // A tone chosen in the strip becomes the default, where the strip starts; the default is not
    // written again.
    {"ChosenToneIsRemembered", ":wave<left*6><tab><done> :wave<right><tab><done> :wave<right><left><tab>",
     ".....SSSSSSS......SS......SSS",
     "insert 5 👋 | default tone 0 | record 👋 | insert 5 👋🏻 | default tone 1 | "
     "record 👋 | insert 5 👋🏻 | record 👋",
     nullptr, nullptr, tone(SkinTone::dark)},
    // Popover clicks. Stray ones, control characters and a moment with no active window leave the
    // token alone.
    {"StrayClicksControlTextNoWindow",
     ":sm<window:0>i{}{\u0007}{\u007f}{l\u0001}<pick:-1><pick:3><hover:-1><hover:3><tone:-1><tone:6>", "", "",
     "panel 😄 😃 😺 @0, token :smi"},
    {"LateToneClick", ":smi<esc><tone:2>", "....S", "", "idle", ""},
    {"ToneClickPicksTheStripsRowAfterHover", ":<hover:1><tone:2>", "",
     "insert 1 👋🏼 | default tone 2 | record 👋", "inserting", nullptr, mostUsed},
    {"HoveredToneLessEntryLetsArrowsPass", ":<hover:1><left>", "", "", "idle", nullptr, mostUsed},
    {"MouseDownOnThePopoverKeepsTheToken", ":smi<clickpop><pick:2>", "", "insert 4 😺 | record 😺"},
    // Keys and clicks that end the token: with no popover or tone strip to move in, the arrows too; a
    // click the toolkit delivers before keys typed earlier comes after them.
    {"TokenEnders",
     ":smi<mod>l :smi<wbs>l :smi<space>l :smi! :s<bs><bs> :<up> :<down> :<left> :<right> :smi<left> "
     ":smi<right> :family<right> :smi<click> :<clickpop> :sm<unread: ><pick:1> :wav<unread: ><tone:3>",
     "", "", "idle", ""},
    // Format characters reach the field, so they end the shortcode; so does another window of the
    // same application.
    {"FormatCharactersAndAnotherWindowEndTheToken",
     ":smi{\u200c} :smi{l\u200b} :smi{:\u200d} :smi{\U000E0001} :smi<window:2><tab>", "", "", "idle"},
    {"KeysDuringAnInsertion", ":smi<tab> :wave<tab><esc>::<done> :wave", "....S................",
     "insert 4 😄 | record 😄", "panel 👋 @0 tone 0, token :wave"},
    // Silences, from the start or once a token is open.
    {"ExcludedApp", ":smi<exclude><tab><esc> :tada: ::", "", "", "idle", ""},
    {"PasswordField", ":smi<secure>l<tab><esc> :tada: ::", "", "", "idle", ""},
    {"SwitchedOffWhileOpen", ":smi<off><esc><tab>", "", "", nullptr, ""},
    {"DisabledSite", ":smi<tab><esc> :tada: ::", "", "", "idle", "",
     [](Harness& h) {
         h.desktop.appId = QStringLiteral("firefox-esr");
         h.desktop.browsers << QStringLiteral("firefox-esr");
         h.desktop.url = QUrl(QStringLiteral("https://www.example.com/inbox"));
         h.desktop.disabledHosts << QStringLiteral("www.example.com");
     }},
    {"FieldTurnedSecureNeverInserts", ":s<turns>mi<tab> :s<turns>mi<found>", "", "", "idle"},
    // The focus left the password field before the application said so: the shortcode typed in the
    // next field meanwhile is taken up from that field once it is announced or its next key comes,
    // and only from there.
    {"LateAnnouncedOrUnannouncedOrdinaryField",
     "<secure>:smi<moved:ab :s><tab><done><secure>:s<unannounced:ab :s>mi<tab>", "....S....S",
     "insert 4 😄 | record 😄 | insert 4 😄 | record 😄", "inserting"},
    // Not when the announced field lacks the shortcode, nor when it is a password field too.
    {"LateAnnouncedFieldWithoutTheShortcodeOrSecure",
     "<secure>:smi<moved:ab><secure>:sm<tab><moved::sm> <secure><field::smi>:smi<announce>", "", "", "idle"},
    // A window that has just opened answers a moment after the trigger, with the next keys in it.
    {"FieldAnswersAKeyLate", "word<window:2>:s<field: :sm>mi", "", "", "panel 😄 😃 😺 @0, token :smi"},
    {"FieldAnswersTooLate", "word<window:2>:smil<field: :smil>e", "", "", "idle"},
    // Keys that reached the application before a grab could hold them: whatever the state would
    // have taken, the application has already acted on, so nothing is accepted or moved.
    {"UngrabbedOrPassedKeysEndTheToken",
     ":smi<ungrabbed><tab> :smi<ungrabbed><down> :wave<ungrabbed><right> :smi<ungrabbed><esc> "
     ":smi<late><tab> :tada<late>: :wave<late><right>",
     "", "", "idle", ""},
};

// The accessibility queries are slow: ordinary typing makes none, and the address is read only in
// a browser that has website rules.
TEST(CoordinatorDesktop, IsAskedOnlyWhenATokenNeedsIt) {
    Harness h;
    h.desktop.url = QUrl(QStringLiteral("https://mail.example.org/u/0"));
    h.desktop.caret = QRect(10, 20, 2, 18);
    h.desktop.before = QStringLiteral("lo 10");
    h.run(QStringLiteral("hello 10:30 world<bs>"));
    // Only the ':' in "10:30" is checked, and the field asked what precedes it; then a token asks for
    // the caret once, before there is anything to show, so that the first results show at once.
    const auto asked = [&h] {
        return std::tuple(h.desktop.secureQueries, h.desktop.beforeQueries, h.desktop.caretQueries,
                          h.desktop.urlQueries);
    };
    EXPECT_EQ(asked(), std::tuple(1, 1, 0, 0));
    h.run(QStringLiteral(" :"));
    EXPECT_EQ(asked(), std::tuple(2, 1, 1, 0));
    h.run(QStringLiteral("smi"));
    EXPECT_EQ(h.suggestions.anchor, QRect(10, 20, 2, 18));
    EXPECT_EQ(h.suggestions.trigger, QStringLiteral(":"));
    // Keys read while the main thread was busy: one query, for where they led.
    const int caretQueries = h.desktop.caretQueries;
    h.run(QStringLiteral("<esc><busy> :smiley<down><idle>"));
    EXPECT_EQ(h.desktop.caretQueries, caretQueries + 1);
    EXPECT_EQ(h.state(), QStringLiteral("panel 😃 😺 @1, token :smiley"));

    h.desktop.caret.reset();
    h.settings.setTriggerKey(QStringLiteral(";"));
    h.run(QStringLiteral("<esc> ;ta"));
    EXPECT_EQ(h.suggestions.anchor, std::nullopt); // the popover still follows the caret
    EXPECT_EQ(h.suggestions.trigger, QStringLiteral(";"));
    EXPECT_TRUE(h.violations.isEmpty()) << h.violations.join(QLatin1Char('\n')).toStdString();
}

const char* const pickerGrabs = "text bs wbs tab ret esc space up down left right";
const char* const stickersShown = "picker stickers 2 | picker show";
const char* const gifsShown = "picker remote /gif | gif search /gif | picker show";

const QList<Script> commands{
    // Which command opens where.
    {"StickerInCapitals", "<app:signal>/STICKER ", "........S", stickersShown, "stickers 8 ''", pickerGrabs},
    {"SwitchedOff", "<app:signal>/sticker /gif ", "", "", "idle", "",
     [](Harness& h) {
         h.settings.setStickerCommandEnabled(false), h.settings.setGiphyCommandEnabled(false);
     }},
    {"NoGifClient", "<app:signal>/gif ", "", "", "idle", "", nullptr, false},
    // Not a command: a longer word, an accent, another application, an application switch meanwhile.
    {"NotACommand",
     "<app:signal>/stickers /gi{\u0301}f <app:other>/stick<app:signal>er /stick<app:other>er<app:signal> "
     "<app:org.gnome.TextEditor>/sticker /gif ",
     "", "", "idle", ""},
    {"SecondSlashStartsAgain", "<app:signal>/gi/gif ", ".......S", gifsShown, "gifs 4 ''"},
    {"AfterAWord", "<app:signal>x/gif ", ".....S", gifsShown, "gifs 4 ''"},
    {"BackspaceEditsTheCommand", "<app:signal>/stic<bs>cker ", "..........S", stickersShown},
    {"OtherKeysClicksAndSwitchesAbandonIt",
     "<app:signal>/gif<left> /gif<tab> /gif<ret> /gif<esc> /gif<wbs> /gif<mod> /gif<click> /gif<cancel> "
     "/gif<ungrabbed> ",
     "", "", "idle", ""},
    // Picking.
    {"PickedSticker", "<app:signal>/sticker <select:0><ret><spick:0>:<fetched><done>", "........SS.",
     "picker stickers 2 | picker show | picker pick parrot | fetch parrot | record parrot | sticker f.webp "
     "animated 8",
     "idle"},
    {"PickedGifIsNotCounted", "<app:signal>/gif <spick:1><fetched>", "....S",
     "picker remote /gif | gif search /gif | picker show | fetch wave | sticker f.webp still 4", "inserting"},
    {"UnobtainableFile", "<app:signal>/sticker <spick:0><nofile>:", "........S.",
     "picker stickers 2 | picker show | fetch parrot | record parrot", "token :"},
    // The open picker and browser take the keys and keep open on a click, even when switched off
    // meanwhile; Tab picks only in the picker.
    {"PickerRouting",
     "<app:signal>/sticker <click><off>big party  <wbs>pa<bs><ret><tab><left><right><up><down><mod>"
     "<select:0><ret><tab>",
     "........S.SSSSSSSSSSSSSSSSSSSSS.SS",
     "picker stickers 2 | picker show | picker refresh | picker move l | picker move r | picker move u | "
     "picker move d | picker pick parrot | picker pick parrot",
     "stickers 8 'big p'", pickerGrabs},
    {"BrowserRouting",
     "::<click><off>big party  <wbs>pa<bs><ret><left><right><up><down><mod><tab><select:0><ret><tab>",
     ".S.SSSSSSSSSSSSSSSSSSSS..S.",
     "browser show 9 | browser refresh | browser move l | browser move r | browser move u | browser move d | "
     "browser pick 😄",
     "browser 'big p'"},
    // The command stays typed until the picker is dismissed, then goes a moment later.
    {"DismissalErasesTheSticker", "<app:signal>/sticker <esc><wait>", "........SS",
     "picker stickers 2 | picker show | picker close | backspace 8"},
    {"NoEraseInAnotherApp", "<app:signal>/sticker <esc><app:other><wait>", "........SS",
     "picker stickers 2 | picker show | picker close"},
    {"CancelDoesNotErase", "<app:signal>/sticker <cancel><wait>", "........S",
     "picker stickers 2 | picker show | picker orderOut", "idle", "",
     [](Harness& h) { h.picker.dismissOnOrderOut = true; }},
};

class Coordinator : public ::testing::TestWithParam<Script> {};

TEST_P(Coordinator, Script) {
    const QStringList found = differences(GetParam());
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();
}

const auto scriptName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Typing, Coordinator, ::testing::ValuesIn(typing), scriptName);
INSTANTIATE_TEST_SUITE_P(Commands, Coordinator, ::testing::ValuesIn(commands), scriptName);

} // namespace

// Slash commands, the picker and browser routing, delayed work and callbacks that outlive the
// coordinator.

#include "tests/engine/coordinator_fakes.h"

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::fakes;

namespace {

const auto stickerOff = [](Harness& h) { h.settings.setStickerCommandEnabled(false); };
const char* const pickerGrabs = "text bs wbs tab ret esc space up down left right";
const char* const stickersShown = "picker stickers 2 | picker show";
const char* const gifsShown = "picker remote /gif | gif search /gif | picker show";

const QList<Script> commands{
    // Which command opens where.
    {"Sticker", "<app:signal>/sticker ", "........S", stickersShown, "stickers 8 ''", pickerGrabs},
    {"GifFirstWhenBothEnabled", "<app:signal>/gif ", "....S", gifsShown, "gifs 4 ''"},
    {"GifAlone", "<app:signal>/gif ", "....S", gifsShown, "gifs 4 ''", nullptr, stickerOff},
    {"UngrabbedConfirmingSpaceIsTyped", "<app:signal>/gif<ungrabbed> ", ".....", "", "idle", ""},
    {"StickerSwitchedOff", "<app:signal>/sticker ", ".........", "", "idle", "", stickerOff},
    {"GifSwitchedOff", "<app:signal>/gif ", ".....", "", "idle", "",
     [](Harness& h) { h.settings.setGiphyCommandEnabled(false); }},
    {"CapitalsMatch", "<app:signal>/STICKER ", "........S", stickersShown, "stickers 8 ''"},
    {"SecondMessagingApp", "<app:org.telegram.desktop>/gif ", "....S", gifsShown, "gifs 4 ''"},
    {"CompleteCommandGrabsSpace", "<app:signal>/gif", "....", "", "idle", "space"},
    {"NoGifSearch", "<app:signal>/gif ", ".....", "", "idle", "", nullptr, {true, false}},
    {"NoStickerServices", "<app:signal>/sticker /gif ", "..............", "", "idle", "", nullptr, {false}},
    {"OtherApp", "<app:org.gnome.TextEditor>/sticker /gif ", "..............", "", "idle", ""},
    {"NoApp", "<app:none>/sticker /gif ", "..............", "", "idle", ""},
    {"LongerWord", "<app:signal>/stickers ", "..........", "", "idle", ""},
    {"FedOnlyInMessagingApps", "<app:other>/stick<app:signal>er ", ".........", "", "idle"},
    {"SwitchingAppsForgets", "<app:signal>/stick<app:other>er<app:signal> ", ".........", "", "idle"},
    {"BackspaceEditsTheCommand", "<app:signal>/stic<bs>cker ", "..........S", stickersShown},
    {"OtherKeysAbandonIt", "<app:signal>/gif<left> /gif<tab> /gif<ret> /gif<esc> /gif<wbs> /gif<mod> ",
     "....................................", "", "idle", ""},
    {"ClickAbandonsIt", "<app:signal>/gif<click> ", "......", "", "idle"},
    {"AppSwitchAbandonsIt", "<app:signal>/gif<cancel> ", ".....", "", "idle"},
    // Picking.
    {"PickedSticker", "<app:signal>/sticker <select:0><ret><spick:0>:<fetched><done>", "........SS.",
     "picker stickers 2 | picker show | picker pick parrot | fetch parrot | sticker used parrot | sticker "
     "f.webp animated 8",
     "idle"},
    {"PickedGifIsNotCounted", "<app:signal>/gif <spick:1><fetched>", "....S",
     "picker remote /gif | gif search /gif | picker show | fetch wave | sticker f.webp still 4", "inserting"},
    {"UnobtainableFile", "<app:signal>/sticker <spick:0><nofile>:", "........S.",
     "picker stickers 2 | picker show | fetch parrot | sticker used parrot", "token :"},
    // The open picker and browser take the keys, even when switched off meanwhile.
    {"PickerRouting",
     "<app:signal>/sticker <off>big party  <wbs>pa<bs><ret><tab><left><right><up><down><mod>",
     "........SSSSSSSSSSSSSSSSSSSSSS.",
     "picker stickers 2 | picker show | picker refresh | picker move l | picker move r | picker move u | "
     "picker move d",
     "stickers 8 'big p'", pickerGrabs},
    {"PickerPicks", "<app:signal>/sticker <select:0><tab><ret><esc>", "........SSSS",
     "picker stickers 2 | picker show | picker pick parrot | picker pick parrot | picker close", "idle"},
    {"BrowserRouting", "::<off>big party  <wbs>pa<bs><ret><left><right><up><down><mod><tab>",
     ".SSSSSSSSSSSSSSSSSSSSS..",
     "browser show 8 | browser refresh | browser move l | browser move r | browser move u | browser move d",
     "browser 'big p'"},
    {"BrowserPicks", "::<select:0><ret>", ".SS", "browser show 8 | browser pick 😄", "browser ''"},
    {"ClicksKeepThePicker", "<app:signal>/sticker <click>", "........S.", stickersShown, "stickers 8 ''"},
    {"ClicksKeepTheBrowser", "::<click>", ".S.", "browser show 8", "browser ''"},
    // The command stays typed until the picker is dismissed, then goes a moment later.
    {"DismissalErasesLater", "<app:signal>/sticker <esc> ", "........SS.",
     "picker stickers 2 | picker show | picker close", "idle", ""},
    {"DismissalErasesTheSticker", "<app:signal>/sticker <esc><wait>", "........SS",
     "picker stickers 2 | picker show | picker close | backspace 8"},
    {"DismissalErasesTheGif", "<app:signal>/gif <esc><wait>", "....SS",
     "picker remote /gif | gif search /gif | picker show | picker close | backspace 4"},
    {"NoEraseInAnotherApp", "<app:signal>/sticker <esc><app:other><wait>", "........SS",
     "picker stickers 2 | picker show | picker close"},
    {"CancelDoesNotErase", "<app:signal>/sticker <cancel><wait>", "........S",
     "picker stickers 2 | picker show | picker orderOut", "idle", "",
     [](Harness& h) { h.picker.dismissOnOrderOut = true; }},
    // Callbacks, completions and timers that outlive the coordinator.
    {"GoneWhileInserting", ":smi<tab><gone>", "....S", "insert 4 😄 | record 😄", "gone"},
    {"GoneWhileFetching", "<app:signal>/sticker <spick:0><gone>", "........S",
     "picker stickers 2 | picker show | fetch parrot | sticker used parrot", "gone"},
    {"GoneWhileInsertingASticker", "<app:signal>/sticker <spick:0><fetched><gone>", "........S",
     "picker stickers 2 | picker show | fetch parrot | sticker used parrot | sticker f.webp animated 8",
     "gone"},
    {"GoneBeforeTheErase", "<app:signal>/sticker <esc><gone>", "........SS",
     "picker stickers 2 | picker show | picker close", "gone"},
};

class CoordinatorCommands : public ::testing::TestWithParam<Script> {};

TEST_P(CoordinatorCommands, Script) {
    const QStringList found = differences(GetParam());
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Coordinator, CoordinatorCommands, ::testing::ValuesIn(commands),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

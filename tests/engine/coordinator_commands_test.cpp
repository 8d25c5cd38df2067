// Slash commands, the picker and browser routing, delayed work and callbacks that outlive the
// coordinator.

#include "tests/engine/coordinator_fakes.h"

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::fakes;

namespace {

std::string str(const QString& s) {
    return s.toStdString();
}

const QUrl parrotFile = QUrl::fromLocalFile(QStringLiteral("/tmp/stickers/party-parrot.webp"));

class CoordinatorCommands : public ::testing::Test {
protected:
    void SetUp() override { h.frontmost.appId = messagingApp; }
    void TearDown() override {
        EXPECT_TRUE(h.violations.isEmpty()) << str(h.violations.join(QLatin1Char('\n')));
    }

    void openStickerPicker() {
        EXPECT_EQ(h.type(QStringLiteral("/sticker")), QList<bool>(8, false));
        ASSERT_TRUE(h.press(KeyAction::space));
        ASSERT_TRUE(h.c().isStickerSearchActive());
    }
    void openGifPicker() {
        EXPECT_EQ(h.type(QStringLiteral("/gif")), QList<bool>(4, false));
        ASSERT_TRUE(h.press(KeyAction::space));
        ASSERT_TRUE(h.c().isStickerSearchActive());
    }

    Harness h;
};

// ---- Recognising the commands ---------------------------------------------------------------

TEST_F(CoordinatorCommands, StickerCommandOpensThePickerAndOnlyTheSpaceIsWithheld) {
    h.settings.setShowImmediatelyAfterColon(true);
    openStickerPicker();
    EXPECT_EQ(h.picker.pickerModel.log, QStringList{QStringLiteral("loadStickers 2")});
    EXPECT_EQ(h.picker.log, QStringList{QStringLiteral("show")});
    EXPECT_EQ(h.c().pendingCommandLength(), 8);
    EXPECT_FALSE(h.c().isGiphyActive());
    EXPECT_TRUE(h.stickerDetector.buffer().isEmpty());
    EXPECT_TRUE(h.giphyDetector.buffer().isEmpty());
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());
}

TEST_F(CoordinatorCommands, GifCommandOpensTheRemotePicker) {
    openGifPicker();
    EXPECT_EQ(h.picker.pickerModel.log, QStringList{QStringLiteral("loadRemote /gif")});
    EXPECT_EQ(h.picker.log, QStringList{QStringLiteral("show")});
    EXPECT_EQ(h.c().pendingCommandLength(), 4);
    EXPECT_TRUE(h.c().isGiphyActive());
    // The picker searches through the function the coordinator was given.
    ASSERT_TRUE(bool(h.picker.pickerModel.remoteSearch));
    h.picker.pickerModel.remoteSearch(QStringLiteral("cats"), [](const QList<StickerEntry>&) {});
    EXPECT_EQ(h.giphyQueries, QStringList{QStringLiteral("cats")});
}

struct AvailabilityCase {
    const char* name;
    HarnessOptions options;
    bool stickerEnabled;
    bool giphyEnabled;
    std::optional<QString> app;
    const char* typed;
    bool opens;
    bool giphy;
};

class CommandAvailability : public ::testing::TestWithParam<AvailabilityCase> {};

TEST_P(CommandAvailability, OpensOnlyWhenUsableInAMessagingApp) {
    const AvailabilityCase& c = GetParam();
    Harness h(c.options);
    h.settings.setStickerCommandEnabled(c.stickerEnabled);
    h.settings.setGiphyCommandEnabled(c.giphyEnabled);
    h.frontmost.appId = c.app;

    const QString typed = QString::fromUtf8(c.typed);
    EXPECT_EQ(h.type(typed), QList<bool>(typed.size(), false));
    EXPECT_EQ(h.press(KeyAction::space), c.opens);
    EXPECT_EQ(h.c().isStickerSearchActive(), c.opens);
    EXPECT_EQ(h.picker.visible, c.opens);
    if (c.opens)
        EXPECT_EQ(h.c().isGiphyActive(), c.giphy);
    else
        EXPECT_TRUE(h.picker.pickerModel.log.isEmpty());
    EXPECT_TRUE(h.violations.isEmpty()) << str(h.violations.join(QLatin1Char('\n')));
}

const std::optional<QString> otherApp = QStringLiteral("org.gnome.TextEditor");

INSTANTIATE_TEST_SUITE_P(
    Coordinator, CommandAvailability,
    ::testing::Values(
        AvailabilityCase{"Sticker", {}, true, true, messagingApp, "/sticker", true, false},
        AvailabilityCase{"GifFirstWhenBothEnabled", {}, true, true, messagingApp, "/gif", true, true},
        AvailabilityCase{"GifWithoutStickerCommand", {}, false, true, messagingApp, "/gif", true, true},
        AvailabilityCase{"CapitalsMatch", {}, true, true, messagingApp, "/STICKER", true, false},
        AvailabilityCase{
            "SecondMessagingApp", {}, true, true, QStringLiteral("org.telegram.desktop"), "/gif", true, true},
        AvailabilityCase{"GifWithoutSearch", {true, false}, true, true, messagingApp, "/gif", false, false},
        AvailabilityCase{
            "StickerWithoutServices", {false, false}, true, true, messagingApp, "/sticker", false, false},
        AvailabilityCase{"GifWithoutServices", {false, true}, true, true, messagingApp, "/gif", false, false},
        AvailabilityCase{"StickerSwitchedOff", {}, false, true, messagingApp, "/sticker", false, false},
        AvailabilityCase{"GifSwitchedOff", {}, true, false, messagingApp, "/gif", false, false},
        AvailabilityCase{"OtherApp", {}, true, true, otherApp, "/sticker", false, false},
        AvailabilityCase{"NoApp", {}, true, true, std::nullopt, "/gif", false, false},
        AvailabilityCase{"LongerWord", {}, true, true, messagingApp, "/stickers", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoordinatorCommands, DetectorsStayEmptyOutsideMessagingApps) {
    h.frontmost.appId = otherApp;
    h.type(QStringLiteral("/stick"));
    EXPECT_TRUE(h.stickerDetector.buffer().isEmpty());
    h.frontmost.appId = messagingApp;
    h.type(QStringLiteral("/stick"));
    EXPECT_EQ(h.stickerDetector.buffer(), QStringLiteral("/stick"));
    h.frontmost.appId = otherApp;
    h.type(QStringLiteral("er"));
    EXPECT_TRUE(h.stickerDetector.buffer().isEmpty());
    EXPECT_FALSE(h.press(KeyAction::space));
}

TEST_F(CoordinatorCommands, BackspaceEditsTheCommandAndOtherKeysAbandonIt) {
    h.type(QStringLiteral("/stic"));
    EXPECT_FALSE(h.press(KeyAction::backspace));
    h.type(QStringLiteral("cker"));
    EXPECT_TRUE(h.c().swallowableKeys().contains(KeyAction::space));
    EXPECT_TRUE(h.press(KeyAction::space));
    h.c().cancel();
    h.checkAnnounced(QStringLiteral("cancel()"));

    for (KeyAction abandon : {KeyAction::left, KeyAction::tab, KeyAction::returnKey, KeyAction::escape,
                              KeyAction::wordBackspace, KeyAction::modified}) {
        h.type(QStringLiteral(" /gif"));
        ASSERT_TRUE(h.giphyDetector.isMatched());
        EXPECT_FALSE(h.press(abandon));
        EXPECT_FALSE(h.giphyDetector.isMatched());
        EXPECT_FALSE(h.c().swallowableKeys().contains(KeyAction::space));
        EXPECT_FALSE(h.press(KeyAction::space));
        EXPECT_FALSE(h.c().isStickerSearchActive());
    }
}

TEST_F(CoordinatorCommands, ClickOrAppSwitchAbandonsACompleteCommand) {
    h.type(QStringLiteral("/gif"));
    EXPECT_FALSE(h.click(QPoint(5, 5)));
    EXPECT_FALSE(h.press(KeyAction::space));

    h.type(QStringLiteral("/gif"));
    h.c().cancel(); // another application became active
    h.checkAnnounced(QStringLiteral("cancel()"));
    EXPECT_FALSE(h.press(KeyAction::space));
    EXPECT_FALSE(h.c().isStickerSearchActive());
}

// ---- Picking --------------------------------------------------------------------------------

TEST_F(CoordinatorCommands, PickedStickerIsCountedFetchedAndReplacesTheCommand) {
    openStickerPicker();
    const StickerEntry parrot = h.stickers.catalogue.front();
    h.picker.pickerModel.selected = parrot;
    EXPECT_TRUE(h.press(KeyAction::returnKey));
    EXPECT_EQ(h.picker.pickerModel.log.last(), QStringLiteral("pick party-parrot"));

    h.from(QStringLiteral("picker onPick"), [&] { h.picker.callbacks.onPick(parrot); });
    EXPECT_FALSE(h.c().isStickerSearchActive());
    EXPECT_TRUE(h.c().isInserting());
    EXPECT_EQ(h.stickers.used, QStringList{QStringLiteral("party-parrot")});
    EXPECT_EQ(h.stickers.fetched, QStringList{QStringLiteral("party-parrot")});
    EXPECT_TRUE(h.stickerInserter.calls.isEmpty()); // not before the file is there
    EXPECT_FALSE(h.key(QStringLiteral("a")));       // keys pass while inserting

    h.from(QStringLiteral("fetch"), [&] { h.stickers.completeFetch(parrotFile); });
    EXPECT_EQ(h.stickerInserter.calls, (QList<FakeStickerInserter::Call>{{parrotFile, true, 8}}));
    EXPECT_TRUE(h.c().isInserting());
    h.from(QStringLiteral("insertion"), [&] { h.stickerInserter.complete(); });
    EXPECT_FALSE(h.c().isInserting());
}

TEST_F(CoordinatorCommands, PickedGifIsNotCountedAndErasesTheShorterCommand) {
    openGifPicker();
    StickerEntry gif = makeSticker(QStringLiteral("giphy-123"));
    gif.isAnimated = false;
    h.from(QStringLiteral("picker onPick"), [&] { h.picker.callbacks.onPick(gif); });
    EXPECT_TRUE(h.stickers.used.isEmpty());
    h.from(QStringLiteral("fetch"), [&] { h.stickers.completeFetch(parrotFile); });
    EXPECT_EQ(h.stickerInserter.calls, (QList<FakeStickerInserter::Call>{{parrotFile, false, 4}}));
}

TEST_F(CoordinatorCommands, UnobtainableFileEndsTheInsertionQuietly) {
    openStickerPicker();
    h.from(QStringLiteral("picker onPick"), [&] { h.picker.callbacks.onPick(h.stickers.catalogue.front()); });
    h.from(QStringLiteral("failed fetch"), [&] { h.stickers.completeFetch(std::nullopt); });
    EXPECT_FALSE(h.c().isInserting());
    EXPECT_TRUE(h.stickerInserter.calls.isEmpty());
    EXPECT_TRUE(h.backspaces.presses.isEmpty());
}

// ---- Routing while a panel has the keys -----------------------------------------------------

struct RouteCase {
    const char* name;
    KeyAction action;
    bool swallowed;
    QStringList log; // calls on the panel's model
    const char* text = "";
    const char* queryBefore = "";
    bool withSelection = false;
};

// MoveDirection order: left 0, right 1, up 2, down 3.
const QList<RouteCase> sharedRoutes{
    {"Backspace", KeyAction::backspace, true, {"deleteBackward"}},
    {"WordBackspace", KeyAction::wordBackspace, true, {"query 'party '", "refresh"}, "", "party par"},
    {"WordBackspaceTrailingSpaces",
     KeyAction::wordBackspace,
     true,
     {"query 'big '", "refresh"},
     "",
     "big party  "},
    {"WordBackspaceOneWord", KeyAction::wordBackspace, true, {"query ''", "refresh"}, "", "party"},
    {"ReturnWithoutSelection", KeyAction::returnKey, true, {}},
    {"Escape", KeyAction::escape, true, {"close"}},
    {"Space", KeyAction::space, true, {"append ' '"}},
    {"Left", KeyAction::left, true, {"move 0"}},
    {"Right", KeyAction::right, true, {"move 1"}},
    {"Up", KeyAction::up, true, {"move 2"}},
    {"Down", KeyAction::down, true, {"move 3"}},
    {"Modified", KeyAction::modified, false, {}},
    {"Text", KeyAction::text, true, {"append 'p'"}, "p"},
};

QList<RouteCase> pickerRoutes() {
    return sharedRoutes +
           QList<RouteCase>{
               {"ReturnPicks", KeyAction::returnKey, true, {"pick party-parrot"}, "", "", true},
               {"TabPicks", KeyAction::tab, true, {"pick party-parrot"}, "", "", true},
               {"TabWithoutSelection", KeyAction::tab, true, {}},
           };
}

QList<RouteCase> browserRoutes() {
    return sharedRoutes + QList<RouteCase>{
                              {"ReturnPicks", KeyAction::returnKey, true, {"pick 😄"}, "", "", true},
                              {"TabPasses", KeyAction::tab, false, {}, "", "", true},
                          };
}

class PickerRouting : public CoordinatorCommands, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(PickerRouting, AppliesTheKeyToThePickerModel) {
    const RouteCase& c = GetParam();
    openStickerPicker();
    h.picker.pickerModel.log.clear();
    h.picker.pickerModel.currentQuery = QString::fromUtf8(c.queryBefore);
    if (c.withSelection)
        h.picker.pickerModel.selected = h.stickers.catalogue.front();
    // Once open, the picker has the keys even when the feature is switched off.
    h.settings.setEnabled(false);
    EXPECT_EQ(h.send(InputEvent::keyDown(c.action, QString::fromUtf8(c.text))), c.swallowed);
    EXPECT_EQ(h.picker.pickerModel.log, c.log);
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());
}

INSTANTIATE_TEST_SUITE_P(Coordinator, PickerRouting, ::testing::ValuesIn(pickerRoutes()),
                         [](const auto& info) { return std::string(info.param.name); });

class BrowserRouting : public CoordinatorCommands, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(BrowserRouting, AppliesTheKeyToTheBrowserModel) {
    const RouteCase& c = GetParam();
    EXPECT_EQ(h.type(QStringLiteral("::")), (QList<bool>{false, true}));
    ASSERT_TRUE(h.c().isBrowserActive());
    h.browser.browserModel.currentQuery = QString::fromUtf8(c.queryBefore);
    if (c.withSelection)
        h.browser.browserModel.selected = h.store.entries().front();
    h.settings.setEnabled(false);
    EXPECT_EQ(h.send(InputEvent::keyDown(c.action, QString::fromUtf8(c.text))), c.swallowed);
    EXPECT_EQ(h.browser.browserModel.log, c.log);
    EXPECT_TRUE(h.picker.pickerModel.log.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Coordinator, BrowserRouting, ::testing::ValuesIn(browserRoutes()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoordinatorCommands, ClicksDoNotCloseAnOpenPanel) {
    openStickerPicker();
    EXPECT_FALSE(h.click(QPoint(5, 5)));
    EXPECT_TRUE(h.c().isStickerSearchActive());
    EXPECT_FALSE(h.picker.log.contains(QStringLiteral("orderOut")));
    h.press(KeyAction::escape);

    h.type(QStringLiteral(" ::"));
    ASSERT_TRUE(h.c().isBrowserActive());
    EXPECT_FALSE(h.click(QPoint(5, 5)));
    EXPECT_TRUE(h.c().isBrowserActive());
}

// ---- Erase after a dismissal ----------------------------------------------------------------

TEST_F(CoordinatorCommands, DismissalErasesTheCommandAfterADelay) {
    openStickerPicker();
    EXPECT_TRUE(h.press(KeyAction::escape));
    EXPECT_FALSE(h.c().isStickerSearchActive());
    EXPECT_TRUE(h.backspaces.presses.isEmpty()); // not at once: the target gets its focus back first
    EXPECT_TRUE(waitUntil([&] { return !h.backspaces.presses.isEmpty(); }, 3000));
    EXPECT_EQ(h.backspaces.presses, QList<int>{8});

    h.backspaces.presses.clear();
    h.type(QStringLiteral(" "));
    openGifPicker();
    h.press(KeyAction::escape);
    EXPECT_TRUE(waitUntil([&] { return !h.backspaces.presses.isEmpty(); }, 3000));
    EXPECT_EQ(h.backspaces.presses, QList<int>{4});
}

TEST_F(CoordinatorCommands, DismissalEraseIsSkippedWhenAnotherAppIsFrontmost) {
    openStickerPicker();
    h.press(KeyAction::escape);
    h.frontmost.appId = otherApp;
    spin(400);
    EXPECT_TRUE(h.backspaces.presses.isEmpty());
}

TEST_F(CoordinatorCommands, CancelClosesThePickerWithoutErasing) {
    h.picker.dismissOnOrderOut = true; // even if closing the window reports a dismissal
    openStickerPicker();
    h.c().cancel();
    h.checkAnnounced(QStringLiteral("cancel()"));
    EXPECT_FALSE(h.c().isStickerSearchActive());
    EXPECT_EQ(h.picker.log.last(), QStringLiteral("orderOut"));
    spin(400);
    EXPECT_TRUE(h.backspaces.presses.isEmpty());
    EXPECT_TRUE(h.c().swallowableKeys().isEmpty());
}

// ---- After the coordinator is gone ----------------------------------------------------------

TEST_F(CoordinatorCommands, StaleCallbacksAndCompletionsDoNothing) {
    h.frontmost.appId = otherApp;
    h.type(QStringLiteral(":smi"));
    ASSERT_TRUE(h.c().isPanelActive());
    EXPECT_TRUE(h.press(KeyAction::tab)); // an insertion is in flight
    const SuggestionCallbacks popover = h.suggestions.callbacks;
    const EmojiBrowserCallbacks browser = h.browser.callbacks;
    const StickerPickerCallbacks picker = h.picker.callbacks;
    const QStringList popoverLog = h.suggestions.log;

    h.coordinator.reset();
    popover.onPick(0);
    popover.onHover(1);
    popover.onPickTone(2);
    browser.onPick(h.store.entries().front());
    browser.onDismiss();
    picker.onPick(h.stickers.catalogue.front());
    picker.onDismiss();
    h.inserter.complete();
    spin(300);

    EXPECT_EQ(h.suggestions.log, popoverLog);
    EXPECT_EQ(h.inserter.calls.size(), 1);
    EXPECT_TRUE(h.stickers.fetched.isEmpty());
    EXPECT_TRUE(h.stickers.used.isEmpty());
    EXPECT_TRUE(h.backspaces.presses.isEmpty());
    EXPECT_EQ(h.settings.skinTone(), SkinTone::yellow);
}

TEST_F(CoordinatorCommands, PendingWorkIsDroppedWithTheCoordinator) {
    openStickerPicker();
    h.from(QStringLiteral("picker onPick"), [&] { h.picker.callbacks.onPick(h.stickers.catalogue.front()); });
    h.coordinator.reset();
    h.stickers.completeFetch(parrotFile);
    EXPECT_TRUE(h.stickerInserter.calls.isEmpty());

    Harness second;
    second.frontmost.appId = messagingApp;
    second.type(QStringLiteral("/sticker"));
    ASSERT_TRUE(second.press(KeyAction::space));
    second.from(QStringLiteral("picker onPick"),
                [&] { second.picker.callbacks.onPick(second.stickers.catalogue.front()); });
    second.stickers.completeFetch(parrotFile);
    ASSERT_EQ(second.stickerInserter.calls.size(), 1);
    second.coordinator.reset();
    second.stickerInserter.complete();

    Harness third;
    third.frontmost.appId = messagingApp;
    third.type(QStringLiteral("/sticker"));
    ASSERT_TRUE(third.press(KeyAction::space));
    third.press(KeyAction::escape); // the erase is now scheduled
    third.coordinator.reset();
    spin(400);
    EXPECT_TRUE(third.backspaces.presses.isEmpty());
    EXPECT_TRUE(second.violations.isEmpty() && third.violations.isEmpty());
}

} // namespace

// Typing shortcodes: suggestions, acceptance, tones, the trigger rules and the silences.

#include "tests/engine/coordinator_fakes.h"

#include <gtest/gtest.h>

using namespace pimsel;
using namespace pimsel::fakes;

namespace {

std::string str(const QString& s) {
    return s.toStdString();
}

class CoordinatorTyping : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(h.violations.isEmpty()) << str(h.violations.join(QLatin1Char('\n')));
    }

    // ":smi" shows 😄 😃 😺 (smile, smiley, smiley_cat by prefix length) until a use reorders them.
    void openSmi() {
        EXPECT_EQ(h.type(QStringLiteral(":smi")), QList<bool>(4, false));
        ASSERT_TRUE(h.c().isPanelActive());
        ASSERT_EQ(h.c().results().size(), 3);
    }

    Harness h;
};

// ---- Acceptance keys ------------------------------------------------------------------------

struct AcceptCase {
    const char* name;
    KeyAction key;
    bool settingOn;
    bool swallowed;
    bool inserts;
    bool popoverStays;
};

class AcceptanceKeys : public CoordinatorTyping, public ::testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptanceKeys, FollowTheirSetting) {
    const AcceptCase& c = GetParam();
    if (c.key == KeyAction::tab)
        h.settings.setAcceptWithTab(c.settingOn);
    else
        h.settings.setAcceptWithReturn(c.settingOn);
    openSmi();

    EXPECT_EQ(h.press(c.key), c.swallowed);
    EXPECT_EQ(h.c().isPanelActive(), c.popoverStays);
    EXPECT_EQ(h.suggestions.visible, c.popoverStays);
    if (c.inserts) {
        // ":smi" is four characters; the top row is inserted and counted once.
        EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{4, QStringLiteral("😄")}}));
        EXPECT_EQ(h.store.recorded, QStringList{QStringLiteral("😄")});
        EXPECT_EQ(h.store.useCount(QStringLiteral("😄")), 1);
        EXPECT_TRUE(h.c().isInserting());
        EXPECT_FALSE(h.isTokenOpen());
    } else {
        EXPECT_TRUE(h.inserter.calls.isEmpty());
        EXPECT_TRUE(h.store.recorded.isEmpty());
        EXPECT_FALSE(h.c().isInserting());
        EXPECT_EQ(h.isTokenOpen(), c.popoverStays);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Coordinator, AcceptanceKeys,
    ::testing::Values(AcceptCase{"TabOn", KeyAction::tab, true, true, true, false},
                      AcceptCase{"TabOffKeepsPopover", KeyAction::tab, false, false, false, true},
                      AcceptCase{"ReturnOn", KeyAction::returnKey, true, true, true, false},
                      AcceptCase{"ReturnOffCloses", KeyAction::returnKey, false, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoordinatorTyping, TabAndReturnPassUntouchedWhileThePopoverIsHidden) {
    EXPECT_FALSE(h.key(QStringLiteral(":"))); // empty query, nothing shown
    ASSERT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.press(KeyAction::tab));
    EXPECT_FALSE(h.press(KeyAction::returnKey));
    EXPECT_TRUE(h.isTokenOpen());
    EXPECT_TRUE(h.inserter.calls.isEmpty());
}

TEST_F(CoordinatorTyping, PopoverFollowsTheCaretAndShowsTheTrigger) {
    h.focus.caret = QRect(10, 20, 2, 18);
    openSmi();
    EXPECT_EQ(h.suggestions.anchorShown, QRect(10, 20, 2, 18));
    EXPECT_EQ(h.suggestions.triggerShown, QStringLiteral(":"));
    const qsizetype shows = h.suggestions.log.filter(QStringLiteral("show")).size();
    h.focus.caret.reset();
    EXPECT_FALSE(h.key(QStringLiteral("l")));
    EXPECT_EQ(h.suggestions.log.filter(QStringLiteral("show")).size(), shows + 1);
    EXPECT_EQ(h.suggestions.anchorShown, std::nullopt);
}

TEST_F(CoordinatorTyping, BackspaceFollowsTheTokenAndIsNeverSwallowed) {
    openSmi();
    h.type(QStringLiteral("ley"));
    // smiley exactly, smiley_cat by prefix, then 😄 by its name ("...smiling_eyes").
    EXPECT_EQ(joined(h.c().results()), QStringLiteral("😃 😺 😄"));
    EXPECT_FALSE(h.press(KeyAction::backspace));
    EXPECT_EQ(joined(h.c().results()), QStringLiteral("😄 😃 😺"));
    EXPECT_EQ(h.c().currentToken(), (ColonToken{QStringLiteral(":smile"), QStringLiteral("smile")}));
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(h.press(KeyAction::backspace));
    EXPECT_FALSE(h.c().isPanelActive()); // ":" alone shows nothing by default
    EXPECT_TRUE(h.isTokenOpen());
    EXPECT_FALSE(h.press(KeyAction::backspace));
    EXPECT_FALSE(h.isTokenOpen());
}

// ---- Trigger rules --------------------------------------------------------------------------

TEST_F(CoordinatorTyping, ClosingTriggerReplacesAnExactShortcode) {
    EXPECT_EQ(h.type(QStringLiteral(":tada")), QList<bool>(5, false));
    EXPECT_TRUE(h.key(QStringLiteral(":")));
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{5, QStringLiteral("🎉")}}));
    EXPECT_EQ(h.store.recorded, QStringList{QStringLiteral("🎉")});
    EXPECT_FALSE(h.isTokenOpen());
    EXPECT_FALSE(h.c().isPanelActive());
}

TEST_F(CoordinatorTyping, ClosingTriggerWithoutExactMatchIsTypedAndOpensANewToken) {
    h.type(QStringLiteral(":tad"));
    EXPECT_FALSE(h.key(QStringLiteral(":")));
    EXPECT_TRUE(h.inserter.calls.isEmpty());
    EXPECT_EQ(h.tokenBuffer.currentToken(), (ColonToken{QStringLiteral(":"), QString()}));
}

TEST_F(CoordinatorTyping, ClosingTriggerIsTypedWhenTheRuleIsOff) {
    h.settings.setReplaceOnClosingColon(false);
    h.type(QStringLiteral(":tada"));
    EXPECT_FALSE(h.key(QStringLiteral(":")));
    EXPECT_TRUE(h.inserter.calls.isEmpty());
    EXPECT_EQ(h.tokenBuffer.currentToken(), (ColonToken{QStringLiteral(":"), QString()}));
}

TEST_F(CoordinatorTyping, ClosingTriggerCountsCharactersNotCodeUnitsAndAppliesTheDefaultTone) {
    h.settings.setSkinTone(SkinTone::dark);
    h.type(QStringLiteral(":caf"));
    h.key(QStringLiteral("e\u0301")); // one character, two code units
    EXPECT_TRUE(h.key(QStringLiteral(":")));
    h.inserter.complete();
    h.type(QStringLiteral(" :+1"));
    EXPECT_TRUE(h.key(QStringLiteral(":")));
    EXPECT_EQ(h.inserter.calls,
              (QList<FakeInserter::Call>{{5, QStringLiteral("☕")}, {3, QStringLiteral("👍🏿")}}));
    EXPECT_EQ(h.store.recorded, (QStringList{QStringLiteral("☕"), QStringLiteral("👍")}));
}

TEST_F(CoordinatorTyping, DoubleTriggerOpensTheBrowserAndAPickErasesOneCharacter) {
    h.settings.setSkinTone(SkinTone::medium);
    EXPECT_EQ(h.type(QStringLiteral("::")), (QList<bool>{false, true}));
    EXPECT_TRUE(h.c().isBrowserActive());
    EXPECT_EQ(h.browser.showCount, 1);
    EXPECT_EQ(h.browser.shownEntries, h.store.entries());
    EXPECT_FALSE(h.isTokenOpen());

    const EmojiEntry wave = h.store.entry(QStringLiteral("👋"));
    h.from(QStringLiteral("browser pick"), [&] { h.browser.callbacks.onPick(wave); });
    EXPECT_FALSE(h.c().isBrowserActive());
    EXPECT_TRUE(h.c().isInserting());
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{1, QStringLiteral("👋🏽")}}));
    EXPECT_EQ(h.store.recorded, QStringList{QStringLiteral("👋")});
    EXPECT_EQ(h.settings.skinTone(), SkinTone::medium);
}

TEST_F(CoordinatorTyping, DismissingTheBrowserLeavesTheFirstTrigger) {
    h.type(QStringLiteral("::"));
    ASSERT_TRUE(h.c().isBrowserActive());
    EXPECT_TRUE(h.press(KeyAction::escape));
    EXPECT_EQ(h.browser.browserModel.log, QStringList{QStringLiteral("close")});
    EXPECT_FALSE(h.c().isBrowserActive());
    EXPECT_TRUE(h.inserter.calls.isEmpty());
    EXPECT_TRUE(h.backspaces.presses.isEmpty());
    // Keys reach the application again.
    EXPECT_FALSE(h.key(QStringLiteral("a")));
}

TEST_F(CoordinatorTyping, DoubleTriggerIsTypedWhenTheRuleIsOff) {
    h.settings.setOpenBrowserOnDoubleTrigger(false);
    EXPECT_EQ(h.type(QStringLiteral("::")), (QList<bool>{false, false}));
    EXPECT_EQ(h.browser.showCount, 0);
    EXPECT_EQ(h.tokenBuffer.currentToken(), (ColonToken{QStringLiteral(":"), QString()}));
}

TEST_F(CoordinatorTyping, ChangedTriggerTakesEffectAtTheNextKey) {
    h.type(QStringLiteral(":ta"));
    h.from(QStringLiteral("trigger change"), [&] { h.settings.setTriggerKey(QStringLiteral(";")); });
    EXPECT_FALSE(h.key(QStringLiteral("d")));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_EQ(h.type(QStringLiteral(" ;tada")), QList<bool>(6, false));
    EXPECT_EQ(h.suggestions.triggerShown, QStringLiteral(";"));
    EXPECT_FALSE(h.key(QStringLiteral(":"))); // ordinary text now, and not a token character
    EXPECT_FALSE(h.isTokenOpen());
    EXPECT_EQ(h.type(QStringLiteral(" ;tada")), QList<bool>(6, false));
    EXPECT_TRUE(h.key(QStringLiteral(";")));
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{5, QStringLiteral("🎉")}}));
}

// ---- Most-used list and selection -----------------------------------------------------------

TEST_F(CoordinatorTyping, BareTriggerShowsTheMostUsedOnlyWhenAskedAndWhenThereAreAny) {
    h.settings.setShowImmediatelyAfterColon(true);
    EXPECT_FALSE(h.key(QStringLiteral(":")));
    EXPECT_FALSE(h.c().isPanelActive()); // no use counts yet
    EXPECT_TRUE(h.suggestions.log.isEmpty());

    h.store.setUseCount(QStringLiteral("🎉"), 3);
    h.store.setUseCount(QStringLiteral("👋"), 1);
    h.type(QStringLiteral(" :"));
    EXPECT_TRUE(h.c().isPanelActive());
    EXPECT_EQ(joined(h.c().results()), QStringLiteral("🎉 👋"));

    h.settings.setShowImmediatelyAfterColon(false);
    h.type(QStringLiteral(" :"));
    EXPECT_FALSE(h.c().isPanelActive());
}

TEST_F(CoordinatorTyping, SelectionWrapsAtBothEnds) {
    openSmi();
    ASSERT_EQ(joined(h.c().results()), QStringLiteral("😄 😃 😺"));
    EXPECT_TRUE(h.press(KeyAction::up));
    EXPECT_EQ(h.c().selectedIndex(), 2);
    EXPECT_TRUE(h.press(KeyAction::down));
    EXPECT_EQ(h.c().selectedIndex(), 0);
    EXPECT_TRUE(h.press(KeyAction::down));
    EXPECT_EQ(h.c().selectedIndex(), 1);
    EXPECT_EQ(
        h.suggestions.log.mid(h.suggestions.log.size() - 6),
        (QStringList{QStringLiteral("select 2"), QStringLiteral("no tones"), QStringLiteral("select 0"),
                     QStringLiteral("no tones"), QStringLiteral("select 1"), QStringLiteral("no tones")}));
    EXPECT_TRUE(h.press(KeyAction::tab));
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{4, QStringLiteral("😃")}}));
}

TEST_F(CoordinatorTyping, ArrowsWithoutPopoverEndTheTokenAndPass) {
    for (KeyAction action : {KeyAction::up, KeyAction::down, KeyAction::left, KeyAction::right}) {
        h.type(QStringLiteral(" :"));
        ASSERT_TRUE(h.isTokenOpen());
        EXPECT_FALSE(h.press(action));
        EXPECT_FALSE(h.isTokenOpen());
    }
}

// ---- Tones ----------------------------------------------------------------------------------

TEST_F(CoordinatorTyping, ToneMovesClampAtBothEndsAndAreAlwaysSwallowed) {
    h.type(QStringLiteral(":wave"));
    ASSERT_EQ(joined(h.c().results()), QStringLiteral("👋"));
    EXPECT_EQ(h.suggestions.toneHighlight, 0);
    EXPECT_EQ(h.suggestions.toneVariants.size(), 6);
    EXPECT_EQ(h.c().focusedToneIndex(), std::nullopt);

    EXPECT_TRUE(h.press(KeyAction::right));
    EXPECT_EQ(h.c().focusedToneIndex(), 1);
    EXPECT_EQ(h.suggestions.toneHighlight, 1);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(h.press(KeyAction::right));
    EXPECT_EQ(h.c().focusedToneIndex(), 5);
    for (int i = 0; i < 7; ++i)
        EXPECT_TRUE(h.press(KeyAction::left));
    EXPECT_EQ(h.c().focusedToneIndex(), 0);
    EXPECT_EQ(h.suggestions.toneHighlight, 0);
    EXPECT_TRUE(h.c().isPanelActive());
}

TEST_F(CoordinatorTyping, ToneMovesStartFromTheDefaultTone) {
    h.settings.setSkinTone(SkinTone::mediumDark);
    h.type(QStringLiteral(":wave"));
    EXPECT_EQ(h.suggestions.toneHighlight, 4);
    EXPECT_TRUE(h.press(KeyAction::right));
    EXPECT_TRUE(h.press(KeyAction::right));
    EXPECT_EQ(h.c().focusedToneIndex(), 5);
}

struct ToneLessCase {
    const char* name;
    const char* typed;
    KeyAction key;
};

class ToneLessEntries : public CoordinatorTyping, public ::testing::WithParamInterface<ToneLessCase> {};

TEST_P(ToneLessEntries, LeftAndRightCloseThePopoverAndMoveTheCaret) {
    h.type(QString::fromUtf8(GetParam().typed));
    ASSERT_TRUE(h.c().isPanelActive());
    EXPECT_EQ(h.suggestions.toneHighlight, -1);
    EXPECT_FALSE(h.press(GetParam().key));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());
}

INSTANTIATE_TEST_SUITE_P(Coordinator, ToneLessEntries,
                         ::testing::Values(ToneLessCase{"PlainLeft", ":smi", KeyAction::left},
                                           ToneLessCase{"PlainRight", ":smi", KeyAction::right},
                                           // Claims tones but is a ZWJ sequence.
                                           ToneLessCase{"SequenceRight", ":family", KeyAction::right}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoordinatorTyping, SelectionMovesForgetTheToneChoice) {
    h.settings.setShowImmediatelyAfterColon(true);
    h.store.setUseCount(QStringLiteral("👋"), 5);
    h.store.setUseCount(QStringLiteral("🎉"), 3);
    h.key(QStringLiteral(":"));
    ASSERT_EQ(joined(h.c().results()), QStringLiteral("👋 🎉"));
    EXPECT_TRUE(h.press(KeyAction::right));
    EXPECT_EQ(h.c().focusedToneIndex(), 1);
    EXPECT_TRUE(h.press(KeyAction::down));
    EXPECT_EQ(h.c().focusedToneIndex(), std::nullopt);
    EXPECT_EQ(h.suggestions.toneHighlight, -1); // 🎉 has no tones
    EXPECT_TRUE(h.press(KeyAction::up));
    EXPECT_EQ(h.suggestions.toneHighlight, 0);
}

struct ToneAcceptCase {
    const char* name;
    SkinTone defaultTone;
    QList<KeyAction> moves;
    const char* inserted;
    SkinTone toneAfter;
    int settingWrites;
};

class ToneAcceptance : public CoordinatorTyping, public ::testing::WithParamInterface<ToneAcceptCase> {};

TEST_P(ToneAcceptance, OnlyAToneChosenInTheStripBecomesTheDefault) {
    const ToneAcceptCase& c = GetParam();
    h.settings.setSkinTone(c.defaultTone);
    int writes = 0;
    QObject::connect(&h.settings, &SettingsStore::skinToneChanged, [&writes] { ++writes; });
    h.type(QStringLiteral(":wave"));
    for (KeyAction move : c.moves)
        EXPECT_TRUE(h.press(move));
    EXPECT_TRUE(h.press(KeyAction::tab));
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{5, QString::fromUtf8(c.inserted)}}));
    EXPECT_EQ(h.store.recorded, QStringList{QStringLiteral("👋")}); // counted untoned
    EXPECT_EQ(h.settings.skinTone(), c.toneAfter);
    EXPECT_EQ(writes, c.settingWrites);
}

INSTANTIATE_TEST_SUITE_P(
    Coordinator, ToneAcceptance,
    ::testing::Values(
        ToneAcceptCase{"Chosen", SkinTone::yellow, {KeyAction::right}, "👋🏻", SkinTone::light, 1},
        ToneAcceptCase{"Default", SkinTone::medium, {}, "👋🏽", SkinTone::medium, 0},
        ToneAcceptCase{"ChosenEqualsDefault",
                       SkinTone::light,
                       {KeyAction::right, KeyAction::left},
                       "👋🏻",
                       SkinTone::light,
                       0},
        ToneAcceptCase{"BackToYellow",
                       SkinTone::dark,
                       {KeyAction::left, KeyAction::left, KeyAction::left, KeyAction::left, KeyAction::left},
                       "👋",
                       SkinTone::yellow,
                       1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Popover clicks -------------------------------------------------------------------------

TEST_F(CoordinatorTyping, RowAndToneClicksAccept) {
    openSmi();
    h.from(QStringLiteral("onPick 1"), [&] { h.suggestions.callbacks.onPick(1); });
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{4, QStringLiteral("😃")}}));
    h.from(QStringLiteral("completion"), [&] { h.inserter.complete(); });

    h.type(QStringLiteral(" :+"));
    ASSERT_EQ(joined(h.c().results()), QStringLiteral("👍"));
    h.from(QStringLiteral("onPickTone 3"), [&] { h.suggestions.callbacks.onPickTone(3); });
    EXPECT_EQ(h.inserter.calls.last(), (FakeInserter::Call{2, QStringLiteral("👍🏽")}));
    EXPECT_EQ(h.settings.skinTone(), SkinTone::medium);
}

TEST_F(CoordinatorTyping, OutOfRangeClicksAreIgnored) {
    openSmi();
    const QStringList logBefore = h.suggestions.log;
    for (int row : {-1, 3})
        h.from(QStringLiteral("stray row"), [&] {
            h.suggestions.callbacks.onPick(row);
            h.suggestions.callbacks.onHover(row);
        });
    for (int variant : {-1, 6})
        h.from(QStringLiteral("stray tone"), [&] { h.suggestions.callbacks.onPickTone(variant); });
    EXPECT_TRUE(h.inserter.calls.isEmpty());
    EXPECT_EQ(h.suggestions.log, logBefore);
    EXPECT_TRUE(h.c().isPanelActive());
}

TEST_F(CoordinatorTyping, ToneClickWithoutATokenCancels) {
    openSmi();
    h.press(KeyAction::escape);
    h.from(QStringLiteral("late tone click"), [&] { h.suggestions.callbacks.onPickTone(2); });
    EXPECT_TRUE(h.inserter.calls.isEmpty());
    EXPECT_EQ(h.c().focusedToneIndex(), std::nullopt);
}

TEST_F(CoordinatorTyping, HoverMovesTheHighlightAndDecidesWhetherArrowsSetTheTone) {
    h.settings.setShowImmediatelyAfterColon(true);
    h.store.setUseCount(QStringLiteral("👋"), 5);
    h.store.setUseCount(QStringLiteral("🎉"), 3);
    h.key(QStringLiteral(":"));
    EXPECT_TRUE(h.c().swallowableKeys().contains(KeyAction::left));
    h.from(QStringLiteral("hover"), [&] { h.suggestions.callbacks.onHover(1); });
    EXPECT_EQ(h.c().selectedIndex(), 1);
    EXPECT_EQ(h.suggestions.log.last(), QStringLiteral("select 1"));
    EXPECT_FALSE(h.c().swallowableKeys().contains(KeyAction::left));
    EXPECT_FALSE(h.press(KeyAction::left)); // 🎉 takes no tone: the caret moves
    EXPECT_FALSE(h.c().isPanelActive());
}

TEST_F(CoordinatorTyping, MouseDownOnThePopoverKeepsTheTokenElsewhereEndsIt) {
    openSmi();
    const QPoint onPopover = h.suggestions.geometry.center();
    EXPECT_FALSE(h.click(onPopover));
    EXPECT_TRUE(h.c().isPanelActive());
    EXPECT_TRUE(h.isTokenOpen());
    h.from(QStringLiteral("row click"), [&] { h.suggestions.callbacks.onPick(2); });
    EXPECT_EQ(h.inserter.calls, (QList<FakeInserter::Call>{{4, QStringLiteral("😺")}}));
    h.inserter.complete();

    openSmi();
    EXPECT_FALSE(h.click(QPoint(5, 5)));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());

    // Where a hidden popover would be is just somewhere else.
    h.type(QStringLiteral(" :"));
    ASSERT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.click(onPopover));
    EXPECT_FALSE(h.isTokenOpen());
}

// ---- Keys that end the token ----------------------------------------------------------------

TEST_F(CoordinatorTyping, EscapeIsSwallowedOnlyWhenItClosesThePopover) {
    openSmi();
    EXPECT_TRUE(h.press(KeyAction::escape));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.suggestions.visible);
    EXPECT_FALSE(h.isTokenOpen());

    h.type(QStringLiteral(" :"));
    ASSERT_TRUE(h.isTokenOpen());
    EXPECT_FALSE(h.press(KeyAction::escape));
    EXPECT_FALSE(h.isTokenOpen());
}

class TokenEnders : public CoordinatorTyping, public ::testing::WithParamInterface<KeyAction> {};

TEST_P(TokenEnders, EndTheTokenAndPass) {
    openSmi();
    EXPECT_FALSE(h.press(GetParam()));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());
    EXPECT_EQ(h.c().currentToken(), std::nullopt);
    EXPECT_TRUE(h.c().results().isEmpty());
    EXPECT_FALSE(h.key(QStringLiteral("l"))); // no token to extend
    EXPECT_FALSE(h.c().isPanelActive());
}

INSTANTIATE_TEST_SUITE_P(Coordinator, TokenEnders,
                         ::testing::Values(KeyAction::modified, KeyAction::wordBackspace, KeyAction::space));

TEST_F(CoordinatorTyping, NonTokenCharacterEndsTheToken) {
    openSmi();
    EXPECT_FALSE(h.key(QStringLiteral("!")));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());
}

// ---- Silences -------------------------------------------------------------------------------

struct SilenceCase {
    const char* name;
    std::function<void(Harness&)> arrange;
};

class Silences : public CoordinatorTyping, public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(Silences, NothingIsShownOrSwallowed) {
    GetParam().arrange(h);
    EXPECT_EQ(h.type(QStringLiteral(":smi")), QList<bool>(4, false));
    EXPECT_FALSE(h.press(KeyAction::tab));
    EXPECT_FALSE(h.press(KeyAction::escape));
    EXPECT_EQ(h.type(QStringLiteral(":tada:")), QList<bool>(6, false));
    EXPECT_EQ(h.type(QStringLiteral("::")), QList<bool>(2, false));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.c().isBrowserActive());
    EXPECT_EQ(h.suggestions.log.filter(QStringLiteral("show")), QStringList());
    EXPECT_TRUE(h.inserter.calls.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Coordinator, Silences,
    ::testing::Values(SilenceCase{"ExcludedApp",
                                  [](Harness& h) { h.exclusions.excludedApps << *h.frontmost.appId; }},
                      SilenceCase{"PasswordField", [](Harness& h) { h.focus.secure = true; }},
                      SilenceCase{"DisabledSite",
                                  [](Harness& h) {
                                      h.frontmost.appId = QStringLiteral("firefox-esr");
                                      h.exclusions.browsers << QStringLiteral("firefox-esr");
                                      h.focus.url = QUrl(QStringLiteral("https://www.example.com/inbox"));
                                      h.exclusions.disabledHosts << QStringLiteral("www.example.com");
                                  }},
                      SilenceCase{"SwitchedOff", [](Harness& h) { h.settings.setEnabled(false); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CoordinatorTyping, AnOpenPopoverClosesWhenTheContextTurnsSilent) {
    openSmi();
    h.focus.secure = true;
    EXPECT_FALSE(h.key(QStringLiteral("l")));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_FALSE(h.isTokenOpen());

    h.focus.secure = false;
    openSmi();
    h.exclusions.excludedApps << *h.frontmost.appId;
    EXPECT_FALSE(h.press(KeyAction::tab));
    EXPECT_FALSE(h.c().isPanelActive());
    EXPECT_TRUE(h.inserter.calls.isEmpty());
}

TEST_F(CoordinatorTyping, WebsiteRuleAsksForTheHostOnlyInBrowsersWithRules) {
    h.focus.url = QUrl(QStringLiteral("https://mail.example.org/u/0"));
    openSmi(); // not a browser: the address is never read
    EXPECT_EQ(h.focus.urlQueries, 0);
    h.press(KeyAction::escape);

    h.frontmost.appId = QStringLiteral("chromium");
    h.exclusions.browsers << QStringLiteral("chromium");
    h.exclusions.disabledHosts << QStringLiteral("www.example.com");
    openSmi(); // another host is disabled: suggestions still work
    EXPECT_GT(h.focus.urlQueries, 0);
    EXPECT_EQ(h.exclusions.hostsAsked.last(), QStringLiteral("mail.example.org"));
    h.press(KeyAction::escape);

    h.focus.url.reset();
    EXPECT_FALSE(h.key(QStringLiteral(":")));
    EXPECT_EQ(h.exclusions.hostsAsked.last(), QStringLiteral("<none>"));
}

TEST_F(CoordinatorTyping, OrdinaryTypingMakesNoAccessibilityQueries) {
    h.type(QStringLiteral("hello"));
    h.press(KeyAction::space);
    h.type(QStringLiteral("10:30 world"));
    h.press(KeyAction::backspace);
    EXPECT_EQ(h.focus.secureQueries, 1); // only for the ':' typed in "10:30"
    EXPECT_EQ(h.focus.caretQueries, 0);
    EXPECT_EQ(h.focus.urlQueries, 0);
}

TEST_F(CoordinatorTyping, KeysDuringAnInsertionPassAndStartNothing) {
    openSmi();
    EXPECT_TRUE(h.press(KeyAction::tab));
    ASSERT_TRUE(h.c().isInserting());
    EXPECT_TRUE(h.c().swallowableKeys().isEmpty());
    const int shows = h.suggestions.log.filter(QStringLiteral("show")).size();
    EXPECT_EQ(h.type(QStringLiteral(" :wave")), QList<bool>(6, false));
    EXPECT_FALSE(h.press(KeyAction::tab));
    EXPECT_FALSE(h.press(KeyAction::escape));
    EXPECT_EQ(h.type(QStringLiteral("::")), QList<bool>(2, false));
    EXPECT_FALSE(h.isTokenOpen());
    EXPECT_EQ(h.suggestions.log.filter(QStringLiteral("show")).size(), shows);
    EXPECT_EQ(h.browser.showCount, 0);

    h.from(QStringLiteral("insertion completion"), [&] { h.inserter.complete(); });
    EXPECT_FALSE(h.c().isInserting());
    h.type(QStringLiteral(" :wave"));
    EXPECT_TRUE(h.c().isPanelActive());
}

class ControlText : public CoordinatorTyping, public ::testing::WithParamInterface<QString> {};

TEST_P(ControlText, PassesWithoutTouchingAnyState) {
    openSmi();
    const QStringList logBefore = h.suggestions.log;
    const QString bufferBefore = h.tokenBuffer.buffer();
    const int announcementsBefore = h.announcements;
    EXPECT_FALSE(h.key(GetParam()));
    EXPECT_EQ(h.suggestions.log, logBefore);
    EXPECT_EQ(h.tokenBuffer.buffer(), bufferBefore);
    EXPECT_TRUE(h.c().isPanelActive());
    EXPECT_EQ(joined(h.c().results()), QStringLiteral("😄 😃 😺"));
    EXPECT_EQ(h.announcements, announcementsBefore);
}

INSTANTIATE_TEST_SUITE_P(Coordinator, ControlText,
                         ::testing::Values(QString(), QStringLiteral("\u0007"), QStringLiteral("\u007f"),
                                           QStringLiteral("l\u200b"), QStringLiteral(":\u200d"),
                                           QString::fromUcs4(U"\U000E0001")));

// ---- Grab set -------------------------------------------------------------------------------

TEST_F(CoordinatorTyping, NothingIsGrabbedWhileTypingOutsideAToken) {
    EXPECT_TRUE(h.c().swallowableKeys().isEmpty());
    h.type(QStringLiteral("hello"));
    h.press(KeyAction::space);
    EXPECT_TRUE(h.c().swallowableKeys().isEmpty());
    openSmi();
    EXPECT_FALSE(h.c().swallowableKeys().isEmpty());
    h.c().cancel();
    EXPECT_TRUE(h.c().swallowableKeys().isEmpty());
    EXPECT_TRUE(h.violations.isEmpty()); // cancel() from outside announced the change too
    h.checkAnnounced(QStringLiteral("after cancel()"));
}

TEST_F(CoordinatorTyping, GrabSetFollowsTheSettings) {
    openSmi();
    SwallowableKeys keys = h.c().swallowableKeys();
    EXPECT_TRUE(keys.contains(KeyAction::tab));
    EXPECT_TRUE(keys.contains(KeyAction::returnKey));
    EXPECT_EQ(keys.triggerText, QStringLiteral(":"));
    EXPECT_FALSE(keys.contains(KeyAction::left)); // 😄 takes no tone

    const int before = h.announcements;
    h.from(QStringLiteral("settings"), [&] {
        h.settings.setAcceptWithTab(false);
        h.settings.setReplaceOnClosingColon(false);
    });
    EXPECT_GT(h.announcements, before);
    keys = h.c().swallowableKeys();
    EXPECT_FALSE(keys.contains(KeyAction::tab));
    EXPECT_TRUE(keys.triggerText.isEmpty());

    h.from(QStringLiteral("switched off"), [&] { h.settings.setEnabled(false); });
    EXPECT_TRUE(h.c().swallowableKeys().isEmpty());
    EXPECT_FALSE(h.press(KeyAction::escape));
}

} // namespace

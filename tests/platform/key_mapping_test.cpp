#include "platform/key_mapping.h"

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

using namespace pimsel;

namespace {

struct KeyCase {
    const char* label;
    std::uint32_t keysym;
    const char* text; // UTF-8
    Modifiers modifiers;
    std::optional<KeyAction> action; // none: the key is not handed over
    const char* expectedText;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.label;
}

class KeyDownEventTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyDownEventTest, MapsKeysymTextAndModifiers) {
    const KeyCase& c = GetParam();
    const auto event = keyDownEvent(c.keysym, QString::fromUtf8(c.text), c.modifiers);
    ASSERT_EQ(event.has_value(), c.action.has_value());
    if (!event)
        return;
    EXPECT_EQ(event->type, InputEvent::Type::keyDown);
    EXPECT_EQ(event->action, *c.action);
    EXPECT_EQ(event->text, QString::fromUtf8(c.expectedText));
    EXPECT_EQ(event->modifiers, c.modifiers);
}

constexpr Modifiers none{};
constexpr Modifiers shift{Modifier::shift};
constexpr Modifiers ctrl{Modifier::control};
constexpr Modifiers alt{Modifier::alt};
constexpr Modifiers super{Modifier::super};

INSTANTIATE_TEST_SUITE_P(
    Table, KeyDownEventTest,
    ::testing::Values(
        KeyCase{"letter", XKB_KEY_a, "a", none, KeyAction::text, "a"},
        KeyCase{"shifted letter keeps its text", XKB_KEY_A, "A", shift, KeyAction::text, "A"},
        KeyCase{"colon", XKB_KEY_colon, ":", shift, KeyAction::text, ":"},
        KeyCase{"alt letter is still text", XKB_KEY_a, "a", alt, KeyAction::text, "a"},
        KeyCase{"emoji text", XKB_KEY_NoSymbol, "😄", none, KeyAction::text, "😄"},
        KeyCase{"backspace", XKB_KEY_BackSpace, "\b", none, KeyAction::backspace, ""},
        KeyCase{"shift backspace", XKB_KEY_BackSpace, "\b", shift, KeyAction::backspace, ""},
        KeyCase{"ctrl backspace", XKB_KEY_BackSpace, "\b", ctrl, KeyAction::wordBackspace, ""},
        KeyCase{"alt backspace", XKB_KEY_BackSpace, "\b", alt, KeyAction::wordBackspace, ""},
        KeyCase{"tab", XKB_KEY_Tab, "\t", none, KeyAction::tab, ""},
        KeyCase{"shift tab", XKB_KEY_ISO_Left_Tab, "", shift, KeyAction::tab, ""},
        KeyCase{"alt tab is still tab", XKB_KEY_Tab, "\t", alt, KeyAction::tab, ""},
        KeyCase{"ctrl tab", XKB_KEY_Tab, "\t", ctrl, KeyAction::modified, ""},
        KeyCase{"return", XKB_KEY_Return, "\r", none, KeyAction::returnKey, ""},
        KeyCase{"keypad enter", XKB_KEY_KP_Enter, "\r", none, KeyAction::returnKey, ""},
        KeyCase{"escape", XKB_KEY_Escape, "\x1b", none, KeyAction::escape, ""},
        KeyCase{"space", XKB_KEY_space, " ", none, KeyAction::space, ""},
        KeyCase{"shift space", XKB_KEY_space, " ", shift, KeyAction::space, ""},
        KeyCase{"up", XKB_KEY_Up, "", none, KeyAction::up, ""},
        KeyCase{"keypad down", XKB_KEY_KP_Down, "", none, KeyAction::down, ""},
        KeyCase{"keypad left", XKB_KEY_KP_Left, "", none, KeyAction::left, ""},
        KeyCase{"right", XKB_KEY_Right, "", shift, KeyAction::right, ""},
        KeyCase{"ctrl letter", XKB_KEY_v, "\x16", ctrl, KeyAction::modified, ""},
        KeyCase{"super letter", XKB_KEY_v, "v", super, KeyAction::modified, ""},
        KeyCase{"ctrl shift letter", XKB_KEY_V, "\x16", ctrl | shift, KeyAction::modified, ""},
        KeyCase{"bare control key", XKB_KEY_Control_L, "", ctrl, std::nullopt, ""},
        KeyCase{"bare shift key", XKB_KEY_Shift_L, "", shift, std::nullopt, ""},
        KeyCase{"delete types a control character", XKB_KEY_Delete, "\x7f", none, std::nullopt, ""},
        KeyCase{"text mixing letters and a control", XKB_KEY_NoSymbol, "a\x01", none, std::nullopt, ""},
        KeyCase{"zero-width non-joiner is text", XKB_KEY_NoSymbol, "\u200c", shift, KeyAction::text,
                "\u200c"},
        KeyCase{"dead key types nothing", XKB_KEY_dead_circumflex, "", none, std::nullopt, ""},
        KeyCase{"function key types nothing", XKB_KEY_F5, "", none, std::nullopt, ""}),
    [](const auto& info) {
        std::string name = info.param.label;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

// Through a real keymap: the layout decides the text, the state decides the modifiers.
struct XkbDeleter {
    void operator()(xkb_context* p) const { xkb_context_unref(p); }
    void operator()(xkb_keymap* p) const { xkb_keymap_unref(p); }
    void operator()(xkb_state* p) const { xkb_state_unref(p); }
};

class KeymapReadingTest : public ::testing::Test {
protected:
    void load(const char* layout) {
        context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        ASSERT_TRUE(context);
        const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
        keymap.reset(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        ASSERT_TRUE(keymap) << "xkb data for " << layout << " missing";
        state.reset(xkb_state_new(keymap.get()));
    }
    void down(xkb_keycode_t key) { xkb_state_update_key(state.get(), key, XKB_KEY_DOWN); }
    void up(xkb_keycode_t key) { xkb_state_update_key(state.get(), key, XKB_KEY_UP); }

    // evdev keycodes (+8)
    static constexpr xkb_keycode_t keyY = 29, key7 = 16, keyA = 38, keySemicolon = 47, keyTab = 23,
                                   keyBackspace = 22, keyLeftShift = 50, keyLeftCtrl = 37, keyCapsLock = 66,
                                   keyGrave = 49;

    std::unique_ptr<xkb_context, XkbDeleter> context;
    std::unique_ptr<xkb_keymap, XkbDeleter> keymap;
    std::unique_ptr<xkb_state, XkbDeleter> state;
};

TEST_F(KeymapReadingTest, UsLayoutFollowsShiftCapsAndControl) {
    load("us");
    auto a = readKeyDown(state.get(), keyA);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->text, "a");

    down(keyLeftShift);
    auto colon = readKeyDown(state.get(), keySemicolon);
    ASSERT_TRUE(colon);
    EXPECT_EQ(colon->text, ":");
    EXPECT_EQ(colon->modifiers, Modifiers(Modifier::shift));
    auto shiftTab = readKeyDown(state.get(), keyTab);
    ASSERT_TRUE(shiftTab);
    EXPECT_EQ(shiftTab->action, KeyAction::tab);
    up(keyLeftShift);

    down(keyCapsLock);
    up(keyCapsLock);
    auto capital = readKeyDown(state.get(), keyA);
    ASSERT_TRUE(capital);
    EXPECT_EQ(capital->text, "A");
    EXPECT_EQ(capital->modifiers, Modifiers()) << "Caps Lock is not a modifier the coordinator reads";
    down(keyCapsLock);
    up(keyCapsLock);

    down(keyLeftCtrl);
    auto word = readKeyDown(state.get(), keyBackspace);
    ASSERT_TRUE(word);
    EXPECT_EQ(word->action, KeyAction::wordBackspace);
    auto ctrlA = readKeyDown(state.get(), keyA);
    ASSERT_TRUE(ctrlA);
    EXPECT_EQ(ctrlA->action, KeyAction::modified);
    up(keyLeftCtrl);

    auto plain = readKeyDown(state.get(), keyA);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->action, KeyAction::text);
    EXPECT_EQ(plain->modifiers, Modifiers());
}

TEST_F(KeymapReadingTest, GermanLayoutGivesItsOwnTextAndDeadKeysGiveNone) {
    load("de");
    auto z = readKeyDown(state.get(), keyY);
    ASSERT_TRUE(z);
    EXPECT_EQ(z->text, "z");
    down(keyLeftShift);
    auto slash = readKeyDown(state.get(), key7);
    ASSERT_TRUE(slash);
    EXPECT_EQ(slash->text, "/");
    up(keyLeftShift);
    EXPECT_FALSE(readKeyDown(state.get(), keyGrave)) << "the circumflex key is dead in this layout";
}

std::set<std::uint32_t> withLocks(std::uint32_t mask) {
    return {mask, mask | xmask::lock, mask | xmask::mod2, mask | xmask::lock | xmask::mod2};
}

TEST_F(KeymapReadingTest, GrabPlanHoldsExactlyTheKeysThatProduceTheSwallowableActions) {
    load("us");
    SwallowableKeys keys;
    EXPECT_TRUE(keyGrabPlan(keys, keymap.get()).empty());

    keys.triggerText = ":";
    KeyGrabPlan plan = keyGrabPlan(keys, keymap.get());
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan.at(keySemicolon), withLocks(xmask::shift)) << "only Shift+semicolon types the trigger";

    keys = {};
    keys.insert(KeyAction::tab);
    keys.insert(KeyAction::returnKey);
    plan = keyGrabPlan(keys, keymap.get());
    std::set<std::uint32_t> plainAndShift = withLocks(0);
    plainAndShift.merge(withLocks(xmask::shift));
    EXPECT_EQ(plan.at(keyTab), plainAndShift);
    EXPECT_TRUE(plan.count(36) && plan.count(104)) << "Return and keypad Enter";
    EXPECT_FALSE(plan.count(keyA));
    for (const auto& [keycode, masks] : plan)
        for (std::uint32_t mask : masks)
            EXPECT_FALSE(mask & (xmask::mod1 | xmask::control)) << "keycode " << keycode << " mask " << mask;

    keys = {};
    keys.insert(KeyAction::wordBackspace);
    plan = keyGrabPlan(keys, keymap.get());
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_TRUE(plan.at(keyBackspace).count(xmask::control));
    EXPECT_FALSE(plan.at(keyBackspace).count(0)) << "a plain Backspace is not a word delete";
}

TEST_F(KeymapReadingTest, GrabPlanForAnyTextCoversTypingKeysButNotActions) {
    load("us");
    SwallowableKeys keys;
    keys.anyText = true;
    const KeyGrabPlan plan = keyGrabPlan(keys, keymap.get());
    EXPECT_TRUE(plan.count(keyA));
    EXPECT_TRUE(plan.count(key7));
    EXPECT_FALSE(plan.count(keyTab));
    EXPECT_FALSE(plan.count(65)) << "space is its own action";
    EXPECT_FALSE(plan.count(keyLeftShift));
}

TEST_F(KeymapReadingTest, GrabPlanFindsTheTriggerWhereTheLayoutPutsIt) {
    load("de");
    SwallowableKeys keys;
    keys.triggerText = ":";
    const KeyGrabPlan plan = keyGrabPlan(keys, keymap.get());
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan.begin()->first, 60u) << "Shift+period on a German keyboard";
    EXPECT_EQ(plan.begin()->second, withLocks(xmask::shift));
}

} // namespace

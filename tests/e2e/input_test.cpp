// The input layer driven inside this process, against real GTK and Qt fields with the user typing
// through a master keyboard of its own: what the input hook hands to a scriptable handler, what it
// withholds and what it never loses, on any layout; and the clipboard around a replacement,
// Backspaces and a paste built as the application builds them, for an emoji and for a sticker.
#include "engine/input_event.h"
#include "platform/clipboard_manager.h"
#include "platform/event_tap_manager.h"
#include "platform/insertion_controller.h"
#include "platform/keyboard_synthesizer.h"
#include "platform/sticker_insertion_controller.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/typist.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

// xcb's XKB header names a member after a C++ keyword.
#define explicit explicit_
#include <xcb/xinput.h>
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace pimsel::e2e {
namespace {

class ScriptedHandler : public InputEventHandler {
public:
    SwallowableKeys keys;
    std::function<bool(const InputEvent&)> decide; // none: pass everything

    bool handleEvent(const InputEvent& event) override {
        events.push_back(event);
        return decide && decide(event);
    }
    SwallowableKeys swallowableKeys() const override { return keys; }

    // The key-downs as a compact script: text as itself, actions in brackets.
    QString script() const {
        static const char* names[] = {"text", "bs", "wordbs", "tab",  "ret",   "esc",
                                      "spc",  "up", "down",   "left", "right", "mod"};
        QString out;
        for (const auto& e : events)
            if (e.type == InputEvent::Type::keyDown)
                out += e.action == KeyAction::text
                           ? e.text
                           : QStringLiteral("[%1]").arg(names[static_cast<int>(e.action)]);
        return out;
    }

    std::vector<InputEvent> events;
};

// The hook, its synthesizer, the clipboard and the inserter on them; the hook started, handing the
// user's keys to `handler`.
struct InsertionPath {
    explicit InsertionPath(InputEventHandler* handler = nullptr) {
        tap.setHandler(handler);
        started = tap.start();
    }
    EventTapManager tap;
    bool started = false;
    KeyboardSynthesizer synthesizer{tap.ownEvents()};
    ClipboardManager clipboard;
    std::unique_ptr<InsertionController> inserter =
        std::make_unique<InsertionController>(synthesizer, clipboard);
};

// A target field of the test's kind with the typist's own keyboard on it, and the hook of this
// process reading the user's keys. The typist's keyboard exists before the hook starts.
class HookedField : public testing::TestWithParam<TargetApp::Kind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(typist.isReady()) << typist.error();
        ASSERT_TRUE(path.started);
        app = std::make_unique<TargetApp>(GetParam());
        ASSERT_TRUE(app->isReady()) << app->output().toStdString();
        ASSERT_TRUE(typist.focus(app->window()));
    }
    void type(const std::string& text) {
        whileUserTypes([&] { typist.type(text); });
    }
    // What the field reads once it is `expected`, or after waiting for it.
    std::string field(const QString& expected) { return app->waitForText(expected).toStdString(); }

    ScriptedHandler handler;
    Typist typist;
    InsertionPath path{&handler};
    EventTapManager& tap = path.tap;
    std::unique_ptr<TargetApp> app;
};

using InputHook = HookedField;

// The hook withholds what the handler may swallow, a key's raw and grabbed press being one key, and
// loses nothing typed while a withheld key is held (the trigger, Tab, Escape and Return with the
// application's own handler, and a stalled decision: app_e2e). Pimsel's own keys never reach the
// handler, the user's keys typed meanwhile do; a click comes with the pointer's position.
TEST_P(InputHook, OwnKeysAreWithheldTheUsersAndTheirClicksAreHandedOver) {
    // A key another client grabbed first on the session's keyboard is that client's: not counted.
    handler.keys.insert(KeyAction::backspace);
    tap.refreshGrabs();
    const int alone = tap.heldGrabCount();
    handler.keys = {};
    tap.refreshGrabs();
    xcb::Connection other(nullptr);
    const std::uint32_t anyModifier = XCB_INPUT_MODIFIER_MASK_ANY, keys = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS;
    auto taken = xcb::reply<xcb_input_xi_passive_grab_device_reply_t>(
        other.get(), xcb_input_xi_passive_grab_device_reply,
        xcb_input_xi_passive_grab_device(
            other.get(), XCB_CURRENT_TIME, other.root(), XCB_CURSOR_NONE, 22 /* BackSpace */,
            Typist::virtualCoreKeyboard, 1, 1, XCB_INPUT_GRAB_TYPE_KEYCODE, XCB_INPUT_GRAB_MODE_22_ASYNC,
            XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_OWNER_NO_OWNER, &keys, &anyModifier));
    ASSERT_TRUE(taken && taken->num_modifiers == 0);
    handler.keys.insert(KeyAction::backspace);
    tap.refreshGrabs();
    EXPECT_EQ(tap.heldGrabCount(), alone - 8) << "Shift and none, with every lock";
    other = xcb::Connection();
    handler.keys = {};
    handler.keys.insert(KeyAction::tab);
    handler.decide = [this](const InputEvent& e) { return handler.keys.mayContain(e); };
    tap.refreshGrabs();
    whileUserTypes([&] {
        typist.type("a");
        typist.press("Tab");
        typist.type("bc");
        typist.release("Tab");
        typist.type("d");
    });
    ASSERT_EQ(field("abcd"), "abcd");
    ASSERT_TRUE(pumpUntil([&] { return handler.script() == "a[tab]bcd"; })) << handler.script().toStdString();
    handler.decide = nullptr;

    // The user's typing and the synthesised Backspaces interleave in whatever order the server
    // takes them; only the Backspaces are withheld from the handler.
    handler.events.clear();
    std::thread user([&] { typist.type("xyz"); });
    path.synthesizer.pressBackspace(3);
    user.join();
    EXPECT_TRUE(pumpUntil([&] { return handler.script() == "xyz"; })) << handler.script().toStdString();
    EXPECT_EQ(app->settledText().size(), 4);
    pump(std::chrono::milliseconds(100));
    EXPECT_EQ(handler.script().toStdString(), "xyz");
    EXPECT_EQ(tap.ownEvents()->pendingCount(), 0u);

    // The key right after one that may open a token is withheld already, however fast it follows.
    const QString before = app->settledText();
    handler.keys = {};
    handler.keys.openingText = QStringLiteral(":");
    handler.keys.openingActions = 1u << static_cast<unsigned>(KeyAction::backspace);
    handler.decide = [this](const InputEvent& e) {
        if (e.text == QLatin1String(":")) // the token is open: its keys are the handler's own now
            handler.keys.insert(KeyAction::backspace);
        return e.action == KeyAction::backspace && e.canSwallow;
    };
    tap.refreshGrabs();
    // In one batch: the server has them all before the hook has read the first.
    const std::pair<const char*, bool> burst[] = {{"Shift_L", true},    {"semicolon", true},
                                                  {"semicolon", false}, {"Shift_L", false},
                                                  {"BackSpace", true},  {"BackSpace", false}};
    whileUserTypes([&] {
        for (const auto& [key, down] : burst)
            typist.sendKey(key, down);
        typist.sync();
    });
    EXPECT_EQ(field(before + ':'), (before + ':').toStdString());
    EXPECT_TRUE(pumpUntil([&] { return handler.script().endsWith(":[bs]"); }))
        << handler.script().toStdString();
    handler.decide = nullptr;
    handler.keys = {};
    tap.refreshGrabs();

    // The session keyboard switched to German, where ":" is Shift+period instead of Shift+semicolon:
    // the trigger's grab and the reading follow, also when another client locks the second of two
    // layouts, as a panel does. A GTK field shows it; the keymap is the server's alone.
    if (GetParam() == TargetApp::Kind::gtk) {
        handler.events.clear();
        handler.keys.triggerText = QStringLiteral(":");
        handler.decide = [this](const InputEvent& e) { return handler.keys.mayContain(e); };
        tap.refreshGrabs();
        const auto setLayout = [](const char* layout) {
            QProcess setxkbmap;
            setxkbmap.start(QStringLiteral("setxkbmap"),
                            {QStringLiteral("-layout"), QString::fromLatin1(layout)});
            const bool done = setxkbmap.waitForFinished(5000) && setxkbmap.exitCode() == 0;
            pump(std::chrono::milliseconds(500)); // the hook reloads keymaps after a short quiet period
            return done;
        };
        // Typed on the session's own keyboard, which reads the layout anew.
        const auto onSessionKeyboard = [](const std::function<void(Typist&)>& user) {
            Typist keyboard(Typist::Keyboard::core);
            ASSERT_TRUE(keyboard.isReady()) << keyboard.error();
            whileUserTypes([&] { user(keyboard); });
        };
        const QString before = app->settledText();
        ASSERT_TRUE(setLayout("de"));
        onSessionKeyboard([](Typist& keyboard) { keyboard.type("a:b"); });
        EXPECT_EQ(app->settledText().toStdString(), (before + "ab").toStdString());
        EXPECT_EQ(handler.script().toStdString(), "a:b");
        ASSERT_TRUE(setLayout("us,de"));
        xcb::Connection panel(nullptr);
        ASSERT_TRUE(xkb_x11_setup_xkb_extension(
            panel.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(
            xcb::check(panel.get(), xcb_xkb_latch_lock_state_checked(panel.get(), XCB_XKB_ID_USE_CORE_KBD, 0,
                                                                     0, 1, XCB_XKB_GROUP_2, 0, 0, 0)));
        pump(std::chrono::milliseconds(300));
        onSessionKeyboard([](Typist& keyboard) {
            keyboard.type("c");
            keyboard.press("Shift_L");
            keyboard.key("period");
            keyboard.release("Shift_L");
            keyboard.type("d");
        });
        const QString typed = app->settledText();
        ASSERT_TRUE(setLayout("us"));
        EXPECT_EQ(typed.toStdString(), (before + "abcd").toStdString());
        EXPECT_EQ(handler.script().toStdString(), "a:bc:d");
    }

    // A click comes with the pointer's position.
    whileUserTypes([&] { typist.click(300, 200); });
    const auto click = [&] {
        return std::find_if(handler.events.begin(), handler.events.end(),
                            [](const InputEvent& e) { return e.type == InputEvent::Type::mouseDown; });
    };
    ASSERT_TRUE(pumpUntil([&] { return click() != handler.events.end(); }));
    EXPECT_EQ(click()->globalPosition, QPoint(300, 200));

    // A keyboard unplugged while its trigger is grabbed and another put in its place, a few times:
    // the server may give the new one the old one's memory, and no grab of ours may follow it there
    // (its ":" would never reach the field, or the server would crash on it). The server's alone:
    // one toolkit shows it.
    if (GetParam() != TargetApp::Kind::gtk)
        return;
    handler.decide = nullptr;
    ASSERT_TRUE(Typist::removeMaster());
    for (int round = 0; round < 10; ++round) {
        Typist next; // a master of its own again, removed at the end of the round
        ASSERT_TRUE(next.isReady() && next.focus(app->window())) << next.error();
        pump(std::chrono::milliseconds(50)); // the hook has seen the new keyboard; it grabs afresh
        handler.keys = {};
        tap.refreshGrabs();
        handler.keys.triggerText = QStringLiteral(":");
        tap.refreshGrabs();
        const QString before = app->settledText();
        whileUserTypes([&] { next.type(":x"); });
        ASSERT_EQ(field(before + ":x"), (before + ":x").toStdString()) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, InputHook, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);

using Insertion = HookedField;
const QString smile = QStringLiteral("😄");

// One field through every replacement whose clipboard is at stake: an emoji over each kind of
// owner's clipboard, a picked sticker in place of "/gif" (an animated file goes on the clipboard as
// the staged file, a still one as its PNG bytes, an unreadable one leaves the command and the
// clipboard alone), a hung owner, and a copy made during the paste. How the replacement reads in
// every kind of field, and quitting during one, is the application's (app_e2e).
TEST_P(Insertion, TheUsersClipboardSurvivesEveryOwnerAHungOneAndACopyMadeDuringThePaste) {
    // Two saves before a restore, of this process's own data (read without a round trip): the
    // second is what comes back.
    QClipboard* board = QGuiApplication::clipboard();
    board->setText(QStringLiteral("first"));
    path.clipboard.save({});
    auto* second = new QMimeData;
    second->setData(QStringLiteral("text/plain"), "second");
    second->setData(QStringLiteral("application/x-pimsel-test"), QByteArray("\x00\x01\x02", 3));
    board->setMimeData(second);
    path.clipboard.save({});
    path.clipboard.lend(QStringLiteral("third"));
    path.clipboard.restore();
    EXPECT_FALSE(path.clipboard.hasSnapshot());
    ASSERT_TRUE(board->mimeData());
    EXPECT_EQ(board->mimeData()->data(QStringLiteral("text/plain")), QByteArray("second"));
    EXPECT_EQ(board->mimeData()->data(QStringLiteral("application/x-pimsel-test")),
              QByteArray("\x00\x01\x02", 3));

    QString expected;
    bool completed = false;
    // The user types `typed` after what the field holds, and `insert` starts replacing it.
    const auto replace = [&](const QString& typed, const std::function<void()>& insert) {
        type(typed.toStdString());
        ASSERT_EQ(field(expected + typed), (expected + typed).toStdString());
        completed = false;
        insert();
    };
    const auto replaceToken = [&] { path.inserter->replaceToken(4, smile, [&] { completed = true; }); };

    QTemporaryDir dir;
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::green);
    ASSERT_TRUE(image.save(dir.filePath("still.png")) && image.save(dir.filePath("staged.gif"), "PNG"));
    QFile still(dir.filePath("still.png"));
    ASSERT_TRUE(still.open(QIODevice::ReadOnly));
    const QUrl staged = QUrl::fromLocalFile(dir.filePath("staged.gif"));
    StickerInsertionController stickers(path.synthesizer, path.clipboard,
                                        [&](const QUrl&) { return staged; });
    struct Row {
        OwnerKind owner;
        const char* sticker; // the file picked in place of "/gif"; none: the emoji for ":smi"
        QString format;      // empty: nothing is lent
        QByteArray lent;
        QString shown; // in place of what was typed
    };
    const Row rows[] = {
        {OwnerKind::qtRichTextAndImage, nullptr, "text/plain", smile.toUtf8(), smile},
        {OwnerKind::gtkRichText, nullptr, "text/plain", smile.toUtf8(), smile},
        {OwnerKind::gtkImage, nullptr, "text/plain", smile.toUtf8(), smile},
        // A GTK entry takes a pasted file as its address, and no picture.
        {OwnerKind::qtRichTextAndImage, "moving.gif", "text/uri-list", staged.toEncoded() + "\r\n",
         staged.toString()},
        {OwnerKind::gtkRichText, "still.png", "image/png", still.readAll(), ""},
        {OwnerKind::gtkImage, "missing.png", "", {}, "/gif"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.sticker ? row.sticker : "emoji") + " over owner " +
                     std::to_string(int(row.owner)));
        const auto owner = clipboardOwner(row.owner);
        ASSERT_TRUE(owner->ready);
        const QString before = dumpClipboard();
        ASSERT_GE(before.count('\n'), 2) << before.toStdString();
        const bool animated = row.sticker && QByteArray(row.sticker).endsWith(".gif");
        replace(QLatin1String(row.sticker ? "/gif" : ":smi"), [&] {
            if (!row.sticker)
                return replaceToken();
            stickers.insert(QUrl::fromLocalFile(dir.filePath(QLatin1String(row.sticker))), animated, 4,
                            [&] { completed = true; });
        });
        QByteArray lent, gnome;
        ASSERT_TRUE(pumpUntil([&] {
            // The loan is this process's own data, marked transient so that clipboard histories
            // leave it out; the owner's clipboard may hold the same format.
            const QMimeData* now = board->ownsClipboard() ? board->mimeData() : nullptr;
            if (now && now->hasFormat(QStringLiteral("x-kde-passwordManagerHint")) && !row.format.isEmpty()) {
                lent = now->data(row.format);
                gnome = now->data(QStringLiteral("x-special/gnome-copied-files"));
            }
            return completed;
        }));
        EXPECT_EQ(lent, row.lent);
        if (animated) {
            EXPECT_EQ(gnome, "copy\n" + staged.toEncoded());
        }
        expected += row.shown;
        EXPECT_EQ(field(expected), expected.toStdString());
        EXPECT_EQ(dumpClipboard().toStdString(), before.toStdString());
    }

    // A hung owner (stopped by SIGSTOP) costs the paste the save's budget and the GUI thread
    // nothing; the emoji still goes in.
    {
        const auto owner = clipboardOwner();
        ASSERT_TRUE(owner->ready);
        owner->stop();
        QElapsedTimer clock;
        qint64 lastTurn = 0;
        qint64 longestStall = 0;
        QTimer heartbeat;
        heartbeat.setInterval(5);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, clock.elapsed() - lastTurn);
            lastTurn = clock.elapsed();
        });
        replace(QStringLiteral(":smi"), [&] {
            clock.start();
            heartbeat.start();
            replaceToken();
        });
        ASSERT_TRUE(pumpUntil([&] { return completed; }, std::chrono::seconds(30)));
        const qint64 completedAfter = clock.elapsed();
        heartbeat.stop();
        expected += smile;
        EXPECT_EQ(field(expected), expected.toStdString());
        const qint64 unhindered =
            (InsertionController::pasteDelay + InsertionController::clipboardRestoreDelay).count();
        // Hang guards: the save's budget is far below these.
        EXPECT_LE(completedAfter - unhindered, 300);
        EXPECT_LT(longestStall, 300);
    }

    // What someone copies while the emoji is on the clipboard stays there; other applications
    // see the loan as the emoji, offered as transient.
    const auto owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    QFile newer(dir.filePath(QStringLiteral("newer")));
    ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
    newer.write("copied during the paste");
    newer.close();
    const auto reader = clipToolOnSignal({QStringLiteral("dump")});
    const auto copier = clipToolOnSignal({QStringLiteral("own"), "text/plain=" + newer.fileName()});
    ASSERT_TRUE(reader->ready && copier->ready);
    replace(QStringLiteral(":smi"), replaceToken);
    expected += smile;
    ASSERT_EQ(field(expected), expected.toStdString());
    reader->signal(SIGUSR1);
    ASSERT_TRUE(reader->waitForExit());
    copier->signal(SIGUSR1);
    ASSERT_TRUE(copier->waitForOutput(QStringLiteral("READY")));
    ASSERT_FALSE(completed) << "the copy came after the restore";
    ASSERT_TRUE(pumpUntil([&] { return completed; }));
    const QString lent = reader->output();
    EXPECT_TRUE(lent.contains(dumpLine(QStringLiteral("text/plain"), smile.toUtf8()))) << lent.toStdString();
    EXPECT_TRUE(lent.contains(dumpLine(QStringLiteral("x-kde-passwordManagerHint"), "secret")))
        << lent.toStdString();
    const QString after = dumpClipboard();
    EXPECT_TRUE(after.contains(dumpLine(QStringLiteral("text/plain"), "copied during the paste")))
        << after.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Targets, Insertion, testing::Values(TargetApp::Kind::gtk), targetName);

} // namespace
} // namespace pimsel::e2e

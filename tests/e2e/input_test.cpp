// The input layer driven inside this process, against real GTK and Qt fields with the user typing
// through a master keyboard of its own: what the input hook hands to a scriptable handler, what it
// withholds and what it never loses; and the clipboard around a replacement, Backspaces and a paste
// built as the application builds them (what the field then reads: app_e2e): every owner's formats
// back byte for byte, a hung owner, a copy made during the paste.
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
        openField();
    }
    // A fresh field, with the keyboard on it.
    void openField() {
        app = std::make_unique<TargetApp>(GetParam());
        ASSERT_TRUE(app->isReady()) << app->diagnostics().toStdString();
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
    handler.decide = nullptr;
    handler.keys = {};
    tap.refreshGrabs();

    whileUserTypes([&] { typist.click(300, 200); });
    const auto click = [&] {
        return std::find_if(handler.events.begin(), handler.events.end(),
                            [](const InputEvent& e) { return e.type == InputEvent::Type::mouseDown; });
    };
    ASSERT_TRUE(pumpUntil([&] { return click() != handler.events.end(); }));
    EXPECT_EQ(click()->globalPosition, QPoint(300, 200));
}

INSTANTIATE_TEST_SUITE_P(Targets, InputHook, testing::Values(TargetApp::Kind::gtk, TargetApp::Kind::qt),
                         targetName);

TEST(InputHookLayout, TheTriggerGrabFollowsALayoutChange) {
    // The session keyboard is switched to German, where ":" is Shift+period instead of Shift+semicolon.
    TargetApp app(TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    ScriptedHandler handler;
    handler.keys.triggerText = QStringLiteral(":");
    handler.decide = [&](const InputEvent& e) { return handler.keys.mayContain(e); };
    EventTapManager tap;
    tap.setHandler(&handler);
    ASSERT_TRUE(tap.start());

    const auto setLayout = [](const char* layout) {
        QProcess setxkbmap;
        setxkbmap.start(QStringLiteral("setxkbmap"),
                        {QStringLiteral("-layout"), QString::fromLatin1(layout)});
        return setxkbmap.waitForFinished(5000) && setxkbmap.exitCode() == 0;
    };
    ASSERT_TRUE(setLayout("de"));
    pump(std::chrono::milliseconds(500)); // the hook reloads keymaps after a short quiet period
    const auto onSessionKeyboard = [](const std::function<void(Typist&)>& user) {
        Typist keyboard(Typist::Keyboard::core);
        ASSERT_TRUE(keyboard.isReady()) << keyboard.error();
        whileUserTypes([&] { user(keyboard); });
    };
    onSessionKeyboard([](Typist& keyboard) { keyboard.type("a:b"); });
    QString field = app.settledText();
    QString script = handler.script();
    EXPECT_EQ(field.toStdString(), "ab");
    EXPECT_EQ(script.toStdString(), "a:b");

    // Two layouts, the second one locked by another client as a panel does it: the grab and the
    // reading follow the locked layout, where ":" is Shift+period.
    ASSERT_TRUE(setLayout("us,de"));
    pump(std::chrono::milliseconds(500));
    xcb::Connection panel(nullptr);
    ASSERT_TRUE(xkb_x11_setup_xkb_extension(
        panel.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
        XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(xcb::check(panel.get(), xcb_xkb_latch_lock_state_checked(panel.get(), XCB_XKB_ID_USE_CORE_KBD,
                                                                         0, 0, 1, XCB_XKB_GROUP_2, 0, 0, 0)));
    pump(std::chrono::milliseconds(300));
    onSessionKeyboard([](Typist& keyboard) {
        keyboard.type("c");
        keyboard.press("Shift_L");
        keyboard.key("period");
        keyboard.release("Shift_L");
        keyboard.type("d");
    });
    field = app.settledText();
    script = handler.script();
    ASSERT_TRUE(setLayout("us"));
    pump(std::chrono::milliseconds(300));
    EXPECT_EQ(field.toStdString(), "abcd");
    EXPECT_EQ(script.toStdString(), "a:bc:d");
}

const QString smile = QStringLiteral("😄");

using Insertion = HookedField;

// One field through the replacements whose clipboard is at stake; how the replacement reads in
// every kind of field, and quitting during one, is the application's (app_e2e).
TEST_P(Insertion, TheUsersClipboardSurvivesEveryOwnerAHungOneAndACopyMadeDuringThePaste) {
    QString expected;
    bool completed = false;
    // The user types ":smi" after what the field holds and Pimsel starts replacing it, right after
    // `starting`.
    const auto replaceToken = [&](const std::function<void()>& starting = {}) {
        type(":smi");
        ASSERT_EQ(field(expected + ":smi"), (expected + ":smi").toStdString());
        completed = false;
        if (starting)
            starting();
        path.inserter->replaceToken(4, smile, [&] { completed = true; });
        expected += smile;
    };

    // Every owner's formats come back byte for byte.
    for (const OwnerKind kind :
         {OwnerKind::qtRichTextAndImage, OwnerKind::gtkRichText, OwnerKind::gtkImage}) {
        SCOPED_TRACE("clipboard owner " + std::to_string(int(kind)));
        const auto owner = clipboardOwner(kind);
        ASSERT_TRUE(owner->ready);
        const QString before = dumpClipboard();
        ASSERT_GE(before.count('\n'), 2) << before.toStdString();
        replaceToken();
        ASSERT_TRUE(pumpUntil([&] { return completed; }));
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
        replaceToken([&] {
            clock.start();
            heartbeat.start();
        });
        ASSERT_TRUE(pumpUntil([&] { return completed; }, std::chrono::seconds(30)));
        const qint64 completedAfter = clock.elapsed();
        heartbeat.stop();
        EXPECT_EQ(field(expected), expected.toStdString());
        const qint64 unhindered =
            (InsertionController::pasteDelay + InsertionController::clipboardRestoreDelay).count();
        // Hang guards: the save's budget is far below these.
        EXPECT_LE(completedAfter - unhindered, 300);
        EXPECT_LT(longestStall, 300);
    }

    // What someone copies while the emoji is on the clipboard stays there; the emoji itself is
    // offered as transient, so clipboard histories leave it out.
    const auto owner = clipboardOwner();
    ASSERT_TRUE(owner->ready);
    QTemporaryDir dir;
    QFile newer(dir.filePath(QStringLiteral("newer")));
    ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
    newer.write("copied during the paste");
    newer.close();
    const auto reader = clipToolOnSignal({QStringLiteral("dump")});
    const auto copier = clipToolOnSignal({QStringLiteral("own"), "text/plain=" + newer.fileName()});
    ASSERT_TRUE(reader->ready && copier->ready);
    replaceToken();
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

// A picked sticker replaces the typed "/gif": an animated file goes on the clipboard as the staged
// file, a still one as its PNG bytes, and the owner's clipboard comes back after the paste. A still
// file that cannot be read leaves both the command and the clipboard alone.
TEST(StickerPaste, TheCommandBecomesTheFileOnTheClipboardAndTheOwnersClipboardComesBack) {
    QTemporaryDir dir;
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::green);
    ASSERT_TRUE(image.save(dir.filePath("still.png")));
    ASSERT_TRUE(image.save(dir.filePath("moving.gif"), "PNG"));
    ASSERT_TRUE(image.save(dir.filePath("staged.gif"), "PNG"));
    auto bytes = [&](const char* name) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QUrl staged = QUrl::fromLocalFile(dir.filePath("staged.gif"));
    struct Case {
        const char* file;
        bool isAnimated;
        QString format; // empty: nothing is offered
        QByteArray offered;
        QString fieldAfter;
    };
    const QList<Case> cases{
        // A GTK entry takes a pasted file as its address.
        {"moving.gif", true, "text/uri-list", staged.toEncoded() + "\r\n", staged.toString()},
        {"still.png", false, "image/png", bytes("still.png"), ""},
        {"missing.png", false, "", {}, "/gif"},
    };
    TargetApp app(TargetApp::Kind::gtk);
    ASSERT_TRUE(app.isReady()) << app.diagnostics().toStdString();
    Typist typist;
    ASSERT_TRUE(typist.isReady()) << typist.error();
    ASSERT_TRUE(typist.focus(app.window()));
    InsertionPath path;
    ASSERT_TRUE(path.started);
    StickerInsertionController inserter(path.synthesizer, path.clipboard,
                                        [&](const QUrl&) { return staged; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto owner = clipboardOwner();
        ASSERT_TRUE(owner->ready);
        const QString before = dumpClipboard();
        whileUserTypes([&] { typist.type("/gif"); });
        ASSERT_EQ(app.waitForText("/gif").toStdString(), "/gif");

        bool completed = false;
        QByteArray seen;
        QByteArray gnome;
        inserter.insert(QUrl::fromLocalFile(dir.filePath(QString::fromLatin1(c.file))), c.isAnimated, 4,
                        [&] { completed = true; });
        ASSERT_TRUE(pumpUntil([&] {
            // The loan is this process's own data, read without a round trip, and marked transient;
            // the owner's clipboard may hold the same format.
            const QMimeData* now = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
            if (now && now->hasFormat(QStringLiteral("x-kde-passwordManagerHint")) && !c.format.isEmpty()) {
                seen = now->data(c.format);
                gnome = now->data(QStringLiteral("x-special/gnome-copied-files"));
            }
            return completed;
        }));
        EXPECT_EQ(seen, c.offered);
        if (c.isAnimated) {
            EXPECT_EQ(gnome, "copy\n" + staged.toEncoded());
        }
        EXPECT_EQ(app.waitForText(c.fieldAfter).toStdString(), c.fieldAfter.toStdString());
        EXPECT_EQ(dumpClipboard().toStdString(), before.toStdString());
        if (!c.fieldAfter.isEmpty())
            path.synthesizer.pressBackspace(int(c.fieldAfter.size()));
        ASSERT_EQ(app.waitForText("").toStdString(), "");
    }
}

TEST(ClipboardSnapshot, TheSecondOfTwoSavesIsWhatComesBack) {
    QClipboard* board = QGuiApplication::clipboard();
    ClipboardManager manager;
    board->setText(QStringLiteral("first"));
    manager.save({});
    auto* second = new QMimeData;
    second->setData(QStringLiteral("text/plain"), "second");
    second->setData(QStringLiteral("application/x-pimsel-test"), QByteArray("\x00\x01\x02", 3));
    board->setMimeData(second);
    manager.save({});
    manager.lend(QStringLiteral("third"));
    manager.restore();
    EXPECT_FALSE(manager.hasSnapshot());
    const QMimeData* now = board->mimeData();
    ASSERT_TRUE(now);
    EXPECT_EQ(now->data(QStringLiteral("text/plain")), QByteArray("second"));
    EXPECT_EQ(now->data(QStringLiteral("application/x-pimsel-test")), QByteArray("\x00\x01\x02", 3));
}

} // namespace
} // namespace pimsel::e2e

#pragma once

// The input layer driven inside this process: a scriptable handler, a log recorder, and the
// insertion path built as the application builds it, on a real target field.

#include "engine/input_event.h"
#include "platform/clipboard_manager.h"
#include "platform/event_tap_manager.h"
#include "platform/insertion_controller.h"
#include "platform/keyboard_synthesizer.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/typist.h"

#include <QString>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace pimsel::e2e {

class ScriptedHandler : public InputEventHandler {
public:
    SwallowableKeys keys;
    std::function<bool(const InputEvent&)> decide; // none: pass everything
    std::chrono::milliseconds stall{0};            // time spent deciding a key the handler would swallow

    bool handleEvent(const InputEvent& event) override {
        events.push_back(event);
        const bool swallow = decide && decide(event);
        if (swallow && stall.count() > 0)
            QThread::msleep(static_cast<unsigned long>(stall.count()));
        return swallow;
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

// Counts messages from every thread while alive.
class LogRecorder {
public:
    LogRecorder() {
        current = this;
        previous_ = qInstallMessageHandler(&LogRecorder::handle);
    }
    ~LogRecorder() {
        qInstallMessageHandler(previous_);
        current = nullptr;
    }
    int count(const QString& category, const QString& fragment) const {
        std::lock_guard lock(mutex_);
        return int(std::count_if(lines_.begin(), lines_.end(), [&](const auto& line) {
            return line.first == category && line.second.contains(fragment, Qt::CaseInsensitive);
        }));
    }

private:
    static inline LogRecorder* current = nullptr;
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message) {
        if (LogRecorder* r = current) {
            std::lock_guard lock(r->mutex_);
            r->lines_.emplace_back(QString::fromUtf8(context.category ? context.category : ""), message);
        }
    }
    mutable std::mutex mutex_;
    std::vector<std::pair<QString, QString>> lines_;
    QtMessageHandler previous_ = nullptr;
};

// The hook, its synthesizer, the clipboard and the inserter on them; the hook started, handing the
// user's keys to `handler`.
struct InsertionPath {
    explicit InsertionPath(InputEventHandler* handler = nullptr) {
        tap.setHandler(handler);
        started = tap.start();
    }
    // Runs one replacement and waits for its completion; true when it completed.
    bool replace(int eraseCount, const QString& text) {
        bool completed = false;
        inserter->replaceToken(eraseCount, text, [&] { completed = true; });
        return pumpUntil([&] { return completed; });
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

    LogRecorder log;
    ScriptedHandler handler;
    Typist typist;
    InsertionPath path{&handler};
    EventTapManager& tap = path.tap;
    std::unique_ptr<TargetApp> app;
};

} // namespace pimsel::e2e

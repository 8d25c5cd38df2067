#pragma once

// The input-layer desktop tests drive the hook inside this process: a scriptable handler and a log
// recorder, on top of the desktop fixture.

#include "engine/input_event.h"
#include "tests/e2e/support/desktop.h"

#include <QList>
#include <QString>
#include <QThread>

#include <chrono>
#include <functional>
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

    std::vector<InputEvent> keyDowns() const {
        std::vector<InputEvent> result;
        for (const auto& e : events)
            if (e.type == InputEvent::Type::keyDown)
                result.push_back(e);
        return result;
    }
    // The key-downs as a compact script: text as itself, actions in brackets.
    QString script() const {
        static const char* names[] = {"text", "bs", "wordbs", "tab",  "ret",   "esc",
                                      "spc",  "up", "down",   "left", "right", "mod"};
        QString out;
        for (const auto& e : keyDowns())
            out += e.action == KeyAction::text
                       ? e.text
                       : QStringLiteral("[%1]").arg(names[static_cast<int>(e.action)]);
        return out;
    }

    std::vector<InputEvent> events;
};

// Records messages from every thread while alive.
class LogRecorder {
public:
    struct Line {
        QString category;
        QtMsgType type;
        QString message;
    };
    LogRecorder() {
        current() = this;
        previous_ = qInstallMessageHandler(&LogRecorder::handle);
    }
    ~LogRecorder() {
        qInstallMessageHandler(previous_);
        current() = nullptr;
    }
    std::vector<Line> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int count(const QString& category, const QString& fragment) const {
        int n = 0;
        for (const auto& l : lines())
            n += l.category == category && l.message.contains(fragment, Qt::CaseInsensitive);
        return n;
    }

private:
    static LogRecorder*& current() {
        static LogRecorder* recorder = nullptr;
        return recorder;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (LogRecorder* r = current()) {
            std::lock_guard lock(r->mutex_);
            r->lines_.push_back({QString::fromUtf8(context.category ? context.category : ""), type, message});
        }
    }
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
    QtMessageHandler previous_ = nullptr;
};

} // namespace pimsel::e2e

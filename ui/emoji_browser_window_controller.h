#pragma once

#include "engine/ports.h"
#include "ui/key_panel.h"
#include "ui/window_activation.h"

#include <QObject>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;

namespace pimsel {

class EmojiBrowserView;
class EmojiBrowserViewModel;

// The browser's top-level window.
class EmojiBrowserPanel : public KeyPanel {
public:
    explicit EmojiBrowserPanel(EmojiBrowserViewModel* model, QWidget* parent = nullptr);
    EmojiBrowserView* view() const { return view_; }

private:
    EmojiBrowserView* view_;
};

// Owns the browser's model and window; remembers the window the user was typing in, gives it
// the keyboard back when the browser closes, and reports a pick once that window has it again.
class EmojiBrowserWindowController : public QObject, public EmojiBrowserPresenting {
    Q_OBJECT

public:
    static constexpr int reactivateDelayMs = 120;
    static const QString windowTitle;

    explicit EmojiBrowserWindowController(WindowActivation activation, QObject* parent = nullptr);
    ~EmojiBrowserWindowController() override;

    void show(const QList<EmojiEntry>& entries) override;
    // A session asked for by the input-method module: the keys reach the window itself, no hook
    // sees them, and the pick or dismissal goes to `callbacks` rather than the standing ones.
    void showForInputMethod(const QList<EmojiEntry>& entries, EmojiBrowserCallbacks callbacks);
    // Builds the window hidden and renders its first screen in idle time, a few milliseconds at a
    // time, so that the first opening only maps a window that is ready. prepared() follows.
    // Does nothing once the window exists.
    void prepare(const QList<EmojiEntry>& entries);
    EmojiBrowserModelDriving& model() override;
    void setCallbacks(EmojiBrowserCallbacks callbacks) override;

    EmojiBrowserViewModel& viewModel() const { return *model_; }
    // None before the first show; then kept and reused.
    EmojiBrowserPanel* panel() const { return panel_.get(); }
    bool isFinishing() const { return isFinishing_; }
    quint32 targetWindow() const { return targetWindow_; }

    // Closes the browser; with an entry, reports it as picked after the target window has the
    // keyboard again, otherwise reports a dismissal at once. Only the first call of a session acts.
    void finish(const std::optional<EmojiEntry>& entry);
    void cancel() { finish(std::nullopt); }

Q_SIGNALS:
    void prepared();

private:
    void createPanel();
    void makeKey();
    void routeOwnKey(const QKeyEvent& key);

    EmojiBrowserViewModel* model_;
    std::unique_ptr<EmojiBrowserPanel> panel_;
    quint32 targetWindow_ = 0;
    bool isFinishing_ = false;
    EmojiBrowserCallbacks callbacks_;
    std::optional<EmojiBrowserCallbacks> sessionCallbacks_;
    WindowActivation activation_;
};

} // namespace pimsel

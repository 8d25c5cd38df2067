#include "ui/emoji_browser_window_controller.h"

#include "engine/panel_keys.h"
#include "platform/key_mapping.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/palette.h"

#include <QKeyEvent>
#include <QPixmap>
#include <QTimer>

namespace pimsel {

// ---- Panel ------------------------------------------------------------------------------------

EmojiBrowserPanel::EmojiBrowserPanel(EmojiBrowserViewModel* model, QWidget* parent)
    : KeyPanel(parent)
    , view_(new EmojiBrowserView(model, this)) {
    setContent(view_, QSize(EmojiBrowserView::panelWidth, EmojiBrowserView::panelHeight));
}

// ---- Controller -------------------------------------------------------------------------------

const QString EmojiBrowserWindowController::windowTitle = QStringLiteral("Browse Emoji");

EmojiBrowserWindowController::EmojiBrowserWindowController(WindowActivation activation, QObject* parent)
    : QObject(parent)
    , model_(new EmojiBrowserViewModel(this))
    , activation_(std::move(activation)) {
    // The model lives exactly as long as the controller, so it may call back into it freely.
    model_->onPick = [this](const EmojiEntry& entry) { finish(entry); };
    model_->onClose = [this] { cancel(); };
}

EmojiBrowserWindowController::~EmojiBrowserWindowController() {
    // Hiding a dying window must not come back here as a dismissal.
    if (panel_)
        panel_->disconnect(this);
}

EmojiBrowserModelDriving& EmojiBrowserWindowController::model() {
    return *model_;
}

void EmojiBrowserWindowController::setCallbacks(EmojiBrowserCallbacks callbacks) {
    callbacks_ = std::move(callbacks);
}

void EmojiBrowserWindowController::show(const QList<EmojiEntry>& entries) {
    sessionCallbacks_.reset();
    if (panel_)
        panel_->ownKeys = nullptr;
    const quint32 active = activation_.activeWindow ? activation_.activeWindow() : 0;
    // Reopened before the focus went back: the panel itself is no target.
    if (!panel_ || active != static_cast<quint32>(panel_->winId()))
        targetWindow_ = active;
    isFinishing_ = false;
    model_->load(entries);
    if (!panel_)
        createPanel();
    panel_->show();
    panel_->raise();
    // The keyboard is taken once the window is mapped, unless the session already ended.
    QTimer::singleShot(0, this, [this] {
        if (panel_ && !isFinishing_)
            makeKey();
    });
}

void EmojiBrowserWindowController::showForInputMethod(const QList<EmojiEntry>& entries,
                                                      EmojiBrowserCallbacks callbacks) {
    // A session still open is answered before another takes the window.
    if (panel_ && panel_->isVisible())
        cancel();
    show(entries);
    sessionCallbacks_ = std::move(callbacks);
    panel_->ownKeys = [this](const QKeyEvent& key) { routeOwnKey(key); };
}

void EmojiBrowserWindowController::routeOwnKey(const QKeyEvent& key) {
    Modifiers modifiers;
    const Qt::KeyboardModifiers held = key.modifiers();
    if (held & Qt::ShiftModifier)
        modifiers |= Modifier::shift;
    if (held & Qt::ControlModifier)
        modifiers |= Modifier::control;
    if (held & Qt::AltModifier)
        modifiers |= Modifier::alt;
    if (held & Qt::MetaModifier)
        modifiers |= Modifier::super;
    // On X11 and on Wayland alike, the native virtual key is the keysym.
    if (const std::optional<InputEvent> read = keyDownEvent(key.nativeVirtualKey(), key.text(), modifiers))
        panel_keys::route(*model_, read->action, read->text, /*tabPicks=*/false);
}

void EmojiBrowserWindowController::prepare(const QList<EmojiEntry>& entries) {
    if (panel_)
        return;
    model_->load(entries);
    createPanel();
    // Painting one pixel offscreen lays the hidden window out, so that the grid knows which
    // cells fill its first screen before it renders them.
    QPixmap pixel(1, 1);
    panel_->render(&pixel, QPoint(), QRegion(0, 0, 1, 1));
    EmojiBrowserGrid* grid = panel_->view()->grid();
    connect(
        grid, &EmojiBrowserGrid::warmedUp, this,
        [this] {
            // Opened meanwhile, its own paint did the rest. Otherwise one offscreen paint
            // polishes the widgets and loads the text fonts, and the native window is made now
            // rather than while the user waits for it.
            if (!panel_->isVisible()) {
                QPixmap scratch(panel_->size() * panel_->devicePixelRatioF());
                scratch.setDevicePixelRatio(panel_->devicePixelRatioF());
                panel_->render(&scratch);
                panel_->winId();
            }
            Q_EMIT prepared();
        },
        Qt::SingleShotConnection);
    grid->warmUpInBackground();
}

void EmojiBrowserWindowController::makeKey() {
    panel_->takeKeyboard(activation_);
}

void EmojiBrowserWindowController::createPanel() {
    panel_ = std::make_unique<EmojiBrowserPanel>(model_);
    panel_->setUpFloating(windowTitle);
    panel_->view()->onActivate = [this](const EmojiEntry& entry) { finish(entry); };
    connect(panel_.get(), &EmojiBrowserPanel::resignedKey, this, &EmojiBrowserWindowController::cancel);
    connect(panel_.get(), &EmojiBrowserPanel::closeRequested, this, &EmojiBrowserWindowController::cancel);
}

void EmojiBrowserWindowController::finish(const std::optional<EmojiEntry>& entry) {
    if (isFinishing_)
        return;
    isFinishing_ = true;
    if (panel_)
        panel_->hide();
    if (targetWindow_ != 0 && activation_.activate)
        activation_.activate(targetWindow_);
    const EmojiBrowserCallbacks callbacks = sessionCallbacks_.value_or(callbacks_);
    sessionCallbacks_.reset();
    if (entry) {
        // The target needs the keyboard back before the emoji can be typed into it.
        QTimer::singleShot(reactivateDelayMs, this, [callbacks, picked = *entry] {
            if (callbacks.onPick)
                callbacks.onPick(picked);
        });
    } else if (callbacks.onDismiss) {
        callbacks.onDismiss();
    }
}

} // namespace pimsel

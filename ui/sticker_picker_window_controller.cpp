#include "ui/sticker_picker_window_controller.h"

#include "ui/palette.h"
#include "ui/sticker_picker_view.h"

#include <QTimer>

namespace pimsel {

// ---- Panel ------------------------------------------------------------------------------------

StickerPickerPanel::StickerPickerPanel(StickerPickerViewModel* model, QWidget* parent)
    : KeyPanel(parent)
    , view_(new StickerPickerView(model, this)) {
    setContent(view_, QSize(StickerPickerView::panelWidth, StickerPickerView::panelHeight));
}

// ---- Controller -------------------------------------------------------------------------------

const QString StickerPickerWindowController::windowTitle = QStringLiteral("Stickers");

StickerPickerWindowController::StickerPickerWindowController(StickerPickerViewModel::ImageLoader loadImage,
                                                             WindowActivation activation, QObject* parent)
    : QObject(parent)
    , model_(new StickerPickerViewModel(std::move(loadImage), this))
    , activation_(std::move(activation)) {
    // The model lives exactly as long as the controller, so it may call back into it freely.
    model_->onPick = [this](const StickerEntry& entry) { finish(entry); };
    model_->onClose = [this] { finish(std::nullopt); };
}

StickerPickerWindowController::~StickerPickerWindowController() {
    // Hiding a dying window must not come back here as a dismissal.
    if (panel_)
        panel_->disconnect(this);
}

StickerPickerModelDriving& StickerPickerWindowController::model() {
    return *model_;
}

void StickerPickerWindowController::setCallbacks(StickerPickerCallbacks callbacks) {
    callbacks_ = std::move(callbacks);
}

void StickerPickerWindowController::show() {
    const quint32 active = activation_.activeWindow ? activation_.activeWindow() : 0;
    // Reopened before the focus went back: the panel itself is no target.
    if (!panel_ || active != static_cast<quint32>(panel_->winId()))
        targetWindow_ = active;
    isFinishing_ = false;
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

void StickerPickerWindowController::makeKey() {
    panel_->takeKeyboard(activation_);
}

void StickerPickerWindowController::createPanel() {
    panel_ = std::make_unique<StickerPickerPanel>(model_);
    panel_->setUpFloating(windowTitle);
    panel_->view()->onActivate = [this](const StickerEntry& entry) { finish(entry); };
    connect(panel_.get(), &StickerPickerPanel::resignedKey, this, [this] { finish(std::nullopt); });
    connect(panel_.get(), &StickerPickerPanel::closeRequested, this, [this] { finish(std::nullopt); });
}

void StickerPickerWindowController::orderOut() {
    isFinishing_ = true;
    if (panel_)
        panel_->hide();
}

void StickerPickerWindowController::finish(const std::optional<StickerEntry>& entry) {
    if (isFinishing_)
        return;
    isFinishing_ = true;
    if (panel_)
        panel_->hide();
    if (targetWindow_ != 0 && activation_.activate)
        activation_.activate(targetWindow_);
    if (entry) {
        // The messaging window needs the keyboard back before the sticker can be pasted into it.
        QTimer::singleShot(reactivateDelayMs, this, [this, picked = *entry] {
            if (callbacks_.onPick)
                callbacks_.onPick(picked);
        });
    } else if (callbacks_.onDismiss) {
        callbacks_.onDismiss();
    }
}

} // namespace pimsel

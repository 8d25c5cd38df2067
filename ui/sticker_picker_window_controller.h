#pragma once

#include "engine/ports.h"
#include "stickers/sticker_picker_view_model.h"
#include "ui/key_panel.h"
#include "ui/window_activation.h"

#include <QObject>
#include <QWidget>

#include <memory>
#include <optional>

namespace pimsel {

class StickerPickerView;

// The picker's top-level window.
class StickerPickerPanel : public KeyPanel {
public:
    explicit StickerPickerPanel(StickerPickerViewModel* model, QWidget* parent = nullptr);
    StickerPickerView* view() const { return view_; }

private:
    StickerPickerView* view_;
};

// Owns the sticker and GIF picker's model and window. Remembers the window the user was typing
// in when the picker opened, gives it the keyboard back when the picker closes, and reports a
// pick only once that window has it again, so that the paste lands there.
class StickerPickerWindowController : public QObject, public StickerPickerPresenting {
    Q_OBJECT

public:
    static constexpr int reactivateDelayMs = 120;
    static const QString windowTitle;

    StickerPickerWindowController(StickerPickerViewModel::ImageLoader loadImage, WindowActivation activation,
                                  QObject* parent = nullptr);
    ~StickerPickerWindowController() override;

    StickerPickerModelDriving& model() override;
    // The model must have been loaded before.
    void show() override;
    // Hides the picker without a report and without touching the focus: the user has moved on to
    // another window, which must keep the keyboard.
    void orderOut() override;
    void setCallbacks(StickerPickerCallbacks callbacks) override;

    // Closes the picker; with an entry, reports it as picked after the target window has the
    // keyboard again, otherwise reports a dismissal at once. Only the first call of a session acts.
    void finish(const std::optional<StickerEntry>& entry);

    StickerPickerViewModel& viewModel() const { return *model_; }
    // None before the first show; then kept and reused.
    StickerPickerPanel* panel() const { return panel_.get(); }
    bool isFinishing() const { return isFinishing_; }
    quint32 targetWindow() const { return targetWindow_; }

private:
    void createPanel();
    void makeKey();

    StickerPickerViewModel* model_;
    std::unique_ptr<StickerPickerPanel> panel_;
    quint32 targetWindow_ = 0;
    bool isFinishing_ = false;
    StickerPickerCallbacks callbacks_;
    WindowActivation activation_;
};

} // namespace pimsel

#pragma once

#include "engine/ports.h"
#include "ui/popover_placement.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace pimsel {

class SuggestionPanelView;
class SuggestionViewModel;

// What the popover window reads from the desktop; replaced in tests.
struct SuggestionDesktop {
    std::function<QList<ScreenArea>()> screens;
    std::function<std::optional<int>()> primaryScreen; // index into screens()
    std::function<QPoint()> pointer;
    std::function<bool()> isCompositorRunning;

    static SuggestionDesktop system();
};

// The suggestion popover: a borderless window next to the caret that never takes the keyboard,
// so the keys stay with the application the user types in. Created on first show, then reused.
class SuggestionWindowController : public QObject, public SuggestionPresenting {
    Q_OBJECT

public:
    explicit SuggestionWindowController(SuggestionDesktop desktop = SuggestionDesktop::system(),
                                        QObject* parent = nullptr);
    ~SuggestionWindowController() override;

    void show(const QList<EmojiEntry>& results, int selectedIndex, const std::optional<QRect>& anchor,
              const QString& triggerText) override;
    void hide() override;
    void updateSelection(int row) override;
    void showToneVariants(const QStringList& variants, int highlightedIndex) override;
    void hideToneVariants() override;
    bool containsGlobalPoint(const QPoint& point) const override;
    void setCallbacks(SuggestionCallbacks callbacks) override;
    void whenDrawn(std::function<void()> then) override;

    SuggestionViewModel& model() const { return *model_; }
    // The panel window; none before the first show. Hidden, it stays mapped off every screen.
    SuggestionPanelView* panel() const { return panel_.get(); }
    const std::optional<QRect>& currentAnchor() const { return currentAnchor_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createPanel(bool translucent);
    void resizeAndPlace();
    void updateShape();

    SuggestionDesktop desktop_;
    SuggestionViewModel* model_;
    std::unique_ptr<SuggestionPanelView> panel_;
    std::optional<QRect> currentAnchor_;
    bool isShown_ = false;
    bool isBlended_ = false;     // see-through window and a compositor to blend it
    bool awaitingPaint_ = false; // shown, its first paint not yet logged
    std::function<void()> afterPaint_;
};

} // namespace pimsel

#include "ui/suggestion_window_controller.h"

#include "ui/palette.h"
#include "ui/suggestion_compositor.h"
#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

#include <chrono>
#include <utility>

namespace pimsel {

// The popover's share of the way from a key to what the user sees, next to the input hook's.
Q_LOGGING_CATEGORY(popoverTimingLog, "input", QtInfoMsg)

namespace {

long long steadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QList<ScreenArea> systemScreens() {
    QList<ScreenArea> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append({screen->geometry(), screen->availableGeometry()});
    return areas;
}

std::optional<int> systemPrimaryScreen() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    const qsizetype index = QGuiApplication::screens().indexOf(primary);
    return primary != nullptr && index >= 0 ? std::optional<int>(static_cast<int>(index)) : std::nullopt;
}

// X screens never lie at negative coordinates, so a window above and left of the origin is on none.
QPoint parkedPosition(const QSize& size) {
    return {-size.width() - 64, -size.height() - 64};
}

QRegion roundedRegion(const QSize& size) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), palette::cornerMedium, palette::cornerMedium);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace

SuggestionDesktop SuggestionDesktop::system() {
    return {systemScreens, systemPrimaryScreen, [] { return QCursor::pos(); }, pimsel::isCompositorRunning};
}

SuggestionWindowController::SuggestionWindowController(SuggestionDesktop desktop, QObject* parent)
    : QObject(parent)
    , desktop_(std::move(desktop))
    , model_(new SuggestionViewModel(this)) {}

SuggestionWindowController::~SuggestionWindowController() = default;

void SuggestionWindowController::show(const QList<EmojiEntry>& results, int selectedIndex,
                                      const std::optional<QRect>& anchor, const QString& triggerText) {
    model_->setResults(results);
    model_->setSelectedIndex(selectedIndex);
    model_->setTrigger(triggerText);
    currentAnchor_ = anchor;
    // A compositor can stop or start after the window was made: asked again on each show, not on
    // every resize, since it costs a round trip to the X server.
    const bool compositor = desktop_.isCompositorRunning && desktop_.isCompositorRunning();
    if (!panel_)
        createPanel(compositor);
    isBlended_ = panel_->hasTranslucentBackdrop() && compositor;
    const bool appears = !std::exchange(isShown_, true);
    resizeAndPlace();
    const bool mapped = panel_->isVisible();
    if (!mapped)
        panel_->show(); // painted on its first expose
    panel_->raise();
    if (!appears)
        return;
    awaitingPaint_ = true;
    qCDebug(popoverTimingLog) << "timing: popover shown at" << steadyMicroseconds() << "us";
    // Back from where it was parked, it is painted at once: no map and expose to wait for, whose
    // delivery a busy machine delays by several milliseconds.
    if (mapped)
        panel_->repaint();
}

bool SuggestionWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && std::exchange(awaitingPaint_, false)) {
        qCDebug(popoverTimingLog) << "timing: popover painted at" << steadyMicroseconds() << "us";
        // After this paint, not inside it: the work may show the popover again.
        if (afterPaint_)
            QMetaObject::invokeMethod(this, std::exchange(afterPaint_, {}), Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void SuggestionWindowController::hide() {
    afterPaint_ = {};
    if (!panel_ || !std::exchange(isShown_, false))
        return;
    // Parked off every screen rather than unmapped, so that the next show needs no round trips.
    panel_->move(parkedPosition(panel_->size()));
}

void SuggestionWindowController::whenDrawn(std::function<void()> then) {
    // One piece of work waits at most: should the paint never come, the next key's goes ahead.
    if (awaitingPaint_ && !afterPaint_)
        afterPaint_ = std::move(then);
    else
        then();
}

void SuggestionWindowController::updateSelection(int row) {
    model_->setSelectedIndex(row);
}

void SuggestionWindowController::showToneVariants(const QStringList& variants, int highlightedIndex) {
    model_->setToneVariants(variants);
    model_->setSelectedToneIndex(highlightedIndex);
    resizeAndPlace();
}

void SuggestionWindowController::hideToneVariants() {
    if (!model_->hasToneVariants())
        return;
    model_->setToneVariants({});
    resizeAndPlace();
}

bool SuggestionWindowController::containsGlobalPoint(const QPoint& point) const {
    return isShown_ && panel_->frameGeometry().contains(point);
}

void SuggestionWindowController::setCallbacks(SuggestionCallbacks callbacks) {
    model_->onPick = std::move(callbacks.onPick);
    model_->onHover = std::move(callbacks.onHover);
    model_->onPickTone = std::move(callbacks.onPickTone);
}

void SuggestionWindowController::createPanel(bool translucent) {
    panel_ = std::make_unique<SuggestionPanelView>(model_);
    panel_->installEventFilter(this);
    // A tooltip-type window is left alone by the window manager: no focus, no taskbar entry, no
    // activation, yet it still gets the pointer.
    panel_->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    panel_->setFocusPolicy(Qt::NoFocus);
    // The see-through surface has to be chosen before the native window exists.
    panel_->setAttribute(Qt::WA_TranslucentBackground, translucent);
    panel_->setTranslucentBackdrop(translucent);
    panel_->setWindowTitle(QStringLiteral("Pimsel suggestions"));
}

void SuggestionWindowController::resizeAndPlace() {
    if (!panel_)
        return;
    const QSize size =
        suggestion_layout::panelSize(static_cast<int>(model_->results().size()), model_->hasToneVariants());
    if (!isShown_) {
        panel_->setGeometry(QRect(parkedPosition(size), size));
        updateShape();
        return;
    }
    PopoverPlacementInput input;
    input.caret = currentAnchor_;
    input.pointer = !currentAnchor_ && desktop_.pointer ? desktop_.pointer() : QPoint();
    input.panelSize = size;
    if (desktop_.screens)
        input.screens = desktop_.screens();
    if (desktop_.primaryScreen)
        input.primaryScreen = desktop_.primaryScreen();
    panel_->setGeometry(QRect(placePopover(input), size));
    updateShape();
}

void SuggestionWindowController::updateShape() {
    // Without a compositor the corners of a see-through window would show garbage, so they are cut
    // away instead.
    if (isBlended_)
        panel_->clearMask();
    else
        panel_->setMask(roundedRegion(panel_->size()));
}

} // namespace pimsel

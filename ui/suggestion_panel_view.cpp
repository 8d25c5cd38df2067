#include "ui/suggestion_panel_view.h"

#include "ui/palette.h"
#include "ui/suggestion_layout.h"
#include "ui/suggestion_view_model.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace pimsel {

namespace layout = suggestion_layout;

namespace {

// Stand-in for the frosted material behind the ink layer: the compositor blends what is under
// the panel through it; without one it is solid.
constexpr double backdropMaterialOpacity = 0.72;
constexpr double inkOpacity = 0.86;
constexpr double borderOpacity = 0.28;
constexpr double selectedTriggerOpacity = 0.55;
constexpr double triggerOpacity = 0.9;
constexpr qreal toneBorderWidth = 1.5;

QPainterPath roundedPath(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Half-open, so a point on the line between two rows belongs to exactly one of them.
bool holds(const QRect& rect, const QPointF& point) {
    return point.x() >= rect.x() && point.x() < rect.x() + rect.width() && point.y() >= rect.y() &&
           point.y() < rect.y() + rect.height();
}

QString rowLabel(const EmojiEntry& entry) {
    return entry.aliases.isEmpty() ? entry.name : entry.aliases.first();
}

} // namespace

SuggestionPanelView::SuggestionPanelView(SuggestionViewModel* model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setMouseTracking(true);
    palette::applyDarkAppearance(this);
    for (auto signal :
         {&SuggestionViewModel::resultsChanged, &SuggestionViewModel::selectedIndexChanged,
          &SuggestionViewModel::toneVariantsChanged, &SuggestionViewModel::selectedToneIndexChanged,
          &SuggestionViewModel::triggerChanged}) {
        connect(model, signal, this, qOverload<>(&QWidget::update));
    }
}

void SuggestionPanelView::setTranslucentBackdrop(bool translucent) {
    if (translucent == translucent_)
        return;
    translucent_ = translucent;
    update();
}

QSize SuggestionPanelView::sizeHint() const {
    if (model_ == nullptr)
        return layout::panelSize(0, false);
    return layout::panelSize(static_cast<int>(model_->results().size()), model_->hasToneVariants());
}

std::optional<int> SuggestionPanelView::rowAt(const QPointF& point) const {
    if (model_ == nullptr)
        return std::nullopt;
    const int count = static_cast<int>(model_->results().size());
    for (int row = 0; row < count; ++row) {
        if (holds(layout::rowRect(row), point))
            return row;
    }
    return std::nullopt;
}

std::optional<int> SuggestionPanelView::toneCellAt(const QPointF& point) const {
    if (model_ == nullptr)
        return std::nullopt;
    const int rows = static_cast<int>(model_->results().size());
    const int variants = static_cast<int>(model_->toneVariants().size());
    for (int variant = 0; variant < variants; ++variant) {
        if (holds(layout::toneCellRect(rows, variants, variant), point))
            return variant;
    }
    return std::nullopt;
}

SuggestionPanelView::Hit SuggestionPanelView::hitAt(const QPointF& point) const {
    if (const std::optional<int> row = rowAt(point))
        return {Target::row, *row};
    if (const std::optional<int> cell = toneCellAt(point))
        return {Target::tone, *cell};
    return {};
}

void SuggestionPanelView::pointerMovedTo(const QPointF& point) {
    const int row = rowAt(point).value_or(-1);
    if (row == hoveredRow_)
        return;
    hoveredRow_ = row;
    if (row >= 0 && model_ != nullptr && model_->onHover)
        model_->onHover(row);
}

void SuggestionPanelView::mouseMoveEvent(QMouseEvent* event) {
    if (restingAt_ && *restingAt_ == event->globalPosition())
        return;
    restingAt_.reset();
    pointerMovedTo(event->position());
}

void SuggestionPanelView::enterEvent(QEnterEvent* event) {
    // The panel may have appeared under a pointer that never moved: only motion points at a row.
    restingAt_ = event->globalPosition();
}

void SuggestionPanelView::leaveEvent(QEvent*) {
    hoveredRow_ = -1;
    restingAt_.reset();
}

void SuggestionPanelView::hideEvent(QHideEvent*) {
    hoveredRow_ = -1;
    restingAt_.reset();
    pressed_ = {};
}

void SuggestionPanelView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? hitAt(event->position()) : Hit{};
}

void SuggestionPanelView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const Hit pressed = pressed_;
    pressed_ = {};
    if (pressed.target == Target::none || hitAt(event->position()) != pressed || model_ == nullptr)
        return;
    // The callback may hide this view or replace the model's contents; nothing here runs after it.
    if (pressed.target == Target::row && model_->onPick)
        model_->onPick(pressed.index);
    else if (pressed.target == Target::tone && model_->onPickTone)
        model_->onPickTone(pressed.index);
}

void SuggestionPanelView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paintBackdrop(painter);
    if (model_ == nullptr)
        return;
    const int count = static_cast<int>(model_->results().size());
    for (int row = 0; row < count; ++row)
        paintRow(painter, row);
    if (model_->hasToneVariants())
        paintToneStrip(painter);
}

void SuggestionPanelView::paintBackdrop(QPainter& painter) const {
    const QRectF bounds = QRectF(rect());
    const QPainterPath shape = roundedPath(bounds, palette::cornerMedium);
    if (translucent_) {
        painter.fillPath(shape, palette::withOpacity(palette::inkRaised, backdropMaterialOpacity));
    } else {
        painter.fillRect(bounds, palette::inkRaised);
    }
    painter.fillPath(shape, palette::withOpacity(palette::ink, inkOpacity));
    // Stroked inside the shape: half a pixel in, so the whole line width stays within it.
    painter.setPen(QPen(palette::withOpacity(palette::accent, borderOpacity), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(roundedPath(bounds.adjusted(0.5, 0.5, -0.5, -0.5), palette::cornerMedium - 0.5));
}

void SuggestionPanelView::paintRow(QPainter& painter, int row) const {
    const EmojiEntry& entry = model_->results().at(row);
    const bool selected = row == model_->selectedIndex();
    if (selected) {
        painter.fillPath(roundedPath(QRectF(layout::rowRect(row)), palette::cornerSmall), palette::accent);
    }

    painter.setFont(palette::emojiFont(layout::emojiPixelSize));
    painter.setPen(palette::cream);
    painter.drawText(layout::rowEmojiRect(row), Qt::AlignCenter | Qt::TextDontClip, entry.emoji);

    const QFont labelFont =
        palette::textFont(layout::labelPixelSize, selected ? QFont::DemiBold : QFont::Normal);
    const QFontMetrics metrics(labelFont);
    painter.setFont(labelFont);
    QRect label = layout::rowLabelRect(row);
    const QString trigger = metrics.elidedText(model_->trigger(), Qt::ElideRight, label.width());
    painter.setPen(selected ? palette::withOpacity(palette::ink, selectedTriggerOpacity)
                            : palette::withOpacity(palette::accent, triggerOpacity));
    painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, trigger);
    label.setLeft(label.left() + metrics.horizontalAdvance(trigger));

    const QString alias = metrics.elidedText(rowLabel(entry), Qt::ElideRight, std::max(label.width(), 0));
    painter.setPen(selected ? palette::ink : palette::cream);
    painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, alias);
}

void SuggestionPanelView::paintToneStrip(QPainter& painter) const {
    const int rows = static_cast<int>(model_->results().size());
    const QStringList& variants = model_->toneVariants();
    const int count = static_cast<int>(variants.size());
    painter.fillRect(layout::hairlineRect(rows), palette::hairline());

    painter.setFont(palette::emojiFont(layout::toneEmojiPixelSize));
    for (int variant = 0; variant < count; ++variant) {
        const QRectF cell = QRectF(layout::toneCellRect(rows, count, variant));
        if (variant == model_->selectedToneIndex()) {
            painter.fillPath(roundedPath(cell, palette::cornerSmall), palette::accentWash());
            const qreal inset = toneBorderWidth / 2;
            painter.setPen(QPen(palette::accent, toneBorderWidth));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(
                roundedPath(cell.adjusted(inset, inset, -inset, -inset), palette::cornerSmall - inset));
        }
        painter.setPen(palette::cream);
        painter.drawText(cell, Qt::AlignCenter | Qt::TextDontClip, variants.at(variant));
    }
}

} // namespace pimsel

#include "ui/sticker_picker_grid.h"

#include "stickers/sticker_catalog.h"
#include "stickers/sticker_picker_view_model.h"
#include "ui/palette.h"
#include "ui/sticker_preview.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace pimsel {

namespace {

constexpr int emptyEmojiSize = 34;
constexpr int emptyTextSize = 13;
constexpr int emptyStateSpacing = 8;
constexpr int spinnerSide = 16;
// The placeholder emoji fills most of the preview, as the animation that replaces it will.
constexpr double placeholderEmojiScale = 0.72;

void fillRounded(QPainter& painter, const QRectF& rect, const QColor& color) {
    QPainterPath path;
    path.addRoundedRect(rect, palette::cornerSmall, palette::cornerSmall);
    painter.fillPath(path, color);
}

} // namespace

// ---- Layout -----------------------------------------------------------------------------------

int StickerGridLayout::cellHeight() const {
    return (isGifMode ? gifPreviewHeight : stickerPreviewSide) + 2 * previewInset;
}

int StickerGridLayout::contentHeight() const {
    const int r = rows();
    return r == 0 ? 0 : 2 * padding + r * cellHeight() + (r - 1) * spacing;
}

QRect StickerGridLayout::cellRect(int index) const {
    if (index < 0 || index >= count)
        return {};
    const double columnWidth =
        std::max<double>(minimumColumnWidth, double(width - 2 * padding - (columns - 1) * spacing) / columns);
    const int column = index % columns;
    const int row = index / columns;
    const int left = padding + int(std::lround(column * (columnWidth + spacing)));
    const int right = padding + int(std::lround(column * (columnWidth + spacing) + columnWidth));
    return QRect(left, padding + row * (cellHeight() + spacing), right - left, cellHeight());
}

QRect StickerGridLayout::previewRect(int index) const {
    const QRect cell = cellRect(index);
    if (cell.isNull())
        return {};
    QRect preview = cell.adjusted(previewInset, previewInset, -previewInset, -previewInset);
    if (!isGifMode && preview.width() > stickerPreviewSide) {
        preview.setLeft(cell.left() + (cell.width() - stickerPreviewSide) / 2);
        preview.setWidth(stickerPreviewSide);
    }
    return preview;
}

int StickerGridLayout::indexAt(const QPoint& p) const {
    if (count == 0 || p.y() < padding)
        return -1;
    const int row = (p.y() - padding) / (cellHeight() + spacing);
    for (int column = 0; column < columns; ++column) {
        const int index = row * columns + column;
        if (cellRect(index).contains(p))
            return index;
    }
    return -1;
}

// ---- Grid -------------------------------------------------------------------------------------

StickerPickerGrid::StickerPickerGrid(StickerPickerViewModel* model, QWidget* parent)
    : QAbstractScrollArea(parent)
    , model_(model) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    animation_.setInterval(animationIntervalMs);
    connect(&animation_, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));
    clock_.start();

    for (auto signal :
         {&StickerPickerViewModel::searchResultsChanged, &StickerPickerViewModel::allStickersChanged,
          &StickerPickerViewModel::queryChanged, &StickerPickerViewModel::showsGiphyAttributionChanged})
        connect(model_, signal, this, &StickerPickerGrid::itemsChanged);
    connect(model_, &StickerPickerViewModel::isLoadingChanged, viewport(), qOverload<>(&QWidget::update));
    connect(model_, &StickerPickerViewModel::loadedImagesChanged, this, [this] {
        updateAnimation();
        viewport()->update();
    });
    connect(model_, &StickerPickerViewModel::selectedIndexChanged, this, [this] {
        centreOnSelection();
        viewport()->update();
    });
    itemsChanged();
}

int StickerPickerGrid::scrollY() const {
    return verticalScrollBar()->value();
}

void StickerPickerGrid::itemsChanged() {
    items_ = model_->displayedItems();
    hoveredIndex_ = pressedIndex_ = -1;
    relayout();
    verticalScrollBar()->setValue(0);
    centreOnSelection();
    updateAnimation();
    viewport()->update();
}

void StickerPickerGrid::relayout() {
    layout_.width = viewport()->width();
    layout_.columns = model_->columns();
    layout_.isGifMode = model_->isGifMode();
    layout_.count = int(items_.size());
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(layout_.cellHeight() / 2);
    verticalScrollBar()->setRange(0, std::max(0, layout_.contentHeight() - viewport()->height()));
}

void StickerPickerGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void StickerPickerGrid::centreOnSelection() {
    const QRect cell = layout_.cellRect(model_->selectedIndex());
    if (cell.isNull())
        return;
    verticalScrollBar()->setValue(cell.center().y() - viewport()->height() / 2);
}

void StickerPickerGrid::updateAnimation() {
    // One timer drives every animated preview, and only while there is one to play.
    const QVariantHash& images = model_->loadedImages();
    const bool anyAnimated = std::any_of(images.begin(), images.end(), [](const QVariant& image) {
        return image.value<StickerPreview>().isAnimated();
    });
    if (anyAnimated && !items_.isEmpty() && isVisible())
        animation_.start();
    else
        animation_.stop();
}

QString StickerPickerGrid::emptyStateText() const {
    if (!items_.isEmpty())
        return {};
    if (model_->isLoading())
        return QStringLiteral("Searching…");
    QString text =
        QStringLiteral("No ") + (model_->isGifMode() ? QStringLiteral("GIFs") : QStringLiteral("stickers"));
    if (model_->hasQuery())
        text += QStringLiteral(" match \u201C") + model_->query() + QStringLiteral("\u201D");
    return text;
}

int StickerPickerGrid::indexAtViewportPoint(const QPoint& point) const {
    return layout_.indexAt(point + QPoint(0, scrollY()));
}

QPixmap StickerPickerGrid::emojiPixmap(const QString& emoji, int side, qreal dpr) {
    const QString key = QStringLiteral("%1/%2/%3").arg(emoji).arg(side).arg(dpr);
    if (const QPixmap* cached = emojiCache_.object(key))
        return *cached;
    QPixmap pixmap(QSize(side, side) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(palette::emojiFont(int(side * placeholderEmojiScale)));
        painter.setPen(palette::cream);
        painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, emoji);
    }
    emojiCache_.insert(key, new QPixmap(pixmap));
    return pixmap;
}

void StickerPickerGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette::ink);
    if (items_.isEmpty()) {
        paintEmptyState(painter);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int y = scrollY();
    const QRect exposed = event->rect().translated(0, y);
    const int rowPitch = layout_.cellHeight() + StickerGridLayout::spacing;
    const int firstRow = std::max(0, (exposed.top() - StickerGridLayout::padding) / rowPitch);
    const int lastRow =
        std::min(layout_.rows() - 1, (exposed.bottom() - StickerGridLayout::padding) / rowPitch);
    painter.translate(0, -y);
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int column = 0; column < layout_.columns; ++column) {
            const int index = row * layout_.columns + column;
            if (index >= items_.size())
                break;
            paintCell(painter, index, items_[index], layout_.cellRect(index));
        }
    }
}

void StickerPickerGrid::paintCell(QPainter& painter, int index, const StickerEntry& entry,
                                  const QRect& cell) {
    if (index == model_->selectedIndex() || index == hoveredIndex_ || index == pressedIndex_)
        fillRounded(painter, cell, palette::accentWash());
    const QRect frame = layout_.previewRect(index);
    const QVariant image = model_->loadedImages().value(entry.id);
    if (image.canConvert<StickerPreview>()) {
        const StickerPreview preview = image.value<StickerPreview>();
        const QImage& shown = preview.frameAt(clock_.elapsed());
        QSizeF size = shown.size().scaled(frame.size(), Qt::KeepAspectRatio);
        QRectF target(QPointF(), size);
        target.moveCenter(QRectF(frame).center());
        painter.drawImage(target, shown);
        return;
    }
    // A cell that comes into view asks for its preview; the loader answers later, never here.
    model_->loadImageIfNeeded(entry);
    const QString emoji = sticker_catalog::emojiOf(entry);
    if (emoji.isEmpty()) {
        fillRounded(painter, frame, palette::withOpacity(palette::cream, 0.05));
        return;
    }
    const int side = std::min(frame.width(), frame.height());
    QRect square(0, 0, side, side);
    square.moveCenter(frame.center());
    painter.drawPixmap(square.topLeft(), emojiPixmap(emoji, side, devicePixelRatioF()));
}

void StickerPickerGrid::paintEmptyState(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing);
    const int width = viewport()->width();
    const QFont textFont = palette::textFont(emptyTextSize);
    const int textHeight = QFontMetrics(textFont).height();
    int top = emptyStateTop;
    if (model_->isLoading()) {
        // A quarter arc turning once a second stands for the progress indicator.
        const QRectF ring((width - spinnerSide) / 2.0, top, spinnerSide, spinnerSide);
        QPen pen(palette::accent, 2);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        const int angle = int(clock_.elapsed() % 1000) * 360 / 1000;
        painter.drawArc(ring.adjusted(1, 1, -1, -1), -angle * 16, 270 * 16);
        top += spinnerSide + emptyStateSpacing;
        QTimer::singleShot(animationIntervalMs, viewport(), qOverload<>(&QWidget::update));
    } else {
        const QFont emojiFont = palette::emojiFont(emptyEmojiSize);
        const int emojiHeight = QFontMetrics(emojiFont).height();
        painter.setFont(emojiFont);
        painter.setPen(palette::cream);
        painter.drawText(QRect(0, top, width, emojiHeight), Qt::AlignHCenter | Qt::AlignTop,
                         QStringLiteral("\U0001FAE5"));
        top += emojiHeight + emptyStateSpacing;
    }
    painter.setFont(textFont);
    painter.setPen(palette::creamSecondary());
    const QRect textRect(StickerGridLayout::padding, top, width - 2 * StickerGridLayout::padding, textHeight);
    painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop,
                     QFontMetrics(textFont).elidedText(emptyStateText(), Qt::ElideMiddle, textRect.width()));
}

bool StickerPickerGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = indexAtViewportPoint(help->pos());
        if (index >= 0 && index < items_.size())
            QToolTip::showText(help->globalPos(), items_[index].name, viewport());
        else
            QToolTip::hideText();
        return true;
    }
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
        QTimer::singleShot(0, this, &StickerPickerGrid::updateAnimation);
    return QAbstractScrollArea::viewportEvent(event);
}

void StickerPickerGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    pressedIndex_ = indexAtViewportPoint(event->position().toPoint());
    viewport()->update();
}

void StickerPickerGrid::mouseMoveEvent(QMouseEvent* event) {
    const int index = indexAtViewportPoint(event->position().toPoint());
    if (index != hoveredIndex_) {
        hoveredIndex_ = index;
        viewport()->update();
    }
}

void StickerPickerGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int pressed = std::exchange(pressedIndex_, -1);
    const int released = indexAtViewportPoint(event->position().toPoint());
    viewport()->update();
    if (pressed >= 0 && pressed == released && pressed < items_.size() && onActivate)
        onActivate(pressed, items_[pressed]);
}

void StickerPickerGrid::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    if (hoveredIndex_ != -1) {
        hoveredIndex_ = -1;
        viewport()->update();
    }
}

} // namespace pimsel

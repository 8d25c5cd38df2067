#include "ui/emoji_browser_grid.h"

#include "ui/emoji_browser_view_model.h"
#include "ui/palette.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace pimsel {

namespace {

constexpr int emojiPointSize = 25;
constexpr int emptyEmojiSize = 34;
constexpr int emptyTextSize = 13;
constexpr int headerTextSize = 11;
constexpr double headerBackgroundOpacity = 0.97;
// Rendering one emoji costs about a tenth of a millisecond; an idle step stays well inside a
// frame so that a key arriving meanwhile is not held up noticeably.
constexpr qint64 warmUpStepBudgetNs = 3'000'000;
// Screens' worth of rendered cells kept: enough that scrolling back a little or a search that
// narrows finds its cells rendered, few enough that a 40-point pixmap per emoji of the whole
// catalogue is never held at once.
constexpr int cachedScreens = 4;

QString tooltipFor(const EmojiEntry& entry) {
    const QString key = entry.aliases.isEmpty() ? entry.name : entry.aliases.first();
    return QStringLiteral(":") + key + QStringLiteral(":");
}

QFont headerFont() {
    return palette::textFont(headerTextSize, QFont::DemiBold);
}

QString emptyStateText(const QString& query) {
    return QStringLiteral("No emoji match \u201C") + query + QStringLiteral("\u201D");
}

} // namespace

// ---- Layout -----------------------------------------------------------------------------------

int EmojiGridLayout::gridHeight(int rows) {
    return rows <= 0 ? 0 : rows * cellSize + (rows - 1) * spacing;
}

double EmojiGridLayout::columnWidth() const {
    const double available = width_ - 2 * gridInset - (columns - 1) * spacing;
    return std::max(10.0, available / columns);
}

int EmojiGridLayout::cellLeft(int column) const {
    const double columnLeft = gridInset + column * (columnWidth() + spacing);
    return static_cast<int>(std::lround(columnLeft + (columnWidth() - cellSize) / 2));
}

void EmojiGridLayout::rebuild(const EmojiBrowserViewModel& model, int width, int headerHeight) {
    width_ = width;
    headerHeight_ = headerHeight;
    blocks_.clear();
    cellCount_ = 0;
    showsEmptyState_ = false;
    contentHeight_ = 0;

    if (model.isSearching()) {
        const int count = static_cast<int>(model.searchResults().size());
        if (count == 0) {
            showsEmptyState_ = true;
            return;
        }
        Block block;
        block.headerTop = 0;
        block.gridTop = gridInset;
        block.count = count;
        block.bottom = block.gridTop + gridHeight(block.rows()) + gridInset;
        blocks_.append(block);
        cellCount_ = count;
        contentHeight_ = block.bottom;
        return;
    }

    int y = 0;
    for (const EmojiBrowserSection& section : model.sections()) {
        Block block;
        block.title = section.title;
        block.headerTop = y;
        block.gridTop = y + headerHeight;
        block.firstIndex = cellCount_;
        block.count = static_cast<int>(section.entries.size());
        block.bottom = block.gridTop + gridHeight(block.rows()) + gridInset;
        y = block.bottom;
        cellCount_ += block.count;
        blocks_.append(block);
    }
    contentHeight_ = y;
}

int EmojiGridLayout::blockOf(int index) const {
    if (index < 0 || index >= cellCount_)
        return -1;
    const auto it = std::upper_bound(blocks_.cbegin(), blocks_.cend(), index,
                                     [](int i, const Block& block) { return i < block.firstIndex; });
    return static_cast<int>(it - blocks_.cbegin()) - 1;
}

QRect EmojiGridLayout::cellRect(int index) const {
    const int b = blockOf(index);
    if (b < 0)
        return {};
    const Block& block = blocks_[b];
    const int local = index - block.firstIndex;
    const int row = local / columns;
    const int column = local % columns;
    return QRect(cellLeft(column), block.gridTop + row * (cellSize + spacing), cellSize, cellSize);
}

int EmojiGridLayout::indexAt(const QPoint& p) const {
    for (const Block& block : blocks_) {
        if (p.y() < block.gridTop || p.y() >= block.bottom)
            continue;
        const int row = (p.y() - block.gridTop) / (cellSize + spacing);
        if (row >= block.rows() || p.y() - block.gridTop - row * (cellSize + spacing) >= cellSize)
            return -1;
        for (int column = 0; column < columns; ++column) {
            const int left = cellLeft(column);
            if (p.x() >= left && p.x() < left + cellSize) {
                const int local = row * columns + column;
                return local < block.count ? block.firstIndex + local : -1;
            }
        }
        return -1;
    }
    return -1;
}

int EmojiGridLayout::pinnedHeaderTop(int b, int scrollY) const {
    const Block& block = blocks_[b];
    return std::clamp(scrollY, block.headerTop, std::max(block.headerTop, block.bottom - headerHeight_));
}

// ---- Grid widget ------------------------------------------------------------------------------

EmojiBrowserGrid::EmojiBrowserGrid(EmojiBrowserViewModel* model, QWidget* parent)
    : QAbstractScrollArea(parent)
    , model_(model) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    verticalScrollBar()->setSingleStep(EmojiGridLayout::cellSize / 2);
    // A slim bar in the palette instead of the desktop style's trough.
    const QColor handle = palette::withOpacity(palette::cream, 0.22);
    verticalScrollBar()->setStyleSheet(
        QStringLiteral(
            "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 1px; }"
            "QScrollBar::handle:vertical { background: rgba(%1, %2, %3, %4); border-radius: 3px;"
            " min-height: 24px; }"
            "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
            "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
            .arg(handle.red())
            .arg(handle.green())
            .arg(handle.blue())
            .arg(handle.alphaF()));

    warmUpTimer_.setInterval(0);
    connect(&warmUpTimer_, &QTimer::timeout, this, &EmojiBrowserGrid::warmUpStep);

    connect(model_, &EmojiBrowserViewModel::allEntriesChanged, this, &EmojiBrowserGrid::modelChanged);
    connect(model_, &EmojiBrowserViewModel::searchResultsChanged, this, &EmojiBrowserGrid::modelChanged);
    connect(model_, &EmojiBrowserViewModel::queryChanged, this, &EmojiBrowserGrid::modelChanged);
    connect(model_, &EmojiBrowserViewModel::selectedIndexChanged, this,
            &EmojiBrowserGrid::selectionPublished);
    relayout();
}

int EmojiBrowserGrid::scrollY() const {
    return verticalScrollBar()->value();
}

void EmojiBrowserGrid::relayout() {
    layout_.rebuild(*model_, viewport()->width(),
                    QFontMetrics(headerFont()).height() + 2 * EmojiGridLayout::headerInsetY);
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, layout_.contentHeight() - viewport()->height()));
    sizeCache();
}

void EmojiBrowserGrid::sizeCache() {
    // Rows cut at the top and the bottom count whole.
    const int pitch = EmojiGridLayout::cellSize + EmojiGridLayout::spacing;
    const int rowsPerScreen = viewport()->height() / pitch + 2;
    cache_.setMaxCost(qsizetype(cachedScreens) * EmojiGridLayout::columns * rowsPerScreen);
}

void EmojiBrowserGrid::modelChanged() {
    relayout();
    pressedIndex_ = -1;
    hoveredIndex_ = -1;
    viewport()->update();
}

void EmojiBrowserGrid::selectionPublished() {
    relayout();
    centreOn(model_->selectedIndex());
    viewport()->update();
}

void EmojiBrowserGrid::centreOn(int index) {
    const QRect cell = layout_.cellRect(index);
    if (cell.isNull())
        return; // nothing selected: stay where we are
    verticalScrollBar()->setValue(cell.center().y() - viewport()->height() / 2);
}

void EmojiBrowserGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

void EmojiBrowserGrid::scrollContentsBy(int, int) {
    // The pointer stays put while the cells move under it.
    if (viewport()->underMouse())
        setHoveredIndex(indexAtViewportPoint(viewport()->mapFromGlobal(QCursor::pos())));
    viewport()->update();
}

int EmojiBrowserGrid::indexAtViewportPoint(const QPoint& point) const {
    // A pinned header covers the cells scrolled under it.
    const QPoint content = point + QPoint(0, scrollY());
    if (!layout_.showsEmptyState()) {
        for (int b = 0; b < layout_.blocks().size(); ++b) {
            if (layout_.blocks()[b].title.isEmpty())
                continue;
            const int top = layout_.pinnedHeaderTop(b, scrollY());
            if (content.y() >= top && content.y() < top + layout_.headerHeight())
                return -1;
        }
    }
    return layout_.indexAt(content);
}

void EmojiBrowserGrid::setHoveredIndex(int index) {
    if (index == hoveredIndex_)
        return;
    hoveredIndex_ = index;
    viewport()->update();
}

bool EmojiBrowserGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = indexAtViewportPoint(help->pos());
        const QList<EmojiEntry>& visible = model_->visibleEntries();
        if (index >= 0 && index < visible.size()) {
            QRect cell = layout_.cellRect(index).translated(0, -scrollY());
            QToolTip::showText(help->globalPos(), tooltipFor(visible[index]), viewport(), cell);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void EmojiBrowserGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    pressedIndex_ = indexAtViewportPoint(event->position().toPoint());
    if (pressedIndex_ < 0) {
        // The panel has no title bar: its background moves it.
        if (QWindow* handle = window()->windowHandle())
            handle->startSystemMove();
        return;
    }
    viewport()->update();
}

void EmojiBrowserGrid::mouseMoveEvent(QMouseEvent* event) {
    setHoveredIndex(indexAtViewportPoint(event->position().toPoint()));
}

void EmojiBrowserGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || pressedIndex_ < 0)
        return;
    const int pressed = std::exchange(pressedIndex_, -1);
    viewport()->update();
    const QList<EmojiEntry>& visible = model_->visibleEntries();
    if (indexAtViewportPoint(event->position().toPoint()) == pressed && pressed < visible.size() &&
        onActivate)
        onActivate(visible[pressed]);
}

void EmojiBrowserGrid::warmUpInBackground() {
    warmsWhileHidden_ = true;
    warmUpTimer_.start();
}

std::pair<int, int> EmojiBrowserGrid::warmUpRange() const {
    // Hidden, the first screen; shown, a screen above and below the one in view as well, so that
    // a scroll finds its cells rendered.
    const int height = viewport()->height();
    const int top = isVisible() ? scrollY() - height : 0;
    const int bottom = isVisible() ? scrollY() + 2 * height : height;
    // Blocks stack downwards, so cells run down the content in index order.
    const auto firstWhere = [this](const auto& test) {
        int low = 0;
        int high = layout_.cellCount();
        while (low < high) {
            const int middle = (low + high) / 2;
            if (test(layout_.cellRect(middle)))
                high = middle;
            else
                low = middle + 1;
        }
        return low;
    };
    return {firstWhere([top](const QRect& cell) { return cell.bottom() >= top; }),
            firstWhere([bottom](const QRect& cell) { return cell.top() >= bottom; })};
}

void EmojiBrowserGrid::warmUpStep() {
    if (!isVisible() && !warmsWhileHidden_) {
        warmUpTimer_.stop();
        return;
    }
    const QList<EmojiEntry>& visible = model_->visibleEntries();
    auto [index, end] = warmUpRange();
    end = std::min(end, static_cast<int>(visible.size()));
    const qreal dpr = viewport()->devicePixelRatioF();
    QElapsedTimer elapsed;
    elapsed.start();
    for (; index < end && elapsed.nsecsElapsed() < warmUpStepBudgetNs; ++index) {
        if (!cache_.contains(visible[index].emoji))
            emojiPixmap(visible[index].emoji, dpr);
    }
    if (index < end)
        return;
    warmUpTimer_.stop();
    if (std::exchange(warmsWhileHidden_, false))
        Q_EMIT warmedUp();
}

void EmojiBrowserGrid::leaveEvent(QEvent* event) {
    QAbstractScrollArea::leaveEvent(event);
    setHoveredIndex(-1);
}

QPixmap EmojiBrowserGrid::emojiPixmap(const QString& emoji, qreal devicePixelRatio) {
    if (devicePixelRatio != cacheDevicePixelRatio_) {
        // Moved to a screen of another density: everything is rendered afresh.
        cache_.clear();
        cacheDevicePixelRatio_ = devicePixelRatio;
    }
    if (const QPixmap* cached = cache_.object(emoji))
        return *cached;

    const int side = EmojiGridLayout::cellSize;
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(palette::emojiFont(emojiPointSize));
        painter.setPen(palette::cream);
        painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, emoji);
    }
    ++renderedEmojiCount_;
    cache_.insert(emoji, new QPixmap(pixmap));
    return pixmap;
}

void EmojiBrowserGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette::ink);
    const int y = scrollY();
    if (layout_.showsEmptyState()) {
        paintEmptyState(painter, y);
        return;
    }
    paintCells(painter, event->rect(), y);
    paintHeaders(painter, y);
    // Whatever moved the view, the neighbouring screens are rendered once the user pauses.
    if (!warmUpTimer_.isActive())
        warmUpTimer_.start();
}

void EmojiBrowserGrid::paintCells(QPainter& painter, const QRect& exposed, int scrollY) {
    const QList<EmojiEntry>& visible = model_->visibleEntries();
    const qreal dpr = viewport()->devicePixelRatioF();
    const int top = exposed.top() + scrollY;
    const int bottom = exposed.bottom() + scrollY;
    const int pitch = EmojiGridLayout::cellSize + EmojiGridLayout::spacing;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    for (const EmojiGridLayout::Block& block : layout_.blocks()) {
        if (block.bottom <= top || block.gridTop > bottom)
            continue;
        const int firstRow = std::max(0, (top - block.gridTop) / pitch);
        const int lastRow = std::min(block.rows() - 1, (bottom - block.gridTop) / pitch);
        for (int row = firstRow; row <= lastRow; ++row) {
            for (int column = 0; column < EmojiGridLayout::columns; ++column) {
                const int index = block.firstIndex + row * EmojiGridLayout::columns + column;
                if (index >= block.firstIndex + block.count || index >= visible.size())
                    break;
                const QRect cell = layout_.cellRect(index).translated(0, -scrollY);
                const bool washed =
                    index == model_->selectedIndex() || index == hoveredIndex_ || index == pressedIndex_;
                if (washed) {
                    QPainterPath path;
                    path.addRoundedRect(QRectF(cell), palette::cornerSmall, palette::cornerSmall);
                    painter.fillPath(path, palette::accentWash());
                }
                painter.drawPixmap(cell.topLeft(), emojiPixmap(visible[index].emoji, dpr));
            }
        }
    }
}

void EmojiBrowserGrid::paintHeaders(QPainter& painter, int scrollY) {
    const QFont font = headerFont();
    painter.setFont(font);
    const int width = viewport()->width();
    const int height = layout_.headerHeight();
    const QColor background = palette::withOpacity(palette::ink, headerBackgroundOpacity);
    const QList<EmojiGridLayout::Block>& blocks = layout_.blocks();
    for (int b = 0; b < blocks.size(); ++b) {
        if (blocks[b].title.isEmpty())
            continue;
        const int top = layout_.pinnedHeaderTop(b, scrollY) - scrollY;
        if (top + height <= 0 || top >= viewport()->height())
            continue;
        const QRect band(0, top, width, height);
        painter.fillRect(band, background);
        painter.setPen(palette::creamSecondary());
        const QRect text = band.adjusted(EmojiGridLayout::headerInsetX, EmojiGridLayout::headerInsetY,
                                         -EmojiGridLayout::headerInsetX, -EmojiGridLayout::headerInsetY);
        painter.drawText(
            text, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(font).elidedText(blocks[b].title.toUpper(), Qt::ElideRight, text.width()));
    }
}

void EmojiBrowserGrid::paintEmptyState(QPainter& painter, int scrollY) {
    const int width = viewport()->width();
    int y = EmojiGridLayout::emptyStateTop - scrollY;

    const QFont emojiFont = palette::emojiFont(emptyEmojiSize);
    const int emojiHeight = QFontMetrics(emojiFont).height();
    painter.setFont(emojiFont);
    painter.setPen(palette::cream);
    painter.drawText(QRect(0, y, width, emojiHeight), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("\U0001FAE5"));
    y += emojiHeight + EmojiGridLayout::emptyStateSpacing;

    const QFont textFont = palette::textFont(emptyTextSize);
    painter.setFont(textFont);
    const QRect bounds(EmojiGridLayout::headerInsetX, y, width - 2 * EmojiGridLayout::headerInsetX,
                       viewport()->height());
    painter.drawText(bounds, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     emptyStateText(model_->query()));
}

} // namespace pimsel

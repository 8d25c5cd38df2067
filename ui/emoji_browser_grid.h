#pragma once

#include "engine/emoji_entry.h"

#include <QAbstractScrollArea>
#include <QCache>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>
#include <utility>

namespace pimsel {

class EmojiBrowserViewModel;

// Where everything of the browser's grid sits, in content coordinates (y grows downwards from
// the top of the scrolled content). Pure geometry, rebuilt from the model on every change.
class EmojiGridLayout {
public:
    static constexpr int columns = 9;
    static constexpr int cellSize = 40;
    static constexpr int spacing = 4;    // between columns and between rows
    static constexpr int gridInset = 12; // left and right of every grid, and under it
    static constexpr int headerInsetX = 14;
    static constexpr int headerInsetY = 6;
    static constexpr int emptyStateTop = 64;
    static constexpr int emptyStateSpacing = 8;

    // One grid: a titled section, or the single untitled grid of search results.
    struct Block {
        QString title; // empty: no header
        int headerTop = 0;
        int gridTop = 0;
        int bottom = 0; // where the next block starts
        int firstIndex = 0;
        int count = 0;
        int rows() const { return (count + columns - 1) / columns; }
    };

    void rebuild(const EmojiBrowserViewModel& model, int width, int headerHeight);

    int width() const { return width_; }
    int headerHeight() const { return headerHeight_; }
    int contentHeight() const { return contentHeight_; }
    const QList<Block>& blocks() const { return blocks_; }
    // True while searching without any result: the grid gives way to the "no match" message.
    bool showsEmptyState() const { return showsEmptyState_; }
    int cellCount() const { return cellCount_; }

    // The 40 × 40 frame of the cell at a visible index; null outside the grid.
    QRect cellRect(int index) const;
    // The visible index of the cell under a content point, or -1.
    int indexAt(const QPoint& contentPoint) const;
    // The block holding a visible index, or -1.
    int blockOf(int index) const;
    // Top of a block's header while the content is scrolled by `scrollY`: it sticks to the top
    // of the viewport until the next header pushes it away.
    int pinnedHeaderTop(int block, int scrollY) const;

private:
    double columnWidth() const;
    int cellLeft(int column) const;
    static int gridHeight(int rows);

    int width_ = 0;
    int headerHeight_ = 0;
    int contentHeight_ = 0;
    int cellCount_ = 0;
    bool showsEmptyState_ = false;
    QList<Block> blocks_;
};

// The scrolling grid of the emoji browser: every cell painted from a cache of rendered emoji,
// no widget per emoji, so the whole catalogue scrolls smoothly. Section headers stay pinned
// while their cells scroll under them. Takes no keyboard focus.
class EmojiBrowserGrid : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit EmojiBrowserGrid(EmojiBrowserViewModel* model, QWidget* parent = nullptr);

    const EmojiGridLayout& gridLayout() const { return layout_; }
    int scrollY() const;
    // Scrolls so that the cell at `index` is centred, as far as the content allows.
    void centreOn(int index);
    // Rendered emoji kept for painting. A cell is rendered when first painted, or in idle time
    // just before, and kept while it belongs to the last few screens seen: scrolling back and
    // forth renders nothing twice, yet browsing the whole catalogue holds only those few screens.
    int cachedEmojiCount() const { return static_cast<int>(cache_.size()); }
    int cacheCapacity() const { return static_cast<int>(cache_.maxCost()); }
    // Renderings so far, cache hits not counted.
    int renderedEmojiCount() const { return renderedEmojiCount_; }
    bool isWarmingUp() const { return warmUpTimer_.isActive(); }
    // Renders the emoji of the first screen in idle time while the grid is hidden, so that it is
    // first shown without rendering anything; warmedUp() follows. Once shown, idle time renders
    // the screens above and below the one in view; the rest is rendered as it scrolls into view.
    void warmUpInBackground();

    // A click on a cell (press and release on the same cell).
    std::function<void(const EmojiEntry&)> onActivate;

Q_SIGNALS:
    void warmedUp();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void modelChanged();
    void selectionPublished();
    void relayout();
    void setHoveredIndex(int index);
    int indexAtViewportPoint(const QPoint& point) const;
    QPixmap emojiPixmap(const QString& emoji, qreal devicePixelRatio);
    // The visible indices [first, end) worth having rendered ahead of painting.
    std::pair<int, int> warmUpRange() const;
    void sizeCache();
    void paintCells(QPainter& painter, const QRect& exposed, int scrollY);
    void paintHeaders(QPainter& painter, int scrollY);
    void paintEmptyState(QPainter& painter, int scrollY);
    void warmUpStep();

    EmojiBrowserViewModel* model_;
    EmojiGridLayout layout_;
    QCache<QString, QPixmap> cache_; // least recently painted dropped first
    qreal cacheDevicePixelRatio_ = 0;
    int renderedEmojiCount_ = 0;
    int hoveredIndex_ = -1;
    int pressedIndex_ = -1;
    QTimer warmUpTimer_;
    bool warmsWhileHidden_ = false;
};

} // namespace pimsel

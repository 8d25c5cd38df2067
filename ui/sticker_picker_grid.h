#pragma once

#include "engine/sticker_entry.h"

#include <QAbstractScrollArea>
#include <QCache>
#include <QElapsedTimer>
#include <QList>
#include <QPixmap>
#include <QTimer>

namespace pimsel {

class StickerPickerViewModel;

// Where the picker's cells sit in content coordinates: padding 12 round the grid, flexible
// columns (5 for stickers, 3 for GIFs) 6 apart, rows 6 apart. Pure geometry.
struct StickerGridLayout {
    static constexpr int padding = 12;
    static constexpr int spacing = 6;
    static constexpr int previewInset = 4;
    static constexpr int stickerPreviewSide = 60;
    static constexpr int gifPreviewHeight = 92;
    static constexpr int minimumColumnWidth = 10;

    int width = 0;
    int columns = 5;
    int count = 0;
    bool isGifMode = false;

    int rows() const { return (count + columns - 1) / columns; }
    int cellHeight() const;
    int contentHeight() const;
    QRect cellRect(int index) const;
    // The preview's frame inside a cell: at most 60 wide for stickers, the whole cell for GIFs.
    QRect previewRect(int index) const;
    int indexAt(const QPoint& contentPoint) const;
};

// The picker's scrolling grid, every cell painted, no widget per cell. A cell shows its loaded
// preview (animated previews play), else the sticker's emoji in the colour emoji font, else a
// faint placeholder; the selected and the hovered cell lie on the accent wash. With nothing to
// show it paints "Searching…" or the empty message instead. Takes no keyboard focus.
class StickerPickerGrid : public QAbstractScrollArea {
    Q_OBJECT

public:
    static constexpr int emptyStateTop = 64;
    static constexpr int animationIntervalMs = 40;

    explicit StickerPickerGrid(StickerPickerViewModel* model, QWidget* parent = nullptr);

    const StickerGridLayout& gridLayout() const { return layout_; }
    int scrollY() const;
    bool isAnimating() const { return animation_.isActive(); }
    // The text of the empty state, or empty while the grid has cells.
    QString emptyStateText() const;

    std::function<void(int index, const StickerEntry& entry)> onActivate;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void itemsChanged();
    void relayout();
    void centreOnSelection();
    void updateAnimation();
    int indexAtViewportPoint(const QPoint& point) const;
    QPixmap emojiPixmap(const QString& emoji, int side, qreal devicePixelRatio);
    void paintCell(QPainter& painter, int index, const StickerEntry& entry, const QRect& cell);
    void paintEmptyState(QPainter& painter);

    StickerPickerViewModel* model_;
    QList<StickerEntry> items_;
    StickerGridLayout layout_;
    QCache<QString, QPixmap> emojiCache_{200};
    QTimer animation_;
    QElapsedTimer clock_;
    int hoveredIndex_ = -1;
    int pressedIndex_ = -1;
};

} // namespace pimsel

#pragma once

#include "engine/sticker_entry.h"

#include <QWidget>

#include <functional>

namespace pimsel {

class StickerPickerGrid;
class StickerPickerViewModel;

// The picker's content, 420 × 480 on ink: the search row ("/sticker " or "/gif " in accent, then
// the query or the placeholder), a hairline, the grid, and in GIF mode the service's attribution
// under another hairline. It only displays the model: the typed keys reach the model through the
// input hook, never through this widget.
class StickerPickerView : public QWidget {
    Q_OBJECT

public:
    static constexpr int panelWidth = 420;
    static constexpr int panelHeight = 480;
    static constexpr int searchInsetX = 14;
    static constexpr int searchInsetY = 12;
    static constexpr int searchTextSize = 15;
    static constexpr int attributionInsetX = 14;
    static constexpr int attributionInsetY = 8;
    static constexpr int attributionTextSize = 11;

    explicit StickerPickerView(StickerPickerViewModel* model, QWidget* parent = nullptr);

    StickerPickerGrid* grid() const { return grid_; }
    int searchRowHeight() const;
    // Zero outside GIF mode.
    int attributionRowHeight() const;
    // What the search row shows after the command label.
    QString displayedQuery() const;

    // A click on a cell.
    std::function<void(const StickerEntry&)> onActivate;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void relayout();
    void paintSearchRow(QPainter& painter);
    void paintAttribution(QPainter& painter);

    StickerPickerViewModel* model_;
    StickerPickerGrid* grid_;
};

} // namespace pimsel

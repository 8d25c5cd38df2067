#pragma once

#include "engine/emoji_entry.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>

namespace pimsel {

class EmojiBrowserGrid;
class EmojiBrowserViewModel;

// The clear button of the search line: a filled circle with a cross cut out of it.
class EmojiBrowserClearButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit EmojiBrowserClearButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The search line: a magnifying glass, the query (or the placeholder) and, once something is
// typed, the clear button. It only displays the query: the typed keys reach the model through
// the input hook, never through this widget.
class EmojiBrowserSearchLine : public QWidget {
    Q_OBJECT

public:
    static constexpr int insetX = 14;
    static constexpr int insetY = 12;
    static constexpr int spacing = 8;
    static constexpr int textSize = 15;

    explicit EmojiBrowserSearchLine(EmojiBrowserViewModel* model, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    EmojiBrowserClearButton* clearButton() const { return clearButton_; }
    // What the line shows now: the placeholder while the query is empty.
    QString displayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void queryChanged();
    void placeClearButton();
    QRect iconRect() const;

    EmojiBrowserViewModel* model_;
    EmojiBrowserClearButton* clearButton_;
};

// The browser's content, 440 × 520 on ink: the search line, a hairline, and the grid.
class EmojiBrowserView : public QWidget {
    Q_OBJECT

public:
    static constexpr int panelWidth = 440;
    static constexpr int panelHeight = 520;

    explicit EmojiBrowserView(EmojiBrowserViewModel* model, QWidget* parent = nullptr);

    EmojiBrowserSearchLine* searchLine() const { return searchLine_; }
    EmojiBrowserGrid* grid() const { return grid_; }

    // A click on a cell.
    std::function<void(const EmojiEntry&)> onActivate;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EmojiBrowserSearchLine* searchLine_;
    EmojiBrowserGrid* grid_;
};

} // namespace pimsel

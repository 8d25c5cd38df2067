#pragma once

#include "ui/suggestion_view_model.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QPainter;

namespace pimsel {

// Draws a SuggestionViewModel: the rows, the highlighted one, and the tone strip when there are
// variants. Re-reads the model on every change. Pointer entering a row reports it once; clicks on
// a row or a tone cell report it when the button comes up over the item it went down on.
class SuggestionPanelView : public QWidget {
    Q_OBJECT

public:
    explicit SuggestionPanelView(SuggestionViewModel* model, QWidget* parent = nullptr);

    SuggestionViewModel* model() const { return model_; }

    // With a see-through window the backdrop is partly transparent; without a compositor
    // it is drawn opaque.
    void setTranslucentBackdrop(bool translucent);
    bool hasTranslucentBackdrop() const { return translucent_; }

    // Widget coordinates; none outside every row / tone cell.
    std::optional<int> rowAt(const QPointF& point) const;
    std::optional<int> toneCellAt(const QPointF& point) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    enum class Target { none, row, tone };
    struct Hit {
        Target target = Target::none;
        int index = -1;
        bool operator==(const Hit&) const = default;
    };

    Hit hitAt(const QPointF& point) const;
    void pointerMovedTo(const QPointF& point);
    void paintBackdrop(QPainter& painter) const;
    void paintRow(QPainter& painter, int row) const;
    void paintToneStrip(QPainter& painter) const;

    QPointer<SuggestionViewModel> model_;
    bool translucent_ = true;
    int hoveredRow_ = -1;
    // Where the pointer was when the panel came under it: until it moves from there, it points at
    // nothing. A pointer resting where the popover happens to show must not choose for the user.
    std::optional<QPointF> restingAt_;
    Hit pressed_;
};

} // namespace pimsel

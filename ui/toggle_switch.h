#pragma once

#include <QAbstractButton>

namespace pimsel {

// An on/off switch drawn in the palette: an accent track with the knob on the right when on, a
// raised ink track with the knob on the left when off. Its text is only its accessible name.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(const QString& name, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pimsel

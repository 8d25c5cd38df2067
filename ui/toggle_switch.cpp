#include "ui/toggle_switch.h"

#include "ui/palette.h"

#include <QPainter>

namespace pimsel {

ToggleSwitch::ToggleSwitch(const QString& name, QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setText(name);
    setAccessibleName(name);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

QSize ToggleSwitch::sizeHint() const {
    return {38, 22};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    p.setPen(isChecked() ? Qt::NoPen : QPen(palette::hairline(), 1));
    p.setBrush(isChecked() ? palette::accent : palette::inkHigh);
    if (!isEnabled())
        p.setOpacity(0.4);
    p.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? palette::ink : palette::cream);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

} // namespace pimsel

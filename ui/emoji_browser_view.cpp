#include "ui/emoji_browser_view.h"

#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/palette.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWindow>

namespace pimsel {

namespace {

constexpr int iconSide = 16;
constexpr int hairlineHeight = 1;

QFont searchFont() {
    return palette::textFont(EmojiBrowserSearchLine::textSize);
}

void startMovingWindow(QWidget* widget) {
    if (QWindow* handle = widget->window()->windowHandle())
        handle->startSystemMove();
}

} // namespace

// ---- Clear button -----------------------------------------------------------------------------

EmojiBrowserClearButton::EmojiBrowserClearButton(QWidget* parent)
    : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
    setToolTip(QStringLiteral("Clear search"));
}

QSize EmojiBrowserClearButton::sizeHint() const {
    return {iconSide, iconSide};
}

void EmojiBrowserClearButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath disc;
    disc.addEllipse(circle);
    // The cross is cut out of the disc so the ink behind shows through it.
    QPainterPath cross;
    const QPointF c = circle.center();
    const qreal arm = circle.width() * 0.2;
    QPainterPathStroker stroker;
    stroker.setWidth(1.6);
    stroker.setCapStyle(Qt::RoundCap);
    QPainterPath lines;
    lines.moveTo(c + QPointF(-arm, -arm));
    lines.lineTo(c + QPointF(arm, arm));
    lines.moveTo(c + QPointF(arm, -arm));
    lines.lineTo(c + QPointF(-arm, arm));
    cross = stroker.createStroke(lines);
    painter.fillPath(disc.subtracted(cross), palette::creamTertiary());
}

// ---- Search line ------------------------------------------------------------------------------

EmojiBrowserSearchLine::EmojiBrowserSearchLine(EmojiBrowserViewModel* model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , clearButton_(new EmojiBrowserClearButton(this)) {
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(clearButton_, &QAbstractButton::clicked, this, [this] {
        model_->setQuery(QString());
        model_->refresh();
    });
    connect(model_, &EmojiBrowserViewModel::queryChanged, this, &EmojiBrowserSearchLine::queryChanged);
    queryChanged();
}

QSize EmojiBrowserSearchLine::sizeHint() const {
    const int content =
        std::max({QFontMetrics(searchFont()).height(), iconSide, clearButton_->sizeHint().height()});
    return {EmojiBrowserView::panelWidth, content + 2 * insetY};
}

QString EmojiBrowserSearchLine::displayedText() const {
    return model_->query().isEmpty() ? QStringLiteral("Search emoji") : model_->query();
}

void EmojiBrowserSearchLine::queryChanged() {
    clearButton_->setVisible(!model_->query().isEmpty());
    update();
}

void EmojiBrowserSearchLine::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeClearButton();
}

void EmojiBrowserSearchLine::placeClearButton() {
    const QSize size = clearButton_->sizeHint();
    clearButton_->setGeometry(width() - insetX - size.width(), (height() - size.height()) / 2, size.width(),
                              size.height());
}

QRect EmojiBrowserSearchLine::iconRect() const {
    return QRect(insetX, (height() - iconSide) / 2, iconSide, iconSide);
}

void EmojiBrowserSearchLine::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        startMovingWindow(this);
}

void EmojiBrowserSearchLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // Magnifying glass: a ring and a handle towards the bottom right.
    const QRectF icon = QRectF(iconRect());
    QPen pen(palette::creamSecondary(), 1.8);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring(icon.left() + 1.5, icon.top() + 1.5, icon.width() * 0.62, icon.height() * 0.62);
    painter.drawEllipse(ring);
    const QPointF handleStart = ring.center() + QPointF(ring.width(), ring.height()) * 0.36;
    painter.drawLine(handleStart, icon.bottomRight() - QPointF(1.5, 1.5));

    const bool isEmpty = model_->query().isEmpty();
    const int left = iconRect().right() + 1 + spacing;
    int right = width() - insetX;
    if (!isEmpty)
        right = clearButton_->geometry().left() - spacing;
    const QRect textRect(left, insetY, std::max(0, right - left), height() - 2 * insetY);
    const QFont font = searchFont();
    painter.setFont(font);
    painter.setPen(isEmpty ? palette::creamTertiary() : palette::cream);
    // The end of a long query is what was just typed, so that end stays in view.
    const QString text = QFontMetrics(font).elidedText(
        displayedText(), isEmpty ? Qt::ElideRight : Qt::ElideLeft, textRect.width());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
}

// ---- View -------------------------------------------------------------------------------------

EmojiBrowserView::EmojiBrowserView(EmojiBrowserViewModel* model, QWidget* parent)
    : QWidget(parent)
    , searchLine_(new EmojiBrowserSearchLine(model, this))
    , grid_(new EmojiBrowserGrid(model, this)) {
    palette::applyDarkAppearance(this);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(panelWidth, panelHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(searchLine_);
    layout->addSpacing(hairlineHeight);
    layout->addWidget(grid_, 1);

    grid_->onActivate = [this](const EmojiEntry& entry) {
        if (onActivate)
            onActivate(entry);
    };
}

void EmojiBrowserView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette::ink);
    painter.fillRect(QRect(0, searchLine_->geometry().bottom() + 1, panelWidth, hairlineHeight),
                     palette::hairline());
}

} // namespace pimsel

#include "ui/sticker_picker_view.h"

#include "stickers/sticker_picker_view_model.h"
#include "ui/palette.h"
#include "ui/sticker_picker_grid.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace pimsel {

namespace {

constexpr int iconSide = 16;
constexpr int rowSpacing = 8;
constexpr int hairlineHeight = 1;

QFont commandFont() {
    QFont font = palette::textFont(StickerPickerView::searchTextSize, QFont::Medium);
    font.setFamilies({QStringLiteral("monospace")});
    font.setStyleHint(QFont::Monospace);
    return font;
}

QFont queryFont() {
    return palette::textFont(StickerPickerView::searchTextSize);
}

} // namespace

StickerPickerView::StickerPickerView(StickerPickerViewModel* model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , grid_(new StickerPickerGrid(model, this)) {
    palette::applyDarkAppearance(this);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(panelWidth, panelHeight);
    grid_->onActivate = [this](int index, const StickerEntry& entry) {
        model_->setSelectedIndex(index);
        if (onActivate)
            onActivate(entry);
    };
    connect(model_, &StickerPickerViewModel::queryChanged, this, qOverload<>(&QWidget::update));
    connect(model_, &StickerPickerViewModel::commandLabelChanged, this, qOverload<>(&QWidget::update));
    connect(model_, &StickerPickerViewModel::showsGiphyAttributionChanged, this, [this] {
        relayout();
        update();
    });
    relayout();
}

int StickerPickerView::searchRowHeight() const {
    const int text = std::max(QFontMetrics(commandFont()).height(), QFontMetrics(queryFont()).height());
    return std::max(text, iconSide) + 2 * searchInsetY;
}

int StickerPickerView::attributionRowHeight() const {
    if (!model_->showsGiphyAttribution())
        return 0;
    return QFontMetrics(palette::textFont(attributionTextSize, QFont::Black)).height() +
           2 * attributionInsetY;
}

QString StickerPickerView::displayedQuery() const {
    return model_->query().isEmpty() ? QStringLiteral("search…") : model_->query();
}

void StickerPickerView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void StickerPickerView::relayout() {
    const int top = searchRowHeight() + hairlineHeight;
    const int attribution = attributionRowHeight();
    const int bottom = attribution > 0 ? attribution + hairlineHeight : 0;
    grid_->setGeometry(0, top, width(), std::max(0, height() - top - bottom));
}

void StickerPickerView::mousePressEvent(QMouseEvent* event) {
    // The panel has no title bar: its background moves it.
    if (event->button() == Qt::LeftButton) {
        if (QWindow* handle = window()->windowHandle())
            handle->startSystemMove();
    }
}

void StickerPickerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette::ink);
    painter.setRenderHint(QPainter::Antialiasing);
    paintSearchRow(painter);
    painter.fillRect(QRect(0, searchRowHeight(), width(), hairlineHeight), palette::hairline());
    if (attributionRowHeight() > 0) {
        painter.fillRect(QRect(0, grid_->geometry().bottom() + 1, width(), hairlineHeight),
                         palette::hairline());
        paintAttribution(painter);
    }
}

void StickerPickerView::paintSearchRow(QPainter& painter) {
    const int rowHeight = searchRowHeight();
    const QRectF icon(searchInsetX, (rowHeight - iconSide) / 2.0, iconSide, iconSide);
    QPen pen(palette::creamSecondary(), 1.8);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring(icon.left() + 1.5, icon.top() + 1.5, icon.width() * 0.62, icon.height() * 0.62);
    painter.drawEllipse(ring);
    painter.drawLine(ring.center() + QPointF(ring.width(), ring.height()) * 0.36,
                     icon.bottomRight() - QPointF(1.5, 1.5));

    const QString label = model_->commandLabel() + QLatin1Char(' ');
    const QFont labelFont = commandFont();
    int left = int(icon.right()) + rowSpacing;
    const QRect textBand(left, 0, width() - searchInsetX - left, rowHeight);
    painter.setFont(labelFont);
    painter.setPen(palette::accent);
    painter.drawText(textBand, Qt::AlignLeft | Qt::AlignVCenter, label);
    left += QFontMetrics(labelFont).horizontalAdvance(label);

    const bool isEmpty = model_->query().isEmpty();
    const QFont font = queryFont();
    const QRect queryRect(left, 0, std::max(0, width() - searchInsetX - left), rowHeight);
    painter.setFont(font);
    painter.setPen(isEmpty ? palette::creamTertiary() : palette::cream);
    // The end of a long query is what was just typed, so that end stays in view.
    painter.drawText(queryRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(font).elidedText(displayedQuery(), isEmpty ? Qt::ElideRight : Qt::ElideLeft,
                                                   queryRect.width()));
}

void StickerPickerView::paintAttribution(QPainter& painter) {
    const QRect row(attributionInsetX, height() - attributionRowHeight(), width() - 2 * attributionInsetX,
                    attributionRowHeight());
    const QFont plain = palette::textFont(attributionTextSize);
    const QFont heavy = palette::textFont(attributionTextSize, QFont::Black);
    const QString lead = QStringLiteral("Powered by");
    painter.setFont(plain);
    painter.setPen(palette::creamTertiary());
    painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, lead);
    const int left = row.left() + QFontMetrics(plain).horizontalAdvance(lead + QLatin1Char(' '));
    painter.setFont(heavy);
    painter.setPen(palette::cream);
    painter.drawText(QRect(left, row.top(), row.right() - left, row.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("GIPHY"));
}

} // namespace pimsel

#include "ui/tray_icon_renderer.h"

#include "ui/palette.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSvgRenderer>

#include <algorithm>

// The artwork is compiled into the engine's resource bundle; make sure it is registered even when
// nothing else has touched the resources yet.
static void initArtworkResources() {
    Q_INIT_RESOURCE(pimsel_data);
}

namespace pimsel {

namespace {

constexpr qreal slashInset = 2;
constexpr qreal slashWidth = 1.5;
constexpr qreal dimmedOpacity = 0.4;
constexpr qreal badgeFraction = 0.6;
constexpr int iconSizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

QLineF TrayIconRenderer::slashLine() {
    // From the top-left corner to the bottom-right one, two units in from each edge.
    return QLineF(slashInset, slashInset, designSize - slashInset, designSize - slashInset);
}

QRectF TrayIconRenderer::badgeRect() {
    const qreal s = badgeFraction * designSize;
    return QRectF(designSize - s, 0, s, s);
}

TrayIconRenderer::TrayIconRenderer(const QString& artworkPath)
    : m_tint(palette::cream) {
    initArtworkResources();
    m_artwork = std::make_unique<QSvgRenderer>(artworkPath);
    m_artwork->setAspectRatioMode(Qt::KeepAspectRatio);
}

TrayIconRenderer::~TrayIconRenderer() = default;

bool TrayIconRenderer::hasArtwork() const {
    return m_artwork->isValid();
}

QImage TrayIconRenderer::render(int pixelSize, bool dimmed, bool badge) const {
    if (!hasArtwork() || pixelSize <= 0)
        return {};

    // The artwork, recoloured to the tint.
    QImage base(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    base.fill(Qt::transparent);
    {
        QPainter painter(&base);
        painter.setRenderHint(QPainter::Antialiasing);
        m_artwork->render(&painter, QRectF(0, 0, pixelSize, pixelSize));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(base.rect(), m_tint);
    }

    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixelSize / designSize, pixelSize / designSize);
    const QRectF r(0, 0, designSize, designSize);

    painter.setOpacity(dimmed ? dimmedOpacity : 1.0);
    painter.drawImage(r, base);
    painter.setOpacity(1.0);
    if (dimmed) {
        QPen pen(m_tint, slashWidth, Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.drawLine(slashLine());
    }

    if (badge) {
        const QRectF b = badgeRect();
        const qreal s = b.width();
        const qreal ring = 0.1 * s;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.drawEllipse(b.adjusted(-ring, -ring, ring, ring));

        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setBrush(m_tint);
        painter.drawEllipse(b);

        // An upward arrow cut out of the disc.
        const QPointF c = b.center();
        const QPointF tip(c.x(), c.y() - 0.26 * s);
        QPainterPath arrow;
        arrow.moveTo(c.x(), c.y() + 0.24 * s);
        arrow.lineTo(tip);
        arrow.moveTo(c.x() - 0.2 * s, tip.y() + 0.2 * s);
        arrow.lineTo(tip);
        arrow.lineTo(c.x() + 0.2 * s, tip.y() + 0.2 * s);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, 0.14 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(arrow);
    }
    painter.end();
    return image;
}

QIcon TrayIconRenderer::icon(bool dimmed, bool badge) const {
    if (!hasArtwork())
        return {};
    QIcon result;
    for (int size : iconSizes)
        result.addPixmap(QPixmap::fromImage(render(size, dimmed, badge)));
    return result;
}

} // namespace pimsel

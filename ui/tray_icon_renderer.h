#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QString>

#include <memory>

class QSvgRenderer;

namespace pimsel {

// Draws the status item's icon from the monochrome "MenuBarIcon" artwork: as it is, dimmed with a
// slash while autocomplete is off, and with an update badge cut into the top-right corner. The
// artwork is designed on an 18-unit square; every mark is placed in those units and scaled with it.
// Trays cannot tint a picture for the panel the way a template image is tinted, so the whole icon is
// painted in one tint colour.
class TrayIconRenderer {
public:
    static constexpr qreal designSize = 18;
    static inline const QString defaultArtworkPath = QStringLiteral(":/pimsel/MenuBarIcon.svg");

    // The slash and badge geometry in design units (y grows downwards).
    static QLineF slashLine();
    static QRectF badgeRect();

    explicit TrayIconRenderer(const QString& artworkPath = defaultArtworkPath);
    ~TrayIconRenderer();

    // False when the artwork is missing or unreadable; the icon is then empty.
    bool hasArtwork() const;

    QColor tint() const { return m_tint; }
    void setTint(const QColor& tint) { m_tint = tint; }

    // A square image of `pixelSize` pixels; a null image without artwork.
    QImage render(int pixelSize, bool dimmed, bool badge) const;
    // The icon at the sizes trays ask for; a null icon without artwork.
    QIcon icon(bool dimmed, bool badge) const;

private:
    std::unique_ptr<QSvgRenderer> m_artwork;
    QColor m_tint;
};

} // namespace pimsel

#include "ui/tray_icon_renderer.h"

#include <QImage>
#include <QPointF>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace pimsel;

namespace {

constexpr qreal unit = TrayIconRenderer::designSize;

// The pixel that covers a point given in design units.
int alphaAt(const QImage& image, QPointF design) {
    const qreal scale = image.width() / unit;
    const int x = std::clamp(int(std::floor(design.x() * scale)), 0, image.width() - 1);
    const int y = std::clamp(int(std::floor(design.y() * scale)), 0, image.height() - 1);
    return qAlpha(image.pixel(x, y));
}

QPointF badgeCentre() {
    return TrayIconRenderer::badgeRect().center();
}
qreal badgeSide() {
    return TrayIconRenderer::badgeRect().width();
}

// Inside the badge ring (with a margin for antialiasing) the badge decides every pixel.
bool nearBadge(QPointF design) {
    const QPointF d = design - badgeCentre();
    return std::hypot(d.x(), d.y()) < 0.6 * badgeSide() + 1.0;
}

// Points on the slash, away from the badge, where the plain artwork leaves the pixel empty, so a
// slash there cannot be confused with the artwork.
QList<QPointF> emptySlashPoints(const QImage& plain) {
    QList<QPointF> points;
    const QLineF slash = TrayIconRenderer::slashLine();
    for (int i = 1; i < 40; ++i) {
        const QPointF p = slash.pointAt(i / 40.0);
        if (!nearBadge(p) && alphaAt(plain, p) < 20)
            points.append(p);
    }
    return points;
}

class TrayIconPixels : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {
protected:
    TrayIconRenderer renderer;
};

TEST_P(TrayIconPixels, SlashExactlyWhenDimmedBadgeExactlyWhenUpdateKnown) {
    const auto [size, dimmed, badge] = GetParam();
    ASSERT_TRUE(renderer.hasArtwork());
    const QImage plain = renderer.render(size, false, false);
    const QImage image = renderer.render(size, dimmed, badge);
    ASSERT_EQ(image.size(), QSize(size, size));

    // The slash, where the artwork itself is empty.
    const QList<QPointF> slashPoints = emptySlashPoints(plain);
    ASSERT_GE(slashPoints.size(), 4) << "the artwork covers too much of the diagonal to see a slash";
    for (const QPointF& p : slashPoints) {
        if (dimmed)
            EXPECT_GE(alphaAt(image, p), 200) << "no slash at " << p.x() << "," << p.y() << " size " << size;
        else
            EXPECT_LT(alphaAt(image, p), 20) << "slash drawn while active at " << p.x() << "," << p.y();
    }

    // The disc: below the arrow, where the plain artwork is empty.
    const QPointF disc = badgeCentre() + QPointF(0, 0.38 * badgeSide());
    ASSERT_LT(alphaAt(plain, disc), 40);
    // The ring: left of the disc, over the artwork's upper dot, which the ring must erase.
    const QPointF ring = badgeCentre() - QPointF(0.55 * badgeSide(), 0);
    ASSERT_GT(alphaAt(plain, ring), 200);
    // The arrow's shaft, cut out of the disc.
    const QPointF shaft = badgeCentre() + QPointF(0, 0.05 * badgeSide());
    // The disc beside the arrow head.
    const QPointF discSide = badgeCentre() + QPointF(-0.35 * badgeSide(), 0.15 * badgeSide());
    if (badge) {
        EXPECT_GE(alphaAt(image, disc), 230);
        EXPECT_GE(alphaAt(image, discSide), 230);
        // At 18 to 22 pixels the ring is about one pixel wide and shares its pixels with the edges.
        EXPECT_LT(alphaAt(image, ring), size >= 36 ? 30 : 90)
            << "the transparent ring around the badge is missing";
        EXPECT_LT(alphaAt(image, shaft), 30) << "the arrow is not cut out of the disc";
    } else {
        EXPECT_LT(alphaAt(image, disc), 40);
        // Without a badge the artwork there is left as it is (dimmed or not).
        EXPECT_GT(alphaAt(image, ring), dimmed ? 80 : 200);
    }
}

TEST_P(TrayIconPixels, DimmedArtworkIsDrawnAtFortyPercent) {
    const auto [size, dimmed, badge] = GetParam();
    const QImage plain = renderer.render(size, false, false);
    const QImage image = renderer.render(size, dimmed, badge);
    const qreal scale = size / unit;
    int compared = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QPointF design((x + 0.5) / scale, (y + 0.5) / scale);
            // Skip the slash's band and the badge.
            if (std::abs(design.x() - design.y()) < 2.0 || nearBadge(design))
                continue;
            const int original = qAlpha(plain.pixel(x, y));
            const int expected = dimmed ? qRound(original * 0.4) : original;
            ASSERT_NEAR(qAlpha(image.pixel(x, y)), expected, 3) << "pixel " << x << "," << y;
            if (original > 200)
                ++compared;
        }
    }
    EXPECT_GT(compared, 0) << "no solid artwork outside the slash and badge to compare";
}

INSTANTIATE_TEST_SUITE_P(SizesAndStates, TrayIconPixels,
                         ::testing::Combine(::testing::Values(18, 22, 36, 64), ::testing::Bool(),
                                            ::testing::Bool()));

TEST(TrayIconRenderer, PaintsEverythingInTheTint) {
    TrayIconRenderer renderer;
    renderer.setTint(QColor(200, 40, 90));
    const QImage image = renderer.render(36, true, true).convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 250)
                continue;
            ++opaque;
            EXPECT_EQ(QColor(pixel), QColor(200, 40, 90)) << "pixel " << x << "," << y;
        }
    }
    EXPECT_GT(opaque, 20);
}

TEST(TrayIconRenderer, MissingArtworkGivesNoImage) {
    TrayIconRenderer renderer(QStringLiteral(":/pimsel/no-such-artwork.svg"));
    EXPECT_FALSE(renderer.hasArtwork());
    EXPECT_TRUE(renderer.render(22, true, true).isNull());
    EXPECT_TRUE(renderer.icon(false, false).isNull());
}

TEST(TrayIconRenderer, IconOffersTheTraySizes) {
    TrayIconRenderer renderer;
    const QIcon icon = renderer.icon(true, false);
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 22, 24, 32, 48}) {
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image, renderer.render(size, true, false).convertToFormat(image.format()))
            << "size " << size;
    }
}

} // namespace

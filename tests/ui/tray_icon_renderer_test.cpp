#include "ui/tray_icon_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace pimsel;

namespace {

// The alpha of the pixel that covers a point given in design units.
int alphaAt(const QImage& image, QPointF design) {
    const qreal scale = image.width() / TrayIconRenderer::designSize;
    return qAlpha(image.pixel(std::min(int(design.x() * scale), image.width() - 1),
                              std::min(int(design.y() * scale), image.height() - 1)));
}

// Near the badge (with a margin for antialiasing) the badge decides every pixel.
bool nearBadge(QPointF design) {
    const QRectF badge = TrayIconRenderer::badgeRect();
    const QPointF d = design - badge.center();
    return std::hypot(d.x(), d.y()) < 0.6 * badge.width() + 1.0;
}

class TrayIconPixels : public ::testing::TestWithParam<std::tuple<int, bool, bool>> {};

TEST_P(TrayIconPixels, SlashExactlyWhenDimmedBadgeExactlyWhenUpdateKnownArtworkAtFortyPercent) {
    const auto [size, dimmed, badge] = GetParam();
    const QColor tint(200, 40, 90);
    TrayIconRenderer renderer;
    renderer.setTint(tint);
    ASSERT_TRUE(renderer.hasArtwork());
    const QImage plain = renderer.render(size, false, false);
    const QImage image = renderer.render(size, dimmed, badge).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.size(), QSize(size, size));

    // On the slash, away from the badge and where the artwork itself is empty.
    int slashPoints = 0;
    for (int i = 1; i < 40; ++i) {
        const QPointF p = TrayIconRenderer::slashLine().pointAt(i / 40.0);
        if (nearBadge(p) || alphaAt(plain, p) >= 20)
            continue;
        ++slashPoints;
        EXPECT_EQ(alphaAt(image, p) >= 200, dimmed) << "slash at " << p.x() << "," << p.y();
        EXPECT_EQ(alphaAt(image, p) < 20, !dimmed) << "slash at " << p.x() << "," << p.y();
    }
    ASSERT_GE(slashPoints, 4) << "the artwork covers too much of the diagonal to see a slash";

    // Below the badge's arrow the artwork is empty: the disc fills it exactly when badged.
    const QPointF disc =
        TrayIconRenderer::badgeRect().center() + QPointF(0, 0.38 * TrayIconRenderer::badgeRect().width());
    ASSERT_LT(alphaAt(plain, disc), 40);
    EXPECT_EQ(alphaAt(image, disc) >= 230, badge);

    // Every opaque pixel is in the tint; away from the slash and the badge, the artwork is drawn at
    // 40 % while dimmed.
    int solid = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            EXPECT_TRUE(qAlpha(pixel) < 255 || QColor(pixel) == tint) << "pixel " << x << "," << y;
            const QPointF p((x + 0.5) * TrayIconRenderer::designSize / size,
                            (y + 0.5) * TrayIconRenderer::designSize / size);
            if (std::abs(p.x() - p.y()) < 2.0 || nearBadge(p))
                continue;
            const int original = qAlpha(plain.pixel(x, y));
            solid += original > 200;
            ASSERT_NEAR(qAlpha(pixel), dimmed ? qRound(original * 0.4) : original, 3)
                << "pixel " << x << "," << y;
        }
    }
    EXPECT_GT(solid, 0);
}

INSTANTIATE_TEST_SUITE_P(SizesAndStates, TrayIconPixels,
                         ::testing::Combine(::testing::Values(18, 22, 36, 64), ::testing::Bool(),
                                            ::testing::Bool()));

TEST(TrayIconRenderer, NothingWithoutArtwork) {
    TrayIconRenderer missing(QStringLiteral(":/pimsel/no-such-artwork.svg"));
    EXPECT_FALSE(missing.hasArtwork() || !missing.render(22, true, true).isNull() ||
                 !missing.icon(false, false).isNull());
}

} // namespace

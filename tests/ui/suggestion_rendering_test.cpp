#include "ui/palette.h"
#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"

#include "ui_test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace pimsel {
namespace {

using namespace pimsel::testing;
namespace layout = suggestion_layout;

bool near(QColor actual, QColor expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

std::string describe(QColor c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(c.alpha())
        .toStdString();
}

int countPixels(const QImage& image, const QRect& area, const std::function<bool(QColor)>& test) {
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            if (test(image.pixelColor(x, y)))
                ++count;
        }
    }
    return count;
}

// A colour glyph has strongly saturated pixels; the cream outline fallback has none.
bool isVivid(QColor c) {
    return c.hsvSaturation() > 120 && c.value() > 70;
}
bool isAccentLike(QColor c) {
    return c.green() > 120 && c.green() > c.blue() + 80 && c.red() > c.blue() + 50;
}
bool isLightText(QColor c) {
    return c.value() > 170 && c.hsvSaturation() < 60;
}
bool isDark(QColor c) {
    return c.value() < 60;
}

class SuggestionRendering : public ::testing::Test {
protected:
    QImage render(bool translucent = false) {
        SuggestionPanelView view(&model);
        view.setTranslucentBackdrop(translucent);
        view.setAttribute(Qt::WA_TranslucentBackground, translucent);
        view.resize(layout::panelSize(static_cast<int>(model.results().size()), model.hasToneVariants()));
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image.convertToFormat(QImage::Format_ARGB32);
    }

    SuggestionViewModel model;
};

// Panel background as drawn without a compositor: ink over a solid backdrop.
const QColor inkBackground(12, 12, 12);

TEST_F(SuggestionRendering, InkBackgroundAndAccentOnTheSelectedRow) {
    model.setResults(sampleRows(3));
    model.setSelectedIndex(1);
    QImage image = render();

    // Right end of each row: no text reaches there with these short aliases.
    const auto rowEnd = [](int row) { return QPoint(258, layout::rowRect(row).center().y()); };
    EXPECT_TRUE(near(image.pixelColor(rowEnd(0)), inkBackground, 3)) << describe(image.pixelColor(rowEnd(0)));
    EXPECT_TRUE(near(image.pixelColor(rowEnd(1)), palette::accent, 0))
        << describe(image.pixelColor(rowEnd(1)));
    EXPECT_TRUE(near(image.pixelColor(rowEnd(2)), inkBackground, 3));
    EXPECT_TRUE(near(image.pixelColor(136, 3), inkBackground, 3)); // top padding

    // The highlight follows the model.
    model.setSelectedIndex(2);
    image = render();
    EXPECT_TRUE(near(image.pixelColor(rowEnd(1)), inkBackground, 3));
    EXPECT_TRUE(near(image.pixelColor(rowEnd(2)), palette::accent, 0));
    // The selected row's highlight has rounded ends: its very corner stays background.
    EXPECT_TRUE(near(image.pixelColor(layout::rowRect(2).topLeft()), inkBackground, 3));
    // No row selected: no accent fill anywhere at the row ends.
    model.setSelectedIndex(-1);
    image = render();
    for (int row = 0; row < 3; ++row)
        EXPECT_TRUE(near(image.pixelColor(rowEnd(row)), inkBackground, 3)) << row;
}

TEST_F(SuggestionRendering, EmojiAreDrawnInColour) {
    model.setResults(sampleRows(7));
    model.setSelectedIndex(-1);
    const QImage image = render();
    for (int row = 0; row < 7; ++row) {
        const int vivid = countPixels(image, layout::rowEmojiRect(row), isVivid);
        EXPECT_GT(vivid, 20) << "row " << row << " emoji " << model.results()[row].emoji.toStdString();
    }
}

TEST_F(SuggestionRendering, TriggerInAccentAndAliasInCream) {
    EmojiEntry unnamed = entry(QStringLiteral("🙂"), QString());
    unnamed.name = QStringLiteral("slightly smiling face"); // no alias: the name is shown
    model.setResults({entry(QStringLiteral("😄"), QStringLiteral("smile")), unnamed});
    model.setSelectedIndex(-1);

    const auto accentPixels = [&](const QString& trigger) {
        model.setTrigger(trigger);
        const QImage image = render();
        return countPixels(image, layout::rowLabelRect(0), isAccentLike);
    };
    EXPECT_EQ(accentPixels(QString()), 0);
    const int one = accentPixels(QStringLiteral(":"));
    const int three = accentPixels(QStringLiteral("%%%"));
    EXPECT_GT(one, 0);
    EXPECT_GT(three, 2 * one);

    model.setTrigger(QStringLiteral(":"));
    const QImage image = render();
    EXPECT_GT(countPixels(image, layout::rowLabelRect(0), isLightText), 20);
    // The name is much wider than "smile": its light text reaches further right.
    const auto rightmostLight = [&](int row) {
        const QRect label = layout::rowLabelRect(row);
        int right = -1;
        for (int x = label.left(); x <= label.right(); ++x) {
            if (countPixels(image, QRect(x, label.top(), 1, label.height()), isLightText) > 0)
                right = x;
        }
        return right;
    };
    EXPECT_GT(rightmostLight(1), rightmostLight(0) + 20);
}

TEST_F(SuggestionRendering, SelectedRowTextIsInk) {
    model.setResults(sampleRows(2));
    model.setSelectedIndex(0);
    const QImage image = render();
    const QRect label = layout::rowLabelRect(0);
    EXPECT_GT(countPixels(image, label, isDark), 20);
    EXPECT_EQ(countPixels(image, label, isLightText), 0);
    EXPECT_GT(countPixels(image, layout::rowLabelRect(1), isLightText), 20);
}

TEST_F(SuggestionRendering, ToneStripUnderTheRows) {
    model.setResults(sampleRows(3));
    model.setSelectedIndex(2);
    const QImage plain = render();
    EXPECT_EQ(plain.height(), 102);

    model.setToneVariants(toneVariants(sampleRows(3)[2]));
    model.setSelectedToneIndex(3);
    const QImage toned = render();
    ASSERT_EQ(toned.height(), 142);

    // The hairline: cream at 0.1 over the ink, a little lighter than the background, inset 4.
    const QRect hairline = layout::hairlineRect(3);
    const QColor line = toned.pixelColor(hairline.center());
    EXPECT_TRUE(near(line, QColor(36, 36, 35), 4)) << describe(line);
    EXPECT_TRUE(near(toned.pixelColor(hairline.left() - 2, hairline.top()), inkBackground, 3));

    // Every cell holds a coloured hand; the tones differ from one another.
    QList<QColor> averages;
    for (int cell = 0; cell < 6; ++cell) {
        const QRect r = layout::toneCellRect(3, 6, cell);
        EXPECT_GT(
            countPixels(toned, r.adjusted(3, 3, -3, -3), [](QColor c) { return c.hsvSaturation() > 60; }), 20)
            << cell;
        const QImage cellImage = toned.copy(r.adjusted(4, 4, -4, -4))
                                     .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        averages.append(cellImage.pixelColor(0, 0));
    }
    for (int a = 0; a < 6; ++a) {
        for (int b = a + 1; b < 6; ++b)
            EXPECT_FALSE(near(averages[a], averages[b], 4)) << a << " vs " << b;
    }

    // The selected cell has an accent border and a faint accent wash; the others have neither.
    const QRect selected = layout::toneCellRect(3, 6, 3);
    const QPoint border(selected.left(), selected.center().y());
    EXPECT_TRUE(near(toned.pixelColor(border), palette::accent, 30)) << describe(toned.pixelColor(border));
    const QRect other = layout::toneCellRect(3, 6, 1);
    EXPECT_TRUE(near(toned.pixelColor(other.left(), other.center().y()), inkBackground, 3));
    const QColor wash = toned.pixelColor(selected.left() + 3, selected.top() + 8);
    EXPECT_TRUE(near(wash, QColor(43, 50, 21), 5)) << describe(wash);
}

TEST_F(SuggestionRendering, EmptyResultsDrawNoRows) {
    const QImage image = render();
    EXPECT_EQ(image.size(), QSize(272, 42));
    EXPECT_EQ(countPixels(image, layout::rowRect(0), isAccentLike), 0);
    EXPECT_EQ(countPixels(image, layout::rowRect(0), isVivid), 0);
    EXPECT_EQ(countPixels(image, layout::rowRect(0), isLightText), 0);
}

TEST_F(SuggestionRendering, BackdropRoundedAndSeeThroughOnlyWithACompositor) {
    model.setResults(sampleRows(2));
    model.setSelectedIndex(-1);
    const QImage blended = render(true);
    EXPECT_EQ(blended.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(blended.pixelColor(271, 71).alpha(), 0);
    const int centreAlpha = blended.pixelColor(258, 36).alpha();
    EXPECT_GT(centreAlpha, 200);
    EXPECT_LT(centreAlpha, 255);
    // The border: accent at 0.28 along the edge.
    const QColor edge = blended.pixelColor(136, 0);
    EXPECT_GT(edge.green(), edge.blue() + 20) << describe(edge);

    const QImage solid = render(false);
    EXPECT_EQ(solid.pixelColor(258, 36).alpha(), 255);
    EXPECT_TRUE(near(solid.pixelColor(258, 36), inkBackground, 3));
}

} // namespace
} // namespace pimsel

#include "ui/palette.h"
#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"

#include "ui_test_support.h"

#include <QGlyphRun>
#include <QImage>
#include <QRawFont>
#include <QTextLayout>

namespace pimsel {
namespace {

using namespace pimsel::testing;
namespace layout = suggestion_layout;

// The panel background drawn without a compositor: ink over a solid backdrop.
const QColor ink(12, 12, 12);

bool isAccentLike(const QColor& c) {
    return c.green() > 120 && c.green() > c.blue() + 80 && c.red() > c.blue() + 50;
}
bool isLightText(const QColor& c) {
    return c.value() > 170 && c.hsvSaturation() < 60;
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

TEST_F(SuggestionRendering, AccentFillsTheSelectedRowWithInkTextOnARoundedBackdrop) {
    model.setResults(sampleRows(3));
    // Right end of each row: no text reaches there with these short aliases.
    const auto rowEnd = [](int row) { return QPoint(258, layout::rowRect(row).center().y()); };
    for (int selected : {1, 2, -1}) {
        model.setSelectedIndex(selected);
        const QImage image = render();
        for (int row = 0; row < 3; ++row) {
            SCOPED_TRACE(::testing::Message() << "row " << row << " of selected " << selected);
            EXPECT_TRUE(near(image.pixelColor(rowEnd(row)), row == selected ? palette::accent : ink, 3));
            const QRect label = layout::rowLabelRect(row);
            if (row == selected) {
                EXPECT_EQ(countPixels(image, label, isLightText), 0);
                EXPECT_GT(countPixels(image, label, [](const QColor& c) { return c.value() < 60; }), 20);
            } else {
                EXPECT_GT(countPixels(image, label, isLightText), 20);
            }
        }
    }
    // The highlight has rounded ends: its very corner stays background.
    model.setSelectedIndex(2);
    EXPECT_TRUE(near(render().pixelColor(layout::rowRect(2).topLeft()), ink));

    // See-through, with rounded corners and an accent border, only where a compositor blends it.
    model.setResults(sampleRows(2));
    model.setSelectedIndex(-1);
    const QImage blended = render(true);
    EXPECT_EQ(blended.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(blended.pixelColor(271, 71).alpha(), 0);
    EXPECT_LT(blended.pixelColor(258, 36).alpha(), 255);
    const QImage solid = render(false);
    EXPECT_EQ(solid.pixelColor(258, 36).alpha(), 255);
    EXPECT_TRUE(near(solid.pixelColor(258, 36), ink));
}

TEST_F(SuggestionRendering, ColourEmojiAccentTriggerAndCreamAliasOrName) {
    model.setResults(sampleRows(7));
    model.setSelectedIndex(-1);
    const QImage rows = render();
    for (int row = 0; row < 7; ++row)
        EXPECT_GT(countPixels(rows, layout::rowEmojiRect(row), isSaturated), 20) << "row " << row;

    EmojiEntry unnamed = entry(QStringLiteral("🙂"), QString());
    unnamed.name = QStringLiteral("slightly smiling face"); // no alias: the name is shown
    model.setResults({entry(QStringLiteral("😄"), QStringLiteral("smile")), unnamed});
    const auto accentPixels = [&](const QString& trigger) {
        model.setTrigger(trigger);
        return countPixels(render(), layout::rowLabelRect(0), isAccentLike);
    };
    EXPECT_EQ(accentPixels(QString()), 0);
    const int one = accentPixels(QStringLiteral(":"));
    EXPECT_GT(one, 0);
    EXPECT_GT(accentPixels(QStringLiteral("%%%")), 2 * one);
    const QImage image = render();
    const int alias = countPixels(image, layout::rowLabelRect(0), isLightText);
    EXPECT_GT(alias, 20);
    EXPECT_GT(countPixels(image, layout::rowLabelRect(1), isLightText), 2 * alias);
}

TEST_F(SuggestionRendering, ToneStripUnderTheRows) {
    model.setResults(sampleRows(3));
    model.setSelectedIndex(2);
    model.setToneVariants(toneVariants(sampleRows(3)[2]));
    model.setSelectedToneIndex(3);
    const QImage toned = render();
    ASSERT_EQ(toned.height(), 142);

    // Every cell holds a coloured hand, each in its own tone.
    QList<QColor> averages;
    for (int cell = 0; cell < 6; ++cell) {
        const QRect r = layout::toneCellRect(3, 6, cell);
        EXPECT_GT(countPixels(toned, r.adjusted(3, 3, -3, -3),
                              [](const QColor& c) { return c.hsvSaturation() > 60; }),
                  20)
            << cell;
        averages << toned.copy(r.adjusted(4, 4, -4, -4))
                        .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .pixelColor(0, 0);
    }
    for (int a = 0; a < 6; ++a) {
        for (int b = a + 1; b < 6; ++b)
            EXPECT_FALSE(near(averages[a], averages[b], 4)) << a << " vs " << b;
    }

    // Only the selected cell has an accent border and a faint accent wash.
    const QRect selected = layout::toneCellRect(3, 6, 3);
    const QRect other = layout::toneCellRect(3, 6, 1);
    EXPECT_TRUE(near(toned.pixelColor(selected.left(), selected.center().y()), palette::accent, 30));
    EXPECT_TRUE(near(toned.pixelColor(other.left(), other.center().y()), ink));
}

// Every emoji of the catalogue, and each of its skin tones, shapes to one visible glyph of the
// colour font: a sequence that falls apart, or an entry the installed font cannot draw, fails here.
TEST(EmojiFont, EveryCatalogueEmojiAndToneIsOneColourGlyph) {
    const QList<EmojiEntry> catalogue = shippedCatalogue();
    ASSERT_GT(catalogue.size(), 1800);
    const QFont font = palette::emojiFont(layout::emojiPixelSize);
    int shaped = 0;
    QStringList split;
    for (const EmojiEntry& e : catalogue) {
        const QStringList forms = e.supportsSkinTones ? toneVariants(e) : QStringList{e.emoji};
        for (const QString& emoji : forms) {
            QTextLayout text(emoji, font);
            text.beginLayout();
            text.createLine();
            text.endLayout();
            int visible = 0;
            bool colourFontOnly = true;
            for (const QGlyphRun& run : text.glyphRuns()) {
                colourFontOnly &= run.rawFont().familyName() == QStringLiteral("Noto Color Emoji");
                const QList<quint32> glyphs = run.glyphIndexes();
                const QList<QPointF> positions = run.positions();
                for (qsizetype g = 0; g < glyphs.size(); ++g) {
                    const qreal next =
                        g + 1 < positions.size() ? positions[g + 1].x() : text.lineAt(0).naturalTextWidth();
                    visible += glyphs[g] != 0 && next - positions[g].x() > 0 ? 1 : 0;
                }
            }
            ++shaped;
            if (visible != 1 || !colourFontOnly)
                split << QStringLiteral("%1 (%2, %3 glyphs)").arg(emoji, e.aliases.value(0)).arg(visible);
        }
    }
    EXPECT_GT(shaped, catalogue.size());
    EXPECT_TRUE(split.isEmpty()) << split.size() << " of " << shaped
                                 << " split: " << split.mid(0, 20).join(QStringLiteral(", ")).toStdString();
}

} // namespace
} // namespace pimsel

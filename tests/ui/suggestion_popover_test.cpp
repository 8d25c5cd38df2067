// The suggestion popover: placement, its window, its pointer handling and what it draws.

#include "ui/palette.h"
#include "ui/popover_placement.h"
#include "ui/suggestion_compositor.h"
#include "ui/suggestion_layout.h"
#include "ui/suggestion_panel_view.h"
#include "ui/suggestion_view_model.h"
#include "ui/suggestion_window_controller.h"

#include "ui_test_support.h"

#include <QApplication>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

namespace pimsel {
namespace {

using namespace pimsel::testing;
namespace layout = suggestion_layout;

// A 1920×1080 screen with a 40 px panel along its bottom.
const ScreenArea mainScreen{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)};
// To its right, 1280×1024 with a dock on the left and a 124 px panel at the bottom.
const QList<ScreenArea> sideBySide{mainScreen, {QRect(1920, 0, 1280, 1024), QRect(1990, 0, 1210, 900)}};
const QList<ScreenArea> stacked{mainScreen, {QRect(0, 1080, 1920, 1080), QRect(0, 1080, 1920, 1080)}};
const QList<ScreenArea> topBar{{QRect(0, 0, 800, 300), QRect(0, 30, 800, 270)}};
const QList<ScreenArea> narrow{{QRect(0, 0, 200, 600), QRect(0, 0, 200, 600)}};
const QList<ScreenArea> shortScreen{{QRect(0, 0, 800, 150), QRect(0, 0, 800, 150)}};
const QList<ScreenArea> single{mainScreen};

struct Placement {
    const char* name;
    std::optional<QRect> caret;
    QPoint pointer;
    int height; // of a 272 px wide panel: 192 is six rows, 42 one
    QList<ScreenArea> screens;
    std::optional<int> primary;
    QPoint expected;
};

void PrintTo(const Placement& p, std::ostream* os) {
    *os << p.name;
}

const QList<Placement> placements{
    // 6 px under the caret's bottom edge, left edges aligned.
    {"Below", QRect(100, 200, 2, 18), {}, 192, single, 0, {100, 224}},
    // The bottom would pass the available bottom (1040): above the caret instead.
    {"FlipAbove", QRect(100, 950, 2, 18), {}, 192, single, 0, {100, 752}},
    {"NoFlipButInset", QRect(100, 824, 2, 18), {}, 192, single, 0, {100, 844}},
    {"FlipByOnePixel", QRect(100, 825, 2, 18), {}, 192, single, 0, {100, 627}},
    {"RightEdge", QRect(1800, 200, 2, 18), {}, 192, single, 0, {1644, 224}},
    {"LeftEdge", QRect(1, 200, 2, 18), {}, 192, single, 0, {4, 224}},
    {"FlipRunsIntoTopBar", QRect(100, 150, 2, 18), {}, 192, topBar, 0, {100, 34}},
    // Narrower than the panel: the right inset wins. Shorter: the top inset wins.
    {"NarrowScreen", QRect(50, 20, 2, 18), {}, 42, narrow, 0, {-76, 44}},
    {"ShortScreen", QRect(50, 20, 2, 18), {}, 192, shortScreen, 0, {50, 4}},
    // The caret's own screen clamps, not the primary one.
    {"RightScreenRightEdge", QRect(3150, 500, 2, 18), {}, 192, sideBySide, 0, {2924, 524}},
    {"RightScreenFlip", QRect(2000, 700, 2, 18), {}, 192, sideBySide, 0, {2000, 502}},
    {"NoSpillToTheNextScreen", QRect(1900, 300, 2, 18), {}, 192, sideBySide, 1, {1644, 324}},
    {"StraddlingCaretGoesByItsCentre", QRect(1910, 300, 30, 18), {}, 192, sideBySide, 0, {1994, 324}},
    {"UpperScreenBottom", QRect(100, 1000, 2, 18), {}, 192, stacked, 0, {100, 802}},
    {"LowerScreenTop", QRect(100, 1085, 2, 18), {}, 192, stacked, 0, {100, 1109}},
    {"OffScreenUsesPrimary", QRect(5000, 100, 2, 18), {}, 192, sideBySide, 1, {2924, 124}},
    {"NoScreens", QRect(5000, 100, 2, 18), {}, 192, {}, std::nullopt, {5000, 124}},
    {"NoMatchNoPrimary", QRect(5000, 100, 2, 18), {}, 192, sideBySide, std::nullopt, {5000, 124}},
    // No caret: an 18 px stand-in hangs from the pointer.
    {"UnderPointer", std::nullopt, {500, 400}, 192, single, 0, {500, 424}},
    {"PointerNearBottom", std::nullopt, {500, 1000}, 192, single, 0, {500, 802}},
};

class PopoverPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(PopoverPlacement, PlacesThePanel) {
    const Placement& p = GetParam();
    EXPECT_EQ(placePopover({p.caret, p.pointer, QSize(272, p.height), p.screens, p.primary}), p.expected);
}

INSTANTIATE_TEST_SUITE_P(Popover, PopoverPlacement, ::testing::ValuesIn(placements),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PopoverScreen, FramesAreHalfOpenAndABadPrimaryIsNone) {
    EXPECT_EQ(popoverScreenIndex(QRect(1919, 10, 2, 2), sideBySide, 0), 1); // centre on the shared edge
    EXPECT_EQ(popoverScreenIndex(QRect(1918, 10, 2, 2), sideBySide, 1), 0);
    EXPECT_EQ(popoverScreenIndex(QRect(-50, 10, 2, 2), sideBySide, 1), 1);
    EXPECT_EQ(popoverScreenIndex(QRect(-50, 10, 2, 2), sideBySide, 5), std::nullopt);
}

// A desktop the test steers: one 1920×1080 screen with a 40 px bottom panel unless changed.
struct FakeDesktop {
    QList<ScreenArea> screens{{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1040)}};
    QPoint pointer{500, 400};
    bool compositor = true;

    SuggestionDesktop desktop() {
        return {[this] { return screens; }, [] { return std::optional<int>(0); }, [this] { return pointer; },
                [this] { return compositor; }};
    }
};

class SuggestionPopover : public ::testing::Test {
protected:
    void show(int rows, std::optional<QRect> anchor = QRect(100, 200, 2, 18), const QString& trigger = ":") {
        controller.show(sampleRows(rows), 0, anchor, trigger);
    }
    QRect geometry() const { return controller.panel()->geometry(); }

    FakeDesktop fake;
    SuggestionWindowController controller{fake.desktop()};
    const QStringList tones = toneVariants(sampleRows(3)[2]);
};

TEST_F(SuggestionPopover, OneReusedWindowThatNeverTakesFocusCoversItsRowsAndKeepsTheToneStrip) {
    controller.hide(); // nothing to act on before the first show
    controller.updateSelection(1);
    EXPECT_FALSE(controller.containsGlobalPoint(QPoint(150, 250)));
    show(3); // frame (100, 224) – (371, 325)
    SuggestionPanelView* panel = controller.panel();
    ASSERT_NE(panel, nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
    for (QPoint inside : {QPoint(100, 224), QPoint(371, 325)})
        EXPECT_TRUE(controller.containsGlobalPoint(inside));
    for (QPoint outside : {QPoint(99, 250), QPoint(372, 250), QPoint(150, 223), QPoint(150, 326)})
        EXPECT_FALSE(controller.containsGlobalPoint(outside));
    controller.showToneVariants(tones, 2);
    EXPECT_TRUE(controller.containsGlobalPoint(QPoint(150, 360)));
    controller.show(sampleRows(4), 1, QRect(100, 200, 2, 18), ";");
    EXPECT_EQ(controller.panel(), panel);
    EXPECT_EQ(controller.model().selectedToneIndex(), 2) << "a new list keeps the strip";
    controller.hide();
    EXPECT_FALSE(panel->isVisible() || controller.containsGlobalPoint(QPoint(150, 250)));
}

TEST_F(SuggestionPopover, PlacedAtEachShowAndWhenTheToneStripComesOrGoes) {
    show(3, QRect(1800, 980, 2, 18));
    EXPECT_EQ(geometry(), QRect(1644, 872, 272, 102));
    fake.pointer = QPoint(700, 300);
    show(3, std::nullopt);
    EXPECT_EQ(geometry(), QRect(700, 324, 272, 102));
    fake.screens.append({QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)});
    show(3, QRect(3190, 500, 2, 18));
    EXPECT_EQ(geometry(), QRect(2924, 524, 272, 102));

    // Room for three rows under the caret but not for the strip as well; the stored caret is
    // used, not the pointer, and a selection change moves nothing.
    show(3, QRect(100, 900, 2, 18));
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    fake.pointer = QPoint(10, 10);
    controller.showToneVariants(tones, 0);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    controller.showToneVariants(tones, 4);
    controller.updateSelection(2);
    EXPECT_EQ(geometry(), QRect(100, 752, 272, 142));
    controller.hideToneVariants();
    EXPECT_EQ(geometry(), QRect(100, 924, 272, 102));
    EXPECT_FALSE(controller.model().hasToneVariants());
}

// See-through with a compositor at the first show; otherwise cut by a mask, for good.
TEST(SuggestionPopoverShape, RoundedByTranslucencyOrByAMask) {
    const QStringList tones = toneVariants(sampleRows(3)[2]);
    for (bool compositorAtFirstShow : {true, false}) {
        FakeDesktop desktop;
        desktop.compositor = compositorAtFirstShow;
        SuggestionWindowController controller(desktop.desktop());
        controller.show(sampleRows(2), 0, QRect(100, 200, 2, 18), ":");
        SuggestionPanelView* panel = controller.panel();
        EXPECT_EQ(panel->testAttribute(Qt::WA_TranslucentBackground), compositorAtFirstShow);
        EXPECT_EQ(panel->hasTranslucentBackdrop(), compositorAtFirstShow);
        EXPECT_EQ(panel->mask().isEmpty(), compositorAtFirstShow);

        // The compositor comes or goes: a see-through window is cut from then on, at every size.
        desktop.compositor = !compositorAtFirstShow;
        controller.show(sampleRows(3), 0, QRect(100, 200, 2, 18), ":");
        controller.showToneVariants(tones, 0);
        const QRegion mask = panel->mask();
        for (QPoint corner : {QPoint(0, 0), QPoint(271, 0), QPoint(0, 141), QPoint(271, 141)})
            EXPECT_FALSE(mask.contains(corner)) << corner.x() << "," << corner.y();
        for (QPoint inside : {QPoint(12, 0), QPoint(0, 36), QPoint(136, 130)})
            EXPECT_TRUE(mask.contains(inside)) << inside.x() << "," << inside.y();
        desktop.compositor = compositorAtFirstShow;
        controller.show(sampleRows(3), 0, QRect(100, 200, 2, 18), ":");
        EXPECT_EQ(panel->mask().isEmpty(), compositorAtFirstShow);
    }
}

TEST_F(SuggestionPopover, PointerReportsEachRowEnteredAndTheItemPressedAndReleasedOn) {
    QStringList log;
    controller.setCallbacks({[&](int row) { log << QStringLiteral("pick %1").arg(row); },
                             [&](int row) { log << QStringLiteral("hover %1").arg(row); },
                             [&](int variant) { log << QStringLiteral("tone %1").arg(variant); }});
    // Three rows span x 6..265 and y 6+30i..35+30i; the strip under them begins at y 96, its cells
    // are 28 px squares 4 px apart, centred, from x 42 and y 104. Under one row the cells start at y 44.
    const struct {
        int rows, variants;
        QPoint point;
        const char* reported;
    } clicks[] = {
        {3, 0, {6, 6}, "pick 0"}, {3, 0, {100, 36}, "pick 1"}, {3, 0, {100, 95}, "pick 2"},
        {3, 0, {5, 20}, ""},      {3, 0, {100, 96}, ""},       {3, 6, {42, 104}, "tone 0"},
        {3, 6, {71, 110}, ""},    {3, 6, {74, 110}, "tone 1"}, {3, 6, {229, 131}, "tone 5"},
        {3, 6, {230, 120}, ""},   {1, 6, {42, 44}, "tone 0"},  {1, 2, {138, 50}, "tone 1"},
        {1, 2, {42, 50}, ""},     {2, 0, {100, 80}, ""},
    };
    for (const auto& c : clicks) {
        show(c.rows);
        if (c.variants)
            controller.showToneVariants(tones.mid(0, c.variants), 0);
        else
            controller.hideToneVariants();
        log.clear();
        click(*controller.panel(), c.point);
        EXPECT_EQ(log.join(u','), c.reported)
            << c.point.x() << "," << c.point.y() << " rows " << c.rows << " variants " << c.variants;
    }

    SuggestionPanelView& panel = *controller.panel();
    show(3);
    controller.showToneVariants(tones, 0);
    log.clear();
    click(panel, {100, 20}, {}, Qt::RightButton);
    click(panel, {100, 20}, QPoint(100, 50)); // dragged to another row
    click(panel, {100, 80}, QPoint(50, 110)); // dragged onto a cell
    for (QPoint p : {QPoint(20, 10), QPoint(200, 30), QPoint(100, 20), QPoint(100, 80), QPoint(100, 40)})
        moveTo(panel, p);
    // Padding and the tone strip report nothing, but leaving a row and coming back counts again.
    for (QPoint p : {QPoint(2, 40), QPoint(50, 110), QPoint(100, 40)})
        moveTo(panel, p);
    // Leaving the window forgets the row; entering straight onto it reports it.
    leave(panel);
    enter(panel, {100, 40});
    moveTo(panel, {110, 41});
    // So does hiding the panel: the same row is reported after the next show.
    controller.hide();
    show(3);
    moveTo(panel, {100, 50});
    EXPECT_EQ(log, QStringList({"hover 0", "hover 2", "hover 1", "hover 1", "hover 1", "hover 1"}));

    // Missing callbacks are skipped.
    controller.setCallbacks({});
    click(panel, {100, 20});
    moveTo(panel, {100, 80});
    click(panel, {42, 104});

    // The coordinator accepts on a pick and hides the popover from inside the callback.
    controller.setCallbacks({[&](int row) {
                                 log << QStringLiteral("pick %1").arg(row), controller.hide(), show(1),
                                     controller.hide();
                             },
                             nullptr, nullptr});
    click(panel, {100, 80});
    EXPECT_EQ(log.last(), "pick 2");
    EXPECT_FALSE(panel.isVisible());
}

TEST(CompositorSelection, NamesTheScreenOfTheDisplay) {
    const std::pair<QByteArray, QByteArray> cases[] = {
        {":0", "_NET_WM_CM_S0"},       {":1.1", "_NET_WM_CM_S1"},     {"localhost:10.2", "_NET_WM_CM_S2"},
        {"", "_NET_WM_CM_S0"},         {"host:0.x", "_NET_WM_CM_S0"}, {"[::1]:0.3", "_NET_WM_CM_S3"},
        {"unix:12.0", "_NET_WM_CM_S0"}};
    for (const auto& [display, expected] : cases)
        EXPECT_EQ(compositorSelectionName(display), expected) << display.toStdString();
    // Off X11 there is nothing to blend with.
    EXPECT_TRUE(QGuiApplication::platformName() == "xcb" || !isCompositorRunning());
}

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

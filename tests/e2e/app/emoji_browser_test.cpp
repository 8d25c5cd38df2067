// The emoji browser of the built application, opened by the doubled trigger in a GTK entry and
// driven by the user's keys and pointer: search, pick, dismissal, and the kept window reopening.
#include "engine/emoji_store.h"
#include "tests/e2e/support/typing_fixture.h"
#include "ui/emoji_browser_grid.h"
#include "ui/emoji_browser_view.h"
#include "ui/emoji_browser_view_model.h"
#include "ui/palette.h"

#include <QColor>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <memory>
#include <thread>

namespace pimsel::e2e {
namespace {

QColor over(QColor top, QColor bottom) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

// Where the open browser draws what the checks look at, in window coordinates: the same view,
// laid out here with the same fonts, on the catalogue of a profile that never picked an emoji.
struct BrowserLayout {
    QList<QRect> firstRow; // the cells of the first row, selection on the first
    QRect searchText;      // where the query (or the placeholder) is written
};

BrowserLayout expectedLayout() {
    QFile file(EmojiStore::defaultCatalogPath());
    const bool opened = file.open(QIODevice::ReadOnly);
    EXPECT_TRUE(opened);
    EmojiBrowserViewModel model;
    model.load(EmojiStore::decodeCatalog(file.readAll()));
    EmojiBrowserView view(&model);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.resize(EmojiBrowserView::panelWidth, EmojiBrowserView::panelHeight);
    view.show();
    QCoreApplication::processEvents();

    BrowserLayout result;
    const QPoint origin = view.grid()->viewport()->mapTo(&view, QPoint());
    const EmojiGridLayout& grid = view.grid()->gridLayout();
    EXPECT_FALSE(grid.blocks().isEmpty());
    if (grid.blocks().isEmpty())
        return result;
    const EmojiGridLayout::Block& first = grid.blocks().first();
    for (int i = 0; i < std::min(EmojiGridLayout::columns, first.count); ++i)
        result.firstRow.append(grid.cellRect(i).translated(origin));
    const QRect line = view.searchLine()->geometry();
    result.searchText = QRect(line.left() + 40, line.top() + 4, 120, line.height() - 8);
    return result;
}

// The strip along the top of a cell, above the emoji: the cell's own background.
QRect cellBackdrop(const QRect& cell) {
    return QRect(cell.left() + 10, cell.top() + 1, cell.width() - 20, 3);
}

bool allNear(const QImage& image, const QRect& area, QColor colour, int tolerance) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (colourDistance(image.pixel(x, y), colour) > tolerance)
                return false;
    return true;
}

// A fresh field and a freshly started Pimsel, the user on the session's own keyboard, whose focus
// the window manager moves: to the browser while it is open and back to the field when it closes.
// A keyboard of its own held on the field would hide from the window manager that the field got
// the focus back.
class Browser : public Typing {
protected:
    static void SetUpTestSuite() {
        // Laid out before any Pimsel runs: a window of this process appearing and going away later
        // would be another application taking and giving back the focus.
        layout = expectedLayout();
    }
    bool onSessionKeyboard() const override { return true; }
    void SetUp() override {
        Typing::SetUp();
        if (HasFatalFailure())
            return;
        // The idle-time preparation is over before the user first asks for the browser.
        ASSERT_TRUE(pimsel->waitForOutput(QStringLiteral("emoji browser prepared"), 20s))
            << pimsel->output().toStdString();
        pump(2s);
    }

    void user(const std::function<bool()>& action) {
        bool ok = false;
        whileUserTypes([&] { ok = action(); });
        EXPECT_TRUE(ok) << typist->error();
    }

    std::optional<QRect> browserWindow() {
        const std::vector<xcb_window_t> windows = x.managedWindows(pimsel->pid());
        return windows.empty() ? std::nullopt : x.rootGeometry(windows.front());
    }
    // The browser is on screen and painted: its first cell carries the selection's wash.
    std::optional<QRect> paintedBrowser(std::chrono::milliseconds patience = 3s) {
        std::optional<QRect> window;
        pumpUntil(
            [&] {
                window = browserWindow();
                if (!window || layout.firstRow.isEmpty())
                    return false;
                const QRect strip = cellBackdrop(layout.firstRow.first());
                const QImage pixels = grabScreen(strip.translated(window->topLeft()));
                return allNear(pixels, pixels.rect(), wash, 12);
            },
            patience);
        return window && !layout.firstRow.isEmpty() ? window : std::nullopt;
    }
    std::string describeBrowser() {
        const std::optional<QRect> window = browserWindow();
        if (!window)
            return "no browser window";
        const QRect strip = cellBackdrop(layout.firstRow.value(0)).translated(window->topLeft());
        const QColor seen = QColor::fromRgb(grabScreen(strip).pixel(0, 0));
        return QStringLiteral("browser at %1,%2 %3x%4, first cell's backdrop %5")
            .arg(window->x())
            .arg(window->y())
            .arg(window->width())
            .arg(window->height())
            .arg(seen.name())
            .toStdString();
    }
    bool browserGone() {
        return pumpUntil([&] { return !browserWindow(); }, 3s);
    }
    // The second trigger of the pair, until the browser is painted.
    bool openBrowser() {
        // One finger strikes the same key twice: a lift and a press, 100 ms apart at the quickest.
        user([&] {
            const bool typed = typist->type(":");
            std::this_thread::sleep_for(70ms); // after the typist's own 30 ms
            return typed && typist->press("Shift_L");
        });
        typist->sendKey("semicolon", true);
        typist->sendKey("semicolon", false);
        const bool shown = paintedBrowser().has_value();
        user([&] { return typist->release("Shift_L"); });
        EXPECT_TRUE(shown) << describeBrowser() << "; field " << app->text().toStdString() << "; "
                           << pimsel->output().toStdString();
        return shown;
    }
    // A space before the next trigger, so that it starts a shortcode wherever the field stands.
    void startAfterSpace() {
        type(" ");
        base += QLatin1Char(' ');
        ASSERT_EQ(app->waitForText(base).toStdString(), base.toStdString());
    }

    // After a close the field's window is the session's active one again, so the user's next key,
    // typed on the session's own keyboard, lands in the field.
    void expectKeyboardBackInField() {
        EXPECT_TRUE(pumpUntil([&] { return Typist::activeWindow() == app->window(); }, 1s))
            << "active window 0x" << std::hex << Typist::activeWindow() << ", the field's 0x" << app->window()
            << std::dec;
        base = app->text() + QLatin1Char(' ');
        type(" ");
        EXPECT_EQ(app->waitForText(base).toStdString(), base.toStdString()) << "the key went elsewhere";
    }

    static inline BrowserLayout layout;
    QString base; // the field's text before the trigger to come
    const QColor wash = over(palette::accentWash(), palette::ink);
};

// One user's path: the first opening, how the open browser looks, a search picked with Return in
// place of the trigger, then Escape and a click outside, each closing it once and leaving the
// trigger, and later openings of the kept window.
TEST_P(Browser, DoubledTriggerOpensItSearchPicksAndEscapeOrAClickOutsideCloseIt) {
    ASSERT_TRUE(openBrowser());
    const QString trigger = base + QLatin1Char(':');
    EXPECT_EQ(app->settledText().toStdString(), trigger.toStdString())
        << "the second trigger reached the field";
    std::optional<QRect> window = browserWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(EmojiBrowserView::panelWidth, EmojiBrowserView::panelHeight));

    // How the painted browser looks is the view's own test (ui_tests). A search keystroke shows in
    // the search line.
    const QRect searchText = layout.searchText.translated(window->topLeft());
    const QImage before = grabScreen(searchText);
    type("t");
    EXPECT_TRUE(pumpUntil([&] { return grabScreen(searchText) != before; }, 2s))
        << "the search line never showed the typed letter";

    type("ada");
    EXPECT_EQ(app->settledText().toStdString(), trigger.toStdString()) << "the search reached the field";
    ASSERT_TRUE(browserWindow()) << "the browser closed while searching";
    key("Return");
    EXPECT_TRUE(browserGone());
    // On a field that started empty: exactly the emoji.
    const QString picked = base + QStringLiteral("🎉");
    EXPECT_EQ(app->waitForText(picked).toStdString(), picked.toStdString());
    EXPECT_EQ(app->settledText().toStdString(), picked.toStdString());
    expectKeyboardBackInField();
    // Keys typed while the insertion is in flight (until the clipboard is back) pass untouched.
    pump(500ms);

    const auto expectTriggerLeft = [&] {
        base += QLatin1Char(':');
        EXPECT_EQ(app->settledText().toStdString(), base.toStdString());
    };
    ASSERT_TRUE(openBrowser());
    key("Escape");
    EXPECT_TRUE(browserGone());
    expectTriggerLeft();
    expectKeyboardBackInField();

    ASSERT_TRUE(openBrowser());
    window = browserWindow();
    ASSERT_TRUE(window);
    // Outside the browser, on the field's window where it shows, else on the bare desktop.
    std::optional<QRect> field = x.rootGeometry(app->window());
    QPoint outside(window->right() + 40, window->bottom() + 40);
    if (field && !window->contains(field->center()))
        outside = field->center();
    // With the session's own pointer, whose clicks the window manager turns into activations.
    user([&] { return typist->click(outside.x(), outside.y()); });
    EXPECT_TRUE(browserGone()) << "a click outside left the browser open";
    pump(500ms);
    EXPECT_TRUE(pimsel->isRunning());
    expectTriggerLeft();
    expectKeyboardBackInField();

    // The dismissals were taken once and for all: the kept window opens and closes again as before.
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(openBrowser());
        key("Escape");
        ASSERT_TRUE(browserGone());
        expectTriggerLeft();
        startAfterSpace();
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, Browser, testing::Values(TargetApp::Kind::gtk), targetName);

} // namespace
} // namespace pimsel::e2e

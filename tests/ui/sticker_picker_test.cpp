#include "stickers/sticker_picker_view_model.h"
#include "ui/palette.h"
#include "ui/sticker_picker_grid.h"
#include "ui/sticker_picker_view.h"
#include "ui/sticker_picker_window_controller.h"
#include "ui/sticker_preview.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include "ui_test_support.h"

using namespace pimsel;
using namespace pimsel::testing;

namespace {

StickerEntry sticker(const QString& id, const QString& name) {
    return StickerEntry{id, id + QStringLiteral(".gif"), {name}, name, true, false, 0, {}, {}};
}

StickerEntry gif(int i) {
    StickerEntry e = sticker(QStringLiteral("giphy-g%1").arg(i), {});
    e.remoteURLOverride = e.thumbnailURLOverride = QUrl(QStringLiteral("https://gifs.example/%1.gif").arg(i));
    return e;
}

QList<StickerEntry> sixStickers() {
    return {sticker("1f973", "partying face"), sticker("1f389", "party popper"),
            sticker("1f600", "grinning"),      sticker("1f525", "fire"),
            sticker("2764_fe0f", "red heart"), sticker("1f44b", "waving hand")};
}

int countPixels(const QImage& image, const QRect& area, const QColor& color) {
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += near(image.pixelColor(x, y), color, 6) ? 1 : 0;
    return count;
}

// A loader whose every preview is a solid red square, answered at once.
StickerPickerViewModel::ImageLoader redLoader() {
    return [](const StickerEntry&, StickerPickerViewModel::ImageCompletion done) {
        QImage red(40, 40, QImage::Format_ARGB32_Premultiplied);
        red.fill(Qt::red);
        done(QVariant::fromValue(StickerPreview{{red}, {100}, 0, {}, {}, 0}));
    };
}

} // namespace

// One screenshot per mode: a first row of 5 (stickers) or 3 (GIFs) cells, each showing something, and
// the attribution row only for GIFs.
TEST(StickerPickerViewTest, PaintsEachModeWithItsColumnsAndAttribution) {
    struct Case {
        bool isGif;
        int firstRow;
        int secondRow;
    };
    for (const Case& c : {Case{false, 5, 1}, Case{true, 3, 3}}) {
        SCOPED_TRACE(c.isGif ? "gif" : "sticker");
        StickerPickerViewModel model(c.isGif ? redLoader() : StickerPickerViewModel::ImageLoader());
        model.setRemoteDebounce(std::chrono::milliseconds(0));
        if (c.isGif) {
            QList<StickerEntry> results;
            for (int i = 0; i < 6; ++i)
                results.append(gif(i));
            model.loadRemote(QStringLiteral("/gif"),
                             [results](const QString&, GiphySearchCompletion done) { done(results); });
            model.refresh();
            ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isLoading(); }, 2000));
        } else {
            model.loadStickers(sixStickers());
        }
        StickerPickerView view(&model);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.grab(); // the first paint asks for the previews
        QCoreApplication::processEvents();
        const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);

        StickerPickerGrid& grid = *view.grid();
        const QPoint origin = grid.viewport()->mapTo(&view, QPoint());
        const StickerGridLayout& layout = grid.gridLayout();
        int rows[2] = {0, 0};
        for (int i = 0; i < 6; ++i) {
            const QRect preview = layout.previewRect(i).translated(origin);
            // A cell shows something: the red preview for GIFs, the colour emoji for stickers.
            const int lit = countPixels(shot, preview, c.isGif ? QColor(Qt::red) : palette::ink);
            EXPECT_GT(c.isGif ? lit : preview.width() * preview.height() - lit, preview.width() * 4) << i;
            ++rows[layout.cellRect(i).top() == layout.cellRect(0).top() ? 0 : 1];
        }
        EXPECT_EQ(rows[0], c.firstRow);
        EXPECT_EQ(rows[1], c.secondRow);
        const int attributionCream =
            countPixels(shot, QRect(0, StickerPickerView::panelHeight - 28, 200, 28), palette::cream);
        EXPECT_EQ(attributionCream > 0, c.isGif);
    }
}

TEST(StickerPickerViewTest, EmptyStateSaysWhatIsMissing) {
    StickerPickerViewModel model({});
    StickerPickerGrid grid(&model);
    model.loadStickers({});
    EXPECT_EQ(grid.emptyStateText(), QStringLiteral("No stickers"));
    model.loadStickers(sixStickers());
    model.appendToQuery(QStringLiteral("zzz"));
    EXPECT_EQ(grid.emptyStateText(), QStringLiteral("No stickers match \u201Czzz\u201D"));

    model.setRemoteDebounce(std::chrono::milliseconds(0));
    model.loadRemote(QStringLiteral("/gif"), [](const QString&, GiphySearchCompletion done) { done({}); });
    model.appendToQuery(QStringLiteral("cats"));
    EXPECT_EQ(grid.emptyStateText(), QStringLiteral("Searching…"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.isLoading(); }, 2000));
    EXPECT_EQ(grid.emptyStateText(), QStringLiteral("No GIFs match \u201Ccats\u201D"));
}

TEST(StickerPreviewTest, LongAnimationsKeepTheirLengthWithBoundedFrames) {
    // Ten one-pixel frames of 50, 60, … 140 ms.
    QByteArray gif = QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\xff\x00", 19);
    for (int i = 0; i < 10; ++i) {
        gif += QByteArray("!\xf9\x04\x00", 4) + char(5 + i) + QByteArray("\x00\x00\x00", 3);
        gif += QByteArray(",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02", 12) + char(i % 2 ? 0x4c : 0x44) +
               QByteArray("\x01\x00", 2);
    }
    QTemporaryDir dir;
    QFile file(dir.filePath("anim.gif"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(gif + ";") > 0);
    file.close();
    const StickerPreview preview = StickerPreview::decode(file.fileName(), 60, 4);
    EXPECT_EQ(preview.delaysMs, (QList<int>{180, 270, 360, 140})); // every third frame, none cut off
    EXPECT_EQ(preview.durationMs, 950);
    EXPECT_EQ(&preview.frameAt(200), &preview.frames[1]);
    EXPECT_EQ(&preview.frameAt(950 + 10), &preview.frames[0]); // loops
    EXPECT_EQ(StickerPreview::decode(file.fileName(), 60).frames.size(), 10);

    // Past the pool's budget the least recently painted animation drops its frames, shows its first
    // one, and comes back from its file when painted again.
    const auto pool = std::make_shared<PreviewFramePool>(60); // one ten-frame animation: 40 bytes
    StickerPreview a = StickerPreview::decode(file.fileName(), 60);
    a.path = file.fileName();
    a.maxSide = 60;
    StickerPreview b = a;
    b.maxSide = 59; // another size of the same file: another animation
    pool->adopt(a);
    pool->adopt(b);
    EXPECT_EQ(a.frames.size(), 1);
    EXPECT_EQ(pool->heldBytes(), 40);
    ASSERT_NE(pool->frame(b, 1), nullptr);
    EXPECT_EQ(&a.frameAt(200), &a.frames[0]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pool->frame(a, 1) != nullptr; }, 5000));
    EXPECT_NE(pool->frame(a, 1)->pixel(0, 0), a.frames[0].pixel(0, 0));
    EXPECT_EQ(pool->heldBytes(), 40);

    // The loader decodes off the GUI thread and answers on it, scaled to the cell; a file that is
    // missing or no image gives nothing.
    QImage big(300, 150, QImage::Format_ARGB32);
    big.fill(Qt::blue);
    ASSERT_TRUE(big.save(dir.filePath("big.png")));
    QHash<QString, QVariant> answers;
    const auto loader = makeStickerImageLoader(
        [&](const StickerEntry& e, std::function<void(std::optional<QUrl>)> done) {
            done(QUrl::fromLocalFile(dir.filePath(e.fileName)));
        },
        PreviewSizes{60, 128});
    for (const char* name : {"big.png", "missing.png"}) {
        loader(StickerEntry{name, name, {}, {}, false, false, 0, {}, {}}, [&, name](const QVariant& image) {
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            answers.insert(QString::fromLatin1(name), image);
        });
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }, 5000));
    EXPECT_EQ(answers["big.png"].value<StickerPreview>().frames.value(0).size(), QSize(60, 30));
    EXPECT_FALSE(answers["missing.png"].isValid());
}

namespace {

constexpr quint32 messagingWindow = 0x4200007;

class StickerPickerControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<StickerPickerWindowController>(
            StickerPickerViewModel::ImageLoader(),
            WindowActivation{[this] { return activeWindow; }, [this](quint32 w) { events.append(w); }});
        controller->setCallbacks(
            {[this](const StickerEntry& e) { picks.append(e.id); }, [this] { ++dismissals; }});
    }
    void open() {
        controller->model().loadStickers(sixStickers());
        controller->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->panel()));
        QCoreApplication::processEvents();
        events.clear();
    }

    quint32 activeWindow = messagingWindow;
    QList<quint32> events;
    QStringList picks;
    int dismissals = 0;
    std::unique_ptr<StickerPickerWindowController> controller;
};

} // namespace

TEST_F(StickerPickerControllerTest, PickReactivatesAtOnceReportsOnceAfterTheDelayAndNeverDismisses) {
    open();
    StickerPickerPanel* panel = controller->panel();
    EXPECT_EQ(QApplication::activeWindow(), panel);
    const QPoint moved = panel->pos() + QPoint(37, 23);
    panel->move(moved);

    QElapsedTimer clock;
    clock.start();
    controller->model().pick(sixStickers()[1]);
    EXPECT_EQ(events, QList<quint32>{messagingWindow});
    EXPECT_FALSE(panel->isVisible());
    // Escape, a second pick and the resign-key that hiding provokes all come too late.
    controller->model().close();
    controller->model().pick(sixStickers()[2]);
    controller->finish(std::nullopt);
    EXPECT_TRUE(picks.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !picks.isEmpty(); }, 2000));
    EXPECT_GE(clock.elapsed(), StickerPickerWindowController::reactivateDelayMs);
    QTest::qWait(2 * StickerPickerWindowController::reactivateDelayMs);
    EXPECT_EQ(picks, QStringList{QStringLiteral("1f389")});
    EXPECT_EQ(dismissals, 0);

    open(); // reused where the user left it
    EXPECT_EQ(controller->panel(), panel);
    EXPECT_EQ(panel->pos(), moved);
}

TEST_F(StickerPickerControllerTest, DismissalIsImmediateAndOnceWhileOrderingOutStaysSilent) {
    open();
    controller->model().close();
    EXPECT_EQ(dismissals, 1);
    QWidget other;
    other.show();
    other.activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(events, QList<quint32>{messagingWindow});

    // Another application took over: the picker goes without taking the keyboard back.
    open();
    controller->orderOut();
    QTest::qWait(50);
    EXPECT_FALSE(controller->panel()->isVisible());
    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(dismissals, 1);
    EXPECT_TRUE(picks.isEmpty());
}

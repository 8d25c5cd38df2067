#include "stickers/sticker_picker_view_model.h"
#include "ui/sticker_picker_window_controller.h"
#include "ui/sticker_preview.h"

#include "support/files.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace pimsel;

// Ten one-pixel frames of 50, 60, … 140 ms: with at most four frames kept, every third is kept and none
// cut off. Past the pool's budget the least recently painted animation drops its frames, shows its
// first one, and comes back from its file when painted again.
TEST(StickerPreviewTest, LongAnimationsKeepTheirLengthWithBoundedFrames) {
    QByteArray gif = QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\xff\x00", 19);
    for (int i = 0; i < 10; ++i) {
        gif += QByteArray("!\xf9\x04\x00", 4) + char(5 + i) + QByteArray("\x00\x00\x00", 3);
        gif += QByteArray(",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02", 12) + char(i % 2 ? 0x4c : 0x44) +
               QByteArray("\x01\x00", 2);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("anim.gif");
    ASSERT_TRUE(pimsel::testing::writeFile(path, gif + ";"));
    const StickerPreview preview = StickerPreview::decode(path, 60, 4);
    EXPECT_EQ(preview.delaysMs, (QList<int>{180, 270, 360, 140}));
    EXPECT_EQ(preview.durationMs, 950);
    EXPECT_EQ(&preview.frameAt(200), &preview.frames[1]);
    EXPECT_EQ(&preview.frameAt(950 + 10), &preview.frames[0]); // loops

    const auto pool = std::make_shared<PreviewFramePool>(60); // one ten-frame animation: 40 bytes
    StickerPreview a = StickerPreview::decode(path, 60);
    a.path = path;
    a.maxSide = 60;
    StickerPreview b = a;
    b.maxSide = 59; // another size of the same file: another animation
    pool->adopt(a);
    pool->adopt(b);
    EXPECT_EQ(a.frames.size(), 1);
    EXPECT_EQ(pool->heldBytes(), 40);
    ASSERT_NE(pool->frame(b, 1), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return pool->frame(a, 1) != nullptr; }, 5000));
    EXPECT_NE(pool->frame(a, 1)->pixel(0, 0), a.frames[0].pixel(0, 0));
    EXPECT_EQ(pool->heldBytes(), 40);
}

// A pick pasting once and the keyboard coming back are the desktop scenario's. Here: a dismissal is
// reported at once and once, whatever deactivation follows; a picker ordered out because another
// application took over goes without taking the keyboard back.
TEST(StickerPickerController, DismissalIsImmediateAndOnceWhileOrderingOutStaysSilent) {
    constexpr quint32 messagingWindow = 0x4200007;
    QList<quint32> events;
    QStringList picks;
    int dismissals = 0;
    StickerPickerWindowController controller(
        StickerPickerViewModel::ImageLoader(),
        WindowActivation{[] { return messagingWindow; }, [&](quint32 w) { events.append(w); }});
    controller.setCallbacks({[&](const StickerEntry& e) { picks.append(e.id); }, [&] { ++dismissals; }});
    controller.model().loadStickers(
        {StickerEntry{"1f973", "1f973.gif", {"party"}, "partying face", true, false, 0, {}, {}}});
    controller.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.panel()));
    QCoreApplication::processEvents();
    events.clear();
    EXPECT_EQ(QApplication::activeWindow(), controller.panel());
    controller.model().close();
    EXPECT_EQ(dismissals, 1);
    QWidget other;
    other.show();
    other.activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(events, QList<quint32>{messagingWindow});

    // Ordered out before it took the keyboard; a late Escape is no dismissal.
    events.clear();
    controller.show();
    controller.orderOut();
    controller.model().close();
    QTest::qWait(50);
    EXPECT_FALSE(controller.panel()->isVisible());
    EXPECT_TRUE(events.isEmpty() && picks.isEmpty());
    EXPECT_EQ(dismissals, 1);
}

#include "platform/event_tap_manager.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

using namespace pimsel;

namespace {

struct LogLine {
    QString category;
    QtMsgType type;
    QString message;
};
std::vector<LogLine>* capturedLines = nullptr;

void capture(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (capturedLines)
        capturedLines->push_back(
            {QString::fromUtf8(context.category ? context.category : ""), type, message});
}

class NoDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        savedDisplay = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        capturedLines = &lines;
        previous = qInstallMessageHandler(capture);
    }
    void TearDown() override {
        qInstallMessageHandler(previous);
        capturedLines = nullptr;
        if (!savedDisplay.isEmpty())
            qputenv("DISPLAY", savedDisplay);
    }
    QByteArray savedDisplay;
    QtMessageHandler previous = nullptr;
    std::vector<LogLine> lines;
};

TEST_F(NoDisplay, StartFailsLogsOneErrorInTheInputCategoryAndTriesAgainNextTime) {
    EventTapManager tap;
    int runningChanges = 0;
    QObject::connect(&tap, &EventTapManager::isRunningChanged, [&] { ++runningChanges; });
    EXPECT_FALSE(tap.start());
    EXPECT_FALSE(tap.isRunning());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].category, "input");
    EXPECT_EQ(lines[0].type, QtCriticalMsg);
    EXPECT_FALSE(tap.start());
    EXPECT_EQ(lines.size(), 2u) << "a later start tries again";
    EXPECT_EQ(runningChanges, 0);
    EXPECT_EQ(tap.heldGrabCount(), 0);
    tap.refreshGrabs(); // harmless while not running
}

TEST(OwnEventLedger, ConsumesAnnouncedKeysInOrderFromItsOwnDeviceOnly) {
    OwnEventLedger ledger;
    ledger.setSourceDevice(6);
    ledger.expect({{22, true}, {22, false}, {22, true}, {22, false}});
    EXPECT_FALSE(ledger.takeRaw(12, 22, true, 100)) << "the same key from the user's keyboard is the user's";
    EXPECT_FALSE(ledger.takeRaw(6, 22, false, 100)) << "out of order";
    EXPECT_TRUE(ledger.takeRaw(6, 22, true, 100));
    EXPECT_FALSE(ledger.takeRaw(6, 38, true, 101))
        << "another program's key on the same device is handed over";
    EXPECT_TRUE(ledger.takeRaw(6, 22, false, 101));
    EXPECT_EQ(ledger.pendingCount(), 2u);
    EXPECT_TRUE(ledger.takeRaw(6, 22, true, 102));
    EXPECT_TRUE(ledger.takeRaw(6, 22, false, 102));
    EXPECT_FALSE(ledger.takeRaw(6, 22, true, 103)) << "nothing more was announced";
    EXPECT_EQ(ledger.pendingCount(), 0u);
}

TEST(OwnEventLedger, RecognisesItsPressesOnAGrabbedKeyBeforeAndAfterTheRawEvent) {
    OwnEventLedger ledger;
    ledger.setSourceDevice(6);
    ledger.expect({{23, true}, {23, false}});
    EXPECT_TRUE(ledger.isOwnGrabbedPress(6, 23, 500)) << "grab event first: still announced";
    EXPECT_FALSE(ledger.isOwnGrabbedPress(9, 23, 500));
    EXPECT_FALSE(ledger.isOwnGrabbedPress(6, 24, 500));
    ASSERT_TRUE(ledger.takeRaw(6, 23, true, 500));
    EXPECT_TRUE(ledger.isOwnGrabbedPress(6, 23, 500)) << "raw event first: remembered by its time";
    ASSERT_TRUE(ledger.takeRaw(6, 23, false, 501));
    EXPECT_FALSE(ledger.isOwnGrabbedPress(6, 23, 777)) << "a later press of the same key is the user's";
}

TEST(OwnEventLedger, UnknownDeviceMatchesNothing) {
    OwnEventLedger ledger;
    ledger.expect({{22, true}});
    EXPECT_EQ(ledger.sourceDevice(), -1);
    EXPECT_FALSE(ledger.takeRaw(6, 22, true, 1));
    EXPECT_FALSE(ledger.takeRaw(0, 22, true, 1));
}

} // namespace

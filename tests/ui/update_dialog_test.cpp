#include "ui/palette.h"
#include "ui/update_dialog.h"

#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pimsel;

namespace {

struct DialogCase {
    UpdateDialog::Result result;
    const char* headline;
    const char* messagePart; // must appear in the message
    bool offersDownload;
};

class UpdateDialogResults : public ::testing::TestWithParam<DialogCase> {};

TEST_P(UpdateDialogResults, SaysWhatTheCheckFound) {
    const DialogCase c = GetParam();
    UpdateDialog dialog;
    QSignalSpy downloads(&dialog, &UpdateDialog::downloadRequested);
    dialog.showResult(c.result, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"),
                      QUrl(QStringLiteral("https://example.org/pimsel/1.5.0")));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.headline(), QString::fromUtf8(c.headline));
    EXPECT_TRUE(dialog.message().contains(QString::fromUtf8(c.messagePart)))
        << dialog.message().toStdString();
    EXPECT_EQ(dialog.offersDownload(), c.offersDownload);
    EXPECT_EQ(dialog.palette().color(QPalette::Window), palette::ink);

    dialog.closeButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(downloads.count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Results, UpdateDialogResults,
                         ::testing::Values(DialogCase{UpdateDialog::Result::upToDate, "You’re up to date",
                                                      "1.4.0 is the newest", false},
                                           DialogCase{UpdateDialog::Result::updateAvailable,
                                                      "A new version of Pimsel is available",
                                                      "1.5.0 is available — you have 1.4.0", true},
                                           DialogCase{UpdateDialog::Result::failed, "Update check failed",
                                                      "could not read the update feed", false},
                                           DialogCase{UpdateDialog::Result::notConfigured,
                                                      "Updates are not configured", "no update feed",
                                                      false}));

TEST(UpdateDialog, DownloadButtonSendsTheReleasePageOnceAndCloses) {
    UpdateDialog dialog;
    QSignalSpy downloads(&dialog, &UpdateDialog::downloadRequested);
    const QUrl page(QStringLiteral("https://example.org/pimsel/1.5.0"));
    dialog.showResult(UpdateDialog::Result::updateAvailable, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"),
                      page);
    dialog.downloadButton()->click();
    ASSERT_EQ(downloads.count(), 1);
    EXPECT_EQ(downloads.at(0).at(0).toUrl(), page);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(UpdateDialog, ReusedDialogForgetsTheEarlierRelease) {
    UpdateDialog dialog;
    dialog.showResult(UpdateDialog::Result::updateAvailable, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"),
                      QUrl(QStringLiteral("https://example.org/pimsel/1.5.0")));
    dialog.showResult(UpdateDialog::Result::upToDate, QStringLiteral("1.5.0"), QString(), QUrl());
    EXPECT_FALSE(dialog.offersDownload());
    EXPECT_EQ(dialog.closeButton()->text(), QStringLiteral("OK"));
}

TEST(UpdateDialog, NoDownloadButtonWithoutAnAddress) {
    UpdateDialog dialog;
    dialog.showResult(UpdateDialog::Result::updateAvailable, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"),
                      QUrl());
    EXPECT_FALSE(dialog.offersDownload());
}

} // namespace

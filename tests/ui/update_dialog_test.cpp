#include "ui/update_dialog.h"

#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pimsel;

TEST(UpdateDialog, SaysWhatTheCheckFoundAndOffersADownloadOnlyForANewReleaseWithAnAddress) {
    using Result = UpdateDialog::Result;
    const struct {
        Result result;
        const char *headline, *messagePart;
    } cases[] = {{Result::upToDate, "You’re up to date", "1.4.0 is the newest"},
                 {Result::updateAvailable, "A new version of Pimsel is available",
                  "1.5.0 is available — you have 1.4.0"},
                 {Result::failed, "Update check failed", "could not read the update feed"},
                 {Result::notConfigured, "Updates are not configured", "no update feed"}};
    const QUrl page(QStringLiteral("https://example.org/pimsel/1.5.0"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.headline);
        UpdateDialog dialog;
        QSignalSpy downloads(&dialog, &UpdateDialog::downloadRequested);
        // Shown after an earlier answer: the dialog is reused.
        dialog.showResult(Result::updateAvailable, QStringLiteral("1.3.0"), QStringLiteral("1.4.0"), page);
        dialog.showResult(c.result, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"), page);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.headline(), QString::fromUtf8(c.headline));
        EXPECT_TRUE(dialog.message().contains(QString::fromUtf8(c.messagePart)))
            << dialog.message().toStdString();
        const bool offers = c.result == Result::updateAvailable;
        EXPECT_EQ(dialog.offersDownload(), offers);
        EXPECT_EQ(dialog.closeButton()->text(), offers ? QStringLiteral("Later") : QStringLiteral("OK"));
        (offers ? dialog.downloadButton() : dialog.closeButton())->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(downloads, offers ? QList<QVariantList>{{page}} : QList<QVariantList>{});

        dialog.showResult(Result::updateAvailable, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"), QUrl());
        EXPECT_FALSE(dialog.offersDownload()) << "nothing to download without an address";
    }
}

#include "ui/update_dialog.h"

#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace pimsel;

// The dialog is reused after an earlier answer: each answer replaces the last, and only a new release
// with an address offers a download, which its button requests.
TEST(UpdateDialog, SaysWhatTheCheckFoundAndOffersADownloadOnlyForANewReleaseWithAnAddress) {
    using Result = UpdateDialog::Result;
    const std::pair<Result, const char*> cases[] = {
        {Result::upToDate, "1.4.0 is the newest"},
        {Result::updateAvailable, "1.5.0 is available — you have 1.4.0"},
        {Result::failed, "could not read the update feed"},
        {Result::notConfigured, "no update feed"}};
    const QUrl page(QStringLiteral("https://example.org/pimsel/1.5.0"));
    UpdateDialog dialog;
    QSignalSpy downloads(&dialog, &UpdateDialog::downloadRequested);
    for (const auto& [result, message] : cases) {
        SCOPED_TRACE(message);
        dialog.showResult(Result::updateAvailable, QStringLiteral("1.3.0"), QStringLiteral("1.4.0"), page);
        dialog.showResult(result, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"), page);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.message().contains(QString::fromUtf8(message))) << dialog.message().toStdString();
        const bool offers = result == Result::updateAvailable;
        EXPECT_EQ(dialog.offersDownload(), offers);
        downloads.clear();
        (offers ? dialog.downloadButton() : dialog.closeButton())->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(downloads, offers ? QList<QVariantList>{{page}} : QList<QVariantList>{});
    }
    dialog.showResult(Result::updateAvailable, QStringLiteral("1.4.0"), QStringLiteral("1.5.0"), QUrl());
    EXPECT_FALSE(dialog.offersDownload()) << "nothing to download without an address";
}

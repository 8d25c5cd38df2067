#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

namespace pimsel {

// The answer to "Check for Updates…": up to date, a newer release with a button to its download
// page, a failed check, or a build without an update feed. One instance is reused for every check.
class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    enum class Result { upToDate, updateAvailable, failed, notConfigured };

    explicit UpdateDialog(QWidget* parent = nullptr);

    // Fills the dialog for `result` and brings it to the front. `newVersion` and `downloadUrl`
    // matter only for updateAvailable.
    void showResult(Result result, const QString& currentVersion, const QString& newVersion,
                    const QUrl& downloadUrl);

    QString headline() const;
    QString message() const;
    // Whether the download button is offered.
    bool offersDownload() const;
    QPushButton* downloadButton() const { return m_download; }
    QPushButton* closeButton() const { return m_close; }

Q_SIGNALS:
    void downloadRequested(const QUrl& url);

private:
    QLabel* m_headline;
    QLabel* m_message;
    QPushButton* m_download;
    QPushButton* m_close;
    QUrl m_downloadUrl;
};

} // namespace pimsel

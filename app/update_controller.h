#pragma once

#include "app/appcast.h"

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;
class QTimer;

namespace pimsel {

class UpdateDialog;

Q_DECLARE_LOGGING_CATEGORY(updatesLog)

struct UpdateCheckOutcome {
    enum class Kind { upToDate, updateAvailable, failed, notConfigured };
    Kind kind = Kind::failed;
    QString currentVersion;
    AppcastItem item; // the newer release for updateAvailable, else empty
};

// Pimsel's own updater: a daily background check of the appcast feed while automatic checks are
// on, with a gentle reminder instead of a window when it finds a newer release, and a manual check
// that always answers in a small dialog.
class UpdateController : public QObject {
    Q_OBJECT
    // Display version of a release found by a background check and not yet acted on; empty when none.
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY availableVersionChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)

public:
    static constexpr const char* automaticChecksKey = "pimsel.automaticallyChecksForUpdates";

    struct Options {
        QUrl feedUrl;           // empty: updates are not configured in this build
        QString currentVersion; // the running version
        int firstCheckDelayMs = 10 * 1000;
        int checkIntervalMs = 24 * 60 * 60 * 1000;
        // The whole check, from the request to the last byte of the feed: a server that trickles
        // its answer is as dead as a silent one, and while a check is open no other starts.
        int requestTimeoutMs = 15 * 1000;
        // Shows the answer of a manual check; the default opens the update dialog.
        std::function<void(const UpdateCheckOutcome&)> presentManualOutcome;
        // Opens a download page; the default hands it to the desktop.
        std::function<bool(const QUrl&)> openUrl;
    };

    // The feed compiled into this build, replaced by $PIMSEL_UPDATE_FEED_URL when that is set
    // (an empty value switches updates off).
    static QUrl configuredFeedUrl();
    // The configured feed, this build's version and the real dialog and desktop.
    static Options defaultOptions();

    // `defaults` holds the automatic-check switch; it is not owned and must outlive the controller.
    UpdateController(QSettings* defaults, Options options, QObject* parent = nullptr);
    ~UpdateController() override;

    // Starts the scheduled checks (when configured and switched on). Called once at launch.
    void start();

    QString availableVersion() const { return m_availableVersion; }
    bool automaticallyChecksForUpdates() const { return m_automaticChecks; }
    void setAutomaticallyChecksForUpdates(bool on);
    bool isConfigured() const { return m_options.feedUrl.isValid() && !m_options.feedUrl.isEmpty(); }
    bool isChecking() const { return m_reply != nullptr; }
    bool isScheduled() const;
    // Requests sent so far, background and manual.
    int requestCount() const { return m_requestCount; }

public Q_SLOTS:
    // The user asked: the answer is always shown, whatever it is.
    void checkForUpdates();
    // A background check: a newer release only sets availableVersion.
    void checkInBackground();

Q_SIGNALS:
    void availableVersionChanged(const QString& version);
    void automaticallyChecksForUpdatesChanged(bool on);
    void isCheckingChanged(bool checking);
    // Every finished check, background or manual.
    void checkFinished(const pimsel::UpdateCheckOutcome& outcome);

private:
    void sendRequest();
    void finishRequest();
    void complete(const UpdateCheckOutcome& outcome);
    void setAvailable(const std::optional<AppcastItem>& item);
    void updateSchedule();
    bool openUrl(const QUrl& url);
    void presentManual(const UpdateCheckOutcome& outcome);

    QSettings* m_defaults;
    Options m_options;
    QNetworkAccessManager* m_network;
    QTimer* m_firstCheck;
    QTimer* m_dailyCheck;
    QNetworkReply* m_reply = nullptr;
    QTimer* m_deadline;
    QByteArray m_body;
    bool m_started = false;
    bool m_automaticChecks = true;
    bool m_manualPending = false;
    int m_requestCount = 0;
    QString m_availableVersion;
    UpdateDialog* m_dialog = nullptr; // owned; created on the first manual check
};

} // namespace pimsel

Q_DECLARE_METATYPE(pimsel::UpdateCheckOutcome)

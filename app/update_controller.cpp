#include "app/update_controller.h"

#include "app/version_compare.h"
#include "engine/settings_file.h"
#include "ui/update_dialog.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>

#include <utility>

#ifndef PIMSEL_UPDATE_FEED_URL
#define PIMSEL_UPDATE_FEED_URL ""
#endif
#ifndef PIMSEL_VERSION
#define PIMSEL_VERSION "0"
#endif

namespace pimsel {

Q_LOGGING_CATEGORY(updatesLog, "pimsel.updates", QtInfoMsg)

namespace {

// A feed is a few kilobytes; anything far larger is not one.
constexpr qint64 maximumFeedBytes = 4 * 1024 * 1024;
// How much the network layer may read ahead of us. Without a bound it takes in a whole oversized
// body before the size check sees the first of it.
constexpr qint64 readAheadBytes = 64 * 1024;

UpdateDialog::Result toDialogResult(UpdateCheckOutcome::Kind kind) {
    switch (kind) {
    case UpdateCheckOutcome::Kind::upToDate:
        return UpdateDialog::Result::upToDate;
    case UpdateCheckOutcome::Kind::updateAvailable:
        return UpdateDialog::Result::updateAvailable;
    case UpdateCheckOutcome::Kind::notConfigured:
        return UpdateDialog::Result::notConfigured;
    case UpdateCheckOutcome::Kind::failed:
        break;
    }
    return UpdateDialog::Result::failed;
}

} // namespace

QUrl UpdateController::configuredFeedUrl() {
    QString address = QStringLiteral(PIMSEL_UPDATE_FEED_URL);
    if (qEnvironmentVariableIsSet("PIMSEL_UPDATE_FEED_URL"))
        address = qEnvironmentVariable("PIMSEL_UPDATE_FEED_URL");
    const QUrl url(address.trimmed());
    return isWebAddress(url) || (url.isValid() && url.isLocalFile()) ? url : QUrl();
}

UpdateController::Options UpdateController::defaultOptions() {
    Options options;
    options.feedUrl = configuredFeedUrl();
    options.currentVersion = QStringLiteral(PIMSEL_VERSION);
    return options;
}

UpdateController::UpdateController(QSettings* defaults, Options options, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_options(std::move(options))
    , m_network(new QNetworkAccessManager(this))
    , m_firstCheck(new QTimer(this))
    , m_dailyCheck(new QTimer(this))
    , m_deadline(new QTimer(this)) {
    qRegisterMetaType<UpdateCheckOutcome>();
    if (m_defaults)
        m_automaticChecks = m_defaults->value(QLatin1String(automaticChecksKey), true).toBool();
    m_firstCheck->setSingleShot(true);
    m_firstCheck->setInterval(m_options.firstCheckDelayMs);
    m_dailyCheck->setInterval(m_options.checkIntervalMs);
    connect(m_firstCheck, &QTimer::timeout, this, &UpdateController::checkInBackground);
    connect(m_dailyCheck, &QTimer::timeout, this, &UpdateController::checkInBackground);
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(m_options.requestTimeoutMs);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort();
    });
}

UpdateController::~UpdateController() {
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    delete m_dialog;
}

void UpdateController::start() {
    m_started = true;
    updateSchedule();
}

bool UpdateController::isScheduled() const {
    return m_firstCheck->isActive() || m_dailyCheck->isActive();
}

void UpdateController::setAutomaticallyChecksForUpdates(bool on) {
    if (m_defaults && m_defaults->value(QLatin1String(automaticChecksKey), true).toBool() != on)
        writeSetting(*m_defaults, QLatin1String(automaticChecksKey), on);
    if (on == m_automaticChecks)
        return;
    m_automaticChecks = on;
    updateSchedule();
    Q_EMIT automaticallyChecksForUpdatesChanged(on);
}

void UpdateController::updateSchedule() {
    if (m_started && m_automaticChecks && isConfigured()) {
        if (!m_dailyCheck->isActive()) {
            m_firstCheck->start();
            m_dailyCheck->start();
        }
    } else {
        m_firstCheck->stop();
        m_dailyCheck->stop();
    }
}

void UpdateController::checkForUpdates() {
    if (!isConfigured()) {
        UpdateCheckOutcome outcome;
        outcome.kind = UpdateCheckOutcome::Kind::notConfigured;
        outcome.currentVersion = m_options.currentVersion;
        complete(outcome);
        presentManual(outcome);
        return;
    }
    m_manualPending = true;
    if (!m_reply)
        sendRequest();
}

void UpdateController::checkInBackground() {
    // The switch may have been turned off after the timer fired.
    if (!isConfigured() || !m_automaticChecks || m_reply)
        return;
    sendRequest();
}

void UpdateController::sendRequest() {
    QNetworkRequest request(m_options.feedUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Pimsel/%1").arg(m_options.currentVersion));
    m_body.clear();
    ++m_requestCount;
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(readAheadBytes);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        if (m_reply && m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > maximumFeedBytes)
            m_reply->abort();
    });
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (!m_reply)
            return;
        m_body += m_reply->read(maximumFeedBytes + 1 - m_body.size());
        if (m_body.size() > maximumFeedBytes)
            m_reply->abort();
    });
    connect(m_reply, &QNetworkReply::finished, this, &UpdateController::finishRequest);
    m_deadline->start();
    Q_EMIT isCheckingChanged(true);
}

void UpdateController::finishRequest() {
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    m_deadline->stop();
    reply->deleteLater();
    if (reply->isOpen() && m_body.size() <= maximumFeedBytes)
        m_body += reply->read(maximumFeedBytes + 1 - m_body.size());

    UpdateCheckOutcome outcome;
    outcome.currentVersion = m_options.currentVersion;
    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool httpOk = httpStatus == 0 || (httpStatus >= 200 && httpStatus < 300);
    if (reply->error() != QNetworkReply::NoError || !httpOk || m_body.size() > maximumFeedBytes) {
        qCInfo(updatesLog) << "Update check failed:" << reply->errorString() << httpStatus;
        outcome.kind = UpdateCheckOutcome::Kind::failed;
    } else if (const auto newest = newestAppcastItem(parseAppcast(m_body)); !newest) {
        qCInfo(updatesLog) << "Update feed holds no usable release";
        outcome.kind = UpdateCheckOutcome::Kind::failed;
    } else if (isNewerVersion(newest->version, m_options.currentVersion)) {
        outcome.kind = UpdateCheckOutcome::Kind::updateAvailable;
        outcome.item = *newest;
    } else {
        outcome.kind = UpdateCheckOutcome::Kind::upToDate;
    }
    m_body.clear();

    const bool manual = std::exchange(m_manualPending, false);
    if (manual) {
        // The user is looking at the answer now, so the reminder has done its job.
        if (outcome.kind != UpdateCheckOutcome::Kind::failed)
            setAvailable(std::nullopt);
    } else if (outcome.kind == UpdateCheckOutcome::Kind::updateAvailable) {
        setAvailable(outcome.item);
    } else if (outcome.kind == UpdateCheckOutcome::Kind::upToDate) {
        // A release that was withdrawn from the feed is no longer offered.
        setAvailable(std::nullopt);
    }
    Q_EMIT isCheckingChanged(false);
    complete(outcome);
    if (manual)
        presentManual(outcome);
}

void UpdateController::complete(const UpdateCheckOutcome& outcome) {
    Q_EMIT checkFinished(outcome);
}

void UpdateController::setAvailable(const std::optional<AppcastItem>& item) {
    const QString version = item ? item->displayVersion : QString();
    if (version == m_availableVersion)
        return;
    m_availableVersion = version;
    Q_EMIT availableVersionChanged(version);
}

bool UpdateController::openUrl(const QUrl& url) {
    if (!url.isValid())
        return false;
    return m_options.openUrl ? m_options.openUrl(url) : QDesktopServices::openUrl(url);
}

void UpdateController::presentManual(const UpdateCheckOutcome& outcome) {
    if (m_options.presentManualOutcome) {
        m_options.presentManualOutcome(outcome);
        return;
    }
    if (!m_dialog) {
        m_dialog = new UpdateDialog();
        connect(m_dialog, &UpdateDialog::downloadRequested, this, [this](const QUrl& url) { openUrl(url); });
    }
    m_dialog->showResult(toDialogResult(outcome.kind), outcome.currentVersion, outcome.item.displayVersion,
                         outcome.item.downloadUrl);
}

} // namespace pimsel

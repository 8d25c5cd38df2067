#include "ui/update_dialog.h"

#include "ui/palette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pimsel {

namespace {

QString buttonStyle() {
    using namespace palette;
    return QStringLiteral("QPushButton { padding: 7px 14px; border-radius: %1px; font-size: 13px; }"
                          "QPushButton#primary { background: %2; color: %3; border: none; font-weight: 600; }"
                          "QPushButton#primary:pressed { background: %4; }"
                          "QPushButton#secondary { background: %5; color: %6; border: 1px solid %7;"
                          " font-weight: 500; }"
                          "QPushButton#secondary:pressed { background: %8; }")
        .arg(cornerSmall)
        .arg(css(accent), css(ink), css(withOpacity(accent, 0.82)), css(withOpacity(inkHigh, 0.6)),
             css(cream), css(withOpacity(cream, 0.22)), css(inkHigh));
}

} // namespace

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent)
    , m_headline(new QLabel(this))
    , m_message(new QLabel(this))
    , m_download(new QPushButton(tr("Download…"), this))
    , m_close(new QPushButton(tr("OK"), this)) {
    setWindowTitle(tr("Pimsel Updates"));
    palette::applyDarkAppearance(this);
    setStyleSheet(buttonStyle());

    m_headline->setFont(palette::textFont(15, QFont::DemiBold));
    m_message->setFont(palette::textFont(13));
    m_message->setWordWrap(true);
    m_message->setMinimumWidth(320);
    QPalette secondary = m_message->palette();
    secondary.setColor(QPalette::WindowText, palette::creamSecondary());
    m_message->setPalette(secondary);

    m_download->setObjectName(QStringLiteral("primary"));
    m_close->setObjectName(QStringLiteral("secondary"));
    m_download->setAutoDefault(false);
    m_close->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    buttons->addWidget(m_download);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(m_headline);
    layout->addWidget(m_message);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    connect(m_download, &QPushButton::clicked, this, [this] {
        const QUrl url = m_downloadUrl;
        accept();
        Q_EMIT downloadRequested(url);
    });
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
}

void UpdateDialog::showResult(Result result, const QString& currentVersion, const QString& newVersion,
                              const QUrl& downloadUrl) {
    m_downloadUrl = result == Result::updateAvailable ? downloadUrl : QUrl();
    switch (result) {
    case Result::upToDate:
        m_headline->setText(tr("You’re up to date"));
        m_message->setText(tr("Pimsel %1 is the newest version available.").arg(currentVersion));
        break;
    case Result::updateAvailable:
        m_headline->setText(tr("A new version of Pimsel is available"));
        m_message->setText(tr("Pimsel %1 is available — you have %2. Download it from its release page.")
                               .arg(newVersion, currentVersion));
        break;
    case Result::failed:
        m_headline->setText(tr("Update check failed"));
        m_message->setText(tr("Pimsel could not read the update feed. Check your connection and try again "
                              "later."));
        break;
    case Result::notConfigured:
        m_headline->setText(tr("Updates are not configured"));
        m_message->setText(
            tr("This build of Pimsel has no update feed. Update it the way you installed it."));
        break;
    }
    const bool download = result == Result::updateAvailable && m_downloadUrl.isValid();
    m_download->setVisible(download);
    m_close->setText(download ? tr("Later") : tr("OK"));
    (download ? m_download : m_close)->setDefault(true);
    (download ? m_close : m_download)->setDefault(false);
    adjustSize();
    show();
    raise();
    activateWindow();
}

QString UpdateDialog::headline() const {
    return m_headline->text();
}

QString UpdateDialog::message() const {
    return m_message->text();
}

bool UpdateDialog::offersDownload() const {
    return !m_download->isHidden();
}

} // namespace pimsel

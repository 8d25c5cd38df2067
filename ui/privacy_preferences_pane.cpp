#include "ui/privacy_preferences_pane.h"

#include "engine/emoji_store.h"
#include "engine/settings_store.h"
#include "platform/application_directory.h"
#include "platform/normalized_domain.h"
#include "ui/application_chooser.h"
#include "ui/palette.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace pimsel {

using preferences::caption;
using preferences::symbol;

namespace {

constexpr int rowIconSize = 18;

void clear(QVBoxLayout* list) {
    // Later: the click that removes an entry is still being delivered to its row's button.
    while (QLayoutItem* item = list->takeAt(0)) {
        item->widget()->hide();
        item->widget()->deleteLater();
        delete item;
    }
}

// One listed entry: icon, name and a trash button that runs `remove`.
QWidget* listRow(const QIcon& icon, const QString& name, const QString& removeTip,
                 std::function<void()> remove) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* image = new QLabel;
    image->setPixmap(icon.pixmap(rowIconSize, rowIconSize));
    image->setFixedWidth(rowIconSize + 4);
    auto* label = new QLabel(name);
    label->setObjectName(QStringLiteral("entryName"));
    label->setFont(palette::textFont(13));
    auto* trash = new QToolButton;
    trash->setIcon(symbol(QStringLiteral("user-trash")));
    trash->setToolTip(removeTip);
    trash->setAccessibleName(removeTip);
    QObject::connect(trash, &QToolButton::clicked, row, std::move(remove));
    layout->addWidget(image);
    layout->addWidget(label, 1);
    layout->addWidget(trash);
    return row;
}

QWidget* emptyNote(const QString& text) {
    QLabel* note = caption(text);
    note->setObjectName(QStringLiteral("emptyNote"));
    return note;
}

QStringList namesIn(const QVBoxLayout* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i) {
        if (const auto* name = list->itemAt(i)->widget()->findChild<QLabel*>(QStringLiteral("entryName")))
            names.append(name->text());
    }
    return names;
}

} // namespace

PrivacyPreferencesPane::PrivacyPreferencesPane(SettingsStore& settings, EmojiStore& emoji,
                                               const ApplicationDirectory& apps, QWidget* parent)
    : preferences::Form(parent)
    , m_settings(settings)
    , m_apps(apps)
    , m_addAppMenu(new QMenu(this))
    , m_domain(new QLineEdit)
    , m_reset(new QPushButton(tr("Reset recently-used ranking"))) {
    addSection()->addWidget(
        caption(tr("Pimsel processes keystrokes locally only to detect emoji shortcuts. Message "
                   "contents are never uploaded. Pimsel does not record what you type. Secure "
                   "text fields are ignored.")));

    QVBoxLayout* appSection = addSection(tr("Disabled apps"));
    appSection->addWidget(caption(tr("Pimsel won't suggest emoji in the apps you add here.")));
    m_appList = new QVBoxLayout;
    appSection->addLayout(m_appList);
    auto* addApp = new QPushButton(symbol(QStringLiteral("list-add")), tr("Add app"));
    addApp->setMenu(m_addAppMenu);
    auto* addAppRow = new QHBoxLayout;
    addAppRow->addWidget(addApp);
    addAppRow->addStretch(1);
    appSection->addLayout(addAppRow);
    connect(m_addAppMenu, &QMenu::aboutToShow, this, &PrivacyPreferencesPane::fillAddAppMenu);

    QVBoxLayout* siteSection = addSection(tr("Disabled websites"));
    siteSection->addWidget(
        caption(tr("Pimsel won't suggest emoji on these sites while you're in a browser. Add a "
                   "domain such as example.com; its subdomains are included.")));
    siteSection->addWidget(
        caption(tr("Detecting the current site uses Accessibility and works in Firefox and in "
                   "Chromium-based browsers such as Chrome, Edge, Brave and Vivaldi.")));
    m_websiteList = new QVBoxLayout;
    siteSection->addLayout(m_websiteList);
    auto* domainRow = new QHBoxLayout;
    auto* domainLabel = new QLabel(tr("Domain:"));
    domainLabel->setFont(palette::textFont(13));
    domainLabel->setBuddy(m_domain);
    m_domain->setPlaceholderText(QStringLiteral("example.com"));
    auto* addSite = new QPushButton(tr("Add"));
    domainRow->addWidget(domainLabel);
    domainRow->addWidget(m_domain, 1);
    domainRow->addWidget(addSite);
    siteSection->addLayout(domainRow);
    connect(addSite, &QPushButton::clicked, this, &PrivacyPreferencesPane::addWebsite);
    connect(m_domain, &QLineEdit::returnPressed, this, &PrivacyPreferencesPane::addWebsite);

    addSection(tr("Always disabled"))
        ->addWidget(
            caption(tr("Pimsel is always disabled in password managers, terminals, remote-desktop / VM "
                       "clients, and apps with their own colon-emoji autocomplete (Slack, Discord).")));

    auto* resetRow = new QHBoxLayout;
    resetRow->addWidget(m_reset);
    resetRow->addStretch(1);
    addSection()->addLayout(resetRow);
    connect(m_reset, &QPushButton::clicked, this, [&emoji] { emoji.resetUseCounts(); });

    connect(&m_settings, &SettingsStore::disabledAppsChanged, this, &PrivacyPreferencesPane::rebuildApps);
    connect(&m_settings, &SettingsStore::disabledWebsitesChanged, this,
            &PrivacyPreferencesPane::rebuildWebsites);
    rebuildApps();
    rebuildWebsites();
}

void PrivacyPreferencesPane::fillAddAppMenu() {
    m_addAppMenu->clear();
    const QList<DisableableApp> offered = appsToOffer(m_apps.running(), m_settings.disabledApps());
    for (const DisableableApp& app : offered)
        m_addAppMenu->addAction(preferences::applicationIcon(app.iconName), app.name, this,
                                [this, id = app.id] { addApp(id); });
    if (offered.isEmpty())
        m_addAppMenu->addAction(tr("No other running apps"))->setEnabled(false);
    m_addAppMenu->addSeparator();
    m_addAppMenu->addAction(tr("Choose from Applications…"), this,
                            &PrivacyPreferencesPane::chooseFromApplications);
}

void PrivacyPreferencesPane::chooseFromApplications() {
    if (m_chooser)
        m_chooser->close();
    m_chooser = new ApplicationChooser(m_apps.installed(), window());
    m_chooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_chooser, &QDialog::accepted, this, [this, chooser = m_chooser] {
        if (chooser && !chooser->chosenId().isEmpty())
            addApp(chooser->chosenId());
    });
    m_chooser->open();
}

ApplicationChooser* PrivacyPreferencesPane::chooser() const {
    return m_chooser;
}

void PrivacyPreferencesPane::addApp(const QString& appId) {
    if (appId.isEmpty() || isAlwaysDisabled(appId))
        return;
    QSet<QString> apps = m_settings.disabledApps();
    apps.insert(appId);
    m_settings.setDisabledApps(apps);
}

void PrivacyPreferencesPane::addWebsite() {
    const std::optional<QString> domain = normalizedDomain(m_domain->text());
    if (!domain)
        return;
    QSet<QString> sites = m_settings.disabledWebsites();
    sites.insert(*domain);
    m_settings.setDisabledWebsites(sites);
    m_domain->clear();
}

void PrivacyPreferencesPane::rebuildApps() {
    clear(m_appList);
    QList<DisableableApp> apps;
    for (const QString& id : m_settings.disabledAppsList()) {
        apps.append(m_apps.find(id).value_or(DisableableApp{id, id, {}}));
    }
    sortByName(apps);
    for (const DisableableApp& app : apps) {
        m_appList->addWidget(listRow(preferences::applicationIcon(app.iconName), app.name,
                                     tr("Re-enable Pimsel in %1").arg(app.name), [this, id = app.id] {
                                         QSet<QString> kept = m_settings.disabledApps();
                                         kept.remove(id);
                                         m_settings.setDisabledApps(kept);
                                     }));
    }
    if (apps.isEmpty())
        m_appList->addWidget(emptyNote(tr("No apps added yet.")));
}

void PrivacyPreferencesPane::rebuildWebsites() {
    clear(m_websiteList);
    const QStringList sites = m_settings.disabledWebsitesList();
    for (const QString& site : sites) {
        m_websiteList->addWidget(listRow(symbol(QStringLiteral("applications-internet")), site,
                                         tr("Re-enable Pimsel on %1").arg(site), [this, site] {
                                             QSet<QString> kept = m_settings.disabledWebsites();
                                             kept.remove(site);
                                             m_settings.setDisabledWebsites(kept);
                                         }));
    }
    if (sites.isEmpty())
        m_websiteList->addWidget(emptyNote(tr("No websites added yet.")));
}

QStringList PrivacyPreferencesPane::listedApps() const {
    return namesIn(m_appList);
}

QStringList PrivacyPreferencesPane::listedWebsites() const {
    return namesIn(m_websiteList);
}

} // namespace pimsel

#pragma once

#include "ui/preferences_form.h"

#include <QPointer>

class QLineEdit;
class QMenu;
class QPushButton;

namespace pimsel {

class ApplicationChooser;
class ApplicationDirectory;
class EmojiStore;
class SettingsStore;

// Where Pimsel stays silent: the user's applications and websites, the groups that are always
// off, and the reset of the recently-used ranking. Both lists are rebuilt from the store whenever
// it publishes them.
class PrivacyPreferencesPane : public preferences::Form {
    Q_OBJECT

public:
    // Every collaborator must outlive the pane.
    PrivacyPreferencesPane(SettingsStore& settings, EmojiStore& emoji, const ApplicationDirectory& apps,
                           QWidget* parent = nullptr);

    QMenu* addAppMenu() const { return m_addAppMenu; }
    // Fills the "Add app" menu with what qualifies now; the menu does so each time it opens.
    void fillAddAppMenu();
    // "Choose from Applications…": opens the chooser (not modal); confirming it adds the choice.
    void chooseFromApplications();
    ApplicationChooser* chooser() const;
    // Ignored for an application that is always disabled anyway.
    void addApp(const QString& appId);

    QLineEdit* domainField() const { return m_domain; }
    // The field normalised to a domain and added; a field that names none keeps its text.
    void addWebsite();
    QPushButton* resetButton() const { return m_reset; }
    // The names shown in the two lists, for the checks.
    QStringList listedApps() const;
    QStringList listedWebsites() const;

private:
    void rebuildApps();
    void rebuildWebsites();

    SettingsStore& m_settings;
    const ApplicationDirectory& m_apps;
    QVBoxLayout* m_appList;
    QVBoxLayout* m_websiteList;
    QMenu* m_addAppMenu;
    QLineEdit* m_domain;
    QPushButton* m_reset;
    QPointer<ApplicationChooser> m_chooser;
};

} // namespace pimsel

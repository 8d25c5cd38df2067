#pragma once

#include <QObject>
#include <QUrl>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QStackedWidget;

namespace pimsel {

class ApplicationDirectory;
class CustomAliasPreferencesPane;
class EmojiStore;
class GeneralPreferencesPane;
class OtherProjectsPane;
class PermissionsController;
class PrivacyPreferencesPane;
class SettingsStore;
class ShortcutsPreferencesPane;

// What the panes edit and ask; every reference must outlive the view.
struct PreferencesServices {
    SettingsStore& settings;
    PermissionsController& permissions;
    EmojiStore& emoji;
    const ApplicationDirectory& applications;
    QObject* updater = nullptr; // see GeneralPreferencesPane
    bool gifSearchAvailable = false;
    std::function<void(const QUrl&)> openUrl;
};

// The preferences window's content: a sidebar of the five panes and the selected pane beside it.
class PreferencesView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(Section selection READ selection WRITE setSelection NOTIFY selectionChanged)

public:
    enum class Section { general, shortcuts, custom, privacy, otherProjects };
    Q_ENUM(Section)
    static constexpr int sidebarWidth = 196;

    explicit PreferencesView(const PreferencesServices& services, QWidget* parent = nullptr);

    static QString title(Section section);
    Section selection() const { return m_selection; }
    void setSelection(Section section);
    QAbstractButton* sidebarButton(Section section) const;

    GeneralPreferencesPane* general() const { return m_general; }
    ShortcutsPreferencesPane* shortcuts() const { return m_shortcuts; }
    CustomAliasPreferencesPane* custom() const { return m_custom; }
    PrivacyPreferencesPane* privacy() const { return m_privacy; }
    OtherProjectsPane* otherProjects() const { return m_otherProjects; }

Q_SIGNALS:
    void selectionChanged(pimsel::PreferencesView::Section section);

private:
    Section m_selection = Section::general;
    QList<QAbstractButton*> m_sidebar;
    QStackedWidget* m_stack;
    GeneralPreferencesPane* m_general;
    ShortcutsPreferencesPane* m_shortcuts;
    CustomAliasPreferencesPane* m_custom;
    PrivacyPreferencesPane* m_privacy;
    OtherProjectsPane* m_otherProjects;
};

} // namespace pimsel

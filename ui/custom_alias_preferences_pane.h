#pragma once

#include "ui/preferences_form.h"

class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace pimsel {

class SettingsStore;

// The user's own shortcodes: an entry row to add one, and the stored list with a remove button on
// each row. The list is rebuilt from the store whenever it publishes the aliases.
class CustomAliasPreferencesPane : public preferences::Form {
    Q_OBJECT

public:
    explicit CustomAliasPreferencesPane(SettingsStore& settings, QWidget* parent = nullptr);

    QLineEdit* aliasField() const { return m_alias; }
    QLineEdit* emojiField() const { return m_emoji; }
    QPushButton* addButton() const { return m_add; }
    // The remove buttons, one per listed alias in stored order.
    QList<QAbstractButton*> removeButtons() const;

    // Both fields trimmed; nothing happens when either is then empty.
    void add();

private:
    void rebuildList();

    SettingsStore& m_settings;
    QLineEdit* m_alias;
    QLineEdit* m_emoji;
    QPushButton* m_add;
    QVBoxLayout* m_list;
};

} // namespace pimsel

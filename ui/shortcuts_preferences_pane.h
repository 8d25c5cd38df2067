#pragma once

#include "ui/preferences_form.h"

class QComboBox;
class QLabel;

namespace pimsel {

class SettingsStore;

// Acceptance keys, the trigger and what it does, and the two commands of messaging apps. Every
// text that names the trigger follows the stored one.
class ShortcutsPreferencesPane : public preferences::Form {
    Q_OBJECT

public:
    // Without a GIF search key the "/gif" switch is off limits and says why.
    ShortcutsPreferencesPane(SettingsStore& settings, bool gifSearchAvailable, QWidget* parent = nullptr);

    QComboBox* triggerPicker() const { return m_trigger; }
    preferences::Switch* switchFor(const char* property) const;
    // Every text of the pane that names the trigger.
    QStringList triggerTexts() const;

private:
    preferences::Switch* addSwitch(QVBoxLayout* section, const char* property, const QString& text = {});
    void rereadTrigger();

    SettingsStore& m_settings;
    QComboBox* m_trigger;
    QLabel* m_triggerCaption;
    QLabel* m_immediateCaption;
    QLabel* m_replaceCaption;
};

} // namespace pimsel

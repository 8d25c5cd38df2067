#pragma once

#include "engine/emoji_entry.h"

#include <QWidget>

class QAbstractButton;
class QLabel;

namespace pimsel {

class SettingsStore;

// The six tones as raised-hand swatches in a row, the stored one framed in accent, with its name
// underneath. A click stores the tone; the frame follows what the store publishes.
class SkinTonePicker : public QWidget {
    Q_OBJECT

public:
    explicit SkinTonePicker(SettingsStore& settings, QWidget* parent = nullptr);

    static QString toneName(SkinTone tone); // "Default", "Light", "Medium-Light", …
    QAbstractButton* button(SkinTone tone) const;
    QString selectedName() const;

private:
    void reread();

    SettingsStore& m_settings;
    QList<QAbstractButton*> m_buttons;
    QLabel* m_name;
};

} // namespace pimsel

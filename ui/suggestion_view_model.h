#pragma once

#include "engine/emoji_entry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace pimsel {

// What the suggestion popover draws. Setters publish only real changes.
class SuggestionViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<pimsel::EmojiEntry> results READ results WRITE setResults NOTIFY resultsChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex WRITE setSelectedIndex NOTIFY selectedIndexChanged)
    Q_PROPERTY(QStringList toneVariants READ toneVariants WRITE setToneVariants NOTIFY toneVariantsChanged)
    Q_PROPERTY(int selectedToneIndex READ selectedToneIndex WRITE setSelectedToneIndex NOTIFY
                   selectedToneIndexChanged)
    Q_PROPERTY(QString trigger READ trigger WRITE setTrigger NOTIFY triggerChanged)

public:
    explicit SuggestionViewModel(QObject* parent = nullptr);

    const QList<EmojiEntry>& results() const { return results_; }
    void setResults(const QList<EmojiEntry>& results);

    int selectedIndex() const { return selectedIndex_; }
    void setSelectedIndex(int index);

    // The selected emoji in each skin tone; empty hides the tone strip.
    const QStringList& toneVariants() const { return toneVariants_; }
    void setToneVariants(const QStringList& variants);
    bool hasToneVariants() const { return !toneVariants_.isEmpty(); }

    int selectedToneIndex() const { return selectedToneIndex_; }
    void setSelectedToneIndex(int index);

    // Drawn in front of every alias.
    const QString& trigger() const { return trigger_; }
    void setTrigger(const QString& trigger);

    // Mouse actions on the rows and the tone strip; unset ones do nothing.
    std::function<void(int row)> onPick;
    std::function<void(int row)> onHover;
    std::function<void(int variant)> onPickTone;

Q_SIGNALS:
    void resultsChanged();
    void selectedIndexChanged();
    void toneVariantsChanged();
    void selectedToneIndexChanged();
    void triggerChanged();

private:
    QList<EmojiEntry> results_;
    int selectedIndex_ = 0;
    QStringList toneVariants_;
    int selectedToneIndex_ = 0;
    QString trigger_ = QStringLiteral(":");
};

} // namespace pimsel

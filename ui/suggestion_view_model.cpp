#include "ui/suggestion_view_model.h"

namespace pimsel {

SuggestionViewModel::SuggestionViewModel(QObject* parent)
    : QObject(parent) {}

void SuggestionViewModel::setResults(const QList<EmojiEntry>& results) {
    if (results == results_)
        return;
    results_ = results;
    Q_EMIT resultsChanged();
}

void SuggestionViewModel::setSelectedIndex(int index) {
    if (index == selectedIndex_)
        return;
    selectedIndex_ = index;
    Q_EMIT selectedIndexChanged();
}

void SuggestionViewModel::setToneVariants(const QStringList& variants) {
    if (variants == toneVariants_)
        return;
    toneVariants_ = variants;
    Q_EMIT toneVariantsChanged();
}

void SuggestionViewModel::setSelectedToneIndex(int index) {
    if (index == selectedToneIndex_)
        return;
    selectedToneIndex_ = index;
    Q_EMIT selectedToneIndexChanged();
}

void SuggestionViewModel::setTrigger(const QString& trigger) {
    if (trigger == trigger_)
        return;
    trigger_ = trigger;
    Q_EMIT triggerChanged();
}

} // namespace pimsel

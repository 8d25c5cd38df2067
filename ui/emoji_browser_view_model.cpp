#include "ui/emoji_browser_view_model.h"

#include "engine/text.h"

#include <QHash>

#include <algorithm>

namespace pimsel {

namespace {

// The white space trimmed before deciding whether the user is searching: space separators and
// the tab, not line breaks.
bool isTrimmedWhitespace(char32_t scalar) {
    return scalar == U'\t' || QChar::category(scalar) == QChar::Separator_Space;
}

bool hasSearchableText(const QString& query) {
    const QList<uint> scalars = query.toUcs4();
    return std::any_of(scalars.begin(), scalars.end(),
                       [](uint scalar) { return !isTrimmedWhitespace(static_cast<char32_t>(scalar)); });
}

// The search keys are the aliases and names; use counts are read from the entries themselves.
bool haveSameSearchKeys(const QList<EmojiEntry>& a, const QList<EmojiEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].aliases != b[i].aliases)
            return false;
    }
    return true;
}

} // namespace

const QString EmojiBrowserViewModel::frequentlyUsedTitle = QStringLiteral("Frequently Used");

const QStringList EmojiBrowserViewModel::categoryOrder = {
    QStringLiteral("Smileys & Emotion"),
    QStringLiteral("People & Body"),
    QStringLiteral("Animals & Nature"),
    QStringLiteral("Food & Drink"),
    QStringLiteral("Travel & Places"),
    QStringLiteral("Activities"),
    QStringLiteral("Objects"),
    QStringLiteral("Symbols"),
    QStringLiteral("Flags"),
};

EmojiBrowserViewModel::EmojiBrowserViewModel(QObject* parent)
    : QObject(parent) {}

QList<EmojiBrowserSection> EmojiBrowserViewModel::buildSections(const QList<EmojiEntry>& entries) {
    QList<EmojiBrowserSection> sections;

    QList<EmojiEntry> used;
    for (const EmojiEntry& entry : entries) {
        if (entry.useCount >= 1)
            used.append(entry);
    }
    std::stable_sort(used.begin(), used.end(),
                     [](const EmojiEntry& a, const EmojiEntry& b) { return a.useCount > b.useCount; });
    if (used.size() > frequentlyUsedLimit)
        used.resize(frequentlyUsedLimit);
    if (!used.isEmpty())
        sections.append({frequentlyUsedTitle, used});

    QHash<QString, QList<EmojiEntry>> groups;
    for (const EmojiEntry& entry : entries)
        groups[entry.category].append(entry);

    for (const QString& title : categoryOrder) {
        const auto group = groups.constFind(title);
        if (group != groups.cend() && !group->isEmpty())
            sections.append({title, *group});
    }

    QStringList others;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        if (!categoryOrder.contains(it.key()))
            others.append(it.key());
    }
    std::sort(others.begin(), others.end(),
              [](const QString& a, const QString& b) { return text::compareCodePoints(a, b) < 0; });
    for (const QString& title : others)
        sections.append({title, groups.value(title)});
    return sections;
}

void EmojiBrowserViewModel::load(const QList<EmojiEntry>& entries) {
    allEntries_ = entries;
    sections_ = buildSections(entries);
    sectionEntries_.clear();
    for (const EmojiBrowserSection& section : sections_)
        sectionEntries_.append(section.entries);
    prepareIndex(entries);
    query_.clear();
    applyRefresh();
    sessionID_ = QUuid::createUuid();

    Q_EMIT allEntriesChanged();
    Q_EMIT queryChanged();
    Q_EMIT selectedIndexChanged();
    Q_EMIT searchResultsChanged();
    Q_EMIT sessionIDChanged();
}

void EmojiBrowserViewModel::prepareIndex(const QList<EmojiEntry>& entries) {
    if (index_.size() == entries.size() && haveSameSearchKeys(indexedEntries_, entries))
        return;
    index_ = SearchIndex::build(entries);
    indexedEntries_ = entries;
}

void EmojiBrowserViewModel::setQuery(const QString& query) {
    query_ = query;
    Q_EMIT queryChanged();
}

void EmojiBrowserViewModel::appendToQuery(const QString& text) {
    query_ += text;
    applyRefresh();
    Q_EMIT queryChanged();
    Q_EMIT selectedIndexChanged();
    Q_EMIT searchResultsChanged();
}

void EmojiBrowserViewModel::deleteBackward() {
    if (query_.isEmpty())
        return;
    query_.truncate(text::lastGraphemeStart(query_));
    applyRefresh();
    Q_EMIT queryChanged();
    Q_EMIT selectedIndexChanged();
    Q_EMIT searchResultsChanged();
}

void EmojiBrowserViewModel::refresh() {
    applyRefresh();
    Q_EMIT selectedIndexChanged();
    Q_EMIT searchResultsChanged();
}

void EmojiBrowserViewModel::applyRefresh() {
    selectedIndex_ = 0;
    if (isSearching())
        searchResults_ = engine_.search(query_, allEntries_, index_, searchLimit);
    else
        searchResults_.clear();
}

bool EmojiBrowserViewModel::isSearching() const {
    return hasSearchableText(query_);
}

const QList<EmojiEntry>& EmojiBrowserViewModel::visibleEntries() const {
    return isSearching() ? searchResults_ : sectionEntries_;
}

void EmojiBrowserViewModel::moveSelection(MoveDirection direction) {
    const qsizetype count = visibleEntries().size();
    if (count == 0)
        return;
    int target = selectedIndex_;
    switch (direction) {
    case MoveDirection::left:
        target -= 1;
        break;
    case MoveDirection::right:
        target += 1;
        break;
    case MoveDirection::up:
        target -= columnCount;
        break;
    case MoveDirection::down:
        target += columnCount;
        break;
    }
    // No wrap-around: past the first row lands on the first cell, past the last on the last.
    selectedIndex_ = target <= 0 ? 0 : std::min(static_cast<int>(count) - 1, target);
    Q_EMIT selectedIndexChanged();
}

std::optional<EmojiEntry> EmojiBrowserViewModel::selectedEntry() const {
    const QList<EmojiEntry>& visible = visibleEntries();
    if (selectedIndex_ < 0 || selectedIndex_ >= visible.size())
        return std::nullopt;
    return visible[selectedIndex_];
}

void EmojiBrowserViewModel::pick(const EmojiEntry& entry) {
    if (onPick)
        onPick(entry);
}

void EmojiBrowserViewModel::close() {
    if (onClose)
        onClose();
}

} // namespace pimsel

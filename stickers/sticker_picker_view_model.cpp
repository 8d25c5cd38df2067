#include "stickers/sticker_picker_view_model.h"

#include "engine/text.h"

#include <QPointer>

#include <algorithm>

namespace pimsel {

namespace {

bool isTrimmedWhitespace(uint scalar) {
    return scalar == U'\t' || QChar::category(char32_t(scalar)) == QChar::Separator_Space;
}

} // namespace

StickerPickerViewModel::StickerPickerViewModel(ImageLoader loadImage, QObject* parent)
    : QObject(parent)
    , m_loadImage(std::move(loadImage)) {
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(250);
    connect(&m_debounce, &QTimer::timeout, this, &StickerPickerViewModel::sendRemoteSearch);
}

bool StickerPickerViewModel::hasQuery() const {
    const QList<uint> scalars = m_query.toUcs4();
    return std::any_of(scalars.begin(), scalars.end(),
                       [](uint scalar) { return !isTrimmedWhitespace(scalar); });
}

void StickerPickerViewModel::loadStickers(const QList<StickerEntry>& stickers) {
    m_remoteSearch = nullptr;
    m_commandLabel = QStringLiteral("/sticker");
    m_showsGiphyAttribution = false;
    m_isLoading = false;
    // An answer still out from an earlier GIF session is stale from now on.
    m_debounce.stop();
    ++m_requestToken;
    m_allStickers = stickers;
    m_index = SearchIndex::build(m_allStickers);
    startSession();
    Q_EMIT commandLabelChanged();
    Q_EMIT showsGiphyAttributionChanged();
    Q_EMIT allStickersChanged();
}

void StickerPickerViewModel::loadRemote(const QString& commandText, GiphySearch search) {
    m_remoteSearch = std::move(search);
    m_commandLabel = commandText;
    m_showsGiphyAttribution = true;
    m_allStickers.clear();
    m_index = SearchIndex();
    m_searchResults.clear();
    startSession();
    Q_EMIT commandLabelChanged();
    Q_EMIT showsGiphyAttributionChanged();
    Q_EMIT allStickersChanged();
}

void StickerPickerViewModel::startSession() {
    m_loadedImages.clear();
    m_requested.clear();
    m_query.clear();
    applyRefresh();
    m_sessionID = QUuid::createUuid();
    Q_EMIT queryChanged();
    Q_EMIT loadedImagesChanged();
    Q_EMIT selectedIndexChanged();
    Q_EMIT searchResultsChanged();
    Q_EMIT isLoadingChanged();
    Q_EMIT sessionIDChanged();
}

void StickerPickerViewModel::setQuery(const QString& query) {
    m_query = query;
    Q_EMIT queryChanged();
}

void StickerPickerViewModel::appendToQuery(const QString& text) {
    m_query += text;
    refresh();
    Q_EMIT queryChanged();
}

void StickerPickerViewModel::deleteBackward() {
    if (m_query.isEmpty())
        return;
    m_query.truncate(text::lastGraphemeStart(m_query));
    refresh();
    Q_EMIT queryChanged();
}

void StickerPickerViewModel::refresh() {
    applyRefresh();
    Q_EMIT selectedIndexChanged();
    Q_EMIT searchResultsChanged();
    Q_EMIT isLoadingChanged();
}

void StickerPickerViewModel::applyRefresh() {
    m_selectedIndex = 0;
    if (isGifMode()) {
        scheduleRemoteSearch();
        return;
    }
    m_searchResults =
        hasQuery() ? m_engine.search(m_query, m_allStickers, m_index, searchLimit) : QList<StickerEntry>();
}

void StickerPickerViewModel::scheduleRemoteSearch() {
    // Every keystroke restarts the wait: only a pause sends a request.
    m_debounce.stop();
    ++m_requestToken;
    m_pendingQuery = m_query;
    m_isLoading = true;
    m_debounce.start();
}

void StickerPickerViewModel::sendRemoteSearch() {
    if (!m_remoteSearch)
        return;
    const quint64 token = m_requestToken;
    QPointer<StickerPickerViewModel> self(this);
    // A request already sent is not cancelled; its answer is dropped unless it is still the newest.
    m_remoteSearch(m_pendingQuery, [self, token](const QList<StickerEntry>& results) {
        if (!self || self->m_requestToken != token)
            return;
        self->m_isLoading = false;
        self->m_searchResults = results;
        self->m_selectedIndex = 0;
        self->m_requested.clear();
        Q_EMIT self->isLoadingChanged();
        Q_EMIT self->searchResultsChanged();
        Q_EMIT self->selectedIndexChanged();
    });
}

QList<StickerEntry> StickerPickerViewModel::displayedItems() const {
    if (isGifMode() || hasQuery())
        return m_searchResults;
    QList<StickerEntry> used;
    QList<StickerEntry> unused;
    for (const StickerEntry& sticker : m_allStickers)
        (sticker.useCount >= 1 ? used : unused).append(sticker);
    std::stable_sort(used.begin(), used.end(),
                     [](const StickerEntry& a, const StickerEntry& b) { return a.useCount > b.useCount; });
    return used + unused;
}

void StickerPickerViewModel::moveSelection(MoveDirection direction) {
    const qsizetype count = displayedItems().size();
    if (count == 0)
        return;
    const int step = direction == MoveDirection::left    ? -1
                     : direction == MoveDirection::right ? 1
                     : direction == MoveDirection::up    ? -columns()
                                                         : columns();
    const qsizetype moved = qsizetype(m_selectedIndex) + step;
    m_selectedIndex = moved <= 0 ? 0 : int(std::min(moved, count - 1));
    Q_EMIT selectedIndexChanged();
}

void StickerPickerViewModel::setSelectedIndex(int index) {
    if (index < 0 || index >= displayedItems().size() || index == m_selectedIndex)
        return;
    m_selectedIndex = index;
    Q_EMIT selectedIndexChanged();
}

std::optional<StickerEntry> StickerPickerViewModel::selectedEntry() const {
    const QList<StickerEntry> items = displayedItems();
    if (m_selectedIndex < 0 || m_selectedIndex >= items.size())
        return std::nullopt;
    return items.at(m_selectedIndex);
}

void StickerPickerViewModel::pick(const StickerEntry& entry) {
    if (onPick)
        onPick(entry);
}

void StickerPickerViewModel::close() {
    if (onClose)
        onClose();
}

void StickerPickerViewModel::loadImageIfNeeded(const StickerEntry& entry) {
    if (m_loadedImages.contains(entry.id) || m_requested.contains(entry.id) || !m_loadImage)
        return;
    m_requested.insert(entry.id);
    QPointer<StickerPickerViewModel> self(this);
    m_loadImage(entry, [self, id = entry.id](const QVariant& image) {
        if (!self || !image.isValid())
            return;
        self->m_loadedImages.insert(id, image);
        Q_EMIT self->loadedImagesChanged();
    });
}

} // namespace pimsel

#pragma once

#include "engine/emoji_search_engine.h"
#include "engine/ports.h"
#include "engine/sticker_entry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QVariant>

#include <functional>
#include <optional>

namespace pimsel {

// What the sticker and GIF picker shows and how the keys routed to it change that. Sticker mode
// searches the local catalogue; GIF mode asks a remote search once the typing pauses and applies
// only the newest answer. Pure logic, no widgets: preview images are whatever the injected loader
// decodes (a QImage in the application), held opaquely.
//
// All state of one operation is updated before any of its signals is emitted, so a listener always
// reads a consistent model.
class StickerPickerViewModel : public QObject, public StickerPickerModelDriving {
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QList<pimsel::StickerEntry> allStickers READ allStickers NOTIFY allStickersChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
    Q_PROPERTY(QUuid sessionID READ sessionID NOTIFY sessionIDChanged)
    Q_PROPERTY(QList<pimsel::StickerEntry> searchResults READ searchResults NOTIFY searchResultsChanged)
    Q_PROPERTY(QVariantHash loadedImages READ loadedImages NOTIFY loadedImagesChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString commandLabel READ commandLabel NOTIFY commandLabelChanged)
    Q_PROPERTY(bool showsGiphyAttribution READ showsGiphyAttribution NOTIFY showsGiphyAttributionChanged)

public:
    static constexpr int stickerColumns = 5;
    static constexpr int gifColumns = 3;
    static constexpr int searchLimit = 200;

    // Delivers a preview image for an entry, or an invalid QVariant when there is none; later, on
    // this thread.
    using ImageCompletion = std::function<void(const QVariant& image)>;
    using ImageLoader = std::function<void(const StickerEntry& entry, ImageCompletion done)>;

    explicit StickerPickerViewModel(ImageLoader loadImage, QObject* parent = nullptr);

    void loadStickers(const QList<StickerEntry>& stickers) override;
    void loadRemote(const QString& commandText, GiphySearch search) override;
    void appendToQuery(const QString& text) override;
    // Removes the last user-perceived character; an empty query changes nothing.
    void deleteBackward() override;
    void moveSelection(MoveDirection direction) override;
    std::optional<StickerEntry> selectedEntry() const override;
    void refresh() override;
    QString query() const override { return m_query; }
    // Replaces the query without searching; the caller refreshes.
    void setQuery(const QString& query) override;
    void pick(const StickerEntry& entry) override;
    void close() override;
    // A clicked cell; an index outside the displayed items changes nothing.
    void setSelectedIndex(int index);

    // The grid's cells in index order.
    QList<StickerEntry> displayedItems() const;
    // Asks the loader once per session for a cell's image.
    void loadImageIfNeeded(const StickerEntry& entry);

    bool isGifMode() const { return bool(m_remoteSearch); }
    int columns() const { return isGifMode() ? gifColumns : stickerColumns; }
    // More than spaces and tabs.
    bool hasQuery() const;

    const QList<StickerEntry>& allStickers() const { return m_allStickers; }
    int selectedIndex() const { return m_selectedIndex; }
    QUuid sessionID() const { return m_sessionID; }
    const QList<StickerEntry>& searchResults() const { return m_searchResults; }
    const QVariantHash& loadedImages() const { return m_loadedImages; }
    bool isLoading() const { return m_isLoading; }
    QString commandLabel() const { return m_commandLabel; }
    bool showsGiphyAttribution() const { return m_showsGiphyAttribution; }
    quint64 requestToken() const { return m_requestToken; }
    void setRemoteDebounce(std::chrono::milliseconds delay) { m_debounce.setInterval(delay); }

    // Installed by the window controller; unset ones do nothing.
    std::function<void(const StickerEntry&)> onPick;
    std::function<void()> onClose;

Q_SIGNALS:
    void queryChanged();
    void allStickersChanged();
    void selectedIndexChanged();
    void sessionIDChanged();
    void searchResultsChanged();
    void loadedImagesChanged();
    void isLoadingChanged();
    void commandLabelChanged();
    void showsGiphyAttributionChanged();

private:
    void startSession();
    // Recomputes without publishing; the caller emits.
    void applyRefresh();
    void scheduleRemoteSearch();
    void sendRemoteSearch();

    ImageLoader m_loadImage;
    QString m_query;
    QList<StickerEntry> m_allStickers;
    int m_selectedIndex = 0;
    QUuid m_sessionID = QUuid::createUuid();
    QList<StickerEntry> m_searchResults;
    QVariantHash m_loadedImages;
    bool m_isLoading = false;
    QString m_commandLabel = QStringLiteral("/sticker");
    bool m_showsGiphyAttribution = false;

    EmojiSearchEngine m_engine;
    SearchIndex m_index;
    QSet<QString> m_requested;
    GiphySearch m_remoteSearch;
    QTimer m_debounce;
    QString m_pendingQuery;
    quint64 m_requestToken = 0;
};

} // namespace pimsel

#pragma once

#include "engine/emoji_entry.h"
#include "engine/emoji_search_engine.h"
#include "engine/ports.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

namespace pimsel {

// One titled group of the unsearched grid. Identified by its title.
struct EmojiBrowserSection {
    QString title;
    QList<EmojiEntry> entries;

    bool operator==(const EmojiBrowserSection&) const = default;
};

// What the emoji browser shows and how the keys routed to it change that: the query, the
// sections, the search results and the selection over the grid. Pure logic, no widgets.
//
// Every assignment publishes its property, even when the value stays the same: the view
// re-centres the selected cell on each publication of selectedIndex, which every refresh makes.
// All state is updated before any signal of one operation is emitted, so a listener always
// reads a consistent model.
class EmojiBrowserViewModel : public QObject, public EmojiBrowserModelDriving {
    Q_OBJECT
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
    Q_PROPERTY(QList<pimsel::EmojiEntry> allEntries READ allEntries NOTIFY allEntriesChanged)
    Q_PROPERTY(int selectedIndex READ selectedIndex NOTIFY selectedIndexChanged)
    Q_PROPERTY(QUuid sessionID READ sessionID NOTIFY sessionIDChanged)
    Q_PROPERTY(QList<pimsel::EmojiEntry> searchResults READ searchResults NOTIFY searchResultsChanged)

public:
    static constexpr int columnCount = 9;
    static constexpr int searchLimit = 400;
    static constexpr int frequentlyUsedLimit = 24;
    static const QString frequentlyUsedTitle;
    // The categories of the catalogue in the order the grid shows them; any other category
    // follows "Flags" in ascending order of its name.
    static const QStringList categoryOrder;

    explicit EmojiBrowserViewModel(QObject* parent = nullptr);

    // Starts a new session over `entries`: sections rebuilt, query emptied, first cell selected.
    void load(const QList<EmojiEntry>& entries);

    static QList<EmojiBrowserSection> buildSections(const QList<EmojiEntry>& entries);

    QString query() const override { return query_; }
    // Replaces the query without searching; the caller refreshes.
    void setQuery(const QString& query) override;
    void appendToQuery(const QString& text) override;
    // Removes the last user-perceived character of the query.
    void deleteBackward() override;
    void refresh() override;
    void moveSelection(MoveDirection direction) override;
    std::optional<EmojiEntry> selectedEntry() const override;
    void pick(const EmojiEntry& entry) override;
    void close() override;

    const QList<EmojiEntry>& allEntries() const { return allEntries_; }
    int selectedIndex() const { return selectedIndex_; }
    QUuid sessionID() const { return sessionID_; }
    const QList<EmojiEntry>& searchResults() const { return searchResults_; }
    const QList<EmojiBrowserSection>& sections() const { return sections_; }

    // True when the query holds more than white space.
    bool isSearching() const;
    // The cells of the grid in index order: the search results while searching, otherwise the
    // sections one after another (a frequently used emoji appears twice).
    const QList<EmojiEntry>& visibleEntries() const;

    // Installed by the window controller; unset ones do nothing.
    std::function<void(const EmojiEntry&)> onPick;
    std::function<void()> onClose;

Q_SIGNALS:
    void queryChanged();
    void allEntriesChanged();
    void selectedIndexChanged();
    void sessionIDChanged();
    void searchResultsChanged();

private:
    // Reuses the prepared search keys when a session opens on the same catalogue again.
    void prepareIndex(const QList<EmojiEntry>& entries);
    void applyRefresh();

    QString query_;
    QList<EmojiEntry> allEntries_;
    int selectedIndex_ = 0;
    QUuid sessionID_ = QUuid::createUuid();
    QList<EmojiEntry> searchResults_;
    QList<EmojiBrowserSection> sections_;
    QList<EmojiEntry> sectionEntries_; // sections_ flattened
    EmojiSearchEngine engine_;
    SearchIndex index_;
    QList<EmojiEntry> indexedEntries_; // what index_ was built from
};

} // namespace pimsel

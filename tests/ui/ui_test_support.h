#pragma once

// Readable geometry in failure messages, sample rows and synthetic pointer events.

#include "engine/emoji_entry.h"
#include "engine/emoji_store.h"

#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QPoint& p, std::ostream* os) {
    *os << "(" << p.x() << ", " << p.y() << ")";
}
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << " " << r.width() << "x" << r.height() << ")";
}

namespace pimsel::testing {

// Named "<alias> face", so that a row without an alias shows a longer label.
inline EmojiEntry entry(const QString& emoji, const QString& alias, const QString& category = {},
                        int useCount = 0, bool tones = false) {
    const QStringList aliases = alias.isEmpty() ? QStringList{} : QStringList{alias};
    return EmojiEntry{emoji, alias + QStringLiteral(" face"), aliases, category, tones, useCount};
}

// `count` entries of `category`, aliases "<prefix>0", "<prefix>1", …
inline QList<EmojiEntry> numbered(int count, const QString& prefix = QStringLiteral("cell"),
                                  const QString& category = QStringLiteral("Objects")) {
    QList<EmojiEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.append(entry(QString(QChar(0x2600 + i)), prefix + QString::number(i), category));
    return entries;
}

inline QStringList aliasesOf(const QList<EmojiEntry>& entries) {
    QStringList result;
    for (const EmojiEntry& e : entries)
        result.append(e.aliases.value(0));
    return result;
}

// The catalogue the application compiles in.
inline QList<EmojiEntry> shippedCatalogue() {
    QFile file(EmojiStore::defaultCatalogPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return EmojiStore::decodeCatalog(file.readAll());
}

inline QList<EmojiEntry> sampleRows(int count) {
    const QList<EmojiEntry> all{entry(QStringLiteral("😄"), QStringLiteral("smile")),
                                entry(QStringLiteral("😃"), QStringLiteral("smiley")),
                                entry(QStringLiteral("👋"), QStringLiteral("wave"), {}, 0, true)};
    return all.mid(0, count);
}

inline void sendMouse(QWidget& widget, QEvent::Type type, const QPoint& local,
                      Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, QPointF(local), QPointF(widget.mapToGlobal(local)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&widget, &event);
}

inline void moveTo(QWidget& widget, const QPoint& local) {
    sendMouse(widget, QEvent::MouseMove, local);
}

// Pressed at `down`, released at `up` (by default the same place).
inline void click(QWidget& widget, const QPoint& down, std::optional<QPoint> up = {},
                  Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(widget, QEvent::MouseButtonPress, down, button);
    sendMouse(widget, QEvent::MouseButtonRelease, up.value_or(down), button);
}

} // namespace pimsel::testing

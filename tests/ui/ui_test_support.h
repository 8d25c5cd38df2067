#pragma once

// Shared pieces of the ui tests: readable geometry in failure messages, sample rows, and
// synthetic pointer events.

#include "engine/emoji_entry.h"
#include "engine/emoji_store.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstdlib>
#include <ostream>

inline void PrintTo(const QPoint& p, std::ostream* os) {
    *os << "(" << p.x() << ", " << p.y() << ")";
}
inline void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << "x" << s.height();
}
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << " " << r.width() << "x" << r.height() << ")";
}

namespace pimsel::testing {

inline EmojiEntry entry(const QString& emoji, const QString& alias, bool tones = false) {
    EmojiEntry e;
    e.emoji = emoji;
    e.name = alias + QStringLiteral(" face");
    if (!alias.isEmpty())
        e.aliases = QStringList{alias};
    e.supportsSkinTones = tones;
    return e;
}

// The catalogue the application compiles in.
inline QList<EmojiEntry> shippedCatalogue() {
    QFile file(EmojiStore::defaultCatalogPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return EmojiStore::decodeCatalog(file.readAll());
}

// Width of the columns of `area` holding any pixel that differs from `background`: one emoji glyph
// is about as wide as it is tall, a sequence split into a person and a sign far wider.
inline int paintedWidth(const QImage& image, const QRect& area, const QColor& background) {
    int left = -1, right = -1;
    const QRect clipped = area.intersected(image.rect());
    for (int x = clipped.left(); x <= clipped.right(); ++x) {
        for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                    std::abs(c.blue() - background.blue()) >
                24) {
                left = left < 0 ? x : left;
                right = x;
                break;
            }
        }
    }
    return left < 0 ? 0 : right - left + 1;
}

inline QList<EmojiEntry> sampleRows(int count) {
    const QList<EmojiEntry> all{entry(QStringLiteral("😄"), QStringLiteral("smile")),
                                entry(QStringLiteral("😃"), QStringLiteral("smiley")),
                                entry(QStringLiteral("👋"), QStringLiteral("wave"), true),
                                entry(QStringLiteral("🍕"), QStringLiteral("pizza")),
                                entry(QStringLiteral("🎉"), QStringLiteral("tada")),
                                entry(QStringLiteral("🔥"), QStringLiteral("fire")),
                                entry(QStringLiteral("🌈"), QStringLiteral("rainbow"))};
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

inline void click(QWidget& widget, const QPoint& local, Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(widget, QEvent::MouseButtonPress, local, button);
    sendMouse(widget, QEvent::MouseButtonRelease, local, button);
}

inline void enter(QWidget& widget, const QPoint& local) {
    QEnterEvent event{QPointF(local), QPointF(local), QPointF(widget.mapToGlobal(local))};
    QCoreApplication::sendEvent(&widget, &event);
}

inline void leave(QWidget& widget) {
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &event);
}

} // namespace pimsel::testing

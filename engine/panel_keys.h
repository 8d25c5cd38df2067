#pragma once

#include "engine/input_event.h"
#include "engine/ports.h"

#include <QString>

// The keys an open emoji browser or sticker picker receives while it has the keyboard, applied to
// its model through the ports both panels share.

namespace pimsel::panel_keys {

// Drops trailing spaces, then everything back to (not including) the nearest space.
inline QString withoutLastWord(QString query) {
    while (query.endsWith(QLatin1Char(' ')))
        query.chop(1);
    const qsizetype space = query.lastIndexOf(QLatin1Char(' '));
    return space < 0 ? QString() : query.left(space + 1);
}

// True: the key is taken. `tabPicks`: Tab picks like Return (the picker) rather than passing (the
// browser).
template <typename Model> bool route(Model& model, KeyAction action, const QString& text, bool tabPicks) {
    switch (action) {
    case KeyAction::backspace:
        model.deleteBackward();
        return true;
    case KeyAction::wordBackspace:
        model.setQuery(withoutLastWord(model.query()));
        model.refresh();
        return true;
    case KeyAction::modified:
        return false;
    case KeyAction::tab:
        if (!tabPicks)
            return false;
        [[fallthrough]];
    case KeyAction::returnKey:
        if (const auto entry = model.selectedEntry())
            model.pick(*entry);
        return true;
    case KeyAction::escape:
        model.close();
        return true;
    case KeyAction::space:
        model.appendToQuery(QStringLiteral(" "));
        return true;
    case KeyAction::up:
    case KeyAction::down:
    case KeyAction::left:
    case KeyAction::right:
        model.moveSelection(action == KeyAction::up     ? MoveDirection::up
                            : action == KeyAction::down ? MoveDirection::down
                            : action == KeyAction::left ? MoveDirection::left
                                                        : MoveDirection::right);
        return true;
    case KeyAction::text:
        model.appendToQuery(text);
        return true;
    }
    return false;
}

} // namespace pimsel::panel_keys

#include "ui/own_focus_context.h"

#include <QApplication>
#include <QLineEdit>
#include <QWidget>

namespace pimsel {

namespace {

constexpr int defaultCaretHeight = 16;

// The focused widget that takes typed text, or null.
QWidget* focusedTextWidget() {
    QWidget* widget = QApplication::focusWidget();
    return widget != nullptr && widget->testAttribute(Qt::WA_InputMethodEnabled) ? widget : nullptr;
}

} // namespace

bool OwnFocusContext::isSecureFieldFocused() {
    QWidget* widget = focusedTextWidget();
    if (widget == nullptr)
        return false;
    if (const auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->echoMode() != QLineEdit::Normal;
    return widget->inputMethodHints().testAnyFlags(Qt::ImhHiddenText | Qt::ImhSensitiveData);
}

std::optional<QRect> OwnFocusContext::caretRect() {
    QWidget* widget = focusedTextWidget();
    if (widget == nullptr)
        return std::nullopt;
    const QVariant answer = widget->inputMethodQuery(Qt::ImCursorRectangle);
    if (!answer.isValid())
        return std::nullopt;
    const QRect cursor = answer.toRect();
    const QPoint topLeft = widget->mapToGlobal(cursor.topLeft());
    return QRect(topLeft, QSize(1, cursor.height() > 0 ? cursor.height() : defaultCaretHeight));
}

std::optional<QString> OwnFocusContext::textBeforeCaret(int count) {
    QWidget* widget = focusedTextWidget();
    if (widget == nullptr || isSecureFieldFocused())
        return std::nullopt;
    const QVariant surrounding = widget->inputMethodQuery(Qt::ImSurroundingText);
    const QVariant position = widget->inputMethodQuery(Qt::ImCursorPosition);
    if (!surrounding.isValid() || !position.isValid())
        return std::nullopt;
    const QString text = surrounding.toString();
    return text.left(qBound(qsizetype(0), qsizetype(position.toInt()), text.size())).right(count);
}

} // namespace pimsel

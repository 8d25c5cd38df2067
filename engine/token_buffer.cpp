#include "engine/token_buffer.h"

#include "engine/text.h"

#include <QChar>
#include <QStringView>

namespace pimsel {

namespace {

bool isTokenScalar(char32_t scalar) {
    if (scalar == U'_' || scalar == U'-' || scalar == U'+')
        return true;
    if (scalar < 0x80)
        return (scalar >= U'a' && scalar <= U'z') || (scalar >= U'A' && scalar <= U'Z') ||
               (scalar >= U'0' && scalar <= U'9');
    switch (QChar::category(scalar)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

} // namespace

// Every scalar of the character counts.
bool TokenBuffer::isTokenCharacter(const QString& character) {
    if (character.isEmpty())
        return false;
    if (character.size() == 1)
        return isTokenScalar(character.at(0).unicode());
    for (char32_t scalar : QStringView(character).toUcs4()) {
        if (!isTokenScalar(scalar))
            return false;
    }
    return true;
}

namespace {

// Whether a cluster of `text` is joined across the end of `head`: true when `head + tail`
// has fewer clusters than its parts (only possible when non-basic units meet).
bool joinsAcross(const QString& head, const QString& tail) {
    if (head.isEmpty() || tail.isEmpty())
        return false;
    if (head.back().unicode() < 0x300 && tail.front().unicode() < 0x300 &&
        !(head.back() == QLatin1Char('\r') && tail.front() == QLatin1Char('\n')))
        return false;
    const QString last = head.mid(text::lastGraphemeStart(head));
    return text::graphemeCount(last + tail) < 1 + text::graphemeCount(tail);
}

} // namespace

TokenBuffer::TokenBuffer(std::function<QString()> triggerProvider)
    : m_triggerProvider(std::move(triggerProvider)) {}

QString TokenBuffer::trigger() const {
    if (!m_triggerProvider)
        return QStringLiteral(":");
    return text::firstGrapheme(m_triggerProvider());
}

bool TokenBuffer::isOpenFor(const QString& trigger) const {
    if (m_buffer.isEmpty() || trigger.isEmpty())
        return false;
    return QStringView(m_buffer).left(text::firstGraphemeLength(m_buffer)) == trigger;
}

std::optional<ColonToken> TokenBuffer::tokenFor(const QString& trigger) const {
    if (!isOpenFor(trigger))
        return std::nullopt;
    return ColonToken{m_buffer, m_buffer.mid(text::firstGraphemeLength(m_buffer))};
}

bool TokenBuffer::isTokenOpen() const {
    return isOpenFor(trigger());
}

std::optional<ColonToken> TokenBuffer::currentToken() const {
    return tokenFor(trigger());
}

std::optional<ColonToken> TokenBuffer::feed(const QString& character) {
    if (character.isEmpty())
        return std::nullopt;
    // More than one user-perceived character: feed them in order, report after the last.
    if (text::firstGraphemeLength(character) != character.size()) {
        std::optional<ColonToken> result;
        for (const QString& cluster : text::graphemeClusters(character))
            result = feed(cluster);
        return result;
    }

    const QString t = trigger();
    if (!t.isEmpty() && character == t) {
        const bool startsToken = acceptsTrigger();
        m_preceding = character;
        if (!startsToken)
            return std::nullopt;
        m_buffer = t;
        m_bufferLength = 1;
        return ColonToken{m_buffer, QString()};
    }

    if (!isOpenFor(t)) {
        m_preceding = character;
        return std::nullopt;
    }

    if (!isTokenCharacter(character)) {
        m_buffer.clear();
        m_bufferLength = 0;
        m_preceding = character;
        return std::nullopt;
    }

    const bool joins = joinsAcross(m_buffer, character);
    m_buffer.append(character);
    if (joins)
        m_bufferLength = text::graphemeCount(m_buffer);
    else
        ++m_bufferLength;
    m_preceding = character;
    if (m_bufferLength > maxQueryLength + 1) {
        m_buffer.clear();
        m_bufferLength = 0;
        return std::nullopt;
    }
    return tokenFor(t);
}

std::optional<ColonToken> TokenBuffer::deleteBackward() {
    if (m_buffer.isEmpty()) {
        m_preceding = Unknown{};
        return std::nullopt;
    }
    m_buffer.truncate(text::lastGraphemeStart(m_buffer));
    m_bufferLength = m_buffer.isEmpty() ? 0 : m_bufferLength - 1;
    const QString t = trigger();
    if (isOpenFor(t)) {
        m_preceding = Unknown{};
        return tokenFor(t);
    }
    m_buffer.clear();
    m_bufferLength = 0;
    m_preceding = Boundary{};
    return std::nullopt;
}

bool TokenBuffer::acceptsTrigger() const {
    if (isTokenOpen() || std::holds_alternative<Boundary>(m_preceding))
        return true;
    const auto* before = std::get_if<QString>(&m_preceding);
    return before != nullptr && text::isWhitespace(*before);
}

void TokenBuffer::learnTextBeforeTrigger(const QString& fieldText) {
    const QString t = trigger();
    if (t.isEmpty() || isOpenFor(t))
        return;
    QString before = fieldText;
    // The field may have taken the trigger, and on a busy machine the next keys too, before it was
    // asked: what precedes that trigger counts.
    if (const qsizetype at = before.lastIndexOf(t); at >= 0) {
        const QString late = before.mid(at + t.size());
        bool allTyped = late.size() <= lateKeys;
        for (qsizetype i = 0; allTyped && i < late.size(); ++i)
            allTyped = isTokenCharacter(late.mid(i, 1));
        if (allTyped)
            before.truncate(at);
    }
    if (before.isEmpty()) {
        m_preceding = Boundary{};
        return;
    }
    const QString last = before.mid(text::lastGraphemeStart(before));
    if (text::isWhitespace(last))
        m_preceding = last;
}

void TokenBuffer::reset() {
    m_buffer.clear();
    m_bufferLength = 0;
    m_preceding = Boundary{};
}

} // namespace pimsel

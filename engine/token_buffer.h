#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <variant>

namespace pimsel {

struct ColonToken {
    QString raw;   // trigger included, e.g. ":smi"
    QString query; // raw without its first character
    bool operator==(const ColonToken&) const = default;
};

// Follows the keystroke stream one user-perceived character at a time and reports the open shortcode.
class TokenBuffer {
public:
    struct Boundary {
        bool operator==(const Boundary&) const = default;
    };
    struct Unknown {
        bool operator==(const Unknown&) const = default;
    };
    // character(c) / boundary / unknown
    using Preceding = std::variant<QString, Boundary, Unknown>;

    static constexpr int maxQueryLength = 64;

    explicit TokenBuffer(std::function<QString()> triggerProvider);

    // One user-perceived character; a longer text is fed cluster by cluster and the answer
    // after its last cluster is returned. An empty text changes nothing.
    std::optional<ColonToken> feed(const QString& character);
    std::optional<ColonToken> deleteBackward();
    void reset();
    // What the field itself holds before the caret, read while `trigger` is being typed (so the
    // trigger, and up to lateKeys token characters typed after it, may be in it already): an empty
    // text is the start of the text. Only a boundary or whitespace changes what the buffer knows,
    // and only while no token is open. Ask the field for contextLength characters.
    void learnTextBeforeTrigger(const QString& fieldText);
    static constexpr int lateKeys = 4;
    // Letters, marks and digits plus "_", "-" and "+": what a shortcode is made of.
    static bool isTokenCharacter(const QString& character);
    static constexpr int contextLength = lateKeys + 2;
    // Whether a trigger typed now would open a token.
    bool acceptsTrigger() const;

    const QString& buffer() const { return m_buffer; }
    const Preceding& preceding() const { return m_preceding; }
    // A token is open when the buffer begins with the trigger the provider returns now.
    bool isTokenOpen() const;
    std::optional<ColonToken> currentToken() const;

private:
    QString trigger() const; // read afresh from the provider
    bool isOpenFor(const QString& trigger) const;
    std::optional<ColonToken> tokenFor(const QString& trigger) const;

    std::function<QString()> m_triggerProvider;
    QString m_buffer;
    int m_bufferLength = 0; // in user-perceived characters
    Preceding m_preceding = Boundary{};
};

} // namespace pimsel

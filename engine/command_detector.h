#pragma once

#include <QString>

namespace pimsel {

// Recognises one typed slash command ("/sticker", "/gif") from the characters fed to it.
class StickerCommandDetector {
public:
    explicit StickerCommandDetector(QString command);

    const QString& command() const { return m_command; }
    const QString& buffer() const { return m_buffer; }
    int commandLength() const; // in user-perceived characters

    void feed(const QString& character);
    bool isMatched() const { return !m_buffer.isEmpty() && m_buffer == m_command; }
    void deleteBackward();
    void reset() { m_buffer.clear(); }

private:
    QString m_command;
    QString m_buffer;
};

} // namespace pimsel

#include "engine/command_detector.h"

#include "engine/text.h"

namespace pimsel {

StickerCommandDetector::StickerCommandDetector(QString command)
    : m_command(text::lowercase(command)) {}

int StickerCommandDetector::commandLength() const {
    return text::graphemeCount(m_command);
}

void StickerCommandDetector::feed(const QString& character) {
    if (text::firstGraphemeLength(character) != character.size()) {
        for (const QString& cluster : text::graphemeClusters(character))
            feed(cluster);
        return;
    }
    if (character.isEmpty())
        return;
    const QString c = text::lowercase(character);
    if (c == QLatin1String("/")) {
        m_buffer = c;
        return;
    }
    if (m_buffer.isEmpty())
        return;
    if (m_buffer == m_command) {
        m_buffer.clear();
        return;
    }
    const QString candidate = m_buffer + c;
    if (m_command.startsWith(candidate))
        m_buffer = candidate;
    else
        m_buffer.clear();
}

void StickerCommandDetector::deleteBackward() {
    m_buffer.truncate(text::lastGraphemeStart(m_buffer));
}

} // namespace pimsel

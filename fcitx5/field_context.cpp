#include "fcitx5/field_context.h"

#include <fcitx-utils/utf8.h>
#include <fcitx/inputcontext.h>
#include <fcitx/surroundingtext.h>

namespace pimsel::fcitx5 {

namespace {

bool isMaskCharacter(char32_t scalar) {
    return scalar == U'\u2022' || scalar == U'\u2219' || scalar == U'\u25CF' || scalar == U'\u2981';
}

// Asked on every key: it stops at the first character that is no mask, without converting the
// field's whole text first.
bool allMasked(const std::string& text) {
    if (text.empty())
        return false;
    for (const uint32_t scalar : fcitx::utf8::MakeUTF8CharRange(text)) {
        if (!isMaskCharacter(scalar))
            return false;
    }
    return true;
}

} // namespace

bool FieldContext::isSecureFieldFocused() {
    if (m_ic.capabilityFlags().test(fcitx::CapabilityFlag::Password))
        return true;
    const fcitx::SurroundingText& surrounding = m_ic.surroundingText();
    return surrounding.isValid() && allMasked(surrounding.text());
}

std::optional<QRect> FieldContext::caretRect() {
    const fcitx::Rect& rect = m_ic.cursorRect();
    if (rect.width() == 0 && rect.height() == 0)
        return std::nullopt;
    return QRect(rect.left(), rect.top(), rect.width(), rect.height());
}

std::optional<QString> FieldContext::textBeforeCaret(int count) {
    const fcitx::SurroundingText& surrounding = m_ic.surroundingText();
    if (!surrounding.isValid())
        return std::nullopt;
    // The caret is counted in code points, as the frontends report it.
    const QList<uint> scalars = QString::fromStdString(surrounding.text()).toUcs4();
    const qsizetype caret = std::min<qsizetype>(surrounding.cursor(), scalars.size());
    const qsizetype from = std::max<qsizetype>(0, caret - count);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData() + from), caret - from);
}

bool FieldContext::holds(const QString& text) const {
    const fcitx::SurroundingText& surrounding = m_ic.surroundingText();
    return surrounding.isValid() && QString::fromStdString(surrounding.text()).contains(text);
}

std::optional<QString> FieldContext::applicationId() const {
    if (m_ic.program().empty())
        return std::nullopt;
    return QString::fromStdString(m_ic.program());
}

} // namespace pimsel::fcitx5

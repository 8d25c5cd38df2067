#include "ui/palette.h"

#include <QApplication>
#include <QWidget>

namespace pimsel::palette {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QColor creamSecondary() {
    return withOpacity(cream, 0.62);
}
QColor creamTertiary() {
    return withOpacity(cream, 0.38);
}
QColor hairline() {
    return withOpacity(cream, 0.1);
}
QColor accentWash() {
    return withOpacity(accent, 0.16);
}

QString css(const QColor& color) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

QFont emojiFont(int pixelSize) {
    QFont font(QStringLiteral("Noto Color Emoji"));
    // Without merging: a sequence such as woman detective holds text-presentation code points
    // (the female sign, the heart) that the interface font would claim, splitting the one colour
    // glyph into a person and a monochrome sign beside it.
    font.setStyleStrategy(QFont::NoFontMerging);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

QFont textFont(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QPalette darkPalette() {
    QPalette p;
    const QColor secondary = creamSecondary();
    const QColor tertiary = creamTertiary();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, ink);
        p.setColor(group, QPalette::WindowText, cream);
        p.setColor(group, QPalette::Base, inkRaised);
        p.setColor(group, QPalette::AlternateBase, inkHigh);
        p.setColor(group, QPalette::Text, cream);
        p.setColor(group, QPalette::PlaceholderText, tertiary);
        p.setColor(group, QPalette::Button, inkHigh);
        p.setColor(group, QPalette::ButtonText, cream);
        p.setColor(group, QPalette::BrightText, accent);
        p.setColor(group, QPalette::Highlight, accent);
        p.setColor(group, QPalette::HighlightedText, ink);
        p.setColor(group, QPalette::ToolTipBase, inkRaised);
        p.setColor(group, QPalette::ToolTipText, cream);
        p.setColor(group, QPalette::Link, accent);
        p.setColor(group, QPalette::LinkVisited, accent);
        p.setColor(group, QPalette::Light, inkHigh);
        p.setColor(group, QPalette::Midlight, inkHigh);
        p.setColor(group, QPalette::Mid, inkRaised);
        p.setColor(group, QPalette::Dark, ink);
        p.setColor(group, QPalette::Shadow, Qt::black);
    }
    p.setColor(QPalette::Disabled, QPalette::Window, ink);
    p.setColor(QPalette::Disabled, QPalette::Base, inkRaised);
    p.setColor(QPalette::Disabled, QPalette::Button, inkRaised);
    p.setColor(QPalette::Disabled, QPalette::WindowText, tertiary);
    p.setColor(QPalette::Disabled, QPalette::Text, tertiary);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, tertiary);
    p.setColor(QPalette::Disabled, QPalette::PlaceholderText, tertiary);
    p.setColor(QPalette::Disabled, QPalette::Highlight, inkHigh);
    p.setColor(QPalette::Disabled, QPalette::HighlightedText, secondary);
    return p;
}

void applyDarkAppearance(QWidget* window) {
    if (window == nullptr)
        return;
    window->setPalette(darkPalette());
}

} // namespace pimsel::palette

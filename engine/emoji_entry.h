#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace pimsel {

// One catalogue emoji. `emoji` identifies it; use counts are keyed by that text.
struct EmojiEntry {
    QString emoji;
    QString name;
    QStringList aliases; // first = primary shortcode
    QString category;
    bool supportsSkinTones = false;
    int useCount = 0; // not in the catalogue file; filled in by the store

    bool operator==(const EmojiEntry&) const = default;
};

// Positions 0–5 follow this order everywhere (popover strip, coordinator, settings).
enum class SkinTone { yellow, light, mediumLight, medium, mediumDark, dark };

inline constexpr std::array<SkinTone, 6> allSkinTones{SkinTone::yellow,      SkinTone::light,
                                                      SkinTone::mediumLight, SkinTone::medium,
                                                      SkinTone::mediumDark,  SkinTone::dark};

QString rawValue(SkinTone tone);
std::optional<SkinTone> skinToneFromRawValue(const QString& raw);
int position(SkinTone tone);

// One base scalar, optionally followed by U+FE0F.
bool hasSingleBaseShape(const QString& emoji);
QString applying(SkinTone tone, const QString& emoji);
QString applySkinTone(SkinTone tone, const QString& emoji, bool supportsSkinTones);
bool acceptsSkinTone(const EmojiEntry& entry);
QStringList toneVariants(const EmojiEntry& entry); // always six, first = the emoji unchanged
QString preview(SkinTone tone);                    // "✋" toned

} // namespace pimsel

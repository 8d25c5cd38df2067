#include "engine/emoji_entry.h"

#include <QStringView>

namespace pimsel {

namespace {

constexpr char32_t variationSelector16 = 0xFE0F;

struct ToneInfo {
    SkinTone tone;
    const char* raw;
    char32_t modifier; // 0: none
};

constexpr std::array<ToneInfo, 6> toneTable{{
    {SkinTone::yellow, "yellow", 0},
    {SkinTone::light, "light", 0x1F3FB},
    {SkinTone::mediumLight, "mediumLight", 0x1F3FC},
    {SkinTone::medium, "medium", 0x1F3FD},
    {SkinTone::mediumDark, "mediumDark", 0x1F3FE},
    {SkinTone::dark, "dark", 0x1F3FF},
}};

const ToneInfo& infoFor(SkinTone tone) {
    const int index = static_cast<int>(tone);
    return toneTable[index >= 0 && index < 6 ? index : 0];
}

} // namespace

QString rawValue(SkinTone tone) {
    return QString::fromLatin1(infoFor(tone).raw);
}

std::optional<SkinTone> skinToneFromRawValue(const QString& raw) {
    for (const ToneInfo& info : toneTable) {
        if (raw == QLatin1String(info.raw))
            return info.tone;
    }
    return std::nullopt;
}

int position(SkinTone tone) {
    return static_cast<int>(infoFor(tone).tone);
}

bool hasSingleBaseShape(const QString& emoji) {
    const QList<uint> scalars = QStringView(emoji).toUcs4();
    return scalars.size() == 1 || (scalars.size() == 2 && scalars[1] == variationSelector16);
}

QString applying(SkinTone tone, const QString& emoji) {
    const char32_t modifier = infoFor(tone).modifier;
    if (modifier == 0 || !hasSingleBaseShape(emoji))
        return emoji;
    const char32_t toned[2] = {QStringView(emoji).toUcs4().front(), modifier};
    return QString::fromUcs4(toned, 2);
}

QString applySkinTone(SkinTone tone, const QString& emoji, bool supportsSkinTones) {
    return supportsSkinTones ? applying(tone, emoji) : emoji;
}

bool acceptsSkinTone(const EmojiEntry& entry) {
    return entry.supportsSkinTones && hasSingleBaseShape(entry.emoji);
}

QStringList toneVariants(const EmojiEntry& entry) {
    QStringList variants;
    variants.reserve(static_cast<qsizetype>(allSkinTones.size()));
    for (SkinTone tone : allSkinTones)
        variants.append(applying(tone, entry.emoji));
    return variants;
}

QString preview(SkinTone tone) {
    return applying(tone, QString(QChar(0x270B)));
}

} // namespace pimsel

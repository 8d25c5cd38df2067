#include "engine/emoji_entry.h"

#include <gtest/gtest.h>

#include <QString>

using namespace pimsel;

namespace {

QString scalars(std::initializer_list<char32_t> list) {
    return QString::fromUcs4(list.begin(), static_cast<qsizetype>(list.size()));
}

const QString thumbsUp = scalars({0x1F44D});
const QString victory = scalars({0x270C, 0xFE0F});
// Shapes that never take a tone: ZWJ sequence, flag, keycap, already toned, text-style selector, empty.
const QStringList untoneable{scalars({0x1F468, 0x200D, 0x1F4BB}), scalars({0x1F1EB, 0x1F1F7}),
                             scalars({0x31, 0xFE0F, 0x20E3}),     scalars({0x1F44D, 0x1F3FB}),
                             scalars({0x2764, 0xFE0E}),           QString()};

TEST(SkinTone, tonesOnlySingleBaseShapesInCaseOrder) {
    for (int i = 0; i < 6; ++i) {
        const SkinTone tone = allSkinTones[static_cast<std::size_t>(i)];
        const QString modifier = i == 0 ? QString() : scalars({static_cast<char32_t>(0x1F3FA + i)});
        EXPECT_EQ(applying(tone, thumbsUp), thumbsUp + modifier) << i;
        EXPECT_EQ(applying(tone, victory), i == 0 ? victory : scalars({0x270C}) + modifier) << i;
        for (const QString& other : untoneable)
            EXPECT_EQ(applying(tone, other), other);
    }
    EXPECT_TRUE(hasSingleBaseShape(thumbsUp) && hasSingleBaseShape(victory));
    for (const QString& other : untoneable)
        EXPECT_FALSE(hasSingleBaseShape(other)) << other.toStdString();
}

} // namespace

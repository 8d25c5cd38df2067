#include "engine/emoji_entry.h"

#include <gtest/gtest.h>

#include <QString>

using namespace pimsel;

namespace {

QString scalars(std::initializer_list<char32_t> list) {
    return QString::fromUcs4(list.begin(), static_cast<qsizetype>(list.size()));
}

const QString thumbsUp = scalars({0x1F44D});
const QString victoryWithSelector = scalars({0x270C, 0xFE0F});
const QString technologist = scalars({0x1F468, 0x200D, 0x1F4BB}); // ZWJ sequence
const QString flag = scalars({0x1F1EB, 0x1F1F7});
const QString keycap = scalars({0x31, 0xFE0F, 0x20E3});
const QString alreadyToned = scalars({0x1F44D, 0x1F3FB});
const QString baseWithOtherSelector = scalars({0x2764, 0xFE0E});

struct ApplyCase {
    SkinTone tone;
    QString emoji;
    QString expected;
};

class Applying : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(Applying, tonesOnlySingleBaseShapes) {
    EXPECT_EQ(applying(GetParam().tone, GetParam().emoji), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Applying,
    ::testing::Values(ApplyCase{SkinTone::light, thumbsUp, scalars({0x1F44D, 0x1F3FB})},
                      ApplyCase{SkinTone::mediumLight, thumbsUp, scalars({0x1F44D, 0x1F3FC})},
                      ApplyCase{SkinTone::medium, thumbsUp, scalars({0x1F44D, 0x1F3FD})},
                      ApplyCase{SkinTone::mediumDark, thumbsUp, scalars({0x1F44D, 0x1F3FE})},
                      ApplyCase{SkinTone::dark, thumbsUp, scalars({0x1F44D, 0x1F3FF})},
                      ApplyCase{SkinTone::yellow, thumbsUp, thumbsUp},
                      ApplyCase{SkinTone::dark, victoryWithSelector, scalars({0x270C, 0x1F3FF})},
                      ApplyCase{SkinTone::yellow, victoryWithSelector, victoryWithSelector},
                      ApplyCase{SkinTone::dark, technologist, technologist},
                      ApplyCase{SkinTone::light, flag, flag}, ApplyCase{SkinTone::medium, keycap, keycap},
                      ApplyCase{SkinTone::dark, alreadyToned, alreadyToned},
                      ApplyCase{SkinTone::light, baseWithOtherSelector, baseWithOtherSelector},
                      ApplyCase{SkinTone::light, QString(), QString()}));

TEST(SkinTone, singleBaseShape) {
    EXPECT_TRUE(hasSingleBaseShape(thumbsUp));
    EXPECT_TRUE(hasSingleBaseShape(victoryWithSelector));
    EXPECT_TRUE(hasSingleBaseShape(QStringLiteral("a")));
    for (const QString& other : {technologist, flag, keycap, alreadyToned, baseWithOtherSelector, QString()})
        EXPECT_FALSE(hasSingleBaseShape(other)) << other.toStdString();
}

TEST(SkinTone, acceptsOnlySupportedSingleBaseEntries) {
    EmojiEntry entry{thumbsUp, QStringLiteral("thumbs up"), {QStringLiteral("+1")}, {}, true, 0};
    EXPECT_TRUE(acceptsSkinTone(entry));
    entry.supportsSkinTones = false;
    EXPECT_FALSE(acceptsSkinTone(entry));
    entry.supportsSkinTones = true;
    entry.emoji = technologist;
    EXPECT_FALSE(acceptsSkinTone(entry)) << "a ZWJ sequence is never toned";
    entry.emoji = flag;
    EXPECT_FALSE(acceptsSkinTone(entry));
}

TEST(SkinTone, applySkinToneHonoursTheEntryFlag) {
    EXPECT_EQ(applySkinTone(SkinTone::dark, thumbsUp, false), thumbsUp);
    EXPECT_EQ(applySkinTone(SkinTone::dark, thumbsUp, true), scalars({0x1F44D, 0x1F3FF}));
}

TEST(SkinTone, toneVariantsAreSixInCaseOrder) {
    for (const QString& emoji : {thumbsUp, technologist}) {
        const QStringList variants = toneVariants(EmojiEntry{emoji, {}, {}, {}, true, 0});
        ASSERT_EQ(variants.size(), 6);
        EXPECT_EQ(variants.first(), emoji);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(variants[i], applying(allSkinTones[static_cast<std::size_t>(i)], emoji));
    }
    EXPECT_EQ(toneVariants(EmojiEntry{thumbsUp, {}, {}, {}, true, 0})[5], scalars({0x1F44D, 0x1F3FF}));
}

TEST(SkinTone, previewTonesARaisedHand) {
    EXPECT_EQ(preview(SkinTone::yellow), scalars({0x270B}));
    EXPECT_EQ(preview(SkinTone::medium), scalars({0x270B, 0x1F3FD}));
}

TEST(SkinTone, rawValuesAndPositionsRoundTrip) {
    const char* raws[] = {"yellow", "light", "mediumLight", "medium", "mediumDark", "dark"};
    for (int i = 0; i < 6; ++i) {
        const SkinTone tone = allSkinTones[static_cast<std::size_t>(i)];
        EXPECT_EQ(rawValue(tone), QString::fromLatin1(raws[i]));
        EXPECT_EQ(position(tone), i);
        EXPECT_EQ(skinToneFromRawValue(QString::fromLatin1(raws[i])), tone);
    }
    EXPECT_EQ(skinToneFromRawValue(QStringLiteral("Light")), std::nullopt);
    EXPECT_EQ(skinToneFromRawValue(QString()), std::nullopt);
}

} // namespace

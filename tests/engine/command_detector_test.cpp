#include "engine/command_detector.h"

#include <gtest/gtest.h>

#include <QStringList>

using pimsel::StickerCommandDetector;

namespace {

struct DetectorCase {
    const char* name;
    const char* command;
    QStringList typed; // "<" stands for deleteBackward
    const char* buffer;
    bool matched;
};

class CommandDetectorCase : public ::testing::TestWithParam<DetectorCase> {};

TEST_P(CommandDetectorCase, endsInTheExpectedBuffer) {
    const DetectorCase& c = GetParam();
    StickerCommandDetector detector(QString::fromUtf8(c.command));
    for (const QString& key : c.typed) {
        if (key == QLatin1String("<"))
            detector.deleteBackward();
        else
            detector.feed(key);
    }
    EXPECT_EQ(detector.buffer(), QString::fromUtf8(c.buffer));
    EXPECT_EQ(detector.isMatched(), c.matched);
}

const auto gif = "/gif";
const auto sticker = "/sticker";

INSTANTIATE_TEST_SUITE_P(
    Sequences, CommandDetectorCase,
    ::testing::Values(
        DetectorCase{"gifMatches", gif, {"/", "g", "i", "f"}, "/gif", true},
        DetectorCase{"extraLetterAbandonsMatch", gif, {"/", "g", "i", "f", "s"}, "", false},
        DetectorCase{"capitalsMatch", gif, {"/", "G", "I", "F"}, "/gif", true},
        DetectorCase{"charactersBeforeSlashIgnored", gif, {"a", "/", "g", "i", "f"}, "/gif", true},
        DetectorCase{"mismatchEmpties", gif, {"/", "g", "x"}, "", false},
        DetectorCase{"noRevivalAfterMismatch", gif, {"/", "g", "x", "i", "f"}, "", false},
        DetectorCase{"secondSlashRestarts", gif, {"/", "s", "t", "/", "g", "i", "f"}, "/gif", true},
        DetectorCase{"doubleSlashRestarts", gif, {"/", "/", "g", "i", "f"}, "/gif", true},
        DetectorCase{"slashAfterMatchRestarts", gif, {"/", "g", "i", "f", "/"}, "/", false},
        DetectorCase{"deleteOneOfThree", gif, {"/", "g", "i", "<"}, "/g", false},
        DetectorCase{"deleteLoneSlash", gif, {"/", "<"}, "", false},
        DetectorCase{"deleteOnEmpty", gif, {"<", "<"}, "", false},
        DetectorCase{"deleteThenRetype", gif, {"/", "g", "i", "f", "<", "f"}, "/gif", true},
        DetectorCase{"stickerHoldsSlash", sticker, {"/"}, "/", false},
        DetectorCase{"stickerRejectsG", sticker, {"/", "g", "i", "f"}, "", false},
        DetectorCase{"stickerMatches", sticker, {"/", "s", "t", "i", "c", "k", "e", "r"}, "/sticker", true},
        DetectorCase{
            "stickersNeverMatches", sticker, {"/", "s", "t", "i", "c", "k", "e", "r", "s"}, "", false},
        DetectorCase{
            "properPrefixNotMatched", sticker, {"/", "s", "t", "i", "c", "k", "e"}, "/sticke", false},
        DetectorCase{"accentedLetterIsNotPlain", gif, {"/", "g", "i\u0301"}, "", false},
        DetectorCase{"multiCharacterTextFedInOrder", gif, {"x/Gi", "f"}, "/gif", true}),
    [](const ::testing::TestParamInfo<DetectorCase>& info) { return std::string(info.param.name); });

TEST(CommandDetector, commandLengthCountsCharacters) {
    EXPECT_EQ(StickerCommandDetector(QStringLiteral("/sticker")).commandLength(), 8);
    EXPECT_EQ(StickerCommandDetector(QStringLiteral("/gif")).commandLength(), 4);
}

TEST(CommandDetector, resetEmptiesAMatchedBuffer) {
    StickerCommandDetector detector(QStringLiteral("/gif"));
    for (const char* c : {"/", "g", "i", "f"})
        detector.feed(QString::fromLatin1(c));
    ASSERT_TRUE(detector.isMatched());
    detector.reset();
    EXPECT_TRUE(detector.buffer().isEmpty());
    EXPECT_FALSE(detector.isMatched());
}

} // namespace

#include "engine/command_detector.h"

#include <gtest/gtest.h>

#include <QStringList>

using pimsel::StickerCommandDetector;

namespace {

struct DetectorCase {
    const char* command;
    QStringList typed; // "<" stands for deleteBackward, "!" for reset
    const char* buffer;
    bool matched;
};

void PrintTo(const DetectorCase& c, std::ostream* os) {
    *os << c.command << " after " << c.typed.join(QLatin1Char(' ')).toStdString();
}

class CommandDetectorCase : public ::testing::TestWithParam<DetectorCase> {};

TEST_P(CommandDetectorCase, endsInTheExpectedBuffer) {
    const DetectorCase& c = GetParam();
    StickerCommandDetector detector(QString::fromUtf8(c.command));
    for (const QString& key : c.typed) {
        if (key == QLatin1String("<"))
            detector.deleteBackward();
        else if (key == QLatin1String("!"))
            detector.reset();
        else
            detector.feed(key);
    }
    EXPECT_EQ(detector.buffer(), QString::fromUtf8(c.buffer)) << c.typed.join(' ').toStdString();
    EXPECT_EQ(detector.isMatched(), c.matched);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CommandDetectorCase,
    ::testing::Values(DetectorCase{"/gif", {"/", "g", "i", "f"}, "/gif", true},
                      DetectorCase{"/gif", {"/", "g", "i", "f", "s"}, "", false},
                      DetectorCase{"/gif", {"a", "/", "G", "I", "F"}, "/gif", true},
                      DetectorCase{"/gif", {"/", "g", "x", "i", "f"}, "", false},
                      DetectorCase{"/gif", {"/", "g", "i", "/", "g", "i", "f"}, "/gif", true},
                      DetectorCase{"/gif", {"/", "/", "g", "i", "f"}, "/gif", true},
                      DetectorCase{"/gif", {"/", "g", "i", "f", "/"}, "/", false},
                      DetectorCase{"/gif", {"/", "g", "i", "<"}, "/g", false},
                      DetectorCase{"/gif", {"<", "/", "<", "<"}, "", false},
                      DetectorCase{"/gif", {"/", "g", "i", "f", "<", "f"}, "/gif", true},
                      DetectorCase{"/gif", {"/", "g", "i", "f", "!"}, "", false},
                      DetectorCase{"/gif", {"/", "g", "i\u0301"}, "", false},
                      DetectorCase{"/gif", {"x/Gi", "f"}, "/gif", true},
                      DetectorCase{"/sticker", {"/", "g"}, "", false},
                      DetectorCase{"/sticker", {"/", "s", "t", "i", "c", "k", "e", "r"}, "/sticker", true},
                      DetectorCase{"/sticker", {"/", "s", "t", "i", "c", "k", "e", "r", "s"}, "", false},
                      DetectorCase{"/sticker", {"/", "s", "t", "i", "c", "k", "e"}, "/sticke", false}));

TEST(CommandDetector, commandLengthCountsCharacters) {
    EXPECT_EQ(StickerCommandDetector(QStringLiteral("/sticker")).commandLength(), 8);
    EXPECT_EQ(StickerCommandDetector(QStringLiteral("/gif")).commandLength(), 4);
}

} // namespace

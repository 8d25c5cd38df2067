#include "engine/command_detector.h"

#include <gtest/gtest.h>

#include <QStringList>

using pimsel::StickerCommandDetector;

namespace {

TEST(CommandDetector, FollowsTheTypedKeysToTheExpectedBuffer) {
    const struct {
        const char* command;
        const char* typed; // keys fed, split at spaces; "<" stands for deleteBackward, "!" for reset
        const char* buffer;
        bool matched;
    } cases[] = {
        {"/gif", "/ g i f", "/gif", true},
        {"/gif", "/ g i f s", "", false},
        {"/gif", "a / G I F", "/gif", true},
        {"/gif", "/ g x i f", "", false},
        {"/gif", "/ g i / g i f", "/gif", true},
        {"/gif", "/ / g i f", "/gif", true},
        {"/gif", "/ g i f /", "/", false},
        {"/gif", "/ g i <", "/g", false},
        {"/gif", "< / < <", "", false},
        {"/gif", "/ g i f < f", "/gif", true},
        {"/gif", "/ g i f !", "", false},
        {"/gif", "/ g i\u0301", "", false},
        {"/gif", "x/Gi f", "/gif", true},
        {"/sticker", "/ g", "", false},
        {"/sticker", "/ s t i c k e r", "/sticker", true},
        {"/sticker", "/ s t i c k e r s", "", false},
        {"/sticker", "/ s t i c k e", "/sticke", false},
    };
    for (const auto& c : cases) {
        StickerCommandDetector detector(QString::fromUtf8(c.command));
        for (const QString& key : QString::fromUtf8(c.typed).split(QLatin1Char(' '))) {
            if (key == QLatin1String("<"))
                detector.deleteBackward();
            else if (key == QLatin1String("!"))
                detector.reset();
            else
                detector.feed(key);
        }
        EXPECT_EQ(detector.buffer(), QString::fromUtf8(c.buffer)) << c.command << " after " << c.typed;
        EXPECT_EQ(detector.isMatched(), c.matched) << c.command << " after " << c.typed;
        EXPECT_EQ(detector.commandLength(), QString::fromUtf8(c.command).size());
    }
}

} // namespace

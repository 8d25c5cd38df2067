#include "engine/token_buffer.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <optional>

using pimsel::ColonToken;
using pimsel::TokenBuffer;

namespace {

const QString acute = QStringLiteral("e\u0301");

// Steps separated by '|': text fed, "<" deleteBackward, "!" reset, "@..." the field says "..."
// precedes the caret; "step=token" expects that token after the step, a bare step none.
TEST(TokenBuffer, ReportsTheExpectedTokenAfterEveryStep) {
    const struct {
        const char* name;
        QString steps;
    } scenarios[] = {
        {"clockTimeNeverOpens", "1|0|:|3|0"},
        {"triggerRightAfterWordIgnored", "h|e|l|l|o|:"},
        {"wordAfterResetGrows", "x|y|!|:=:|s=:s|m=:sm|i=:smi|l=:smil|e=:smile"},
        {"tabThenTriggerOpens", "x|\t|:=:"},
        {"ideographicSpaceThenTriggerOpens", "x|\u3000|:=:"},
        {"signsDigitsAndUnderscores", ":=:|+=:+|1=:+1| |:=:|-=:-|1=:-1| |:=:|t=:t|_=:t_|u=:t_u"},
        {"nonLatinLettersAndDigits", ":=:|ñ=:ñ|a=:ña|n=:ñan|d=:ñand|ú=:ñandú|٣=:ñandú٣"},
        {"decomposedAccentIsOneCharacter", ":caf=:caf|" + acute + "=:caf" + acute + "|<=:caf"},
        {"punctuationEndsTokenAndBlocksNextTrigger", ":a=:a|.|x|.|:"},
        {"emojiEndsToken", ":a=:a|👍|b"},
        {"spaceEndsTokenAndAllowsNextTrigger", ":a=:a| |b| |:=:"},
        {"triggerInsideTokenRestarts", ":=:|:=:|ab=:ab|:=:|c=:c"},
        {"deleteShortensToken", ":ab=:ab|<=:a|<=:|<|:=:"},
        {"deleteOutsideTokenBlocksTrigger", "<|:"},
        {"fieldAtStartOfTextAfterDeleteOpens", "<|@|:=:"},
        {"fieldAfterSpaceWithTriggerAlreadyInOpens", "x|<|@ab :|:=:"},
        {"fieldAfterWordStaysShut", "<|@ab:|:|<|@10|:"},
        {"fieldThatTookKeysAfterTheTriggerOpens", "<|@ :smi|:=:"},
        {"fieldAfterWordThatTookKeysStaysShut", "<|@b:smi|:|<|@ :a.b|:"},
        {"fieldAnswerLeavesOpenTokenAlone", ":ab=:ab|@x|c=:abc"},
        {"multiCharacterTextFedInOrder", "x :sm=:sm||i=:smi"},
    };
    for (const auto& scenario : scenarios) {
        TokenBuffer buffer([] { return QStringLiteral(":"); });
        for (const QString& step : scenario.steps.split(QLatin1Char('|'))) {
            const QString text = step.section(QLatin1Char('='), 0, 0);
            std::optional<ColonToken> got;
            if (text == QLatin1String("<"))
                got = buffer.deleteBackward();
            else if (text == QLatin1String("!"))
                buffer.reset();
            else if (text.startsWith(QLatin1Char('@')))
                buffer.learnTextBeforeTrigger(text.mid(1));
            else
                got = buffer.feed(text);
            const QString raw = step.section(QLatin1Char('='), 1);
            const std::optional<ColonToken> expected =
                step.contains(QLatin1Char('=')) ? std::optional(ColonToken{raw, raw.mid(1)}) : std::nullopt;
            EXPECT_EQ(got, expected) << scenario.name << ", step '" << step.toStdString() << "'";
        }
    }
}

TEST(TokenBufferLength, sixtyFourCharactersFitAndTheNextDropsTheToken) {
    // Characters, not code units: a decomposed letter is one, and so is a letter whose mark comes alone.
    const struct {
        QString fill;
        int count;
        QString then;
        qsizetype querySize;
    } cases[] = {
        {QStringLiteral("a"), 64, {}, 64}, {acute, 64, {}, 128}, {QStringLiteral("a"), 63, "\u0301b", 65}};
    for (const auto& c : cases) {
        TokenBuffer buffer([] { return QStringLiteral(":"); });
        std::optional<ColonToken> last = buffer.feed(QStringLiteral(":"));
        for (int i = 0; i < c.count; ++i)
            last = buffer.feed(c.fill);
        for (QChar ch : c.then)
            last = buffer.feed(QString(ch));
        ASSERT_TRUE(last) << c.querySize;
        EXPECT_EQ(last->query.size(), c.querySize);
        EXPECT_FALSE(buffer.feed(QStringLiteral("c")));
        EXPECT_TRUE(buffer.buffer().isEmpty());
        EXPECT_FALSE(buffer.feed(QStringLiteral(":"))) << "a letter precedes the trigger now";
    }
}

TEST(TokenBufferTrigger, isReadFromTheProviderOnEveryCallAndOnlyItsFirstCharacterCounts) {
    QString trigger = QStringLiteral(":");
    TokenBuffer buffer([&] { return trigger; });
    buffer.feed(QStringLiteral(":"));
    ASSERT_EQ(buffer.feed(QStringLiteral("a")), (ColonToken{":a", "a"}));
    trigger = QStringLiteral(";!");
    EXPECT_FALSE(buffer.isTokenOpen());
    EXPECT_FALSE(buffer.feed(QStringLiteral("c"))) << "the open token began with the old trigger";
    buffer.reset();
    EXPECT_EQ(buffer.feed(QStringLiteral(";")), (ColonToken{";", ""}));
    EXPECT_EQ(buffer.feed(QStringLiteral("x")), (ColonToken{";x", "x"}));
    EXPECT_FALSE(buffer.feed(QStringLiteral(":"))) << "the old trigger is ordinary punctuation now";
}

} // namespace

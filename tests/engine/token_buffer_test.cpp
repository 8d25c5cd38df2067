#include "engine/token_buffer.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <optional>

using pimsel::ColonToken;
using pimsel::TokenBuffer;

namespace {

const QString acute = QStringLiteral("e\u0301");
const QString a64 = QString(64, QLatin1Char('a')), acute64 = acute.repeated(64);

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
        {"signsDigitsAndUnderscores", ":=:|+=:+|1=:+1| |:=:|-=:-|1=:-1| |:=:|t=:t|_=:t_|u=:t_u"},
        {"nonLatinLettersAndDigits", ":=:|ñ=:ñ|a=:ña|n=:ñan|d=:ñand|ú=:ñandú|٣=:ñandú٣"},
        {"decomposedAccentIsOneCharacter", ":caf=:caf|" + acute + "=:caf" + acute + "|<=:caf"},
        {"punctuationEndsTokenAndBlocksNextTrigger", ":a=:a|.|x|.|:"},
        {"emojiEndsToken", ":a=:a|👍|b"},
        {"spaceEndsTokenAndAllowsNextTrigger", ":a=:a| |b| |:=:"},
        {"triggerInsideTokenRestarts", ":=:|:=:|ab=:ab|:=:|c=:c"},
        {"deleteShortensToken", ":ab=:ab|<=:a|<=:|<|:=:"},
        {"deleteOutsideTokenBlocksTrigger", "<|:"},
        {"fieldAfterSpaceWithTriggerAlreadyInOpens", "x|<|@ab :|:=:"},
        {"fieldAfterWordStaysShut", "<|@ab:|:|<|@10|:"},
        {"fieldAfterWordThatTookKeysStaysShut", "<|@b:smi|:|<|@ :a.b|:"},
        {"fieldAnswerLeavesOpenTokenAlone", ":ab=:ab|@x|c=:abc"},
        {"multiCharacterTextFedInOrder", "x :sm=:sm||i=:smi"},
        // Sixty-four characters fit and the next drops the token: characters, not code units, so a
        // decomposed letter is one, and so is a letter whose mark comes alone.
        {"sixtyFourLetters", ":=:|" + a64 + "=:" + a64 + "|c|:"},
        {"sixtyFourDecomposedLetters", ":=:|" + acute64 + "=:" + acute64 + "|c|:"},
        {"markAfterTheSixtyThirdLetter", ":=:|" + a64.mid(1) + "\u0301b=:" + a64.mid(1) + "\u0301b|c|:"},
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

} // namespace

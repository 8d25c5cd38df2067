#include "engine/token_buffer.h"

#include <gtest/gtest.h>

#include <QString>

#include <optional>
#include <vector>

using pimsel::ColonToken;
using pimsel::TokenBuffer;

namespace {

// One step of a scenario: text fed ("<" = deleteBackward, "!" = reset, "@..." = the field says "..."
// precedes the caret) and the token expected after it.
struct Step {
    Step(QString text, std::optional<QString> expected = std::nullopt)
        : text(std::move(text))
        , expected(std::move(expected)) {}
    QString text;
    std::optional<QString> expected;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

// ":" then each character of `word`, each step reporting the token so far.
std::vector<Step> typed(const QString& word, std::vector<Step> before = {}) {
    before.push_back({QStringLiteral(":"), QStringLiteral(":")});
    QString raw = QStringLiteral(":");
    for (QChar c : word) {
        raw += c;
        before.push_back({QString(c), raw});
    }
    return before;
}

std::vector<Step> silent(const QString& text) {
    std::vector<Step> steps;
    for (QChar c : text)
        steps.push_back({QString(c)});
    return steps;
}

class TokenBufferScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(TokenBufferScenario, reportsTheExpectedTokenAfterEveryStep) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    int index = 0;
    for (const Step& step : GetParam().steps) {
        std::optional<ColonToken> got;
        if (step.text == QLatin1String("<"))
            got = buffer.deleteBackward();
        else if (step.text == QLatin1String("!"))
            buffer.reset();
        else if (step.text.startsWith(QLatin1Char('@')))
            buffer.learnTextBeforeTrigger(step.text.mid(1));
        else
            got = buffer.feed(step.text);
        const std::optional<ColonToken> expected =
            step.expected ? std::optional(ColonToken{*step.expected, step.expected->mid(1)}) : std::nullopt;
        EXPECT_EQ(got, expected) << "step " << index++ << " '" << step.text.toStdString() << "'";
    }
}

const QString acute = QStringLiteral("e\u0301");

INSTANTIATE_TEST_SUITE_P(
    Transitions, TokenBufferScenario,
    ::testing::Values(
        Scenario{"clockTimeNeverOpens", silent("10:30")},
        Scenario{"triggerRightAfterWordIgnored", silent("hello:")},
        Scenario{"wordAfterResetGrows", typed("smile", {{"x"}, {"y"}, {"!"}})},
        Scenario{"tabThenTriggerOpens", typed("", {{"x"}, {"\t"}})},
        Scenario{"crlfClusterThenTriggerOpens", typed("", {{"x"}, {"\r\n"}})},
        Scenario{"ideographicSpaceThenTriggerOpens", typed("", {{"x"}, {"\u3000"}})},
        Scenario{"plusOne", typed("+1")}, Scenario{"minusOne", typed("-1")},
        Scenario{"underscoreWord", typed("thumbs_up")}, Scenario{"nonLatinLettersAndDigits", typed("ñandú٣")},
        Scenario{"decomposedAccentIsOneCharacter", {{":caf", ":caf"}, {acute, ":cafe\u0301"}, {"<", ":caf"}}},
        Scenario{"punctuationEndsTokenAndBlocksNextTrigger", {{":a", ":a"}, {"."}, {"x"}, {"."}, {":"}}},
        Scenario{"emojiEndsToken", {{":a", ":a"}, {"👍"}, {"b"}}},
        Scenario{"spaceEndsTokenAndAllowsNextTrigger", {{":a", ":a"}, {" "}, {"b"}, {" "}, {":", ":"}}},
        Scenario{"triggerInsideTokenRestarts",
                 {{":", ":"}, {":", ":"}, {"ab", ":ab"}, {":", ":"}, {"c", ":c"}}},
        Scenario{"deleteShortensToken", {{":ab", ":ab"}, {"<", ":a"}, {"<", ":"}, {"<"}, {":", ":"}}},
        Scenario{"deleteOutsideTokenBlocksTrigger", {{"<"}, {":"}}},
        Scenario{"fieldAtStartOfTextAfterDeleteOpens", {{"<"}, {"@"}, {":", ":"}}},
        Scenario{"fieldAfterSpaceWithTriggerAlreadyInOpens", {{"x"}, {"<"}, {"@ab :"}, {":", ":"}}},
        Scenario{"fieldWithOnlyTheTriggerOpens", {{"hello"}, {"@:"}, {":", ":"}}},
        Scenario{"fieldAfterWordStaysShut", {{"<"}, {"@ab:"}, {":"}, {"<"}, {"@10"}, {":"}}},
        Scenario{"fieldThatTookKeysAfterTheTriggerOpens", {{"<"}, {"@ :smi"}, {":", ":"}}},
        Scenario{"fieldAfterWordThatTookKeysStaysShut", {{"<"}, {"@b:smi"}, {":"}, {"<"}, {"@ :a.b"}, {":"}}},
        Scenario{"fieldAnswerLeavesOpenTokenAlone", {{":ab", ":ab"}, {"@x"}, {"c", ":abc"}}},
        Scenario{"shortenedTokenKeepsGrowing", {{":ab", ":ab"}, {"<", ":a"}, {"c", ":ac"}}},
        Scenario{"multiCharacterTextFedInOrder", {{"x :sm", ":sm"}, {""}, {"i", ":smi"}}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

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

TEST(TokenBufferPreceding, followsFeedsDeletesAndResets) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Boundary{}));
    buffer.feed(QStringLiteral("q"));
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(QStringLiteral("q")));
    buffer.deleteBackward();
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Unknown{}));
    buffer.reset();
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Boundary{}));
    buffer.feed(QStringLiteral(":a"));
    buffer.deleteBackward();
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Unknown{}));
    buffer.deleteBackward(); // removes the trigger
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Boundary{}));
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

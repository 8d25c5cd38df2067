#include "engine/token_buffer.h"

#include <gtest/gtest.h>

#include <QString>

#include <optional>
#include <vector>

using pimsel::ColonToken;
using pimsel::TokenBuffer;

namespace {

struct Step {
    enum class Op { feed, deleteBackward, reset } op;
    QString text;
    std::optional<ColonToken> expected;
};

Step feed(const QString& text, std::optional<ColonToken> expected = std::nullopt) {
    return {Step::Op::feed, text, std::move(expected)};
}
Step back(std::optional<ColonToken> expected = std::nullopt) {
    return {Step::Op::deleteBackward, {}, std::move(expected)};
}
Step reset() {
    return {Step::Op::reset, {}, std::nullopt};
}
ColonToken tok(const QString& raw) {
    return ColonToken{raw, raw.mid(1)};
}

// Each character of `text` fed alone; every step expects nothing.
std::vector<Step> silent(const QString& text) {
    std::vector<Step> steps;
    for (QChar c : text)
        steps.push_back(feed(QString(c)));
    return steps;
}

// ":" then each character of `word`, each step reporting the token so far.
std::vector<Step> typed(const QString& word) {
    std::vector<Step> steps{feed(QStringLiteral(":"), tok(QStringLiteral(":")))};
    QString raw = QStringLiteral(":");
    for (QChar c : word) {
        raw += c;
        steps.push_back(feed(QString(c), tok(raw)));
    }
    return steps;
}

std::vector<Step> concat(std::initializer_list<std::vector<Step>> parts) {
    std::vector<Step> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

class TokenBufferScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(TokenBufferScenario, reportsTheExpectedTokenAfterEveryStep) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    int index = 0;
    for (const Step& step : GetParam().steps) {
        std::optional<ColonToken> got;
        switch (step.op) {
        case Step::Op::feed:
            got = buffer.feed(step.text);
            break;
        case Step::Op::deleteBackward:
            got = buffer.deleteBackward();
            break;
        case Step::Op::reset:
            buffer.reset();
            break;
        }
        if (step.op != Step::Op::reset) {
            EXPECT_EQ(got.has_value(), step.expected.has_value())
                << "step " << index << " fed '" << step.text.toStdString() << "'";
            if (got && step.expected) {
                EXPECT_EQ(got->raw, step.expected->raw) << "step " << index;
                EXPECT_EQ(got->query, step.expected->query) << "step " << index;
            }
        }
        ++index;
    }
}

const QString e_acute_decomposed = QStringLiteral("e\u0301");

INSTANTIATE_TEST_SUITE_P(
    Transitions, TokenBufferScenario,
    ::testing::Values(
        Scenario{"freshTriggerOpensEmptyToken", {feed(":", tok(":"))}},
        Scenario{"clockTimeNeverOpens", silent(QStringLiteral("10:30"))},
        Scenario{"wordAfterResetGrows", concat({silent("xyz"), {reset()}, typed("smile")})},
        Scenario{"triggerRightAfterWordIgnored", silent(QStringLiteral("hello:"))},
        Scenario{"tabThenTriggerOpens", {feed("\t"), feed(":", tok(":"))}},
        Scenario{"newlineThenTriggerOpens", {feed("x"), feed("\n"), feed(":", tok(":"))}},
        Scenario{"crlfClusterThenTriggerOpens", {feed("x"), feed("\r\n"), feed(":", tok(":"))}},
        Scenario{"ideographicSpaceThenTriggerOpens", {feed("x"), feed("\u3000"), feed(":", tok(":"))}},
        Scenario{"plusOne", typed("+1")}, Scenario{"minusOne", typed("-1")},
        Scenario{"underscoreWord", typed("thumbs_up")}, Scenario{"precomposedAccent", typed("café")},
        Scenario{"decomposedAccentIsOneCharacter",
                 {feed(":", tok(":")), feed("caf", tok(":caf")),
                  feed(e_acute_decomposed, tok(":caf" + e_acute_decomposed))}},
        Scenario{"nonLatinLettersAndDigits", typed(QStringLiteral("ñandú٣"))},
        Scenario{"punctuationEndsTokenAndBlocksNextTrigger", concat({typed("smile"), silent("!:")})},
        Scenario{"emojiEndsToken", {feed(":", tok(":")), feed("a", tok(":a")), feed("👍"), feed("b")}},
        Scenario{"spaceTextEndsTokenButAllowsNextTrigger",
                 {feed(":", tok(":")), feed("a", tok(":a")), feed(" "), feed("b"), feed(" "),
                  feed(":", tok(":"))}},
        Scenario{"doubleTriggerStartsNewEmptyToken", {feed(":", tok(":")), feed(":", tok(":"))}},
        Scenario{"triggerInsideTokenRestarts",
                 {feed(":", tok(":")), feed("ab", tok(":ab")), feed(":", tok(":")), feed("c", tok(":c"))}},
        Scenario{"deleteShortensToken", {feed(":ab", tok(":ab")), back(tok(":a")), back(tok(":"))}},
        Scenario{"deleteTriggerThenTriggerReopens",
                 {feed("x"), feed(" "), feed(":", tok(":")), back(), feed(":", tok(":"))}},
        Scenario{"deleteOutsideTokenBlocksTrigger", {back(), feed(":")}},
        Scenario{"deleteAfterShortenedTokenKeepsTriggerRuleUnknown",
                 {feed(":ab", tok(":ab")), back(tok(":a")), feed("c", tok(":ac"))}},
        Scenario{"deleteRemovesWholeCluster",
                 {feed(":", tok(":")), feed("a", tok(":a")),
                  feed(e_acute_decomposed, tok(":a" + e_acute_decomposed)), back(tok(":a"))}},
        Scenario{"multiCharacterTextFedInOrder", {feed("x :sm", tok(":sm"))}},
        Scenario{"emptyTextChangesNothing", {feed(":", tok(":")), feed(""), feed("a", tok(":a"))}}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST(TokenBufferLength, queryOf64CharactersIsReportedAndThe65thDropsIt) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    ASSERT_TRUE(buffer.feed(QStringLiteral(":")));
    std::optional<ColonToken> last;
    for (int i = 0; i < 64; ++i)
        last = buffer.feed(QStringLiteral("a"));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->query, QString(64, QLatin1Char('a')));
    EXPECT_FALSE(buffer.feed(QStringLiteral("a")));
    EXPECT_TRUE(buffer.buffer().isEmpty());
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(QStringLiteral("a")));
    EXPECT_FALSE(buffer.feed(QStringLiteral(":"))) << "a letter precedes the trigger now";
}

TEST(TokenBufferLength, countsUserPerceivedCharactersNotCodeUnits) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    buffer.feed(QStringLiteral(":"));
    std::optional<ColonToken> last;
    for (int i = 0; i < 64; ++i)
        last = buffer.feed(QStringLiteral("e\u0301")); // two code units, one character
    ASSERT_TRUE(last) << "64 decomposed characters are still 64 characters";
    EXPECT_EQ(last->query.size(), 128);
    EXPECT_FALSE(buffer.feed(QStringLiteral("e\u0301")));
}

TEST(TokenBufferLength, combiningMarkFedAloneJoinsThePreviousCharacter) {
    TokenBuffer buffer([] { return QStringLiteral(":"); });
    buffer.feed(QStringLiteral(":"));
    for (int i = 0; i < 63; ++i)
        buffer.feed(QStringLiteral("a"));
    // The mark merges into the 63rd letter, so one more letter still fits.
    ASSERT_TRUE(buffer.feed(QStringLiteral("\u0301")));
    const auto at64 = buffer.feed(QStringLiteral("b"));
    ASSERT_TRUE(at64);
    EXPECT_TRUE(at64->query.endsWith(QStringLiteral("a\u0301b")));
    EXPECT_FALSE(buffer.feed(QStringLiteral("c")));
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
    buffer.feed(QStringLiteral(":"));
    buffer.feed(QStringLiteral("a"));
    buffer.deleteBackward();
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Unknown{}));
    buffer.deleteBackward(); // removes the trigger
    EXPECT_EQ(buffer.preceding(), TokenBuffer::Preceding(TokenBuffer::Boundary{}));
    EXPECT_TRUE(buffer.buffer().isEmpty());
}

TEST(TokenBufferTrigger, isReadFromTheProviderOnEveryCall) {
    QString trigger = QStringLiteral(":");
    int calls = 0;
    TokenBuffer buffer([&] {
        ++calls;
        return trigger;
    });
    buffer.feed(QStringLiteral(":"));
    ASSERT_EQ(buffer.feed(QStringLiteral("a")), tok(QStringLiteral(":a")));
    ASSERT_EQ(buffer.feed(QStringLiteral("b")), tok(QStringLiteral(":ab")));
    EXPECT_GT(calls, 0);

    trigger = QStringLiteral(";");
    EXPECT_FALSE(buffer.isTokenOpen());
    EXPECT_FALSE(buffer.feed(QStringLiteral("c"))) << "the open token began with the old trigger";
    EXPECT_FALSE(buffer.feed(QStringLiteral(";"))) << "preceded by a letter";
    buffer.reset();
    EXPECT_EQ(buffer.feed(QStringLiteral(";")), tok(QStringLiteral(";")));
    EXPECT_EQ(buffer.feed(QStringLiteral("x")), tok(QStringLiteral(";x")));
    EXPECT_FALSE(buffer.feed(QStringLiteral(":"))) << "the old trigger is an ordinary punctuation mark now";
}

TEST(TokenBufferTrigger, onlyTheFirstCharacterOfTheProvidedTextCounts) {
    TokenBuffer buffer([] { return QStringLiteral("#!"); });
    EXPECT_EQ(buffer.feed(QStringLiteral("#")), tok(QStringLiteral("#")));
    EXPECT_EQ(buffer.feed(QStringLiteral("a")), tok(QStringLiteral("#a")));
}

} // namespace

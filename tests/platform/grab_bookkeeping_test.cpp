#include "platform/grab_decisions.h"
#include "platform/grab_pairing.h"
#include "platform/own_event_ledger.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace pimsel;

namespace {

TEST(OwnEventLedger, RecognisesItsPressesOnAGrabbedKeyBeforeAndAfterTheRawEvent) {
    OwnEventLedger ledger;
    ledger.setSourceDevice(6);
    ledger.expect({{23, true}, {23, false}});
    EXPECT_TRUE(ledger.isOwnGrabbedPress(6, 23, 500)) << "grab event first: still announced";
    EXPECT_FALSE(ledger.isOwnGrabbedPress(9, 23, 500));
    EXPECT_FALSE(ledger.isOwnGrabbedPress(6, 24, 500));
    ASSERT_TRUE(ledger.takeRaw(6, 23, true, 500));
    EXPECT_TRUE(ledger.isOwnGrabbedPress(6, 23, 500)) << "raw event first: remembered by its time";
    ASSERT_TRUE(ledger.takeRaw(6, 23, false, 501));
    EXPECT_FALSE(ledger.isOwnGrabbedPress(6, 23, 777)) << "a later press of the same key is the user's";
}

// Raw events and grab events come on two connections in no shared order; each key must leave once,
// in the order it was typed, marked grabbed exactly when a grab holds it.
TEST(GrabPairing, KeysLeaveOnceInTypedOrderMarkedByTheirGrab) {
    using Clock = GrabPairing::Clock;
    QString left;
    GrabPairing pairing(
        [&](GrabPairing::Outgoing o) { left += o.event.text + (o.event.canSwallow ? "+" : "-"); });
    const auto key = [](const char* text) { return InputEvent::keyDown(KeyAction::text, text); };
    const Clock::time_point t0 = Clock::now();
    const KeyId a{3, 38, 100}, tab{3, 23, 101}, b{3, 56, 102}, ret{3, 36, 103}, esc{3, 9, 104};
    const auto never = [](int) { return false; };

    pairing.passRaw(a, key("a"), false);
    pairing.awaitGrab(tab, key("t"), t0 + grabPairing, false);
    pairing.passRaw(b, key("b"), false);
    EXPECT_EQ(left, "a-") << "a key awaiting its grab holds back the ones typed after it";
    EXPECT_EQ(pairing.nextDeadline(), t0 + grabPairing);
    ASSERT_TRUE(pairing.awaitsGrab(tab));
    EXPECT_TRUE(pairing.pairGrab(tab));
    EXPECT_EQ(left, "a-t+b-");
    EXPECT_FALSE(pairing.pairGrab(tab)) << "paired once";
    EXPECT_TRUE(pairing.takePassed(b)) << "a late grab of a passed key passes it on";
    EXPECT_FALSE(pairing.takePassed(b));

    pairing.grabbedFirst(ret, key("r"));
    EXPECT_EQ(left, "a-t+b-r+") << "a grab event ahead of its raw event leaves at once";
    EXPECT_TRUE(pairing.takeGrabbedFirst(ret)) << "its raw event goes by";
    EXPECT_FALSE(pairing.takeGrabbedFirst(ret));

    left.clear();
    pairing.awaitGrab(esc, key("e"), t0 + grabPairing, false);
    const Clock::time_point late = t0 + grabPairing + std::chrono::milliseconds(1);
    EXPECT_FALSE(pairing.overdue(t0, never));
    EXPECT_FALSE(pairing.overdue(late, [](int) { return true; }));
    pairing.handleDeadlines(late, [](int device) { return device == 3; });
    EXPECT_EQ(left, "") << "a frozen keyboard cannot send the grab event yet: the key waits on";
    EXPECT_EQ(pairing.nextDeadline(), late + grabPairing);
    const Clock::time_point later = late + grabPairing;
    EXPECT_TRUE(pairing.overdue(later, never));
    pairing.handleDeadlines(later, never);
    EXPECT_EQ(left, "e-") << "no grab came: the application has it";
    EXPECT_FALSE(pairing.nextDeadline());
    EXPECT_TRUE(pairing.takePassed(esc));
}

// Passing on what nobody claimed in time is the desktop hook scenario's stalled decision. Here: a
// claimed key waits for its decision past the time-out, the keyboard thaws once every key is
// decided, and a key stamped long before the server's newest event cannot be claimed.
TEST(GrabDecisions, AClaimedKeyWaitsForItsDecisionAndAStaleOneCannotBeClaimed) {
    const std::chrono::milliseconds timeout{200};
    GrabDecisions decisions(timeout);
    decisions.hold(3, 100);
    decisions.hold(3, 101);
    EXPECT_TRUE(decisions.claim(3, 101));
    EXPECT_FALSE(decisions.claim(3, 999));
    const auto expired =
        decisions.takeExpired(GrabDecisions::Clock::now() + timeout + std::chrono::milliseconds(1));
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(expired[0].time, 100u);
    EXPECT_FALSE(decisions.take(3, 100)) << "passed on by the time-out: too late to decide";
    EXPECT_TRUE(decisions.isFrozen(3));
    EXPECT_TRUE(decisions.take(3, 101));
    EXPECT_FALSE(decisions.isFrozen(3) || decisions.nextDeadline());

    decisions.learnServerTime(10'000);
    EXPECT_TRUE(decisions.isLate(10'000 - 1'000));
    decisions.hold(3, 9'000);
    EXPECT_FALSE(decisions.claim(3, 9'000)) << "typed too long ago to be taken";
}

} // namespace

#pragma once

// The application's desktop scenarios: Pimsel on a profile of its own, a target with the typist's
// focus, the keys the target receives counted.

#include "platform/atspi_client.h"
#include "platform/focus_context_provider.h"
#include "platform/frontmost_application.h"
#include "tests/e2e/support/desktop.h"
#include "tests/e2e/support/typist.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace pimsel::e2e {

using namespace std::chrono_literals;

// A person's quickest bursts: a faster typist outruns the grabs Pimsel arms key by key, and its keys
// reach the field untouched, as they should.
inline constexpr std::chrono::milliseconds userKeyDelay{30};

// What Pimsel asks the accessibility bus about the focus, asked the same way by the test.
struct FocusProbe {
    std::optional<uint> focusedRole() {
        const std::optional<AtspiRef> element = focus.focusedElement();
        QueryDeadline deadline(250);
        return element ? probe.role(deadline, *element) : std::nullopt;
    }
    FrontmostApplication frontmost;
    FocusContextProvider focus{frontmost.activeWindowSource()};
    AtspiClient probe{QStringLiteral("e2e-probe")};
};

class Typing : public testing::TestWithParam<TargetApp::Kind>, protected FocusProbe {
protected:
    void SetUp() override {
        ASSERT_TRUE(x.isOpen());
        profile.set(QStringLiteral("pimsel.acceptWithReturn"), false);
        app = std::make_unique<TargetApp>(GetParam(), targetArguments());
        ASSERT_TRUE(app->isReady()) << app->output().toStdString();
        // Pimsel's log says where the time went, should a step fail.
        QProcessEnvironment debug;
        debug.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("input.debug=true"));
        pimsel = std::make_unique<PimselProcess>(profile, debug);
        ASSERT_TRUE(pimsel->waitForHook()) << pimsel->output().toStdString();
        typist =
            std::make_unique<Typist>(onSessionKeyboard() ? Typist::Keyboard::core : Typist::Keyboard::own);
        ASSERT_TRUE(typist->isReady()) << typist->error();
        typist->setKeyDelay(userKeyDelay);
        ASSERT_TRUE(onSessionKeyboard() ? typist->activate(app->window()) : typist->focus(app->window()));
        // Firefox reads core key events, as Qt does: an XInput 2 watcher would take its keys away.
        x.watchKeys(app->window(),
                    GetParam() != TargetApp::Kind::qt && GetParam() != TargetApp::Kind::firefox);
        if (app->isBrowser()) {
            // Chromium shows its page once Pimsel asks; Firefox joins the bus seconds after its window.
            ASSERT_TRUE(pumpUntil(
                [&] {
                    const std::optional<uint> role = focusedRole();
                    return role == roleEntry || role == atspi::rolePasswordText;
                },
                10s))
                << "Pimsel never had the browser expose its page\n"
                << pimsel->output().toStdString();
        }
    }
    virtual QStringList targetArguments() const { return {}; }
    // Chromium takes no more keys from the session's own keyboard once a second master keyboard
    // has focused it, and Pimsel types on the session's keyboard: there the user does too.
    virtual bool onSessionKeyboard() const { return GetParam() == TargetApp::Kind::chromium; }
    void TearDown() override {
        // What Pimsel logged is the first thing to read when a step went wrong.
        if (HasFailure() && pimsel)
            std::printf("--- Pimsel's log\n%s\n---\n", pimsel->output().toUtf8().constData());
    }

    void type(const std::string& text) {
        whileUserTypes([&] { typist->type(text); });
    }
    void key(const std::string& combo) {
        whileUserTypes([&] { typist->key(combo); });
    }
    // The popover once it has come to rest. It follows the caret while the last keys are still
    // being read, so its first position can be a few characters behind; a user reads it, and aims
    // at it, where it stays.
    std::optional<QRect> waitForPopover(std::chrono::milliseconds patience = 3s) {
        std::optional<QRect> rect;
        QElapsedTimer still;
        still.start();
        pumpUntil(
            [&] {
                const std::optional<QRect> now = x.popover(pimsel->pid());
                if (now != rect) {
                    rect = now;
                    still.restart();
                }
                return rect.has_value() && still.elapsed() >= 150;
            },
            patience);
        return rect;
    }
    // The popover at rest right under the caret the field reports, starting where the caret does.
    std::optional<QRect> popoverUnderCaret() {
        const std::optional<QRect> popover = waitForPopover();
        const std::optional<QRect> caret = focus.caretRect();
        EXPECT_TRUE(popover && caret) << pimsel->output().toStdString();
        if (!popover || !caret)
            return std::nullopt;
        EXPECT_NEAR(popover->top(), caret->y() + caret->height() + 6, 1)
            << "caret " << caret->y() << "+" << caret->height() << ", popover at " << popover->top();
        EXPECT_NEAR(popover->left(), caret->left(), 30);
        return popover;
    }
    // Keys typed while an insertion is still in flight (until the clipboard is back) pass untouched.
    static void settle() { pump(500ms); }
    bool popoverGone() {
        return pumpUntil([&] { return !x.popover(pimsel->pid()); }, 3s);
    }
    // The field reads `text`, at once or within a few seconds.
    testing::AssertionResult shows(const QString& text) {
        const QString now = app->waitForText(text);
        if (now == text)
            return testing::AssertionSuccess();
        return testing::AssertionFailure()
               << "the field reads \"" << now.toStdString() << "\", not \"" << text.toStdString() << '"';
    }
    // The user types `keys`, which the field shows as `shown` after what it held (`expected`).
    testing::AssertionResult typed(const std::string& keys, const QString& shown) {
        type(keys);
        expected += shown;
        return shows(expected);
    }
    // A fast typist: 20 rounds of "hello :tada:" and ":smi" Tab at 10 ms a key, each replaced.
    testing::AssertionResult typedInBursts() {
        const QString smile = profile.topResult(QStringLiteral("smi"));
        typist->setKeyDelay(10ms);
        for (int round = 0; round < 20; ++round) {
            for (const auto& [keys, shown] : {std::pair<std::string, QString>{" hello :tada:", " hello 🎉"},
                                              {" :smi\t", QStringLiteral(" ") + smile}}) {
                if (testing::AssertionResult result = typed(keys, shown); !result)
                    return result << " (round " << round << ")";
                settle();
            }
        }
        return testing::AssertionSuccess();
    }

    XView x;
    Profile profile;
    std::unique_ptr<TargetApp> app;
    std::unique_ptr<PimselProcess> pimsel;
    std::unique_ptr<Typist> typist;
    QString expected; // what the field should read
};

} // namespace pimsel::e2e

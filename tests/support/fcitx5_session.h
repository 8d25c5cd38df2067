#pragma once

// fcitx5 in this process with its test frontend, its test input method and the module built here; no
// display, no bus. Each input context is a text field that takes what reaches it (commits, and the
// keys the input method is handed) and reports it back as surrounding text, as toolkit clients do.

#include <fcitx-utils/testing.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputpanel.h>
#include <fcitx/instance.h>
#include <testfrontend_public.h>
#include <testim_public.h>

#include <cstdlib>
#include <map>
#include <utility>

namespace pimsel::testing {

class Fcitx5Session {
public:
    struct Field {
        fcitx::ICUUID uuid;
        std::string text;
        bool touched = false; // the module showed a preedit or candidates at some point
        bool masked = false;  // reports bullets for its text, as some password fields do
        bool lagging = false; // reports its text one change late, as asynchronous clients can
        std::string reported;
    };

    // `configHome` becomes XDG_CONFIG_HOME, where the module finds the settings file.
    explicit Fcitx5Session(const std::string& configHome) {
        fcitx::setupTestingEnvironment(PIMSEL_FCITX5_DIR, {"lib"}, {"share/fcitx5"});
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        static char args[][48] = {"fcitx5", "--disable=all", "--enable=testim,testfrontend,pimsel",
                                  "--verbose=*=3"};
        static char* argv[] = {args[0], args[1], args[2], args[3]};
        m_instance = std::make_unique<fcitx::Instance>(4, argv);
        m_instance->addonManager().registerDefaultLoader(nullptr);
        m_instance->initialize();
        m_frontend = m_instance->addonManager().addon("testfrontend");
        m_commits = m_instance->watchEvent(fcitx::EventType::InputContextCommitString,
                                           fcitx::EventWatcherPhase::Default, [this](fcitx::Event& event) {
                                               auto& commit = static_cast<fcitx::CommitStringEvent&>(event);
                                               m_fields[commit.inputContext()].text += commit.text();
                                               report(*commit.inputContext());
                                           });
        m_instance->addonManager().addon("testim")->call<fcitx::ITestIM::setHandler>(
            [this](const fcitx::InputMethodEntry&, fcitx::KeyEvent& event) {
                event.filterAndAccept();
                std::string& text = m_fields[event.inputContext()].text;
                if (event.isRelease() || event.key().hasModifier())
                    return;
                if (event.key().check(FcitxKey_BackSpace) && !text.empty())
                    text.erase(fcitx::utf8::ncharByteLength(text.begin(), fcitx::utf8::length(text) - 1));
                else if (const uint32_t scalar = fcitx::Key::keySymToUnicode(event.key().sym());
                         scalar >= 0x20)
                    text += fcitx::utf8::UCS4ToUTF8(scalar);
                report(*event.inputContext());
            });
    }

    // A new field of `program`, focused on its first key.
    fcitx::InputContext& open(const std::string& program, bool password = false, bool masked = false,
                              bool lagging = false) {
        const fcitx::ICUUID uuid = m_frontend->call<fcitx::ITestFrontend::createInputContext>(program);
        fcitx::InputContext& ic = *m_instance->inputContextManager().findByUUID(uuid);
        fcitx::CapabilityFlags flags{fcitx::CapabilityFlag::Preedit};
        flags |= fcitx::CapabilityFlag::SurroundingText;
        ic.setCapabilityFlags(password ? flags | fcitx::CapabilityFlag::Password : flags);
        m_fields[&ic].uuid = uuid;
        m_fields[&ic].masked = masked;
        m_fields[&ic].lagging = lagging;
        return ic;
    }

    // Text as typed, a key name in braces for any other key: ":smi{Down}{Return}".
    void type(fcitx::InputContext& ic, const std::string& keys) {
        for (std::size_t at = 0, next; at < keys.size(); at = next) {
            next = keys[at] == '{' ? keys.find('}', at) + 1 : at + fcitx::utf8::ncharByteLength(&keys[at], 1);
            press(ic, keys[at] == '{' ? fcitx::Key(keys.substr(at + 1, next - at - 2))
                                      : fcitx::Key(fcitx::Key::keySymFromUnicode(
                                            fcitx::utf8::getChar(keys.substr(at, next - at)))));
        }
    }

    void keyDown(fcitx::InputContext& ic, const fcitx::Key& key) { send(ic, key, false); }
    void keyUp(fcitx::InputContext& ic, const fcitx::Key& key) { send(ic, key, true); }
    void press(fcitx::InputContext& ic, const fcitx::Key& key) {
        keyDown(ic, key);
        keyUp(ic, key);
        m_fields[&ic].touched |= !ic.inputPanel().clientPreedit().empty() || ic.inputPanel().candidateList();
    }

    const Field& field(fcitx::InputContext& ic) { return m_fields[&ic]; }
    fcitx::AddonInstance& module() { return *m_instance->addonManager().addon("pimsel"); }

private:
    void send(fcitx::InputContext& ic, const fcitx::Key& key, bool release) {
        m_frontend->call<fcitx::ITestFrontend::keyEvent>(m_fields[&ic].uuid, key, release);
    }

    // The caret stays at the end of the field.
    void report(fcitx::InputContext& ic) {
        Field& field = m_fields[&ic];
        const std::string shown = field.lagging ? std::exchange(field.reported, field.text) : field.text;
        const auto length = static_cast<unsigned int>(fcitx::utf8::length(shown));
        std::string bullets;
        for (unsigned int i = 0; i < length; ++i)
            bullets += "\u25CF";
        ic.surroundingText().setText(field.masked ? bullets : shown, length, length);
        ic.updateSurroundingText();
    }

    std::unique_ptr<fcitx::Instance> m_instance;
    fcitx::AddonInstance* m_frontend = nullptr;
    std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> m_commits;
    std::map<fcitx::InputContext*, Field> m_fields;
};

} // namespace pimsel::testing

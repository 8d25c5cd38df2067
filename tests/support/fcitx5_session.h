#pragma once

// fcitx5 in this process, with its test frontend and test input method and the module built here:
// nothing draws, nothing needs a display or a bus. Each input context stands for one text field
// that takes in what reaches it (commits and the keys the input method is handed) and reports it
// back as surrounding text, as toolkit clients do.

#include <fcitx-utils/key.h>
#include <fcitx-utils/testing.h>
#include <fcitx-utils/utf8.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputcontextmanager.h>
#include <fcitx/inputpanel.h>
#include <fcitx/instance.h>
#include <fcitx/surroundingtext.h>
#include <testfrontend_public.h>
#include <testim_public.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pimsel::testing {

class Fcitx5Session {
public:
    struct Field {
        std::u32string text;
        bool touched = false; // the module showed a preedit or candidates at some point
    };

    // `configHome` becomes XDG_CONFIG_HOME, where the module finds the settings file.
    explicit Fcitx5Session(const std::string& configHome) {
        fcitx::setupTestingEnvironment(PIMSEL_FCITX5_DIR, {"lib"}, {"share/fcitx5"});
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        static char arg0[] = "pimsel-fcitx5", arg1[] = "--disable=all",
                    arg2[] = "--enable=testim,testfrontend,pimsel", arg3[] = "--verbose=*=3";
        static char* argv[] = {arg0, arg1, arg2, arg3};
        m_instance = std::make_unique<fcitx::Instance>(4, argv);
        m_instance->addonManager().registerDefaultLoader(nullptr);
        m_instance->initialize();
        m_frontend = m_instance->addonManager().addon("testfrontend");
        m_commits = m_instance->watchEvent(fcitx::EventType::InputContextCommitString,
                                           fcitx::EventWatcherPhase::Default, [this](fcitx::Event& event) {
                                               auto& commit = static_cast<fcitx::CommitStringEvent&>(event);
                                               insert(*commit.inputContext(), commit.text());
                                           });
        m_instance->addonManager().addon("testim")->call<fcitx::ITestIM::setHandler>(
            [this](const fcitx::InputMethodEntry&, fcitx::KeyEvent& event) {
                if (event.isRelease())
                    return;
                event.filterAndAccept();
                fcitx::InputContext& ic = *event.inputContext();
                if (event.key().check(FcitxKey_BackSpace)) {
                    std::u32string& text = m_fields[&ic].text;
                    if (!text.empty())
                        text.pop_back();
                    report(ic);
                    return;
                }
                const uint32_t scalar = fcitx::Key::keySymToUnicode(event.key().sym());
                if (scalar >= 0x20 && !event.key().hasModifier())
                    insert(ic, fcitx::utf8::UCS4ToUTF8(scalar));
            });
        ready = m_instance->addonManager().addon("pimsel") != nullptr;
    }

    // A new field of `program`, focused on its first key.
    fcitx::InputContext& open(const std::string& program, bool password = false) {
        const fcitx::ICUUID uuid = m_frontend->call<fcitx::ITestFrontend::createInputContext>(program);
        fcitx::InputContext& ic = *m_instance->inputContextManager().findByUUID(uuid);
        fcitx::CapabilityFlags flags(fcitx::CapabilityFlag::Preedit);
        flags |= fcitx::CapabilityFlag::SurroundingText;
        if (password)
            flags |= fcitx::CapabilityFlag::Password;
        ic.setCapabilityFlags(flags);
        m_uuids[&ic] = uuid;
        report(ic);
        return ic;
    }

    // Text as typed, a key name in braces for any other key: ":smi{Down}{Return}".
    void type(fcitx::InputContext& ic, const std::string& keys) {
        for (std::size_t at = 0; at < keys.size();) {
            fcitx::Key key;
            if (keys[at] == '{') {
                const std::size_t close = keys.find('}', at);
                key = fcitx::Key(keys.substr(at + 1, close - at - 1));
                at = close + 1;
            } else {
                const std::size_t length = fcitx::utf8::ncharByteLength(keys.begin() + at, 1);
                const uint32_t scalar = fcitx::utf8::getChar(keys.substr(at, length));
                key = fcitx::Key(fcitx::Key::keySymFromUnicode(scalar));
                at += length;
            }
            press(ic, key);
        }
    }

    void keyDown(fcitx::InputContext& ic, const fcitx::Key& key) {
        m_frontend->call<fcitx::ITestFrontend::keyEvent>(m_uuids.at(&ic), key, false);
    }

    void keyUp(fcitx::InputContext& ic, const fcitx::Key& key) {
        m_frontend->call<fcitx::ITestFrontend::keyEvent>(m_uuids.at(&ic), key, true);
    }

    void press(fcitx::InputContext& ic, const fcitx::Key& key) {
        keyDown(ic, key);
        keyUp(ic, key);
        Field& field = m_fields[&ic];
        field.touched |=
            !ic.inputPanel().clientPreedit().toString().empty() || ic.inputPanel().candidateList() != nullptr;
    }

    const Field& field(fcitx::InputContext& ic) { return m_fields[&ic]; }
    std::string text(fcitx::InputContext& ic) { return toUtf8(m_fields[&ic].text); }
    std::string preedit(fcitx::InputContext& ic) { return ic.inputPanel().clientPreedit().toString(); }

    void close(fcitx::InputContext& ic) {
        m_fields.erase(&ic);
        m_frontend->call<fcitx::ITestFrontend::destroyInputContext>(m_uuids.at(&ic));
        m_uuids.erase(&ic);
    }

    bool ready = false; // the module loaded

private:
    static std::string toUtf8(const std::u32string& text) {
        std::string result;
        for (char32_t scalar : text)
            result += fcitx::utf8::UCS4ToUTF8(scalar);
        return result;
    }

    // The caret stays at the end of the field.
    void insert(fcitx::InputContext& ic, const std::string& text) {
        for (uint32_t scalar : fcitx::utf8::MakeUTF8CharRange(text))
            m_fields[&ic].text.push_back(scalar);
        report(ic);
    }

    void report(fcitx::InputContext& ic) {
        const std::string text = toUtf8(m_fields[&ic].text);
        const auto length = static_cast<unsigned int>(m_fields[&ic].text.size());
        ic.surroundingText().setText(text, length, length);
        ic.updateSurroundingText();
    }

    std::unique_ptr<fcitx::Instance> m_instance;
    fcitx::AddonInstance* m_frontend = nullptr;
    std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>> m_commits;
    std::map<fcitx::InputContext*, Field> m_fields;
    std::map<fcitx::InputContext*, fcitx::ICUUID> m_uuids;
};

} // namespace pimsel::testing

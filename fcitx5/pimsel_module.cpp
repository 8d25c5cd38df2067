#include "fcitx5/pimsel_module.h"

#include "engine/activation_policy.h"
#include "engine/settings_location.h"
#include "fcitx5/field_context.h"
#include "fcitx5/profile.h"
#include "platform/key_mapping.h"

#include <dbus_public.h>
#include <fcitx/addonfactory.h>
#include <fcitx/addonmanager.h>
#include <fcitx/inputcontext.h>
#include <fcitx/inputcontextmanager.h>

#include <cstring>

namespace pimsel::fcitx5 {

namespace {

Modifiers modifiersOf(fcitx::KeyStates states) {
    Modifiers result;
    if (states.test(fcitx::KeyState::Shift))
        result |= Modifier::shift;
    if (states.test(fcitx::KeyState::Ctrl))
        result |= Modifier::control;
    if (states.test(fcitx::KeyState::Alt))
        result |= Modifier::alt;
    if (states.test(fcitx::KeyState::Super) || states.test(fcitx::KeyState::Super2))
        result |= Modifier::super;
    return result;
}

} // namespace

PimselModule::PimselModule(fcitx::Instance* instance)
    : m_instance(instance)
    , m_profile(std::make_shared<Profile>(settingsFilePath()))
    , m_slots([](fcitx::InputContext&) { return new EditorSlot; }) {
    m_instance->inputContextManager().registerProperty("pimselEditor", &m_slots);
    m_watchers.push_back(m_instance->watchEvent(
        fcitx::EventType::InputContextKeyEvent, fcitx::EventWatcherPhase::PreInputMethod,
        [this](fcitx::Event& event) { keyEvent(static_cast<fcitx::KeyEvent&>(event)); }));
    m_watchers.push_back(m_instance->watchEvent(
        fcitx::EventType::InputContextFocusIn, fcitx::EventWatcherPhase::Default,
        [this](fcitx::Event& event) {
            refreshProfile();
            m_browser->focused(*static_cast<fcitx::InputContextEvent&>(event).inputContext());
        }));
    const auto left = [this](fcitx::Event& event) {
        fieldLeft(*static_cast<fcitx::InputContextEvent&>(event).inputContext());
    };
    for (const fcitx::EventType type :
         {fcitx::EventType::InputContextFocusOut, fcitx::EventType::InputContextReset,
          fcitx::EventType::InputContextSwitchInputMethod}) {
        m_watchers.push_back(m_instance->watchEvent(type, fcitx::EventWatcherPhase::Default, left));
    }
    // Without the bus (fcitx5 started without it) the desktop application cannot know about us and
    // keeps its own hook: on X11 a shortcode may then be handled twice, which the user can see.
    if (fcitx::AddonInstance* dbus = m_instance->addonManager().addon("dbus", true))
        m_bus = dbus->call<fcitx::IDBusModule::bus>();
    if (m_bus && !m_bus->requestName(inputMethodBusName().toStdString(),
                                     fcitx::Flags<fcitx::dbus::RequestNameFlag>(0)))
        FCITX_WARN() << "Pimsel: cannot take the bus name " << inputMethodBusName().toStdString();
    m_browser = std::make_unique<BrowserRequests>(*m_instance, m_bus);
}

PimselModule::~PimselModule() {
    if (m_bus)
        m_bus->releaseName(inputMethodBusName().toStdString());
}

void PimselModule::keyEvent(fcitx::KeyEvent& event) {
    if (event.isRelease())
        return;
    fcitx::InputContext& ic = *event.inputContext();
    const fcitx::Key& key = event.key();
    const std::optional<InputEvent> read = keyDownEvent(
        key.sym(), QString::fromStdString(fcitx::Key::keySymToUTF8(key.sym())), modifiersOf(key.states()));
    if (!read)
        return;
    if (m_browser->typesAhead(ic)) {
        m_browser->typeAhead(ic, read->action, read->text);
        event.filterAndAccept();
        return;
    }
    ShortcodeEditor& editor = editorFor(ic);
    FieldContext field(ic);
    const AppExclusionManager& exclusions = m_profile->exclusions();
    const ActivationPolicy policy(m_profile->settings(), exclusions, field);
    if (policy.applicationVerdict(field.applicationId()) != ActivationPolicy::Verdict::active ||
        field.isSecureFieldFocused()) {
        editor.abandon(ic, true);
        return;
    }
    if (editor.handleKey(ic, read->action, read->text))
        event.filterAndAccept();
}

void PimselModule::fieldLeft(fcitx::InputContext& ic) {
    m_browser->left(ic);
    EditorSlot* slot = ic.propertyFor(&m_slots);
    if (!slot->editor)
        return;
    // The toolkits' own modules over D-Bus commit the preedit themselves when the focus leaves:
    // committing it here too would type the shortcode twice.
    const bool clientKeepsPreedit = std::strcmp(ic.frontend(), "dbus") == 0;
    slot->editor->abandon(ic, !clientKeepsPreedit);
}

void PimselModule::pick(fcitx::InputContext& ic, int row) {
    editorFor(ic).pick(ic, row);
}

ShortcodeEditor& PimselModule::editorFor(fcitx::InputContext& ic) {
    EditorSlot* slot = ic.propertyFor(&m_slots);
    if (!slot->editor || (slot->editor->profile() != m_profile.get() && !slot->editor->isTokenOpen())) {
        slot->editor = std::make_unique<ShortcodeEditor>(
            m_profile, [this](fcitx::InputContext& context, int row) { pick(context, row); },
            [this](fcitx::InputContext& context, const QString& firstTrigger, const QString& typed) {
                m_browser->open(context, firstTrigger.toStdString(), typed.toStdString());
            });
    }
    return *slot->editor;
}

void PimselModule::refreshProfile() {
    if (m_profile->isStale())
        m_profile = std::make_shared<Profile>(settingsFilePath());
}

class PimselModuleFactory : public fcitx::AddonFactory {
public:
    fcitx::AddonInstance* create(fcitx::AddonManager* manager) override {
        return new PimselModule(manager->instance());
    }
};

} // namespace pimsel::fcitx5

FCITX_ADDON_FACTORY(pimsel::fcitx5::PimselModuleFactory);

#pragma once

#include "fcitx5/browser_requests.h"
#include "fcitx5/pimsel_public.h"
#include "fcitx5/shortcode_editor.h"

#include <fcitx-utils/dbus/bus.h>
#include <fcitx-utils/handlertable.h>
#include <fcitx/addoninstance.h>
#include <fcitx/event.h>
#include <fcitx/inputcontextproperty.h>
#include <fcitx/instance.h>

#include <memory>
#include <vector>

namespace pimsel::fcitx5 {

class Profile;

// Colon shortcodes in every input context, whatever input method is active: each key reaches this
// module before the input method does.
class PimselModule : public fcitx::AddonInstance {
public:
    explicit PimselModule(fcitx::Instance* instance);
    ~PimselModule() override;

    // The desktop application's answers to the double trigger, over the bus or from another addon.
    void browserPicked(std::uint32_t request, const std::string& emoji) { m_browser->picked(request, emoji); }
    void browserDismissed(std::uint32_t request) { m_browser->dismissed(request); }
    void setBrowserOpener(BrowserOpener opener) { m_browser->setOpener(std::move(opener)); }

private:
    struct EditorSlot : fcitx::InputContextProperty {
        std::unique_ptr<ShortcodeEditor> editor;
    };

    void keyEvent(fcitx::KeyEvent& event);
    // The focus left the field or the client reset it: an open shortcode ends there.
    void fieldLeft(fcitx::InputContext& ic);
    void pick(fcitx::InputContext& ic, int row);
    // The editor of `ic`, made anew for the current profile unless a shortcode is open in it.
    ShortcodeEditor& editorFor(fcitx::InputContext& ic);
    // Reads the settings file again when it changed: cheap enough for every focus change.
    void refreshProfile();

    fcitx::Instance* m_instance;
    // The session bus, where holding our name tells the desktop application to leave keys to us.
    fcitx::dbus::Bus* m_bus = nullptr;
    std::unique_ptr<BrowserRequests> m_browser;
    std::shared_ptr<Profile> m_profile;
    fcitx::FactoryFor<EditorSlot> m_slots;
    std::vector<std::unique_ptr<fcitx::HandlerTableEntry<fcitx::EventHandler>>> m_watchers;

    FCITX_ADDON_EXPORT_FUNCTION(PimselModule, browserPicked);
    FCITX_ADDON_EXPORT_FUNCTION(PimselModule, browserDismissed);
    FCITX_ADDON_EXPORT_FUNCTION(PimselModule, setBrowserOpener);
};

} // namespace pimsel::fcitx5

#pragma once

// What the module offers other addons, and the desktop application's answers as fcitx5 calls them.

#include <fcitx/addoninstance.h>

#include <cstdint>
#include <functional>
#include <string>

namespace pimsel::fcitx5 {
// Asks the desktop application to open its emoji browser for `request`; `answered(false)` when it
// cannot be asked. The session bus is the default.
using BrowserOpener = std::function<void(std::uint32_t request, std::function<void(bool)> answered)>;
} // namespace pimsel::fcitx5

FCITX_ADDON_DECLARE_FUNCTION(PimselModule, browserPicked, void(std::uint32_t, const std::string&));
FCITX_ADDON_DECLARE_FUNCTION(PimselModule, browserDismissed, void(std::uint32_t));
FCITX_ADDON_DECLARE_FUNCTION(PimselModule, setBrowserOpener, void(pimsel::fcitx5::BrowserOpener));

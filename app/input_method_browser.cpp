#include "app/input_method_browser.h"

#include "engine/emoji_store.h"
#include "engine/panel_keys.h"
#include "engine/settings_location.h"
#include "engine/settings_store.h"
#include "ui/emoji_browser_window_controller.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace pimsel {

InputMethodBrowser::InputMethodBrowser(EmojiBrowserWindowController& browser, EmojiStore& store,
                                       const SettingsStore& settings, QObject* parent)
    : QObject(parent)
    , m_browser(browser)
    , m_store(store)
    , m_settings(settings) {}

bool InputMethodBrowser::publish() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerObject(QLatin1String(browser_bus::applicationPath),
                              QLatin1String(browser_bus::applicationInterface), this,
                              QDBusConnection::ExportScriptableSlots) &&
           bus.registerService(QLatin1String(browser_bus::applicationName));
}

void InputMethodBrowser::OpenBrowser(uint request) {
    // The module that asked gets the answer, even should another take the well-known name meanwhile.
    const QString module = message().service();
    m_request = request;
    m_browser.showForInputMethod(
        m_store.entries(),
        EmojiBrowserCallbacks{
            [this, module, request](const EmojiEntry& entry) {
                // The tone the browser's own picks get: the user's default, where the emoji takes one.
                const SkinTone tone = acceptsSkinTone(entry) ? m_settings.skinTone() : SkinTone::yellow;
                tell(module, QStringLiteral("Picked"),
                     {request, applySkinTone(tone, entry.emoji, entry.supportsSkinTones)});
                m_store.recordUse(entry.emoji);
            },
            [this, module, request] { tell(module, QStringLiteral("Dismissed"), {request}); }});
}

void InputMethodBrowser::TypeAhead(uint request, uint action, const QString& text) {
    if (request != m_request || m_browser.isFinishing() || action >= keyActionCount)
        return;
    panel_keys::route(m_browser.model(), static_cast<KeyAction>(action), text, /*tabPicks=*/false);
}

void InputMethodBrowser::tell(const QString& module, const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(module, QLatin1String(browser_bus::inputMethodPath),
                                       QLatin1String(browser_bus::inputMethodInterface), method);
    call.setArguments(arguments);
    // Sent without waiting: the module commits when its field has the focus, whatever the reply.
    QDBusConnection::sessionBus().send(call);
}

} // namespace pimsel

#pragma once

#include <QDBusContext>
#include <QObject>
#include <QVariantList>

namespace pimsel {

class EmojiBrowserWindowController;
class EmojiStore;
class SettingsStore;

// The emoji browser as the input-method module asks for it over the session bus: the double
// trigger typed in a field fcitx5 serves opens it, and the pick or the dismissal goes back to the
// module, which commits into that field. Nothing is typed from here.
class InputMethodBrowser : public QObject, protected QDBusContext {
    Q_OBJECT

public:
    InputMethodBrowser(EmojiBrowserWindowController& browser, EmojiStore& store,
                       const SettingsStore& settings, QObject* parent = nullptr);

    // Offers OpenBrowser under the application's name; false when the bus refuses.
    bool publish();

public Q_SLOTS:
    // Answers at once; the pick or the dismissal follows as a call to the module.
    Q_SCRIPTABLE void OpenBrowser(uint request);
    // A key typed in the field after the browser showed, before its window had the keyboard: the
    // engine's KeyAction and the text typed.
    Q_SCRIPTABLE void TypeAhead(uint request, uint action, const QString& text);

private:
    void tell(const QString& module, const QString& method, const QVariantList& arguments);

    EmojiBrowserWindowController& m_browser;
    EmojiStore& m_store;
    const SettingsStore& m_settings;
    uint m_request = 0; // the one the browser shows for
};

} // namespace pimsel

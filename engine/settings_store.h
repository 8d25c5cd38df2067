#pragma once

#include "engine/emoji_entry.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

class QSettings;

namespace pimsel {

struct CustomAlias {
    QUuid id;
    QString alias;
    QString emoji;
    bool operator==(const CustomAlias&) const = default;
};

// The system's launch-at-login mechanism (an XDG autostart entry on Linux).
class LoginItemManaging {
public:
    virtual ~LoginItemManaging() = default;
    virtual bool isRegistered() const = 0;
    virtual bool registerItem() = 0;   // false on failure
    virtual bool unregisterItem() = 0; // false on failure
};

// Every user preference, loaded at construction, written through on each assignment that
// changes what the file says (an unchanged value is not written: QSettings would rewrite the
// whole file for it), and published through one NOTIFY signal per property plus the
// store-wide `changed`, also for an unchanged value.
class SettingsStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(bool acceptWithTab READ acceptWithTab WRITE setAcceptWithTab NOTIFY acceptWithTabChanged)
    Q_PROPERTY(
        bool acceptWithReturn READ acceptWithReturn WRITE setAcceptWithReturn NOTIFY acceptWithReturnChanged)
    Q_PROPERTY(bool showImmediatelyAfterColon READ showImmediatelyAfterColon WRITE
                   setShowImmediatelyAfterColon NOTIFY showImmediatelyAfterColonChanged)
    Q_PROPERTY(bool replaceOnClosingColon READ replaceOnClosingColon WRITE setReplaceOnClosingColon NOTIFY
                   replaceOnClosingColonChanged)
    Q_PROPERTY(bool openBrowserOnDoubleTrigger READ openBrowserOnDoubleTrigger WRITE
                   setOpenBrowserOnDoubleTrigger NOTIFY openBrowserOnDoubleTriggerChanged)
    Q_PROPERTY(bool stickerCommandEnabled READ stickerCommandEnabled WRITE setStickerCommandEnabled NOTIFY
                   stickerCommandEnabledChanged)
    Q_PROPERTY(bool giphyCommandEnabled READ giphyCommandEnabled WRITE setGiphyCommandEnabled NOTIFY
                   giphyCommandEnabledChanged)
    Q_PROPERTY(QString triggerKey READ triggerKey WRITE setTriggerKey NOTIFY triggerKeyChanged)
    Q_PROPERTY(QStringList disabledApps READ disabledAppsList NOTIFY disabledAppsChanged)
    Q_PROPERTY(QStringList disabledWebsites READ disabledWebsitesList NOTIFY disabledWebsitesChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY changed)

public:
    static const QStringList allowedTriggerKeys; // ":", ";", "/", "\\", "@", "#", "~", "|"

    // `defaults` is not owned and must outlive the store. `loginItems` may be null (no login mechanism).
    explicit SettingsStore(QSettings* defaults, LoginItemManaging* loginItems = nullptr,
                           QObject* parent = nullptr);

    QSettings* defaults() const { return m_defaults; }

    bool enabled() const { return m_enabled; }
    bool acceptWithTab() const { return m_acceptWithTab; }
    bool acceptWithReturn() const { return m_acceptWithReturn; }
    bool showImmediatelyAfterColon() const { return m_showImmediatelyAfterColon; }
    bool replaceOnClosingColon() const { return m_replaceOnClosingColon; }
    bool openBrowserOnDoubleTrigger() const { return m_openBrowserOnDoubleTrigger; }
    bool stickerCommandEnabled() const { return m_stickerCommandEnabled; }
    bool giphyCommandEnabled() const { return m_giphyCommandEnabled; }
    QString triggerKey() const { return m_triggerKey; }
    const QSet<QString>& disabledApps() const { return m_disabledApps; }
    const QSet<QString>& disabledWebsites() const { return m_disabledWebsites; }
    QStringList disabledAppsList() const;
    QStringList disabledWebsitesList() const;
    const QList<CustomAlias>& customAliases() const { return m_customAliases; }
    SkinTone skinTone() const { return m_skinTone; }

    // The trigger character the token buffer and coordinator use: first character of
    // `triggerKey`, or ":" when that is empty.
    QString triggerCharacter() const;

    void setEnabled(bool value);
    void setAcceptWithTab(bool value);
    void setAcceptWithReturn(bool value);
    void setShowImmediatelyAfterColon(bool value);
    void setReplaceOnClosingColon(bool value);
    void setOpenBrowserOnDoubleTrigger(bool value);
    void setStickerCommandEnabled(bool value);
    void setGiphyCommandEnabled(bool value);
    void setTriggerKey(const QString& value);
    void setDisabledApps(const QSet<QString>& value);
    void setDisabledWebsites(const QSet<QString>& value);
    void setCustomAliases(const QList<CustomAlias>& value);
    void setSkinTone(SkinTone value);

    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);

    static bool isValidTrigger(const QString& value);

Q_SIGNALS:
    void enabledChanged(bool value);
    void acceptWithTabChanged(bool value);
    void acceptWithReturnChanged(bool value);
    void showImmediatelyAfterColonChanged(bool value);
    void replaceOnClosingColonChanged(bool value);
    void openBrowserOnDoubleTriggerChanged(bool value);
    void stickerCommandEnabledChanged(bool value);
    void giphyCommandEnabledChanged(bool value);
    void triggerKeyChanged(const QString& value);
    void disabledAppsChanged();
    void disabledWebsitesChanged();
    void customAliasesChanged();
    void skinToneChanged(pimsel::SkinTone value);
    // Store-wide: after any assignment, and after setLaunchAtLogin.
    void changed();

private:
    void storeValue(const char* key, const QVariant& value);
    // One switch: assign, write through, publish.
    void assignSwitch(bool& field, const char* key, bool value, void (SettingsStore::*notify)(bool));

    QSettings* m_defaults;
    LoginItemManaging* m_loginItems;
    bool m_enabled = true;
    bool m_acceptWithTab = true;
    bool m_acceptWithReturn = true;
    bool m_showImmediatelyAfterColon = false;
    bool m_replaceOnClosingColon = true;
    bool m_openBrowserOnDoubleTrigger = true;
    bool m_stickerCommandEnabled = true;
    bool m_giphyCommandEnabled = true;
    QString m_triggerKey = QStringLiteral(":");
    QSet<QString> m_disabledApps;
    QSet<QString> m_disabledWebsites;
    QList<CustomAlias> m_customAliases;
    SkinTone m_skinTone = SkinTone::yellow;
};

} // namespace pimsel

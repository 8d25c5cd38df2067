#pragma once

#include "engine/settings_store.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace pimsel {

// Launch at login through a freedesktop autostart entry:
// $XDG_CONFIG_HOME/autostart/pimsel.desktop (~/.config/autostart when unset).
class XdgAutostart : public LoginItemManaging {
public:
    // `programPath` is what the entry starts; empty means the running binary.
    explicit XdgAutostart(QString programPath = {});

    // The entry counts only when it starts this program and the session has not hidden it
    // (desktops switch an entry off by writing Hidden=true into it).
    bool isRegistered() const override;
    bool registerItem() override;
    bool unregisterItem() override;

    QString entryPath() const; // looked up on each call, so XDG_CONFIG_HOME may change
    QString programPath() const { return m_programPath; }

    // The entry's text; Exec quotes and escapes the program path as desktop entries require.
    QByteArray entryText() const;

    // One argument of an Exec line, quoted when it holds reserved characters (before the
    // string-value escaping that every desktop-entry value gets).
    static QString quoteExecArgument(const QString& argument);
    // The arguments of an Exec value as written in the file; nothing when malformed.
    static std::optional<QStringList> splitExecValue(const QString& rawValue);

private:
    QString m_programPath;
};

} // namespace pimsel

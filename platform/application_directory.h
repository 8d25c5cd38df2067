#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

namespace pimsel {

class DesktopEntryIndex;

// An application the user can switch Pimsel off in, as the preferences show it.
struct DisableableApp {
    QString id; // the identifier the frontmost-application lookup yields
    QString name;
    QString iconName; // a theme icon name or a file path; empty when the application names none
};

// Where the preferences learn which applications exist and what they are called.
class ApplicationDirectory {
public:
    virtual ~ApplicationDirectory() = default;
    // One entry per top-level window of another process, in no particular order.
    virtual QList<DisableableApp> running() const = 0;
    // The installed applications a user would start from a menu.
    virtual QList<DisableableApp> installed() const = 0;
    // Name and icon of `id`; none when no installed application has that identifier.
    virtual std::optional<DisableableApp> find(const QString& id) const = 0;
};

// The live desktop: the window manager's client list and the desktop entries of the XDG data dirs
// (read again on each listing, so an application installed meanwhile is seen).
class DesktopApplicationDirectory : public ApplicationDirectory {
public:
    DesktopApplicationDirectory();
    ~DesktopApplicationDirectory() override;

    QList<DisableableApp> running() const override;
    QList<DisableableApp> installed() const override;
    std::optional<DisableableApp> find(const QString& id) const override;

private:
    const DesktopEntryIndex& index() const;
    mutable std::unique_ptr<DesktopEntryIndex> m_index;
};

// In one of the built-in groups where Pimsel is always off: adding it to the user's list would
// change nothing.
bool isAlwaysDisabled(const QString& appId);

// By name as the user's language sorts, ignoring case.
void sortByName(QList<DisableableApp>& apps);

// What the "Add app" menu offers from `apps`: one entry per identifier, none that is always
// disabled or already in `disabled`, sorted by name as the user's language sorts, ignoring case.
QList<DisableableApp> appsToOffer(const QList<DisableableApp>& apps, const QSet<QString>& disabled);

} // namespace pimsel
